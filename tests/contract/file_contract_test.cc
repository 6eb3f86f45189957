// The contract of the platform layer's files, held against both backends: the POSIX imitation
// of Windows on a machine root, and the Win32 calls (under Wine in the Windows build). Each row
// states what Windows does, and both backends meet every row.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/file_system.h"
#include "platform/win_error.h"
#include "platform/windows_path.h"
#include "tests/contract/private_drive.h"

namespace qz7::platform {
namespace {

class FileContractTest : public PrivateDriveTest {
 protected:
  void Write(const std::string& name, const std::string& bytes) {
    FileHandle file = OpenFile(At(name).c_str(), "wb");
    ASSERT_NE(file, nullptr) << name << " error " << GetLastError();
    ASSERT_EQ(file->Write(bytes.data(), bytes.size()), bytes.size());
    ASSERT_EQ(file->Close(), 0);
  }
  // The whole file read in mode; "<missing>" when it cannot be opened.
  std::string Read(const std::string& name, const char* mode = "rb") {
    FileHandle file = OpenFile(At(name).c_str(), mode);
    if (file == nullptr) return "<missing>";
    std::string bytes;
    char chunk[256];
    for (size_t n; (n = file->Read(chunk, sizeof chunk)) > 0;) bytes.append(chunk, n);
    return bytes;
  }
};

TEST_F(FileContractTest, TextModeTranslatesLineEndsAndEndsAtCtrlZ) {
  // The CR falls on the last byte of a 4096-byte read, its LF on the first of the next; a lone
  // CR stays.
  Write("t.txt", std::string(4095, 'x') + "\r\ntwo\rx\r\n");
  EXPECT_EQ(Read("t.txt", "r"), std::string(4095, 'x') + "\ntwo\rx\n");
  for (const char* mode : {"w", "a"}) {  // appending writes at the end, wherever the stream is
    FileHandle file = OpenFile(At("w.txt").c_str(), mode);
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(file->Seek(0, kSeekSet), 0);
    ASSERT_EQ(file->PutText("a\n"), 0);
    EXPECT_EQ(file->Printf("%s=%d\n", "b", 2), 4);
    ASSERT_EQ(file->Close(), 0);
  }
  EXPECT_EQ(Read("w.txt"), "a\r\nb=2\r\na\r\nb=2\r\n");

  // A Ctrl-Z ends a text-mode read.
  Write("z.txt", std::string("line\r\n\x1Atail\r\n"));
  EXPECT_EQ(Read("z.txt", "r"), "line\n");
  EXPECT_EQ(Read("z.txt", "rb"), std::string("line\r\n\x1Atail\r\n"));
  // A line read stops there as well, and so does every read after it.
  FileHandle file = OpenFile(At("z.txt").c_str(), "r");
  ASSERT_NE(file, nullptr);
  char line[64];
  ASSERT_NE(file->GetLine(line, sizeof line), nullptr);
  EXPECT_STREQ(line, "line\n");
  EXPECT_EQ(file->GetLine(line, sizeof line), nullptr);
  EXPECT_EQ(file->Read(line, sizeof line), 0u);
  EXPECT_TRUE(file->AtEnd());
}

TEST_F(FileContractTest, TrailingDotsAndSpacesAreDroppedAndAFolderAnswersWithABackslash) {
  Write("FILE", "x");
  EXPECT_EQ(Read("FILE. ."), "x");
  ASSERT_EQ(MakeDirectory(At("DIR.").c_str()), 0);
  FileStatus status;
  ASSERT_EQ(GetFileStatus(At("DIR").c_str(), &status), 0);
  EXPECT_TRUE(status.isDirectory);
  Write("DIR.\\inner ", "y");
  EXPECT_EQ(Read("DIR\\inner"), "y");
  // Renamed to "NEW.", the file is NEW; the old name is gone.
  ASSERT_EQ(RenameFile(At("FILE").c_str(), At("NEW.").c_str()), 0);
  EXPECT_EQ(Read("NEW"), "x");
  EXPECT_EQ(Read("FILE"), "<missing>");
  char full[kMaxPath];
  const std::pair<const char*, const char*> fullPaths[] = {
      {"a.\\b", "a\\b"},
      // A last name of dots alone is dropped; its separator stays.
      {"a\\...", "a\\"},
      {"a\\. .", "a\\"},
      {"a\\..", ""},
  };
  for (const auto& [given, expected] : fullPaths) {
    ASSERT_NE(FullPath(full, At(given).c_str(), sizeof full), nullptr) << given;
    EXPECT_EQ(std::string(full), At(expected)) << given;
  }

  // The newer C runtime's _stat (and GetFileAttributesEx) answer for "DIR\"; both backends
  // promise that, since the tree upgrade names folders so.
  ASSERT_EQ(GetFileStatus(At("DIR\\").c_str(), &status), 0);
  EXPECT_TRUE(status.isDirectory);
  Write("plain", "x");
  EXPECT_NE(GetFileStatus(At("plain\\").c_str(), &status), 0);
}

// In every double-byte code page of the system the byte after a lead byte is never a path
// separator, 0x5C included (on Windows the system names the lead bytes). 949 has no trail byte
// 0x5C, so there the pair is no character, but the lead byte still takes it.
TEST_F(FileContractTest, TheByteAfterALeadByteIsNeverASeparator) {
  const struct {
    unsigned codePage;
    const char* leadThenBackslash;
    int characterLength;  // of the two bytes
  } rows[] = {
      {932, "\x95\x5C", 2},
      {936, "\x81\x5C", 2},
      {949, "\x81\x5C", -1},
      {950, "\xA5\x5C", 2},
  };
  for (const auto& row : rows) {
    SetActiveCodePage(row.codePage);
    const std::string name = std::string("A") + row.leadThenBackslash;
    EXPECT_TRUE(ActiveCodePageIsDoubleByte()) << row.codePage;
    EXPECT_TRUE(IsLeadByte(static_cast<unsigned char>(row.leadThenBackslash[0]))) << row.codePage;
    EXPECT_EQ(CharacterLength(row.leadThenBackslash, 2), row.characterLength) << row.codePage;
    EXPECT_EQ(CharacterLength(row.leadThenBackslash, 1), -1) << row.codePage;  // cut in two
    WindowsPath path;
    ASSERT_EQ(ParseWindowsPath(("C:\\" + name + "\\B").c_str(), {}, {}, &path), 0u) << row.codePage;
    EXPECT_EQ(path.components, (std::vector<std::string>{name, "B"})) << row.codePage;
  }
  // In a single-byte code page the same bytes are two characters, the second a separator.
  SetActiveCodePage(1252);
  EXPECT_FALSE(IsLeadByte(0x95));
  WindowsPath path;
  ASSERT_EQ(ParseWindowsPath("C:\\A\x95\x5C\\B", {}, {}, &path), 0u);
  EXPECT_EQ(path.components, (std::vector<std::string>{"A\x95", "B"}));
}

TEST_F(FileContractTest, CaseBlindLookupCoversAccentedLetters) {
  Write("caf\xE9", "x");                 // é in code page 1252
  EXPECT_EQ(Read("CAF\xC9"), "x");       // É
  Write("\x9A\x61\xFF", "y");            // š, a, ÿ
  EXPECT_EQ(Read("\x8A\x41\x9F"), "y");  // Š, A, Ÿ
  // Letters without a pair in the code page name only themselves.
  EXPECT_EQ(Read("caf\xC8"), "<missing>");   // È
  Write("\xDF\xF7", "z");                    // ß, ÷
  EXPECT_EQ(Read("\xDF\xD7"), "<missing>");  // ß, ×
}

// The operations of the rows: 0 or -1 with the last error set. A rename or replace that puts a
// file in place is write-through on Windows (MOVEFILE_WRITE_THROUGH: the move is on the disk
// when the call returns), as a rename and a folder sync are on POSIX. No row here can show
// that, under Wine or on Windows: only a power cut tells a durable move from a cached one, and
// the power-cut loops (tests/platform, tests/scenarios) run in the POSIX build.
using Op = int (*)(const char* first, const char* second);
constexpr Op kRename = [](const char* a, const char* b) { return RenameFile(a, b); };
constexpr Op kReplace = [](const char* a, const char* b) { return ReplaceFile(a, b); };
constexpr Op kCopy = [](const char* a, const char* b) { return CopyFileA(a, b, false) ? 0 : -1; };
constexpr Op kCopyIfNew = [](const char* a, const char* b) {
  return CopyFileA(a, b, true) ? 0 : -1;
};
constexpr Op kRemove = [](const char* a, const char*) { return RemoveFile(a); };
constexpr Op kRemoveFolder = [](const char* a, const char*) { return RemoveDirectory(a); };
constexpr Op kMakeFolder = [](const char* a, const char*) { return MakeDirectory(a); };
constexpr Op kOpen = [](const char* a, const char* mode) { return OpenFile(a, mode) ? 0 : -1; };

struct NameCase {
  const char* name;
  Op op;
  // first: a name on the drive, or a path with its drive letter; second: the target's name, or the
  // mode of an open
  const char *first, *second;
  int result;      // 0 or -1
  uint32_t error;  // checked when result is -1
  // Where Wine does not do what Windows does, the reason; the row then runs on POSIX only.
  const char* wineDiffers = nullptr;
  // After a call that succeeded: the contents of both names, and whether the second is
  // read-only.
  const char *firstAfter = "", *secondAfter = "";
  bool readOnlyAfter = false;
};

// Before each row the drive holds a ("new"), b ("old"), d\inside and the read-only r ("ro").
// Names are found without regard to case.
TEST_F(FileContractTest, FileOperationsReportWindowsResults) {
  const NameCase cases[] = {
      {"RenameOntoAnExistingFile", kRename, "a", "b", -1, kErrorAlreadyExists},
      {"RenameOfAMissingFile", kRename, "none", "c", -1, kErrorFileNotFound},
      {"RenameIntoAMissingFolder", kRename, "a", "none\\c", -1, kErrorPathNotFound},
      {"RenameThatOnlyChangesTheCase", kRename, "a", "A", 0, 0, "the name keeps its old case",
       "new", "new"},
      {"ReplaceOverAnExistingFileInAnyCase", kReplace, "a", "B", 0, 0, nullptr, "<missing>", "new"},
      {"ReplaceOntoAMissingFile", kReplace, "a", "NEW", 0, 0, nullptr, "<missing>", "new"},
      {"CopyOverAnExistingFileInAnyCase", kCopy, "a", "B", 0, 0, nullptr, "new", "new"},
      {"CopyCarriesTheReadOnlyAttribute", kCopyIfNew, "r", "c", 0, 0, nullptr, "ro", "ro", true},
      {"ReplaceOntoAFolder", kReplace, "a", "d", -1, kErrorAccessDenied},
      {"ReplaceOntoAReadOnlyFile", kReplace, "a", "R", -1, kErrorAccessDenied, "it replaces it"},
      {"ReplaceIntoAMissingFolder", kReplace, "a", "none\\x", -1, kErrorPathNotFound},
      {"CopyOntoAnExistingFileWhenAskedNotTo", kCopyIfNew, "a", "b", -1, kErrorFileExists},
      {"CopyOfAMissingFile", kCopy, "none", "n", -1, kErrorFileNotFound},
      {"CopyIntoAMissingFolder", kCopy, "a", "none\\n", -1, kErrorPathNotFound},
      {"CopyOntoAReadOnlyFile", kCopy, "a", "r", -1, kErrorAccessDenied},
      {"CopyOntoItself", kCopy, "a", "A", -1, kErrorSharingViolation},
      {"RemoveAReadOnlyFile", kRemove, "r", nullptr, -1, kErrorAccessDenied},
      {"RemoveAMissingFile", kRemove, "x", nullptr, -1, kErrorFileNotFound},
      {"RemoveAFileInAMissingFolder", kRemove, "none\\x", nullptr, -1, kErrorPathNotFound},
      {"RemoveAFolderAsAFile", kRemove, "d", nullptr, -1, kErrorAccessDenied},
      {"RemoveAFileAsAFolder", kRemoveFolder, "a", nullptr, -1, kErrorDirectory},
      {"RemoveAFolderThatIsNotEmpty", kRemoveFolder, "d", nullptr, -1, kErrorDirNotEmpty},
      {"MakeAnExistingFolder", kMakeFolder, "D", nullptr, -1, kErrorAlreadyExists},
      {"MakeAFolderInAMissingFolder", kMakeFolder, "none\\sub", nullptr, -1, kErrorPathNotFound},
      {"OpenAMissingFile", kOpen, "none", "rb", -1, kErrorFileNotFound},
      {"OpenInAMissingFolder", kOpen, "none\\f", "wb", -1, kErrorPathNotFound},
      {"OpenBelowAFile", kOpen, "r\\x", "wb", -1, kErrorPathNotFound},
      {"OpenAFolder", kOpen, "d", "rb", -1, kErrorAccessDenied},
      {"OpenTheDriveRoot", kOpen, "", "r", -1, kErrorAccessDenied},
      {"OpenAReadOnlyFileToWrite", kOpen, "r", "w", -1, kErrorAccessDenied},
      {"OpenOnADriveThatIsNotThere", kOpen, "K:\\X", "rb", -1, kErrorPathNotFound, "it gives 2"},
  };
  Write("r", "ro");
  ASSERT_EQ(SetFileWritable(At("r").c_str(), false), 0);
  ASSERT_EQ(MakeDirectory(At("d").c_str()), 0);
  Write("d\\inside", "x");
  for (const NameCase& row : cases) {
#if defined(_WIN32)
    if (row.wineDiffers != nullptr) continue;
#endif
    SCOPED_TRACE(row.name);
    Write("a", "new");
    Write("b", "old");
    const std::string first =
        row.first[0] != '\0' && row.first[1] == ':' ? row.first : At(row.first);
    const std::string second = At(row.second != nullptr ? row.second : "");
    SetLastError(0);
    const int result = row.op(first.c_str(), row.op == kOpen ? row.second : second.c_str());
    EXPECT_EQ(result, row.result);
    if (row.result == -1) {
      EXPECT_EQ(GetLastError(), row.error);
      EXPECT_EQ(Read("a"), "new") << "a failed call touched its source";
    } else {
      EXPECT_EQ(Read(row.first), row.firstAfter);
      EXPECT_EQ(Read(row.second), row.secondAfter);
      FileStatus status;
      ASSERT_EQ(GetFileStatus(second.c_str(), &status), 0);
      EXPECT_TRUE(status.isRegular && status.readOnly == row.readOnlyAfter);
    }
    if (row.op == kRename && row.result == 0) {
      FindData data;  // the new name as given, even when only its case changed
      FindHandle handle = FindFirst(second.c_str(), &data);
      ASSERT_NE(handle, kInvalidFindHandle);
      EXPECT_STREQ(data.name, row.second);
      EXPECT_EQ(FindClose(handle), 0);
    }
    static_cast<void>(RemoveFile(At("a").c_str()));  // gone already after some rows
  }
  EXPECT_EQ(Read("r"), "ro");
}

TEST_F(FileContractTest, FindMatchesWithoutRegardToCase) {
  Write("Alpha.txt", "1");
  Write("beta.TXT", "22");
  ASSERT_EQ(MakeDirectory(At("Sub").c_str()), 0);
  FindData data;
  std::vector<std::string> names;
  FindHandle handle = FindFirst(At("*.txt").c_str(), &data);
  ASSERT_NE(handle, kInvalidFindHandle);
  do names.push_back(data.name);
  while (FindNext(handle, &data) == 0);
  EXPECT_EQ(FindClose(handle), 0);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Alpha.txt", "beta.TXT"}));
  EXPECT_EQ(ErrorIf(FindFirst(At("*.none").c_str(), &data) == kInvalidFindHandle),
            kErrorFileNotFound);
}

}  // namespace
}  // namespace qz7::platform
