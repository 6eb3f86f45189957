#include "platform/windows_path.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/codepage.h"
#include "platform/win_error.h"

namespace qz7::platform {
namespace {

// The resolved path as ToString writes it, or "error N".
std::string Resolve(const std::string& input, const std::string& currentDirectory,
                    bool wildcards = false, bool enforceMaxPath = true) {
  CurrentDirectories current;
  current.Set("D:\\DATA");  // the last directory used on D:
  current.Set(currentDirectory);
  ParseOptions options;
  options.allowWildcards = wildcards;
  options.enforceMaxPath = enforceMaxPath;
  WindowsPath path;
  uint32_t error = ParseWindowsPath(input.c_str(), current, options, &path);
  return error != 0 ? "error " + std::to_string(error) : path.ToString();
}
std::string Error(uint32_t code) { return "error " + std::to_string(code); }

TEST(ParseWindowsPathTest, Resolves) {
  SetActiveCodePage(1252);
  const std::string longest = "C:\\" + std::string(kMaxPathLength - 3, 'a');
  const std::string deep = "C:\\" + std::string(250, 'd');
  const struct {
    const char* name;
    std::string current, input;
    bool wildcards;
    std::string expected;
  } rows[] = {
      {"DotDotInside", "C:\\", "C:\\A\\B\\..\\.\\C", false, "C:\\A\\C"},
      {"TrailingDotDotHasNoSeparator", "C:\\", "C:\\A\\B\\..", false, "C:\\A"},
      {"RelativeToCurrent", "C:\\WORK\\SUB", "..\\FILE", false, "C:\\WORK\\FILE"},
      {"RootedOnCurrentDrive", "D:\\WORK", "\\TOP", false, "D:\\TOP"},
      {"DriveRelativeUsesThatDrivesDirectory", "C:\\WORK", "D:FILE", false, "D:\\DATA\\FILE"},
      {"DriveOnly", "C:\\WORK", "C:", false, "C:\\WORK"},
      {"LongestPath", "C:\\", longest, false, longest},
      {"OneTooLong", "C:\\", longest + "b", false, Error(kErrorFilenameExcedRange)},
      {"TooLongOnlyOnceResolved", deep, "0123456789", false, Error(kErrorFilenameExcedRange)},
      {"Unc", "C:\\", "\\\\server\\share\\x", false, Error(kErrorPathNotFound)},
      {"Empty", "C:\\", "", false, Error(kErrorPathNotFound)},
      {"BadDriveLetter", "C:\\", "1:\\x", false, Error(kErrorInvalidName)},
      {"ForbiddenCharacter", "C:\\", "C:\\a|b", false, Error(kErrorInvalidName)},
      {"WildcardInPattern", "C:\\", "C:\\DIR\\*.TXT", true, "C:\\DIR\\*.TXT"},
      {"WildcardOnlyInLastName", "C:\\", "C:\\D?R\\X", true, Error(kErrorInvalidName)},
      // Closing dots and spaces, dropped as Windows drops them.
      {"FolderLosesOneDot", "C:\\", "C:\\A..\\B.\\C", false, "C:\\A.\\B\\C"},
      {"FolderKeepsItsSpace", "C:\\", "C:\\A \\B", false, "C:\\A \\B"},
      {"DotsOnlyFolderIsAName", "C:\\", "C:\\...\\B", false, "C:\\...\\B"},
      {"PatternKeepsItsDot", "C:\\", "C:\\DIR.\\*.", true, "C:\\DIR\\*."}};
  for (const auto& row : rows)
    EXPECT_EQ(Resolve(row.input, row.current, row.wildcards), row.expected) << row.name;
  EXPECT_EQ(Resolve("0123456789", deep, false, false), deep + "\\0123456789");  // no limit asked
  SetActiveCodePage(0);
}

// In code page 932 the trail byte of a double-byte character may be a lower case ASCII letter;
// it is not folded (a trail byte 0x5C that splits no name is the contract's row).
TEST(ParseWindowsPathMultibyte, TrailByteIsNeitherSeparatorNorLetter) {
  SetActiveCodePage(932);
  EXPECT_FALSE(NamesEqualIgnoreCase("\x82\x61", "\x82\x41"));
  EXPECT_TRUE(NamesEqualIgnoreCase("a\x82\x61", "A\x82\x61"));
  EXPECT_TRUE(MatchesNamePattern("\x82\x61.TXT", "?.txt"));  // '?' takes the whole character
  // A trail byte in the range of the accented letters of 1252 is not folded either.
  EXPECT_FALSE(NamesEqualIgnoreCase("\x82\xE9", "\x82\xC9"));
  EXPECT_FALSE(NamesEqualIgnoreCase("\xE9", "\xC9"));
  SetActiveCodePage(1252);
  EXPECT_TRUE(NamesEqualIgnoreCase("\x82\xE9", "\x82\xC9"));
  EXPECT_FALSE(MatchesNamePattern("\x82\x61.TXT", "?.txt"));
  SetActiveCodePage(0);
}

TEST(NamePatternTest, MatchesLikeWindows) {
  const struct {
    const char *name, *file, *pattern;
    bool matches;
  } rows[] = {{"StarDotStarMatchesNoExtension", "README", "*.*", true},
              {"ExtensionMismatch", "A.TXT", "*.DAT", false},
              {"StarBacktracks", "a.b.c.txt", "*.c.*", true},
              {"StarThenLiteralAtEnd", "abcab", "*ab", true},
              {"QuestionMarksWithoutRegardToCase", "qz7das01", "QZ7DAS??", true},
              {"QuestionMarkIsOneCharacter", "QZ7DAS1", "qz7das??", false}};
  for (const auto& row : rows)
    EXPECT_EQ(MatchesNamePattern(row.file, row.pattern), row.matches) << row.name;
}

}  // namespace
}  // namespace qz7::platform
