// Quoted paths, normalisation and the multibyte walk: pure text work, plus the current
// directory for relative paths.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/codepage.h"
#include "platform/file_system.h"
#include "testkit/temp_machine.h"
#include "util/multibyte.h"
#include "util/path_normalization.h"
#include "util/quoted_path.h"

namespace qz7::util {
namespace {

struct NormalizeCase {
  const char* name;
  unsigned codePage;
  const char* currentDir;
  const char* source;
  size_t size;
  int result;
  const char* expected;
};

class NormalizeSetupPathTest : public ::testing::TestWithParam<NormalizeCase> {};

TEST_P(NormalizeSetupPathTest, Normalizes) {
  const NormalizeCase& c = GetParam();
  testkit::TempMachine machine;
  machine.MakeDirectory("C:\\WORK");
  platform::SetActiveCodePage(c.codePage);
  ASSERT_EQ(platform::SetCurrentDirectoryText(c.currentDir), 0);
  char out[300];
  std::memset(out, 'x', sizeof out);
  EXPECT_EQ(NormalizeSetupPath(c.source, out, c.size), c.result) << c.name;
  if (c.expected != nullptr) {
    EXPECT_STREQ(out, c.expected) << c.name;
  }
  platform::SetActiveCodePage(0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, NormalizeSetupPathTest,
    ::testing::Values(
        NormalizeCase{"plain", 1252, "C:\\", "c:\\apps\\srv", 261, 0, "\"C:\\APPS\\SRV\""},
        NormalizeCase{"trailing_backslash", 1252, "C:\\", "c:\\apps\\srv\\", 261, 0,
                      "\"C:\\APPS\\SRV\""},
        NormalizeCase{"drive_root", 1252, "C:\\", "c:\\", 261, 0, "\"C:\""},
        NormalizeCase{"relative", 1252, "C:\\WORK", "inst\\a", 261, 0, "\"C:\\WORK\\INST\\A\""},
        NormalizeCase{"dot_dot_stops_at_root", 1252, "C:\\", "c:\\..\\..\\x", 261, 0, "\"C:\\X\""},
        NormalizeCase{"null_source", 1252, "C:\\", nullptr, 261, 0, ""},
        NormalizeCase{"empty_source", 1252, "C:\\", "", 261, 0, ""},
        NormalizeCase{"no_room", 1252, "C:\\", "c:\\a", 0, 1, nullptr},
        NormalizeCase{"quoted_form_too_long", 1252, "C:\\", "c:\\abc", 8, 2, ""},
        NormalizeCase{"exactly_fits", 1252, "C:\\", "c:\\abc", 9, 0, "\"C:\\ABC\""},
        NormalizeCase{"invalid_byte_in_932", 932, "C:\\", "c:\\a\x80", 261, 3, "C:\\a\x80"},
        NormalizeCase{"double_byte_kept_whole", 932, "C:\\", "c:\\\x83\x61z", 261, 0,
                      "\"C:\\\x83\x61Z\""},
        NormalizeCase{"trail_byte_backslash_is_not_a_separator", 932, "C:\\", "c:\\\x83\x5c", 261,
                      0, "\"C:\\\x83\x5c\""}),
    [](const ::testing::TestParamInfo<NormalizeCase>& info) { return info.param.name; });

TEST(NormalizeSetupPathTest, NullDestination) {
  EXPECT_EQ(NormalizeSetupPath("c:\\a", nullptr, 10), kNormalizeNoDestination);
}

struct QuoteCase {
  const char* name;
  const char* input;
  const char* stripped;
  const char* extended;  // input extended by "\X"
  const char* cut;       // input cut at its last backslash, or null when there is none
  const char* last;
};

class QuotedPathTest : public ::testing::TestWithParam<QuoteCase> {};

TEST_P(QuotedPathTest, Operations) {
  const QuoteCase& c = GetParam();
  EXPECT_EQ(StripQuotes(c.input), c.stripped);
  EXPECT_EQ(ExtendPath(c.input, "\\X"), c.extended);
  std::string path = c.input;
  EXPECT_EQ(CutAtLastBackslash(path), c.cut != nullptr);
  if (c.cut != nullptr) {
    EXPECT_EQ(path, c.cut);
  }
  EXPECT_EQ(LastComponent(c.input), c.last);
}

INSTANTIATE_TEST_SUITE_P(
    Table, QuotedPathTest,
    ::testing::Values(
        QuoteCase{"quoted", "\"C:\\A\\B\"", "C:\\A\\B", "\"C:\\A\\B\\X\"", "\"C:\\A\"", "B"},
        QuoteCase{"bare", "C:\\A\\B", "C:\\A\\B", "C:\\A\\B\\X", "C:\\A", "B"},
        QuoteCase{"leading_quote_only", "\"C:\\A", "C:\\A", "\"C:\\A\\X\"", "\"C:\"", "A"},
        QuoteCase{"drive_only", "\"C:\"", "C:", "\"C:\\X\"", nullptr, "C:"},
        QuoteCase{"empty", "", "", "\\X", nullptr, ""},
        QuoteCase{"lone_quote", "\"", "", "\"\\X\"", nullptr, ""}),
    [](const ::testing::TestParamInfo<QuoteCase>& info) { return info.param.name; });

TEST(QuotedPathTest, NullStripsToEmpty) { EXPECT_EQ(StripQuotes(nullptr), ""); }

TEST(QuotedPathTest, JoinAddsOneBackslash) {
  EXPECT_EQ(JoinPath("\"C:\\A\"", "B"), "\"C:\\A\\B\"");
  EXPECT_EQ(JoinPath("C:\\", "B"), "C:\\B");
  EXPECT_EQ(JoinPath("", "B"), "B");
}

struct FindCase {
  const char* name;
  unsigned codePage;
  const char* text;
  char wanted;
  int position;  // -1: not found
};

class FindCharMBTest : public ::testing::TestWithParam<FindCase> {};

TEST_P(FindCharMBTest, Finds) {
  const FindCase& c = GetParam();
  platform::SetActiveCodePage(c.codePage);
  const char* found = FindCharMB(c.text, c.wanted);
  EXPECT_EQ(found == nullptr ? -1 : static_cast<int>(found - c.text), c.position);
  platform::SetActiveCodePage(0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FindCharMBTest,
    ::testing::Values(FindCase{"single_byte", 1252, "ab\\c", '\\', 2},
                      FindCase{"absent", 1252, "abc", '\\', -1},
                      FindCase{"trail_byte_never_matches", 932, "\x83\x5c", '\\', -1},
                      FindCase{"after_double_byte", 932, "\x83\x5c\\", '\\', 2},
                      FindCase{"same_bytes_in_1252_match", 1252, "\x83\x5c", '\\', 1}),
    [](const ::testing::TestParamInfo<FindCase>& info) { return info.param.name; });

TEST(FindCharMBTest, NullText) {
  EXPECT_EQ(FindCharMB(static_cast<const char*>(nullptr), 'a'), nullptr);
}

}  // namespace
}  // namespace qz7::util
