// Installing over an earlier release: instances move from the old profile directory into the
// installation with their configuration values, database and node directories carried into
// the current layouts; an index-file release's database directories at drive roots; and an
// instance's configuration that must survive whatever else goes on in the run.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "host/profile_registry.h"
#include "platform/file_system.h"
#include "testkit/dbm_block_builder.h"
#include "tests/scenarios/scenario_fixture.h"

namespace qz7::scenarios {
namespace {

using ::testing::IsEmpty;
using testkit::MakeOldInstance;

struct UpgradeRow {
  const char* name;
  int databaseLayout;
  int nodeLayout;
};

void PrintTo(const UpgradeRow& row, std::ostream* out) { *out << row.name; }

class UpgradeScenarioTest : public ScenarioTest,
                            public ::testing::WithParamInterface<UpgradeRow> {};

TEST_P(UpgradeScenarioTest, InstancesMoveIntoTheInstallationWithEverythingCarried) {
  const UpgradeRow& row = GetParam();
  testkit::SampleMachine plan = testkit::CurrentInstallation();
  plan.drives = {'C', 'E'};
  const std::vector<OldInstance> olds = {
      MakeOldInstance(
          "QZ7", {.seed = 1, .databaseLayout = row.databaseLayout, .nodeLayout = row.nodeLayout}),
      MakeOldInstance(
          "SALES", {.seed = 2, .databaseLayout = row.databaseLayout, .nodeLayout = row.nodeLayout}),
      MakeOldInstance("QZ7DAS00", {.seed = 3, .databaseLayout = 0, .nodeLayout = 0}),
  };
  for (const OldInstance& old : olds) testkit::AddOldInstance(plan, old, kOldProfileDir);
  plan.adminServer = "QZ7DAS00";
  plan.defaultInstance = "QZ7";
  const FileBytes clientConfig = {'[', 'Q', 'Z', '7', ']', '\r', '\n'};
  plan.files.push_back({std::string(kOldProfileDir) + "\\qz7cli.ini", clientConfig});
  Build(plan);

  EXPECT_EQ(Upgrade(), 0);
  EXPECT_THAT(messages_->boxes(), IsEmpty());
  for (const OldInstance& old : olds) {
    SCOPED_TRACE(old.name);
    const std::string dir = std::string(kInstallDir) + "\\" + old.name;
    EXPECT_TRUE(Defined(old.name));
    EXPECT_EQ(InstanceVariable(old.name, "QZ7INSTPROF"), kInstallDir);
    EXPECT_EQ(ServiceProgram(old.name), kServiceProgram);
    EXPECT_EQ(ConfigurationFate(old, dir, {kInstallDir}), ConfigFate::kCarried);
    EXPECT_EQ(ConfigLayout(dir), 0x900);
    if (!old.databaseDirectory.empty()) {
      EXPECT_EQ(DatabaseDirectoryFate(old, dir), DirectoryFate::kMigrated);
    }
    if (!old.nodeDirectory.empty()) {
      EXPECT_EQ(NodeDirectoryFate(old, dir), DirectoryFate::kMigrated);
    }
    EXPECT_THAT(NumberedFiles(dir), IsEmpty());
  }
  EXPECT_THAT(NumberedFiles(kInstallDir), IsEmpty());
  EXPECT_EQ(Read(std::string(kInstallDir) + "\\qz7cli.ini"), clientConfig);
  // The client configuration file moves after the instance directories, so the emptied old
  // profile directory itself may stay; nothing is left in it.
  EXPECT_THAT(FilesBelow(kOldProfileDir), IsEmpty());
  EXPECT_EQ(GlobalVariable("QZ7INSTDEF"), "QZ7");
  EXPECT_EQ(GlobalVariable("QZ7ADMINSERVER"), "QZ7DAS00");
  std::string pointer;
  EXPECT_EQ(host::ReadProfilePointer(host::kInstallDirValue, &pointer), 0);
  EXPECT_EQ(pointer, kInstallDir);
  EXPECT_EQ(host::ReadProfilePointer(host::kInstanceProfileDirValue, &pointer), 0);
  EXPECT_EQ(pointer, kInstallDir);
}

INSTANTIATE_TEST_SUITE_P(
    EveryOldLayout, UpgradeScenarioTest,
    ::testing::Values(UpgradeRow{"database1_node1", 1, 1}, UpgradeRow{"database2_node2", 2, 2},
                      UpgradeRow{"database3_node3", 3, 3}, UpgradeRow{"database4_node4", 4, 4},
                      UpgradeRow{"database2_node5", 2, 5}, UpgradeRow{"no_directories", 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// A release that kept an instance index file in its profile directory and its database
// directories at the roots of the drives: those on fixed drives are migrated, the one on a
// removable drive is left alone, and the index file goes.
TEST_F(ScenarioTest, IndexFileReleaseMigratesDatabaseDirectoriesAtFixedDriveRoots) {
  testkit::SampleMachine plan = testkit::CurrentInstallation();
  plan.drives = {'C', 'D', 'E'};
  plan.driveTypes['D'] = "removable";
  plan.indexFile = true;
  const OldInstance sales =
      MakeOldInstance("SALES", {.seed = 1, .version = 0x600, .databaseLayout = 2, .nodeLayout = 1});
  const OldInstance hr =
      MakeOldInstance("HR", {.seed = 2, .version = 0x600, .databaseLayout = 1, .nodeLayout = 0});
  const OldInstance removable = MakeOldInstance("SALES", {.seed = 5, .databaseLayout = 3});
  for (const OldInstance& old : {sales, hr}) {
    OldInstance inProfile = old;
    inProfile.databaseDirectory.clear();
    testkit::AddOldInstance(plan, inProfile, kOldProfileDir, /*inRegistry=*/false);
  }
  testkit::AddOldDatabaseDirectory(plan, sales, "C:");
  testkit::AddOldDatabaseDirectory(plan, hr, "E:");
  testkit::AddOldDatabaseDirectory(plan, removable, "D:");
  Build(plan);
  ASSERT_TRUE(Exists(std::string(kOldProfileDir) + "\\QZ7IDIR"));

  EXPECT_EQ(Upgrade(), 0);
  EXPECT_THAT(messages_->boxes(), IsEmpty());
  EXPECT_EQ(DatabaseDirectoryFate(sales, "C:\\SALES"), DirectoryFate::kMigrated);
  EXPECT_EQ(DatabaseDirectoryFate(hr, "E:\\HR"), DirectoryFate::kMigrated);
  EXPECT_EQ(Read("D:\\SALES\\SQLDBDIR\\SQLDBDIR"), removable.databaseDirectory);
  EXPECT_EQ(Read("D:\\SALES\\SQLDBDIR\\SQLDBINS"), removable.intention);
  EXPECT_FALSE(Exists("D:\\SALES\\SQLDBDIR\\SQLDDDIR.BAK"));
  EXPECT_FALSE(Exists(std::string(kOldProfileDir) + "\\QZ7IDIR"));
  EXPECT_FALSE(Exists(kOldProfileDir));
  for (const OldInstance& old : {sales, hr}) {
    SCOPED_TRACE(old.name);
    const std::string dir = std::string(kInstallDir) + "\\" + old.name;
    EXPECT_TRUE(Defined(old.name));
    EXPECT_EQ(ConfigurationFate(old, dir, {kInstallDir}), ConfigFate::kCarried);
    EXPECT_EQ(ConfigLayout(dir), 0x900);
  }
  EXPECT_EQ(NodeDirectoryFate(sales, std::string(kInstallDir) + "\\SALES"),
            DirectoryFate::kMigrated);
}

// An existing instance's configuration comes out of the run with its values, whatever the
// request for it and whatever fails on the way; where the conversion itself cannot run, the
// old file stays beside the new one under a numbered name.
struct SurvivalRow {
  const char* name;
  std::vector<InstanceDescriptor> descriptors;
  std::function<void(testkit::SampleMachine&, OldInstance&)> prepare;
  int wantResult;
  std::vector<unsigned> wantBoxes;
  const char* wantLogged;  // a line the setup log must hold ("": none)
  ConfigFate wantFate;
  uint16_t wantNodeType;  // of the instance's qz7systm afterwards (0: not checked)
};

void PrintTo(const SurvivalRow& row, std::ostream* out) { *out << row.name; }

class ConfigurationSurvivalTest : public ScenarioTest,
                                  public ::testing::WithParamInterface<SurvivalRow> {};

TEST_P(ConfigurationSurvivalTest, TheOldValuesAreNeverLost) {
  const SurvivalRow& row = GetParam();
  testkit::SampleMachine plan = testkit::CurrentInstallation(QZ7_CLI_PATH);
  OldInstance sales = MakeOldInstance("SALES", {.seed = 7});
  if (row.prepare) row.prepare(plan, sales);
  testkit::AddOldInstance(plan, sales, kOldProfileDir);
  Build(plan);

  EXPECT_EQ(Upgrade(row.descriptors), row.wantResult);
  EXPECT_EQ(BoxIds(*messages_), row.wantBoxes);
  if (row.wantLogged[0] != '\0') {
    EXPECT_THAT(messages_->LogLines(), ::testing::Contains(row.wantLogged));
  }
  const std::string dir = std::string(kInstallDir) + "\\SALES";
  std::string where;
  EXPECT_EQ(ConfigurationFate(sales, dir, {kInstallDir}, &where), row.wantFate) << where;
  if (row.wantNodeType != 0) {
    EXPECT_EQ(testkit::DbmU16(Read(dir + "\\qz7systm").value_or(FileBytes(64)), 40),
              row.wantNodeType);
  }
}

void DamageChecksum(testkit::SampleMachine&, OldInstance& old) { old.config[0] ^= 0x5A; }

INSTANTIATE_TEST_SUITE_P(
    WhateverHappens, ConfigurationSurvivalTest,
    ::testing::Values(
        SurvivalRow{"upgraded", {}, nullptr, 0, {}, "", ConfigFate::kCarried, 1},
        SurvivalRow{"requested_again_by_name",
                    {testkit::PlainDescriptor("sales", true)},
                    nullptr,
                    0,
                    {},
                    "",
                    ConfigFate::kCarried,
                    1},
        SurvivalRow{"made_partitioned_by_the_update_tool",
                    {testkit::PartitionedDescriptor("SALES", "60000", "60003", "user", "pw")},
                    nullptr,
                    0,
                    {},
                    "",
                    ConfigFate::kCarried,
                    4},
        SurvivalRow{"update_tool_fails",
                    {testkit::PartitionedDescriptor("SALES", "60010", "60000", "user", "pw")},
                    nullptr,
                    1,
                    {5294},
                    "",
                    ConfigFate::kCarried,
                    1},
        SurvivalRow{
            "no_server_template_so_creation_fails",
            {},
            // Without a template the configuration cannot be upgraded either: reported, and
            // the old file stays in place.
            [](testkit::SampleMachine& plan, OldInstance&) { plan.templates = {"qz7syssv.das"}; },
            1,
            {3594, 3573},
            "",
            ConfigFate::kCarried,
            1},
        SurvivalRow{"old_file_damaged_so_conversion_fails",
                    {},
                    DamageChecksum,
                    1,
                    {3573},
                    "The instance set-up ended with code -102.",
                    ConfigFate::kCopyOnly,
                    0},
        SurvivalRow{"old_file_of_an_unknown_layout",
                    {},
                    [](testkit::SampleMachine&, OldInstance& old) {
                      old.config = testkit::DbmBlockBuilder().Version(0x500).U16(36, 9000).Bytes();
                    },
                    1,
                    {3573},
                    "The instance set-up ended with code -101.",
                    ConfigFate::kCopyOnly,
                    0}),
    [](const auto& info) { return std::string(info.param.name); });

// A read-only qz7systm is upgraded like any other.
TEST_F(ScenarioTest, AReadOnlyConfigurationIsUpgraded) {
  testkit::SampleMachine plan = testkit::CurrentInstallation();
  const OldInstance sales = MakeOldInstance("SALES", {.seed = 4});
  testkit::AddOldInstance(plan, sales, kOldProfileDir);
  Build(plan);
  ASSERT_EQ(platform::SetFileWritable("C:\\QZ7PROF\\SALES\\qz7systm", false), 0);

  EXPECT_EQ(Upgrade(), 0);
  EXPECT_EQ(ConfigurationFate(sales, "C:\\QZ7\\SALES", {}), ConfigFate::kCarried);
  EXPECT_EQ(ConfigLayout("C:\\QZ7\\SALES"), 0x900);
}

// A database directory of layout 1 or 2 written with the long header is recognised as such
// (its size fits only that form) and must be converted entry for entry, or refused.
TEST_F(ScenarioTest, ALongHeaderDirectoryOfAnEarlyLayoutKeepsItsEntries) {
  testkit::SampleMachine plan = testkit::CurrentInstallation();
  const OldInstance sales = MakeOldInstance(
      "SALES", {.databaseLayout = 2, .databaseForm = testkit::DirectoryHeaderForm::kLong});
  testkit::AddOldInstance(plan, sales, kOldProfileDir);
  Build(plan);

  Upgrade();
  EXPECT_EQ(DatabaseDirectoryFate(sales, "C:\\QZ7\\SALES"), DirectoryFate::kMigrated);
}

}  // namespace
}  // namespace qz7::scenarios
