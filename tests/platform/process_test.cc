#include "platform/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>

#include "platform/file_system.h"
#include "platform/win_error.h"
#include "testkit/child_run.h"
#include "tests/platform/machine_fixture.h"

namespace qz7::platform {
namespace {

constexpr const char* kHelper = "C:\\TOOLS\\QZ7HELP.EXE";

class ProcessTest : public MachineFixture {
 protected:
  void SetUp() override {
    MachineFixture::SetUp();
    std::filesystem::create_directories(OnC("TOOLS"));
    // A copy, not a link: a link leading out of the drive is refused like any other escape.
    std::filesystem::copy_file(std::string(QZ7_TEST_HELPER_DIR) + "/qz7_test_helper",
                               OnC("TOOLS/QZ7HELP.EXE"));
  }

  // Runs program with arguments; every step of the run around the child must succeed.
  testkit::ChildRun Run(const std::string& arguments, const char* directory = nullptr,
                        const char* program = kHelper, const char* input = nullptr,
                        size_t keptOutput = SIZE_MAX) {
    testkit::ChildRun run = testkit::RunChild(
        program, std::string("\"") + program + "\" " + arguments, directory, input, keptOutput);
    EXPECT_EQ(run.failedSteps, "") << arguments;
    return run;
  }
};

TEST_F(ProcessTest, ChildRunsWithItsArgumentsDirectoryAndPipes) {
  std::filesystem::create_directories(OnC("Work/Sub"));
  const std::string work = std::filesystem::canonical(OnC("Work")).string();
  // Without a directory, the child starts in the caller's current directory (in Windows form).
  ASSERT_EQ(SetCurrentDirectoryText("C:\\Work\\Sub"), 0);
  struct Row {
    const char* name;
    std::string arguments;
    const char *directory, *input;
    uint32_t exitCode;
    std::string output;
  };
  const Row rows[] = {
      {"MegabyteOnBothStreams", "--stdout 1048576 --stderr 1048576 --exit 4", nullptr, nullptr, 4,
       std::string(1 << 20, 'o') + std::string(1 << 20, 'e')},
      {"StandardInputFromPipe", "--stdin", nullptr, "hello\n", 0, "hello\n"},
      {"WorkingDirectoryGiven", "--cwd", "c:\\WORK", nullptr, 0, work + "\n"},
      {"CurrentDirectoryByDefault", "--cwd", nullptr, nullptr, 0, work + "/Sub\n"},
      // The child runs on the same machine, even when the root was set only in this process.
      {"MachineRootPassedOn", "--env QZ7_MACHINE", nullptr, nullptr, 0, root_ + "\n"},
  };
  for (const Row& row : rows) {
    testkit::ChildRun result = Run(row.arguments, row.directory, kHelper, row.input);
    ASSERT_EQ(result.error, 0u) << row.name;
    EXPECT_EQ(result.exitCode, row.exitCode) << row.name;
    EXPECT_TRUE(result.output == row.output)
        << row.name << ": " << result.output.size() << " bytes: " << result.output.substr(0, 200);
  }
}

// Of a long output only the first keptOutput bytes are kept, however much the child writes;
// it still runs to its end and its exit code is read.
TEST_F(ProcessTest, KeepsOnlyTheFirstBytesOfTheOutput) {
  const std::string oneMegabyte(1 << 20, 'o');
  struct Row {
    size_t kept;
    std::string output;
  };
  const Row rows[] = {{0, ""},
                      {1023, oneMegabyte.substr(0, 1023)},
                      {(1 << 20) + 2, oneMegabyte + "ee"},
                      {(2 << 20) + 5, oneMegabyte + std::string(1 << 20, 'e')}};
  for (const Row& row : rows) {
    testkit::ChildRun result =
        Run("--stdout 1048576 --stderr 1048576 --exit 9", nullptr, kHelper, nullptr, row.kept);
    EXPECT_EQ(result.exitCode, 9u) << row.kept;
    EXPECT_TRUE(result.output == row.output) << row.kept << ": " << result.output.size();
  }
}

void ReapEveryChild(int) {
  int saved = errno;
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }
  errno = saved;
}

// The exit code is read whatever the caller does with SIGCHLD: ignoring it (children are then
// reaped by the kernel with their status), SA_NOCLDWAIT, or a handler that reaps every child.
// The caller's disposition is the same after the run.
TEST_F(ProcessTest, ExitCodeWhateverTheCallerDoesWithSigchld) {
  struct Row {
    const char* name;
    void (*handler)(int);
    int flags;
  };
  const Row rows[] = {{"Ignored", SIG_IGN, 0},
                      {"NoChildWait", SIG_DFL, SA_NOCLDWAIT},
                      {"HandlerReapsEveryChild", ReapEveryChild, SA_RESTART}};
  // A program the watcher's child cannot execute: its failure comes back through the watcher.
  WriteHostFile(OnC("TOOLS/BAD.EXE"), "\x01\x02 not a program format");
  std::filesystem::permissions(OnC("TOOLS/BAD.EXE"), std::filesystem::perms::owner_all);
  for (const Row& row : rows) {
    struct sigaction action = {}, saved = {}, after = {};
    action.sa_handler = row.handler;
    action.sa_flags = row.flags;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGCHLD, &action, &saved), 0);
    testkit::ChildRun result = Run("--say hi --exit 7");
    testkit::ChildRun failed = Run("", nullptr, "C:\\TOOLS\\BAD.EXE");
    ASSERT_EQ(sigaction(SIGCHLD, &saved, &after), 0);
    EXPECT_EQ(result.error, 0u) << row.name;
    EXPECT_EQ(result.exitCode, 7u) << row.name;
    EXPECT_EQ(result.output, "hi\n") << row.name;
    EXPECT_EQ(failed.error, kErrorBadExeFormat) << row.name;
    EXPECT_TRUE(after.sa_handler == row.handler &&
                (after.sa_flags & (SA_NOCLDWAIT | SA_RESTART)) == row.flags)
        << row.name;
  }
}

TEST_F(ProcessTest, ProgramsThatCannotRun) {
  WriteHostFile(OnC("TOOLS/PLAIN.EXE"), "not a program");
  struct Row {
    const char *name, *program, *directory;
    uint32_t error;
  };
  const Row rows[] = {{"NotExecutable", "C:\\TOOLS\\PLAIN.EXE", nullptr, kErrorAccessDenied},
                      {"Directory", "C:\\TOOLS", nullptr, kErrorAccessDenied},
                      {"MissingDirectory", kHelper, "C:\\NO\\SUCH", kErrorDirectory}};
  for (const auto& row : rows)
    EXPECT_EQ(Run("", row.directory, row.program).error, row.error) << row.name;
}

// The child gets its standard handles and no other pipe of the caller: it holds no descriptor
// that is not inheritable here already. The caller's own standard handles stay as they were.
TEST_F(ProcessTest, ChildGetsOnlyItsStandardHandles) {
  PipeHandle spareRead = nullptr, spareWrite = nullptr;
  ASSERT_TRUE(CreatePipe(&spareRead, &spareWrite));
  std::set<int> allowed;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    int fd = std::atoi(entry.path().filename().c_str());
    if (int flags = fcntl(fd, F_GETFD); fd > 2 && flags >= 0 && (flags & FD_CLOEXEC) == 0)
      allowed.insert(fd);
  }
  struct stat before[3], after[3];
  for (int fd = 0; fd < 3; ++fd) ASSERT_EQ(fstat(fd, &before[fd]), 0);
  std::istringstream lines(Run("--fds").output);
  for (std::string fd; std::getline(lines, fd);)
    EXPECT_EQ(allowed.count(std::atoi(fd.c_str())), 1u) << "child inherited fd " << fd;
  for (int fd = 0; fd < 3; ++fd) {
    ASSERT_EQ(fstat(fd, &after[fd]), 0);
    EXPECT_TRUE(before[fd].st_ino == after[fd].st_ino && before[fd].st_dev == after[fd].st_dev);
  }
  EXPECT_TRUE(ClosePipeHandle(spareRead) && ClosePipeHandle(spareWrite));
}

}  // namespace
}  // namespace qz7::platform
