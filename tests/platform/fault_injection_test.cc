#include "platform/fault_injection.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/environment.h"
#include "platform/file_system.h"
#include "platform/log_file.h"
#include "platform/posix/syscalls.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "platform/win_error.h"
#include "tests/platform/machine_fixture.h"

namespace qz7::platform {
namespace {

namespace fs = std::filesystem;

class FaultInjectionTest : public MachineFixture {
 protected:
  void FreshDataFolder() {
    fs::remove_all(OnC("data"));
    fs::create_directories(OnC("data"));
  }
  // The size of the written file, -1 when it is missing.
  int64_t DataFileSize() const {
    return fs::exists(OnC("data/f.dat")) ? static_cast<int64_t>(fs::file_size(OnC("data/f.dat")))
                                         : -1;
  }
};

// What the disk holds when the sequence stopped at operation n: "hello" reaches the file only
// when the close (operation 3) ran; a failed write or close leaves nothing half-done.
int64_t ExpectedSizeAfterStopAt(int n) { return n == 1 ? -1 : n <= 3 ? 0 : 5; }

struct Outcome {
  int failedStep = 0;  // 0: every step succeeded
  uint32_t error = 0;  // the last error right after the failing step
};

// Writes a file and reads it back; every step is exactly one counted file operation.
Outcome WriteThenRead() {
  Outcome outcome;
  int step = 0;
  auto failed = [&](bool bad) {
    ++step;
    if (bad && outcome.failedStep == 0) outcome = {step, GetLastError()};
    return bad;
  };
  FileHandle out = OpenFile("C:\\DATA\\f.dat", "wb");
  if (failed(out == nullptr)) return outcome;
  if (failed(out->Write("hello", 5) != 5)) return outcome;
  if (failed(out->Close() != 0)) return outcome;
  FileStatus status;
  if (failed(GetFileStatus("C:\\DATA\\F.DAT", &status) != 0 || status.size != 5)) return outcome;
  FileHandle in = OpenFile("C:\\data\\F.dat", "rb");
  if (failed(in == nullptr)) return outcome;
  char buffer[8] = {};
  if (failed(in->Read(buffer, sizeof buffer) != 5 || std::string(buffer) != "hello")) {
    return outcome;
  }
  failed(in->Close() != 0);
  return outcome;
}

constexpr int kSteps = 7;

// Fails each operation in turn, then ends the process at it in a child, as a crash would.
TEST_F(FaultInjectionTest, FailingOrCrashingAtEachOperation) {
  FreshDataFolder();
  ResetFileOperationCount();
  EXPECT_EQ(WriteThenRead().failedStep, 0);
  EXPECT_EQ(FileOperationCount(), static_cast<uint64_t>(kSteps));
  OperationCounts counts = CurrentOperationCounts();
  EXPECT_EQ(counts.Of(OperationKind::kFile), 3u);    // two opens and a status
  EXPECT_EQ(counts.Of(OperationKind::kStream), 4u);  // write, close, read, close
  for (int n = 1; n <= kSteps; ++n) {
    SCOPED_TRACE("operation " + std::to_string(n));
    FreshDataFolder();
    FaultPlan failure;
    failure.triggerAt = static_cast<uint64_t>(n);
    failure.error = kErrorDiskFull;
    SetFaultPlan(failure);
    Outcome outcome = WriteThenRead();
    ClearFaultPlan();
    EXPECT_EQ(outcome.failedStep, n);
    EXPECT_EQ(outcome.error, kErrorDiskFull);
    EXPECT_EQ(DataFileSize(), ExpectedSizeAfterStopAt(n));

    FreshDataFolder();
    FaultPlan crash;
    crash.triggerAt = static_cast<uint64_t>(n);
    crash.crash = true;
    crash.crashExitCode = 86;
    EXPECT_EQ(RunInChild([&] {
                SetFaultPlan(crash);
                WriteThenRead();
                return true;
              }),
              86);
    EXPECT_EQ(DataFileSize(), ExpectedSizeAfterStopAt(n));
  }
}

TEST_F(FaultInjectionTest, PlanFromQz7FaultVariable) {
  struct Row {
    const char* name;
    const char* value;
    const char* outcomes;  // per operation: '.' succeeds, 'F' fails with error; null: refused
    uint32_t error;
  };
  const Row rows[] = {{"FailOnce", "2:112", ".F.", 112},
                      {"FailRepeat", "1:5:repeat", "FFF", 5},
                      {"Crash", "3:crash", "", 0},
                      {"Empty", "", nullptr, 0},
                      {"ZeroOperation", "0:5", nullptr, 0},
                      {"UnknownFlag", "3:5:again", nullptr, 0},
                      {"PowerLoss", "4:powerloss", "...", 0},
                      {"PowerLossFlag", "4:powerloss:repeat", nullptr, 0}};
  for (const Row& row : rows) {
    ClearFaultPlan();
    setenv("QZ7_FAULT", row.value, 1);
    EXPECT_EQ(InstallFaultPlanFromEnvironment(), row.outcomes != nullptr) << row.name;
    unsetenv("QZ7_FAULT");
    if (row.outcomes == nullptr) continue;
    std::string outcomes;
    FileStatus status;
    for (size_t n = 0; n < std::strlen(row.outcomes); ++n) {
      bool ok = GetFileStatus("C:\\", &status) == 0;
      outcomes += ok ? '.' : GetLastError() == row.error ? 'F' : '?';
    }
    EXPECT_EQ(outcomes, row.outcomes) << row.name;
  }
}

// The first operation of each kind fails with the chosen error and the operation's own failure
// result; the second runs as usual; only operations of the plan's kind are numbered.
TEST_F(FaultInjectionTest, FirstOperationOfEachKindFails) {
  constexpr uint32_t kChosen = kErrorWriteFault;
  WriteHostFile(OnC("data/f.dat"), "x");
  ASSERT_TRUE(SetEnvironmentVariableA("QZ7_SEAM_TEST", "on"));
  ASSERT_EQ(RegSetValueExA(LocalMachineKey(), "SEAM", kRegDword,
                           reinterpret_cast<const unsigned char*>("\1\0\0\0"), 4),
            0);
  FileHandle stream = OpenFile("C:\\DATA\\f.dat", "ab");
  ASSERT_NE(stream, nullptr);
  int pipes[2];
  ASSERT_EQ(pipe(pipes), 0);
  // Each operation returns the error it reported, 0 when it succeeded.
  auto lastErrorIf = [](bool failed) { return failed ? GetLastError() : 0u; };
  struct Row {
    const char* name;
    OperationKind kind;
    std::function<uint32_t()> operation;
    uint64_t operations;  // counted by both calls together
  };
  const Row rows[] = {
      {"OpenFile", OperationKind::kFile,
       [&] {
         FileHandle file = OpenFile("C:\\DATA\\f.dat", "rb");
         return lastErrorIf(file == nullptr);  // the close of the handle is not counted
       },
       2},
      {"Status", OperationKind::kFile,
       [&] {
         FileStatus status;
         return lastErrorIf(GetFileStatus("C:\\DATA", &status) != 0);
       },
       2},
      {"Write", OperationKind::kStream,
       [&] { return lastErrorIf(stream->Write("y", 1) != 1 && stream->HasError()); }, 2},
      {"Sync", OperationKind::kStream, [&] { return lastErrorIf(stream->Sync() != 0); }, 2},
      {"LogWrite", OperationKind::kStream,
       [&] {
         uint32_t written = 7;
         return lastErrorIf(!WriteToDescriptor(pipes[1], "z", 1, &written) && written == 0);
       },
       2},
      {"MakeDirectory", OperationKind::kFolder,
       [&] {
         uint32_t error = lastErrorIf(MakeDirectory("C:\\DATA\\SUB") != 0);
         if (error == 0) static_cast<void>(RemoveDirectory("C:\\DATA\\SUB"));
         return error;
       },
       3},
      {"SyncDirectory", OperationKind::kFolder,
       [&] { return lastErrorIf(SyncDirectory("C:\\DATA") != 0); }, 2},
      {"RegistryQuery", OperationKind::kRegistry,
       [&] {
         uint32_t size = 0;
         return static_cast<uint32_t>(
             RegQueryValueExA(LocalMachineKey(), "SEAM", nullptr, nullptr, &size));
       },
       2},
      {"ServiceManager", OperationKind::kService,
       [&] {
         ScHandle manager = OpenSCManagerA(nullptr, nullptr, kScManagerConnect);
         if (manager == nullptr) return GetLastError();
         CloseServiceHandle(manager);
         return 0u;
       },
       3},
      {"Pipe", OperationKind::kProcess,
       [&] {
         PipeHandle readEnd = nullptr, writeEnd = nullptr;
         if (!CreatePipe(&readEnd, &writeEnd)) return GetLastError();
         ClosePipeHandle(readEnd);
         ClosePipeHandle(writeEnd);
         return 0u;
       },
       4},
      {"Environment", OperationKind::kEnvironment,
       [&] {
         char value[8];
         return lastErrorIf(GetEnvironmentVariableA("QZ7_SEAM_TEST", value, sizeof value) != 2);
       },
       2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SetFaultPlan({.triggerAt = 1, .error = kChosen, .kinds = KindBit(row.kind)});
    SetLastError(0);
    EXPECT_EQ(row.operation(), kChosen);
    EXPECT_EQ(row.operation(), 0u);
    OperationCounts counts = CurrentOperationCounts();
    ClearFaultPlan();
    EXPECT_EQ(counts.Of(row.kind), row.operations);
    EXPECT_EQ(counts.Total(), row.operations) << OperationKindName(row.kind);
  }
  EXPECT_EQ(stream->Close(), 0);
  close(pipes[0]);
  close(pipes[1]);
  EXPECT_EQ(ReadHostFile(OnC("data/f.dat")), "xy");  // the failed write added nothing
}

// ---- Power cuts ----

// What a step sequence leaves after a power cut right behind it, in a forked child.
TEST_F(FaultInjectionTest, PowerCutKeepsOnlyWhatWasSynced) {
  auto writeFile = [](const char* path, const char* text, bool sync) {
    FileHandle file = OpenFile(path, "wb");
    if (file == nullptr || file->PutText(text) != 0) return false;
    if (sync && file->Sync() != 0) return false;
    return file->Close() == 0;
  };
  const char* kOld = "C:\\DATA\\old.dat";  // holds "old" before each row
  struct Row {
    const char* name;
    std::function<bool()> steps;
    const char* oldAfter;  // null: missing
    const char* newAfter;  // C:\DATA\new.dat; null: missing
  };
  const Row rows[] = {
      {"UnsyncedOverwriteIsLost", [&] { return writeFile(kOld, "changed", false); }, "old",
       nullptr},
      {"SyncedOverwriteStays", [&] { return writeFile(kOld, "changed", true); }, "changed",
       nullptr},
      {"UnsyncedNewFileIsGone", [&] { return writeFile("C:\\DATA\\new.dat", "n", false); }, "old",
       nullptr},
      {"NewFileWithoutFolderSyncIsGone", [&] { return writeFile("C:\\DATA\\new.dat", "n", true); },
       "old", nullptr},
      {"NewFileSyncedWithItsFolderStays",
       [&] { return writeFile("C:\\DATA\\new.dat", "n", true) && SyncDirectory("C:\\DATA") == 0; },
       "old", "n"},
      {"RenameWithoutFolderSyncIsUndone",
       [&] { return RenameFile(kOld, "C:\\DATA\\new.dat") == 0; }, "old", nullptr},
      {"RenameWithFolderSyncStays",
       [&] { return RenameFile(kOld, "C:\\data\\new.dat") == 0 && SyncDirectory("C:\\DATA") == 0; },
       nullptr, "old"},
      {"ReplaceWithoutFolderSyncIsUndone",
       [&] {
         return writeFile("C:\\DATA\\new.dat", "replacement", true) &&
                ReplaceFile("C:\\DATA\\new.dat", kOld) == 0;
       },
       "old", nullptr},
      {"ReplaceWithFolderSyncStays",
       [&] {
         return writeFile("C:\\DATA\\new.dat", "replacement", true) &&
                ReplaceFile("C:\\DATA\\new.dat", kOld) == 0 && SyncDirectory("C:\\DATA") == 0;
       },
       "replacement", nullptr},
      {"RemoveWithoutFolderSyncIsUndone", [&] { return RemoveFile(kOld) == 0; }, "old", nullptr},
      {"RemoveWithFolderSyncStays",
       [&] { return RemoveFile(kOld) == 0 && SyncDirectory("C:\\DATA") == 0; }, nullptr, nullptr},
      {"CopyAndWholeSyncStays",
       [&] {
         return CopyFileA(kOld, "C:\\DATA\\new.dat", true) && writeFile(kOld, "2", false) &&
                SyncFileSystem() == 0;
       },
       "2", "old"},
      {"UnsyncedCopyIsGone", [&] { return CopyFileA(kOld, "C:\\DATA\\new.dat", true); }, "old",
       nullptr},
      // A copy synced afterwards by its path, or through a stream open for reading only.
      {"CopySyncedByPathWithItsFolderStays",
       [&] {
         return CopyFileA(kOld, "C:\\DATA\\new.dat", true) && SyncFile("C:\\DATA\\new.dat") == 0 &&
                SyncDirectory("C:\\DATA") == 0;
       },
       "old", "old"},
      {"CopySyncedThroughAReadStreamStays",
       [&] {
         if (!CopyFileA(kOld, "C:\\DATA\\new.dat", true)) return false;
         FileHandle reader = OpenFile("C:\\DATA\\new.dat", "rb");
         return reader != nullptr && reader->Sync() == 0 && reader->Close() == 0 &&
                SyncDirectory("C:\\DATA") == 0;
       },
       "old", "old"},
  };
  auto contents = [&](const char* name) -> std::string {
    std::string host = OnC(std::string("data/") + name);
    return fs::exists(host) ? ReadHostFile(host) : "<missing>";
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FreshDataFolder();
    WriteHostFile(OnC("data/old.dat"), "old");
    // Only the environment read at the end is numbered: the cut comes right after the steps.
    EXPECT_EQ(RunInChild([&] {
                SetFaultPlan({.triggerAt = 1,
                              .crashExitCode = 87,
                              .powerLoss = true,
                              .kinds = KindBit(OperationKind::kEnvironment)});
                if (!row.steps()) return false;
                char value[8];
                static_cast<void>(GetEnvironmentVariableA("PATH", value, sizeof value));
                return false;
              }),
              87);
    EXPECT_EQ(contents("old.dat"), row.oldAfter ? row.oldAfter : "<missing>");
    EXPECT_EQ(contents("new.dat"), row.newAfter ? row.newAfter : "<missing>");
  }
  // A folder made without a sync of its parent disappears with what was written in it.
  FreshDataFolder();
  EXPECT_EQ(RunInChild([&] {
              SetFaultPlan({.triggerAt = 4, .crashExitCode = 87, .powerLoss = true});
              static_cast<void>(MakeDirectory("C:\\DATA\\SUB"));
              writeFile("C:\\DATA\\SUB\\f.dat", "f", true);  // open, write, sync, close
              return false;
            }),
            87);
  EXPECT_TRUE(fs::exists(OnC("data")));
  EXPECT_FALSE(fs::exists(OnC("data/SUB")));
}

TEST_F(FaultInjectionTest, SyncContracts) {
  FreshDataFolder();
  WriteHostFile(OnC("data/f.dat"), "x");
  const struct {
    const char* path;
    int result;
    uint32_t error;
  } rows[] = {{"C:\\DATA", 0, 0},
              {"C:\\", 0, 0},
              {"C:\\DATA\\f.dat", -1, kErrorDirectory},
              {"C:\\MISSING", -1, kErrorFileNotFound},
              {"C:\\MISSING\\SUB", -1, kErrorPathNotFound}};
  for (const auto& row : rows) {
    SetLastError(0);
    EXPECT_EQ(SyncDirectory(row.path), row.result) << row.path;
    if (row.result != 0) {
      EXPECT_EQ(GetLastError(), row.error) << row.path;
    }
  }
  EXPECT_EQ(SyncFileSystem(), 0);
}

// ---- The syscall table ----

TEST_F(FaultInjectionTest, SyscallFailuresArriveAsWindowsErrors) {
  WriteHostFile(OnC("source.dat"), "abc");
  {
    posix::ScopedSyscallOverride scope;
    scope.table().write = [](int, const void*, size_t) -> ssize_t {
      errno = ENOSPC;
      return -1;
    };
    scope.table().copyFileRange = [](int, int, size_t) -> ssize_t {
      errno = ENOSPC;
      return -1;
    };
    FileHandle file = OpenFile("C:\\full.dat", "wb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Write("abc", 3), 3u);  // buffered: the disk is not touched yet
    EXPECT_EQ(file->Close(), -1);
    EXPECT_EQ(GetLastError(), kErrorDiskFull);
    EXPECT_FALSE(CopyFileA("C:\\source.dat", "C:\\copy.dat", false));
    EXPECT_EQ(GetLastError(), kErrorDiskFull);
    EXPECT_FALSE(fs::exists(OnC("copy.dat")));  // no half-written copy
  }
  {
    posix::ScopedSyscallOverride scope;
    scope.table().fsync = [](int) {
      errno = EIO;
      return -1;
    };
    FileHandle file = OpenFile("C:\\synced.dat", "wb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Write("abc", 3), 3u);
    EXPECT_EQ(file->Sync(), -1);
    EXPECT_TRUE(file->HasError());
    EXPECT_EQ(ReadHostFile(OnC("synced.dat")), "abc");  // flushed before the sync failed
    EXPECT_EQ(SyncDirectory("C:\\"), -1);
  }
  EXPECT_TRUE(CopyFileA("C:\\source.dat", "C:\\copy.dat", false));  // the table is restored
}

}  // namespace
}  // namespace qz7::platform
