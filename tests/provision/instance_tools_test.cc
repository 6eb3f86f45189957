// Creating and updating instances on a sample machine with the stand-in host runtime and the
// stand-in instance tools installed in its BIN directory: what the tools leave on the machine,
// how their failures reach the user and the log, and how they check their command lines.
#include "testkit/instance_tools.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "host/host_files.h"
#include "host/host_services.h"
#include "host/instance_lifecycle.h"
#include "host/profile_registry.h"
#include "host/registry_access.h"
#include "host/service_table.h"
#include "provision/instance_update.h"
#include "provision/setup_tool_runner.h"
#include "testkit/dbm_block_builder.h"
#include "testkit/sample_machine.h"
#include "tests/provision/provision_fixture.h"

namespace qz7::provision {
namespace {

using Lines = std::vector<std::string>;
namespace h = qz7::host;

std::string Variable(const std::string& instance, const char* variable) {
  std::string value;
  return h::ReadVariableAt(h::ProfileLevel::kInstance, instance, variable, &value) == 0 ? value
                                                                                        : "-";
}

std::string Nodes(const std::string& instance) {
  std::vector<std::string> nodes;
  h::ListInstanceNodes(instance, &nodes);
  std::string text;
  for (const std::string& node : nodes) text += (text.empty() ? "" : ",") + node;
  return text.empty() ? "-" : text;
}

std::string ServiceProgram(const std::string& service) {
  h::ServiceConfig config;
  return h::QueryServiceNamed(service, &config) == 0 ? config.program : "-";
}

std::string NodeHostName(const std::string& instance, const std::string& node) {
  h::ScopedKey key;
  std::string value;
  if (h::OpenKey(h::InstanceNodesKey(instance) + "\\" + node, 0x0001, &key) != 0 ||
      h::ReadText(key.get(), "HostName", &value) != 0) {
    return "-";
  }
  return value;
}

uint16_t NodeTypeOf(const std::string& configPath) {
  std::optional<std::vector<unsigned char>> bytes = testkit::ReadMachineFile(configPath.c_str());
  return bytes && bytes->size() >= 42 ? testkit::DbmU16(*bytes, 40) : 0;
}

class InstanceToolsTest : public ProvisionFixture {
 protected:
  // A sample machine SAMPLEPC with the current release in C:\QZ7 (its BIN holding the tools)
  // and the given instances of an earlier release in C:\PROF, the registry pointed at both.
  void BuildMachine(std::vector<testkit::SampleInstance> instances) {
    testkit::SampleMachine plan;
    plan.templates = {"qz7syssv", "qz7sysmp", "qz7syssv.das"};
    plan.binPrograms =
        testkit::InstanceToolPrograms(testkit::InstanceToolDirectoryBeside(QZ7_CLI_PATH));
    plan.migrationMessages = false;
    plan.setupMessages = false;
    plan.profileDir = "C:\\PROF";
    plan.instances = std::move(instances);
    testkit::BuildSampleMachine(machine_->root(), plan);
    ASSERT_EQ(h::PointProfileRegistry(h::kInstallDirValue, "C:\\QZ7"), 0);
    ASSERT_EQ(h::PointProfileRegistry(h::kInstanceProfileDirValue, "C:\\PROF"), 0);
  }
};

TEST_F(InstanceToolsTest, NewPartitionedInstance) {
  struct Case {
    const char* name;
    bool machineVariable;  // QZ7_MACHINE set for the tool; else found from where it lies
    const char* hostName;
  };
  const Case cases[] = {{"told the machine", true, "node1.example"},
                        {"finds its machine", false, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.machineVariable) unsetenv("QZ7_MACHINE");
    BuildMachine({});
    EXPECT_EQ(
        CreateOrUpdateInstance(
            Context(), MakeRequest({.name = "MPP", .nodeType = 4, .hostName = c.hostName}), false),
        0);
    EXPECT_EQ(boxes_, Lines{});
    EXPECT_EQ(Variable("MPP", "QZ7PORTRANGE"), "60000:60003");
    EXPECT_EQ(Variable("MPP", "QZ7INSTOWNER"), "SAMPLEPC");
    EXPECT_EQ(Variable("MPP", "QZ7INSTPROF"), "C:\\PROF");
    EXPECT_EQ(Nodes("MPP"), "0");
    EXPECT_EQ(NodeHostName("MPP", "0"), *c.hostName ? c.hostName : "SAMPLEPC");
    EXPECT_EQ(ServiceProgram("MPP-0"), "C:\\QZ7\\bin\\qz7syscs.exe");
    EXPECT_EQ(NodeTypeOf("C:\\PROF\\MPP\\qz7systm"), 4);
    h::DropInstance("MPP", "C:\\PROF\\MPP");
  }
}

TEST_F(InstanceToolsTest, OrdinaryInstanceBecomesPartitioned) {
  BuildMachine({{.name = "QZ7", .version = 0x900, .nodeType = 1},
                {.name = "QZ7B", .version = 0x900, .nodeType = 1}});
  const std::vector<unsigned char> before = machine_->ReadFile("C:\\PROF\\QZ7\\qz7systm");
  existing_ = {Existing("QZ7", 1)};
  EXPECT_EQ(CreateOrUpdateInstance(Context(), MakeRequest({.name = "QZ7", .nodeType = 4}), false),
            0);
  EXPECT_EQ(boxes_, Lines{});
  EXPECT_EQ(Variable("QZ7", "QZ7PORTRANGE"), "60000:60003");
  EXPECT_EQ(Nodes("QZ7"), "0");
  // The instance existed: its node services were pointed at this installation afterwards.
  EXPECT_EQ(ServiceProgram("QZ7-0"), "\"C:\\QZ7\\bin\\qz7syscs.exe\"");
  EXPECT_EQ(ServiceProgram("QZ7"), "-");
  // The tool made the configuration partitioned; the set-up put the old one back.
  EXPECT_TRUE(machine_->ReadFile("C:\\PROF\\QZ7\\qz7systm") == before);

  // Run on its own, the tool converts the configuration file.
  std::vector<char> output(1024, '\0');
  uint32_t exitCode = 99;
  const char* tool = "C:\\QZ7\\BIN\\QZ7IUPDT.EXE";
  ASSERT_EQ(RunSetupTool("C:\\QZ7", tool, "\"C:\\QZ7\\BIN\\QZ7IUPDT.EXE\" QZ7B \"/u:,,\" /r:7,8",
                         &exitCode, output.data(), output.size()),
            0);
  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(NodeTypeOf("C:\\PROF\\QZ7B\\qz7systm"), 4);
  EXPECT_TRUE(testkit::DbmChecksumMatches(machine_->ReadFile("C:\\PROF\\QZ7B\\qz7systm")));
  EXPECT_EQ(Variable("QZ7B", "QZ7PORTRANGE"), "7:8");
}

TEST_F(InstanceToolsTest, NodeOfAnInstanceOwnedElsewhere) {
  BuildMachine({});
  const InstanceRequest node = MakeRequest({.name = "MPPR",
                                            .nodeType = 4,
                                            .ownedElsewhere = 1,
                                            .nodeNumber = "2",
                                            .ownerComputer = "OWNERPC"});
  EXPECT_EQ(CreateOrUpdateInstance(Context(), node, false), 0);
  EXPECT_EQ(boxes_, Lines{});
  EXPECT_EQ(Variable("MPPR", "QZ7INSTOWNER"), "OWNERPC");
  EXPECT_EQ(Nodes("MPPR"), "2");
  EXPECT_EQ(ServiceProgram("MPPR-2"), "C:\\QZ7\\bin\\qz7syscs.exe");
  EXPECT_FALSE(h::IsDirectory("C:\\PROF\\MPPR"));  // its files live with the owner

  // Known to the scan, it is left alone; unknown to it, the tool refuses the second node 2.
  existing_ = {Existing("MPPR", 4)};
  EXPECT_EQ(CreateOrUpdateInstance(Context(), node, false), 0);
  existing_.clear();
  EXPECT_EQ(CreateOrUpdateInstance(Context(), node, false), 2);
  EXPECT_EQ(boxes_, Lines{"M5206 2|16"});
  EXPECT_EQ(Nodes("MPPR"), "2");
}

TEST_F(InstanceToolsTest, ToolFailuresReachTheLog) {
  struct Case {
    const char* name;
    RequestSpec request;
    std::vector<ExistingInstance> existing;
    bool partitionedTemplate;
    int32_t result;
    std::string box;
    std::string outputLine;  // the tool's text, the last line of the log
  };
  const Case cases[] = {
      {"instance exists but the scan missed it",
       {.name = "QZ7", .nodeType = 4},
       {},
       true,
       2,
       "M5182 2|16",
       "QZ7ICRT: instance QZ7 exists already\n"},
      {"update of an instance that is not defined",
       {.name = "GONE", .nodeType = 4},
       {Existing("GONE", 1)},
       true,
       2,
       "M5294 2|16",
       "QZ7IUPDT: instance GONE is not defined\n"},
      {"node whose owner is this computer",
       {.name = "MPP",
        .nodeType = 4,
        .ownedElsewhere = 1,
        .nodeNumber = "1",
        .ownerComputer = "samplepc"},
       {},
       true,
       2,
       "M5206 2|16",
       "QZ7NCRT: the owner samplepc is this computer; its partitioned instances are made by "
       "QZ7ICRT.EXE\n"},
      {"port range the tool refuses",
       {.name = "MPP", .nodeType = 4, .portRangeStart = "60003", .portRangeEnd = "60000"},
       {},
       true,
       1,
       "M5182 1|16",
       "QZ7ICRT: the port range ends before it starts\nusage: QZ7ICRT.EXE NAME /mpp "
       "\"/u:ACCOUNT,PASSWORD\" /r:FIRST,LAST [/h:HOST]\n(an empty password is written as "
       "\",\": /u:ACCOUNT,,)\n"},
      {"no partitioned template",
       {.name = "MPP", .nodeType = 4},
       {},
       false,
       3,
       "M5182 3|16",
       "QZ7ICRT: instance MPP could not be created (host result -1044)\n"},
  };
  BuildMachine({{.name = "QZ7", .version = 0x900}});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.partitionedTemplate)
      std::filesystem::remove(machine_->HostPath("C:\\QZ7\\CFG\\qz7sysmp"));
    const std::string logBefore = Log();
    boxes_.clear();
    existing_ = c.existing;
    EXPECT_EQ(CreateOrUpdateInstance(Context(), MakeRequest(c.request), false), c.result);
    EXPECT_EQ(boxes_, Lines{c.box});
    const std::string log = Log().substr(logBefore.size());
    EXPECT_EQ(log.substr(0, log.find("\r\n")), c.box.substr(0, c.box.find('|')));
    ASSERT_GE(log.size(), c.outputLine.size() + 2);
    EXPECT_EQ(log.substr(log.size() - c.outputLine.size() - 2), c.outputLine + "\r\n");
    EXPECT_EQ(log.find(",pw"), std::string::npos);  // the password is hidden
    EXPECT_NE(log.find(",**"), std::string::npos);
  }
}

TEST_F(InstanceToolsTest, ToolsCheckTheirCommandLines) {
  BuildMachine({{.name = "QZ7", .version = 0x900}});
  struct Case {
    const char* tool;
    const char* arguments;
    uint32_t exitCode;
    const char* says;  // found in the output
  };
  const Case cases[] = {
      {"QZ7ICRT.EXE", "MPP \"/u:a,b\" /r:1,2", 1, "/mpp is missing"},
      {"QZ7ICRT.EXE", "MPP /mpp \"/u:a,b\"", 1, "/r:FIRST,LAST is missing"},
      {"QZ7ICRT.EXE", "MPP /mpp /r:1,2", 1, "/u:ACCOUNT,PASSWORD is missing"},
      {"QZ7ICRT.EXE", "MPP /mpp \"/u:ab\" /r:1,2", 1, "/u: needs ACCOUNT,PASSWORD"},
      {"QZ7ICRT.EXE", "MPP /mpp \"/u:a,b\" /r:0,2", 1, "'0' is not a port number"},
      {"QZ7ICRT.EXE", "MPP /mpp \"/u:a,b\" /r:1,65536", 1, "'65536' is not a port number"},
      {"QZ7ICRT.EXE", "MPP MPQ /mpp \"/u:a,b\" /r:1,2", 1, "more than one instance name"},
      {"QZ7ICRT.EXE", "TOOLONGNAME /mpp \"/u:a,b\" /r:1,2", 1, "is not an instance name"},
      {"QZ7ICRT.EXE", "MPP /mpp /mpp \"/u:a,b\" /r:1,2", 1, "/mpp given twice"},
      {"QZ7IUPDT.EXE", "QZ7 \"/u:a,b\" /r:1,2 /x", 1, "unknown option '/x'"},
      {"QZ7IUPDT.EXE", "", 1, "the instance name is missing"},
      {"QZ7NCRT.EXE", "/i:MPP /n:1 \"/u:a,b\"", 1, "/O:OWNER is missing"},
      {"QZ7NCRT.EXE", "/i:MPP /n:x1 \"/u:a,b\" \"/O:PC\"", 1, "'x1' is not a node number"},
      {"QZ7NCRT.EXE", "/i:MPP /n:1 \"/u:a,b\" \"/O:PC\" extra", 1, "unexpected argument 'extra'"},
      // Accepted forms: option letters in any case, an empty account and password.
      {"QZ7NCRT.EXE", "/I:MPP /N:7 \"/U:,,\" \"/o:PC\"", 0, ""},
      {"QZ7IUPDT.EXE", "QZ7 \"/U:svc,,\" /R:1,2 /H:host", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.tool) + " " + c.arguments);
    const std::string program = std::string("C:\\QZ7\\BIN\\") + c.tool;
    const std::string commandLine = "\"" + program + "\" " + c.arguments;
    std::vector<char> output(1024, '\0');
    uint32_t exitCode = 99;
    ASSERT_EQ(RunSetupTool("C:\\QZ7", program.c_str(), commandLine.c_str(), &exitCode,
                           output.data(), output.size()),
              0);
    EXPECT_EQ(exitCode, c.exitCode);
    EXPECT_NE(std::string(output.data()).find(c.says), std::string::npos) << output.data();
  }
  EXPECT_EQ(Variable("MPP", "QZ7INSTOWNER"), "PC");
  EXPECT_EQ(Nodes("MPP"), "7");
  EXPECT_EQ(Nodes("QZ7"), "0");
  EXPECT_EQ(h::IsInstanceDefined("MPQ"), false);
}

// An earlier release's partitioned instance moved to this installation: updated by the host,
// its new directory shared, the services of all its nodes pointed at this installation.
TEST_F(InstanceToolsTest, MovedPartitionedInstance) {
  BuildMachine({{.name = "MPP",
                 .version = 0x900,
                 .nodeType = 4,
                 .nodes = {"0", "1"},
                 .portRange = "60000:60003",
                 .owner = "SAMPLEPC"}});
  current_ = "\"C:\\OLDPROF\"";
  machine_->MakeDirectory("C:\\OLDPROF");
  existing_ = {Existing("MPP", 4)};
  EXPECT_EQ(CreateOrUpdateInstance(Context(), MakeRequest({.name = "MPP", .nodeType = 4}), false),
            0);
  EXPECT_EQ(boxes_, Lines{});
  EXPECT_EQ(ServiceProgram("MPP-0"), "\"C:\\QZ7\\bin\\qz7syscs.exe\"");
  EXPECT_EQ(ServiceProgram("MPP-1"), "\"C:\\QZ7\\bin\\qz7syscs.exe\"");
  h::ShareConfig share;
  ASSERT_EQ(h::QueryShare("QZ7-MPP", &share), 0);
  EXPECT_EQ(share.path, "C:\\PROF");
  EXPECT_EQ(share.group, "Everyone");
}

TEST_F(InstanceToolsTest, AdministrationServer) {
  BuildMachine({});
  EXPECT_EQ(CreateOrUpdateInstance(Context(), MakeRequest({.name = "QZ7DAS", .nodeType = 1}), true),
            0);
  std::string admin;
  EXPECT_EQ(h::ReadProfileVariable(h::kGlobalProfile, "QZ7ADMINSERVER", &admin), 0);
  EXPECT_EQ(admin, "QZ7DAS");
  EXPECT_TRUE(h::IsRegularFile("C:\\PROF\\QZ7DAS\\qz7systm"));
  EXPECT_EQ(ServiceProgram("QZ7DAS"), "C:\\QZ7\\bin\\qz7syscs.exe");
}

}  // namespace
}  // namespace qz7::provision
