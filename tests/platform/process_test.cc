#include "platform/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
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
  testkit::ChildRun Run(const std::string& arguments, const char* program = kHelper) {
    testkit::ChildRun run =
        testkit::RunChild(program, std::string("\"") + program + "\" " + arguments);
    EXPECT_EQ(run.failedSteps, "") << arguments;
    return run;
  }
};

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
  const struct {
    const char* name;
    void (*handler)(int);
    int flags;
  } rows[] = {{"Ignored", SIG_IGN, 0}, {"HandlerReapsEveryChild", ReapEveryChild, SA_RESTART}};
  // A program the watcher's child cannot execute: its failure comes back through the watcher.
  WriteHostFile(OnC("TOOLS/BAD.EXE"), "\x01\x02 not a program format");
  std::filesystem::permissions(OnC("TOOLS/BAD.EXE"), std::filesystem::perms::owner_all);
  for (const auto& row : rows) {
    struct sigaction action = {}, saved = {}, after = {};
    action.sa_handler = row.handler;
    action.sa_flags = row.flags;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGCHLD, &action, &saved), 0);
    testkit::ChildRun result = Run("--stdout 2 --exit 7");
    testkit::ChildRun failed = Run("", "C:\\TOOLS\\BAD.EXE");
    ASSERT_EQ(sigaction(SIGCHLD, &saved, &after), 0);
    EXPECT_EQ(result.error, 0u) << row.name;
    EXPECT_EQ(result.exitCode, 7u) << row.name;
    EXPECT_EQ(result.output, "oo") << row.name;
    EXPECT_EQ(failed.error, kErrorBadExeFormat) << row.name;
    EXPECT_TRUE(after.sa_handler == row.handler &&
                (after.sa_flags & (SA_NOCLDWAIT | SA_RESTART)) == row.flags)
        << row.name;
  }
}

// A file without the execute permission and a folder (a working directory that is missing is
// the tool runner's row).
TEST_F(ProcessTest, ProgramsThatCannotRun) {
  WriteHostFile(OnC("TOOLS/PLAIN.EXE"), "not a program");
  for (const char* program : {"C:\\TOOLS\\PLAIN.EXE", "C:\\TOOLS"})
    EXPECT_EQ(Run("", program).error, kErrorAccessDenied) << program;
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
