// Upgrading an instance's configuration file: the template is filled from the old file, the
// saved copy is removed only after a successful conversion, and a failure is reported with
// the old configuration kept.
#include "upgrade/instance_upgrade.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/win_error.h"
#include "testkit/dbm_block_builder.h"
#include "testkit/message_recorder.h"
#include "testkit/temp_machine.h"
#include "upgrade/dbm_configuration_conversion.h"

namespace qz7::upgrade {
namespace {

using testkit::DbmBlockBuilder;
using testkit::MessageRecorder;
using Bytes = std::vector<unsigned char>;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kConfig = "C:\\P\\INST1\\qz7systm";
constexpr const char* kSaved = "C:\\P\\INST1\\00000000.000";
constexpr const char* kTemplate = "C:\\QZ7\\CFG\\qz7syssv";

class InstanceUpgradeTest : public ::testing::Test {
 protected:
  void SetUp() override { machine_.WriteFile(kTemplate, DbmBlockBuilder().U32(76, 200).Bytes()); }
  int Upgrade(const char* instanceDir = "\"C:\\P\\INST1\"") {
    MessageTarget target{messages_.logFile(), messages_.module(), messages_.owner()};
    return UpgradeInstanceConfiguration(target, instanceDir, kTemplate);
  }

  testkit::TempMachine machine_;
  MessageRecorder messages_;
  const Bytes old_ = DbmBlockBuilder().Version(0x800).U32(76, 300).Text(1130, 256, "D").Bytes();
};

TEST_F(InstanceUpgradeTest, ConvertsIntoTheTemplateAndDropsTheSavedCopy) {
  machine_.WriteFile(kConfig, old_);
  machine_.WriteText("C:\\P\\INST1\\00000000.000", "someone else's file");
  EXPECT_EQ(Upgrade(), 0);
  const Bytes converted = machine_.ReadFile(kConfig);
  EXPECT_EQ(testkit::DbmU16(converted, 16), 0x900);  // the template's own version stays
  EXPECT_EQ(testkit::DbmU32(converted, 76), 300u);
  EXPECT_EQ(testkit::DbmText(converted, 1130, 256), "D");
  EXPECT_EQ(testkit::DbmU16(converted, 18), 4096);  // put back into range before the checksum
  EXPECT_TRUE(testkit::DbmChecksumMatches(converted));
  EXPECT_FALSE(machine_.Exists("C:\\P\\INST1\\00000001.000"));
  EXPECT_TRUE(machine_.Exists("C:\\P\\INST1\\00000000.000"));
  EXPECT_THAT(messages_.boxes(), IsEmpty());
}

// A conversion that cannot run leaves the old configuration in qz7systm, or, for an instance
// without one, the template; both report 3608 with the code and 3573 with the name.
TEST_F(InstanceUpgradeTest, FailedConversionKeepsTheOldConfigurationAndReports) {
  const Bytes damaged = DbmBlockBuilder().Version(0x800).WrongChecksum().Bytes();
  const Bytes templateBytes = machine_.ReadFile(kTemplate);
  const struct {
    const char* name;
    std::optional<Bytes> config;
    Bytes expected;
    int code;
  } kCases[] = {
      {"damaged", damaged, damaged, kDbmChecksumError},
      {"no qz7systm", std::nullopt, templateBytes, kDbmFileError},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    MessageRecorder messages;
    testkit::TempMachine machine;
    machine.WriteFile(kTemplate, templateBytes);
    machine.MakeDirectory("C:\\P\\INST1");
    if (c.config) machine.WriteFile(kConfig, *c.config);
    MessageTarget target{messages.logFile(), messages.module(), messages.owner()};
    EXPECT_EQ(UpgradeInstanceConfiguration(target, "\"C:\\P\\INST1\"", kTemplate), 1);
    EXPECT_EQ(machine.ReadFile(kConfig), c.expected);
    EXPECT_FALSE(machine.Exists(kSaved));
    EXPECT_FALSE(machine.Exists("C:\\P\\INST1\\qz7systm.upg"));
    EXPECT_THAT(messages.boxes(), ElementsAre(MessageRecorder::Box{3573, {"INST1"}, 0x40}));
    EXPECT_EQ(messages.LogLines().end()[-2],
              "The instance set-up ended with code " + std::to_string(c.code) + ".");
  }
}

// What an interrupted creation or upgrade left beside qz7systm is finished before the
// conversion: a configuration saved and not put back is the instance's own (qz7systm holds
// the template), a cut-short copy is a prefix of qz7systm, a staged template is stale.
TEST_F(InstanceUpgradeTest, FinishesWhatAnInterruptedRunLeft) {
  const Bytes templateBytes = machine_.ReadFile(kTemplate);
  const Bytes prefix(old_.begin(), old_.begin() + 1000);
  const struct {
    const char* name;
    std::optional<Bytes> config;
    std::vector<std::pair<std::string, Bytes>> left;
  } kCases[] = {
      {"saved, template in place", templateBytes, {{"qz7systm.000", old_}}},
      {"saved, qz7systm gone", std::nullopt, {{"qz7systm.003", old_}}},
      {"cut-short copy",
       old_,
       {{"qz7systm.000", prefix}, {"qz7systm.upg", templateBytes}, {"qz7systm.new", prefix}}},
      {"equal copy", old_, {{"qz7systm.001", old_}}},
      {"host's replaced copy, template in place", templateBytes, {{"qz7systm.old", old_}}},
      {"both, template in place", templateBytes, {{"qz7systm.000", old_}, {"qz7systm.old", old_}}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    testkit::TempMachine machine;
    machine.WriteFile(kTemplate, templateBytes);
    machine.MakeDirectory("C:\\P\\INST1");
    if (c.config) machine.WriteFile(kConfig, *c.config);
    for (const auto& [name, bytes] : c.left) machine.WriteFile("C:\\P\\INST1\\" + name, bytes);
    MessageRecorder messages;
    MessageTarget target{messages.logFile(), messages.module(), messages.owner()};
    EXPECT_EQ(UpgradeInstanceConfiguration(target, "C:\\P\\INST1", kTemplate), 0);
    EXPECT_EQ(testkit::DbmU32(machine.ReadFile(kConfig), 76), 300u);
    EXPECT_EQ(testkit::DbmText(machine.ReadFile(kConfig), 1130, 256), "D");
    for (const auto& [name, bytes] : c.left) {
      EXPECT_FALSE(machine.Exists("C:\\P\\INST1\\" + name)) << name;
    }
  }
}

// Whatever file operation fails, the configuration file keeps the old configuration or holds
// the converted one.
TEST_F(InstanceUpgradeTest, NoFailingOperationLosesTheOldConfiguration) {
  machine_.WriteFile(kConfig, old_);
  platform::ResetFileOperationCount();
  ASSERT_EQ(Upgrade(), 0);
  const uint64_t operations = platform::FileOperationCount();
  for (uint64_t n = 1; n <= operations; ++n) {
    SCOPED_TRACE("failing operation " + std::to_string(n));
    testkit::TempMachine machine;
    machine.WriteFile(kTemplate, DbmBlockBuilder().U32(76, 200).Bytes());
    machine.WriteFile(kConfig, old_);
    platform::SetFaultPlan({.triggerAt = n, .error = platform::kErrorDiskFull});
    const int result = Upgrade();
    platform::ClearFaultPlan();
    if (result == 0)
      EXPECT_EQ(testkit::DbmU32(machine.ReadFile(kConfig), 76), 300u);
    else
      EXPECT_EQ(machine.ReadFile(kConfig), old_);
  }
}

// A directory so long that no temporary name fits beside the configuration: nothing changes.
TEST_F(InstanceUpgradeTest, NoFreeTemporaryNameChangesNothing) {
  const std::string directory = "C:\\P\\" + std::string(248, 'L');
  machine_.WriteFile(directory + "\\qz7systm", old_);
  EXPECT_EQ(Upgrade(("\"" + directory + "\"").c_str()), 1);
  EXPECT_EQ(machine_.ReadFile(directory + "\\qz7systm"), old_);
  EXPECT_THAT(messages_.boxes(),
              ElementsAre(MessageRecorder::Box{3573, {std::string(248, 'L')}, 0x40}));
  EXPECT_EQ(messages_.LogLines().front(), "The instance set-up ended with code -10.");
}

// Fake migrations that record their calls and end with the codes a test chose.
struct MigrationScript {
  int databaseCode = 0, nodeCode = 0;
  std::vector<std::string> calls;
};
MigrationScript* script = nullptr;
constexpr DirectoryMigrations kScripted = {
    [](const char* instanceDir, const char* installDir) {
      script->calls.push_back(std::string("database ") + instanceDir + " " + installDir);
      return script->databaseCode;
    },
    [](const char* instanceDir) {
      script->calls.push_back(std::string("node ") + instanceDir);
      return script->nodeCode;
    },
};

TEST(UpgradeInstanceDirectoriesTest, MigratesOrClearsEachFolder) {
  using Box = MessageRecorder::Box;
  struct Row {
    const char* name;
    std::vector<std::string> files;  // below C:\P\INST1
    int databaseCode, nodeCode, want;
    std::vector<std::string> calls, gone, kept;
    std::vector<Box> boxes;
  } rows[] = {
      // clang-format off
      {"both_migrated", {"SQLDBDIR\\SQLDBDIR", "SQLNODIR\\SQLNOBAK"}, 0, 0, 0,
       {"database C:\\P\\INST1 C:\\QZ7", "node C:\\P\\INST1"}, {}, {}, {}},
      {"both_fail_both_reported", {"SQLDBDIR\\SQLDBDIR", "SQLNODIR\\SQLNODIR"}, -101, -103, 1,
       {"database C:\\P\\INST1 C:\\QZ7", "node C:\\P\\INST1"}, {}, {},
       {Box{3578, {"-101", "INST1"}, 0x40}, Box{3574, {"-103", "INST1"}, 0x40}}},
      {"folders_without_directory_files_cleared",
       {"SQLDBDIR\\SQLDBINS", "SQLGWDIR\\STRAY", "SQLNODIR\\OLD"}, 0, 0, 0, {},
       {"SQLDBDIR\\SQLDBINS", "SQLGWDIR\\STRAY", "SQLNODIR\\OLD"}, {}, {}},
      {"gateway_directory_left_alone", {"SQLGWDIR\\SQLGWDIR", "SQLGWDIR\\OTHER"}, 0, 0, 0, {}, {},
       {"SQLGWDIR\\SQLGWDIR", "SQLGWDIR\\OTHER"}, {}},
      {"interrupted_migrations_repaired_not_cleared",
       {"SQLDBDIR\\SQLDDDIR.TMP", "SQLNODIR\\SQLNDDIR.TMP"}, 0, 0, 0,
       {"database C:\\P\\INST1 C:\\QZ7", "node C:\\P\\INST1"}, {},
       {"SQLDBDIR\\SQLDDDIR.TMP", "SQLNODIR\\SQLNDDIR.TMP"}, {}},
      // clang-format on
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    testkit::TempMachine machine;
    MessageRecorder messages;
    for (const std::string& file : row.files) machine.WriteText("C:\\P\\INST1\\" + file, "x");
    MigrationScript scripted{row.databaseCode, row.nodeCode, {}};
    script = &scripted;
    const MessageTarget target{messages.logFile(), messages.module(), messages.owner()};
    EXPECT_EQ(UpgradeInstanceDirectories("\"C:\\P\\INST1\"", "\"C:\\QZ7\"", target, kScripted),
              row.want);
    EXPECT_EQ(scripted.calls, row.calls);
    EXPECT_EQ(messages.boxes(), row.boxes);
    for (const std::string& f : row.gone) EXPECT_FALSE(machine.Exists("C:\\P\\INST1\\" + f)) << f;
    for (const std::string& f : row.kept) EXPECT_TRUE(machine.Exists("C:\\P\\INST1\\" + f)) << f;
  }
  script = nullptr;
  EXPECT_EQ(UpgradeInstanceDirectories("C:\\NOWHERE", "C:\\QZ7", {}, kScripted), 0);
}

}  // namespace
}  // namespace qz7::upgrade
