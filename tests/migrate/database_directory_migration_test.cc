// The database directory migration driver on one instance: what it leaves on disk, the
// records it writes and the codes it returns, for every way the directory can be found.
#include "migrate/database_directory_migration.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "migrate/work_buffer.h"
#include "testkit/database_directory_builder.h"
#include "tests/migrate/directory_migration_fixture.h"

namespace qz7::migrate::testing {
namespace {

using testkit::DatabaseDirectoryBuilder;
using testkit::DirectoryBackupBuilder;
using Form = testkit::DirectoryHeaderForm;
using Records = std::vector<std::string>;

std::string Joined(const char* a, const char* joint, const char* b) {
  return std::string(a) + joint + b;
}

// A layout-3 directory (first entry of type "2") with its copy and intention file.
struct OldDirectory {
  Bytes directory = SampleOldDirectory(3, Form::kLong);
  Bytes intention = SampleOldIntention(3);
};

class DatabaseDirectoryMigrationTest : public DirectoryMigrationTest {
 protected:
  void PutOld(const OldDirectory& old) {
    Put(kDirectory, old.directory);
    Put(kCopy, old.directory);
    Put(kIntention, old.intention);
  }
  void ExpectConverted(const OldDirectory& old, int layout, int shortHeader) {
    const Bytes converted = TestConvertedDirectory(layout, shortHeader, old.directory);
    EXPECT_EQ(Get(kDirectory), converted);
    EXPECT_EQ(Get(kCopy), converted);
    EXPECT_EQ(Get(kIntention), TestConvertedIntention(layout, old.intention));
  }
  void ExpectUntouched(const OldDirectory& old) {
    EXPECT_EQ(Get(kDirectory), old.directory);
    EXPECT_EQ(Get(kCopy), old.directory);
    EXPECT_EQ(Get(kIntention), old.intention);
  }
};

TEST_F(DatabaseDirectoryMigrationTest, ConvertsEachLayoutAndKeepsTheOldFilesInTheBackup) {
  const struct {
    const char* name;
    int layout;
    Form form;
    const char* layoutName;
  } cases[] = {
      {"layout 1", 1, Form::kLong, "TYPE1_DECB"},
      {"layout 2", 2, Form::kLong, "TYPE2_DECB"},
      {"layout 3", 3, Form::kLong, "TYPE3_DECB"},
      {"layout 4", 4, Form::kLong, "TYPE4_DECB"},
      {"layout 1 short", 1, Form::kShort, "TYPE1_DECB"},
      {"layout 2 short", 2, Form::kShort, "TYPE2_DECB"},
      {"layout 3 short", 3, Form::kShort, "TYPE3_DECB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ClearDirectoryFolder();
    TestConverterCalls().clear();
    OldDirectory old{SampleOldDirectory(c.layout, c.form), SampleOldIntention(c.layout)};
    PutOld(old);
    // A permanent backup of an earlier migration is replaced.
    Put(kPermanent, Bytes(5, 'x'));

    ASSERT_EQ(Migrate(), 0);
    const int shortHeader = c.layout == 4 ? -1 : c.form == Form::kShort ? 1 : 0;
    ExpectConverted(old, c.layout, shortHeader);
    ASSERT_EQ(TestConverterCalls().size(), 1u);
    const ConverterCall& call = TestConverterCalls()[0];
    EXPECT_EQ(call.layout, c.layout);
    EXPECT_EQ(call.shortHeader, shortHeader);
    EXPECT_TRUE(call.directoryExists && call.copyExists && call.hadErrorFile);
    EXPECT_EQ(call.directoryPath, kDirectory);
    EXPECT_EQ(call.copyPath, kCopy);
    EXPECT_EQ(call.intentionPath, kIntention);

    EXPECT_FALSE(Exists(kBackup));
    const testkit::BackupFileView backup = testkit::ReadBackupFile(Get(kPermanent));
    ASSERT_TRUE(backup.parsed);
    EXPECT_EQ(backup.signature, "QZ7 DATABASE DIRECTORY FILE BACKUP");
    EXPECT_EQ(backup.layoutName, c.layoutName);
    EXPECT_EQ(backup.releaseLabel, "QZ7 V3.x");
    EXPECT_EQ(backup.status, 'C');
    EXPECT_EQ(backup.directory, old.directory);
    EXPECT_EQ(backup.intention, old.intention);
    EXPECT_EQ(ErrorRecords(), Records{});
    // The converted directory is in the current layout: a second run leaves it alone.
    ASSERT_EQ(Migrate(), 0);
    EXPECT_EQ(TestConverterCalls().size(), 1u);
    ExpectConverted(old, c.layout, shortHeader);
  }
}

TEST_F(DatabaseDirectoryMigrationTest, NothingThereIsNothingToDo) {
  EXPECT_EQ(Migrate(), 0);
  EXPECT_FALSE(Exists(kBackup));
  EXPECT_FALSE(Exists(kPermanent));
  EXPECT_FALSE(Exists(kDirectory));
  EXPECT_TRUE(Exists(kErrorFile));
  EXPECT_EQ(ErrorRecords(), Records{});
  EXPECT_TRUE(TestConverterCalls().empty());
}

TEST_F(DatabaseDirectoryMigrationTest, OnlyTheCopyIsConvertedIntoBoth) {
  OldDirectory old{SampleOldDirectory(1, Form::kShort), SampleOldIntention(1)};
  Put(kCopy, old.directory);
  Put(kIntention, old.intention);
  ASSERT_EQ(Migrate(), 0);
  ASSERT_EQ(TestConverterCalls().size(), 1u);
  EXPECT_FALSE(TestConverterCalls()[0].directoryExists);
  EXPECT_TRUE(TestConverterCalls()[0].copyExists);
  EXPECT_EQ(TestConverterCalls()[0].shortHeader, 1);
  ExpectConverted(old, 1, 1);
  EXPECT_EQ(testkit::ReadBackupFile(Get(kPermanent)).directory, old.directory);
}

TEST_F(DatabaseDirectoryMigrationTest, CopiesThatDifferStopTheRunBeforeAnythingChanges) {
  OldDirectory old;
  PutOld(old);
  Bytes copy = old.directory;
  copy[300] ^= 0x40;
  Put(kCopy, copy);
  EXPECT_EQ(Migrate(), -101);
  EXPECT_EQ(ErrorRecords(),
            Records{"MAIN022: " + Joined(kDirectory, " and ", kCopy) + " are different"});
  EXPECT_EQ(Get(kDirectory), old.directory);
  EXPECT_EQ(Get(kCopy), copy);
  EXPECT_EQ(Get(kIntention), old.intention);
  EXPECT_FALSE(Exists(kBackup));
  EXPECT_TRUE(TestConverterCalls().empty());
}

TEST_F(DatabaseDirectoryMigrationTest, RefusalsLeaveTheDirectoryAsItWas) {
  const Bytes current = DatabaseDirectoryBuilder::Current().AddEntry({.name = "NEW"}).Bytes();
  const Bytes unknown = SampleOldDirectory(1, Form::kLong);
  const struct {
    const char* name;
    Bytes directory;
    bool intention;
    MigrationResult code;
    Records records;
  } cases[] = {
      {"current layout", current, true, 0, {}},
      {"current layout without intention file", current, false, 0, {}},
      {"unknown entry size",
       DatabaseDirectoryBuilder::Layout(2).AddEntry({.name = "A"}).EntrySize(60).Bytes(),
       true,
       -102,
       {"MAIN025: Database directory unrecognizable directory file"}},
      {"empty directory without intention file",
       DatabaseDirectoryBuilder::Layout(2).Bytes(),
       false,
       -123,
       {std::string("MAIN026: ") + kIntention + " intention file is missing"}},
      {"first entry needs the intention file",
       SampleOldDirectory(2, Form::kLong),
       false,
       -123,
       {std::string("MAIN026: ") + kIntention + " intention file is missing"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ClearDirectoryFolder();
    Put(kDirectory, c.directory);
    Put(kCopy, c.directory);
    if (c.intention) Put(kIntention, SampleOldIntention(2));
    EXPECT_EQ(Migrate(), c.code);
    EXPECT_EQ(ErrorRecords(), c.records);
    EXPECT_EQ(Get(kDirectory), c.directory);
    EXPECT_EQ(Get(kCopy), c.directory);
    EXPECT_EQ(Exists(kIntention), c.intention);
    EXPECT_FALSE(Exists(kBackup));
    EXPECT_FALSE(Exists(kPermanent));
  }
  EXPECT_TRUE(TestConverterCalls().empty());
}

TEST_F(DatabaseDirectoryMigrationTest, AnIntentionFileIsOptionalWhenNoEntryNeedsIt) {
  OldDirectory old{SampleOldDirectory(4, Form::kLong), {}};
  Put(kDirectory, old.directory);
  Put(kCopy, old.directory);
  ASSERT_EQ(Migrate(), 0);
  ExpectConverted(old, 4, -1);
  const testkit::BackupFileView backup = testkit::ReadBackupFile(Get(kPermanent));
  EXPECT_EQ(backup.directory, old.directory);
  EXPECT_TRUE(backup.intention.empty());
}

TEST_F(DatabaseDirectoryMigrationTest, AnEmptyDirectoryIsRebuiltEmptyAndItsBackupStays) {
  const Bytes empty = DatabaseDirectoryBuilder::Layout(3).Slots(2).Bytes();
  const Bytes intention = SampleOldIntention(3);
  Put(kDirectory, empty);
  Put(kCopy, empty);
  Put(kIntention, intention);
  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    ASSERT_EQ(Migrate(), 0);
    EXPECT_EQ(Get(kDirectory), testkit::EmptyCurrentDirectoryBytes());
    EXPECT_EQ(Get(kCopy), testkit::EmptyCurrentDirectoryBytes());
    EXPECT_EQ(Get(kIntention), testkit::EmptyCurrentIntentionBytes());
    // The next run restores the old files from the backup and builds them again.
    const testkit::BackupFileView backup = testkit::ReadBackupFile(Get(kBackup));
    ASSERT_TRUE(backup.parsed);
    EXPECT_EQ(backup.layoutName, "EMPTY DIRECTORY");
    EXPECT_EQ(backup.status, 'I');
    EXPECT_EQ(backup.directory, empty);
    EXPECT_EQ(backup.intention, intention);
    EXPECT_FALSE(Exists(kPermanent));
    EXPECT_EQ(ErrorRecords(), Records{});
  }
  EXPECT_TRUE(TestConverterCalls().empty());
}

TEST_F(DatabaseDirectoryMigrationTest, AnInterruptedRunIsRepairedFromItsBackup) {
  const OldDirectory old;
  const Bytes junk(77, 0xEE);
  for (char status : {'I', 'C'}) {
    SCOPED_TRACE(std::string("status ") + status);
    ClearDirectoryFolder();
    TestConverterCalls().clear();
    Put(kBackup, DirectoryBackupBuilder()
                     .LayoutName("TYPE3_DECB")
                     .Status(status)
                     .DirectoryCopy(old.directory)
                     .IntentionCopy(old.intention)
                     .Bytes());
    // Half-converted files, the copy missing: none of it is looked at.
    Put(kDirectory, junk);
    Put(kIntention, junk);
    // A conversion that fails again leaves the backup marked unfinished.
    TestConverterPlan() = {.failLayout = 3, .key = "MTYPE3_002", .object = "X", .code = -103};
    EXPECT_EQ(Migrate(), -103);
    EXPECT_EQ(Get(kDirectory), old.directory);
    EXPECT_EQ(testkit::ReadBackupFile(Get(kBackup)).status, 'I');
    EXPECT_EQ(testkit::ReadBackupFile(Get(kBackup)).directory, old.directory);
    TestConverterPlan() = ConverterPlan();
    Put(kDirectory, junk);

    ASSERT_EQ(Migrate(), 0);
    ExpectConverted(old, 3, 0);
    ASSERT_EQ(TestConverterCalls().size(), 2u);
    EXPECT_TRUE(TestConverterCalls()[1].directoryExists && TestConverterCalls()[1].copyExists);
    EXPECT_FALSE(Exists(kBackup));
    const testkit::BackupFileView backup = testkit::ReadBackupFile(Get(kPermanent));
    EXPECT_EQ(backup.status, 'C');
    EXPECT_EQ(backup.layoutName, "TYPE3_DECB");
    EXPECT_EQ(backup.directory, old.directory);
    EXPECT_EQ(backup.intention, old.intention);
    EXPECT_EQ(ErrorRecords(), Records{});
  }
}

TEST_F(DatabaseDirectoryMigrationTest, AnUnusableBackupStopsTheRunAndTouchesNothing) {
  const OldDirectory old;
  const Bytes good = DirectoryBackupBuilder().DirectoryCopy(old.directory).Bytes();
  Bytes flipped = good;
  flipped[10] ^= 0x20;
  const std::string backupPath = kBackup;
  const struct {
    const char* name;
    Bytes backup;
    MigrationResult code;
    Records records;
  } cases[] = {
      {"damaged signature", flipped, -107, {"MAIN009: " + backupPath + " bad DD File backup"}},
      {"no directory copy",
       DirectoryBackupBuilder().Bytes(),
       -107,
       {"MAIN009: " + backupPath + " bad DD File backup"}},
      {"shorter than its header",
       DirectoryBackupBuilder().TruncateTo(95).Bytes(),
       -108,
       {"MAIN008: " + backupPath + " access error"}},
      {"empty", {}, -108, {"MAIN008: " + backupPath + " access error"}},
      {"directory copy cut short",
       DirectoryBackupBuilder().DirectoryCopy(old.directory).TruncateTo(200).Bytes(),
       -119,
       {"MAIN010:  insufficient memory"}},
      {"offsets reversed",
       DirectoryBackupBuilder().DirectoryCopy(old.directory).DirectoryOffsets(400, 96).Bytes(),
       -119,
       {"MAIN010:  insufficient memory"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ClearDirectoryFolder();
    PutOld(old);
    Put(kBackup, c.backup);
    EXPECT_EQ(Migrate(), c.code);
    EXPECT_EQ(ErrorRecords(), c.records);
    ExpectUntouched(old);
    EXPECT_EQ(Get(kBackup), c.backup);
  }
  EXPECT_TRUE(TestConverterCalls().empty());
}

TEST_F(DatabaseDirectoryMigrationTest, WithoutAnErrorFileNothingIsConverted) {
  const OldDirectory old;
  machine_.MakeDirectory(kErrorFile);  // a folder where the error file should go
  PutOld(old);
  ::testing::internal::CaptureStdout();
  const MigrationResult result = Migrate();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            std::string("Cannot create QZ7MGDBD.ERR file on ") + kInstance + " \n");
  EXPECT_EQ(result, -124);
  ExpectUntouched(old);
  EXPECT_FALSE(Exists(kBackup));
  EXPECT_TRUE(TestConverterCalls().empty());

  // With no directory either, there is nothing to report.
  Remove(kFolder);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(Migrate(), 0);
  ::testing::internal::GetCapturedStdout();
}

TEST_F(DatabaseDirectoryMigrationTest, AMissingMessageFileEndsTheRun) {
  const OldDirectory old;
  PutOld(old);
  Remove("C:\\QZ7\\msg");
  ::testing::internal::CaptureStdout();
  const MigrationResult result = Migrate();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Message text file 'qz7dbmig.txt' not found \n");
  EXPECT_EQ(result, -104);
  EXPECT_EQ(ErrorRecords(), Records{"MAIN001: qz7dbmig.txt not found or cannot be accessed"});
  ExpectUntouched(old);
  EXPECT_FALSE(Exists(kBackup));
}

TEST_F(DatabaseDirectoryMigrationTest, AFailingConverterIsReportedAndTheNextRunStartsOver) {
  const OldDirectory old;
  PutOld(old);
  TestConverterPlan() = {.failLayout = 3,
                         .key = "MTYPE3_010",
                         .object = std::string(kDirectory) + " or " + kCopy,
                         .code = -105,
                         .damageFirst = true};
  EXPECT_EQ(Migrate(), -105);
  EXPECT_EQ(ErrorRecords(),
            Records{"MTYPE3_010: " + Joined(kDirectory, " or ", kCopy) + " read error"});
  const testkit::BackupFileView backup = testkit::ReadBackupFile(Get(kBackup));
  EXPECT_EQ(backup.status, 'I');
  EXPECT_EQ(backup.directory, old.directory);
  EXPECT_EQ(backup.intention, old.intention);
  EXPECT_FALSE(Exists(kPermanent));

  TestConverterPlan() = ConverterPlan();
  ASSERT_EQ(Migrate(), 0);
  ExpectConverted(old, 3, 0);
  EXPECT_FALSE(Exists(kBackup));
  EXPECT_EQ(testkit::ReadBackupFile(Get(kPermanent)).directory, old.directory);
}

TEST_F(DatabaseDirectoryMigrationTest, AFailedRenameLeavesACompletedBackupThatIsRedone) {
  const OldDirectory old;
  PutOld(old);
  // A folder with something in it can be neither removed as a file nor renamed over.
  machine_.WriteFile(std::string(kPermanent) + "\\keep", Bytes(1, 1));
  EXPECT_EQ(Migrate(), -126);
  EXPECT_EQ(ErrorRecords(), Records{"MAIN061: Rename file failed"});
  ExpectConverted(old, 3, 0);
  const testkit::BackupFileView backup = testkit::ReadBackupFile(Get(kBackup));
  EXPECT_EQ(backup.status, 'C');
  EXPECT_EQ(backup.directory, old.directory);

  Remove(kPermanent);
  ASSERT_EQ(Migrate(), 0);
  ExpectConverted(old, 3, 0);
  EXPECT_EQ(TestConverterCalls().size(), 2u);
  EXPECT_FALSE(Exists(kBackup));
  EXPECT_EQ(testkit::ReadBackupFile(Get(kPermanent)).status, 'C');
}

TEST_F(DatabaseDirectoryMigrationTest, AnInstancePathTooLongForThePathBuffersIsRefused) {
  const std::string instance = "C:\\" + std::string(240, 'P');
  EXPECT_EQ(MigrateDatabaseDirectory(instance.c_str(), kInstall, TestConverters()), -103);
  EXPECT_EQ(
      MigrateDatabaseDirectory(kInstance, (std::string(kInstall) + std::string(240, 'I')).c_str(),
                               TestConverters()),
      -103);
  EXPECT_FALSE(Exists(kErrorFile));
  EXPECT_EQ(MigrateDatabaseDirectory(nullptr, kInstall, TestConverters()), -103);
}

// Every work buffer of a run in turn cannot be had: the run ends with -119 and a record that
// says so, and the old directory is never lost.
TEST_F(DatabaseDirectoryMigrationTest, EachBufferThatCannotBeHadEndsTheRunWith119) {
  const OldDirectory old;
  for (bool fromBackup : {false, true}) {
    SCOPED_TRACE(fromBackup ? "restoring" : "fresh");
    auto prepare = [&] {
      ClearDirectoryFolder();
      PutOld(old);
      if (fromBackup) {
        Put(kBackup, DirectoryBackupBuilder()
                         .DirectoryCopy(old.directory)
                         .IntentionCopy(old.intention)
                         .Bytes());
      }
    };
    prepare();
    FailWorkBufferAllocationAt(0);
    ASSERT_EQ(Migrate(), 0);
    const uint64_t allocations = WorkBufferAllocationCount();
    ASSERT_GE(allocations, fromBackup ? 4u : 6u);
    for (uint64_t n = 1; n <= allocations; ++n) {
      SCOPED_TRACE("allocation " + std::to_string(n));
      prepare();
      FailWorkBufferAllocationAt(n);
      EXPECT_EQ(Migrate(), -119);
      FailWorkBufferAllocationAt(0);
      const Records records = ErrorRecords();
      ASSERT_EQ(records.size(), 1u);
      EXPECT_NE(records[0].find(" insufficient memory"), std::string::npos) << records[0];
      const testkit::BackupFileView backup = testkit::ReadBackupFile(Get(kBackup));
      EXPECT_TRUE(Get(kDirectory) == old.directory || backup.directory == old.directory);
    }
  }
}

}  // namespace
}  // namespace qz7::migrate::testing
