// Running a set-up tool as a child process: result, exit code, and the output kept only on
// failure, cut to the buffer, never leaving the child blocked on a full pipe.
#include "provision/setup_tool_runner.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/win_error.h"
#include "testkit/temp_machine.h"

namespace qz7::provision {
namespace {

constexpr const char* kTool = "C:\\TOOLS\\QZ7HELP.EXE";
constexpr char kUntouched = '#';

class SetupToolRunnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine_.MakeDirectory("C:\\TOOLS");
    machine_.MakeDirectory("C:\\WORK");
    std::filesystem::copy_file(std::string(QZ7_TEST_HELPER_DIR) + "/qz7_test_helper",
                               machine_.HostPath(kTool));
  }
  testkit::TempMachine machine_;
};

TEST_F(SetupToolRunnerTest, ResultExitCodeAndOutput) {
  const size_t kMiB = 1 << 20;
  struct Case {
    const char* name;
    const char* program;
    std::string arguments;
    size_t capacity;
    int32_t result;
    uint32_t exitCode;   // kUnset: left as it was
    std::string stored;  // the bytes before the first untouched one
  };
  constexpr uint32_t kUnset = 0xDEADBEEF;
  const std::vector<Case> cases = {
      {"success leaves the output alone", kTool, "--say chatty --exit 0", 64, 0, 0, ""},
      {"failure without output", kTool, "--exit 3", 64, 0, 3, ""},
      {"failure keeps standard output", kTool, "--say no-such-instance --exit 4", 64, 0, 4,
       "no-such-instance\n"},
      {"standard error as well", kTool, "--stdout 3 --stderr 2 --exit 1", 64, 0, 1, "oooee"},
      {"cut to capacity - 1", kTool, "--stdout 700 --exit 9", 600, 0, 9, std::string(599, 'o')},
      {"exactly two pieces", kTool, "--stdout 1024 --exit 2", 2048, 0, 2, std::string(1024, 'o')},
      {"a mebibyte, more than a pipe holds", kTool, "--stdout 1048576 --stderr 5 --exit 7", 1024, 0,
       7, std::string(1023, 'o')},
      {"all of a mebibyte kept", kTool, "--stderr 1048576 --exit 6", kMiB + 1, 0, 6,
       std::string(kMiB, 'e')},
      {"capacity 1 stores nothing", kTool, "--stdout 100 --exit 5", 1, 0, 5, ""},
      {"missing program", "C:\\TOOLS\\NONE.EXE", "", 64, 2, kUnset, ""},
      {"missing folder", "C:\\NOFOLDER\\NONE.EXE", "", 64, 3, kUnset, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // One byte beyond capacity shows that nothing is written past it.
    std::vector<char> output(c.capacity + 1, kUntouched);
    uint32_t exitCode = kUnset;
    const std::string commandLine = std::string("\"") + c.program + "\" " + c.arguments;
    EXPECT_EQ(RunSetupTool("C:\\WORK", c.program, commandLine.c_str(), &exitCode, output.data(),
                           c.capacity),
              c.result);
    EXPECT_EQ(exitCode, c.exitCode);
    const std::string text(output.begin(), output.end());
    const size_t stored = text.find(kUntouched);
    EXPECT_EQ(text.substr(0, stored).size(), c.stored.size());
    EXPECT_TRUE(text.substr(0, stored) == c.stored) << text.substr(0, 80);
    EXPECT_EQ(text.find_first_not_of(kUntouched, stored), std::string::npos);
  }
}

TEST_F(SetupToolRunnerTest, WorkingDirectoryAndArguments) {
  std::vector<char> output(256, '\0');
  uint32_t exitCode = 0;
  // The tool prints its arguments (split by the Windows rules) and its directory, then fails
  // so that the text comes back.
  const std::string commandLine =
      std::string("\"") + kTool + "\" QZ7  \"/u:svc,pw word\" --args --cwd --exit 1";
  ASSERT_EQ(
      RunSetupTool("C:\\WORK", kTool, commandLine.c_str(), &exitCode, output.data(), output.size()),
      0);
  EXPECT_EQ(exitCode, 1u);
  const std::string work = std::filesystem::canonical(machine_.HostPath("C:\\WORK")).string();
  EXPECT_EQ(std::string(output.data()),
            "QZ7\n/u:svc,pw word\n--args\n--cwd\n--exit\n1\n" + work + "\n");
  EXPECT_EQ(RunSetupTool("C:\\NO\\SUCH", kTool, commandLine.c_str(), &exitCode, output.data(),
                         output.size()),
            static_cast<int32_t>(platform::kErrorDirectory));
}

// The pipe goes to the child only: this process's standard handles are the same afterwards.
TEST_F(SetupToolRunnerTest, CallersStandardHandlesStay) {
  struct stat before[3], after[3];
  for (int fd = 0; fd < 3; ++fd) ASSERT_EQ(fstat(fd, &before[fd]), 0);
  std::vector<char> output(64, '\0');
  uint32_t exitCode = 0;
  const std::string commandLine = std::string("\"") + kTool + "\" --say x --exit 1";
  ASSERT_EQ(
      RunSetupTool(nullptr, kTool, commandLine.c_str(), &exitCode, output.data(), output.size()),
      0);
  EXPECT_EQ(std::string(output.data()), "x\n");
  for (int fd = 0; fd < 3; ++fd) {
    ASSERT_EQ(fstat(fd, &after[fd]), 0);
    EXPECT_TRUE(before[fd].st_ino == after[fd].st_ino && before[fd].st_dev == after[fd].st_dev)
        << "fd " << fd;
  }
}

}  // namespace
}  // namespace qz7::provision
