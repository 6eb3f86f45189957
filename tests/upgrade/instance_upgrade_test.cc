// Upgrading an instance: copying, moving and clearing directory trees (and what a failing copy
// leaves behind in move mode); the configuration file, whose template is filled from the old
// file, whose saved copy is removed only after a successful conversion, and whose failure is
// reported with the old configuration kept; and the migration or clearing of its directories.
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
#include "upgrade/directory_tree.h"

namespace qz7::upgrade {
namespace {

using Paths = std::vector<std::string>;

// C:\P\I with two files and a nested directory, and a neighbour that keeps C:\P busy.
void MakeTree(const testkit::TempMachine& machine) {
  machine.WriteText("C:\\P\\I\\qz7systm", "config");
  machine.WriteText("C:\\P\\I\\SQLDBDIR\\SQLDBDIR", "dir");
  machine.WriteText("C:\\P\\I\\SQLDBDIR\\DEEP\\F", "deep");
  machine.WriteText("C:\\P\\OTHER", "busy");
}

TEST(DirectoryTreeTest, CopyAndMove) {
  const std::string tooLong = "C:\\" + std::string(300, 'x');
  struct Row {
    const char *name, *source, *destination;
    bool move;
    int want;
    Paths present, absent;
    bool leftover = false;  // C:\P\I.MOVED, what an interrupted move left, is there too
  } rows[] = {
      // clang-format off
      {"copy_keeps_source", "C:\\P\\I", "\"c:\\new\\i\"", false, 0,
       {"C:\\NEW\\I\\SQLDBDIR\\DEEP\\F", "C:\\P\\I\\SQLDBDIR\\DEEP\\F"}, {}},
      {"move_removes_emptied_source", "\"C:\\P\\I\"", "C:\\NEW\\I", true, 0,
       {"C:\\NEW\\I\\qz7systm", "C:\\NEW\\I\\SQLDBDIR\\DEEP\\F", "C:\\P\\OTHER"}, {"C:\\P\\I"}},
      {"empty_destination_deletes", "C:\\P\\I", "", false, 0, {"C:\\P\\OTHER"}, {"C:\\P\\I"}},
      {"onto_itself", "C:\\P\\I", "\"c:\\p\\i\\\"", true, 0, {"C:\\P\\I\\qz7systm"}, {}},
      {"into_itself", "C:\\P\\I", "C:\\P\\I\\SUB", true, kTreeDestinationInside,
       {"C:\\P\\I\\qz7systm"}, {"C:\\P\\I\\SUB"}},
      {"sibling_with_common_prefix", "C:\\P\\I", "C:\\P\\IX", true, 0, {"C:\\P\\IX\\qz7systm"},
       {"C:\\P\\I"}},
      {"bad_source", tooLong.c_str(), "C:\\NEW", true, kTreeBadSource, {"C:\\P\\I\\qz7systm"},
       {"C:\\NEW"}},
      {"finishes_a_moved_aside_leftover", "C:\\P\\I", "C:\\NEW\\I", true, 0,
       {"C:\\NEW\\I\\qz7systm", "C:\\P\\OTHER"}, {"C:\\P\\I.MOVED", "C:\\P\\I"}, true},
      {"copy_leaves_it", "C:\\P\\I", "C:\\NEW\\I", false, 0, {"C:\\P\\I.MOVED\\SQLDBDIR\\X"},
       {}, true},
      // clang-format on
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    testkit::TempMachine machine;
    MakeTree(machine);
    if (row.leftover) machine.WriteText("C:\\P\\I.MOVED\\SQLDBDIR\\X", "moved");
    EXPECT_EQ(CopyDirectoryTree(row.source, row.destination, row.move), row.want);
    for (const std::string& path : row.present) EXPECT_TRUE(machine.Exists(path)) << path;
    for (const std::string& path : row.absent) EXPECT_FALSE(machine.Exists(path)) << path;
  }
}

// Whatever file operation fails, a move never loses a file nor splits the tree: a move that
// reports itself complete has every file at the destination; one that does not has left the
// source whole, for a later move to copy over again. Both ways of moving are covered: the
// rename when the destination is new, and copy-then-delete when it exists already.
TEST(DirectoryTreeTest, FailingOperationDuringAMoveNeverSplitsTheTree) {
  const Paths files = {"qz7systm", "SQLDBDIR\\SQLDBDIR", "SQLDBDIR\\DEEP\\F"};
  for (const bool destinationExists : {false, true}) {
    SCOPED_TRACE(destinationExists ? "destination exists" : "new destination");
    auto prepare = [&](const testkit::TempMachine& machine) {
      MakeTree(machine);
      if (destinationExists) machine.WriteText("C:\\NEW\\I\\qz7systm", "older");
    };
    uint64_t operations = 0;
    {
      testkit::TempMachine machine;
      prepare(machine);
      platform::ResetFileOperationCount();
      int failure = -1;
      CopyDirectoryTree("C:\\P\\I", "C:\\NEW\\I", true, &failure);
      operations = platform::FileOperationCount();
      EXPECT_EQ(failure, 0);
      EXPECT_FALSE(machine.Exists("C:\\P\\I"));
      EXPECT_EQ(machine.ReadFile("C:\\NEW\\I\\qz7systm").size(), 6u) << "the source's copy wins";
    }
    ASSERT_GT(operations, destinationExists ? 20u : 3u);
    for (uint64_t n = 1; n <= operations; ++n) {
      SCOPED_TRACE("failing operation " + std::to_string(n));
      testkit::TempMachine machine;
      prepare(machine);
      platform::SetFaultPlan({.triggerAt = n, .error = platform::kErrorDiskFull});
      int failure = -1;
      CopyDirectoryTree("C:\\P\\I", "C:\\NEW\\I", true, &failure);
      platform::ClearFaultPlan();
      const bool complete = failure == 0;
      for (const std::string& file : files) {
        const std::string whole = complete ? "C:\\NEW\\I\\" + file : "C:\\P\\I\\" + file;
        EXPECT_FALSE(machine.ReadFile(whole).empty()) << whole;
      }
      EXPECT_TRUE(machine.Exists("C:\\P\\OTHER"));
    }
  }
}

TEST(DirectoryTreeTest, DeleteMatchingFiles) {
  struct Row {
    const char *name, *pattern, *directory;
    Paths present, absent;
  } rows[] = {
      // clang-format off
      {"index_file_only", "qz7idir", "\"C:\\P\"", {"C:\\P\\I\\qz7systm"}, {"C:\\P\\QZ7IDIR"}},
      {"every_file", "*", "C:\\P\\I\\SQLDBDIR\\", {"C:\\P\\I\\SQLDBDIR\\DEEP\\F"},
       {"C:\\P\\I\\SQLDBDIR\\SQLDBDIR", "C:\\P\\I\\SQLDBDIR\\SQLDBINS"}},
      {"question_marks", "SQLDB???", "C:\\P\\I\\SQLDBDIR", {"C:\\P\\I\\SQLDBDIR\\DEEP"},
       {"C:\\P\\I\\SQLDBDIR\\SQLDBINS"}},
      {"null_pattern", nullptr, "C:\\P", {"C:\\P\\QZ7IDIR"}, {}},
      // clang-format on
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    testkit::TempMachine machine;
    MakeTree(machine);
    machine.WriteText("C:\\P\\QZ7IDIR", "index");
    machine.WriteText("C:\\P\\I\\SQLDBDIR\\SQLDBINS", "intention");
    DeleteMatchingFiles(row.pattern, row.directory);
    for (const std::string& path : row.present) EXPECT_TRUE(machine.Exists(path)) << path;
    for (const std::string& path : row.absent) EXPECT_FALSE(machine.Exists(path)) << path;
  }
}

using testkit::DbmBlockBuilder;
using testkit::MessageRecorder;
using Bytes = std::vector<unsigned char>;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kConfig = "C:\\P\\INST1\\qz7systm";
constexpr const char* kTemplate = "C:\\QZ7\\CFG\\qz7syssv";

class InstanceUpgradeTest : public ::testing::Test {
 protected:
  void SetUp() override { machine_.WriteFile(kTemplate, DbmBlockBuilder().U32(76, 200).Bytes()); }
  int Upgrade() {
    MessageTarget target{messages_.logFile(), messages_.module(), messages_.owner()};
    return UpgradeInstanceConfiguration(target, "\"C:\\P\\INST1\"", kTemplate);
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
// without one, the template; a directory so long that no temporary name fits beside the
// configuration changes nothing. Each reports 3608 with the code and 3573 with the name.
TEST_F(InstanceUpgradeTest, FailedConversionKeepsTheOldConfigurationAndReports) {
  const Bytes damaged = DbmBlockBuilder().Version(0x800).WrongChecksum().Bytes();
  const Bytes templateBytes = machine_.ReadFile(kTemplate);
  const std::string longName(248, 'L');
  const struct {
    const char* name;
    std::string folder;
    std::optional<Bytes> config;
    Bytes expected;
    int code;
  } kCases[] = {
      {"damaged", "INST1", damaged, damaged, kDbmChecksumError},
      {"no qz7systm", "INST1", std::nullopt, templateBytes, kDbmFileError},
      {"no free temporary name", longName, old_, old_, -10},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    MessageRecorder messages;
    testkit::TempMachine machine;
    const std::string dir = "C:\\P\\" + c.folder, config = dir + "\\qz7systm";
    machine.WriteFile(kTemplate, templateBytes);
    machine.MakeDirectory(dir);
    if (c.config) machine.WriteFile(config, *c.config);
    MessageTarget target{messages.logFile(), messages.module(), messages.owner()};
    EXPECT_EQ(UpgradeInstanceConfiguration(target, ("\"" + dir + "\"").c_str(), kTemplate), 1);
    EXPECT_EQ(machine.ReadFile(config), c.expected);
    EXPECT_FALSE(machine.Exists(dir + "\\00000000.000"));
    EXPECT_FALSE(machine.Exists(dir + "\\qz7systm.upg"));
    EXPECT_THAT(messages.boxes(), ElementsAre(MessageRecorder::Box{3573, {c.folder}, 0x40}));
    EXPECT_THAT(messages.LogLines(),
                Contains("The instance set-up ended with code " + std::to_string(c.code) + "."));
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
