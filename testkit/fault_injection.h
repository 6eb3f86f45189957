// The fault seam of the tests: a wrapper around the platform table (platform_table.h), put in
// force by the first call of this header's functions. Every operation the library makes on the
// outside world (files, streams, folders, the registry, the service table, child processes and
// pipes, the environment, the computer's name and drives, the caller's log file) then passes
// the wrapper, which counts it by kind before handing it to the backend's table. A plan can make
// the N-th counted operation fail with a chosen Windows error (the last error set, the operation's
// usual failure result returned), end the process at it the way a crash would (_exit: no
// destructors, buffered data not written), or end it as a power cut: every file write, name
// change or removal not yet made durable by a sync is undone first, then the process ends.
//
// Power-cut rules (what "durable" means here):
//   - A file's data is durable up to its last FileStream::Sync (through any stream on it, one
//     open only for reading too, as SyncFile may use) or SyncFileSystem. A file that existed
//     before the plan was set counts as synced with the contents it had then.
//   - A name (a file created, renamed or replaced onto, removed; a folder made or removed) is
//     durable once its folder is synced with SyncDirectory (or SyncFileSystem). Until then the
//     change is undone: a removed file comes back with its durable data, a renamed one returns
//     to its old name, a replaced one to its old contents, a new file or folder disappears.
//   - A file whose data was never synced disappears even when its name was made durable.
//   - A folder rename is one change of both names, durable once the folder of its new name
//     is synced (or SyncFileSystem); until then the cut puts the folder back under its old
//     name with everything it holds (data synced in it since stays synced).
//   - Registry and service changes are durable when their call returns (the stores sync
//     themselves), and writes to the caller's log descriptor are not tracked.
// A plan with namesKept cuts the power the other way a journaling file system can: every change
// of a name is kept, synced or not, while a file's data not synced since its last write is lost
// (the file keeps its name with its last synced data, or is left empty: a zero-length file).
// Tracking starts with SetFaultPlan of a power-cut plan and costs a copy of each file written
// while it runs. The shipped library and tool carry none of this: the names stay in the
// platform namespace only so that tests read as the operations they wrap.
#ifndef QZ7_TESTKIT_FAULT_INJECTION_H_
#define QZ7_TESTKIT_FAULT_INJECTION_H_

#include <cstdint>

#include "platform/platform_table.h"

namespace qz7::platform {

constexpr uint32_t KindBit(OperationKind kind) { return 1u << static_cast<int>(kind); }
constexpr uint32_t kAllOperationKinds = (1u << kOperationKindCount) - 1;
// The file kinds, for a plan that is to number only what touches files.
constexpr uint32_t kFileOperationKinds = KindBit(OperationKind::kFile) |
                                         KindBit(OperationKind::kStream) |
                                         KindBit(OperationKind::kFolder);

struct FaultPlan {
  uint64_t triggerAt = 0;  // 1-based number of the operation to hit; 0 = no fault
  uint32_t error = 0;      // Windows error to report when failing
  bool crash = false;      // end the process instead of failing
  bool repeat = false;     // keep failing every operation from triggerAt on
  int crashExitCode = 86;  // the exit status a crash or a power cut leaves
  bool powerLoss = false;  // end the process as a power cut (see above) instead of failing
  // With powerLoss: the harsher cut, where every change of a name survives but data written
  // since a file's last sync is lost (the file is left with its synced data, or empty).
  bool namesKept = false;
  uint32_t kinds = kAllOperationKinds;  // KindBit mask: only these are numbered for triggerAt
};

// Installs the plan and resets every count. A power-cut plan also starts durability tracking.
void SetFaultPlan(const FaultPlan& plan);
void ClearFaultPlan();

struct OperationCounts {
  uint64_t byKind[kOperationKindCount] = {};
  uint64_t Of(OperationKind kind) const { return byKind[static_cast<int>(kind)]; }
  uint64_t Total() const;
};
// Operations counted since the last SetFaultPlan/ClearFaultPlan/ResetFileOperationCount; a
// plan numbers those of its kinds (kFileOperationKinds: file, stream and folder).
OperationCounts CurrentOperationCounts();
void ResetFileOperationCount();

// Reads QZ7_FAULT from the environment: "N:crash", "N:powerloss", "N:powerloss-names" (the
// cut of namesKept), "N:ERROR" (fail once with
// ERROR) or "N:ERROR:repeat", N numbering operations of every kind. Lets end-to-end tests
// drive the test build of the tool (qz7inst_test) the same way. False when
// unset or malformed. Also honours QZ7_OPERATION_COUNTS=<host file>: at process exit, one line
// "file=N stream=N folder=N registry=N service=N process=N environment=N" is appended to it.
[[nodiscard]] bool InstallFaultPlanFromEnvironment();

// For the instance tools' test builds: when QZ7_POWER_JOURNAL names a file (a process under a
// power-cut plan sets it for the programs it starts, on POSIX), puts the wrapper in force and
// tracks what this process changes, which is appended to that file at exit; the parent's
// power cut then treats those changes as its own. False when the variable is unset.
bool TrackForParentFromEnvironment();

// While off, a sync (FileStream::Sync, SyncDirectory, SyncFileSystem) reaches the wrapper's
// power-cut bookkeeping but not the disk: a stream is only flushed, a folder only looked up.
// For the fuzz targets, whose inputs would otherwise spend their time in syncs; the loops run
// with real syncs on a machine in memory. On until called with false; ClearFaultPlan leaves
// the setting as it is.
void SetSyncsReachDisk(bool reach);

}  // namespace qz7::platform

#endif  // QZ7_TESTKIT_FAULT_INJECTION_H_
