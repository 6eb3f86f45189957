// Completing converted directory entries from the files of databases on this machine (the
// configuration file, the local database directory), and what a conversion records and
// reports for each failure.
#include "migrate/local_database_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "base/coding.h"
#include "testkit/local_database_builder.h"
#include "testkit/migration_message_file.h"
#include "tests/migrate/migrate_fixture.h"

namespace qz7::migrate::testing {
namespace {

using testkit::DatabaseConfigurationBuilder;
using testkit::LocalDatabaseDirectoryBytes;

constexpr const char* kConfigPath = "C:\\QZ7PROF\\QZ7\\SQL00001\\SQLDBCON";

class LocalDatabaseTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    machine_.AddDrive('D');
    machine_.MakeDirectory("C:\\QZ7PROF\\QZ7");
  }

  struct Outcome {
    MigrationResult code;
    std::string object;
    Bytes entry;
  };
  // Checks an entry of type '2' for the database in C:\QZ7PROF\QZ7\SQL00001, or of type '0'
  // for database SAMPLE catalogued in the local directory of path. Every other byte of the
  // entry is 0xEE, so that a test sees what the check wrote.
  static Outcome Check(char type, const std::string& path = "D:") {
    ConvertedEntry entry;
    std::memset(entry.bytes, 0xEE, sizeof entry.bytes);
    auto text = [&](size_t offset, size_t width, const std::string& value) {
      std::memset(entry.bytes + offset, 0, width);
      std::memcpy(entry.bytes + offset, value.data(), value.size());
    };
    text(base::kEntryDatabaseNameOffset, 9, "SAMPLE");
    entry.bytes[base::kEntryTypeOffset] = static_cast<unsigned char>(type);
    text(base::kEntrySubdirectoryOffset, 9, "SQL00001");
    text(base::kEntryPathOffset, base::kEntryPathSize, path);
    char buffer[kLocalPathSize] = "C:\\QZ7PROF\\QZ7\\";  // the instance directory
    char object[kMigrationObjectSize] = {};
    const MigrationResult code =
        LocalDatabaseCheck(&entry, buffer, sizeof buffer, object, sizeof object);
    return {code, object, Bytes(entry.bytes, entry.bytes + sizeof entry.bytes)};
  }
};

// Each release completes the entry as the text's table says, and nothing past its last field:
// "SQLDBD02" at 344 with the code page over its zero, 0xFFFFFFFF, the block, a zero byte, the
// fields at 884 and 888, 32 (releases 0x400 and 0x500) or the field at 1164, 12 zero bytes,
// the code set and the territory. The bytes between them are the caller's (0xEE here).
TEST_F(LocalDatabaseTest, ConfigurationFileCompletesTheEntry) {
  Bytes block(256);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<unsigned char>(i ^ 0x5A);
  for (uint16_t release : {0x0400, 0x0500, 0x0600}) {
    SCOPED_TRACE(release);
    Put(kConfigPath, DatabaseConfigurationBuilder()
                         .Release(release)
                         .CodePage(943)
                         .Territory(81)
                         .Block(block)
                         .Field884(0x11223344)
                         .Field888(0x5566)
                         .Field1164(0x0A0B0C0D)
                         .Bytes());
    const Outcome out = Check('2');
    ASSERT_EQ(out.code, 0);
    EXPECT_EQ(out.object, "");
    Bytes want(720, 0xEE);
    std::copy_n("SQLDBD02", 8, want.begin() + 344);
    base::StoreLE32(&want[352], 943);
    base::StoreLE32(&want[356], 0xFFFFFFFF);
    std::copy(block.begin(), block.end(), want.begin() + 360);
    want[616] = 0;
    base::StoreLE32(&want[648], 0x11223344);
    base::StoreLE16(&want[652], 0x5566);
    base::StoreLE32(&want[656], release == 0x0600 ? 0x0A0B0C0D : 32);
    std::fill_n(want.begin() + 660, 28, 0);
    std::copy_n("SJIS", 4, want.begin() + 672);
    std::copy_n("JP", 2, want.begin() + 682);
    EXPECT_TRUE(SameBytes(Slice(out.entry, 344, 376), Slice(want, 344, 376)));
  }
}

TEST_F(LocalDatabaseTest, ConfigurationFailures) {
  const struct {
    const char* name;
    DatabaseConfigurationBuilder config;
    MigrationResult code;
    const char* object;
    bool codeSetWritten;  // the code set was filled in before the failure
  } rows[] = {
      {"empty_file", DatabaseConfigurationBuilder().Size(0), -110, kConfigPath, false},
      {"unknown_release", DatabaseConfigurationBuilder().Release(0x0300), -111, kConfigPath, false},
      {"unknown_territory", DatabaseConfigurationBuilder().Territory(999), -113, "", true},
      {"short_file", DatabaseConfigurationBuilder().Size(900), 0, "", true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Put(kConfigPath, row.config.Bytes());
    const Outcome out = Check('2');
    EXPECT_EQ(out.code, row.code);
    EXPECT_EQ(out.object, row.object);
    EXPECT_EQ(DirectoryText(out.entry, 344, 8) == "SQLDBD02", row.codeSetWritten);
    EXPECT_EQ(out.entry[672] != 0xEE, row.codeSetWritten);
    EXPECT_EQ(out.entry[682] != 0xEE, row.code == 0);
  }
}

// The local directory's paths are held in 88 characters: the directory of a database 70
// characters long is read; one of 71, whose directory file's path is 89 characters, cannot be
// opened (although it is there), and the object is that path cut to 88.
TEST_F(LocalDatabaseTest, LocalDirectoryPathsHoldEightyEightCharacters) {
  for (const size_t length : {70u, 71u}) {
    SCOPED_TRACE(length);
    const std::string path = "D:\\" + std::string(length - 3, 'P');
    const std::string file = path + "\\SQLDBDIR\\SQLDBDIR";
    Put(file, LocalDatabaseDirectoryBytes({{"SAMPLE", testkit::DatabaseInfoPattern(3)}}));
    const Outcome out = Check('0', path);
    EXPECT_EQ(out.code, length == 70 ? 0 : -114);
    EXPECT_EQ(out.object, length == 70 ? std::string() : file.substr(0, 88));
  }
}

// Report text n of the message file, with %1 filled in.
std::string ReportText(int n, const std::string& name) {
  std::string text = testkit::MigrationMessageFileLines()[static_cast<size_t>(n)];
  return text.replace(text.find("%1"), 2, name);
}

OldEntryFields Local(const std::string& name, const std::string& database = "PAYROLL",
                     const std::string& path = "D:") {
  return {.name = name, .databaseName = database, .type = '0', .path = path};
}

// A local directory of 20,000 databases in which PAYROLL is catalogued twice near the end,
// with info in the first of the two only.
Bytes LargeLocalDirectory(const Bytes& info) {
  std::vector<testkit::LocalDatabaseEntry> entries;
  for (int i = 0; i < 19998; ++i) entries.push_back({"DB" + std::to_string(i), {}});
  entries.push_back({"PAYROLL", info});
  entries.push_back({"PAYROLL", testkit::DatabaseInfoPattern(9)});
  return LocalDatabaseDirectoryBytes(entries);
}
OldEntryFields Own(const std::string& name) {
  return {.name = name, .type = '2', .subdirectory = "SQL00001"};
}

const struct {
  int layout;
  const char *check, *reportOpen;
  const char* notice;  // null: the layout writes none
} kLayouts[] = {{2, "MTYPE2_009", "MTYPE2_010", "MTYPE2_013"},
                {3, "MTYPE3_019", "MTYPE3_020", nullptr}};

// The records a layout writes: "{check}" and "{open}" stand for its keys, and after the
// records of each failed check layout 2 adds its notice that names the report file.
Texts ExpectedRecords(const Texts& records, const auto& keys) {
  Texts out;
  for (size_t i = 0; i < records.size(); ++i) {
    std::string record = records[i];
    if (record.rfind("{check}", 0) == 0) record.replace(0, 7, keys.check);
    if (record.rfind("{open}", 0) == 0) record.replace(0, 6, keys.reportOpen);
    out.push_back(record);
    const bool last = i + 1 == records.size() || records[i + 1].rfind("{check}", 0) == 0;
    if (last && keys.notice != nullptr) {
      out.push_back(std::string(keys.notice) + ": " + kReport + " file access error");
    }
  }
  return out;
}

// Layouts 2 and 3 under the long header complete entries of databases on this machine from
// their own files, and record and report the ones that cannot be completed, without stopping.
using LocalDatabaseConversionTest = DirectoryFolderTest;

TEST_F(LocalDatabaseConversionTest, ChecksRecordsAndReports) {
  const Bytes info = testkit::DatabaseInfoPattern(5);
  const Bytes none;
  const std::string opened = "{check}: D:\\SQLDBDIR\\SQLDBBAK cannot be opened";
  const std::string report = std::string("{open}: ") + kReport + " cannot be opened";
  const std::string configAccess =
      std::string("{check}: ") + kConfigPath + " configuration file access error";
  const std::string notFound = "{check}: D:\\SQLDBDIR\\SQLDBDIR";
  const std::string differ = notFound + " and D:\\SQLDBDIR\\SQLDBBAK are different";
  // A local directory that is the one being converted: its copy is being written.
  const std::string itself =
      std::string("{check}: ") + kDirectory + " and " + kCopy + " are different";
  const Bytes large = LargeLocalDirectory(info);
  auto entries = [](const auto&... e) { return std::vector<OldEntryFields>{e...}; };
  const struct {
    const char* name;
    std::vector<OldEntryFields> entries;
    Bytes localDirectory, localCopy, config;  // empty: not written
    Texts records, reportTexts;               // reportTexts empty: no report file checked
    int infoIn = -1;                          // the entry given the local directory's info
    const char* codeSet = nullptr;            // the code set of the first entry, when checked
    int onlyLayout = 0;  // the row holds for this layout only (layout 2 keeps 2-byte paths)
  } rows[] = {
      {"local_database_found", entries(Local("PAY")),
       LocalDatabaseDirectoryBytes({{"OTHER", {}}, {"PAYROLL", info}}), none, none, Texts(),
       Texts(), 0},
      {"no_local_directory_name_cut_at_blank", entries(Local("MY DB")), none, none, none,
       Texts{opened}, Texts{ReportText(51, "MY")}},
      // Names are compared with their case.
      {"not_catalogued", entries(Local("PAY")),
       LocalDatabaseDirectoryBytes({{"OTHER", {}}, {"payroll", info}}), none, none, Texts{notFound},
       Texts{ReportText(47, "PAY")}},
      {"local_directory_cut_inside_its_header", entries(Local("PAY")),
       Slice(LocalDatabaseDirectoryBytes({{"PAYROLL", info}}), 0, 20), none, none,
       Texts{notFound + " read error"}, Texts()},
      {"local_directory_of_700_byte_entries", entries(Local("PAY")),
       DatabaseDirectoryBuilder::Current().EntrySize(700).AddEntry({.name = "PAYROLL"}).Bytes(),
       none, none, Texts{notFound + " unrecognizable directory file"}, Texts()},
      {"local_directory_not_current", entries(Local("PAY")),
       DatabaseDirectoryBuilder::Layout(3).AddEntry({.name = "PAYROLL"}).Bytes(), none, none,
       Texts{notFound + " directory file not in current level"}, Texts{ReportText(48, "PAY")}},
      {"local_copies_differ_have_no_message", entries(Local("PAY")),
       LocalDatabaseDirectoryBytes({{"PAYROLL", info}}),
       LocalDatabaseDirectoryBytes({{"PAYROLL", {}}}), none, Texts{differ}, Texts{""}},
      {"configuration_missing", entries(Own("SAMPLE")), none, none, none, Texts{configAccess},
       Texts{ReportText(50, "SAMPLE")}},
      {"configuration_checksum", entries(Own("SAMPLE")), none, none,
       DatabaseConfigurationBuilder().WrongChecksum().Bytes(),
       Texts{std::string("{check}: ") + kConfigPath + " bad configuration file"},
       Texts{ReportText(49, "SAMPLE")}},
      {"unknown_code_page_names_no_file", entries(Own("SAMPLE")), none, none,
       DatabaseConfigurationBuilder().CodePage(1200).Bytes(), Texts{"{check}: "},
       Texts{ReportText(49, "SAMPLE")}, -1, ""},
      {"reports_follow_each_other",
       entries(Own("FIRST"), Local("SECOND"), OldEntryFields{.name = "THIRD"},
               Local("FOURTH", "NOWHERE")),
       LocalDatabaseDirectoryBytes({{"PAYROLL", info}}), none, none, Texts{configAccess, notFound},
       Texts{ReportText(50, "FIRST"), ReportText(47, "FOURTH")}, 1},
      {"report_file_cannot_be_created", entries(Local("ONE"), Local("TWO")), none, none, none,
       Texts{opened, report, opened, report}, Texts()},
      // Each local directory is read once per run; every lookup gives what it would alone.
      {"first_of_two_equal_names_among_20000", entries(Local("MISS", "NOWHERE"), Local("PAY")),
       large, large, none, Texts{notFound}, Texts{ReportText(47, "MISS")}, 1},
      {"only_the_copy_of_a_local_directory", entries(Local("ONE", "NOWHERE"), Local("PAY")), none,
       LocalDatabaseDirectoryBytes({{"PAYROLL", info}}), none,
       Texts{"{check}: D:\\SQLDBDIR\\SQLDBBAK"}, Texts{ReportText(47, "ONE")}, 1},
      {"the_directory_being_converted",
       entries(Local("ONE", "PAYROLL", "C:\\QZ7PROF\\QZ7"),
               Local("TWO", "PAYROLL", "C:\\QZ7PROF\\QZ7")),
       none, none, none, Texts{itself, itself}, Texts{"", ""}, -1, nullptr, 3},
  };
  for (const auto& layout : kLayouts) {
    for (const auto& row : rows) {
      if (row.onlyLayout != 0 && row.onlyLayout != layout.layout) continue;
      SCOPED_TRACE(std::string(row.name) + " layout " + std::to_string(layout.layout));
      Remove("D:\\SQLDBDIR");
      Remove("C:\\QZ7PROF\\QZ7\\SQL00001");
      Remove(kReport);
      // A row that expects the report file not to open gets a folder in its place.
      if (std::count(row.records.begin(), row.records.end(), report) > 0) {
        machine_.MakeDirectory(kReport);
      }
      if (!row.localDirectory.empty()) Put("D:\\SQLDBDIR\\SQLDBDIR", row.localDirectory);
      if (!row.localCopy.empty()) Put("D:\\SQLDBDIR\\SQLDBBAK", row.localCopy);
      if (!row.config.empty()) Put(kConfigPath, row.config);
      Put(kIntention, IntentionFileBuilder(layout.layout).Bytes());
      PutDirectory(OldDirectoryBytes(DatabaseDirectoryBuilder::Layout(layout.layout), layout.layout,
                                     Form::kLong, row.entries));

      const Outcome out = Convert(layout.layout, 0);
      ASSERT_EQ(out.code, 0) << out.key << " " << out.object;
      EXPECT_EQ(out.records, ExpectedRecords(row.records, layout));
      if (!row.reportTexts.empty()) {
        std::string want;
        for (const std::string& text : row.reportTexts) want += text + "\n\n";
        const Bytes bytes = Get(kReport);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), want);
      } else if (row.records.empty()) {
        EXPECT_FALSE(Exists(kReport));
      }
      // Every entry is written, completed as far as its check went.
      const Bytes converted = Get(kDirectory);
      EXPECT_EQ(Get(kCopy), converted);
      ASSERT_EQ(converted.size(), 212 + 720 * row.entries.size());
      // Only the entry whose database was found takes the local directory's info.
      for (size_t i = 0; i < row.entries.size(); ++i) {
        EXPECT_EQ(DirectoryText(converted, 208 + 720 * i, 9), row.entries[i].name);
        EXPECT_EQ(Slice(converted, 208 + 720 * i + 344, 344) == info,
                  static_cast<int>(i) == row.infoIn);
      }
      if (row.codeSet != nullptr) {
        EXPECT_EQ(DirectoryText(converted, 208 + 344, 8), "SQLDBD02");
        EXPECT_EQ(DirectoryText(converted, 208 + 672, 10), row.codeSet);
      }
    }
  }
}

}  // namespace
}  // namespace qz7::migrate::testing
