// ConvertNodeDirectory and BuildNodeEntry: where every field of the current entry comes from
// in each earlier layout, how texts are copied, the DCS rule, and the key, object and code
// of the conversion's failures.
#include "migrate/node_directory_conversion.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/migrate/node_directory_test_support.h"
#include "util/coding.h"

namespace qz7::migrate::node_test {
namespace {

using testkit::CurrentDatabaseDirectoryBuilder;
using testkit::DcsDirectoryBuilder;
using testkit::NodeDirectoryBuilder;
using testkit::NodeEntryBuilder;

// The fields of the current 616-byte entry, written down here on their own.
struct NewField {
  size_t offset;
  size_t width;
  char kind;  // 't' text, 'b' byte, 'w' 16-bit
};
constexpr NewField kNewFields[] = {
    {0, 9, 't'},    {9, 9, 't'},    {18, 31, 't'},  {49, 9, 't'},  {58, 65, 't'},
    {123, 31, 't'}, {154, 2, 'w'},  {156, 1, 'b'},  {157, 1, 'b'}, {158, 2, 'w'},
    {160, 9, 't'},  {169, 5, 't'},  {174, 10, 't'}, {184, 2, 'w'}, {186, 256, 't'},
    {442, 15, 't'}, {457, 49, 't'}, {506, 49, 't'}, {555, 9, 't'}, {564, 16, 't'},
    {580, 22, 't'}, {602, 9, 't'},  {611, 1, 'b'},  {612, 2, 'w'}, {614, 1, 'b'},
};
constexpr size_t kFieldCount = sizeof kNewFields / sizeof kNewFields[0];
constexpr int kNone = -1;

// One earlier layout: the old offset of each field of kNewFields, in that order.
struct LayoutColumnRow {
  const char* name;
  int layout;
  int column[kFieldCount];
};

class NodeEntryLayoutColumns : public NodeDirectoryTest,
                               public ::testing::WithParamInterface<LayoutColumnRow> {};

// Entry k of the directory gets distinct values in every field its layout has: text
// "T<k><i>", 16-bit 0x1000 * (k + 1) + i, byte 0x40 + 16 * k + i. All other old bytes are
// 0xEE, so a byte that is carried where it should not be shows.
std::string FieldTextValue(int entry, size_t field) {
  return "T" + std::to_string(entry) + std::to_string(field);
}
uint16_t FieldWordValue(int entry, size_t field) {
  return static_cast<uint16_t>(0x1000 * (entry + 1) + field);
}
uint8_t FieldByteValue(int entry, size_t field) {
  return static_cast<uint8_t>(0x40 + 16 * entry + field);
}

TEST_P(NodeEntryLayoutColumns, EveryFieldComesFromItsColumn) {
  const LayoutColumnRow& row = GetParam();
  NodeDirectoryBuilder directory(row.layout);
  directory.HeaderValue(0xA1B2C3D4);
  std::vector<ByteVector> expected;
  for (int k = 0; k < 2; ++k) {
    NodeEntryBuilder old(row.layout);
    old.Fill(0xEE);
    ByteVector entry(616, 0);
    for (size_t i = 0; i < kFieldCount; ++i) {
      const int from = row.column[i];
      if (from == kNone) continue;
      const NewField& field = kNewFields[i];
      const size_t at = static_cast<size_t>(from);
      if (field.kind == 't') {
        const std::string text = FieldTextValue(k, i).substr(0, field.width - 1);
        old.Text(at, text.size() + 1, text);
        std::copy(text.begin(), text.end(), entry.begin() + field.offset);
      } else if (field.kind == 'w') {
        old.U16(at, FieldWordValue(k, i));
        util::StoreLE16(entry.data() + field.offset, FieldWordValue(k, i));
      } else {
        old.Byte(at, FieldByteValue(k, i));
        entry[field.offset] = FieldByteValue(k, i);
      }
    }
    directory.Add(old);
    expected.push_back(entry);
  }
  const ByteVector original = directory.Bytes();
  Write(kFile, original);
  Write(kCopy, original);

  char key[kNodeConversionKeySize] = {};
  char object[kNodeConversionObjectSize] = {};
  ASSERT_EQ(ConvertNodeDirectory(true, true, row.layout, kFile, kCopy, key, object, nullptr), 0)
      << key << ": " << object;
  const ByteVector converted = Read(kFile);
  EXPECT_EQ(Read(kCopy), converted);
  ASSERT_EQ(converted.size(), 32u + 2 * 616);
  EXPECT_EQ(testkit::NodeFileText(converted, 0, 16), "NODE DIRECTORY");
  EXPECT_EQ(testkit::NodeFileU16(converted, 16), 2);
  EXPECT_EQ(testkit::NodeFileU16(converted, 18), 0);
  EXPECT_EQ(testkit::NodeFileU32(converted, 20), 0xA1B2C3D4u);
  EXPECT_EQ(testkit::NodeFileU32(converted, 24), 0x0300u);  // marker, then two zero bytes
  EXPECT_EQ(testkit::NodeFileU32(converted, 28 + 2 * 616), 0xA1B2C3D4u);
  for (int k = 0; k < 2; ++k) {
    const ByteVector entry(converted.begin() + 28 + k * 616,
                           converted.begin() + 28 + (k + 1) * 616);
    for (size_t i = 0; i < kFieldCount; ++i) {
      const NewField& field = kNewFields[i];
      EXPECT_EQ(
          ByteVector(entry.begin() + field.offset, entry.begin() + field.offset + field.width),
          ByteVector(expected[k].begin() + field.offset,
                     expected[k].begin() + field.offset + field.width))
          << "entry " << k << ", new offset " << field.offset << ", old offset " << row.column[i];
    }
    EXPECT_EQ(entry[615], 0) << "entry " << k;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, NodeEntryLayoutColumns,
    ::testing::Values(
        LayoutColumnRow{"Layout1", 1, {0,     9,     18,    27,    36,    101,   132,  134,   135,
                                       136,   138,   147,   152,   161,   163,   419,  kNone, kNone,
                                       kNone, kNone, kNone, kNone, kNone, kNone, kNone}},
        LayoutColumnRow{"Layout2", 2, {0,     9,     18,    27,    36,    101,   132,  134, 135,
                                       136,   138,   147,   152,   161,   163,   419,  434, 483,
                                       kNone, kNone, kNone, kNone, kNone, kNone, kNone}},
        LayoutColumnRow{
            "Layout3", 3, {0,     9,     18,    27,    36,    45,    76,    78,    79,
                           80,    82,    91,    kNone, kNone, kNone, kNone, kNone, kNone,
                           kNone, kNone, kNone, kNone, kNone, kNone, kNone}},
        LayoutColumnRow{"Layout4", 4, {0,   9,     18,    27,    36,    101,   132,  134, 135,
                                       136, 138,   147,   152,   162,   164,   420,  435, 484,
                                       533, kNone, kNone, kNone, kNone, kNone, kNone}},
        LayoutColumnRow{
            "Layout5", 5, {0,   9,   18,  27,  36,  101, 132, 134, 135, 136, 138, 147, 152,
                           162, 164, 420, 435, 484, 533, 542, 558, 580, 589, 590, 592}}),
    kNodeRowName);

// Texts are copied up to their terminating zero, never past the old entry, and cut to the
// new field's width minus one.
TEST(NodeEntryTextCopy, TextsStopAtZeroEntryEndOrNewWidth) {
  const struct {
    const char* name;
    int layout;
    NodeEntryBuilder old;
    size_t newOffset;
    size_t newWidth;
    std::string expected;
  } rows[] = {
      {"RunsOnIntoTheNextOldField", 1,
       std::move(NodeEntryBuilder(1).Text(18, 9, "ABCDEFGHI", false).Text(27, 9, "XYZ")), 18, 31,
       "ABCDEFGHIXYZ"},
      {"CutToNewWidth", 3, std::move(NodeEntryBuilder(3).Fill('Q').Text(91, 5, "ABCDE", false)),
       169, 5, "ABCD"},
      {"EndsWithTheOldEntry", 1,
       std::move(NodeEntryBuilder(1).Text(419, 15, "0123456789ABCDE", false)), 442, 15,
       "0123456789ABCD"},
      {"EmptyText", 2, std::move(NodeEntryBuilder(2).Fill('Q').Text(483, 49, "")), 506, 49, ""},
  };
  for (const auto& row : rows) {
    unsigned char entry[kNodeEntrySize];
    std::fill(std::begin(entry), std::end(entry), 0x77);
    ASSERT_TRUE(BuildNodeEntry(static_cast<NodeDirectoryLayoutType>(row.layout),
                               row.old.Bytes().data(), row.old.Bytes().size(), entry))
        << row.name;
    const ByteVector bytes(entry, entry + kNodeEntrySize);
    EXPECT_EQ(testkit::NodeFileText(bytes, row.newOffset, row.newWidth), row.expected) << row.name;
    for (size_t i = row.newOffset + row.expected.size(); i < row.newOffset + row.newWidth; ++i) {
      EXPECT_EQ(entry[i], 0) << row.name << ": padding byte " << i;
    }
  }
  unsigned char entry[kNodeEntrySize];
  const ByteVector wrongSize(433, 0);
  EXPECT_FALSE(BuildNodeEntry(NodeDirectoryLayoutType::kLayout1, wrongSize.data(), 433, entry));
  EXPECT_FALSE(BuildNodeEntry(NodeDirectoryLayoutType::kEmpty, wrongSize.data(), 0, entry));
}

// ---- The DCS rule ----

struct CataloguedRow {
  std::string name;
  std::string database;
  char type;
  std::string node;
};

struct DcsRuleRow {
  const char* name;
  int layout;
  std::optional<std::vector<CataloguedRow>> databases;  // nullopt: no database directory
  std::optional<std::vector<std::string>> dcs;          // nullopt: no DCS directory
  std::optional<uint16_t> dcsCount;                     // stored count instead of the real one
  uint16_t node1;                                       // field 612 of NODE1 afterwards
  uint16_t node2;                                       // and of NODE2
};

class NodeDcsRule : public NodeDirectoryTest, public ::testing::WithParamInterface<DcsRuleRow> {};

TEST_P(NodeDcsRule, SetsEightForNodesOfDcsDatabases) {
  const DcsRuleRow& row = GetParam();
  // NODE1 carries 3 in its old field (layout 5 only), NODE2 nothing.
  NodeEntryBuilder node1(row.layout);
  node1.NodeName("NODE1");
  if (row.layout == 5) node1.U16(590, 3);
  const ByteVector directory = NodeDirectoryBuilder(row.layout)
                                   .Add(node1)
                                   .Add(NodeEntryBuilder(row.layout).NodeName("NODE2"))
                                   .Bytes();
  Write(kFile, directory);
  if (row.databases) {
    CurrentDatabaseDirectoryBuilder databases;
    for (const CataloguedRow& d : *row.databases) databases.Add(d.name, d.database, d.type, d.node);
    Write(kDatabaseDir, databases.Bytes());
  }
  if (row.dcs) {
    DcsDirectoryBuilder dcs;
    for (const std::string& name : *row.dcs) dcs.Add(name);
    if (row.dcsCount) dcs.EntryCount(*row.dcsCount);
    Write(kDcsDir, dcs.Bytes());
  }

  char key[kNodeConversionKeySize] = {};
  char object[kNodeConversionObjectSize] = {};
  ASSERT_EQ(ConvertNodeDirectory(true, false, row.layout, kFile, kCopy, key, object, nullptr), 0)
      << key << ": " << object;
  const ByteVector converted = Read(kFile);
  ASSERT_EQ(converted.size(), 32u + 2 * 616);
  EXPECT_EQ(testkit::NodeFileText(converted, 28, 9), "NODE1");
  EXPECT_EQ(testkit::NodeFileU16(converted, 28 + 612), row.node1);
  EXPECT_EQ(testkit::NodeFileU16(converted, 28 + 616 + 612), row.node2);
  EXPECT_EQ(Read(kCopy), converted);
}

const std::vector<CataloguedRow> kSampleOnNode1 = {{"CAT1", "SAMPLE", '1', "NODE1"}};
const std::vector<std::string> kSampleInDcs = {"SAMPLE"};

INSTANTIATE_TEST_SUITE_P(
    Rows, NodeDcsRule,
    ::testing::Values(
        DcsRuleRow{"Type1EntryInDcs", 5, kSampleOnNode1, kSampleInDcs, {}, 8, 0},
        DcsRuleRow{"Type4EntryInDcs",
                   5,
                   std::vector<CataloguedRow>{{"CAT1", "SAMPLE", '4', "NODE1"}},
                   kSampleInDcs,
                   {},
                   8,
                   0},
        DcsRuleRow{"Type0EntryIsNotKept",
                   5,
                   std::vector<CataloguedRow>{{"CAT1", "SAMPLE", '0', "NODE1"}},
                   kSampleInDcs,
                   {},
                   3,
                   0},
        DcsRuleRow{"Type2EntryIsNotKept",
                   5,
                   std::vector<CataloguedRow>{{"CAT1", "SAMPLE", '2', "NODE1"}},
                   kSampleInDcs,
                   {},
                   3,
                   0},
        DcsRuleRow{"DatabaseNameCutAtBlank",
                   5,
                   std::vector<CataloguedRow>{{"CAT1", "SAMPLE  ", '1', "NODE1"}},
                   kSampleInDcs,
                   {},
                   8,
                   0},
        DcsRuleRow{"LongerDcsNameDoesNotMatch",
                   5,
                   std::vector<CataloguedRow>{{"CAT1", "SAMPLEDB", '1', "NODE1"}},
                   std::vector<std::string>{"SAMPLEDB1"},
                   {},
                   3,
                   0},
        DcsRuleRow{"OnlyTheNamedNode",
                   5,
                   std::vector<CataloguedRow>{{"CAT1", "OTHER", '1', "NODE1"},
                                              {"CAT2", "SAMPLE", '1', "NODE2"}},
                   kSampleInDcs,
                   {},
                   3,
                   8},
        DcsRuleRow{"SecondDcsEntryMatches",
                   5,
                   kSampleOnNode1,
                   std::vector<std::string>{"OTHER", "SAMPLE"},
                   {},
                   8,
                   0},
        DcsRuleRow{"NoDcsFileKeepsOldValue", 5, kSampleOnNode1, {}, {}, 3, 0},
        DcsRuleRow{"NoDatabaseDirectory", 5, {}, kSampleInDcs, {}, 3, 0},
        DcsRuleRow{"EmptyDcsDirectory", 5, kSampleOnNode1, std::vector<std::string>{}, {}, 3, 0},
        DcsRuleRow{"CutDcsDirectoryDisablesTheRule", 5, kSampleOnNode1, kSampleInDcs, 2, 3, 0},
        DcsRuleRow{"Layout1InDcs", 1, kSampleOnNode1, kSampleInDcs, {}, 8, 0},
        DcsRuleRow{"Layout1NoDcsFileStaysZero", 1, kSampleOnNode1, {}, {}, 0, 0}),
    kNodeRowName);

// ---- Failures ----

struct ConversionFailureRow {
  const char* name;
  std::function<void(NodeDirectoryTest&)> damage;  // after the file is written
  bool fileExists;
  int layout;
  uint64_t failAllocation;  // 0: none
  MigrationResult code;
  const char* key;
  std::string object;
};

class NodeConversionFailures : public NodeDirectoryTest,
                               public ::testing::WithParamInterface<ConversionFailureRow> {};

const ByteVector& TwoLayout1Entries() {
  static const ByteVector bytes = NodeDirectoryBuilder(1)
                                      .HeaderValue(5)
                                      .Add(NodeEntryBuilder(1).NodeName("NODE1"))
                                      .Add(NodeEntryBuilder(1).NodeName("NODE2"))
                                      .Bytes();
  return bytes;
}

TEST_P(NodeConversionFailures, NameTheStepAndLeaveTheOldFile) {
  const ConversionFailureRow& row = GetParam();
  const char* source = row.fileExists ? kFile : kCopy;
  Write(source, TwoLayout1Entries());
  if (row.damage) row.damage(*this);
  const ByteVector before = Read(source);
  FailWorkBufferAllocationAt(row.failAllocation);

  char key[kNodeConversionKeySize] = {};
  char object[kNodeConversionObjectSize] = {};
  const MigrationResult result =
      ConvertNodeDirectory(row.fileExists, true, row.layout, kFile, kCopy, key, object, nullptr);
  FailWorkBufferAllocationAt(0);
  EXPECT_EQ(result, row.code);
  EXPECT_STREQ(key, row.key);
  EXPECT_EQ(std::string(object), row.object);
  EXPECT_EQ(Read(source), before) << "the old file changed";
}

std::string Either(const char* source, const char* target) {
  return std::string(source) + " or " + target;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, NodeConversionFailures,
    ::testing::Values(
        ConversionFailureRow{"FileMissing", [](NodeDirectoryTest& t) { t.Remove(kFile); }, true, 1,
                             0, -103, "MNDIR_003", Either(kFile, kCopy)},
        ConversionFailureRow{"CopyPathIsAFolder", [](NodeDirectoryTest& t) { t.MakeFolder(kCopy); },
                             true, 1, 0, -103, "MNDIR_003", Either(kFile, kCopy)},
        ConversionFailureRow{"FromTheCopyWhenTheFileIsAFolder",
                             [](NodeDirectoryTest& t) { t.MakeFolder(kFile); }, false, 1, 0, -103,
                             "MNDIR_003", Either(kCopy, kFile)},
        ConversionFailureRow{"HeaderCutShort",
                             [](NodeDirectoryTest& t) { t.Write(kFile, ByteVector(20, 1)); }, true,
                             1, 0, -105, "MNDIR_004", kFile},
        ConversionFailureRow{"FewerEntriesThanCounted",
                             [](NodeDirectoryTest& t) {
                               t.Write(kFile, NodeDirectoryBuilder(1)
                                                  .EntryCount(3)
                                                  .Add(NodeEntryBuilder(1))
                                                  .Add(NodeEntryBuilder(1))
                                                  .Bytes());
                             },
                             true, 1, 0, -105, "MNDIR_010", kFile},
        ConversionFailureRow{"LayoutOutOfRange", nullptr, true, 6, 0, -102, "MNDIR_002",
                             "Node directory"},
        ConversionFailureRow{"NoHeaderBuffer", nullptr, true, 1, 1, -131, "MNDIR_001", ""},
        ConversionFailureRow{"NoEntryBuffer", nullptr, true, 1, 2, -131, "MNDIR_001", ""},
        ConversionFailureRow{"NoOldEntryBuffer", nullptr, true, 1, 3, -131, "MNDIR_002", ""},
        ConversionFailureRow{"NoBufferForTheConvertedFile", nullptr, true, 1, 4, -131, "MNDIR_018",
                             ""}),
    kNodeRowName);

// Only the copy exists: it is read, the converted directory is written as the file and then
// over the copy, so both end identical.
TEST_F(NodeDirectoryTest, ConversionFromTheCopyFillsBoth) {
  Write(kCopy, TwoLayout1Entries());
  char key[kNodeConversionKeySize] = {};
  char object[kNodeConversionObjectSize] = {};
  ASSERT_EQ(ConvertNodeDirectory(false, true, 1, kFile, kCopy, key, object, nullptr), 0);
  const ByteVector converted = Read(kFile);
  EXPECT_EQ(Read(kCopy), converted);
  ASSERT_EQ(converted.size(), 32u + 2 * 616);
  EXPECT_EQ(testkit::NodeFileText(converted, 28 + 616, 9), "NODE2");
  EXPECT_EQ(testkit::NodeFileU32(converted, 20), 5u);
}

}  // namespace
}  // namespace qz7::migrate::node_test
