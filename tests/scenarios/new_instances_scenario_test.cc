// New instances asked for by descriptors on a fresh installation (a plain default instance,
// the administration server, a partitioned instance made by the instance tool, and a request
// that fails), and removing everything again with deleteInstances.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/profile_registry.h"
#include "tests/scenarios/scenario_fixture.h"
#include "tools/sample/dbm_block_builder.h"

namespace qz7::scenarios {
namespace {

using ::testing::IsEmpty;
using testkit::AdminServerDescriptor;
using testkit::PartitionedDescriptor;
using testkit::PlainDescriptor;
using NewInstancesTest = ScenarioTest;

// A partitioned instance whose tool rejects its port range fails (message 5182, the tool's
// command line and output logged) while every other request is set up.
TEST_F(NewInstancesTest, EveryGoodRequestIsSetUpBesideAFailingOne) {
  Build(testkit::CurrentInstallation(QZ7_CLI_PATH));
  EXPECT_EQ(Create("", "",
                   {PlainDescriptor("SALES", true, "dbuser", "secret1"),
                    AdminServerDescriptor("QZ7DAS00"),
                    PartitionedDescriptor("BADMPP", "60010", "60000", "baduser", "secret3"),
                    PartitionedDescriptor("MPP", "60000", "60003", "mppuser", "secret2")}),
            1);
  const MessageRecorder::Box box = {5182, {"1"}, 0x10};
  EXPECT_EQ(messages_->boxes(), std::vector<MessageRecorder::Box>{box});
  // The tool's command line, its password hidden, then what the tool wrote (a Windows tool's
  // CR LF splits its output into lines of the log).
  std::string log;
  for (const std::string& line : messages_->LogLines()) log += line + "\n";
  const size_t command =
      log.find(R"("C:\QZ7\BIN\QZ7ICRT.EXE" BADMPP /mpp "/u:baduser,*******" /r:60010,60000)");
  EXPECT_NE(command, std::string::npos) << log;
  EXPECT_NE(log.find("\nQZ7ICRT: the port range ends before it starts", command), std::string::npos)
      << log;
  EXPECT_FALSE(host::IsInstanceDefined("BADMPP"));

  EXPECT_EQ(Variable("SALES", "QZ7INSTPROF"), kInstallDir);
  EXPECT_EQ(ConfigField("C:\\QZ7\\SALES", 40), 1);
  EXPECT_EQ(ServiceProgram("SALES"), kServiceProgram);
  EXPECT_EQ(Variable("", "QZ7INSTDEF"), "SALES");

  EXPECT_EQ(Variable("", "QZ7ADMINSERVER"), "QZ7DAS00");
  EXPECT_EQ(ConfigField("C:\\QZ7\\QZ7DAS00", 40), 1);

  EXPECT_EQ(Variable("MPP", "QZ7INSTOWNER"), "SAMPLEPC");
  EXPECT_NE(Variable("MPP", "QZ7PORTRANGE"), "<unset>");
  EXPECT_EQ(ConfigField("C:\\QZ7\\MPP", 40), 4);
  EXPECT_EQ(ServiceProgram("MPP-0"), kServiceProgram);

  // No default "QZ7" is added when instances are requested.
  EXPECT_FALSE(host::IsInstanceDefined("QZ7"));
  EXPECT_THAT(FilesBelow(kInstallDir, true), IsEmpty());
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
  sample::SampleMachine plan = testkit::CurrentInstallation();
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
    ASSERT_EQ(Create(row.profileDir, "C:\\OTHER",
                     {PlainDescriptor("SALES", true), AdminServerDescriptor("QZ7DAS00")}),
              0);
  } else {
    ASSERT_EQ(Upgrade({PlainDescriptor("SALES")}), 0);
  }
  for (const std::string& name : instances) {
    ASSERT_TRUE(host::IsInstanceDefined(name)) << name;
    ASSERT_TRUE(Exists(std::string(row.profileDir) + "\\" + name, true)) << name;
  }

  Delete(row.profileDir);

  std::vector<std::string> left;
  EXPECT_EQ(host::ListInstances(&left), 0);
  EXPECT_THAT(left, IsEmpty());
  EXPECT_EQ(Variable("", "QZ7INSTDEF"), "<unset>");
  EXPECT_EQ(Variable("", "QZ7ADMINSERVER"), "<unset>");
  for (const std::string& name : instances) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ServiceProgram(name), "");
    EXPECT_FALSE(Exists(std::string(row.profileDir) + "\\" + name));
  }
  for (const char* dir : row.gone) EXPECT_FALSE(Exists(dir)) << dir;
  for (const char* dir : row.stays) EXPECT_TRUE(Exists(dir, true)) << dir;
  EXPECT_TRUE(row.otherFile[0] == '\0' || Exists(row.otherFile));
  EXPECT_TRUE(Exists("C:\\", true));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(AfterASetUp, RemovalScenarioTest, ::testing::Values(
    RemovalRow{"profile_in_the_installation", kInstallDir, "", {}, {kInstallDir, "C:\\QZ7\\CFG"}},
    RemovalRow{"own_profile_directory_up_to_the_drive", "C:\\DATA\\PROFILES", "",
               {"C:\\DATA\\PROFILES", "C:\\DATA"}, {kInstallDir}},
    RemovalRow{"own_profile_directory_beside_other_files", "C:\\DATA\\PROFILES",
               "C:\\DATA\\keep.txt", {"C:\\DATA\\PROFILES"}, {"C:\\DATA", kInstallDir}}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
}  // namespace qz7::scenarios
