// Running set-up tools as child processes: result, exit code, arguments and working directory,
// the output kept only on failure, cut to the buffer, never leaving the child blocked on a full
// pipe. What the stand-in instance tools leave on the machine is checked where whole set-up runs
// start them (the scenarios).
#include "provision/setup_tool_runner.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/win_error.h"
#include "testkit/temp_machine.h"
#include "tools/sample/caller_host.h"

namespace qz7::provision {
namespace {

constexpr const char* kTool = "C:\\TOOLS\\QZ7HELP.EXE";
constexpr char kUntouched = '#';

TEST(SetupToolRunnerTest, ResultExitCodeAndOutput) {
  testkit::TempMachine machine;
  machine.MakeDirectory("C:\\WORK");
  machine.MakeDirectory("C:\\TOOLS");
  std::filesystem::copy_file(
      std::string(QZ7_TEST_HELPER_DIR) + "/" + sample::ProgramFileName("qz7_test_helper"),
      machine.HostPath(kTool));
  const std::string work = std::filesystem::canonical(machine.HostPath("C:\\WORK")).string();
  const size_t kMiB = 1 << 20;
  struct Case {
    const char* name;
    std::string arguments;
    size_t capacity;
    uint32_t exitCode;
    std::string stored;  // the bytes before the first untouched one
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"success leaves the output alone", "--stdout 6 --exit 0", 64, 0, ""},
      {"standard output and error", "--stdout 3 --stderr 2 --exit 1", 64, 1, "oooee"},
      // The tool prints its arguments, split by the Windows rules, and its directory.
      {"arguments and directory", "QZ7  \"/u:svc,pw word\" --args --cwd --exit 1", 256, 1,
       "QZ7\n/u:svc,pw word\n--args\n--cwd\n--exit\n1\n" + work + "\n"},
      {"a mebibyte, more than a pipe holds, cut to capacity - 1",
       "--stdout 1048576 --stderr 5 --exit 7", kMiB, 7, std::string(kMiB - 1, 'o')},
      {"capacity 1 stores nothing", "--stdout 100 --exit 5", 1, 5, ""},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // One byte beyond capacity shows that nothing is written past it.
    std::vector<char> output(c.capacity + 1, kUntouched);
    uint32_t exitCode = 99;
    const std::string commandLine = std::string("\"") + kTool + "\" " + c.arguments;
    EXPECT_EQ(
        RunSetupTool("C:\\WORK", kTool, commandLine.c_str(), &exitCode, output.data(), c.capacity),
        0);
    EXPECT_EQ(exitCode, c.exitCode);
    const std::string text(output.begin(), output.end());
    const size_t stored = text.find(kUntouched);
    EXPECT_TRUE(text.substr(0, stored) == c.stored) << stored << " " << text.substr(0, 80);
    EXPECT_EQ(text.find_first_not_of(kUntouched, stored), std::string::npos);
  }
  // A tool that cannot be started: the Windows error, the exit code left as it was.
  uint32_t exitCode = 99;
  EXPECT_EQ(RunSetupTool("C:\\WORK", "C:\\TOOLS\\NONE.EXE", "NONE.EXE", &exitCode, nullptr, 0),
            static_cast<int32_t>(platform::kErrorFileNotFound));
  EXPECT_EQ(RunSetupTool("C:\\NO\\SUCH", kTool, "\"QZ7HELP.EXE\" --exit 0", &exitCode, nullptr, 0),
            static_cast<int32_t>(platform::kErrorDirectory));
  EXPECT_EQ(exitCode, 99u);
}

}  // namespace
}  // namespace qz7::provision
