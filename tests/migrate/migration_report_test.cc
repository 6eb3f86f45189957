// Error records, and the migration message table with its formatter. The report messages
// are chosen and filled in the local database tests.
#include "migrate/migration_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "migrate/work_buffer.h"
#include "platform/file_system.h"
#include "tests/migrate/migrate_fixture.h"

namespace qz7::migrate::testing {
namespace {

// A text of n characters that shows where each piece was cut: "0123456789012...".
std::string Digits(size_t n) {
  std::string text;
  for (size_t i = 0; i < n; ++i) text.push_back(static_cast<char>('0' + i % 10));
  return text;
}

// A record as it must stand in the file: lines of at most 70 characters, then an empty line.
std::string Record(const std::string& text) {
  std::string record;
  for (size_t at = 0; at < text.size(); at += 70) record += text.substr(at, 70) + "\n";
  return record + "\n";
}

class MigrationReportTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    machine_.MakeDirectory("C:\\WORK");
    std::memset(&MigrationMessages(), 0, sizeof(MigrationMessageTable));
  }

  // Writes through an error file opened as the driver opens it ("w+"); what reached the disk,
  // CR LF read as LF. A lone LF on disk fails the test.
  std::string Written(const std::function<void(platform::FileStream*)>& write) {
    platform::FileHandle file = platform::OpenFile("C:\\WORK\\QZ7MGDBD.ERR", "w+");
    write(file.get());
    EXPECT_EQ(file->Close(), 0);
    const Bytes bytes = Get("C:\\WORK\\QZ7MGDBD.ERR");
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'),
              std::count(bytes.begin(), bytes.end(), '\r'));
    std::string text(bytes.begin(), bytes.end());
    std::erase(text, '\r');
    return text;
  }
  std::string Written(const char* key, const std::string& object, MigrationResult code) {
    return Written(
        [&](platform::FileStream* file) { WriteMigrationError(key, object.c_str(), code, file); });
  }

  void SetSlot(int slot, const std::string& text) {
    ASSERT_LT(text.size(), static_cast<size_t>(kMigrationMessageSize));
    std::memcpy(MigrationMessages().slots[slot], text.c_str(), text.size() + 1);
  }
};

// A record is the key, ": ", the object and the fragment of the code, cut into lines of 70.
TEST_F(MigrationReportTest, ErrorRecords) {
  // "MAIN061: " is 9 characters and -126 has no fragment, so the object sets the length. An
  // empty object (MAIN010 with -119, two blanks after the colon) is the driver's refusal rows'.
  const struct {
    const char *name, *key;
    std::string object;
    MigrationResult code;
    std::string text;
  } rows[] = {
      {"exactly_70", "MAIN061", Digits(61), -126, "MAIN061: " + Digits(61)},
      {"71", "MAIN061", Digits(62), -126, "MAIN061: " + Digits(62)},
      {"fragment_counts_in_the_length", "MAIN005", Digits(50), -108,
       "MAIN005: " + Digits(50) + " access error"},
      // The fragments of the codes that the records in the other tests do not show.
      {"fragment_104", "K", "OBJ", -104, "K: OBJ cannot be closed"},
      {"fragment_106", "K", "OBJ", -106, "K: OBJ write error"},
      {"fragment_97", "K", "OBJ", 97, "K: OBJ is in current level"},
      {"no_fragment_113", "K", "OBJ", -113, "K: OBJ"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Written(row.key, row.object, row.code), Record(row.text)) << row.name;
  }
  EXPECT_EQ(Record(Digits(71)), Digits(70) + "\n0\n\n");
}

TEST_F(MigrationReportTest, RecordsFollowEachOtherAndFallBackWithoutMemory) {
  EXPECT_EQ(Written([&](platform::FileStream* file) {
              WriteMigrationError("MAIN026", "C:\\I\\SQLDBINS", -123, file);
              FailWorkBufferAllocationAt(1);
              WriteMigrationError("MAIN027", "C:\\I\\SQLDBINS", -104, file);
              FailWorkBufferAllocationAt(0);
              WriteMigrationError("MAIN010", nullptr, -119, file);
              WriteMigrationError("MAIN011", "C:\\I\\SQLDDDIR.TMP", -108, nullptr);  // no file
            }),
            Record("MAIN026: C:\\I\\SQLDBINS intention file is missing") +
                Record("WRITE_ERR: insufficient memory") + Record("MAIN010:  insufficient memory"));
}

TEST_F(MigrationReportTest, FormattingReplacesPlaceholdersInOrder) {
  const char* ab[] = {"A", "B"};
  const char* later[] = {"%2", "B"};
  const struct {
    const char* name;
    std::string slot;
    const char* const* arguments;
    int16_t count;
    std::string expected;
  } rows[] = {
      {"out_of_order", "%2 then %1\n", ab, 2, "B then A"},
      {"percent_signs", "%%1 is 5%\n", ab, 1, "%A is 5%"},
      {"first_occurrence_only", "%1 and %1\n", ab, 1, "A and %1"},
      {"argument_brings_a_later_placeholder", "%1 end\n", later, 2, "B end"},
      {"last_line_without_line_feed", "end of file", ab, 0, "end of fil"},
  };
  for (const auto& row : rows) {
    SetSlot(5, row.slot);
    char out[kMigrationMessageSize];
    std::memset(out, '#', sizeof out);
    FormatMigrationMessage(5, row.count, row.arguments, out);
    EXPECT_EQ(std::string(out), row.expected) << row.name;
  }
}

}  // namespace
}  // namespace qz7::migrate::testing
