#include "platform/windows_path.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/codepage.h"
#include "platform/win_error.h"

namespace qz7::platform {
namespace {

struct ParseCase {
  const char* name;
  const char* current;  // the current directory
  const char* input;
  bool wildcards;
  uint32_t error;        // 0: expect the path below
  const char* expected;  // the resolved path as ToString writes it
};

const ParseCase kParseCases[] = {
    {"Absolute", "C:\\", "C:\\DIR\\FILE", false, 0, "C:\\DIR\\FILE"},
    {"LowerDriveLetter", "C:\\", "d:\\x", false, 0, "D:\\x"},
    {"ForwardSlashes", "C:\\", "C:/a/b//c", false, 0, "C:\\a\\b\\c"},
    {"DriveRoot", "C:\\DIR", "C:\\", false, 0, "C:\\"},
    {"DotDotStopsAtRoot", "C:\\", "C:\\..\\..\\X", false, 0, "C:\\X"},
    {"DotDotInside", "C:\\", "C:\\A\\B\\..\\.\\C", false, 0, "C:\\A\\C"},
    {"TrailingSeparatorKept", "C:\\", "C:\\A\\B\\", false, 0, "C:\\A\\B\\"},
    {"TrailingDotDotHasNoSeparator", "C:\\", "C:\\A\\B\\..", false, 0, "C:\\A"},
    {"RelativeToCurrent", "C:\\WORK\\SUB", "..\\FILE", false, 0, "C:\\WORK\\FILE"},
    {"RootedOnCurrentDrive", "D:\\WORK", "\\TOP", false, 0, "D:\\TOP"},
    {"DriveRelativeSameDrive", "C:\\WORK", "C:NEXT", false, 0, "C:\\WORK\\NEXT"},
    {"DriveRelativeOtherDrive", "C:\\WORK", "E:NEXT", false, 0, "E:\\NEXT"},
    {"DriveOnly", "C:\\WORK", "C:", false, 0, "C:\\WORK"},
    {"Unc", "C:\\", "\\\\server\\share\\x", false, kErrorPathNotFound, nullptr},
    {"DevicePath", "C:\\", "\\\\?\\C:\\x", false, kErrorPathNotFound, nullptr},
    {"Empty", "C:\\", "", false, kErrorPathNotFound, nullptr},
    {"BadDriveLetter", "C:\\", "1:\\x", false, kErrorInvalidName, nullptr},
    {"ColonInName", "C:\\", "C:\\a:b", false, kErrorInvalidName, nullptr},
    {"ForbiddenCharacter", "C:\\", "C:\\a|b", false, kErrorInvalidName, nullptr},
    {"WildcardNotAllowed", "C:\\", "C:\\DIR\\*.TXT", false, kErrorInvalidName, nullptr},
    {"WildcardInPattern", "C:\\", "C:\\DIR\\*.TXT", true, 0, "C:\\DIR\\*.TXT"},
    {"WildcardOnlyInLastName", "C:\\", "C:\\D?R\\X", true, kErrorInvalidName, nullptr},
};

class ParseWindowsPathTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseWindowsPathTest, Resolves) {
  const ParseCase& c = GetParam();
  SetActiveCodePage(1252);
  CurrentDirectories current;
  current.Set(c.current);
  ParseOptions options;
  options.allowWildcards = c.wildcards;
  WindowsPath path;
  uint32_t error = ParseWindowsPath(c.input, current, options, &path);
  EXPECT_EQ(error, c.error) << c.input;
  if (c.error == 0 && error == 0) {
    EXPECT_EQ(path.ToString(), c.expected) << c.input;
  }
  SetActiveCodePage(0);
}

INSTANTIATE_TEST_SUITE_P(Table, ParseWindowsPathTest, ::testing::ValuesIn(kParseCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ParseWindowsPathLimits, LengthLimitAppliesToTextAndResult) {
  CurrentDirectories current;
  WindowsPath path;
  std::string longest = "C:\\" + std::string(kMaxPathLength - 3, 'a');
  EXPECT_EQ(ParseWindowsPath(longest.c_str(), current, ParseOptions{}, &path), 0u);
  std::string tooLong = longest + "b";
  EXPECT_EQ(ParseWindowsPath(tooLong.c_str(), current, ParseOptions{}, &path),
            kErrorFilenameExcedRange);
  // Short text that grows too long against a deep current directory.
  current.Set("C:\\" + std::string(250, 'd'));
  EXPECT_EQ(ParseWindowsPath("0123456789", current, ParseOptions{}, &path),
            kErrorFilenameExcedRange);
  ParseOptions unlimited;
  unlimited.enforceMaxPath = false;
  EXPECT_EQ(ParseWindowsPath("0123456789", current, unlimited, &path), 0u);
}

TEST(ParseWindowsPathLimits, DriveRelativeUsesLastDirectoryOfThatDrive) {
  CurrentDirectories current;
  current.Set("D:\\DATA");
  current.Set("C:\\WORK");
  WindowsPath path;
  ASSERT_EQ(ParseWindowsPath("D:FILE", current, ParseOptions{}, &path), 0u);
  EXPECT_EQ(path.ToString(), "D:\\DATA\\FILE");
}

// In code page 932 the trail byte of a double-byte character may be 0x5C ('\') or a lower
// case ASCII letter; neither may split a name or be folded.
TEST(ParseWindowsPathMultibyte, TrailByteIsNeitherSeparatorNorLetter) {
  SetActiveCodePage(932);
  CurrentDirectories current;
  WindowsPath path;
  ASSERT_EQ(ParseWindowsPath("C:\\\x95\x5C\\X", current, ParseOptions{}, &path), 0u);
  ASSERT_EQ(path.components.size(), 2u);
  EXPECT_EQ(path.components[0], "\x95\x5C");
  EXPECT_FALSE(NamesEqualIgnoreCase("\x82\x61", "\x82\x41"));
  EXPECT_TRUE(NamesEqualIgnoreCase("a\x82\x61", "A\x82\x61"));
  EXPECT_TRUE(MatchesNamePattern("\x82\x61.TXT", "?.txt"));  // '?' takes the whole character
  SetActiveCodePage(1252);
  EXPECT_TRUE(NamesEqualIgnoreCase("\x82\x61", "\x82\x41"));
  EXPECT_FALSE(MatchesNamePattern("\x82\x61.TXT", "?.txt"));
  SetActiveCodePage(0);
}

struct PatternCase {
  const char* name;
  const char* file;
  const char* pattern;
  bool matches;
};

const PatternCase kPatternCases[] = {
    {"StarMatchesAll", "anything.dat", "*", true},
    {"StarDotStarMatchesNoExtension", "README", "*.*", true},
    {"CaseBlind", "Qz7Systm", "QZ7SYSTM", true},
    {"QuestionIsOneCharacter", "QZ7DAS07", "QZ7DAS??", true},
    {"QuestionNeedsACharacter", "QZ7DAS7", "QZ7DAS??", false},
    {"ExtensionMismatch", "A.TXT", "*.DAT", false},
    {"StarBacktracks", "a.b.c.txt", "*.c.*", true},
    {"StarThenLiteralAtEnd", "abcab", "*ab", true},
    {"LiteralMismatch", "abc", "abd", false},
};

class NamePatternTest : public ::testing::TestWithParam<PatternCase> {};

TEST_P(NamePatternTest, Matches) {
  const PatternCase& c = GetParam();
  EXPECT_EQ(MatchesNamePattern(c.file, c.pattern), c.matches) << c.file << " ~ " << c.pattern;
}

INSTANTIATE_TEST_SUITE_P(Table, NamePatternTest, ::testing::ValuesIn(kPatternCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qz7::platform
