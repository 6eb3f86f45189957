// What the directory converters do when a file operation or a buffer fails, or when the old
// directory is damaged: a defined code with the key and object of the failing step, every file
// closed; and, through the migration driver, a directory that a failed run leaves behind is
// converted by the next run as if nothing had happened.
#include <gtest/gtest.h>

#include <array>
#include <set>
#include <string>
#include <vector>

#include "migrate/database_directory_migration.h"
#include "migrate/work_buffer.h"
#include "platform/fault_injection.h"
#include "platform/win_error.h"
#include "testkit/database_directory_builder.h"
#include "testkit/local_database_builder.h"
#include "testkit/old_directory_entries.h"
#include "tests/migrate/directory_conversion_fixture.h"

namespace qz7::migrate::conversion_testing {
namespace {

using testkit::DatabaseConfigurationBuilder;

const std::string kBoth = std::string(kDirectory) + " or " + kCopy;

struct LayoutCase {
  const char* name;
  int layout;
  DirectoryHeaderForm form;
  int flag;
  const char* lastKey;  // closing the new intention file, the last step
};
constexpr LayoutCase kLayoutCases[] = {
    {"layout1", 1, kShort, 1, "MTYPE1_032"},     {"layout2_short", 2, kShort, 1, "MTYPE2_041"},
    {"layout2_long", 2, kLong, 0, "MTYPE2_041"}, {"layout3_short", 3, kShort, 1, "MTYPE3_047"},
    {"layout3_long", 3, kLong, 0, "MTYPE3_047"}, {"layout4", 4, kLong, 0, "MTYPE4_030"},
};

class ConverterFaultTest : public DirectoryConversionTest {
 protected:
  void PutSample(const LayoutCase& c, uint16_t slots = 2) {
    Put(kIntention, IntentionFileBuilder(c.layout).Name("X").Bytes());
    PutDirectory(OldDirectoryBytes(
        DatabaseDirectoryBuilder::Layout(c.layout, c.form).Slots(slots), c.layout, c.form,
        {{.name = "FIRST", .type = '1', .path = "C:"}, {.name = "SECOND", .type = '1'}}));
  }
};

TEST_F(ConverterFaultTest, FirstStepsNameTheirKeys) {
  // The first eight operations: open the source, open the target, read the old header and
  // block, write the new header and block, read the first entry, write it.
  const MigrationResult codes[] = {kMigrationCannotOpen, kMigrationCannotOpen, kMigrationReadError,
                                   kMigrationReadError,  kMigrationWriteError, kMigrationWriteError,
                                   kMigrationReadError,  kMigrationWriteError};
  const std::string objects[] = {kBoth, kBoth, kDirectory, kDirectory,
                                 kCopy, kCopy, kDirectory, kCopy};
  struct Row {
    const LayoutCase& layout;
    std::array<const char*, 8> keys;
  } rows[] = {
      {kLayoutCases[0],
       {"MTYPE1_002", "MTYPE1_002", "MTYPE1_003", "MTYPE1_004", "MTYPE1_005", "MTYPE1_006",
        "MTYPE1_008", "MTYPE1_009"}},
      {kLayoutCases[1],
       {"MTYPE2_002", "MTYPE2_002", "MTYPE2_003", "MTYPE2_004", "MTYPE2_005", "MTYPE2_006",
        "MTYPE2_008", "MTYPE2_014"}},
      {kLayoutCases[3],
       {"MTYPE3_002", "MTYPE3_002", "MTYPE3_003", "MTYPE3_004", "MTYPE3_007", "MTYPE3_008",
        "MTYPE3_010", "MTYPE3_011"}},
      {kLayoutCases[4],
       {"MTYPE3_002", "MTYPE3_002", "MTYPE3_005", "MTYPE3_006", "MTYPE3_007", "MTYPE3_008",
        "MTYPE3_018", "MTYPE3_022"}},
      {kLayoutCases[5],
       {"MTYPE4_002", "MTYPE4_002", "MTYPE4_003", "MTYPE4_004", "MTYPE4_005", "MTYPE4_006",
        "MTYPE4_008", "MTYPE4_009"}},
  };
  for (const Row& row : rows) {
    for (size_t i = 0; i < row.keys.size(); ++i) {
      SCOPED_TRACE(std::string(row.layout.name) + " operation " + std::to_string(i + 1));
      PutSample(row.layout);
      fault_ = platform::FaultPlan{.triggerAt = i + 1, .error = platform::kErrorDiskFull};
      const ConversionOutcome out = Convert(row.layout.layout, row.layout.flag);
      EXPECT_EQ(out.code, codes[i]);
      EXPECT_EQ(out.key, row.keys[i]);
      EXPECT_EQ(out.object, objects[i]);
      EXPECT_TRUE(out.records.empty()) << "the driver writes the record of the failing step";
    }
  }
}

TEST_F(ConverterFaultTest, EveryFailingOperationStopsWithADefinedCode) {
  const std::set<MigrationResult> defined = {kMigrationCannotOpen, kMigrationCannotClose,
                                             kMigrationReadError, kMigrationWriteError,
                                             kMigrationFileAccessError};
  for (const LayoutCase& c : kLayoutCases) {
    SCOPED_TRACE(c.name);
    PutSample(c);
    fault_.reset();
    ASSERT_EQ(Convert(c.layout, c.flag).code, 0);
    const Bytes reference = Get(kDirectory);
    const Bytes referenceIntention = Get(kIntention);

    ConversionOutcome last;
    for (uint64_t n = 1;; ++n) {
      SCOPED_TRACE(std::string(c.name) + " fail operation " + std::to_string(n));
      PutSample(c);
      fault_ = platform::FaultPlan{.triggerAt = n, .error = platform::kErrorWriteFault};
      const ConversionOutcome out = Convert(c.layout, c.flag);
      if (out.operations < n) {
        EXPECT_EQ(out.code, 0);
        EXPECT_EQ(Get(kDirectory), reference);
        EXPECT_EQ(Get(kCopy), reference);
        EXPECT_EQ(Get(kIntention), referenceIntention);
        break;
      }
      ASSERT_NE(out.code, 0);
      EXPECT_TRUE(defined.count(out.code)) << out.code;
      EXPECT_EQ(out.key.rfind("MTYPE" + std::to_string(c.layout) + "_", 0), 0u) << out.key;
      EXPECT_FALSE(out.object.empty());
      last = out;
    }
    EXPECT_EQ(last.key, c.lastKey);
    EXPECT_EQ(last.code, kMigrationCannotClose);
    EXPECT_EQ(last.object, kIntention);
  }
}

TEST_F(ConverterFaultTest, BuffersThatCannotBeHad) {
  struct Row {
    const LayoutCase& layout;
    uint16_t slots;
    const char* first;   // the work area
    const char* second;  // the slots, or the copy of the target when there are none
  } rows[] = {
      {kLayoutCases[0], 2, "MTYPE1_001", "MTYPE1_019"},
      {kLayoutCases[1], 2, "MTYPE2_001", "MTYPE2_027"},
      {kLayoutCases[2], 2, "MTYPE2_001", "MTYPE2_015"},
      {kLayoutCases[4], 2, "MTYPE3_001", "MTYPE3_023"},
      {kLayoutCases[4], 0, "MTYPE3_001", "MTYPE3_035"},
      {kLayoutCases[5], 2, "MTYPE4_001", "MTYPE4_010"},
  };
  for (const Row& row : rows) {
    for (uint64_t n : {1, 2}) {
      SCOPED_TRACE(std::string(row.layout.name) + " allocation " + std::to_string(n));
      PutSample(row.layout, row.slots);
      FailWorkBufferAllocationAt(n);
      const ConversionOutcome out = Convert(row.layout.layout, row.layout.flag);
      FailWorkBufferAllocationAt(0);
      EXPECT_EQ(out.code, kMigrationNoMemory);
      EXPECT_EQ(out.key, n == 1 ? row.first : row.second);
      EXPECT_EQ(out.object, "");
    }
  }
}

TEST_F(ConverterFaultTest, DamagedOldDirectories) {
  struct Row {
    const char* name;
    const LayoutCase& layout;
    bool directoryExists;
    // Applied to a builder with two entries and two slots.
    DatabaseDirectoryBuilder (*damage)(DatabaseDirectoryBuilder);
    MigrationResult want;
    const char* key;
    std::string object;
  } rows[] = {
      {"empty_file", kLayoutCases[0], true,
       [](DatabaseDirectoryBuilder b) { return b.TruncateTo(0); }, kMigrationReadError,
       "MTYPE1_003", kDirectory},
      {"cut_in_block", kLayoutCases[3], true,
       [](DatabaseDirectoryBuilder b) { return b.TruncateTo(100); }, kMigrationReadError,
       "MTYPE3_004", kDirectory},
      {"cut_in_long_block", kLayoutCases[4], true,
       [](DatabaseDirectoryBuilder b) { return b.TruncateTo(100); }, kMigrationReadError,
       "MTYPE3_006", kDirectory},
      {"absurd_entry_count", kLayoutCases[5], true,
       [](DatabaseDirectoryBuilder b) { return b.ClaimedEntryCount(65535); }, kMigrationReadError,
       "MTYPE4_008", kDirectory},
      {"absurd_entry_count_short", kLayoutCases[1], true,
       [](DatabaseDirectoryBuilder b) { return b.ClaimedEntryCount(65535); }, kMigrationReadError,
       "MTYPE2_008", kDirectory},
      {"slots_cut_off", kLayoutCases[2], true,
       // 208 + 2 x 92 + 2 slots + 4: the second slot and the closing value are cut off.
       [](DatabaseDirectoryBuilder b) { return b.TruncateTo(394); }, kMigrationReadError,
       "MTYPE2_016", kDirectory},
      {"copy_cut_off", kLayoutCases[4], false,
       [](DatabaseDirectoryBuilder b) { return b.ClaimedEntryCount(3); }, kMigrationReadError,
       "MTYPE3_018", kCopy},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const LayoutCase& c = row.layout;
    Put(kIntention, IntentionFileBuilder(c.layout).Bytes());
    const Bytes bytes =
        OldDirectoryBytes(row.damage(DatabaseDirectoryBuilder::Layout(c.layout, c.form).Slots(2)),
                          c.layout, c.form, {{.name = "FIRST"}, {.name = "SECOND"}});
    Remove(kDirectory);
    Put(row.directoryExists ? kDirectory : kCopy, bytes);
    if (row.directoryExists) Put(kCopy, bytes);
    const ConversionOutcome out = Convert(c.layout, c.flag, row.directoryExists, true);
    EXPECT_EQ(out.code, row.want);
    EXPECT_EQ(out.key, row.key);
    EXPECT_EQ(out.object, row.object);
  }
}

TEST_F(ConverterFaultTest, SourceMissing) {
  for (const LayoutCase& c : kLayoutCases) {
    SCOPED_TRACE(c.name);
    Remove(kDirectory);
    Put(kCopy, Bytes{1, 2, 3});
    const ConversionOutcome out = Convert(c.layout, c.flag, true, true);
    EXPECT_EQ(out.code, kMigrationCannotOpen);
    EXPECT_EQ(out.key, "MTYPE" + std::to_string(c.layout) + "_002");
    EXPECT_EQ(out.object, kBoth);
    EXPECT_EQ(Get(kCopy), (Bytes{1, 2, 3})) << "the target is not opened without a source";
  }
}

TEST_F(ConverterFaultTest, ReportFailuresAreRecordedAndTheConversionGoesOn) {
  // One database whose local directory cannot be opened: every failing operation of the
  // report file is recorded under its own key, and none stops the conversion.
  std::set<std::string> seen;
  for (uint64_t n = 1;; ++n) {
    SCOPED_TRACE("fail operation " + std::to_string(n));
    Remove(kReport);
    Put(kIntention, IntentionFileBuilder(2).Bytes());
    PutDirectory(OldDirectoryBytes(DatabaseDirectoryBuilder::Layout(2, kLong), 2, kLong,
                                   {{.name = "PAY", .type = '0', .path = "D:"}}));
    fault_ = platform::FaultPlan{.triggerAt = n, .error = platform::kErrorDiskFull};
    const ConversionOutcome out = Convert(2, 0);
    if (out.operations < n) break;
    for (const std::string& record : out.records) {
      for (const char* key : {"MTYPE2_010", "MTYPE2_011", "MTYPE2_012"}) {
        if (record.rfind(key, 0) == 0) {
          seen.insert(key);
          EXPECT_EQ(out.code, 0);
        }
      }
    }
  }
  EXPECT_EQ(seen, (std::set<std::string>{"MTYPE2_010", "MTYPE2_011", "MTYPE2_012"}));
}

// ---- Through the migration driver ----

class DriverConversionTest : public DirectoryConversionTest {
 protected:
  // A layout-3 directory with its copy and intention file: an entry of type "1" and one of a
  // database in its own directory below the instance, whose configuration file is readable.
  void PutInstance() {
    Remove(kFolder);
    Remove("C:\\QZ7PROF\\QZ7\\SQL00001");
    Remove(kErrorFile);
    machine_.MakeDirectory(kFolder);
    Put("C:\\QZ7PROF\\QZ7\\SQL00001\\SQLDBCON",
        DatabaseConfigurationBuilder().CodePage(1252).Territory(44).Bytes());
    Put(kIntention, IntentionFileBuilder(3).Value(3).Name("SAMPLE").FirstPath("C:\\A").Bytes());
    PutDirectory(OldDirectoryBytes(DatabaseDirectoryBuilder::Layout(3).Slots(1).HeaderValue(5), 3,
                                   kLong,
                                   {{.name = "SAMPLE",
                                     .databaseName = "SAMPLE",
                                     .type = '2',
                                     .subdirectory = "SQL00001",
                                     .path = "C:"},
                                    {.name = "REMOTE", .type = '1', .path = "C:"}}));
  }
};

TEST_F(DriverConversionTest, MigratesWithTheLayoutConverters) {
  PutInstance();
  ASSERT_EQ(MigrateDatabaseDirectory(kInstance, kInstall), 0);
  const Bytes converted = Get(kDirectory);
  EXPECT_EQ(Get(kCopy), converted);
  const CurrentFileView view = ReadCurrentFile(converted);
  ASSERT_TRUE(view.sizeMatches);
  ASSERT_EQ(view.entries.size(), 2u);
  EXPECT_EQ(DirectoryText(view.entries[0], 672, 10), "1252");
  EXPECT_EQ(DirectoryText(view.entries[0], 682, 6), "GB");
  EXPECT_EQ(DirectoryText(view.entries[1], 0, 9), "REMOTE");
  EXPECT_EQ(Get(kIntention).size(), 540u);
  EXPECT_TRUE(Exists("C:\\QZ7PROF\\QZ7\\SQLDBDIR\\SQLDDDIR.BAK"));
  EXPECT_FALSE(Exists("C:\\QZ7PROF\\QZ7\\SQLDBDIR\\SQLDDDIR.TMP"));
  EXPECT_FALSE(Exists(kReport));
  // A second run finds the current layout and changes nothing.
  ASSERT_EQ(MigrateDatabaseDirectory(kInstance, kInstall), 0);
  EXPECT_EQ(Get(kDirectory), converted);
}

TEST_F(DriverConversionTest, ARunAfterAnyFailureEndsWithTheSameDirectory) {
  PutInstance();
  ASSERT_EQ(MigrateDatabaseDirectory(kInstance, kInstall), 0);
  const Bytes reference = Get(kDirectory);
  const Bytes referenceIntention = Get(kIntention);
  // A failure inside the local database check is recorded and the conversion completes, so
  // only the fields that the check fills (bytes 344 to 687 of the first entry) may differ.
  auto sameApartFromCheck = [&](const Bytes& got, bool checkFailed) {
    if (got.size() != reference.size()) return false;
    for (size_t i = 0; i < got.size(); ++i) {
      const bool checked = i >= 208 + 344 && i < 208 + 688;
      if (got[i] != reference[i] && !(checkFailed && checked)) return false;
    }
    return true;
  };
  int checkFailures = 0;
  for (uint64_t n = 1;; ++n) {
    SCOPED_TRACE("fail operation " + std::to_string(n));
    PutInstance();
    platform::SetFaultPlan({.triggerAt = n, .error = platform::kErrorDiskFull});
    const MigrationResult failed = MigrateDatabaseDirectory(kInstance, kInstall);
    const uint64_t used = platform::FileOperationCount();
    platform::ClearFaultPlan();
    if (used < n) {
      EXPECT_EQ(failed, 0);
      break;
    }
    const Bytes errors = Get(kErrorFile);
    const bool checkFailed =
        failed == 0 &&
        std::string(errors.begin(), errors.end()).find("MTYPE3_019") != std::string::npos;
    checkFailures += checkFailed;
    const MigrationResult again = MigrateDatabaseDirectory(kInstance, kInstall);
    ASSERT_EQ(again, 0) << "first run gave " << failed;
    EXPECT_TRUE(sameApartFromCheck(Get(kDirectory), checkFailed)) << "first run gave " << failed;
    EXPECT_EQ(Get(kCopy), Get(kDirectory));
    EXPECT_EQ(Get(kIntention), referenceIntention);
  }
  EXPECT_GT(checkFailures, 0);
}

}  // namespace
}  // namespace qz7::migrate::conversion_testing
