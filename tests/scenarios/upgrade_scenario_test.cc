// Installing over an earlier release: instances move from the old profile directory into the
// installation with their configuration values, database and node directories carried into
// the current layouts, and an instance's configuration that must survive whatever else goes
// on in the run. Each old layout's conversion is tested entry for entry where the migrations
// are; an index-file release (its drive-root database directories, when its index file goes)
// is the driver's tests' and, run for real, the create --check rows'.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "host/profile_registry.h"
#include "platform/file_system.h"
#include "tests/scenarios/scenario_fixture.h"
#include "tools/sample/dbm_block_builder.h"

namespace qz7::scenarios {
namespace {

using ::testing::IsEmpty;
using testkit::MakeOldInstance;

// The default instance and another one with the outermost directory layouts (one with a
// read-only qz7systm), the administration server without directories, and the client
// configuration file.
TEST_F(ScenarioTest, InstancesMoveIntoTheInstallationWithEverythingCarried) {
  sample::SampleMachine plan = testkit::CurrentInstallation();
  plan.drives = {'C', 'E'};
  const std::vector<OldInstance> olds = {
      MakeOldInstance("QZ7", {.seed = 1, .databaseLayout = 1, .nodeLayout = 1}),
      MakeOldInstance("SALES", {.seed = 2, .databaseLayout = 4, .nodeLayout = 5}),
      MakeOldInstance("QZ7DAS00", {.seed = 3, .databaseLayout = 0, .nodeLayout = 0}),
  };
  for (const OldInstance& old : olds) testkit::AddOldInstance(plan, old, kOldProfileDir);
  plan.adminServer = "QZ7DAS00";
  plan.defaultInstance = "QZ7";
  const FileBytes clientConfig = {'[', 'Q', 'Z', '7', ']', '\r', '\n'};
  plan.files.push_back({std::string(kOldProfileDir) + "\\qz7cli.ini", clientConfig});
  Build(plan);
  ASSERT_EQ(platform::SetFileWritable("C:\\QZ7PROF\\SALES\\qz7systm", false), 0);

  EXPECT_EQ(Upgrade(), 0);
  EXPECT_THAT(messages_->boxes(), IsEmpty());
  for (const OldInstance& old : olds) {
    SCOPED_TRACE(old.name);
    const std::string dir = std::string(kInstallDir) + "\\" + old.name;
    EXPECT_TRUE(host::IsInstanceDefined(old.name));
    EXPECT_EQ(Variable(old.name, "QZ7INSTPROF"), kInstallDir);
    EXPECT_EQ(ServiceProgram(old.name), kServiceProgram);
    EXPECT_EQ(ConfigurationFate(old, dir), ConfigFate::kCarried);
    EXPECT_EQ(ConfigField(dir, 16) & 0x0F00, 0x900);
    EXPECT_TRUE(old.databaseDirectory.empty() || DatabaseDirectoryMigrated(old, dir));
    EXPECT_TRUE(old.nodeDirectory.empty() || NodeDirectoryMigrated(old, dir));
    EXPECT_THAT(FilesBelow(dir, true), IsEmpty());
  }
  EXPECT_THAT(FilesBelow(kInstallDir, true), IsEmpty());
  EXPECT_EQ(Read(std::string(kInstallDir) + "\\qz7cli.ini"), clientConfig);
  // The client configuration file moves after the instance directories, so the emptied old
  // profile directory itself may stay; nothing is left in it.
  EXPECT_THAT(FilesBelow(kOldProfileDir), IsEmpty());
  EXPECT_EQ(Variable("", "QZ7INSTDEF"), "QZ7");
  EXPECT_EQ(Variable("", "QZ7ADMINSERVER"), "QZ7DAS00");
  for (const char* pointer : {host::kInstallDirValue, host::kInstanceProfileDirValue}) {
    std::string value;
    EXPECT_EQ(host::ReadProfilePointer(pointer, &value), 0);
    EXPECT_EQ(value, kInstallDir) << pointer;
  }
}

// An existing instance's configuration comes out of the run with its values, whatever the
// request for it and whatever fails on the way; where the conversion itself cannot run, the
// template takes the place of qz7systm (its node type shows) and the old file stays under a
// numbered name beside it.
struct SurvivalRow {
  const char* name;
  std::vector<InstanceDescriptor> descriptors;
  std::function<void(sample::SampleMachine&, OldInstance&)> prepare;
  int wantResult;
  std::vector<std::string> wantBoxes;  // "id parameters..."
  const char* wantLogged;              // a line the setup log must hold ("": none)
  ConfigFate wantFate;
  uint16_t wantNodeType;  // of the instance's qz7systm afterwards (0: not checked)
};

void PrintTo(const SurvivalRow& row, std::ostream* out) { *out << row.name; }

class ConfigurationSurvivalTest : public ScenarioTest,
                                  public ::testing::WithParamInterface<SurvivalRow> {};

TEST_P(ConfigurationSurvivalTest, TheOldValuesAreNeverLost) {
  const SurvivalRow& row = GetParam();
  sample::SampleMachine plan = testkit::CurrentInstallation(QZ7_CLI_PATH);
  OldInstance sales = MakeOldInstance("SALES", {.seed = 7});
  if (row.prepare) row.prepare(plan, sales);
  testkit::AddOldInstance(plan, sales, kOldProfileDir);
  Build(plan);

  EXPECT_EQ(Upgrade(row.descriptors), row.wantResult);
  std::vector<std::string> boxes;
  for (const MessageRecorder::Box& box : messages_->boxes()) {
    boxes.push_back(std::to_string(box.id));
    for (const std::string& param : box.params) boxes.back() += " " + param;
  }
  EXPECT_EQ(boxes, row.wantBoxes);
  if (row.wantLogged[0] != '\0') {
    EXPECT_THAT(messages_->LogLines(), ::testing::Contains(row.wantLogged));
  }
  const std::string dir = std::string(kInstallDir) + "\\SALES";
  EXPECT_EQ(ConfigurationFate(sales, dir), row.wantFate);
  EXPECT_TRUE(row.wantNodeType == 0 || ConfigField(dir, 40) == row.wantNodeType);
  // The instance is whole where it moved: the profile registry points there, and nothing of
  // it was made again in the folder it came from (as an instance tool would that looked for
  // it where the registry still placed it).
  if (row.wantResult == 0) {
    EXPECT_EQ(Variable("SALES", "QZ7INSTPROF"), kInstallDir);
    EXPECT_FALSE(Exists(std::string(kOldProfileDir) + "\\SALES"));
  }
}

using testkit::PartitionedDescriptor;
using Machine = sample::SampleMachine;

// clang-format off
INSTANTIATE_TEST_SUITE_P(WhateverHappens, ConfigurationSurvivalTest, ::testing::Values(
    SurvivalRow{"requested_again_by_name", {testkit::PlainDescriptor("sales", true)}, nullptr, 0,
                {}, "", ConfigFate::kCarried, 1},
    SurvivalRow{"made_partitioned_by_the_update_tool",
                {PartitionedDescriptor("SALES", "60000", "60003", "user", "pw")}, nullptr, 0, {},
                "",
                ConfigFate::kCarried, 4},
    SurvivalRow{"update_tool_fails", {PartitionedDescriptor("SALES", "60010", "60000", "u", "pw")},
                nullptr, 1, {"5294 1"}, "", ConfigFate::kCarried, 1},
    // Without a template the configuration cannot be upgraded either: reported, and the old
    // file stays in place (there is no template to put there).
    SurvivalRow{"no_server_template_so_creation_fails", {},
                [](Machine& plan, OldInstance&) { plan.templates = {"qz7syssv.das"}; }, 1,
                {"3594 -1033 SALES", "3573 SALES"}, "", ConfigFate::kCarried, 1},
    SurvivalRow{"old_file_damaged_so_conversion_fails", {},
                [](Machine&, OldInstance& old) { old.config[0] ^= 0x5A; }, 1, {"3573 SALES"},
                "The instance set-up ended with code -102.", ConfigFate::kCopyOnly, 1},
    SurvivalRow{"layout_0x700_into_a_template_of_another_node_type", {},
                [](Machine& plan, OldInstance& old) {
                  plan.templates = {"qz7sysst", "qz7syssv.das"};
                  old.config = sample::DbmBlockBuilder().Version(0x700).NodeType(1).Bytes();
                }, 1, {"3573 SALES"}, "The instance set-up ended with code -101.",
                ConfigFate::kCopyOnly, 5},
    SurvivalRow{"node_types_the_conversion_refuses", {},
                [](Machine& plan, OldInstance& old) {
                  plan.templates = {"qz7syssv", "qz7syssv.das"};
                  old.config = sample::DbmBlockBuilder().Version(0x800).NodeType(4).Bytes();
                }, 1, {"3573 SALES"}, "The instance set-up ended with code -5065.",
                ConfigFate::kCopyOnly, 1}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
}  // namespace qz7::scenarios
