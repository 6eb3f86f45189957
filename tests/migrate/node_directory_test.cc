// The node directory: where every field of the current entry comes from in each earlier
// layout, the DCS rule, how MigrateNodeDirectory recognises the files of an instance, what each
// kind of node directory ends as, the repair from an interrupted run's backup, and what a
// failing file operation at any point of a run leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "migrate/node_directory_conversion.h"
#include "migrate/node_directory_migration.h"
#include "migrate/work_buffer.h"
#include "platform/win_error.h"
#include "testkit/fault_points.h"
#include "tests/migrate/migrate_fixture.h"
#include "tools/sample/node_directory_builder.h"

namespace qz7::migrate::testing::node {
namespace {

using sample::NodeBackupBuilder;
using sample::NodeDirectoryBuilder;
using sample::NodeEntryBuilder;
using sample::NodeFileU16;
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

// The current entry as the text's table gives it: each field's width, whether it is a text,
// and where layouts 1 to 5 keep it (-1: left zero). A text is copied up to its zero, cut to
// the new width minus one (and never past the old entry); a number as it is.
struct NodeField {
  size_t offset, width;
  bool text;
  int old[5];
};
constexpr NodeField kNodeFields[] = {
    {0, 9, true, {0, 0, 0, 0, 0}},
    {9, 9, true, {9, 9, 9, 9, 9}},
    {18, 31, true, {18, 18, 18, 18, 18}},
    {49, 9, true, {27, 27, 27, 27, 27}},
    {58, 65, true, {36, 36, 36, 36, 36}},
    {123, 31, true, {101, 101, 45, 101, 101}},
    {154, 2, false, {132, 132, 76, 132, 132}},
    {156, 1, false, {134, 134, 78, 134, 134}},
    {157, 1, false, {135, 135, 79, 135, 135}},
    {158, 2, false, {136, 136, 80, 136, 136}},
    {160, 9, true, {138, 138, 82, 138, 138}},
    {169, 5, true, {147, 147, 91, 147, 147}},
    {174, 10, true, {152, 152, -1, 152, 152}},
    {184, 2, false, {161, 161, -1, 162, 162}},
    {186, 256, true, {163, 163, -1, 164, 164}},
    {442, 15, true, {419, 419, -1, 420, 420}},
    {457, 49, true, {-1, 434, -1, 435, 435}},
    {506, 49, true, {-1, 483, -1, 484, 484}},
    {555, 9, true, {-1, -1, -1, 533, 533}},
    {564, 16, true, {-1, -1, -1, -1, 542}},
    {580, 22, true, {-1, -1, -1, -1, 558}},
    {602, 9, true, {-1, -1, -1, -1, 580}},
    {611, 1, false, {-1, -1, -1, -1, 589}},
    {612, 2, false, {-1, -1, -1, -1, 590}},
    {614, 1, false, {-1, -1, -1, -1, 592}},
};
constexpr size_t kOldNodeEntrySizes[] = {434, 532, 96, 542, 594};

Bytes ExpectedNodeEntry(int layout, const Bytes& old) {
  Bytes entry(base::kNodeEntrySize, 0);
  for (const NodeField& field : kNodeFields) {
    const int from = field.old[layout - 1];
    if (from < 0) continue;
    size_t width = field.width;
    if (field.text) width = std::min(width - 1, old.size() - static_cast<size_t>(from));
    std::copy_n(old.begin() + from, width,
                entry.begin() + static_cast<std::ptrdiff_t>(field.offset));
  }
  return entry;
}

// Each layout converts the two patterns (which tell every old byte from every other, and hold
// no zero, so every text runs to its width) as the text's table says, and a directory of them
// to those entries under its own header value.
TEST_F(NodeDirectoryTest, EntriesFollowTheTable) {
  for (int layout = 1; layout <= 5; ++layout) {
    SCOPED_TRACE("layout " + std::to_string(layout));
    const size_t size = kOldNodeEntrySizes[layout - 1];
    Bytes converted[2];
    for (int which : {0, 1}) {
      converted[which] = Bytes(base::kNodeEntrySize, 0xEE);
      EXPECT_TRUE(BuildNodeEntry(static_cast<Type>(layout), Pattern(size, which).data(), size,
                                 converted[which].data()));
      EXPECT_TRUE(SameBytes(converted[which], ExpectedNodeEntry(layout, Pattern(size, which))));
    }
    const Bytes old = NodeDirectoryBuilder(layout)
                          .HeaderValue(0xA1B2C3D4)
                          .AddRaw(Pattern(size, 0))
                          .AddRaw(Pattern(size, 1))
                          .Bytes();
    Put(kFile, old);
    Put(kCopy, old);
    ASSERT_TRUE(Converts(layout));
    const Bytes want = NodeDirectoryBuilder(97)
                           .HeaderValue(0xA1B2C3D4)
                           .AddRaw(converted[0])
                           .AddRaw(converted[1])
                           .Bytes();
    EXPECT_TRUE(SameBytes(Get(kFile), want));
    EXPECT_TRUE(SameBytes(Get(kCopy), want));
  }
}

// A node gets 8 in field 612 when a catalogued database of entry type "1" or "4" names it and
// its database name (cut at the first blank) is in the DCS directory; otherwise it keeps its
// old value. Without a DCS directory, or with one cut short of its count, no node gets 8. Every
// file is over a megabyte: read and copied in more than one piece.
TEST_F(NodeDirectoryTest, DcsRule) {
  // Node i is named by database i; the DCS directory holds name i. Later nodes are named by
  // databases of type "1" that are in the DCS directory.
  const struct {
    const char *database, *dcs;
    char type;
    uint16_t value;  // field 612 afterwards, with the whole DCS directory
  } nodes[] = {
      {"TYPE1", "TYPE1", '1', 8}, {"TYPE4", "TYPE4", '4', 8}, {"TYPE2", "TYPE2", '2', 3},
      {"CUT  ", "CUT", '1', 8},   {"LONG", "LONGER", '1', 3}, {"ELSE", "OTHER", '1', 3},
  };
  constexpr size_t kNodes = std::size(nodes) + 1800;
  for (const std::string dcsFile : {"whole", "missing", "cut short"}) {
    SCOPED_TRACE(dcsFile);
    ClearInstance();
    NodeDirectoryBuilder nodeFile(5);
    sample::CurrentDatabaseDirectoryBuilder databases;
    sample::DcsDirectoryBuilder dcs;
    for (size_t i = 0; i < kNodes; ++i) {
      const std::string n = std::to_string(i);
      const bool row = i < std::size(nodes);
      nodeFile.Add(NodeEntryBuilder(5).NodeName("N" + n).U16(590, 3));
      databases.Add("C" + n, row ? nodes[i].database : "D" + n, row ? nodes[i].type : '1', "N" + n);
      dcs.Add(row ? nodes[i].dcs : "D" + n);
    }
    Put(kFile, nodeFile.Bytes());
    Put(kDatabaseDir, databases.Bytes());
    if (dcsFile == "cut short") dcs.EntryCount(kNodes + 1);
    if (dcsFile != "missing") Put(kDcsDir, dcs.Bytes());
    ASSERT_TRUE(Converts(5));
    const Bytes converted = Get(kFile);
    ASSERT_EQ(converted.size(), 32u + kNodes * 616);
    for (size_t i = 0; i < kNodes; ++i) {
      const bool set = dcsFile == "whole" && (i >= std::size(nodes) || nodes[i].value == 8);
      ASSERT_EQ(NodeFileU16(converted, 28 + i * 616 + 612), set ? 8 : 3) << "node " << i;
    }
    EXPECT_EQ(Get(kCopy), converted);
  }
}

// What a run makes of the files it finds. A refused directory is left as it was and no backup
// is made; a migrated one ends with the file and the copy identical and the old bytes in
// SQLNDDIR.BAK (status "C"). SQLNDDIR.TMP left by an interrupted run is restored and
// converted again (whatever the directory files hold and whatever its status: the upgrade
// scenarios' crash loops); an unusable one stops the run.
TEST_F(NodeDirectoryTest, RunsEndAsExpected) {
  Put(kFile, kNodes);
  ASSERT_TRUE(Converts(1));
  const Bytes converted = Get(kFile);
  // Larger than a piece of the copy's comparison, differing only in its last byte.
  const Bytes big(200 * 1024 + 5, 0x5A);
  Bytes bigFlipped = big;
  bigFlipped.back() ^= 0x01;
  const Bytes unknown = NodeDirectoryBuilder(1).AddRaw(Bytes(100, 1)).Bytes();
  const Bytes twoOfThree = NodeDirectoryBuilder(1).EntryCount(2).AddRaw(Bytes(3 * 616, 0)).Bytes();
  Bytes damaged = NodeBackupBuilder().Status('I').Data(kNodes).Bytes();
  damaged[29] ^= 0x01;  // the signature's last letter
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
      {"large_files_differ_in_the_last_byte", big, bigFlipped, Bytes(), -101,
       "MAIN017: " + both + " are different", nullptr},
      {"current_layout", kCurrent, kCurrent, Bytes(), 0, "", nullptr},
      // A count that the size overrules; each layout by its entry size is the rows here and the
      // upgrade scenarios' (layout 3 the show command's).
      {"whole_multiple_of_616_entries", twoOfThree, twoOfThree, Bytes(), 0, "", nullptr},
      {"unknown_entry_size", unknown, unknown, Bytes(), -102,
       "MAIN020: Node directory unrecognizable directory file", nullptr},
      {"layout1", kNodes, kNodes, Bytes(), 0, "", layout1},
      {"layout1_copy_only", none, kNodes, Bytes(), 0, "", layout1},
      {"empty_directory", kOldEmpty, kOldEmpty, Bytes(), 0, "", "EMPTY DIRECTORY"},
      {"backup_signature_damaged", kNodes, kNodes, damaged, -107, bad, nullptr},
      {"backup_without_data", kCurrent, kCurrent, NodeBackupBuilder().Status('C').Bytes(), -107,
       bad, nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ClearInstance();
    if (row.file) Put(kFile, *row.file);
    if (row.copy) Put(kCopy, *row.copy);
    if (!row.tmp.empty()) Put(kTmp, row.tmp);
    EXPECT_EQ(MigrateNodeDirectory(kInstance), row.code);
    EXPECT_EQ(ErrorRecords(), row.record.empty() ? Texts() : Texts{row.record});
    EXPECT_FALSE(Exists(kStaging));
    if (row.layoutName == nullptr) {
      EXPECT_FALSE(Exists(kBak));
      EXPECT_EQ(Exists(kFile) ? std::optional(Get(kFile)) : std::nullopt, row.file);
      EXPECT_EQ(Exists(kCopy) ? std::optional(Get(kCopy)) : std::nullopt, row.copy);
      EXPECT_EQ(Get(kTmp), row.tmp);
      continue;
    }
    EXPECT_FALSE(Exists(kTmp));
    const Bytes& old = row.file ? *row.file : *row.copy;
    const Bytes want = old == kOldEmpty ? NodeDirectoryBuilder(97).Bytes() : converted;
    EXPECT_TRUE(SameBytes(Get(kFile), want));
    EXPECT_TRUE(SameBytes(Get(kCopy), want));
    EXPECT_TRUE(SameBytes(
        Get(kBak), NodeBackupBuilder().LayoutName(row.layoutName).Status('C').Data(old).Bytes()));
  }
}

// The steps of a conversion of kNodes (two entries) from the file into the copy that a
// failing file operation stops, in their order; reading the file, or its bytes handed in.
std::vector<FailingStep> ConversionSteps(bool readsFile) {
  std::vector<FailingStep> steps = {
      {"open the file and the copy", "MNDIR_003", std::string(kFile) + " or " + kCopy, -103}};
  if (readsFile) steps.push_back({"read the old header", "MNDIR_004", kFile, -105});
  steps.push_back({"write the new header", "MNDIR_005", kCopy, -106});
  for (int entry = 0; entry < 2; ++entry) {
    if (readsFile) steps.push_back({"read an entry", "MNDIR_010", kFile, -105});
    steps.push_back({"write an entry", "MNDIR_011", kCopy, -106});
  }
  steps.push_back({"write the closing value", "MNDIR_012", kCopy, -106});
  if (readsFile) steps.push_back({"close the file", "MNDIR_013", kFile, -104});
  steps.insert(steps.end(), {{"return to the copy's start", "MNDIR_014", kCopy, -121},
                             {"seek to its end", "MNDIR_015", kCopy, -121},
                             {"rewind it", "MNDIR_017", kCopy, -121},
                             {"read it back", "MNDIR_019", kCopy, -105},
                             {"close it", "MNDIR_020", kCopy, -104},
                             {"create the file anew", "MNDIR_021", kFile, -103},
                             {"write it", "MNDIR_022", kFile, -106},
                             {"close it", "MNDIR_025", kFile, -104}});
  return steps;
}

// Each failing file operation of a conversion ends it under the key of its step with the code
// that step gives; a failing read for the DCS rule only turns the rule off.
TEST_F(NodeDirectoryTest, EachFailingConversionStepHasItsKeyAndCode) {
  const auto prepare = [&] {
    Put(kFile, kNodes);
    Put(kCopy, kNodes);
  };
  char key[kNodeConversionKeySize];
  char object[kNodeConversionObjectSize];
  MigrationResult code = 0;
  const auto run = [&] {
    key[0] = object[0] = '\0';
    code = ConvertNodeDirectory(true, true, 1, kFile, kCopy, key, object, nullptr);
  };
  StepWalk steps(ConversionSteps(true));
  testkit::FaultAtEveryPoint(
      testkit::CountOperations(prepare, run, platform::kFileOperationKinds),
      testkit::Failing(platform::kErrorWriteFault, platform::kFileOperationKinds),
      {prepare, run, [&](uint64_t) {
         steps.Check(code, Texts{std::string(key) + ": " + object + MigrationFragmentOf(code)});
       }});
  EXPECT_TRUE(steps.Done());
}

// The steps of a run that a failing file operation stops, in their order, from the backup an
// interrupted run left (restored) or from the old directory. A tell makes no operation of its
// own, and a failing open of SQLNDDIR.TMP, SQLNODIR or SQLNOBAK "rb+" counts as a missing
// file. The backup is written under its staging name and moved into place; the converted
// files and their folder are synced before the backup is completed, under its close's key.
std::vector<FailingStep> NodeSteps(bool restored) {
  const std::string staging = kStaging;
  const char* rename = "Rename file failed";
  std::vector<FailingStep> steps = {{"create the error file", nullptr, "", -124}};
  if (restored) {
    // SQLNDDIR.TMP taken for missing: the new backup cannot take its name.
    steps.insert(steps.end(), {{"open the backup", "MAIN031", rename, -125},
                               {"seek to the backup's end", "MAIN_003", kTmp, -108},
                               {"rewind it", "MAIN_006", kTmp, -108},
                               {"read its header", "MAIN_007", kTmp, -105},
                               {"read its data", "MAIN_008", kTmp, -105},
                               {"return to its start", "MAIN_009", kTmp, -108},
                               {"write its header", "MAIN_012", kTmp, -108},
                               {"sync and close it", "MAIN_013", kTmp, -104},
                               {"create the file", "MAIN_001", kFile, -108},
                               {"create the copy", "MAIN_002", kCopy, -108},
                               {"write the file", "MAIN_014", kFile, -106},
                               {"write the copy", "MAIN_015", kCopy, -106},
                               {"close the file", "MAIN_016", kFile, -104},
                               {"close the copy", "MAIN_016", kCopy, -104}});
  } else {
    steps.insert(steps.end(), {{"size the file", "MAIN017", kFile, -121},
                               {"read the file", "MAIN017", kFile, -105},
                               {"close the file", "MAIN017", kFile, -104},
                               {"size the copy", "MAIN017", kCopy, -121},
                               {"read the copy", "MAIN017", kCopy, -105},
                               {"close the copy", "MAIN017", kCopy, -104}});
  }
  steps.push_back({"recognise the file", "MAIN018", kFile, -105});
  if (!restored) {
    steps.insert(steps.end(), {{"create the backup", "MAIN021", staging, -103},
                               {"write its header", "MAIN022", staging, -108},
                               {"write its data", "MAIN030", staging, -108},
                               {"sync and close it", "MAIN031", staging, -104},
                               {"move it into place", "MAIN031", rename, -125}});
  }
  const std::vector<FailingStep> conversion = ConversionSteps(false);
  steps.insert(steps.end(), conversion.begin(), conversion.end());
  steps.insert(steps.end(), {{"sync the file", "MAIN042", kFile, -104},
                             {"sync the copy", "MAIN042", kCopy, -104},
                             {"sync the folder", "MAIN042", kTmp, -104},
                             {"open the backup", "MAIN038", kTmp, -108},
                             {"read its header", "MAIN039", kTmp, -108},
                             {"return to its start", "MAIN040", kTmp, -108},
                             {"write its header", "MAIN041", kTmp, -108},
                             {"sync and close it", "MAIN042", kTmp, -104},
                             {"rename it to SQLNDDIR.BAK", "MAIN046", rename, -125}});
  return steps;
}

// Every work buffer of a run in turn cannot be had (the run starting from the backup an
// interrupted run left); then every file operation in turn fails with a Windows error, or ends
// the process as a killed process or a power cut (what was not synced is lost) ends it, the
// directory beside an older permanent backup and with the DCS rule's files to read. A failed
// run leaves the old directory untouched, whole in SQLNDDIR.TMP or converted, and says why in
// the error file (a missing buffer with -131 and a record without object, a failing operation
// with the key and code of its step); after any of them the next run ends as an uninterrupted
// one.
TEST_F(NodeDirectoryTest, AMissingBufferOrAFailingOrStoppedOperationLosesNothing) {
  const auto state = [&] {
    return std::vector<Bytes>{Get(kFile), Get(kCopy), Get(kBak), Get(kTmp), Get(kStaging)};
  };
  // The backup of an interrupted run, or an older permanent backup and (with dcs) the DCS
  // rule's files, whose reads are points too; a failed one changes the result, so only there.
  const auto prepare = [&](bool interrupted, bool dcs) {
    ClearInstance();
    Put(kFile, kNodes);
    Put(kCopy, kNodes);
    Put(interrupted ? kTmp : kBak,
        interrupted ? NodeBackupBuilder().Data(kNodes).Bytes() : Bytes(9, 1));
    if (!dcs) return;
    Put(kDatabaseDir,
        sample::CurrentDatabaseDirectoryBuilder().Add("CAT1", "SAMPLE", '1', "NODE2").Bytes());
    Put(kDcsDir, sample::DcsDirectoryBuilder().Add("SAMPLE").Bytes());
  };
  MigrationResult result = 0;
  const auto run = [&] {
    ::testing::internal::CaptureStdout();  // the notice when the error file fails
    result = MigrateNodeDirectory(kInstance);
    ::testing::internal::GetCapturedStdout();
  };
  std::vector<Bytes> converted;
  // What a failed run leaves, and the next run.
  const auto expectNothingLost = [&] {
    const bool untouched = Get(kFile) == kNodes && Get(kCopy) == kNodes;
    const bool inBackup = Exists(kTmp) && BackupData(Get(kTmp)) == kNodes;
    EXPECT_TRUE(untouched || inBackup || (result == 0 && state() == converted)) << result;
    // A backup that did not open was taken for missing, and the staging file that could not
    // take its name stays: the next run restores from SQLNDDIR.TMP and removes it.
    EXPECT_EQ(MigrateNodeDirectory(kInstance), 0);
    EXPECT_TRUE(state() == converted);
  };

  prepare(true, false);
  FailWorkBufferAllocationAt(0);
  ASSERT_EQ(MigrateNodeDirectory(kInstance), 0);
  const uint64_t buffers = WorkBufferAllocationCount();
  converted = state();
  Texts bufferKeys;  // the key of each missing buffer's record, in allocation order
  testkit::ForEachPoint(1, buffers, "missing work buffer", [&](uint64_t n) {
    prepare(true, false);
    FailWorkBufferAllocationAt(n);
    run();
    FailWorkBufferAllocationAt(0);
    EXPECT_EQ(result, -131);
    const Texts records = ErrorRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].substr(records[0].find(':')), ": ") << records[0];
    bufferKeys.push_back(records[0].substr(0, records[0].find(':')));
    expectNothingLost();
  });
  // The steps that take buffers, in their order: the restore's data, the conversion's header
  // and entries, its entry of the old layout, and the converted file read back.
  EXPECT_EQ(bufferKeys, (Texts{"MAIN_005", "MNDIR_001", "MNDIR_001", "MNDIR_002", "MNDIR_018"}));

  for (const bool interrupted : {true, false}) {
    for (const bool stopped : {false, true}) {
      if (interrupted && stopped) continue;
      SCOPED_TRACE(interrupted ? "from an interrupted run's backup" : "from the old directory");
      const auto prepareRound = [&] { prepare(interrupted, stopped); };
      const uint64_t operations = testkit::CountOperations(prepareRound, run);
      ASSERT_EQ(result, 0);
      converted = state();
      ASSERT_GE(operations, 20u);
      const std::vector<testkit::PointFault> faults =
          stopped ? testkit::StoppingFaults()
                  : std::vector{testkit::Failing(platform::kErrorDiskFull),
                                testkit::Failing(platform::kErrorAccessDenied)};
      for (const testkit::PointFault& fault : faults) {
        // A stopped run is judged by the next run alone; it runs without capturing the
        // output, whose file a stopped child would leave behind.
        StepWalk steps(NodeSteps(interrupted));
        const testkit::FaultLoop loop =
            stopped ? testkit::FaultLoop{prepareRound,
                                         [] { static_cast<void>(MigrateNodeDirectory(kInstance)); },
                                         [&](uint64_t) {
                                           EXPECT_EQ(MigrateNodeDirectory(kInstance), 0);
                                           EXPECT_TRUE(state() == converted);
                                         }}
                    : testkit::FaultLoop{prepareRound, run, [&](uint64_t) {
                                           steps.Check(result, ErrorRecords());
                                           expectNothingLost();
                                         }};
        testkit::FaultAtEveryPoint(operations, fault, loop);
        EXPECT_TRUE(stopped || steps.Done());
      }
    }
  }
}

}  // namespace
}  // namespace qz7::migrate::testing::node
