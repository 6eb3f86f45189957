// Upgrading an instance: copying, moving and clearing directory trees (a move failing or
// stopped at any operation is the upgrade scenarios' loops' to check); the configuration
// file, whose template is filled from the old file, whose saved copy is removed only after a
// successful conversion, and whose failure is reported with the old configuration kept; and
// the migration or clearing of its directories. A conversion that fails leaves the template in
// place and the old configuration under a numbered name, also when stopped at any operation.
#include "upgrade/instance_upgrade.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "platform/win_error.h"
#include "testkit/fault_injection.h"
#include "testkit/fault_points.h"
#include "testkit/message_recorder.h"
#include "testkit/temp_machine.h"
#include "tools/sample/dbm_block_builder.h"
#include "upgrade/dbm_configuration_conversion.h"
#include "upgrade/folder_tree.h"

namespace qz7::upgrade {
namespace {

using Paths = std::vector<std::string>;

// Copying, moving (both through CopyDirectoryTree) and deleting matching files (source is
// then the pattern, destination the directory) in C:\P\I, a tree of three files and a nested
// directory, beside (unless alone) an index file and a neighbour that keeps C:\P busy.
TEST(FolderTreeTest, CopyMoveAndDeleteMatching) {
  const std::string tooLong = "C:\\" + std::string(300, 'x');
  enum Op { kCopy, kMove, kDeleteMatching };
  struct Row {
    const char *name, *source, *destination;
    Op op;
    int want;
    Paths present, absent;
    // C:\P holds nothing but the tree (no neighbour, no index file); the destination has a
    // file already (the move copies, then deletes). The set-up driver's moves keep the emptied
    // ancestors: the scenario failure loops hold them.
    bool alone = false, destinationExists = false;
  } rows[] = {
      // clang-format off
      {"copy_keeps_source", "C:\\P\\I", "\"c:\\new\\i\"", kCopy, 0,
       {"C:\\NEW\\I\\SQLDBDIR\\DEEP\\F", "C:\\P\\I\\SQLDBDIR\\DEEP\\F"}, {}},
      {"move_removes_emptied_source", "\"C:\\P\\I\"", "C:\\NEW\\I", kMove, 0,
       {"C:\\NEW\\I\\qz7systm", "C:\\NEW\\I\\SQLDBDIR\\DEEP\\F", "C:\\P\\OTHER"}, {"C:\\P\\I"}},
      {"empty_destination_deletes", "C:\\P\\I", "", kCopy, 0, {"C:\\P\\OTHER"}, {"C:\\P\\I"}},
      {"onto_itself", "C:\\P\\I", "\"c:\\p\\i\\\"", kMove, 0, {"C:\\P\\I\\qz7systm"}, {}},
      {"sibling_with_common_prefix", "C:\\P\\I", "C:\\P\\IX", kMove, 0, {"C:\\P\\IX\\qz7systm"},
       {"C:\\P\\I"}},
      {"bad_source", tooLong.c_str(), "C:\\NEW", kMove, kFolderTreeBadSource, {"C:\\P\\I\\qz7systm"},
       {"C:\\NEW"}},
      {"index_file_only", "qz7idir", "\"C:\\P\"", kDeleteMatching, 0, {"C:\\P\\I\\qz7systm"},
       {"C:\\P\\QZ7IDIR"}},
      {"move_removes_emptied_ancestors", "C:\\P\\I", "C:\\NEW\\I", kMove, 0,
       {"C:\\NEW\\I\\SQLDBDIR\\DEEP\\F"}, {"C:\\P"}, true},
      {"copying_move_removes_emptied_ancestors", "C:\\P\\I", "C:\\NEW\\I", kMove, 0,
       {"C:\\NEW\\I\\qz7systm", "C:\\NEW\\I\\X"}, {"C:\\P"}, true, true},
      // clang-format on
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    testkit::TempMachine machine;
    for (const char* file :
         {"qz7systm", "SQLDBDIR\\SQLDBDIR", "SQLDBDIR\\SQLDBINS", "SQLDBDIR\\DEEP\\F"})
      machine.WriteText(std::string("C:\\P\\I\\") + file, "x");
    if (!row.alone) machine.WriteText("C:\\P\\OTHER", "busy");
    if (!row.alone) machine.WriteText("C:\\P\\QZ7IDIR", "index");
    if (row.destinationExists) machine.WriteText("C:\\NEW\\I\\X", "there");
    if (row.op == kDeleteMatching) {
      DeleteMatchingFiles(row.source, row.destination);
    } else {
      EXPECT_EQ(CopyDirectoryTree(row.source, row.destination, row.op == kMove), row.want);
    }
    EXPECT_EQ(machine.Misplaced(row.present, row.absent), "");
  }
}

using sample::DbmBlockBuilder;
using testkit::MessageRecorder;
using Bytes = std::vector<unsigned char>;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kTemplate = "C:\\QZ7\\CFG\\qz7syssv";

// The configuration of C:\P\<folder> upgraded with the template. A conversion keeps the
// template's version, carries the old values and puts the block back into range before a fresh
// checksum; what an interrupted creation or upgrade left beside qz7systm is finished first (a
// configuration saved and not put back, or left by a failed upgrade, is the instance's own,
// qz7systm then holding the template; a cut-short copy is a prefix of qz7systm; a staged
// template is stale), and a numbered file that was there before stays. A conversion that
// fails, the version checked before the checksum, leaves the template as qz7systm and the old
// configuration as qz7systm.000; for an instance without a qz7systm, the template alone; a
// directory so long that no temporary name fits beside the configuration changes nothing.
// Each failure shows 3573 with the name and logs its code; the template never changes.
DbmBlockBuilder Old() { return DbmBlockBuilder().Version(0x800).U32(76, 300).Text(1130, 256, "D"); }

TEST(InstanceUpgradeTest, ConvertsOrLeavesTheTemplateWithTheOldConfigurationSaved) {
  const Bytes templ = DbmBlockBuilder().U32(76, 200).Bytes();
  const Bytes old = Old().Bytes();
  const Bytes prefix(old.begin(), old.begin() + 1000);
  const Bytes someoneElses = {'x'};
  const struct {
    const char* name;
    std::string folder;
    std::optional<Bytes> config;
    std::vector<std::pair<std::string, Bytes>> left;
    int code;  // 0: converted; else logged, and qz7systm holds the template
    bool quoted = true;
    std::optional<Bytes> templateFile = {};  // another template than templ
    std::optional<Bytes> saved = {};         // the old configuration, when not config
  } rows[] = {
      // clang-format off
      {"converted, a numbered file of someone else", "INST1", old,
       {{"00000000.000", someoneElses}}, 0},
      {"saved, qz7systm gone", "INST1", std::nullopt, {{"qz7systm.003", old}}, 0},
      {"cut-short copy", "INST1", old,
       {{"qz7systm.000", prefix}, {"qz7systm.upg", templ}, {"qz7systm.new", prefix}}, 0, false},
      {"both, template in place", "INST1", templ, {{"qz7systm.000", old}, {"qz7systm.old", old}},
       0},
      {"no qz7systm", "INST1", std::nullopt, {}, kDbmFileError},
      {"no free temporary name", std::string(248, 'L'), old, {}, -10},
      {"template checksum wrong", "INST1", old, {}, kDbmChecksumError, true,
       DbmBlockBuilder().WrongChecksum(256).Bytes()},
      {"old truncated by one byte", "INST1", Old().TruncateTo(4095).Bytes(), {}, kDbmFileError},
      {"bad version and checksum", "INST1", Old().Version(0x700).WrongChecksum().Bytes(), {},
       kDbmVersionError},
      {"a failed upgrade's leftovers, failing again", "INST1", templ,
       {{"qz7systm.000", Old().Version(0x700).Bytes()}}, kDbmVersionError, true, {},
       Old().Version(0x700).Bytes()},
      // clang-format on
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    testkit::TempMachine machine;
    MessageRecorder messages;
    const std::string dir = "C:\\P\\" + row.folder, config = dir + "\\qz7systm";
    const Bytes templateFile = row.templateFile.value_or(templ);
    machine.WriteFile(kTemplate, templateFile);
    machine.MakeDirectory(dir);
    if (row.config) machine.WriteFile(config, *row.config);
    for (const auto& [name, bytes] : row.left) machine.WriteFile(dir + "\\" + name, bytes);
    const MessageTarget target{messages.logFile(), messages.module(), messages.owner()};
    const std::string given = row.quoted ? "\"" + dir + "\"" : dir;
    EXPECT_EQ(UpgradeInstanceConfiguration(target, given.c_str(), kTemplate), row.code ? 1 : 0);
    const Bytes after = machine.ReadFile(config);
    std::vector<std::string> remaining = {"qz7systm"};
    const std::optional<Bytes> saved = row.saved ? row.saved : row.config;
    if (row.code != 0 && row.code != kConfigurationNotSaved && saved) {
      EXPECT_EQ(after, templateFile);
      EXPECT_EQ(machine.ReadFile(dir + "\\qz7systm.000"), *saved);
      remaining.push_back("qz7systm.000");
    } else if (row.code != 0) {
      EXPECT_EQ(after, row.config.value_or(templateFile));
    }
    if (row.code != 0) {
      EXPECT_THAT(messages.boxes(), ElementsAre(MessageRecorder::Box{3573, {row.folder}, 0x40}));
      EXPECT_THAT(messages.LogLines(), Contains("The instance set-up ended with code " +
                                                std::to_string(row.code) + "."));
    } else {
      EXPECT_EQ(sample::DbmU16(after, 16), 0x900);
      EXPECT_EQ(sample::DbmU32(after, 76), 300u);
      EXPECT_EQ(sample::DbmText(after, 1130, 256), "D");
      EXPECT_EQ(sample::DbmU16(after, 18), 4096);
      EXPECT_TRUE(sample::DbmChecksumMatches(after));
      EXPECT_THAT(messages.boxes(), IsEmpty());
      if (row.left[0].second == someoneElses) remaining.insert(remaining.begin(), "00000000.000");
    }
    EXPECT_EQ(machine.Entries(dir), remaining);
    EXPECT_EQ(machine.ReadFile(kTemplate), templateFile);
  }
}

// An upgrade stopped at each operation in turn: the operation failing, the process killed
// there, or the power cut there (every write not synced lost, every rename whose folder was not
// synced undone), and once more a power cut just after the upgrade returned, before anything
// synced its folder. The old configuration, or its values carried into the new release, is in
// a file of the instance directory at every point, and the run after it ends as an
// uninterrupted one: for a conversion that cannot succeed (an old file of layout 0x700) the
// template as qz7systm and the old file as qz7systm.000; for one that succeeds the converted
// qz7systm alone.
TEST(InstanceUpgradeTest, AnUpgradeStoppedAnywhereEndsAsAnUninterruptedOne) {
  const struct {
    const char* name;
    Bytes templ, old;
    bool converts;
  } rows[] = {
      {"failed conversion", DbmBlockBuilder().NodeType(5).Bytes(),
       Old().Version(0x700).NodeType(1).Bytes(), false},
      {"converted", DbmBlockBuilder().U32(76, 200).Bytes(), Old().Bytes(), true},
  };
  const std::string dir = "C:\\P\\INST1", given = "\"" + dir + "\"";
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto upgrade = [&](MessageRecorder& messages) {
      const MessageTarget target{messages.logFile(), messages.module(), messages.owner()};
      return UpgradeInstanceConfiguration(target, given.c_str(), kTemplate);
    };
    // qz7systm holds the old values in the new release's layout.
    auto converted = [](const Bytes& config) {
      return sample::DbmU16(config, 16) == 0x900 && sample::DbmU32(config, 76) == 300u &&
             sample::DbmText(config, 1130, 256) == "D" && sample::DbmChecksumMatches(config);
    };
    auto expectUninterrupted = [&](const testkit::TempMachine& machine, int result) {
      EXPECT_EQ(result, row.converts ? 0 : 1);
      EXPECT_EQ(machine.Entries(dir),
                (row.converts ? Paths{"qz7systm"} : Paths{"qz7systm", "qz7systm.000"}));
      const Bytes config = machine.ReadFile(dir + "\\qz7systm");
      EXPECT_TRUE(row.converts ? converted(config) : config == row.templ);
      EXPECT_TRUE(row.converts || machine.ReadFile(dir + "\\qz7systm.000") == row.old);
    };
    // A fresh machine and recorder for each run.
    std::optional<testkit::TempMachine> machine;
    std::optional<MessageRecorder> messages;
    const auto fresh = [&] {
      messages.reset();
      machine.emplace();
      messages.emplace();
      machine->WriteFile(kTemplate, row.templ);
      machine->WriteFile(dir + "\\qz7systm", row.old);
    };
    int result = 0;
    const auto run = [&] { result = upgrade(*messages); };
    const uint64_t operations = testkit::CountOperations(fresh, run);
    expectUninterrupted(*machine, result);
    ASSERT_GT(operations, 5u);
    const auto check = [&](uint64_t) {
      bool kept = false;
      for (const std::string& name : machine->Entries(dir)) {
        const Bytes bytes = machine->ReadFile(dir + "\\" + name);
        kept = kept || bytes == row.old || (row.converts && name == "qz7systm" && converted(bytes));
      }
      EXPECT_TRUE(kept) << "the old configuration is lost";
      MessageRecorder again;
      expectUninterrupted(*machine, upgrade(again));
    };
    testkit::FaultAtEveryPoint(operations, testkit::Failing(platform::kErrorDiskFull),
                               {fresh, run, [&](uint64_t n) {
                                  EXPECT_TRUE(row.converts || result == 1) << result;
                                  check(n);
                                }});
    for (const testkit::PointFault& stop : testkit::StoppingFaults()) {
      // A power cut also at the operation after the upgrade: what it left unsynced is lost.
      testkit::FaultAtEveryPoint(operations + (stop.plan.powerLoss ? 1 : 0), stop,
                                 {fresh, run, check});
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
    bool statusFails = false;  // every status query fails with an access error
  } rows[] = {
      // clang-format off
      // A directory file or its copy alone starts a migration.
      {"both_fail_both_reported", {"SQLDBDIR\\SQLDBBAK", "SQLNODIR\\SQLNOBAK"}, -101, -103, 1,
       {"database C:\\P\\INST1 C:\\QZ7", "node C:\\P\\INST1"}, {}, {},
       {Box{3578, {"-101", "INST1"}, 0x40}, Box{3574, {"-103", "INST1"}, 0x40}}},
      {"database_migration_ending_in_1_is_no_failure", {"SQLDBDIR\\SQLDBDIR", "SQLNODIR\\SQLNODIR"},
       1, 0, 0, {"database C:\\P\\INST1 C:\\QZ7", "node C:\\P\\INST1"}, {}, {}, {}},
      {"folders_without_directory_files_cleared",
       {"SQLDBDIR\\SQLDBINS", "SQLGWDIR\\STRAY", "SQLNODIR\\OLD"}, 0, 0, 0, {},
       {"SQLDBDIR\\SQLDBINS", "SQLGWDIR\\STRAY", "SQLNODIR\\OLD"}, {}, {}},
      {"gateway_directory_left_alone", {"SQLGWDIR\\SQLGWDIR", "SQLGWDIR\\OTHER"}, 0, 0, 0, {}, {},
       {"SQLGWDIR\\SQLGWDIR", "SQLGWDIR\\OTHER"}, {}},
      {"interrupted_migrations_repaired_not_cleared",
       {"SQLDBDIR\\SQLDDDIR.TMP", "SQLNODIR\\SQLNDDIR.TMP"}, 0, 0, 0,
       {"database C:\\P\\INST1 C:\\QZ7", "node C:\\P\\INST1"}, {},
       {"SQLDBDIR\\SQLDDDIR.TMP", "SQLNODIR\\SQLNDDIR.TMP"}, {}},
      // No folder is cleared or migrated on a guess; the database and node folders are
      // reported with the access error.
      {"status_queries_fail", {"SQLDBDIR\\SQLDBINS", "SQLNODIR\\OLD"}, 0, 0, 1, {}, {},
       {"SQLDBDIR\\SQLDBINS", "SQLNODIR\\OLD"},
       {Box{3578, {"-108", "INST1"}, 0x40}, Box{3574, {"-108", "INST1"}, 0x40}}, true},
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
    if (row.statusFails) {
      platform::SetFaultPlan({.triggerAt = 1,
                              .error = platform::kErrorAccessDenied,
                              .repeat = true,
                              .kinds = platform::KindBit(platform::OperationKind::kFile)});
    }
    const int result =
        UpgradeInstanceDirectories("\"C:\\P\\INST1\"", "\"C:\\QZ7\"", target, kScripted);
    platform::ClearFaultPlan();
    EXPECT_EQ(result, row.want);
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
