// Running set-up tools as child processes: result, exit code, arguments and working directory,
// the output kept only on failure, cut to the buffer, never leaving the child blocked on a full
// pipe; and the stand-in instance tools with the stand-in host runtime: what each leaves on the
// machine, and how they refuse command lines and machine states they cannot act on.
#include "tools/sample/instance_tools.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "host/profile_registry.h"
#include "host/registry_access.h"
#include "host/service_table.h"
#include "platform/win_error.h"
#include "provision/instance_tool_commands.h"
#include "provision/setup_tool_runner.h"
#include "testkit/temp_machine.h"
#include "tools/sample/caller_host.h"
#include "tools/sample/dbm_block_builder.h"
#include "tools/sample/sample_machine.h"

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
      {"exactly two pieces", "--stdout 1024 --exit 2", 2048, 2, std::string(1024, 'o')},
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

namespace h = qz7::host;

// "QZ7PORTRANGE QZ7INSTOWNER first-node its-HostName", then the programs of the instance's
// own service and of its first node's; "-" for what is missing.
std::string InstanceState(const std::string& instance) {
  std::string range = "-", owner = "-", hostName = "-";
  // What is missing stays "-": a failed read leaves its text as it was.
  static_cast<void>(
      h::ReadVariableAt(h::ProfileLevel::kInstance, instance, "QZ7PORTRANGE", &range));
  static_cast<void>(
      h::ReadVariableAt(h::ProfileLevel::kInstance, instance, "QZ7INSTOWNER", &owner));
  std::vector<std::string> nodes;
  static_cast<void>(h::ListInstanceNodes(instance, &nodes));
  nodes.push_back("-");
  h::ScopedKey key;
  if (h::OpenKey(h::InstanceNodesKey(instance) + "\\" + nodes[0], 0x0001, &key) == 0) {
    static_cast<void>(h::ReadText(key.get(), "HostName", &hostName));
  }
  std::string text = range + " " + owner + " " + nodes[0] + " " + hostName;
  for (const std::string& service : {instance, instance + "-" + nodes[0]}) {
    h::ServiceConfig config;
    text += " " + (h::QueryServiceNamed(service, &config) == 0 ? config.program : "-");
  }
  return text;
}

// Each tool run as the set-up runs it on SAMPLEPC (the current release in C:\QZ7, its BIN
// holding the tools; QZ7 and QZ7B of an earlier release in C:\PROF), finding its machine from
// where it lies: what it leaves on the machine, and how it refuses command lines and states
// it cannot act on.
TEST(InstanceToolsTest, ToolsActOrRefuse) {
  testkit::TempMachine machine;
  sample::SampleMachine plan;
  plan.templates = {"qz7syssv", "qz7sysmp"};
  plan.binPrograms =
      sample::InstanceToolPrograms(sample::InstanceToolDirectoryBeside(QZ7_CLI_PATH));
  plan.profileDir = "C:\\PROF";
  plan.instances = {{.name = "QZ7", .version = 0x900}, {.name = "QZ7B", .version = 0x900}};
  sample::BuildSampleMachine(machine.root(), plan);
#if defined(_WIN32)
  machine.NameComputer(plan.computerName);  // the sample machine leaves it alone on Windows
#endif
  ASSERT_EQ(h::PointProfileRegistry(h::kInstallDirValue, "C:\\QZ7"), 0);
  ASSERT_EQ(h::PointProfileRegistry(h::kInstanceProfileDirValue, "C:\\PROF"), 0);
#if defined(_WIN32)
  _putenv("QZ7_MACHINE=");  // the C runtime's way to remove a variable
#else
  unsetenv("QZ7_MACHINE");
#endif
  const std::string program = "C:\\QZ7\\bin\\qz7syscs.exe";
  // QZ7IUPDT replaces a read-only qz7systm as well (Windows replaces no read-only file).
  std::filesystem::permissions(machine.HostPath("C:\\PROF\\QZ7B\\qz7systm"),
                               std::filesystem::perms::owner_write |
                                   std::filesystem::perms::group_write |
                                   std::filesystem::perms::others_write,
                               std::filesystem::perm_options::remove);
  struct Case {
    const char* tool;
    std::string arguments;
    uint32_t exitCode;
    const char* says;  // found in the output of a failure
  };
  // An account with a blank and a backslash reaches the tool whole: it parses its command line
  // and registers the node's service under that account. The accounts that registrations here
  // name exist on every Windows (Windows refuses a service under one that does not, with 1057;
  // Wine accepts any), so that the rows hold on Windows as they do under Wine.
  const std::string escaped = PartitionedCommandLine(
      "T", "ESC", kPartitionedOption, "NT AUTHORITY\\LocalService", "", "5", "6", "");
  // The refusals kept are of command lines a caller's request can lead to (its ports, its node
  // number); the library never writes one without /mpp, an account without its comma, a name
  // longer than an instance's or an unknown option.
  // clang-format off
  const Case cases[] = {
      {"QZ7ICRT.EXE", escaped.substr(4), 0, ""},
      {"QZ7ICRT.EXE", "MPP /mpp \"/u:LocalSystem,\" /r:60000,60003 /h:node1.example", 0, ""},
      {"QZ7IUPDT.EXE", "QZ7B \"/U:NT AUTHORITY\\NetworkService,\" /R:1,2 /H:host", 0, ""},  // letters in any case
      {"QZ7NCRT.EXE", "/I:MPPR /N:2 \"/U:,,\" \"/o:OWNERPC\"", 0, ""},
      {"QZ7NCRT.EXE", "/i:MPPR /n:2 \"/u:a,b\" \"/O:OWNERPC\"", 2, ""},  // node 2 exists now
      {"QZ7ICRT.EXE", "QZ7 /mpp \"/u:a,b\" /r:1,2", 2, "instance QZ7 exists already"},
      {"QZ7IUPDT.EXE", "GONE \"/u:a,b\" /r:1,2", 2, "instance GONE is not defined"},
      {"QZ7NCRT.EXE", "/i:MPQ /n:1 \"/u:a,b\" \"/O:samplepc\"", 2,
       "the owner samplepc is this computer"},
      {"QZ7ICRT.EXE", "NEW /mpp \"/u:a,b\" /r:1,2", 3, "could not be created (host result -1044)"},
      {"QZ7ICRT.EXE", "MPQ /mpp \"/u:a,b\" /r:1,65536", 1, "'65536' is not a port number"},
      {"QZ7ICRT.EXE", "MPQ /mpp \"/u:a,b\" /r:3,2", 1, "the port range ends before it starts\n"
       "usage: QZ7ICRT.EXE NAME /mpp \"/u:ACCOUNT,PASSWORD\" /r:FIRST,LAST [/h:HOST]"},
      {"QZ7NCRT.EXE", "/i:MPQ /n:x1 \"/u:a,b\" \"/O:PC\"", 1, "'x1' is not a node number"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.tool) + " " + c.arguments);
    // Without its template a partitioned instance cannot be made (row NEW).
    if (c.arguments.rfind("NEW", 0) == 0)
      std::filesystem::remove(machine.HostPath("C:\\QZ7\\CFG\\qz7sysmp"));
    const std::string tool = std::string("C:\\QZ7\\BIN\\") + c.tool;
    const std::string commandLine = "\"" + tool + "\" " + c.arguments;
    std::vector<char> output(1024, '\0');
    uint32_t exitCode = 99;
    ASSERT_EQ(RunSetupTool("C:\\QZ7", tool.c_str(), commandLine.c_str(), &exitCode, output.data(),
                           output.size()),
              0);
    EXPECT_EQ(exitCode, c.exitCode);
    // A Windows tool ends its lines with CR LF; the texts here are compared by their lines.
    std::string said = output.data();
    std::erase(said, '\r');
    EXPECT_NE(said.find(c.says), std::string::npos) << said;
  }
  h::ServiceConfig escService;
  ASSERT_EQ(h::QueryServiceNamed("ESC-0", &escService), 0u);
  EXPECT_EQ(escService.account, "NT AUTHORITY\\LocalService");
  EXPECT_EQ(InstanceState("MPP"), "60000:60003 SAMPLEPC 0 node1.example - " + program);
  EXPECT_EQ(InstanceState("QZ7B"), "1:2 SAMPLEPC 0 host - " + program);
  const std::vector<unsigned char> config = machine.ReadFile("C:\\PROF\\QZ7B\\qz7systm");
  EXPECT_TRUE(sample::DbmChecksumMatches(config) && sample::DbmU16(config, 40) == 4);
  // Its files live with the owner.
  EXPECT_EQ(InstanceState("MPPR"), "60000:60003 OWNERPC 2 - - " + program);
  EXPECT_FALSE(machine.Exists("C:\\PROF\\MPPR"));
  EXPECT_FALSE(h::IsInstanceDefined("NEW") || machine.Exists("C:\\PROF\\NEW"));
}

}  // namespace
}  // namespace qz7::provision
