// Error records, the migration message table and its formatter, and report records.
#include "migrate/migration_report.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "migrate/work_buffer.h"
#include "platform/fault_injection.h"
#include "platform/file_system.h"
#include "platform/win_error.h"
#include "testkit/migration_message_file.h"
#include "testkit/temp_machine.h"

namespace qz7::migrate {
namespace {

using Bytes = std::vector<unsigned char>;

constexpr const char* kInstall = "C:\\QZ7";
constexpr const char* kErrorPath = "C:\\WORK\\QZ7MGDBD.ERR";

// A text of n characters that shows where each piece was cut: "0123456789012...".
std::string Digits(size_t n) {
  std::string text;
  for (size_t i = 0; i < n; ++i) text.push_back(static_cast<char>('0' + i % 10));
  return text;
}

std::string AsText(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The file's text with CR LF read back as LF; fails the test when a lone LF is on disk.
std::string TextModeContents(const Bytes& bytes) {
  std::string text;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r'))
      ADD_FAILURE() << "line feed without carriage return at " << i;
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    text.push_back(static_cast<char>(bytes[i]));
  }
  return text;
}

class MigrationReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::ClearFaultPlan();
    FailWorkBufferAllocationAt(0);
    machine_.MakeDirectory("C:\\WORK");
    std::memset(&MigrationMessages(), 0, sizeof(MigrationMessageTable));
  }
  void TearDown() override {
    platform::ClearFaultPlan();
    FailWorkBufferAllocationAt(0);
  }

  // Writes the records through an error file opened as the driver opens it ("w+"), and
  // returns what reached the disk.
  Bytes WriteRecords(const std::function<void(platform::FileStream*)>& write) {
    platform::FileHandle file = platform::OpenFile(kErrorPath, "w+");
    EXPECT_NE(file, nullptr);
    if (!file) return {};
    write(file.get());
    EXPECT_EQ(file->Close(), 0);
    return machine_.ReadFile(kErrorPath);
  }

  void SetSlot(int slot, const std::string& text) {
    ASSERT_LT(text.size(), static_cast<size_t>(kMigrationMessageSize));
    std::memcpy(MigrationMessages().slots[slot], text.c_str(), text.size() + 1);
  }
  std::string Slot(int slot) const { return MigrationMessages().slots[slot]; }

  testkit::TempMachine machine_;
};

TEST_F(MigrationReportTest, ErrorRecordsAreCutIntoLinesOf70) {
  // "MAIN061: " is 9 characters and -126 has no fragment, so the object sets the length.
  const std::string text71 = "MAIN061: " + Digits(62);
  const std::string text300 = "MAIN061: " + Digits(291);
  const struct {
    const char* name;
    const char* key;
    std::string object;
    MigrationResult code;
    std::string expected;
  } cases[] = {
      {"exactly 70", "MAIN061", Digits(61), -126, "MAIN061: " + Digits(61) + "\n\n"},
      {"71", "MAIN061", Digits(62), -126, text71.substr(0, 70) + "\n" + text71.substr(70) + "\n\n"},
      {"300", "MAIN061", Digits(291), -126,
       text300.substr(0, 70) + "\n" + text300.substr(70, 70) + "\n" + text300.substr(140, 70) +
           "\n" + text300.substr(210, 70) + "\n" + text300.substr(280) + "\n\n"},
      {"fragment counts in the length", "MAIN005", Digits(50), -108,
       ("MAIN005: " + Digits(50) + " access err") + "\n" + "or\n\n"},
      {"no fragment", "MAIN061", "Rename file failed", -126, "MAIN061: Rename file failed\n\n"},
      {"empty object", "MAIN010", "", -119, "MAIN010:  insufficient memory\n\n"},
      {"message file", "MAIN001", "qz7dbmig.txt", -122,
       "MAIN001: qz7dbmig.txt not found or cannot be accessed\n\n"},
  };
  for (const auto& c : cases) {
    const Bytes written = WriteRecords([&](platform::FileStream* file) {
      WriteMigrationError(c.key, c.object.c_str(), c.code, file);
    });
    EXPECT_EQ(TextModeContents(written), c.expected) << c.name;
  }
  EXPECT_EQ(300u, text300.size());
}

TEST_F(MigrationReportTest, EachCodeAppendsItsOwnFragment) {
  const struct {
    MigrationResult code;
    const char* fragment;
  } cases[] = {
      {-101, " are different"},
      {-102, " unrecognizable directory file"},
      {-103, " cannot be opened"},
      {-104, " cannot be closed"},
      {-105, " read error"},
      {-106, " write error"},
      {-107, " bad DD File backup"},
      {-108, " access error"},
      {-110, " configuration file access error"},
      {-111, " bad configuration file"},
      {-114, " cannot be opened"},
      {-115, " read error"},
      {-117, " directory file not in current level"},
      {-118, " unrecognizable directory file"},
      {-119, " insufficient memory"},
      {-121, " file access error"},
      {-122, " not found or cannot be accessed"},
      {-123, " intention file is missing"},
      {-125, " cannot resolved its directory path"},
      {97, " is in current level"},
      // codes that have no fragment
      {-112, ""},
      {-113, ""},
      {-116, ""},
      {-124, ""},
      {-126, ""},
      {-109, ""},
      {-120, ""},
      {0, ""},
      {-100, ""},
  };
  for (const auto& c : cases) {
    const Bytes written = WriteRecords(
        [&](platform::FileStream* file) { WriteMigrationError("K", "OBJ", c.code, file); });
    EXPECT_EQ(TextModeContents(written), std::string("K: OBJ") + c.fragment + "\n\n")
        << "code " << c.code;
  }
}

TEST_F(MigrationReportTest, RecordsFollowEachOtherAndFallBackWithoutMemory) {
  const Bytes written = WriteRecords([&](platform::FileStream* file) {
    WriteMigrationError("MAIN026", "C:\\I\\SQLDBINS", -123, file);
    FailWorkBufferAllocationAt(1);
    WriteMigrationError("MAIN027", "C:\\I\\SQLDBINS", -104, file);
    FailWorkBufferAllocationAt(0);
    WriteMigrationError("MAIN010", nullptr, -119, file);
    // Without an error file nothing is written, and nothing breaks.
    WriteMigrationError("MAIN011", "C:\\I\\SQLDDDIR.TMP", -108, nullptr);
  });
  EXPECT_EQ(AsText(written),
            "MAIN026: C:\\I\\SQLDBINS intention file is missing\r\n\r\n"
            "WRITE_ERR: insufficient memory\r\n\r\n"
            "MAIN010:  insufficient memory\r\n\r\n");
}

// ---- The message text file ----

TEST_F(MigrationReportTest, LoadingReadsLinesIntoSlotsAndKeepsTheRest) {
  for (int slot = 0; slot < kMigrationMessageCount; ++slot) {
    SetSlot(slot, "before " + std::to_string(slot) + "\n");
  }
  std::vector<std::string> lines;
  for (int n = 0; n < 10; ++n) lines.push_back("line " + std::to_string(n) + " %1");
  ASSERT_EQ(testkit::WriteMigrationMessageFile(kInstall, lines), 0u);

  EXPECT_EQ(LoadMigrationMessages(testkit::MigrationMessageFilePath(kInstall).c_str()), 0);
  for (int slot = 0; slot < 10; ++slot) {
    EXPECT_EQ(Slot(slot), lines[static_cast<size_t>(slot)] + "\n") << "slot " << slot;
  }
  for (int slot = 10; slot < kMigrationMessageCount; ++slot) {
    EXPECT_EQ(Slot(slot), "before " + std::to_string(slot) + "\n") << "slot " << slot;
  }

  // A missing file changes nothing and says -104.
  const MigrationMessageTable before = MigrationMessages();
  EXPECT_EQ(LoadMigrationMessages("C:\\QZ7\\msg\\prime\\NOSUCH.TXT"), -104);
  EXPECT_EQ(std::memcmp(&before, &MigrationMessages(), sizeof before), 0);
}

TEST_F(MigrationReportTest, LongLinesContinueInTheNextSlotAndOnly68AreRead) {
  std::vector<std::string> lines = {"first", Digits(300), "third"};
  for (int n = 3; n < 80; ++n) lines.push_back("message " + std::to_string(n));
  ASSERT_EQ(testkit::WriteMigrationMessageFile(kInstall, lines), 0u);

  ASSERT_EQ(LoadMigrationMessages(testkit::MigrationMessageFilePath(kInstall).c_str()), 0);
  EXPECT_EQ(Slot(0), "first\n");
  EXPECT_EQ(Slot(1), Digits(255));
  EXPECT_EQ(Slot(2), Digits(300).substr(255) + "\n");
  EXPECT_EQ(Slot(3), "third\n");
  EXPECT_EQ(Slot(4), "message 3\n");
  // The long line took two slots, so slot 67 holds line 66.
  EXPECT_EQ(Slot(67), "message 66\n");
}

TEST_F(MigrationReportTest, ALaterShorterFileKeepsTheEarlierFilesLaterLines) {
  ASSERT_EQ(testkit::WriteMigrationMessageFile(kInstall, testkit::MigrationMessageFileLines()), 0u);
  const std::string path = testkit::MigrationMessageFilePath(kInstall);
  ASSERT_EQ(LoadMigrationMessages(path.c_str()), 0);
  const std::string line47 = Slot(47);
  ASSERT_NE(line47.find("%1"), std::string::npos);

  // The last line without its line feed keeps its last character in the slot.
  ASSERT_EQ(testkit::WriteMigrationMessageFile(kInstall, {"new 0", "new 1"}, false), 0u);
  ASSERT_EQ(LoadMigrationMessages(path.c_str()), 0);
  EXPECT_EQ(Slot(0), "new 0\n");
  EXPECT_EQ(Slot(1), "new 1");
  EXPECT_EQ(Slot(2), testkit::MigrationMessageFileLines()[2] + "\n");
  EXPECT_EQ(Slot(47), line47);
}

// ---- Formatting ----

TEST_F(MigrationReportTest, FormattingReplacesPlaceholdersInOrder) {
  const std::string long250(250, 'x');
  const struct {
    const char* name;
    std::string slot;
    std::vector<const char*> arguments;
    int16_t count;
    std::string expected;
  } cases[] = {
      {"two placeholders",
       "Database %1 on %2 failed.\n",
       {"SAMPLE", "C:"},
       2,
       "Database SAMPLE on C: failed."},
      {"out of order", "%2 then %1\n", {"A", "B"}, 2, "B then A"},
      {"doubled percent before %1", "100%% of %1\n", {"DB"}, 1, "100%% of DB"},
      {"%5 before %1", "%5 before %1\n", {"X"}, 1, "%5 before X"},
      {"percent right before %1", "%%1\n", {"X"}, 1, "%X"},
      {"percent at the end", "%1 is 5%\n", {"X"}, 1, "X is 5%"},
      {"first occurrence only", "%1 and %1\n", {"A"}, 1, "A and %1"},
      {"argument brings a later placeholder", "%1 end\n", {"%2", "B"}, 2, "B end"},
      {"argument brings its own placeholder", "%1 end\n", {"%1"}, 1, "%1 end"},
      {"no arguments", "%1 stays\n", {}, 0, "%1 stays"},
      {"negative count", "%1 stays\n", {"A"}, -1, "%1 stays"},
      {"placeholder missing", "nothing to fill\n", {"A"}, 1, "nothing to fill"},
      {"nine arguments",
       "%9%8%7%6%5%4%3%2%1\n",
       {"1", "2", "3", "4", "5", "6", "7", "8", "9"},
       9,
       "987654321"},
      {"more than nine", "%1\n", {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}, 10, "1"},
      {"null argument", "[%1]\n", {nullptr}, 1, "[]"},
      {"last line without line feed", "end of file", {}, 0, "end of fil"},
      {"empty slot", "", {"A"}, 1, ""},
      {"cut to the buffer",
       "%1" + long250 + "\n",
       {"ABCDEFGHIJKLMNOPQR"},
       1,
       ("ABCDEFGHIJKLMNOPQR" + long250).substr(0, 254)},
  };
  for (const auto& c : cases) {
    SetSlot(5, c.slot);
    char out[kMigrationMessageSize];
    std::memset(out, '#', sizeof out);
    FormatMigrationMessage(5, c.count, c.arguments.data(), out);
    EXPECT_EQ(std::string(out), c.expected) << c.name;
  }
  char out[kMigrationMessageSize] = "untouched";
  FormatMigrationMessage(68, 0, nullptr, out);
  EXPECT_EQ(std::string(out), "") << "a number past the table";
}

TEST_F(MigrationReportTest, ReportMessagesAreChosenByCode) {
  for (int slot = 45; slot <= 53; ++slot) SetSlot(slot, "M" + std::to_string(slot) + " %1\n");
  const struct {
    MigrationResult code;
    const char* expected;  // null: out stays as it was
  } cases[] = {
      {-116, "M47 SAMPLE"}, {-117, "M48 SAMPLE"}, {-113, "M49 SAMPLE"}, {-112, "M49 SAMPLE"},
      {-111, "M49 SAMPLE"}, {-110, "M50 SAMPLE"}, {-118, "M51 SAMPLE"}, {-115, "M51 SAMPLE"},
      {-114, "M51 SAMPLE"}, {-119, nullptr},      {-101, nullptr},      {-109, nullptr},
      {0, nullptr},         {97, nullptr},        {47, nullptr},
  };
  const char* arguments[] = {"SAMPLE"};
  for (const auto& c : cases) {
    char out[kMigrationMessageSize] = "untouched";
    FormatReportMessage(c.code, 1, arguments, out);
    EXPECT_EQ(std::string(out), c.expected != nullptr ? c.expected : "untouched")
        << "code " << c.code;
  }
}

// ---- Report records ----

TEST_F(MigrationReportTest, ReportRecordsEndInTwoLineFeedBytes) {
  char path[platform::kMaxPath];
  BuildReportFilePath("C:\\WORK\\SQLDBDIR", path, sizeof path);
  EXPECT_STREQ(path, "C:\\WORK\\SQLDDDIR.RPT");

  platform::FileHandle report = platform::OpenFile(path, "wb+");
  ASSERT_NE(report, nullptr);
  ReportRecordWrite first = WriteReportRecord(*report, "Database SAMPLE was not found.");
  ReportRecordWrite empty = WriteReportRecord(*report, "");
  // The text and the separator are separate writes, each reported on its own.
  platform::SetFaultPlan({.triggerAt = 1, .error = platform::kErrorDiskFull});
  ReportRecordWrite textFails = WriteReportRecord(*report, "lost");
  platform::SetFaultPlan({.triggerAt = 2, .error = platform::kErrorDiskFull});
  ReportRecordWrite separatorFails = WriteReportRecord(*report, "kept");
  platform::ClearFaultPlan();
  ASSERT_EQ(report->Close(), 0);

  EXPECT_TRUE(first.textWritten && first.separatorWritten);
  EXPECT_TRUE(empty.textWritten && empty.separatorWritten);
  EXPECT_TRUE(!textFails.textWritten && textFails.separatorWritten);
  EXPECT_TRUE(separatorFails.textWritten && !separatorFails.separatorWritten);
  EXPECT_EQ(AsText(machine_.ReadFile(path)), "Database SAMPLE was not found.\n\n\n\n\n\nkept");
}

}  // namespace
}  // namespace qz7::migrate
