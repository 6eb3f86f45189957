// Path text work (quoting, normalisation, the multibyte walk) and the file helpers, against a
// real machine root.
#include "util/setup_files.h"

#include <gtest/gtest.h>

#include <string>

#include "base/quoted_path.h"
#include "platform/codepage.h"
#include "platform/fault_injection.h"
#include "platform/file_system.h"
#include "platform/win_error.h"
#include "testkit/temp_machine.h"
#include "util/path_normalization.h"

namespace qz7::util {
namespace {

class SetupFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine_.WriteText("C:\\INST\\FILE.TXT", "payload");
    machine_.MakeDirectory("C:\\INST\\SUB");
  }
  void TearDown() override { platform::SetActiveCodePage(0); }
  testkit::TempMachine machine_;
};

// In code page 932, where a trail byte may be a backslash and 0x80 is no character.
TEST_F(SetupFilesTest, NormalizeSetupPath) {
  const struct {
    const char *name, *currentDir, *source, *expected;  // expected null: output not looked at
    unsigned size;
    int result;
  } rows[] = {
      {"trailing_backslash", "C:\\", "c:\\apps\\srv\\", "\"C:\\APPS\\SRV\"", 261, 0},
      {"drive_root", "C:\\", "c:\\", "\"C:\"", 261, 0},
      {"relative", "C:\\INST", "sub\\a", "\"C:\\INST\\SUB\\A\"", 261, 0},
      {"dot_dot_stops_at_root", "C:\\", "c:\\..\\..\\x", "\"C:\\X\"", 261, 0},
      {"null_source", "C:\\", nullptr, "", 261, 0},
      {"no_room", "C:\\", "c:\\a", nullptr, 0, 1},
      {"quoted_form_too_long", "C:\\", "c:\\abc", "", 8, 2},
      {"exactly_fits", "C:\\", "c:\\abc", "\"C:\\ABC\"", 9, 0},
      {"invalid_byte", "C:\\", "c:\\a\x80", "C:\\a\x80", 261, 3},
      {"double_byte_kept_whole", "C:\\", "c:\\\x83\x61z", "\"C:\\\x83\x61Z\"", 261, 0},
      {"trail_byte_backslash_kept", "C:\\", "c:\\\x83\x5c", "\"C:\\\x83\x5c\"", 261, 0},
  };
  platform::SetActiveCodePage(932);
  for (const auto& row : rows) {
    ASSERT_EQ(platform::SetCurrentDirectoryText(row.currentDir), 0);
    std::string out(300, 'x');
    EXPECT_EQ(NormalizeSetupPath(row.source, out.data(), row.size), row.result) << row.name;
    if (row.expected != nullptr) {
      EXPECT_STREQ(out.c_str(), row.expected) << row.name;
    }
  }
}

// Each input extended by "\X", joined with "B", cut at its last backslash ("none" when it has
// none) and reduced to its last component (without quotes); in code page 932, where the trail
// byte of a double-byte character may be a backslash.
TEST_F(SetupFilesTest, QuotedPathText) {
  const struct {
    const char *name, *input, *extended, *joined, *cut, *last;
  } rows[] = {
      {"quoted", "\"C:\\A\\B\"", "\"C:\\A\\B\\X\"", "\"C:\\A\\B\\B\"", "\"C:\\A\"", "B"},
      {"leading_quote_only", "\"C:\\A", "\"C:\\A\\X\"", "\"C:\\A\\B\"", "\"C:\"", "A"},
      {"drive_root", "C:\\", "C:\\\\X", "C:\\B", "C:", ""},
      {"empty", "", "\\X", "B", "none", ""},
      {"lone_quote", "\"", "\"\\X\"", "\"B\"", "none", ""},
      {"trail_byte_backslash", "C:\\A\\\x83\x5c", "C:\\A\\\x83\x5c\\X", "C:\\A\\\x83\x5c\\B",
       "C:\\A", "\x83\x5c"},
  };
  platform::SetActiveCodePage(932);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(ExtendPath(row.input, "\\X"), row.extended);
    EXPECT_EQ(JoinPath(row.input, "B"), row.joined);
    std::string path = row.input;
    EXPECT_EQ(CutAtLastBackslash(path) ? path : "none", row.cut);
    EXPECT_EQ(LastComponent(row.input), row.last);
  }
  EXPECT_EQ(StripQuotes(nullptr), "");
}

TEST_F(SetupFilesTest, KindQueriesWithAndWithoutQuotes) {
  EXPECT_EQ(IsDirectory("\"c:\\inst\\sub\"") + IsRegularFile("\"c:\\inst\\file.txt\""), 2);
  EXPECT_EQ(IsDirectory("C:\\INST\\FILE.TXT") + IsRegularFile("C:\\INST") + IsDirectory("C:\\NONE"),
            0);
  ASSERT_EQ(platform::SetCurrentDirectoryText("C:\\INST"), 0);
  for (const char* directory : {"\"C:\\INST\"", "C:\\INST\\", ""})
    EXPECT_EQ(FileExistsIn(directory, "file.txt"), 1) << directory;
  EXPECT_EQ(FileExistsIn("C:\\INST", "SUB") + FileExistsIn("C:\\INST", nullptr), 0);
}

TEST_F(SetupFilesTest, CopySetupFileMapsErrors) {
  machine_.WriteText("C:\\INST\\LOCKED.TXT", "old");
  ASSERT_EQ(platform::SetFileWritable("C:\\INST\\LOCKED.TXT", false), 0);
  const struct {
    const char *source, *destination;
    int result;
  } rows[] = {
      {"\"C:\\INST\\FILE.TXT\"", "\"C:\\INST\\COPY.TXT\"", 0},
      {"C:\\INST\\NONE.TXT", "C:\\INST\\X.TXT", 1},
      {"C:\\INST\\FILE.TXT", "C:\\NOWHERE\\X.TXT", 2},
      {"C:\\INST\\FILE.TXT", "C:\\INST\\LOCKED.TXT", 3},
  };
  for (const auto& row : rows)
    EXPECT_EQ(CopySetupFile(row.source, row.destination), row.result) << row.destination;
  EXPECT_EQ(MakeWritable("\"C:\\INST\\LOCKED.TXT\""), 1);
  EXPECT_EQ(CopySetupFile("C:\\INST\\FILE.TXT", "C:\\INST\\LOCKED.TXT"), 0);
  EXPECT_EQ(machine_.ReadFile("C:\\INST\\LOCKED.TXT"), machine_.ReadFile("C:\\INST\\FILE.TXT"));
  EXPECT_EQ(MakeWritable("C:\\INST\\NONE.TXT"), 0);
}

TEST_F(SetupFilesTest, FindFreeNumberedName) {
  machine_.WriteText("C:\\PROF\\QZ7DAS00", "");
  machine_.MakeDirectory("C:\\PROF\\QZ7DAS01");
  for (char digit = '0'; digit <= '9'; ++digit)
    machine_.WriteText(std::string("C:\\FULL\\N") + digit, "");
  const struct {
    const char *name, *directory, *pattern, *expected;  // null: nothing free
  } rows[] = {
      {"file_and_directory_skipped", "\"C:\\PROF\"", "QZ7DAS??", "\"C:\\PROF\\QZ7DAS02\""},
      {"temporary_name", "C:\\PROF", "????????.???", "C:\\PROF\\00000000.000"},
      {"runs_out", "C:\\FULL", "N?", nullptr},
      {"no_marks_free", "C:\\FULL", "M5", "C:\\FULL\\M5"},
      {"no_pattern", "C:\\FULL", nullptr, nullptr},
  };
  for (const auto& row : rows)
    EXPECT_STREQ(FindFreeNumberedName(row.directory, row.pattern), row.expected) << row.name;
  // A name whose status query fails (not as "not found") ends the search: it may be taken.
  platform::SetFaultPlan({.triggerAt = 1, .error = platform::kErrorAccessDenied});
  EXPECT_EQ(FindFreeNumberedName("C:\\PROF", "????????.???"), nullptr);
  platform::ClearFaultPlan();
}

}  // namespace
}  // namespace qz7::util
