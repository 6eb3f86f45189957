// The database directory migration driver: what it leaves on disk, the records it writes and
// the codes it returns for every way the directory can be found, and a run stopped or failed
// at every file operation and then run again.
#include "migrate/database_directory_migration.h"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include <string>
#include <vector>

#include "migrate/directory_entry_conversion.h"
#include "migrate/work_buffer.h"
#include "platform/file_system.h"
#include "platform/win_error.h"
#include "testkit/fault_injection.h"
#include "testkit/fault_points.h"
#include "testkit/local_database_builder.h"
#include "tests/migrate/migrate_fixture.h"

namespace qz7::migrate::testing {
namespace {

class DatabaseDirectoryMigrationTest : public DirectoryFolderTest {
 protected:
  // The old files (a layout-3 directory whose first entry has its own directory below the
  // instance, with a readable configuration file), and what a migration makes of them.
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(DirectoryFolderTest::SetUp());
    Put("C:\\QZ7PROF\\QZ7\\SQL00001\\SQLDBCON",
        testkit::DatabaseConfigurationBuilder().CodePage(1252).Territory(44).Bytes());
    PutOld();
    ASSERT_EQ(Migrate(), 0);
    converted_ = Get(kDirectory);
    convertedIntention_ = Get(kIntention);
    EXPECT_EQ(DirectoryText(converted_, 208 + 672, 10), "1252") << "the check completed it";
    ClearDirectoryFolder();
  }

  MigrationResult Migrate() { return MigrateDatabaseDirectory(kInstance, kInstall); }
  void PutOld() const {
    PutDirectory(old_);
    Put(kIntention, oldIntention_);
  }
  // A migration backup, byte for byte, holding these old files.
  Bytes Backup(char status, const std::string& layoutName = "TYPE3_DECB",
               const Bytes& directory = {}) const {
    return DirectoryBackupBuilder()
        .LayoutName(layoutName)
        .Status(status)
        .DirectoryCopy(directory.empty() ? old_ : directory)
        .IntentionCopy(oldIntention_)
        .Bytes();
  }
  const Bytes old_ =
      OldDirectoryBytes(DatabaseDirectoryBuilder::Layout(3).Slots(1).HeaderValue(5), 3, Form::kLong,
                        {{.name = "SAMPLE", .type = '2', .subdirectory = "SQL00001"},
                         {.name = "REMOTE", .path = "C:"}});
  const Bytes oldIntention_ =
      IntentionFileBuilder(3).Value(3).Name("SAMPLE").FirstPath("C:\\A").Bytes();
  Bytes converted_, convertedIntention_;
};

// The converter copies its target over the old file in pieces; a directory larger than one
// piece is copied whole.
TEST_F(DatabaseDirectoryMigrationTest, ADirectoryOverAPieceIsCopiedWhole) {
  auto builder = DatabaseDirectoryBuilder::Layout(3);
  for (int i = 0; i < 1500; ++i) builder.AddEntry({.name = "E" + std::to_string(i)});
  PutDirectory(builder.Bytes());
  Put(kIntention, IntentionFileBuilder(3).Bytes());
  ASSERT_EQ(Migrate(), 0);
  const Bytes converted = Get(kDirectory);
  EXPECT_EQ(converted.size(), 212 + 720 * 1500u);
  EXPECT_GT(converted.size(), kCopyPieceSize);
  EXPECT_EQ(Get(kCopy), converted);
}

// A directory that is refused, a backup that cannot be restored from, or a run that cannot
// start (which says so on standard output) leaves every file as it was.
TEST_F(DatabaseDirectoryMigrationTest, RefusalsLeaveTheDirectoryAsItWas) {
  enum Stop { kNone, kErrorFileBlocked, kMessagesMissing };
  const Bytes unknown =
      DatabaseDirectoryBuilder::Layout(2).AddEntry({.name = "A"}).EntrySize(60).Bytes();
  // A short layout-3 directory whose first entry has its own directory.
  const Bytes ownFirst = DatabaseDirectoryBuilder::Layout(3, Form::kShort)
                             .AddEntry({.name = "S", .type = '2'})
                             .Bytes();
  const DirectoryBackupBuilder good = std::move(DirectoryBackupBuilder().DirectoryCopy(old_));
  Bytes flipped = good.Bytes();
  flipped[10] ^= 0x20;
  const std::string missing = std::string("MAIN026: ") + kIntention + " intention file is missing";
  const std::string bad = std::string("MAIN009: ") + kBackup + " bad DD File backup";
  const std::string noMemory = "MAIN010:  insufficient memory";
  // Larger than a piece of the copy's comparison: a difference only at the very end counts.
  const Bytes big(200 * 1024 + 5, 0x5A);
  Bytes bigFlipped = big;
  bigFlipped.back() ^= 0x01;
  const struct {
    const char* name;
    Bytes directory;  // empty: none
    Bytes copy;       // empty: the same as the directory
    bool intention;
    Bytes backup;  // SQLDDDIR.TMP; empty: none
    MigrationResult code;
    std::string record;  // empty: none
    Stop stop = kNone;
  } rows[] = {
      {"nothing_there", Bytes(), Bytes(), true, Bytes(), 0, ""},
      {"copies_differ_in_the_last_byte", big, bigFlipped, true, Bytes(), -101,
       std::string("MAIN022: ") + kDirectory + " and " + kCopy + " are different"},
      {"unknown_entry_size", unknown, Bytes(), true, Bytes(), -102,
       "MAIN025: Database directory unrecognizable directory file"},
      {"empty_without_intention", DatabaseDirectoryBuilder::Layout(2).Bytes(), Bytes(), false,
       Bytes(), -123, missing},
      {"first_entry_needs_intention", ownFirst, Bytes(), false, Bytes(), -123, missing},
      {"backup_signature_damaged", old_, Bytes(), true, flipped, -107, bad},
      {"backup_without_directory_copy", old_, Bytes(), true, DirectoryBackupBuilder().Bytes(), -107,
       bad},
      {"backup_directory_copy_cut_short", old_, Bytes(), true,
       DirectoryBackupBuilder(good).TruncateTo(200).Bytes(), -119, noMemory},
      {"error_file_blocked", old_, Bytes(), true, Bytes(), -124, "", kErrorFileBlocked},
      {"message_file_missing", old_, Bytes(), true, Bytes(), -104,  // the last row
       "MAIN001: qz7dbmig.txt not found or cannot be accessed", kMessagesMissing},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ClearDirectoryFolder();
    const Bytes& copy = row.copy.empty() ? row.directory : row.copy;
    if (!row.directory.empty()) {
      Put(kDirectory, row.directory);
      Put(kCopy, copy);
    }
    if (row.intention) Put(kIntention, oldIntention_);
    if (!row.backup.empty()) Put(kBackup, row.backup);
    if (row.stop == kErrorFileBlocked) machine_.MakeDirectory(kErrorFile);
    if (row.stop == kMessagesMissing) Remove("C:\\QZ7\\msg");
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(Migrate(), row.code);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              row.stop == kErrorFileBlocked
                  ? "Cannot create QZ7MGDBD.ERR file on C:\\QZ7PROF\\QZ7 \n"
              : row.stop == kMessagesMissing ? "Message text file 'qz7dbmig.txt' not found \n"
                                             : "");
    if (row.stop != kErrorFileBlocked) {
      EXPECT_EQ(ErrorRecords(), row.record.empty() ? Texts() : Texts{row.record});
    }
    EXPECT_EQ(Get(kDirectory), row.directory);
    EXPECT_EQ(Get(kCopy), copy);
    EXPECT_EQ(Get(kIntention), row.intention ? oldIntention_ : Bytes());
    EXPECT_EQ(Get(kBackup), row.backup);
    EXPECT_FALSE(Exists(kPermanent));
  }
}

// Every work buffer of a run in turn cannot be had: the run ends with -119 and a record that
// says so, and the old directory is never lost.
TEST_F(DatabaseDirectoryMigrationTest, EachBufferThatCannotBeHadEndsTheRunWith119) {
  // Starting from the backup an interrupted run left.
  auto prepare = [&] {
    ClearDirectoryFolder();
    PutOld();
    Put(kBackup, Backup('I'));
  };
  prepare();
  FailWorkBufferAllocationAt(0);
  ASSERT_EQ(Migrate(), 0);
  const uint64_t allocations = WorkBufferAllocationCount();
  Texts keys;  // the key of each missing buffer's record, in allocation order
  for (uint64_t n = 1; n <= allocations; ++n) {
    SCOPED_TRACE("allocation " + std::to_string(n));
    prepare();
    FailWorkBufferAllocationAt(n);
    EXPECT_EQ(Migrate(), -119);
    FailWorkBufferAllocationAt(0);
    const Texts records = ErrorRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_NE(records[0].find(" insufficient memory"), std::string::npos) << records[0];
    keys.push_back(records[0].substr(0, records[0].find(':')));
    EXPECT_TRUE(Get(kDirectory) == old_ || sample::ReadBackupFile(Get(kBackup)).directory == old_);
  }
  // The steps that take buffers, in their order: the restore's two copies, the recognition's
  // header and first entry, then in the converter its work area, the slots and the target
  // read back to be copied over the source.
  EXPECT_EQ(keys, (Texts{"MAIN010", "MAIN010", "MAIN023", "MAIN023", "MTYPE3_001", "MTYPE3_023",
                         "MTYPE3_035"}));
}

// The steps of a run that a failing file operation stops, in their order, from the old
// directory or from the files an interrupted conversion left beside its completed backup
// (restored). A tell makes no operation of its own, a directory held in memory is not read
// again, and a failing open of SQLDDDIR.TMP, SQLDBDIR or SQLDBBAK "rb+" counts as a missing
// file. The backup is written under its staging name and moved into place; the converted files
// and their folder are synced before the backup is completed, under its close's key. A failing
// close of a restored file loses what was written to it, so the run fails where it is read.
std::vector<FailingStep> DirectorySteps(bool restored) {
  const std::string staged = "C:\\QZ7PROF\\QZ7\\SQLDBDIR\\SQLDDDIR.NEW";
  const std::string both = std::string(kDirectory) + " and " + kCopy;
  const char* rename = "Rename file failed";
  std::vector<FailingStep> steps = {
      {"create the error file", nullptr, "", -124},
      {"load the message file", "MAIN001", "qz7dbmig.txt", -122, -104}};
  if (restored) {
    steps.insert(steps.end(), {{"open the backup", "MAIN022", both, -101},
                               {"seek to the backup's end", "MAIN005", kBackup, -108},
                               {"rewind it", "MAIN007", kBackup, -108},
                               {"read its header", "MAIN008", kBackup, -108},
                               {"read the directory's copy", "MAIN011", kBackup, -108},
                               {"read the intention file's copy", "MAIN012", kBackup, -108},
                               {"return to its start", "MAIN013", kBackup, -108},
                               {"write its header", "MAIN014", kBackup, -108},
                               {"sync and close it", "MAIN015", kBackup, -104},
                               {"create the directory file", "MAIN002", kDirectory, -103},
                               {"create the copy", "MAIN003", kCopy, -103},
                               {"create the intention file", "MAIN004", kIntention, -103},
                               {"write the directory file", "MAIN016", kDirectory, -106},
                               {"write the copy", "MAIN017", kCopy, -106},
                               {"write the intention file", "MAIN018", kIntention, -106},
                               {"close the directory file", "MAIN019", kDirectory, -104, -105},
                               {"close the intention file", "MAIN021", kIntention, -104, -105}});
  } else {
    steps.insert(steps.end(), {{"size the directory file", "MAIN022", kDirectory, -121},
                               {"read it", "MAIN022", kDirectory, -105},
                               {"close it", "MAIN022", kDirectory, -104},
                               {"size the copy", "MAIN022", kCopy, -121},
                               {"read it", "MAIN022", kCopy, -105},
                               {"close it", "MAIN022", kCopy, -104}});
  }
  steps.insert(steps.end(), {{"open the directory file", "MAIN023", kDirectory, -103},
                             {"size it", "MAIN023", kDirectory, -121},
                             {"read its header", "MAIN023", kDirectory, -105},
                             {"seek to its first entry", "MAIN023", kDirectory, -121},
                             {"read the entry", "MAIN023", kDirectory, -105},
                             {"close it", "MAIN023", kDirectory, -104},
                             {"open the intention file", "MAIN026", kIntention, -123},
                             {"close it", "MAIN027", kIntention, -104}});
  if (!restored) {
    steps.insert(steps.end(), {{"create the backup", "MAIN028", staged, -103},
                               {"write its header", "MAIN029", staged, -108},
                               {"write the directory", "MAIN034", staged, -108},
                               {"open the intention file", "MAIN039", kIntention, -103},
                               {"size and read it", "MAIN036", kIntention, -105},
                               {"write it", "MAIN037", staged, -106},
                               {"close it", "MAIN038", kIntention, -104},
                               {"return to the start", "MAIN040", staged, -121},
                               {"write the header again", "MAIN041", staged, -106},
                               {"sync and close the backup", "MAIN042", staged, -104},
                               {"move it into place", "MAIN061", rename, -126}});
  }
  const std::string either = std::string(kDirectory) + " or " + kCopy;
  steps.insert(steps.end(), {{"open the copy to write", "MTYPE3_002", either, -103},
                             {"write the new header", "MTYPE3_007", kCopy, -106},
                             {"write the new block", "MTYPE3_008", kCopy, -106},
                             {"write an entry", "MTYPE3_022", kCopy, -106},
                             {"write the slots", "MTYPE3_025", kCopy, -106},
                             {"write the closing value", "MTYPE3_026", kCopy, -106},
                             {"return to the start", "MTYPE3_027", kCopy, -121},
                             {"write the header again", "MTYPE3_028", kCopy, -106},
                             {"write the block again", "MTYPE3_029", kCopy, -106},
                             {"rewind the copy", "MTYPE3_031", kCopy, -121},
                             {"seek to its end", "MTYPE3_032", kCopy, -121},
                             {"rewind it", "MTYPE3_034", kCopy, -121},
                             {"read it", "MTYPE3_036", kCopy, -105},
                             {"create the directory file anew", "MTYPE3_037", kDirectory, -103},
                             {"write it", "MTYPE3_038", kDirectory, -106},
                             {"close it", "MTYPE3_039", kDirectory, -104},
                             {"close the copy", "MTYPE3_040", kCopy, -104},
                             {"open the old intention file", "MTYPE3_041", kIntention, -103},
                             {"read it", "MTYPE3_041", kIntention, -105},
                             {"close it", "MTYPE3_041", kIntention, -104},
                             {"create the new one", "MTYPE3_042", kIntention, -103},
                             {"write it", "MTYPE3_042", kIntention, -106},
                             {"close it", "MTYPE3_047", kIntention, -104},
                             {"sync the directory file", "MAIN056", kDirectory, -104},
                             {"sync the copy", "MAIN056", kCopy, -104},
                             {"sync the intention file", "MAIN056", kIntention, -104},
                             {"sync the folder", "MAIN056", kBackup, -104},
                             {"open the backup", "MAIN052", kBackup, -108},
                             {"read its header", "MAIN053", kBackup, -108},
                             {"return to its start", "MAIN054", kBackup, -108},
                             {"write its header", "MAIN055", kBackup, -108},
                             {"sync and close it", "MAIN056", kBackup, -104},
                             {"rename it to SQLDDDIR.BAK", "MAIN061", rename, -126}});
  return steps;
}

class DirectoryMigrationCrashTest : public DatabaseDirectoryMigrationTest {
 protected:
  void Prepare(bool interrupted) {
    ClearDirectoryFolder();
    if (!interrupted) return PutOld();
    Put(kBackup, Backup('C'));
    Put(kDirectory, converted_);
    Put(kCopy, Slice(converted_, 0, 100));
    Put(kIntention, Bytes(3, 0));
  }

  // Everything the migration leaves in the directory folder (a missing file as no bytes).
  std::vector<Bytes> State() const {
    return {Get(kDirectory), Get(kCopy), Get(kIntention), Get(kBackup), Get(kPermanent)};
  }

  // The old directory can still be had: from the files themselves, the migration backup or
  // the permanent backup.
  bool OldDirectoryRecoverable() const {
    if (Get(kDirectory) == old_ || Get(kCopy) == old_) return true;
    for (const char* path : {kBackup, kPermanent}) {
      const sample::BackupFileView view = sample::ReadBackupFile(Get(path));
      if (view.parsed && view.directory == old_ && view.intention == oldIntention_) return true;
    }
    return false;
  }
};

// A run stopped at any file operation, as a killed process or a power cut (which loses what
// was not synced) stops it, and then run again ends exactly where an uninterrupted run ends,
// the writing of the backup included. A run in which that operation fails instead never
// crashes, ends with 0 or a failure code and never loses the old directory, and the next run
// ends with the reference directory. A failure inside the local database check is recorded and
// the conversion completes, so only the fields that the check fills (bytes 344 to 687 of the
// first entry) may differ then.
TEST_F(DirectoryMigrationCrashTest, AStoppedOrFailingFileOperationNeverLosesTheOldDirectory) {
  // A run starts from the old directory, or from the files an interrupted conversion left
  // beside its completed backup.
  for (const bool interrupted : {false, true}) {
    SCOPED_TRACE(interrupted ? "interrupted after converting" : "old directory");
    // An uninterrupted run leaves the reference state.
    const auto prepare = [&] { Prepare(interrupted); };
    const uint64_t operations = testkit::CountOperations(prepare, [&] { ASSERT_EQ(Migrate(), 0); });
    const std::vector<Bytes> reference = State();
    EXPECT_EQ(reference[0], converted_);
    EXPECT_FALSE(reference[4].empty() || Exists(kBackup));
    ASSERT_GE(operations, 50u);
    for (const testkit::PointFault& stop : testkit::StoppingFaults()) {
      testkit::FaultAtEveryPoint(operations, stop,
                                 {prepare, [&] { static_cast<void>(Migrate()); },
                                  [&](uint64_t) {
                                    EXPECT_TRUE(OldDirectoryRecoverable());
                                    EXPECT_EQ(Migrate(), 0);
                                    EXPECT_TRUE(State() == reference);
                                  }});
    }
    MigrationResult result = 0;
    const auto run = [&] {
      ::testing::internal::CaptureStdout();
      result = Migrate();
      ::testing::internal::GetCapturedStdout();
    };
    int checkFailures = 0;
    StepWalk steps(DirectorySteps(interrupted));
    testkit::FaultAtEveryPoint(
        operations, testkit::Failing(platform::kErrorDiskFull),
        {prepare, run, [&](uint64_t) {
           steps.Check(result, ErrorRecords());
           EXPECT_TRUE(OldDirectoryRecoverable());
           const Bytes errors = Get(kErrorFile);
           const bool checkFailed =
               result == 0 &&
               std::string(errors.begin(), errors.end()).find("MTYPE3_019") != std::string::npos;
           checkFailures += checkFailed;
           ASSERT_EQ(Migrate(), 0) << "the failing run gave " << result;
           Bytes directory = Get(kDirectory);
           EXPECT_EQ(Get(kCopy), directory);
           if (checkFailed && directory.size() == converted_.size()) {
             std::copy(converted_.begin() + 208 + 344, converted_.begin() + 208 + 688,
                       directory.begin() + 208 + 344);
           }
           EXPECT_EQ(directory, converted_) << "the failing run gave " << result;
           EXPECT_EQ(Get(kIntention), convertedIntention_);
         }});
    EXPECT_GT(checkFailures, 0);
    EXPECT_TRUE(steps.Done());
  }
}

#if !defined(_WIN32)
// A migration that ends with 0 has its files on the disk: a power cut at the first operation
// after it returns finds everything it wrote, for a directory rebuilt empty (its three current
// files, its backup kept)
// as for a converted one (a layout-3 directory with the long header, whose entries the local
// database check completes, its backup made permanent), also when the check cannot read a
// local database and writes the report file.
TEST_F(DirectoryMigrationCrashTest, WhatASuccessfulRunWroteSurvivesAPowerCutAfterIt) {
  constexpr const char* kLocalConfiguration = "C:\\QZ7PROF\\QZ7\\SQL00001\\SQLDBCON";
  const Bytes localConfiguration = Get(kLocalConfiguration);
  const Bytes empty = DatabaseDirectoryBuilder::Layout(3).Slots(2).Bytes();
  for (const char* what : {"rebuilt empty", "converted", "converted with a report"}) {
    SCOPED_TRACE(what);
    const std::string kind = what;
    const auto prepare = [&] {
      ClearDirectoryFolder();
      Put(kLocalConfiguration, localConfiguration);
      if (kind == "converted with a report") Remove(kLocalConfiguration);
      if (kind != "rebuilt empty") return PutOld();
      PutDirectory(empty);
      Put(kIntention, oldIntention_);
    };
    const auto state = [&] {
      std::vector<Bytes> files = State();
      files.push_back(Get(kReport));
      return files;
    };
    const auto run = [&] { ASSERT_EQ(Migrate(), 0); };
    const uint64_t operations = testkit::CountOperations(prepare, run);
    const std::vector<Bytes> after = state();
    EXPECT_EQ(after.back().empty(), kind != "converted with a report");
    // An empty directory is rebuilt empty; its backup stays for the next run to restore from.
    if (kind == "rebuilt empty") {
      EXPECT_TRUE(after[0] == sample::EmptyCurrentDirectoryBytes() && after[1] == after[0]);
      EXPECT_EQ(after[2], sample::EmptyCurrentIntentionBytes());
      EXPECT_TRUE(SameBytes(after[3], Backup('I', "EMPTY DIRECTORY", empty)));
    }
    // The point one past the run is the status query the loop makes after it.
    const auto stoppedRun = [&] {
      if (Migrate() != 0) _exit(1);
    };
    testkit::FaultAtEveryPoint(
        operations + 1, testkit::PowerCut(),
        {prepare, stoppedRun, [&](uint64_t) { EXPECT_TRUE(state() == after); }}, operations + 1);
  }
}
#endif

}  // namespace
}  // namespace qz7::migrate::testing
