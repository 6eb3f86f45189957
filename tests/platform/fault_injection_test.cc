#include "platform/fault_injection.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/file_system.h"
#include "platform/posix/error_mapping.h"
#include "platform/posix/syscalls.h"
#include "platform/win_error.h"
#include "tests/platform/machine_fixture.h"

namespace qz7::platform {
namespace {

namespace fs = std::filesystem;

class FaultInjectionTest : public MachineFixture {};

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
    if (bad && outcome.failedStep == 0) {
      outcome.failedStep = step;
      outcome.error = GetLastError();
    }
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

TEST_F(FaultInjectionTest, SequenceCountsOneOperationPerStep) {
  fs::create_directories(OnC("data"));
  ResetFileOperationCount();
  Outcome outcome = WriteThenRead();
  EXPECT_EQ(outcome.failedStep, 0);
  EXPECT_EQ(FileOperationCount(), static_cast<uint64_t>(kSteps));
}

TEST_F(FaultInjectionTest, FailingEachOperationInTurn) {
  for (int n = 1; n <= kSteps; ++n) {
    SCOPED_TRACE("failing operation " + std::to_string(n));
    fs::remove_all(OnC("data"));
    fs::create_directories(OnC("data"));
    FaultPlan plan;
    plan.triggerAt = static_cast<uint64_t>(n);
    plan.error = kErrorDiskFull;
    SetFaultPlan(plan);
    Outcome outcome = WriteThenRead();
    EXPECT_EQ(outcome.failedStep, n);
    EXPECT_EQ(outcome.error, kErrorDiskFull);
    // A failed write or close loses the buffered bytes: nothing half-done reaches the disk.
    EXPECT_EQ(fs::exists(OnC("data/f.dat")), n > 1);
    if (n == 2 || n == 3) {
      EXPECT_EQ(fs::file_size(OnC("data/f.dat")), 0u);
    }
    ClearFaultPlan();
    // The plan hits once: the same sequence then runs through.
    fs::remove_all(OnC("data"));
    fs::create_directories(OnC("data"));
    EXPECT_EQ(WriteThenRead().failedStep, 0);
  }
}

TEST_F(FaultInjectionTest, RepeatKeepsFailing) {
  fs::create_directories(OnC("data"));
  FaultPlan plan;
  plan.triggerAt = 2;
  plan.error = kErrorAccessDenied;
  plan.repeat = true;
  SetFaultPlan(plan);
  FileStatus status;
  EXPECT_EQ(GetFileStatus("C:\\DATA", &status), 0);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(GetFileStatus("C:\\DATA", &status), -1);
    EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  }
  EXPECT_EQ(MakeDirectory("C:\\DATA\\X"), -1);
  EXPECT_FALSE(fs::exists(OnC("data/X")));
}

// Ends the process at each operation in turn, in a child, as a crash would.
TEST_F(FaultInjectionTest, CrashAtEachOperationLeavesNoBufferedData) {
  for (int n = 1; n <= kSteps; ++n) {
    SCOPED_TRACE("crashing at operation " + std::to_string(n));
    fs::remove_all(OnC("data"));
    fs::create_directories(OnC("data"));
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      FaultPlan plan;
      plan.triggerAt = static_cast<uint64_t>(n);
      plan.crash = true;
      plan.crashExitCode = 86;
      SetFaultPlan(plan);
      WriteThenRead();
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 86);
    bool exists = fs::exists(OnC("data/f.dat"));
    EXPECT_EQ(exists, n > 1);
    // Until the close (operation 3) ran, "hello" was only in the stream's buffer.
    if (exists) {
      EXPECT_EQ(fs::file_size(OnC("data/f.dat")), n <= 3 ? 0u : 5u);
    }
  }
}

struct EnvironmentPlanCase {
  const char* name;
  const char* value;
  bool accepted;
  uint64_t failsAt;  // for an accepted error plan: the first failing operation
  uint32_t error;
  bool repeats;
};

const EnvironmentPlanCase kEnvironmentPlans[] = {
    {"FailOnce", "2:112", true, 2, 112, false},
    {"FailRepeat", "1:5:repeat", true, 1, 5, true},
    {"Crash", "3:crash", true, 0, 0, false},
    {"Empty", "", false, 0, 0, false},
    {"NoError", "3", false, 0, 0, false},
    {"ZeroOperation", "0:5", false, 0, 0, false},
    {"ZeroError", "3:0", false, 0, 0, false},
    {"NotANumber", "x:5", false, 0, 0, false},
    {"CrashWithRepeat", "3:crash:repeat", false, 0, 0, false},
    {"UnknownFlag", "3:5:again", false, 0, 0, false},
    {"TooManyFields", "3:5:repeat:1", false, 0, 0, false},
};

class EnvironmentPlanTest : public FaultInjectionTest,
                            public ::testing::WithParamInterface<EnvironmentPlanCase> {};

TEST_P(EnvironmentPlanTest, ParsesQz7Fault) {
  const EnvironmentPlanCase& c = GetParam();
  setenv("QZ7_FAULT", c.value, 1);
  bool accepted = InstallFaultPlanFromEnvironment();
  unsetenv("QZ7_FAULT");
  EXPECT_EQ(accepted, c.accepted);
  if (!accepted || c.failsAt == 0) return;
  FileStatus status;
  for (uint64_t n = 1; n <= c.failsAt + 1; ++n) {
    bool shouldFail = n == c.failsAt || (c.repeats && n > c.failsAt);
    EXPECT_EQ(GetFileStatus("C:\\", &status), shouldFail ? -1 : 0) << "operation " << n;
    if (shouldFail) {
      EXPECT_EQ(GetLastError(), c.error);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Table, EnvironmentPlanTest, ::testing::ValuesIn(kEnvironmentPlans),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- The syscall table and the errno mapping ----

TEST_F(FaultInjectionTest, SyscallFailuresArriveAsWindowsErrors) {
  WriteHostFile(OnC("source.dat"), "abc");
  posix::ScopedSyscallOverride scope;
  scope.table().write = [](int, const void*, size_t) -> ssize_t {
    errno = ENOSPC;
    return -1;
  };
  scope.table().unlink = [](const char*) {
    errno = EROFS;
    return -1;
  };
  FileHandle file = OpenFile("C:\\full.dat", "wb");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->Write("abc", 3), 3u);  // buffered: the disk is not touched yet
  EXPECT_EQ(file->Close(), -1);
  EXPECT_EQ(GetLastError(), kErrorDiskFull);
  EXPECT_EQ(RemoveFile("C:\\full.dat"), -1);
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  scope.table().unlink = posix::DefaultSyscalls().unlink;
  EXPECT_FALSE(CopyFileA("C:\\source.dat", "C:\\copy.dat", false));
  EXPECT_EQ(GetLastError(), kErrorDiskFull);
  EXPECT_FALSE(std::filesystem::exists(OnC("copy.dat")));  // no half-written copy
}

TEST_F(FaultInjectionTest, SyscallTableIsRestored) {
  {
    posix::ScopedSyscallOverride scope;
    scope.table().open = [](const char*, int, mode_t) {
      errno = EMFILE;
      return -1;
    };
    EXPECT_EQ(OpenFile("C:\\x", "wb"), nullptr);
    EXPECT_EQ(GetLastError(), kErrorTooManyOpenFiles);
  }
  FileHandle file = OpenFile("C:\\x", "wb");
  EXPECT_NE(file, nullptr);
}

struct MappingCase {
  const char* name;
  int error;
  const char* hostRelative;  // below the machine root, or null
  posix::ErrnoContext context;
  uint32_t expected;
};

const MappingCase kMappingCases[] = {
    {"MissingFile", ENOENT, "drives/c/none", posix::ErrnoContext::kFile, kErrorFileNotFound},
    {"MissingFolder", ENOENT, "drives/c/no/none", posix::ErrnoContext::kFile, kErrorPathNotFound},
    {"FileExists", EEXIST, nullptr, posix::ErrnoContext::kFile, kErrorFileExists},
    {"DirectoryExists", EEXIST, nullptr, posix::ErrnoContext::kDirectory, kErrorAlreadyExists},
    {"ReadOnlyFileSystem", EROFS, nullptr, posix::ErrnoContext::kFile, kErrorAccessDenied},
    {"NotEmpty", ENOTEMPTY, nullptr, posix::ErrnoContext::kDirectory, kErrorDirNotEmpty},
    {"NameTooLong", ENAMETOOLONG, nullptr, posix::ErrnoContext::kFile, kErrorFilenameExcedRange},
    {"Busy", EBUSY, nullptr, posix::ErrnoContext::kFile, kErrorSharingViolation},
};

class ErrnoMappingTest : public FaultInjectionTest,
                         public ::testing::WithParamInterface<MappingCase> {};

TEST_P(ErrnoMappingTest, Maps) {
  const MappingCase& c = GetParam();
  std::string host = c.hostRelative ? root_ + "/" + c.hostRelative : std::string();
  EXPECT_EQ(posix::WindowsErrorForPath(c.error, c.hostRelative ? host.c_str() : nullptr, c.context),
            c.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, ErrnoMappingTest, ::testing::ValuesIn(kMappingCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qz7::platform
