// MigrateNodeDirectory on the files of an instance: what each kind of node directory ends as,
// the error records of refused ones, the repair from an interrupted run's backup, and what a
// failing or crashing file operation at any point of a run leaves behind.
#include "migrate/node_directory_migration.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/win_error.h"
#include "tests/migrate/node_directory_test_support.h"

namespace qz7::migrate::node_test {
namespace {

using testkit::CurrentDatabaseDirectoryBuilder;
using testkit::DcsDirectoryBuilder;
using testkit::NodeBackupBuilder;
using testkit::NodeDirectoryBuilder;
using testkit::NodeEntryBuilder;

std::string Both(const char* a, const char* b) { return std::string(a) + " and " + b; }

// Two entries of layout 1 whose texts at old 27 and 36 differ per entry.
ByteVector TwoLayout1Nodes() {
  return NodeDirectoryBuilder(1)
      .HeaderValue(0x01020304)
      .Add(NodeEntryBuilder(1).NodeName("NODE1").Text(27, 9, "TCPIP").Text(36, 65, "HOST.ONE"))
      .Add(NodeEntryBuilder(1).NodeName("NODE2").Text(27, 9, "NETBIOS").Text(36, 65, "HOST.TWO"))
      .Bytes();
}

// ---- RecogniseNodeDirectoryFile ----

TEST_F(NodeDirectoryTest, RecognisesTheLayoutFromSizeAndCount) {
  auto entries = [](uint16_t count, size_t bytes) {
    return NodeDirectoryBuilder(1).EntryCount(count).AddRaw(ByteVector(bytes, 0)).Bytes();
  };
  const struct {
    const char* name;
    std::optional<ByteVector> file;  // nullopt: missing
    MigrationResult code;
    NodeDirectoryLayoutType type;
  } rows[] = {
      {"Missing", std::nullopt, -105, NodeDirectoryLayoutType::kUnrecognised},
      {"ShorterThanTheHeader", ByteVector(27, 0), -105, NodeDirectoryLayoutType::kUnrecognised},
      {"HeaderWithoutClosingValue", ByteVector(31, 0), 0, NodeDirectoryLayoutType::kUnrecognised},
      {"FrameOnly", entries(0, 0), 0, NodeDirectoryLayoutType::kEmpty},
      {"CountZeroWithBytes", entries(0, 434), 0, NodeDirectoryLayoutType::kEmpty},
      {"Current", entries(3, 3 * 616), 0, NodeDirectoryLayoutType::kCurrent},
      {"CurrentPlusSpareByte", entries(2, 2 * 616 + 1), 0, NodeDirectoryLayoutType::kCurrent},
      {"WholeMultipleOf616", entries(2, 3 * 616), 0, NodeDirectoryLayoutType::kCurrent},
      {"Layout1", entries(2, 2 * 434), 0, NodeDirectoryLayoutType::kLayout1},
      {"Layout1PlusSpareByte", entries(2, 2 * 434 + 1), 0, NodeDirectoryLayoutType::kLayout1},
      {"Layout2", entries(1, 532), 0, NodeDirectoryLayoutType::kLayout2},
      {"Layout3", entries(4, 4 * 96), 0, NodeDirectoryLayoutType::kLayout3},
      {"Layout4", entries(1, 542), 0, NodeDirectoryLayoutType::kLayout4},
      {"Layout5", entries(2, 2 * 594), 0, NodeDirectoryLayoutType::kLayout5},
      {"UnknownEntrySize", entries(2, 200), 0, NodeDirectoryLayoutType::kUnrecognised},
      {"CountLargerThanTheEntries", entries(3, 2 * 434), 0, NodeDirectoryLayoutType::kUnrecognised},
  };
  for (const auto& row : rows) {
    Remove(kFile);
    if (row.file) Write(kFile, *row.file);
    NodeDirectoryLayoutType type = NodeDirectoryLayoutType::kLayout1;
    EXPECT_EQ(RecogniseNodeDirectoryFile(kFile, &type), row.code) << row.name;
    if (row.code == 0) {
      EXPECT_EQ(type, row.type) << row.name;
    }
  }
}

// ---- Whole runs ----

struct RunRow {
  const char* name;
  std::optional<ByteVector> file;
  std::optional<ByteVector> copy;
  MigrationResult code;
  std::vector<std::string> records;
  bool backupMade;  // SQLNDDIR.BAK afterwards, with this layout name
  const char* layoutName;
};

class NodeMigrationRuns : public NodeDirectoryTest, public ::testing::WithParamInterface<RunRow> {};

// A refused directory is left as it was and no backup is made; a migrated one ends with the
// file and the copy identical and the old bytes in SQLNDDIR.BAK (status "C").
TEST_P(NodeMigrationRuns, EndsAsExpected) {
  const RunRow& row = GetParam();
  if (row.file) Write(kFile, *row.file);
  if (row.copy) Write(kCopy, *row.copy);
  EXPECT_EQ(MigrateNodeDirectory(kInstance), row.code);
  EXPECT_EQ(ErrorRecords(), row.records);
  EXPECT_FALSE(Exists(kTmp));
  EXPECT_FALSE(Exists(kStaging));
  EXPECT_EQ(Exists(kBak), row.backupMade);
  if (!row.backupMade) {
    if (row.file) {
      EXPECT_EQ(Read(kFile), *row.file);
    }
    if (row.copy) {
      EXPECT_EQ(Read(kCopy), *row.copy);
    }
    EXPECT_EQ(Exists(kFile), row.file.has_value());
    EXPECT_EQ(Exists(kCopy), row.copy.has_value());
    return;
  }
  const ByteVector converted = Read(kFile);
  EXPECT_EQ(Read(kCopy), converted);
  EXPECT_EQ(testkit::NodeFileText(converted, 0, 16), "NODE DIRECTORY");
  EXPECT_EQ(testkit::NodeFileU16(converted, 24), 0x0300);
  const ByteVector backup = Read(kBak);
  ASSERT_GE(backup.size(), 85u);
  EXPECT_EQ(testkit::NodeFileText(backup, 0, 40), "QZ7 NODE DIRECTORY FILE BACKUP");
  EXPECT_EQ(testkit::NodeFileText(backup, 40, 22), row.layoutName);
  EXPECT_EQ(testkit::NodeFileText(backup, 62, 22), "QZ7 V6.x");
  EXPECT_EQ(backup[84], 'C');
  EXPECT_EQ(BackupData(backup), row.file ? *row.file : *row.copy);
}

const ByteVector kNodes = TwoLayout1Nodes();
ByteVector LastByteFlipped() {
  ByteVector bytes = TwoLayout1Nodes();
  bytes.back() ^= 0x80;
  return bytes;
}
const ByteVector kCurrent = NodeDirectoryBuilder(97)
                                .Add(NodeEntryBuilder(97).NodeName("A"))
                                .Add(NodeEntryBuilder(97).NodeName("B"))
                                .Add(NodeEntryBuilder(97).NodeName("C"))
                                .Bytes();
const ByteVector kOldEmpty = NodeDirectoryBuilder(1).Signature("OLD").HeaderValue(9).Bytes();
const ByteVector kEntriesOf100 =
    NodeDirectoryBuilder(1).AddRaw(ByteVector(100, 1)).AddRaw(ByteVector(100, 2)).Bytes();

INSTANTIATE_TEST_SUITE_P(
    Rows, NodeMigrationRuns,
    ::testing::Values(RunRow{"NeitherFileNorCopy",
                             {},
                             {},
                             -103,
                             {"MAIN017: " + Both(kFile, kCopy) + " cannot be opened"},
                             false,
                             ""},
                      RunRow{"DifferInTheLastByte",
                             kNodes,
                             LastByteFlipped(),
                             -101,
                             {"MAIN017: " + Both(kFile, kCopy) + " are different"},
                             false,
                             ""},
                      RunRow{"CurrentLayout", kCurrent, kCurrent, 0, {}, false, ""},
                      RunRow{"UnknownEntrySize",
                             kEntriesOf100,
                             kEntriesOf100,
                             -102,
                             {"MAIN020: Node directory unrecognizable directory file"},
                             false,
                             ""},
                      RunRow{"Layout1", kNodes, kNodes, 0, {}, true, "TYPE1_DECB PACKED"},
                      RunRow{"Layout1CopyOnly", {}, kNodes, 0, {}, true, "TYPE1_DECB PACKED"},
                      RunRow{"Layout1FileOnly", kNodes, {}, 0, {}, true, "TYPE1_DECB PACKED"},
                      RunRow{
                          "EmptyDirectory", kOldEmpty, kOldEmpty, 0, {}, true, "EMPTY DIRECTORY"}),
    kNodeRowName);

// Each entry of a layout-1 file lands in its own 616-byte slot, old 27 at new 49, old 36 at 58.
TEST_F(NodeDirectoryTest, TwoLayout1EntriesLandAtTheirNewOffsets) {
  Write(kFile, kNodes);
  Write(kCopy, kNodes);
  ASSERT_EQ(MigrateNodeDirectory(kInstance), 0);
  const ByteVector converted = Read(kFile);
  ASSERT_EQ(converted.size(), 32u + 2 * 616);
  EXPECT_EQ(testkit::NodeFileU16(converted, 16), 2);
  EXPECT_EQ(testkit::NodeFileU32(converted, 20), 0x01020304u);
  EXPECT_EQ(testkit::NodeFileU32(converted, 28 + 2 * 616), 0x01020304u);
  const struct {
    size_t entry;
    const char* name;
    const char* at49;
    const char* at58;
  } expected[] = {{0, "NODE1", "TCPIP", "HOST.ONE"}, {1, "NODE2", "NETBIOS", "HOST.TWO"}};
  for (const auto& e : expected) {
    const size_t base = 28 + e.entry * 616;
    EXPECT_EQ(testkit::NodeFileText(converted, base, 9), e.name);
    EXPECT_EQ(testkit::NodeFileText(converted, base + 49, 9), e.at49);
    EXPECT_EQ(testkit::NodeFileText(converted, base + 58, 65), e.at58);
    EXPECT_EQ(testkit::NodeFileText(converted, base + 27, 9), "") << "old offset kept";
  }
  // A second run finds the current layout and leaves everything as it is.
  const ByteVector backup = Read(kBak);
  EXPECT_EQ(MigrateNodeDirectory(kInstance), 0);
  EXPECT_EQ(Read(kFile), converted);
  EXPECT_EQ(Read(kBak), backup);
}

// The empty directory becomes the 32-byte empty directory of the current layout.
TEST_F(NodeDirectoryTest, EmptyDirectoryIsRewrittenEmpty) {
  Write(kFile, kOldEmpty);
  Write(kCopy, kOldEmpty);
  ASSERT_EQ(MigrateNodeDirectory(kInstance), 0);
  const ByteVector expected = NodeDirectoryBuilder(97).HeaderValue(0).Bytes();
  EXPECT_EQ(Read(kFile), expected);
  EXPECT_EQ(Read(kCopy), expected);
  EXPECT_EQ(expected.size(), 32u);
}

// ---- Repair from SQLNDDIR.TMP ----

struct RestoreRow {
  const char* name;
  ByteVector backup;
  std::optional<ByteVector> file;  // what an interrupted run left; nullopt: missing
  MigrationResult code;
  std::vector<std::string> records;
};

class NodeMigrationRestore : public NodeDirectoryTest,
                             public ::testing::WithParamInterface<RestoreRow> {};

TEST_P(NodeMigrationRestore, RestoresAndConvertsAgainOrRefuses) {
  const RestoreRow& row = GetParam();
  // What an uninterrupted run makes of the old directory.
  Write(kFile, kNodes);
  Write(kCopy, kNodes);
  ASSERT_EQ(MigrateNodeDirectory(kInstance), 0);
  const ByteVector converted = Read(kFile);
  ClearInstance();

  Write(kTmp, row.backup);
  if (row.file) {
    Write(kFile, *row.file);
    Write(kCopy, *row.file);
  }
  EXPECT_EQ(MigrateNodeDirectory(kInstance), row.code);
  EXPECT_EQ(ErrorRecords(), row.records);
  if (row.code != 0) {
    // Refused: nothing was touched.
    EXPECT_EQ(Read(kTmp), row.backup);
    EXPECT_EQ(Exists(kFile), row.file.has_value());
    if (row.file) {
      EXPECT_EQ(Read(kFile), *row.file);
      EXPECT_EQ(Read(kCopy), *row.file);
    }
    EXPECT_FALSE(Exists(kBak));
    return;
  }
  EXPECT_EQ(Read(kFile), converted);
  EXPECT_EQ(Read(kCopy), converted);
  EXPECT_FALSE(Exists(kTmp));
  const ByteVector backup = Read(kBak);
  ASSERT_EQ(BackupData(backup), kNodes);
  EXPECT_EQ(backup[84], 'C');
}

const std::string kBadBackup = std::string("MAIN_011: ") + kTmp + " bad DD File backup";

INSTANTIATE_TEST_SUITE_P(
    Rows, NodeMigrationRestore,
    ::testing::Values(
        RestoreRow{"StatusCAfterAFailedRename",
                   NodeBackupBuilder().Status('C').Data(kNodes).Bytes(),
                   std::nullopt,
                   0,
                   {}},
        RestoreRow{"StatusCOverConvertedFiles",
                   NodeBackupBuilder().Status('C').Data(kNodes).Bytes(),
                   kCurrent,
                   0,
                   {}},
        RestoreRow{"StatusIOverHalfWrittenFiles",
                   NodeBackupBuilder().Status('I').Data(kNodes).Bytes(),
                   ByteVector(50, 0xAB),
                   0,
                   {}},
        RestoreRow{
            "DamagedSignature",
            NodeBackupBuilder().Signature("QZ7 NODE DIRECTORY FILE BACKUQ").Data(kNodes).Bytes(),
            kNodes,
            -107,
            {kBadBackup}},
        RestoreRow{
            "SignatureWithoutItsZero",
            NodeBackupBuilder().Signature("QZ7 NODE DIRECTORY FILE BACKUPS").Data(kNodes).Bytes(),
            kNodes,
            -107,
            {kBadBackup}},
        RestoreRow{"NoData", NodeBackupBuilder().Status('C').Bytes(), kCurrent, -107, {kBadBackup}},
        RestoreRow{"ShorterThanItsHeader",
                   ByteVector(40, 'Q'),
                   kNodes,
                   -105,
                   {std::string("MAIN_007: ") + kTmp + " read error"}}),
    kNodeRowName);

// An older SQLNDDIR.BAK is replaced; one that cannot be removed makes the rename fail, the
// backup stays as SQLNDDIR.TMP with status "C", and the next run repairs from it.
TEST_F(NodeDirectoryTest, PermanentBackupThatCannotBeReplaced) {
  Write(kFile, kNodes);
  Write(kCopy, kNodes);
  MakeFolder(kBak);
  EXPECT_EQ(MigrateNodeDirectory(kInstance), -125);
  EXPECT_EQ(ErrorRecords(), std::vector<std::string>{
                                "MAIN046: Rename file failed cannot resolved its directory path"});
  const ByteVector converted = Read(kFile);
  EXPECT_EQ(Read(kCopy), converted);
  const ByteVector backup = Read(kTmp);
  EXPECT_EQ(backup[84], 'C');
  EXPECT_EQ(BackupData(backup), kNodes);

  Remove(kBak);
  Write(kBak, ByteVector(10, 1));  // an ordinary older backup is simply replaced
  EXPECT_EQ(MigrateNodeDirectory(kInstance), 0);
  EXPECT_EQ(ErrorRecords(), std::vector<std::string>{});
  EXPECT_EQ(Read(kFile), converted);
  EXPECT_EQ(Read(kCopy), converted);
  EXPECT_FALSE(Exists(kTmp));
  EXPECT_EQ(BackupData(Read(kBak)), kNodes);
}

TEST_F(NodeDirectoryTest, ErrorFileThatCannotBeCreated) {
  Write(kFile, kNodes);
  Write(kCopy, kNodes);
  MakeFolder(kErrorFile);
  ::testing::internal::CaptureStdout();
  const MigrationResult result = MigrateNodeDirectory(kInstance);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Cannot create QZ7MGNDD.ERR file on C:\\QZ7\\INST1 \n");
  EXPECT_EQ(result, -124);
  EXPECT_EQ(Read(kFile), kNodes);
  EXPECT_EQ(Read(kCopy), kNodes);
  EXPECT_FALSE(Exists(kTmp));
  EXPECT_FALSE(Exists(kStaging));
}

TEST_F(NodeDirectoryTest, InstanceDirectoryTooLongForThePaths) {
  // 221 characters fit the error file's path but not "\SQLNODIR\SQLNDDIR.TMP".
  const std::string instance = "C:\\" + std::string(218, 'L');
  machine_.MakeDirectory(instance);
  EXPECT_EQ(MigrateNodeDirectory(instance.c_str()), -103);
  const ByteVector errors = machine_.ReadFile(instance + "\\QZ7MGNDD.ERR");
  EXPECT_EQ(std::string(errors.begin(), errors.begin() + 9), "MAIN017: ");
}

// A buffer that cannot be had ends the run with -131 and a record without object.
TEST_F(NodeDirectoryTest, AllocationFailures) {
  const struct {
    const char* name;
    bool fromBackup;
    uint64_t allocation;
    const char* record;
  } rows[] = {
      {"ComparingTheFile", false, 1, "MAIN017: "},
      {"ComparingTheCopy", false, 2, "MAIN017: "},
      {"BackupData", false, 3, "MAIN025: "},
      {"ConversionHeader", false, 4, "MNDIR_001: "},
      {"ConversionOldEntry", false, 6, "MNDIR_002: "},
      {"ConvertedFile", false, 7, "MNDIR_018: "},
      {"RestoredData", true, 1, "MAIN_005: "},
  };
  for (const auto& row : rows) {
    ClearInstance();
    Write(kFile, kNodes);
    Write(kCopy, kNodes);
    if (row.fromBackup) Write(kTmp, NodeBackupBuilder().Data(kNodes).Bytes());
    FailWorkBufferAllocationAt(row.allocation);
    EXPECT_EQ(MigrateNodeDirectory(kInstance), -131) << row.name;
    FailWorkBufferAllocationAt(0);
    EXPECT_EQ(ErrorRecords(), std::vector<std::string>{row.record}) << row.name;
    // Nothing is lost: the old directory is in place or whole in SQLNDDIR.TMP.
    EXPECT_TRUE((Read(kFile) == kNodes && Read(kCopy) == kNodes) ||
                BackupData(Read(kTmp)) == kNodes)
        << row.name;
  }
}

// ---- Failing and crashing file operations ----

// A layout-5 directory with three nodes, one of them used by a DCS database, an older
// permanent backup, and the database and DCS directories the conversion reads.
class NodeMigrationFaults : public NodeDirectoryTest {
 public:
  void Prepare(bool withDcs) {
    ClearInstance();
    Write(kFile, original_);
    Write(kCopy, original_);
    Write(kBak, ByteVector(16, 0x55));
    if (withDcs) {
      Write(kDatabaseDir,
            CurrentDatabaseDirectoryBuilder().Add("CAT1", "SAMPLE", '1', "NODE2").Bytes());
      Write(kDcsDir, DcsDirectoryBuilder().Add("SAMPLE").Bytes());
    }
  }

  // True when the run left the directory as an uninterrupted run does.
  ::testing::AssertionResult Converted() const {
    if (Read(kFile) != expected_) return ::testing::AssertionFailure() << "file differs";
    if (Read(kCopy) != expected_) return ::testing::AssertionFailure() << "copy differs";
    if (Read(kBak) != expectedBackup_) return ::testing::AssertionFailure() << "backup differs";
    if (Exists(kTmp) || Exists(kStaging)) {
      return ::testing::AssertionFailure() << "a working backup is left";
    }
    return ::testing::AssertionSuccess();
  }

  // Runs once without faults; the number of file operations it took.
  uint64_t ReferenceRun(bool withDcs) {
    Prepare(withDcs);
    platform::ResetFileOperationCount();
    EXPECT_EQ(MigrateNodeDirectory(kInstance), 0);
    const uint64_t operations = platform::FileOperationCount();
    expected_ = Read(kFile);
    expectedBackup_ = Read(kBak);
    return operations;
  }

  const ByteVector original_ =
      NodeDirectoryBuilder(5)
          .HeaderValue(77)
          .Add(NodeEntryBuilder(5).NodeName("NODE1").Text(27, 9, "TCPIP").U16(590, 1))
          .Add(NodeEntryBuilder(5).NodeName("NODE2").Text(542, 16, "GATEWAY"))
          .Add(NodeEntryBuilder(5).NodeName("NODE3").Text(558, 22, "X"))
          .Bytes();
  ByteVector expected_;
  ByteVector expectedBackup_;
};

// The process ends at each file operation of a run in turn; the next run, uninterrupted,
// leaves exactly what a run without the crash leaves.
TEST_F(NodeMigrationFaults, CrashAtEveryFileOperation) {
  const uint64_t operations = ReferenceRun(true);
  ASSERT_EQ(testkit::NodeFileU16(expected_, 28 + 616 + 612), 8) << "the DCS rule applied";
  ASSERT_GT(operations, 30u);
  for (uint64_t n = 1; n <= operations; ++n) {
    SCOPED_TRACE("crash at file operation " + std::to_string(n));
    Prepare(true);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      platform::SetFaultPlan({.triggerAt = n, .crash = true, .crashExitCode = 86});
      MigrateNodeDirectory(kInstance);
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 86) << "status " << status;
    EXPECT_EQ(MigrateNodeDirectory(kInstance), 0);
    EXPECT_TRUE(Converted());
  }
}

// Each file operation of a run in turn fails with a Windows error. Whatever the run gives,
// the old directory is never lost: the file and copy are untouched, or SQLNDDIR.TMP holds
// them whole, or the run completed. The next run then ends converted.
TEST_F(NodeMigrationFaults, FailureAtEveryFileOperation) {
  const uint64_t operations = ReferenceRun(false);
  for (uint64_t n = 1; n <= operations; ++n) {
    for (uint32_t error : {platform::kErrorDiskFull, platform::kErrorAccessDenied}) {
      SCOPED_TRACE("error " + std::to_string(error) + " at file operation " + std::to_string(n));
      Prepare(false);
      platform::SetFaultPlan({.triggerAt = n, .error = error});
      ::testing::internal::CaptureStdout();  // the notice when the error file fails
      const MigrationResult result = MigrateNodeDirectory(kInstance);
      ::testing::internal::GetCapturedStdout();
      platform::ClearFaultPlan();
      const bool untouched = Read(kFile) == original_ && Read(kCopy) == original_;
      const bool inBackup = Exists(kTmp) && BackupData(Read(kTmp)) == original_;
      const bool completed = result == 0 && Converted();
      EXPECT_TRUE(untouched || inBackup || completed) << "result " << result;
      if (result != 0 && result != -124) {
        EXPECT_FALSE(ErrorRecords().empty());
      }

      EXPECT_EQ(MigrateNodeDirectory(kInstance), 0);
      EXPECT_TRUE(Converted());
    }
  }
}

}  // namespace
}  // namespace qz7::migrate::node_test
