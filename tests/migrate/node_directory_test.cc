// The node directory: where every field of the current entry comes from in each earlier
// layout, the DCS rule, how MigrateNodeDirectory recognises the files of an instance, what each
// kind of node directory ends as, the repair from an interrupted run's backup, and what a
// failing or crashing file operation at any point of a run leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "base/coding.h"
#include "migrate/node_directory_conversion.h"
#include "migrate/node_directory_migration.h"
#include "migrate/work_buffer.h"
#include "platform/win_error.h"
#include "testkit/node_directory_builder.h"
#include "tests/migrate/migrate_fixture.h"

namespace qz7::migrate::testing::node {
namespace {

using testkit::NodeBackupBuilder;
using testkit::NodeDirectoryBuilder;
using testkit::NodeEntryBuilder;
using testkit::NodeFileText;
using testkit::NodeFileU16;
using Type = base::NodeDirectoryLayoutType;

// Two entries of layout 1; a directory of the current layout; an empty one of an earlier one.
const Bytes kNodes = NodeDirectoryBuilder(1)
                         .HeaderValue(0x01020304)
                         .Add(NodeEntryBuilder(1).NodeName("NODE1").Text(27, 9, "TCPIP"))
                         .Add(NodeEntryBuilder(1).NodeName("NODE2").Text(36, 65, "HOST.TWO"))
                         .Bytes();
const Bytes kCurrent = NodeDirectoryBuilder(97).Add(NodeEntryBuilder(97).NodeName("A")).Bytes();
const Bytes kOldEmpty = NodeDirectoryBuilder(1).Signature("OLD").HeaderValue(9).Bytes();

// ConvertNodeDirectory on the instance's files; a failure prints its key and object.
::testing::AssertionResult Converts(int layout, bool fileExists = true) {
  char key[kNodeConversionKeySize] = {};
  char object[kNodeConversionObjectSize] = {};
  const MigrationResult code =
      ConvertNodeDirectory(fileExists, true, layout, kFile, kCopy, key, object, nullptr);
  if (code == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << code << " " << key << ": " << object;
}

Bytes NodeEntryOf(int layout, const Bytes& old) {
  Bytes entry(base::kNodeEntrySize, 0xEE);
  EXPECT_TRUE(BuildNodeEntry(static_cast<Type>(layout), old.data(), old.size(), entry.data()));
  return entry;
}

// What the field table made of the two patterns: for layouts 1 to 5 the two converted
// entries. The file was made once from code that a test spelling out every field of every
// layout had checked byte for byte.
constexpr unsigned char kConvertedNodePatterns[] = {
#include "tests/migrate/data/converted_node_patterns.inc"
};

// The field table against the converted patterns; and at its edges, where a wrong offset or
// width shows on its own: the node name is the old entry's first eight bytes, and the last
// field of each layout reaches the last two bytes of the old entry and not past its end. A
// directory of the two patterns converts to those entries under its own header value.
TEST_F(NodeDirectoryTest, PatternsConvertAsRecorded) {
  Bytes got;
  for (int layout = 1; layout <= 5; ++layout) {
    SCOPED_TRACE("layout " + std::to_string(layout));
    const size_t size = base::FindNodeLayout(static_cast<Type>(layout))->entrySize;
    const Bytes first = NodeEntryOf(layout, Pattern(size, 0));
    const Bytes second = NodeEntryOf(layout, Pattern(size, 1));
    for (size_t b = 0; b < 8; ++b) EXPECT_EQ(SourceOf(first[b], second[b]), b);
    EXPECT_EQ(first[8], 0);
    size_t furthest = 0;
    for (size_t b = 0; b < base::kNodeEntrySize; ++b) {
      if (first[b] != second[b]) furthest = std::max(furthest, SourceOf(first[b], second[b]));
    }
    EXPECT_LT(furthest, size);
    EXPECT_GE(furthest, size - 2);
    got.insert(got.end(), first.begin(), first.end());
    got.insert(got.end(), second.begin(), second.end());

    const Bytes old = NodeDirectoryBuilder(layout)
                          .HeaderValue(0xA1B2C3D4)
                          .AddRaw(Pattern(size, 0))
                          .AddRaw(Pattern(size, 1))
                          .Bytes();
    Put(kFile, old);
    Put(kCopy, old);
    ASSERT_TRUE(Converts(layout));
    const Bytes want =
        NodeDirectoryBuilder(97).HeaderValue(0xA1B2C3D4).AddRaw(first).AddRaw(second).Bytes();
    EXPECT_TRUE(SameBytes(Get(kFile), want));
    EXPECT_TRUE(SameBytes(Get(kCopy), want));
  }
  EXPECT_TRUE(
      SameBytes(got, Bytes(std::begin(kConvertedNodePatterns), std::end(kConvertedNodePatterns))));
}

// A node gets 8 in field 612 when a catalogued database of entry type "1" or "4" names it and
// its database name (cut at the first blank) is in the DCS directory.
TEST_F(NodeDirectoryTest, DcsRule) {
  // Each row catalogues its database on NODE1 and database ELSE (of type "1") on NODE2.
  const struct {
    const char* name;
    int layout;
    const char* database;
    char type;
    const char* dcs;        // the names in the DCS directory; null: no DCS directory
    uint16_t dcsCount;      // the stored count, when not the real one
    uint16_t node1, node2;  // field 612 of NODE1 and NODE2 afterwards
    int more;  // nodes after NODE2, each named by a database in the DCS directory (before
               // the row's own names there)
  } rows[] = {
      {"type1_entry_in_dcs", 5, "SAMPLE", '1', "SAMPLE", 0, 8, 0, 0},
      {"type4_entry_in_dcs", 5, "SAMPLE", '4', "SAMPLE", 0, 8, 0, 0},
      {"type2_entry_keeps_old_value", 5, "SAMPLE", '2', "SAMPLE", 0, 3, 0, 0},
      {"database_name_cut_at_blank", 5, "SAMPLE  ", '1', "SAMPLE", 0, 8, 0, 0},
      {"longer_dcs_name_does_not_match", 5, "SAMPLEDB", '1', "SAMPLEDB1", 0, 3, 0, 0},
      {"only_the_named_node", 5, "OTHER", '1', "ELSE", 0, 3, 8, 0},
      {"second_dcs_entry_matches", 5, "SAMPLE", '1', "OTHER SAMPLE", 0, 8, 0, 0},
      {"no_dcs_directory_keeps_old_value", 5, "SAMPLE", '1', nullptr, 0, 3, 0, 0},
      {"cut_dcs_directory_disables_the_rule", 5, "SAMPLE", '1', "SAMPLE", 2, 3, 0, 0},
      {"layout1_in_dcs", 1, "SAMPLE", '1', "SAMPLE", 0, 8, 0, 0},
      // Every file over a megabyte: read and copied in more than one piece.
      {"over_a_megabyte", 5, "SAMPLE", '1', "SAMPLE", 0, 8, 0, 1800},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ClearInstance();
    // NODE1 carries 3 in its old field (layout 5 only), NODE2 nothing.
    NodeEntryBuilder node1(row.layout);
    node1.NodeName("NODE1");
    if (row.layout == 5) node1.U16(590, 3);
    NodeDirectoryBuilder nodes(row.layout);
    nodes.Add(node1).Add(NodeEntryBuilder(row.layout).NodeName("NODE2"));
    testkit::CurrentDatabaseDirectoryBuilder databases;
    databases.Add("CAT1", row.database, row.type, "NODE1").Add("CAT2", "ELSE", '1', "NODE2");
    testkit::DcsDirectoryBuilder dcs;
    for (int i = 0; i < row.more; ++i) {
      nodes.Add(NodeEntryBuilder(row.layout).NodeName("N" + std::to_string(i)));
      databases.Add("M" + std::to_string(i), "D" + std::to_string(i), '1', "N" + std::to_string(i));
      dcs.Add("D" + std::to_string(i));
    }
    Put(kFile, nodes.Bytes());
    Put(kDatabaseDir, databases.Bytes());
    if (row.dcs != nullptr) {
      std::istringstream names(row.dcs);
      for (std::string name; names >> name;) dcs.Add(name);
      if (row.dcsCount != 0) dcs.EntryCount(row.dcsCount);
      Put(kDcsDir, dcs.Bytes());
    }
    ASSERT_TRUE(Converts(row.layout));
    const Bytes converted = Get(kFile);
    ASSERT_EQ(converted.size(), 32u + (2 + row.more) * 616);
    EXPECT_EQ(NodeFileText(converted, 28, 9), "NODE1");
    EXPECT_EQ(NodeFileU16(converted, 28 + 612), row.node1);
    EXPECT_EQ(NodeFileU16(converted, 28 + 616 + 612), row.node2);
    for (int i = 0; i < row.more; ++i) {
      ASSERT_EQ(NodeFileU16(converted, 28 + (2 + i) * 616 + 612), 8) << "node " << i;
    }
    EXPECT_EQ(Get(kCopy), converted);
  }
}

TEST_F(NodeDirectoryTest, RecognisesTheLayoutFromSizeAndCount) {
  auto entries = [](uint16_t count, size_t bytes) {
    return NodeDirectoryBuilder(1).EntryCount(count).AddRaw(Bytes(bytes, 0)).Bytes();
  };
  const struct {
    const char* name;
    Bytes file;
    MigrationResult code;
    Type type;
  } rows[] = {
      {"shorter_than_the_header", Bytes(27, 0), -105, Type::kUnrecognised},
      {"header_without_closing_value", Bytes(31, 0), 0, Type::kUnrecognised},
      {"frame_only", entries(0, 0), 0, Type::kEmpty},
      {"current", entries(3, 3 * 616), 0, Type::kCurrent},
      {"whole_multiple_of_616", entries(2, 3 * 616), 0, Type::kCurrent},
      {"layout1", entries(2, 2 * 434), 0, Type::kLayout1},
      {"layout2", entries(1, 532), 0, Type::kLayout2},
      {"layout3", entries(4, 4 * 96), 0, Type::kLayout3},
      {"layout4", entries(1, 542), 0, Type::kLayout4},
      {"layout5", entries(2, 2 * 594), 0, Type::kLayout5},
      {"unknown_entry_size", entries(2, 200), 0, Type::kUnrecognised},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Put(kFile, row.file);
    Type type = Type::kLayout1;
    EXPECT_EQ(RecogniseNodeDirectoryFile(kFile, &type), row.code);
    EXPECT_EQ(type, row.type);
  }
}

// What a run makes of the files it finds. A refused directory is left as it was and no backup
// is made; a migrated one ends with the file and the copy identical and the old bytes in
// SQLNDDIR.BAK (status "C"). SQLNDDIR.TMP left by an interrupted run is restored, whatever the
// directory files hold and whatever its status, and converted again; an unusable one stops
// the run.
TEST_F(NodeDirectoryTest, RunsEndAsExpected) {
  Put(kFile, kNodes);
  ASSERT_TRUE(Converts(1));
  const Bytes converted = Get(kFile);
  Bytes flipped = kNodes;
  flipped.back() ^= 0x80;
  // Larger than a piece of the copy's comparison, differing only in its last byte.
  const Bytes big(200 * 1024 + 5, 0x5A);
  Bytes bigFlipped = big;
  bigFlipped.back() ^= 0x01;
  const Bytes unknown = NodeDirectoryBuilder(1).AddRaw(Bytes(100, 1)).Bytes();
  auto backup = [](char status, const char* signature = "QZ7 NODE DIRECTORY FILE BACKUP",
                   const Bytes& data = kNodes) {
    return NodeBackupBuilder().Status(status).Signature(signature).Data(data).Bytes();
  };
  const std::optional<Bytes> none;
  const std::string both = std::string(kFile) + " and " + kCopy;
  const std::string bad = std::string("MAIN_011: ") + kTmp + " bad DD File backup";
  const char* layout1 = "TYPE1_DECB PACKED";
  const struct {
    const char* name;
    std::optional<Bytes> file, copy;  // nullopt: missing
    Bytes tmp;                        // SQLNDDIR.TMP of an interrupted run; empty: none
    MigrationResult code;
    std::string record;      // empty: none
    const char* layoutName;  // of SQLNDDIR.BAK; null: the run is refused
  } rows[] = {
      {"neither_file_nor_copy", none, none, Bytes(), -103, "MAIN017: " + both + " cannot be opened",
       nullptr},
      {"differ_in_the_last_byte", kNodes, flipped, Bytes(), -101,
       "MAIN017: " + both + " are different", nullptr},
      {"large_files_differ_in_the_last_byte", big, bigFlipped, Bytes(), -101,
       "MAIN017: " + both + " are different", nullptr},
      {"current_layout", kCurrent, kCurrent, Bytes(), 0, "", nullptr},
      {"unknown_entry_size", unknown, unknown, Bytes(), -102,
       "MAIN020: Node directory unrecognizable directory file", nullptr},
      {"layout1", kNodes, kNodes, Bytes(), 0, "", layout1},
      {"layout1_copy_only", none, kNodes, Bytes(), 0, "", layout1},
      {"empty_directory", kOldEmpty, kOldEmpty, Bytes(), 0, "", "EMPTY DIRECTORY"},
      {"backup_c_after_a_failed_rename", none, none, backup('C'), 0, "", layout1},
      {"backup_i_over_half_written_files", Bytes(50, 1), Bytes(50, 1), backup('I'), 0, "", layout1},
      {"backup_signature_damaged", kNodes, kNodes, backup('I', "QZ7 NODE DIRECTORY FILE BACKUQ"),
       -107, bad, nullptr},
      {"backup_without_data", kCurrent, kCurrent,
       backup('C', "QZ7 NODE DIRECTORY FILE BACKUP", Bytes()), -107, bad, nullptr},
      {"backup_shorter_than_its_header", kNodes, kNodes, Bytes(40, 'Q'), -105,
       std::string("MAIN_007: ") + kTmp + " read error", nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ClearInstance();
    if (row.file) Put(kFile, *row.file);
    if (row.copy) Put(kCopy, *row.copy);
    if (!row.tmp.empty()) Put(kTmp, row.tmp);
    EXPECT_EQ(MigrateNodeDirectory(kInstance), row.code);
    EXPECT_EQ(ErrorRecords(), row.record.empty() ? Texts() : TextsOf(row.record));
    EXPECT_FALSE(Exists(kStaging));
    if (row.layoutName == nullptr) {
      EXPECT_FALSE(Exists(kBak));
      EXPECT_EQ(Exists(kFile) ? std::optional(Get(kFile)) : std::nullopt, row.file);
      EXPECT_EQ(Exists(kCopy) ? std::optional(Get(kCopy)) : std::nullopt, row.copy);
      EXPECT_EQ(Get(kTmp), row.tmp);
      continue;
    }
    EXPECT_FALSE(Exists(kTmp));
    const Bytes old = !row.tmp.empty() ? kNodes : row.file ? *row.file : *row.copy;
    const Bytes want = old == kOldEmpty ? NodeDirectoryBuilder(97).Bytes() : converted;
    EXPECT_TRUE(SameBytes(Get(kFile), want));
    EXPECT_TRUE(SameBytes(Get(kCopy), want));
    EXPECT_TRUE(SameBytes(
        Get(kBak), NodeBackupBuilder().LayoutName(row.layoutName).Status('C').Data(old).Bytes()));
  }
}

// Every work buffer of a run in turn cannot be had: the run ends with -131 and a record without
// object, and the old directory is in place or whole in SQLNDDIR.TMP.
TEST_F(NodeDirectoryTest, EachBufferThatCannotBeHadEndsTheRunWith131) {
  // Starting from the backup an interrupted run left.
  auto prepare = [&] {
    ClearInstance();
    Put(kFile, kNodes);
    Put(kCopy, kNodes);
    Put(kTmp, NodeBackupBuilder().Data(kNodes).Bytes());
  };
  prepare();
  FailWorkBufferAllocationAt(0);
  ASSERT_EQ(MigrateNodeDirectory(kInstance), 0);
  const uint64_t allocations = WorkBufferAllocationCount();
  ASSERT_GE(allocations, 5u);
  for (uint64_t n = 1; n <= allocations; ++n) {
    SCOPED_TRACE("allocation " + std::to_string(n));
    prepare();
    FailWorkBufferAllocationAt(n);
    EXPECT_EQ(MigrateNodeDirectory(kInstance), -131);
    FailWorkBufferAllocationAt(0);
    const Texts records = ErrorRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].substr(records[0].find(':')), ": ") << records[0];
    EXPECT_TRUE((Get(kFile) == kNodes && Get(kCopy) == kNodes) || BackupData(Get(kTmp)) == kNodes);
  }
}

// A layout-5 directory with three nodes, one of them used by a DCS database, an older
// permanent backup, and the database and DCS directories the conversion reads.
class NodeMigrationFaults : public NodeDirectoryTest {
 protected:
  void Prepare(bool withDcs) {
    ClearInstance();
    Put(kFile, original_);
    Put(kCopy, original_);
    Put(kBak, Bytes(16, 0x55));
    if (withDcs) {
      Put(kDatabaseDir,
          testkit::CurrentDatabaseDirectoryBuilder().Add("CAT1", "SAMPLE", '1', "NODE2").Bytes());
      Put(kDcsDir, testkit::DcsDirectoryBuilder().Add("SAMPLE").Bytes());
    }
  }

  // The node directory files and backups (a missing file as no bytes).
  std::vector<Bytes> State() const {
    return {Get(kFile), Get(kCopy), Get(kBak), Get(kTmp), Get(kStaging)};
  }
  // True when the run left the directory as an uninterrupted run does.
  bool Converted() const { return State() == expected_; }

  // Runs once without faults; the number of file operations it took.
  uint64_t ReferenceRun(bool withDcs) {
    Prepare(withDcs);
    platform::ResetFileOperationCount();
    EXPECT_EQ(MigrateNodeDirectory(kInstance), 0);
    const uint64_t operations = platform::FileOperationCount();
    expected_ = State();
    return operations;
  }

  const Bytes original_ =
      NodeDirectoryBuilder(5)
          .HeaderValue(77)
          .Add(NodeEntryBuilder(5).NodeName("NODE1").Text(27, 9, "TCPIP").U16(590, 1))
          .Add(NodeEntryBuilder(5).NodeName("NODE2").Text(542, 16, "GATEWAY"))
          .Add(NodeEntryBuilder(5).NodeName("NODE3").Text(558, 22, "X"))
          .Bytes();
  std::vector<Bytes> expected_;
};

// The process ends at each file operation of a run in turn, as a killed process or a power
// cut (what was not synced is lost) ends it; or that operation fails with a Windows error,
// and whatever the run gives, the old directory is never lost: the file and copy are
// untouched, or SQLNDDIR.TMP holds them whole, or the run completed. Either way the next run,
// uninterrupted, leaves exactly what a run without the fault leaves.
TEST_F(NodeMigrationFaults, StoppedOrFailingAtEveryFileOperation) {
  enum Round { kKilled, kPowerCut, kFailing };
  for (const Round round : {kKilled, kPowerCut, kFailing}) {
    // The failing runs go without the DCS directory: a failed read of it changes the result.
    const bool withDcs = round != kFailing;
    const uint64_t operations = ReferenceRun(withDcs);
    ASSERT_EQ(NodeFileU16(expected_[0], 28 + 616 + 612), withDcs ? 8 : 0) << "the DCS rule";
    ASSERT_GT(operations, 30u);
    for (uint64_t n = 1; n <= operations; ++n) {
      const uint32_t error = n % 2 ? platform::kErrorDiskFull : platform::kErrorAccessDenied;
      SCOPED_TRACE((round == kKilled     ? "crash"
                    : round == kPowerCut ? "power cut"
                                         : "error " + std::to_string(error)) +
                   " at file operation " + std::to_string(n));
      Prepare(withDcs);
      if (round != kFailing) {
        ASSERT_TRUE(StoppedAt(
            n, [] { static_cast<void>(MigrateNodeDirectory(kInstance)); }, round == kPowerCut));
      } else {
        platform::SetFaultPlan({.triggerAt = n, .error = error});
        ::testing::internal::CaptureStdout();  // the notice when the error file fails
        const MigrationResult result = MigrateNodeDirectory(kInstance);
        ::testing::internal::GetCapturedStdout();
        platform::ClearFaultPlan();
        const bool untouched = Get(kFile) == original_ && Get(kCopy) == original_;
        const bool inBackup = Exists(kTmp) && BackupData(Get(kTmp)) == original_;
        EXPECT_TRUE(untouched || inBackup || (result == 0 && Converted())) << "result " << result;
        if (result != 0 && result != -124) {
          EXPECT_FALSE(ErrorRecords().empty());
        }
      }
      EXPECT_EQ(MigrateNodeDirectory(kInstance), 0);
      EXPECT_TRUE(Converted());
    }
  }
}

}  // namespace
}  // namespace qz7::migrate::testing::node
