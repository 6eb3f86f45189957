// Completing converted directory entries from the files of databases on this machine: the
// code-set and territory tables, the database configuration file, the local database
// directory, and what a failure names.
#include "migrate/local_database_check.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "migrate/code_set_tables.h"
#include "migrate/work_buffer.h"
#include "platform/fault_injection.h"
#include "platform/win_error.h"
#include "testkit/database_directory_builder.h"
#include "testkit/local_database_builder.h"
#include "testkit/temp_machine.h"
#include "util/coding.h"

namespace qz7::migrate {
namespace {

using testkit::DatabaseConfigurationBuilder;
using testkit::DatabaseInfoPattern;
using testkit::LocalDatabaseDirectoryBytes;
using Bytes = std::vector<unsigned char>;

constexpr const char* kPrefix = "C:\\QZ7PROF\\QZ7\\";
constexpr const char* kConfigPath = "C:\\QZ7PROF\\QZ7\\SQL00001\\SQLDBCON";
constexpr const char* kLocalDirectory = "D:\\SQLDBDIR\\SQLDBDIR";
constexpr const char* kLocalCopy = "D:\\SQLDBDIR\\SQLDBBAK";

// ---- Tables ----

TEST(CodeSetTableTest, LookupReturnsTheFirstNameOfANumber) {
  struct Row {
    const char* name;
    uint16_t codePage;
    MigrationResult want;
    const char* text;
  } rows[] = {
      {"first_slot", 850, 0, "ZAV-850"},
      {"alternative_listed_after", 874, 0, "TIS620-1"},
      {"three_spellings", 819, 0, "ISO8859-1"},
      {"sjis_before_zav", 943, 0, "SJIS"},
      {"euc_japanese", 954, 0, "ZAV-eucJP"},
      {"longest_name_fits", 1383, 0, "ZAV-eucCN"},
      {"number_as_name", 1252, 0, "1252"},
      {"last_filled_slot", 13488, 0, "UCS-2"},
      {"zero_finds_empty_slot", 0, 0, ""},
      {"unknown", 1200, kMigrationUnknownCodePage, ""},
      {"near_miss", 851, kMigrationUnknownCodePage, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    char name[kCodeSetNameSize];
    std::memset(name, 'x', sizeof name);
    EXPECT_EQ(CodePageToCodeSetName(row.codePage, name), row.want);
    EXPECT_STREQ(name, row.text);
    // The field is zero-padded, never left with what it held.
    for (size_t i = std::strlen(row.text); i < sizeof name; ++i) EXPECT_EQ(name[i], 0) << i;
  }
}

TEST(CodeSetTableTest, TerritoryLookup) {
  struct Row {
    const char* name;
    uint16_t territory;
    MigrationResult want;
    const char* text;
  } rows[] = {
      {"us_before_en_and_c", 1, 0, "US"},    {"sp_before_yu", 381, 0, "SP"},
      {"yu_own_number", 38, 0, "YU"},        {"three_letters", 61, 0, "Aus"},
      {"latin_america", 3, 0, "Lat"},        {"japan_before_ja", 81, 0, "JP"},
      {"arabic_before_aa_sa", 785, 0, "AR"}, {"last_filled_slot", 88, 0, "TW"},
      {"zero_finds_empty_slot", 0, 0, ""},   {"unknown", 999, kMigrationUnknownTerritory, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    char name[kTerritoryNameSize];
    std::memset(name, 'x', sizeof name);
    EXPECT_EQ(TerritoryCodeToName(row.territory, name), row.want);
    EXPECT_STREQ(name, row.text);
  }
}

TEST(CodeSetTableTest, SlotCountsAndAlternativeSpellings) {
  auto filled = [](auto table) {
    size_t count = 0;
    for (const NamedNumberSlot& slot : table) count += slot.text[0] != '\0';
    return count;
  };
  EXPECT_EQ(filled(CodeSetTable()), 62u);
  EXPECT_EQ(filled(TerritoryTable()), 53u);
  // Alternative spellings are in the tables but never returned.
  auto holds = [](auto table, const char* text) {
    for (const NamedNumberSlot& slot : table) {
      if (std::strcmp(slot.text, text) == 0) return true;
    }
    return false;
  };
  char name[kCodeSetNameSize];
  for (const char* alternative :
       {"tis620", "iso88591", "88591", "iso88592", "iso88595", "iso88597", "iso88598", "iso88599",
        "ZAV-943", "eucJP", "eucTW", "eucKR", "iso88596", "eucCN"}) {
    SCOPED_TRACE(alternative);
    EXPECT_TRUE(holds(CodeSetTable(), alternative));
    for (const NamedNumberSlot& slot : CodeSetTable()) {
      if (std::strcmp(slot.text, alternative) != 0) continue;
      ASSERT_EQ(CodePageToCodeSetName(static_cast<uint16_t>(slot.number), name), 0);
      EXPECT_STRNE(name, alternative);
    }
  }
  for (const char* alternative : {"en", "C", "ja", "sv", "iw", "AA", "SA", "Au", "ko", "zh"}) {
    EXPECT_TRUE(holds(TerritoryTable(), alternative)) << alternative;
  }
}

// ---- Files ----

class LocalDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::ClearFaultPlan();
    FailWorkBufferAllocationAt(0);
    machine_.AddDrive('D');
    machine_.MakeDirectory("C:\\QZ7PROF\\QZ7");
  }
  void TearDown() override { platform::ClearFaultPlan(); }

  // An entry of type '2' for the database in C:\QZ7PROF\QZ7\SQL00001, or of type '0' for
  // database SAMPLE catalogued in the local directory of drive D:. Every other byte is 0xEE so
  // that a test sees what the check wrote.
  static ConvertedEntry Entry(char type, const char* path = "D:") {
    ConvertedEntry entry;
    std::memset(entry.bytes, 0xEE, sizeof entry.bytes);
    auto text = [&](size_t offset, size_t width, const char* value) {
      std::memset(entry.bytes + offset, 0, width);
      std::memcpy(entry.bytes + offset, value, std::strlen(value));
    };
    text(kEntryCatalogNameOffset, 9, "ALIAS");
    text(kEntryDatabaseNameOffset, 9, "SAMPLE");
    entry.bytes[kEntryTypeOffset] = static_cast<unsigned char>(type);
    text(kEntrySubdirectoryOffset, 9, "SQL00001");
    text(kEntryPathOffset, kEntryPathSize, path);
    return entry;
  }

  struct Outcome {
    MigrationResult code;
    std::string object;
    ConvertedEntry entry;
  };
  static Outcome Check(ConvertedEntry entry, const char* prefix = kPrefix) {
    char path[kLocalPathSize] = {};
    std::strncpy(path, prefix, sizeof path - 1);
    char object[kMigrationObjectSize] = {};
    const MigrationResult code =
        LocalDatabaseCheck(&entry, path, sizeof path, object, sizeof object);
    return {code, object, entry};
  }

  testkit::TempMachine machine_;
};

uint32_t U32(const ConvertedEntry& entry, size_t offset) {
  return util::LoadLE32(entry.bytes + offset);
}
Bytes Slice(const ConvertedEntry& entry, size_t offset, size_t width) {
  return Bytes(entry.bytes + offset, entry.bytes + offset + width);
}

TEST_F(LocalDatabaseTest, ConfigurationFileCompletesTheEntry) {
  Bytes block(256);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<unsigned char>(i ^ 0x5A);
  struct Row {
    const char* name;
    uint16_t release;
    uint32_t wantInfoLength;
  } rows[] = {
      {"release_0400", 0x0400, 32},
      {"release_0500", 0x0500, 32},
      {"release_0600_takes_field_1164", 0x0600, 0x0A0B0C0D},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    machine_.WriteFile(kConfigPath, DatabaseConfigurationBuilder()
                                        .Release(row.release)
                                        .CodePage(943)
                                        .Territory(81)
                                        .Block(block)
                                        .Field884(0x11223344)
                                        .Field888(0x5566)
                                        .Field1164(0x0A0B0C0D)
                                        .Bytes());
    const Outcome out = Check(Entry('2'));
    ASSERT_EQ(out.code, 0);
    EXPECT_EQ(out.object, "");
    // "SQLDBD02" whose terminating zero the code page covers.
    EXPECT_EQ(out.entry.Text(344, 8), "SQLDBD02");
    EXPECT_EQ(U32(out.entry, 352), 943u);
    EXPECT_EQ(U32(out.entry, 356), 0xFFFFFFFFu);
    EXPECT_EQ(Slice(out.entry, 360, 256), block);
    EXPECT_EQ(out.entry.bytes[616], 0);
    EXPECT_EQ(Slice(out.entry, 617, 31), Bytes(31, 0xEE)) << "bytes no field names stay";
    EXPECT_EQ(U32(out.entry, 648), 0x11223344u);
    EXPECT_EQ(util::LoadLE16(out.entry.bytes + 652), 0x5566);
    EXPECT_EQ(U32(out.entry, 656), row.wantInfoLength);
    EXPECT_EQ(Slice(out.entry, 660, 12), Bytes(12, 0));
    EXPECT_EQ(Slice(out.entry, 672, 10), Bytes({'S', 'J', 'I', 'S', 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Slice(out.entry, 682, 6), Bytes({'J', 'P', 0, 0, 0, 0}));
    EXPECT_EQ(out.entry.bytes[688], 0xEE);
  }
}

TEST_F(LocalDatabaseTest, ConfigurationFailures) {
  struct Row {
    const char* name;
    bool write;
    DatabaseConfigurationBuilder config;
    MigrationResult want;
    const char* object;
    bool codeSetWritten;  // the entry got its database block before the failure
  } rows[] = {
      {"missing", false, {}, kMigrationConfigAccessError, kConfigPath, false},
      {"empty_file", true, DatabaseConfigurationBuilder().Size(0), kMigrationConfigAccessError,
       kConfigPath, false},
      {"checksum_one_off", true, DatabaseConfigurationBuilder().WrongChecksum(1),
       kMigrationBadConfig, kConfigPath, false},
      {"unknown_release", true, DatabaseConfigurationBuilder().Release(0x0300), kMigrationBadConfig,
       kConfigPath, false},
      {"release_and_checksum_wrong", true,
       DatabaseConfigurationBuilder().Release(0x0700).WrongChecksum(5), kMigrationBadConfig,
       kConfigPath, false},
      {"unknown_code_page", true, DatabaseConfigurationBuilder().CodePage(1200),
       kMigrationUnknownCodePage, "", false},
      {"unknown_territory", true, DatabaseConfigurationBuilder().Territory(999),
       kMigrationUnknownTerritory, "", true},
      {"short_file_with_right_checksum", true, DatabaseConfigurationBuilder().Size(900), 0, "",
       true},
      {"long_file_checksum_covers_all", true, DatabaseConfigurationBuilder().Size(5000, 0x7F), 0,
       "", true},
      {"cut_after_stamping", true,
       DatabaseConfigurationBuilder().Block(Bytes(256, 1)).TruncateTo(700), kMigrationBadConfig,
       kConfigPath, false},
      {"four_bytes", true, DatabaseConfigurationBuilder().Size(4), kMigrationBadConfig, kConfigPath,
       false},
  };
  for (Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::remove(machine_.HostPath(kConfigPath).c_str());
    if (row.write) machine_.WriteFile(kConfigPath, row.config.Bytes());
    const Outcome out = Check(Entry('2'));
    EXPECT_EQ(out.code, row.want);
    EXPECT_EQ(out.object, row.object);
    EXPECT_EQ(out.entry.Text(344, 8) == "SQLDBD02", row.want == kMigrationUnknownCodePage ||
                                                        row.want == kMigrationUnknownTerritory ||
                                                        row.want == 0);
    EXPECT_EQ(out.entry.bytes[672] != 0xEE, row.codeSetWritten);
    EXPECT_EQ(out.entry.bytes[682] != 0xEE, row.want == 0);
  }
}

TEST_F(LocalDatabaseTest, LongConfigurationFileIsCheckedAsAWhole) {
  // A checksum that covers only the first 2048 bytes of a longer file does not match it.
  testkit::DirectoryBytes bytes = DatabaseConfigurationBuilder().Bytes();
  bytes.resize(3000, 0x01);
  machine_.WriteFile(kConfigPath, bytes);
  unsigned char buffer[kDatabaseConfigurationReadSize];
  EXPECT_EQ(ReadDatabaseConfiguration(kConfigPath, buffer), kMigrationBadConfig);
}

TEST_F(LocalDatabaseTest, ConfigurationFileFaults) {
  machine_.WriteFile(kConfigPath, DatabaseConfigurationBuilder().Bytes());
  // open, seek to the end, rewind, read, close: every failure but the close is an access error.
  const MigrationResult want[] = {kMigrationConfigAccessError, kMigrationConfigAccessError,
                                  kMigrationConfigAccessError, kMigrationConfigAccessError,
                                  kMigrationCannotClose,       0};
  for (uint64_t n = 1; n <= std::size(want); ++n) {
    SCOPED_TRACE("fail operation " + std::to_string(n));
    unsigned char buffer[kDatabaseConfigurationReadSize];
    platform::SetFaultPlan({.triggerAt = n, .error = platform::kErrorReadFault});
    EXPECT_EQ(ReadDatabaseConfiguration(kConfigPath, buffer), want[n - 1]);
    platform::ClearFaultPlan();
  }
}

TEST_F(LocalDatabaseTest, PrefixTooLongForThePathBuffer) {
  const std::string prefix = "C:\\" + std::string(75, 'P') + "\\";
  const Outcome out = Check(Entry('2'), prefix.c_str());
  EXPECT_EQ(out.code, kMigrationConfigAccessError);
  EXPECT_EQ(out.object.size(), kLocalPathSize - 1);
  EXPECT_EQ(out.object.rfind(prefix.substr(0, 40), 0), 0u);
}

TEST_F(LocalDatabaseTest, LocalDirectoryLookup) {
  const Bytes found = DatabaseInfoPattern(3);
  const Bytes localOk = LocalDatabaseDirectoryBytes(
      {{"OTHER", DatabaseInfoPattern(1)}, {"SAMPLE", found}, {"SAMPLE", DatabaseInfoPattern(9)}},
      2);
  struct Row {
    const char* name;
    Bytes directory;  // empty: not written
    Bytes copy;
    MigrationResult want;
    std::string object;
  } rows[] = {
      {"found_second_entry", localOk, localOk, 0, ""},
      {"only_copy", {}, localOk, 0, ""},
      {"only_directory", localOk, {}, 0, ""},
      {"not_catalogued",
       LocalDatabaseDirectoryBytes({{"OTHER", {}}, {"sample", {}}}),
       {},
       kMigrationDatabaseNotFound,
       kLocalDirectory},
      {"not_catalogued_in_copy",
       {},
       LocalDatabaseDirectoryBytes({{"OTHER", {}}}),
       kMigrationDatabaseNotFound,
       kLocalCopy},
      {"empty_current_directory",
       testkit::EmptyCurrentDirectoryBytes(),
       {},
       kMigrationDatabaseNotFound,
       kLocalDirectory},
      {"no_local_directory", {}, {}, kMigrationLocalDirectoryOpenError, kLocalCopy},
      {"earlier_layout",
       testkit::DatabaseDirectoryBuilder::Layout(2).AddEntry({.name = "SAMPLE"}).Bytes(),
       {},
       kMigrationLocalDirectoryNotCurrent,
       kLocalDirectory},
      {"entries_of_700_bytes",
       testkit::DatabaseDirectoryBuilder::Current()
           .EntrySize(700)
           .AddEntry({.name = "SAMPLE"})
           .Bytes(),
       {},
       kMigrationLocalDirectoryUnrecognized,
       kLocalDirectory},
      {"absurd_entry_count",
       testkit::DatabaseDirectoryBuilder::Current()
           .ClaimedEntryCount(60000)
           .AddEntry({.name = "SAMPLE"})
           .Bytes(),
       {},
       kMigrationLocalDirectoryUnrecognized,
       kLocalDirectory},
      {"no_entries_but_bytes",
       testkit::DatabaseDirectoryBuilder::Current().AppendZeros(720).Bytes(),
       {},
       kMigrationLocalDirectoryUnrecognized,
       kLocalDirectory},
      {"cut_inside_header",
       Bytes(localOk.begin(), localOk.begin() + 20),
       {},
       kMigrationLocalDirectoryReadError,
       kLocalDirectory},
      {"copies_differ", localOk, LocalDatabaseDirectoryBytes({{"SAMPLE", found}}),
       kMigrationCopiesDiffer, std::string(kLocalDirectory) + " and " + kLocalCopy},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    machine_.WriteFile("D:\\SQLDBDIR\\KEEP", {});
    std::remove(machine_.HostPath(kLocalDirectory).c_str());
    std::remove(machine_.HostPath(kLocalCopy).c_str());
    if (!row.directory.empty()) machine_.WriteFile(kLocalDirectory, row.directory);
    if (!row.copy.empty()) machine_.WriteFile(kLocalCopy, row.copy);
    const Outcome out = Check(Entry('0'));
    EXPECT_EQ(out.code, row.want);
    EXPECT_EQ(out.object, row.object);
    const Bytes wantInfo = row.want == 0 ? found : Bytes(344, 0xEE);
    EXPECT_EQ(Slice(out.entry, 344, 344), wantInfo);
    EXPECT_EQ(out.entry.bytes[343], 0xEE);
    EXPECT_EQ(out.entry.bytes[688], 0xEE);
  }
}

TEST_F(LocalDatabaseTest, LocalDirectoryPathTooLong) {
  const std::string path = "D:\\" + std::string(80, 'L');
  const Outcome out = Check(Entry('0', path.c_str()));
  EXPECT_EQ(out.code, kMigrationLocalDirectoryOpenError);
  EXPECT_EQ(out.object.size(), kLocalPathSize - 1);
}

}  // namespace
}  // namespace qz7::migrate
