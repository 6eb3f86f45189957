// Quoted paths, normalisation and the multibyte walk: pure text work, plus the current
// directory for relative paths.
#include <gtest/gtest.h>

#include <string>

#include "platform/codepage.h"
#include "platform/file_system.h"
#include "testkit/temp_machine.h"
#include "util/multibyte.h"
#include "util/path_normalization.h"
#include "util/quoted_path.h"

namespace qz7::util {
namespace {

TEST(NormalizeSetupPathTest, Table) {
  struct Row {
    const char *name, *currentDir, *source, *expected;  // expected null: output not looked at
    unsigned codePage, size;
    int result;
  } rows[] = {
      {"plain", "C:\\", "c:\\apps\\srv", "\"C:\\APPS\\SRV\"", 1252, 261, 0},
      {"trailing_backslash", "C:\\", "c:\\apps\\srv\\", "\"C:\\APPS\\SRV\"", 1252, 261, 0},
      {"drive_root", "C:\\", "c:\\", "\"C:\"", 1252, 261, 0},
      {"relative", "C:\\WORK", "inst\\a", "\"C:\\WORK\\INST\\A\"", 1252, 261, 0},
      {"dot_dot_stops_at_root", "C:\\", "c:\\..\\..\\x", "\"C:\\X\"", 1252, 261, 0},
      {"null_source", "C:\\", nullptr, "", 1252, 261, 0},
      {"empty_source", "C:\\", "", "", 1252, 261, 0},
      {"no_room", "C:\\", "c:\\a", nullptr, 1252, 0, 1},
      {"quoted_form_too_long", "C:\\", "c:\\abc", "", 1252, 8, 2},
      {"exactly_fits", "C:\\", "c:\\abc", "\"C:\\ABC\"", 1252, 9, 0},
      {"invalid_byte_in_932", "C:\\", "c:\\a\x80", "C:\\a\x80", 932, 261, 3},
      {"double_byte_kept_whole", "C:\\", "c:\\\x83\x61z", "\"C:\\\x83\x61Z\"", 932, 261, 0},
      {"trail_byte_backslash_kept", "C:\\", "c:\\\x83\x5c", "\"C:\\\x83\x5c\"", 932, 261, 0},
  };
  testkit::TempMachine machine;
  machine.MakeDirectory("C:\\WORK");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    platform::SetActiveCodePage(row.codePage);
    ASSERT_EQ(platform::SetCurrentDirectoryText(row.currentDir), 0);
    std::string out(300, 'x');
    EXPECT_EQ(NormalizeSetupPath(row.source, out.data(), row.size), row.result);
    if (row.expected == nullptr) continue;
    EXPECT_STREQ(out.c_str(), row.expected);
  }
  platform::SetActiveCodePage(0);
  EXPECT_EQ(NormalizeSetupPath("c:\\a", nullptr, 10), kNormalizeNoDestination);
}

// Each input stripped of its quotes, extended by "\X", cut at its last backslash ("none" when
// it has none) and reduced to its last component.
TEST(QuotedPathTest, Table) {
  struct Row {
    const char *name, *input, *stripped, *extended, *cut, *last;
  } rows[] = {
      {"quoted", "\"C:\\A\\B\"", "C:\\A\\B", "\"C:\\A\\B\\X\"", "\"C:\\A\"", "B"},
      {"bare", "C:\\A\\B", "C:\\A\\B", "C:\\A\\B\\X", "C:\\A", "B"},
      {"leading_quote_only", "\"C:\\A", "C:\\A", "\"C:\\A\\X\"", "\"C:\"", "A"},
      {"drive_only", "\"C:\"", "C:", "\"C:\\X\"", "none", "C:"},
      {"empty", "", "", "\\X", "none", ""},
      {"lone_quote", "\"", "", "\"\\X\"", "none", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(StripQuotes(row.input), row.stripped);
    EXPECT_EQ(ExtendPath(row.input, "\\X"), row.extended);
    std::string path = row.input;
    EXPECT_EQ(CutAtLastBackslash(path) ? path : "none", row.cut);
    EXPECT_EQ(LastComponent(row.input), row.last);
  }
  EXPECT_EQ(StripQuotes(nullptr), "");
  EXPECT_EQ(JoinPath("\"C:\\A\"", "B"), "\"C:\\A\\B\"");
  EXPECT_EQ(JoinPath("C:\\", "B"), "C:\\B");
  EXPECT_EQ(JoinPath("", "B"), "B");
}

TEST(FindCharMBTest, Table) {
  struct Row {
    const char *name, *text;
    int codePage, position;  // position -1: not found
  } rows[] = {
      {"single_byte", "ab\\c", 1252, 2},
      {"absent", "abc", 1252, -1},
      {"trail_byte_never_matches", "\x83\x5c", 932, -1},
      {"after_double_byte", "\x83\x5c\\", 932, 2},
      {"same_bytes_in_1252_match", "\x83\x5c", 1252, 1},
  };
  for (const Row& row : rows) {
    platform::SetActiveCodePage(row.codePage);
    const char* found = FindCharMB(row.text, '\\');
    EXPECT_EQ(found == nullptr ? -1 : static_cast<int>(found - row.text), row.position) << row.name;
  }
  platform::SetActiveCodePage(0);
  EXPECT_EQ(FindCharMB(static_cast<const char*>(nullptr), 'a'), nullptr);
}

}  // namespace
}  // namespace qz7::util
