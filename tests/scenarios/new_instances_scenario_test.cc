// New instances asked for by descriptors on a fresh installation (a plain default instance,
// the administration server, a partitioned instance made by the instance tool, and a request
// that fails), and removing everything again with deleteInstances.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/profile_registry.h"
#include "testkit/dbm_block_builder.h"
#include "tests/scenarios/scenario_fixture.h"

namespace qz7::scenarios {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using testkit::AdminServerDescriptor;
using testkit::PartitionedDescriptor;
using testkit::PlainDescriptor;

// The node type of an instance's qz7systm, or -1 when it is missing or not a valid block.
int NodeTypeOf(const std::optional<FileBytes>& config) {
  if (!config || config->size() != testkit::kDbmFileSize || !testkit::DbmChecksumMatches(*config)) {
    return -1;
  }
  return testkit::DbmU16(*config, 40);
}

struct FailingRequest {
  const char* name;
  InstanceDescriptor descriptor;
  unsigned wantBox;
  std::vector<std::string> wantParams;  // compared where not empty
  bool wantLogLines;  // the tool's command line (password hidden) and output are logged
};

void PrintTo(const FailingRequest& row, std::ostream* out) { *out << row.name; }

class NewInstancesTest : public ScenarioTest,
                         public ::testing::WithParamInterface<FailingRequest> {};

TEST_P(NewInstancesTest, EveryGoodRequestIsSetUpBesideAFailingOne) {
  const FailingRequest& failing = GetParam();
  Build(testkit::CurrentInstallation(QZ7_CLI_PATH));

  const int result = Create(
      "", "", kInstallDir,
      {PlainDescriptor("SALES", true, "dbuser", "secret1"), AdminServerDescriptor("QZ7DAS00"),
       failing.descriptor, PartitionedDescriptor("MPP", "60000", "60003", "mppuser", "secret2")});

  EXPECT_EQ(result, 1);
  ASSERT_EQ(messages_->boxes().size(), 1u);
  const MessageRecorder::Box& box = messages_->boxes()[0];
  EXPECT_EQ(box.id, failing.wantBox);
  EXPECT_EQ(box.style, 0x10u);
  for (size_t i = 0; i < failing.wantParams.size(); ++i) {
    ASSERT_LT(i, box.params.size());
    if (!failing.wantParams[i].empty()) {
      EXPECT_EQ(box.params[i], failing.wantParams[i]);
    }
  }
  const std::vector<std::string> log = messages_->LogLines();
  if (failing.wantLogLines) {
    ASSERT_GE(log.size(), 2u);
    EXPECT_THAT(log[log.size() - 2],
                AllOf(HasSubstr("QZ7ICRT.EXE"), HasSubstr("BADMPP"),
                      HasSubstr("/u:baduser,*******"), Not(HasSubstr("secret3"))));
    EXPECT_THAT(log.back(), HasSubstr("port range"));
  }
  EXPECT_FALSE(Defined(failing.descriptor.name));

  EXPECT_TRUE(Defined("SALES"));
  EXPECT_EQ(InstanceVariable("SALES", "QZ7INSTPROF"), kInstallDir);
  EXPECT_EQ(NodeTypeOf(Read("C:\\QZ7\\SALES\\qz7systm")), 1);
  EXPECT_EQ(ServiceProgram("SALES"), kServiceProgram);
  EXPECT_EQ(GlobalVariable("QZ7INSTDEF"), "SALES");

  EXPECT_TRUE(Defined("QZ7DAS00"));
  EXPECT_EQ(GlobalVariable("QZ7ADMINSERVER"), "QZ7DAS00");
  EXPECT_EQ(NodeTypeOf(Read("C:\\QZ7\\QZ7DAS00\\qz7systm")), 1);

  EXPECT_TRUE(Defined("MPP"));
  EXPECT_EQ(InstanceVariable("MPP", "QZ7INSTOWNER"), "SAMPLEPC");
  EXPECT_NE(InstanceVariable("MPP", "QZ7PORTRANGE"), "<unset>");
  EXPECT_EQ(NodeTypeOf(Read("C:\\QZ7\\MPP\\qz7systm")), 4);
  EXPECT_EQ(ServiceProgram("MPP-0"), kServiceProgram);

  // No default "QZ7" is added when instances are requested.
  EXPECT_FALSE(Defined("QZ7"));
  EXPECT_THAT(NumberedFiles(kInstallDir), IsEmpty());
}

FailingRequest ToolFails() {
  return {"partitioned_tool_rejects_the_port_range",
          PartitionedDescriptor("BADMPP", "60010", "60000", "baduser", "secret3"),
          5182,
          {"1"},
          true};
}
FailingRequest HostRefusesTheName() {
  return {"plain_name_the_host_refuses", PlainDescriptor("BAD+NAM"), 3594, {"", "BAD+NAM"}, false};
}

INSTANTIATE_TEST_SUITE_P(FailingRequests, NewInstancesTest,
                         ::testing::Values(ToolFails(), HostRefusesTheName()),
                         [](const auto& info) { return std::string(info.param.name); });

// Nothing requested and nothing installed: the default instance "QZ7" is created.
TEST_F(ScenarioTest, AnEmptyMachineGetsTheDefaultInstance) {
  Build(testkit::CurrentInstallation());
  EXPECT_EQ(Create("", "", kInstallDir), 0);
  EXPECT_TRUE(Defined("QZ7"));
  EXPECT_EQ(GlobalVariable("QZ7INSTDEF"), "QZ7");
  EXPECT_EQ(NodeTypeOf(Read("C:\\QZ7\\QZ7\\qz7systm")), 1);
}

// deleteInstances after a set-up removes every instance, the profile registry, the services
// and the emptied profile directories, and never a drive root or a directory still in use.
struct RemovalRow {
  const char* name;
  const char* profileDir;          // where the instances live
  const char* otherFile;           // a file put beside the profile directory first ("": none)
  std::vector<const char*> gone;   // directories removed
  std::vector<const char*> stays;  // directories kept
};

void PrintTo(const RemovalRow& row, std::ostream* out) { *out << row.name; }

class RemovalScenarioTest : public ScenarioTest,
                            public ::testing::WithParamInterface<RemovalRow> {};

TEST_P(RemovalScenarioTest, EverythingOfTheInstancesGoes) {
  const RemovalRow& row = GetParam();
  const bool ownProfile = std::string(row.profileDir) != kInstallDir;
  testkit::SampleMachine plan = testkit::CurrentInstallation();
  std::vector<std::string> instances = {"SALES", "QZ7DAS00"};
  if (!ownProfile) {
    // An upgrade from an earlier release that adds one instance.
    for (const OldInstance& old : {testkit::MakeOldInstance("QZ7", {.seed = 1}),
                                   testkit::MakeOldInstance("QZ7DAS00", {.seed = 2})}) {
      testkit::AddOldInstance(plan, old, kOldProfileDir);
    }
    plan.adminServer = "QZ7DAS00";
    instances.push_back("QZ7");
  }
  Build(plan);
  if (row.otherFile[0] != '\0') machine_.WriteText(row.otherFile, "keep");
  if (ownProfile) {
    // The profile directory stays the target because another one is asked for.
    machine_.MakeDirectory(row.profileDir);
    ASSERT_EQ(Create(row.profileDir, "C:\\OTHER", kInstallDir,
                     {PlainDescriptor("SALES", true), AdminServerDescriptor("QZ7DAS00")}),
              0);
  } else {
    ASSERT_EQ(Upgrade({PlainDescriptor("SALES")}), 0);
  }
  for (const std::string& name : instances) {
    ASSERT_TRUE(Defined(name)) << name;
    ASSERT_TRUE(IsDirectory(std::string(row.profileDir) + "\\" + name)) << name;
  }

  Delete(row.profileDir, kInstallDir);

  std::vector<std::string> left;
  EXPECT_EQ(host::ListInstances(&left), 0);
  EXPECT_THAT(left, IsEmpty());
  EXPECT_EQ(GlobalVariable("QZ7INSTDEF"), "<unset>");
  EXPECT_EQ(GlobalVariable("QZ7ADMINSERVER"), "<unset>");
  for (const std::string& name : instances) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ServiceProgram(name), "");
    EXPECT_FALSE(Exists(std::string(row.profileDir) + "\\" + name));
  }
  for (const char* dir : row.gone) EXPECT_FALSE(Exists(dir)) << dir;
  for (const char* dir : row.stays) EXPECT_TRUE(IsDirectory(dir)) << dir;
  if (row.otherFile[0] != '\0') {
    EXPECT_TRUE(Exists(row.otherFile));
  }
  EXPECT_TRUE(IsDirectory("C:\\"));
}

INSTANTIATE_TEST_SUITE_P(AfterASetUp, RemovalScenarioTest,
                         ::testing::Values(RemovalRow{"profile_in_the_installation",
                                                      kInstallDir,
                                                      "",
                                                      {},
                                                      {kInstallDir, "C:\\QZ7\\CFG"}},
                                           RemovalRow{"own_profile_directory_up_to_the_drive",
                                                      "C:\\DATA\\PROFILES",
                                                      "",
                                                      {"C:\\DATA\\PROFILES", "C:\\DATA"},
                                                      {kInstallDir}},
                                           RemovalRow{"own_profile_directory_beside_other_files",
                                                      "C:\\DATA\\PROFILES",
                                                      "C:\\DATA\\keep.txt",
                                                      {"C:\\DATA\\PROFILES"},
                                                      {"C:\\DATA", kInstallDir}}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qz7::scenarios
