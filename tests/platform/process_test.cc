#include "platform/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_system.h"
#include "platform/win_error.h"
#include "tests/platform/machine_fixture.h"

namespace qz7::platform {
namespace {

constexpr const char* kHelper = "C:\\TOOLS\\QZ7HELP.EXE";

struct RunResult {
  bool started = false;
  uint32_t error = 0;
  uint32_t exitCode = 0;
  std::string output;
};

class ProcessTest : public MachineFixture {
 protected:
  void SetUp() override {
    MachineFixture::SetUp();
    std::filesystem::create_directories(OnC("TOOLS"));
    // A copy, not a link: a link leading out of the drive is refused like any other escape.
    std::filesystem::copy_file(std::string(QZ7_TEST_HELPER_DIR) + "/qz7_test_helper",
                               OnC("TOOLS/QZ7HELP.EXE"));
  }

  // Runs the helper with arguments, its standard output and error into one pipe, and reads
  // everything back after it ended.
  RunResult Run(const std::string& arguments, const char* directory = nullptr,
                const char* program = kHelper) {
    RunResult result;
    PipeHandle readEnd = nullptr;
    PipeHandle writeEnd = nullptr;
    EXPECT_TRUE(CreatePipe(&readEnd, &writeEnd));
    StartupInfo startup;
    startup.stdOutput = writeEnd;
    startup.stdError = writeEnd;
    std::string commandLine = std::string("\"") + program + "\" " + arguments;
    ProcessHandle process = nullptr;
    result.started = CreateProcessA(program, commandLine.c_str(), directory, startup, &process);
    if (!result.started) {
      result.error = GetLastError();
    } else {
      if (WaitForSingleObject(process, 20000) != kWaitObject0) {
        // A child stuck on a full pipe: closing the read end ends it with a broken pipe.
        ADD_FAILURE() << "the child did not end: " << arguments;
        ClosePipeHandle(readEnd);
        readEnd = nullptr;
        WaitForSingleObject(process, kInfinite);
      }
      EXPECT_TRUE(GetExitCodeProcess(process, &result.exitCode));
      EXPECT_TRUE(CloseProcessHandle(process));
    }
    EXPECT_TRUE(ClosePipeHandle(writeEnd));
    if (readEnd == nullptr) return result;
    char piece[512];
    uint32_t got = 0;
    while (ReadFile(readEnd, piece, sizeof piece, &got) && got > 0)
      result.output.append(piece, got);
    EXPECT_TRUE(ClosePipeHandle(readEnd));
    return result;
  }

  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
};

TEST_F(ProcessTest, ExitCodesComeBack) {
  for (uint32_t code : {0u, 3u, 255u}) {
    RunResult result = Run("--exit " + std::to_string(code));
    ASSERT_TRUE(result.started) << "error " << result.error;
    EXPECT_EQ(result.exitCode, code);
  }
}

TEST_F(ProcessTest, MegabytesOfOutputOnBothStreamsDoNotBlock) {
  constexpr size_t kMiB = 1 << 20;
  RunResult result = Run("--stdout 1048576 --stderr 1048576 --exit 4");
  ASSERT_TRUE(result.started);
  EXPECT_EQ(result.exitCode, 4u);
  ASSERT_EQ(result.output.size(), 2 * kMiB);
  EXPECT_EQ(std::count(result.output.begin(), result.output.end(), 'o'), kMiB);
  EXPECT_EQ(std::count(result.output.begin(), result.output.end(), 'e'), kMiB);
}

TEST_F(ProcessTest, ArgumentsArriveSplitByTheWindowsRules) {
  RunResult result = Run("--args \"two words\"\ttab a\\\"b \"c\"\"d\" e\\\\\"f g\" C:\\DIR\\ \"\"");
  ASSERT_TRUE(result.started);
  EXPECT_EQ(Lines(result.output), (std::vector<std::string>{"--args", "two words", "tab", "a\"b",
                                                            "c\"d", "e\\f g", "C:\\DIR\\", ""}));
}

TEST_F(ProcessTest, ProgramsThatCannotRun) {
  WriteHostFile(OnC("TOOLS/PLAIN.EXE"), "not a program");
  WriteHostFile(OnC("TOOLS/JUNK.EXE"), "\x01\x02\x03 junk that is no program format");
  chmod(OnC("TOOLS/JUNK.EXE").c_str(), 0755);
  struct Row {
    const char* name;
    const char* program;
    uint32_t error;
  };
  const Row rows[] = {
      {"MissingProgram", "C:\\TOOLS\\NONE.EXE", kErrorFileNotFound},
      {"MissingFolder", "C:\\NOFOLDER\\NONE.EXE", kErrorPathNotFound},
      {"NotExecutable", "C:\\TOOLS\\PLAIN.EXE", kErrorAccessDenied},
      {"UnknownFormat", "C:\\TOOLS\\JUNK.EXE", kErrorBadExeFormat},
      {"Directory", "C:\\TOOLS", kErrorAccessDenied},
  };
  for (const auto& row : rows) {
    RunResult result = Run("", nullptr, row.program);
    EXPECT_FALSE(result.started) << row.name;
    EXPECT_EQ(result.error, row.error) << row.name;
  }
  RunResult missingDirectory = Run("--cwd", "C:\\NO\\SUCH");
  EXPECT_FALSE(missingDirectory.started);
  EXPECT_EQ(missingDirectory.error, kErrorDirectory);
}

TEST_F(ProcessTest, WorkingDirectoryIsHonoured) {
  std::filesystem::create_directories(OnC("Work/Sub"));
  std::string expected = std::filesystem::canonical(OnC("Work/Sub")).string();
  RunResult given = Run("--cwd", "c:\\WORK\\sub");
  ASSERT_TRUE(given.started);
  EXPECT_EQ(given.output, expected + "\n");
  // Without one, the child starts in the caller's current directory (kept in Windows form).
  ASSERT_EQ(SetCurrentDirectoryText("C:\\Work\\Sub"), 0);
  RunResult current = Run("--cwd");
  ASSERT_TRUE(current.started);
  EXPECT_EQ(current.output, expected + "\n");
}

TEST_F(ProcessTest, StandardInputIsThePipeOrEmpty) {
  PipeHandle inRead = nullptr, inWrite = nullptr, outRead = nullptr, outWrite = nullptr;
  ASSERT_TRUE(CreatePipe(&inRead, &inWrite));
  ASSERT_TRUE(CreatePipe(&outRead, &outWrite));
  uint32_t written = 0;
  ASSERT_TRUE(WriteFile(inWrite, "hello\n", 6, &written));
  EXPECT_EQ(written, 6u);
  ASSERT_TRUE(ClosePipeHandle(inWrite));
  StartupInfo startup;
  startup.stdInput = inRead;
  startup.stdOutput = outWrite;
  ProcessHandle process = nullptr;
  ASSERT_TRUE(CreateProcessA(kHelper, "QZ7HELP --stdin", nullptr, startup, &process));
  ASSERT_EQ(WaitForSingleObject(process, 10000), kWaitObject0);
  CloseProcessHandle(process);
  ClosePipeHandle(outWrite);
  char buffer[64] = {};
  uint32_t got = 0;
  ASSERT_TRUE(ReadFile(outRead, buffer, sizeof buffer, &got));
  EXPECT_EQ(std::string(buffer, got), "hello\n");
  ClosePipeHandle(inRead);
  ClosePipeHandle(outRead);

  // No input handle: the child reads an empty input and ends at once.
  RunResult empty = Run("--stdin --say done");
  EXPECT_EQ(empty.output, "done\n");
}

TEST_F(ProcessTest, WaitTimesOutWhileTheChildRuns) {
  ProcessHandle process = nullptr;
  ASSERT_TRUE(
      CreateProcessA(kHelper, "QZ7HELP --sleep 400 --exit 9", nullptr, StartupInfo(), &process));
  EXPECT_EQ(WaitForSingleObject(process, 20), kWaitTimeout);
  uint32_t code = 0;
  ASSERT_TRUE(GetExitCodeProcess(process, &code));
  EXPECT_EQ(code, 259u);
  EXPECT_EQ(WaitForSingleObject(process, kInfinite), kWaitObject0);
  ASSERT_TRUE(GetExitCodeProcess(process, &code));
  EXPECT_EQ(code, 9u);
  CloseProcessHandle(process);
}

// The descriptors of this process that a child may inherit (not close-on-exec).
std::set<int> InheritableDescriptors() {
  std::set<int> fds;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    int fd = std::atoi(entry.path().filename().c_str());
    int flags = fcntl(fd, F_GETFD);
    if (fd > 2 && flags >= 0 && (flags & FD_CLOEXEC) == 0) fds.insert(fd);
  }
  return fds;
}

TEST_F(ProcessTest, ChildInheritsNoPipeBeyondItsStandardHandles) {
  PipeHandle spareRead = nullptr, spareWrite = nullptr;
  ASSERT_TRUE(CreatePipe(&spareRead, &spareWrite));
  std::set<int> allowed = InheritableDescriptors();
  RunResult result = Run("--fds");
  ASSERT_TRUE(result.started);
  for (const auto& line : Lines(result.output)) {
    EXPECT_TRUE(allowed.count(std::atoi(line.c_str())) == 1) << "child inherited fd " << line;
  }
  ClosePipeHandle(spareRead);
  ClosePipeHandle(spareWrite);
}

TEST_F(ProcessTest, CallersStandardHandlesStayAsTheyWere) {
  struct stat before[3], after[3];
  for (int fd = 0; fd < 3; ++fd) ASSERT_EQ(fstat(fd, &before[fd]), 0);
  ASSERT_TRUE(Run("--say x").started);
  for (int fd = 0; fd < 3; ++fd) {
    ASSERT_EQ(fstat(fd, &after[fd]), 0);
    EXPECT_EQ(before[fd].st_ino, after[fd].st_ino) << "fd " << fd;
    EXPECT_EQ(before[fd].st_dev, after[fd].st_dev) << "fd " << fd;
  }
}

TEST_F(ProcessTest, ClosedChildrenAreNotLeftAsZombies) {
  ProcessHandle ended = nullptr;
  ProcessHandle running = nullptr;
  ASSERT_TRUE(CreateProcessA(kHelper, "QZ7HELP", nullptr, StartupInfo(), &ended));
  ASSERT_TRUE(CreateProcessA(kHelper, "QZ7HELP --sleep 100", nullptr, StartupInfo(), &running));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(CloseProcessHandle(ended));    // ended, never waited for
  ASSERT_TRUE(CloseProcessHandle(running));  // still running when closed
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  RunResult later = Run("");  // a later process call reaps what ended meanwhile
  ASSERT_TRUE(later.started);
  int status = 0;
  errno = 0;
  EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

}  // namespace
}  // namespace qz7::platform
