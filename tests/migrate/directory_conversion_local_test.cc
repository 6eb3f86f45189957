// Directory entries of databases on this machine during a conversion: layouts 2 and 3 under
// the long header complete them from the databases' own files, and record and report the ones
// that cannot be completed, without stopping.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testkit/database_directory_builder.h"
#include "testkit/local_database_builder.h"
#include "testkit/old_directory_entries.h"
#include "tests/migrate/directory_conversion_fixture.h"

namespace qz7::migrate::conversion_testing {
namespace {

using testkit::DatabaseConfigurationBuilder;
using testkit::DatabaseInfoPattern;
using testkit::LocalDatabaseDirectoryBytes;

constexpr const char* kConfig = "C:\\QZ7PROF\\QZ7\\SQL00001\\SQLDBCON";
constexpr const char* kLocalDirectory = "D:\\SQLDBDIR\\SQLDBDIR";
constexpr const char* kLocalCopy = "D:\\SQLDBDIR\\SQLDBBAK";

const std::string kNotFound47 =
    "Database %1 was not found in its local database directory; it was not migrated.";
const std::string kNotCurrent48 =
    "The local database directory of database %1 is not at the current level.";
const std::string kBadConfig49 =
    "The configuration file of database %1 is damaged or names an unknown code page or "
    "territory.";
const std::string kConfigAccess50 = "The configuration file of database %1 cannot be accessed.";
const std::string kUnreadable51 = "The local database directory of database %1 cannot be read.";

std::string Fill(std::string text, const std::string& name) {
  return text.replace(text.find("%1"), 2, name);
}

OldEntryFields Local(const std::string& name) {
  return {.name = name, .databaseName = "PAYROLL", .type = '0', .path = "D:"};
}
OldEntryFields Own(const std::string& name) {
  return {
      .name = name, .databaseName = name, .type = '2', .subdirectory = "SQL00001", .path = "C:"};
}

struct LayoutKeys {
  int layout;
  DirectoryHeaderForm form;
  const char* check;
  const char* reportOpen;
  const char* notice;  // null: the layout writes none
};
constexpr LayoutKeys kLayouts[] = {
    {2, DirectoryHeaderForm::kLong, "MTYPE2_009", "MTYPE2_010", "MTYPE2_013"},
    {3, DirectoryHeaderForm::kLong, "MTYPE3_019", "MTYPE3_020", nullptr},
};

class LocalDatabaseConversionTest : public DirectoryConversionTest {
 protected:
  void ClearLocalFiles() const {
    Remove("D:\\SQLDBDIR");
    Remove("C:\\QZ7PROF\\QZ7\\SQL00001");
    Remove(kReport);
  }
};

TEST_F(LocalDatabaseConversionTest, ChecksRecordsAndReports) {
  const Bytes info = DatabaseInfoPattern(5);
  struct Row {
    const char* name;
    std::vector<OldEntryFields> entries;
    Bytes localDirectory, localCopy, config;  // empty: not written
    // Records of the failed checks, "{check}" standing for the layout's check key; after each
    // one layout 2 names the report file.
    std::vector<std::string> checkRecords;
    std::vector<std::string> reportTexts;  // null: no report file
    bool reportExpected;
  } rows[] = {
      {"local_database_found",
       {Local("PAY")},
       LocalDatabaseDirectoryBytes({{"OTHER", {}}, {"PAYROLL", info}}),
       {},
       {},
       {},
       {},
       false},
      {"own_directory_configuration_read",
       {Own("SAMPLE")},
       {},
       {},
       DatabaseConfigurationBuilder().Release(0x0400).CodePage(437).Territory(49).Bytes(),
       {},
       {},
       false},
      {"no_local_directory",
       {Local("PAY")},
       {},
       {},
       {},
       {"{check}: D:\\SQLDBDIR\\SQLDBBAK cannot be opened"},
       {Fill(kUnreadable51, "PAY")},
       true},
      {"not_catalogued",
       {Local("PAY")},
       LocalDatabaseDirectoryBytes({{"OTHER", {}}}),
       {},
       {},
       {"{check}: D:\\SQLDBDIR\\SQLDBDIR"},
       {Fill(kNotFound47, "PAY")},
       true},
      {"local_directory_not_current",
       {Local("PAY")},
       DatabaseDirectoryBuilder::Layout(3).AddEntry({.name = "PAYROLL"}).Bytes(),
       {},
       {},
       {"{check}: D:\\SQLDBDIR\\SQLDBDIR directory file not in current level"},
       {Fill(kNotCurrent48, "PAY")},
       true},
      {"local_copies_differ_have_no_message",
       {Local("PAY")},
       LocalDatabaseDirectoryBytes({{"PAYROLL", info}}),
       LocalDatabaseDirectoryBytes({{"PAYROLL", {}}}),
       {},
       {"{check}: D:\\SQLDBDIR\\SQLDBDIR and D:\\SQLDBDIR\\SQLDBBAK are different"},
       {""},
       true},
      {"configuration_missing",
       {Own("SAMPLE")},
       {},
       {},
       {},
       {std::string("{check}: ") + kConfig + " configuration file access error"},
       {Fill(kConfigAccess50, "SAMPLE")},
       true},
      {"configuration_checksum",
       {Own("SAMPLE")},
       {},
       {},
       DatabaseConfigurationBuilder().WrongChecksum().Bytes(),
       {std::string("{check}: ") + kConfig + " bad configuration file"},
       {Fill(kBadConfig49, "SAMPLE")},
       true},
      {"unknown_code_page_names_no_file",
       {Own("SAMPLE")},
       {},
       {},
       DatabaseConfigurationBuilder().CodePage(1200).Bytes(),
       {"{check}: "},
       {Fill(kBadConfig49, "SAMPLE")},
       true},
      {"name_reported_up_to_its_blank",
       {Local("MY DB")},
       {},
       {},
       {},
       {"{check}: D:\\SQLDBDIR\\SQLDBBAK cannot be opened"},
       {Fill(kUnreadable51, "MY")},
       true},
      {"two_failures_one_success",
       {Own("FIRST"), Local("SECOND"), {.name = "THIRD", .type = '1'}, Local("FOURTH")},
       LocalDatabaseDirectoryBytes({{"PAYROLL", info}}),
       {},
       {},
       {std::string("{check}: ") + kConfig + " configuration file access error"},
       {Fill(kConfigAccess50, "FIRST")},
       true},
  };
  for (const LayoutKeys& layout : kLayouts) {
    for (const Row& row : rows) {
      SCOPED_TRACE(std::string(row.name) + " layout " + std::to_string(layout.layout));
      ClearLocalFiles();
      if (!row.localDirectory.empty()) Put(kLocalDirectory, row.localDirectory);
      if (!row.localCopy.empty()) Put(kLocalCopy, row.localCopy);
      if (!row.config.empty()) Put(kConfig, row.config);
      Put(kIntention, IntentionFileBuilder(layout.layout).Bytes());
      PutDirectory(OldDirectoryBytes(DatabaseDirectoryBuilder::Layout(layout.layout, layout.form),
                                     layout.layout, layout.form, row.entries));

      const ConversionOutcome out = Convert(layout.layout, 0);
      ASSERT_EQ(out.code, 0) << out.key << " " << out.object;

      std::vector<std::string> want;
      for (std::string record : row.checkRecords) {
        want.push_back(record.replace(0, 7, layout.check));
        if (layout.notice != nullptr) {
          want.push_back(std::string(layout.notice) + ": " + kReport + " file access error");
        }
      }
      EXPECT_EQ(out.records, want);

      ASSERT_EQ(Exists(kReport), row.reportExpected);
      if (row.reportExpected) {
        std::string report;
        for (const std::string& text : row.reportTexts) report += text + "\n\n";
        const Bytes bytes = Get(kReport);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), report);
      }

      // Every entry is written, completed as far as its check went.
      const Bytes converted = Get(kDirectory);
      EXPECT_EQ(Get(kCopy), converted);
      const CurrentFileView view = ReadCurrentFile(converted);
      ASSERT_EQ(view.entries.size(), row.entries.size());
      for (size_t i = 0; i < row.entries.size(); ++i) {
        const Bytes& entry = view.entries[i];
        EXPECT_EQ(DirectoryText(entry, 0, 9), row.entries[i].name);
        const std::string name = row.name;
        if (name == "local_database_found" || (name == "two_failures_one_success" && i == 1)) {
          EXPECT_EQ(Bytes(entry.begin() + 344, entry.begin() + 688), info);
        }
        if (name == "own_directory_configuration_read") {
          EXPECT_EQ(DirectoryText(entry, 344, 8), "SQLDBD02");
          EXPECT_EQ(DirectoryText(entry, 672, 10), "ZAV-437");
          EXPECT_EQ(DirectoryText(entry, 682, 6), "DE");
        }
        if (name == "unknown_code_page_names_no_file") {
          EXPECT_EQ(DirectoryText(entry, 344, 8), "SQLDBD02") << "filled up to the failure";
          EXPECT_EQ(DirectoryText(entry, 672, 10), "");
        }
      }
    }
  }
}

TEST_F(LocalDatabaseConversionTest, SeveralReportsFollowEachOther) {
  for (const LayoutKeys& layout : kLayouts) {
    SCOPED_TRACE(layout.layout);
    ClearLocalFiles();
    Put(kLocalDirectory, LocalDatabaseDirectoryBytes({{"OTHER", {}}}));
    Put(kIntention, IntentionFileBuilder(layout.layout).Bytes());
    PutDirectory(OldDirectoryBytes(DatabaseDirectoryBuilder::Layout(layout.layout, layout.form),
                                   layout.layout, layout.form,
                                   {Local("ONE"), Own("TWO"), Local("THREE")}));
    const ConversionOutcome out = Convert(layout.layout, 0);
    ASSERT_EQ(out.code, 0);
    EXPECT_EQ(out.records.size(), layout.notice != nullptr ? 6u : 3u);
    const Bytes bytes = Get(kReport);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), Fill(kNotFound47, "ONE") + "\n\n" +
                                                           Fill(kConfigAccess50, "TWO") + "\n\n" +
                                                           Fill(kNotFound47, "THREE") + "\n\n");
  }
}

TEST_F(LocalDatabaseConversionTest, ReportFileThatCannotBeCreated) {
  for (const LayoutKeys& layout : kLayouts) {
    SCOPED_TRACE(layout.layout);
    ClearLocalFiles();
    machine_.MakeDirectory(kReport);  // a folder in the report file's place
    Put(kIntention, IntentionFileBuilder(layout.layout).Bytes());
    PutDirectory(OldDirectoryBytes(DatabaseDirectoryBuilder::Layout(layout.layout, layout.form),
                                   layout.layout, layout.form, {Local("ONE"), Local("TWO")}));
    const ConversionOutcome out = Convert(layout.layout, 0);
    ASSERT_EQ(out.code, 0);
    std::vector<std::string> want;
    for (int i = 0; i < 2; ++i) {
      want.push_back(std::string(layout.check) + ": D:\\SQLDBDIR\\SQLDBBAK cannot be opened");
      want.push_back(std::string(layout.reportOpen) + ": " + kReport + " cannot be opened");
      if (layout.notice != nullptr) {
        want.push_back(std::string(layout.notice) + ": " + kReport + " file access error");
      }
    }
    EXPECT_EQ(out.records, want);
    EXPECT_EQ(ReadCurrentFile(Get(kDirectory)).entries.size(), 2u);
  }
}

}  // namespace
}  // namespace qz7::migrate::conversion_testing
