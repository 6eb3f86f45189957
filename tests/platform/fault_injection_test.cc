#include "platform/fault_injection.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "platform/file_system.h"
#include "platform/posix/syscalls.h"
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
  const Row rows[] = {
      {"FailOnce", "2:112", ".F.", 112},    {"FailRepeat", "1:5:repeat", "FFF", 5},
      {"Crash", "3:crash", "", 0},          {"Empty", "", nullptr, 0},
      {"ZeroOperation", "0:5", nullptr, 0}, {"UnknownFlag", "3:5:again", nullptr, 0}};
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

// ---- The syscall table ----

TEST_F(FaultInjectionTest, SyscallFailuresArriveAsWindowsErrors) {
  WriteHostFile(OnC("source.dat"), "abc");
  {
    posix::ScopedSyscallOverride scope;
    scope.table().write = [](int, const void*, size_t) -> ssize_t {
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
  EXPECT_TRUE(CopyFileA("C:\\source.dat", "C:\\copy.dat", false));  // the table is restored
}

}  // namespace
}  // namespace qz7::platform
