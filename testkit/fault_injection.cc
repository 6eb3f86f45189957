// The fault wrapper: a platform table whose every row counts itself, applies the fault plan and
// then calls the backend's table, keeping the power-cut bookkeeping (power_loss.cc) of the rows
// that change files. Put in force by the first call of a function of fault_injection.h.
#include "testkit/fault_injection.h"

#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/win_error.h"
#include "testkit/power_loss.h"

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace qz7::platform {
namespace {

std::mutex planMutex;
FaultPlan activePlan;
std::atomic<bool> planActive{false};
std::atomic<uint64_t> kindCounts[kOperationKindCount];
std::atomic<uint64_t> plannedCount{0};  // operations of the plan's kinds

void Install();

void ResetCounts() {
  for (auto& count : kindCounts) count = 0;
  plannedCount = 0;
}

// Parses a field made only of decimal digits. False on an empty or overlong field.
bool ParseNumber(const std::string& text, uint64_t* value) {
  const char* end = text.data() + text.size();
  return !text.empty() && text.size() <= 19 && std::from_chars(text.data(), end, *value).ptr == end;
}

constexpr const char* kJournalVariable = "QZ7_POWER_JOURNAL";

// Made on first use, as CountsFile below.
std::string& JournalFile() {
  static std::string file;
  return file;
}

// Made on first use: the test build of the tool reads its plan before main, when this file's
// objects that need a constructor may not be made yet.
std::string& CountsFile() {
  static std::string file;
  return file;
}

void AppendCountsAtExit() {
  static const char* const kNames[kOperationKindCount] = {
      "file", "stream", "folder", "registry", "service", "process", "environment"};
  std::FILE* out = std::fopen(CountsFile().c_str(), "a");
  if (out == nullptr) return;
  OperationCounts counts = CurrentOperationCounts();
  for (int kind = 0; kind < kOperationKindCount; ++kind) {
    std::fprintf(out, "%s%s=%llu", kind == 0 ? "" : " ", kNames[kind],
                 static_cast<unsigned long long>(counts.byKind[kind]));
  }
  std::fputc('\n', out);
  std::fclose(out);
}

}  // namespace

uint64_t OperationCounts::Total() const {
  uint64_t total = 0;
  for (uint64_t count : byKind) total += count;
  return total;
}

void SetFaultPlan(const FaultPlan& plan) {
  Install();
  std::lock_guard<std::mutex> lock(planMutex);
  activePlan = plan;
  ResetCounts();
  planActive = plan.triggerAt != 0;
  if (planActive && plan.powerLoss) {
    durability::Start();
#if !defined(_WIN32)
    // The instance tools' test builds started from here track their own changes and hand
    // them back through this file (TrackForParentFromEnvironment).
    const std::string journal =
        (std::filesystem::temp_directory_path() / ("qz7-power-journal-" + std::to_string(getpid())))
            .string();
    durability::TakeChildrenFrom(journal);
    setenv(kJournalVariable, journal.c_str(), 1);
#endif
  } else {
    durability::Stop();
#if !defined(_WIN32)
    unsetenv(kJournalVariable);
#endif
  }
}

bool TrackForParentFromEnvironment() {
  const char* journal = std::getenv(kJournalVariable);
  if (journal == nullptr || *journal == '\0') return false;
  Install();
  JournalFile() = journal;
  durability::Start();
  std::atexit([] { durability::AppendTo(JournalFile()); });
  return true;
}

void ClearFaultPlan() { SetFaultPlan(FaultPlan{}); }

OperationCounts CurrentOperationCounts() {
  OperationCounts counts;
  for (int kind = 0; kind < kOperationKindCount; ++kind) counts.byKind[kind] = kindCounts[kind];
  return counts;
}

void ResetFileOperationCount() {
  Install();
  ResetCounts();
}

bool InstallFaultPlanFromEnvironment() {
  Install();
  const char* counts = std::getenv("QZ7_OPERATION_COUNTS");
  if (counts != nullptr && *counts != '\0' && CountsFile().empty()) {
    CountsFile() = counts;
    std::atexit(AppendCountsAtExit);
  }
  const char* text = std::getenv("QZ7_FAULT");
  if (text == nullptr || *text == '\0') return false;
  std::vector<std::string> fields;
  std::istringstream parts(std::string(text) + ":");
  for (std::string field; std::getline(parts, field, ':');) fields.push_back(field);
  if (fields.size() < 2 || fields.size() > 3) return false;

  FaultPlan plan;
  plan.kinds = kAllOperationKinds;
  if (!ParseNumber(fields[0], &plan.triggerAt) || plan.triggerAt == 0) return false;
  if (fields[1] == "crash" || fields[1] == "powerloss" || fields[1] == "powerloss-names") {
    if (fields.size() != 2) return false;
    (fields[1] == "crash" ? plan.crash : plan.powerLoss) = true;
    plan.namesKept = fields[1] == "powerloss-names";
  } else {
    uint64_t error = 0;
    if (!ParseNumber(fields[1], &error) || error == 0 || error > 0xFFFFFFFFu) return false;
    plan.error = static_cast<uint32_t>(error);
    if (fields.size() == 3) {
      if (fields[2] != "repeat") return false;
      plan.repeat = true;
    }
  }
  SetFaultPlan(plan);
  return true;
}

namespace {

// Counts one operation of the kind and applies the fault plan: 0 to go on, or the Windows
// error the operation must report (the last error is already set). A crash or power-cut plan
// ends the process here instead of returning.
uint32_t Enter(OperationKind kind) {
  ++kindCounts[static_cast<int>(kind)];
  if (!planActive) return 0;
  FaultPlan plan;
  {
    std::lock_guard<std::mutex> lock(planMutex);
    plan = activePlan;
  }
  if ((plan.kinds & KindBit(kind)) == 0) return 0;
  uint64_t number = ++plannedCount;
  bool hit = plan.repeat ? number >= plan.triggerAt : number == plan.triggerAt;
  if (!hit) return 0;
  // A crash leaves no trace: no destructors, no atexit handlers, no buffered data written.
  if (plan.crash) std::_Exit(plan.crashExitCode);
  if (plan.powerLoss) {
    const auto model = plan.namesKept ? durability::CutModel::kNamesKeptDataLost
                                      : durability::CutModel::kUndoUnsynced;
    durability::CutPower(model);
    std::_Exit(plan.crashExitCode);
  }
  uint32_t error = plan.error != 0 ? plan.error : kErrorGenFailure;
  SetLastError(error);
  return error;
}

// The table below the wrapper.
const PlatformTable& Next() { return BackendTable(); }

std::atomic<bool> syncsReachDisk{true};

using Native = FileStream::Native;
using OperationKind::kFile;
using OperationKind::kFolder;
using OperationKind::kStream;

// ---- The rows the wrapper treats in their own way (gate Custom in operations.inc) ----------

bool OpensForWriting(const char* mode) {
  return mode[0] == 'w' || mode[0] == 'a' || std::strchr(mode, '+') != nullptr;
}

Native* WrapOpenFile(const char* path, const char* mode) {
  if (Enter(kFile) != 0) return nullptr;
  const bool writing = path != nullptr && mode != nullptr && OpensForWriting(mode);
  if (writing) durability::BeforeChange(path);
  Native* stream = Next().OpenFile(path, mode);
  if (stream == nullptr) return nullptr;
  if (writing) {
    durability::AfterOpenForWrite(stream, path);
  } else {
    durability::AfterOpenForRead(stream, path);
  }
  return stream;
}

int WrapStreamSync(Native* stream) {
  if (Enter(kStream) != 0) return Next().StreamSetError(stream), -1;
  const int synced = syncsReachDisk ? Next().StreamSync(stream) : Next().StreamFlush(stream);
  if (synced != 0) return -1;
  durability::AfterStreamSync(stream);
  return 0;
}

int WrapStreamClose(Native* stream) {
  durability::ForgetStream(stream);
  if (Enter(kStream) != 0) {
    // A failed close loses what was still buffered.
    Next().StreamDiscard(stream);
    return -1;
  }
  return Next().StreamClose(stream);
}

int WrapStreamRelease(Native* stream) {
  durability::ForgetStream(stream);
  return Next().StreamRelease(stream);
}

// RemoveFile, MakeDirectory and RemoveDirectory: one counted change of path, its bookkeeping
// around the backend's call.
int ChangePath(OperationKind kind, int (*change)(const char*), void (*after)(const char*),
               const char* path) {
  if (Enter(kind) != 0) return -1;
  if (path != nullptr) durability::BeforeChange(path);
  if (change(path) != 0) return -1;
  after(path);
  return 0;
}

int WrapRemoveFile(const char* path) {
  return ChangePath(kFile, Next().RemoveFile, durability::AfterRemove, path);
}

// RenameFile and ReplaceFile: one counted move, its bookkeeping around the backend's move.
int Move(int (*move)(const char*, const char*), const char* from, const char* to) {
  if (Enter(kFile) != 0) return -1;
  if (from != nullptr && to != nullptr) {
    durability::BeforeChange(from);
    durability::BeforeChange(to);
  }
  if (move(from, to) != 0) return -1;
  durability::AfterMove(from, to);
  return 0;
}

int WrapRenameFile(const char* from, const char* to) { return Move(Next().RenameFile, from, to); }

int WrapReplaceFile(const char* from, const char* to) { return Move(Next().ReplaceFile, from, to); }

// CopyFileA and FolderCopy's copies: one counted copy to the path to, its bookkeeping around
// the backend's copy.
bool Copy(const char* to, const std::function<bool()>& copy) {
  if (Enter(kFile) != 0) return false;
  if (to != nullptr) durability::BeforeChange(to);
  if (!copy()) return false;
  durability::AfterCopy(to);
  return true;
}

bool WrapCopyFileA(const char* existingFile, const char* newFile, bool failIfExists) {
  return Copy(newFile, [&] { return Next().CopyFileA(existingFile, newFile, failIfExists); });
}

bool WrapCopyFileBetween(FolderCopy::Native* copy, const char* name, const char* fromPath,
                         const char* toPath) {
  return Copy(toPath, [&] { return Next().CopyFileBetween(copy, name, fromPath, toPath); });
}

int WrapMakeDirectory(const char* path) {
  return ChangePath(kFolder, Next().MakeDirectory, durability::AfterMakeDirectory, path);
}

int WrapRemoveDirectory(const char* path) {
  return ChangePath(kFolder, Next().RemoveDirectory, durability::AfterRemove, path);
}

int WrapSyncDirectory(const char* path) {
  if (Enter(kFolder) != 0) return -1;
  if (syncsReachDisk) {
    if (Next().SyncDirectory(path) != 0) return -1;
  } else {
    FileStatus status;
    if (path == nullptr || Next().GetFileStatus(path, &status) != 0) return -1;
    if (!status.isDirectory) return SetLastError(kErrorDirectory), -1;
  }
  durability::AfterSyncDirectory(path);
  return 0;
}

int WrapSyncFileSystem() {
  if (Enter(kFolder) != 0) return -1;
  if (syncsReachDisk && Next().SyncFileSystem() != 0) return -1;
  durability::AfterSyncFileSystem();
  durability::AfterStoresFlushed();
  return 0;
}

// A failed transfer reports nothing moved.
template <typename Handle, typename Data>
bool Transfer(OperationKind kind, bool (*transfer)(Handle, Data, uint32_t, uint32_t*),
              Handle handle, Data data, uint32_t size, uint32_t* done) {
  if (Enter(kind) != 0) {
    if (done != nullptr) *done = 0;
    return false;
  }
  return transfer(handle, data, size, done);
}

bool WrapReadFile(PipeHandle pipe, void* buffer, uint32_t size, uint32_t* bytesRead) {
  return Transfer(OperationKind::kProcess, Next().ReadFile, pipe, buffer, size, bytesRead);
}

bool WrapWriteFile(PipeHandle pipe, const void* data, uint32_t size, uint32_t* bytesWritten) {
  return Transfer(OperationKind::kProcess, Next().WriteFile, pipe, data, size, bytesWritten);
}

bool WrapWriteToDescriptor(LogHandle fd, const void* data, uint32_t size, uint32_t* written) {
  return Transfer(kStream, Next().WriteToDescriptor, fd, data, size, written);
}

// ---- Every other row, made from operations.inc by its gate ---------------------------------

#define QZ7_GATE_Before(type, name, parameters, arguments, kind, failure)  \
  type Wrap##name parameters {                                             \
    if (const uint32_t error = Enter(OperationKind::kind)) return failure; \
    return Next().name arguments;                                          \
  }
#define QZ7_GATE_Mark(type, name, parameters, arguments, kind, failure) \
  type Wrap##name parameters {                                          \
    if (Enter(OperationKind::kind) != 0) {                              \
      Next().StreamSetError(stream);                                    \
      return failure;                                                   \
    }                                                                   \
    return Next().name arguments;                                       \
  }
#define QZ7_GATE_Release(type, name, parameters, arguments, kind, failure) \
  type Wrap##name parameters {                                             \
    const uint32_t error = Enter(OperationKind::kind);                     \
    type result = Next().name arguments;                                   \
    if (error == 0) return result;                                         \
    SetLastError(error);                                                   \
    return failure;                                                        \
  }
// A row that may change the registry's or the service table's file: a Before row that first
// tells the power-cut bookkeeping.
#define QZ7_GATE_StoreChange(store, type, name, parameters, arguments, kind, failure) \
  type Wrap##name parameters {                                                        \
    if (const uint32_t error = Enter(OperationKind::kind)) return failure;            \
    durability::BeforeStoreChange(durability::Store::store);                          \
    return Next().name arguments;                                                     \
  }
#define QZ7_GATE_Registry(type, name, parameters, arguments, kind, failure) \
  QZ7_GATE_StoreChange(kRegistry, type, name, parameters, arguments, kind, failure)
#define QZ7_GATE_Services(type, name, parameters, arguments, kind, failure) \
  QZ7_GATE_StoreChange(kServices, type, name, parameters, arguments, kind, failure)
// The flush of the stores (RegFlushKey): a Before row whose success makes both durable.
#define QZ7_GATE_StoreFlush(type, name, parameters, arguments, kind, failure) \
  type Wrap##name parameters {                                                \
    if (const uint32_t error = Enter(OperationKind::kind)) return failure;    \
    const type result = Next().name arguments;                                \
    if (result == 0) durability::AfterStoresFlushed();                        \
    return result;                                                            \
  }
#define QZ7_GATE_Free(type, name, parameters, arguments, kind, failure) \
  type Wrap##name parameters { return Next().name arguments; }
#define QZ7_GATE_Custom(type, name, parameters, arguments, kind, failure)
#define QZ7_OPERATION(caller, type, name, parameters, arguments, kind, gate, failure) \
  QZ7_GATE_##gate(type, name, parameters, arguments, kind, failure)
#include "platform/operations.inc"
#undef QZ7_OPERATION

constexpr PlatformTable kFaultTable = {
#define QZ7_OPERATION(caller, type, name, parameters, arguments, kind, gate, failure) &Wrap##name,
#include "platform/operations.inc"
#undef QZ7_OPERATION
};

// Puts the wrapper in force (again: a test may have put another table in force).
void Install() { InstallPlatformTable(&kFaultTable); }

}  // namespace

void SetSyncsReachDisk(bool reach) {
  Install();
  syncsReachDisk = reach;
}

}  // namespace qz7::platform
