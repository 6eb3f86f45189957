// The contract of the platform layer's files, held against both backends: the POSIX imitation
// of Windows on a machine root, and the Win32 calls (under Wine in the Windows build). Each row
// states what Windows does, and both backends meet every row.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/win_error.h"
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

TEST_F(FileContractTest, TextModeTranslatesLineEnds) {
  Write("t.txt", "one\r\ntwo\r\n");
  EXPECT_EQ(Read("t.txt", "r"), "one\ntwo\n");
  {
    FileHandle file = OpenFile(At("w.txt").c_str(), "w");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(file->PutText("a\nb\n"), 0);
    ASSERT_EQ(file->Close(), 0);
  }
  EXPECT_EQ(Read("w.txt"), "a\r\nb\r\n");
}

TEST_F(FileContractTest, CtrlZEndsATextModeRead) {
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

TEST_F(FileContractTest, TrailingDotsAndSpacesOfANameAreDropped) {
  Write("FILE", "x");
  EXPECT_EQ(Read("FILE."), "x");
  EXPECT_EQ(Read("FILE "), "x");
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
  ASSERT_NE(FullPath(full, At("a.\\b").c_str(), sizeof full), nullptr);
  EXPECT_EQ(std::string(full), At("a\\b"));
}

TEST_F(FileContractTest, CaseBlindLookupCoversAccentedLetters) {
  Write("caf\xE9", "x");            // é in code page 1252
  EXPECT_EQ(Read("CAF\xC9"), "x");  // É
  Write(
      "\x9A"
      "a\xFF",
      "y");  // š, ÿ
  EXPECT_EQ(Read("\x8A"
                 "A\x9F"),
            "y");  // Š, Ÿ
  // Letters without a pair in the code page name only themselves.
  EXPECT_EQ(Read("caf\xC8"), "<missing>");   // È
  Write("\xDF\xF7", "z");                    // ß, ÷
  EXPECT_EQ(Read("\xDF\xD7"), "<missing>");  // ß, ×
}

TEST_F(FileContractTest, StatusOfAFolderNamedWithATrailingBackslash) {
  // The newer C runtime's _stat (and GetFileAttributesEx) answer for "DIR\"; both backends
  // promise that, since the tree upgrade names folders so.
  ASSERT_EQ(MakeDirectory(At("DIR").c_str()), 0);
  FileStatus status;
  ASSERT_EQ(GetFileStatus(At("DIR\\").c_str(), &status), 0);
  EXPECT_TRUE(status.isDirectory);
  Write("plain", "x");
  EXPECT_NE(GetFileStatus(At("plain\\").c_str(), &status), 0);
}

struct NameCase {
  const char* name;
  std::function<int(FileContractTest*)> act;  // 0 or -1
  int result;
  uint32_t error;  // checked when result is -1
};

TEST_F(FileContractTest, FileOperationsReportWindowsResults) {
  const std::vector<NameCase> cases = {
      {"RenameOntoAnExistingFileFails",
       [](FileContractTest* t) { return RenameFile(t->At("a").c_str(), t->At("b").c_str()); }, -1,
       kErrorAlreadyExists},
      {"RenameOfAMissingFile",
       [](FileContractTest* t) { return RenameFile(t->At("none").c_str(), t->At("c").c_str()); },
       -1, kErrorFileNotFound},
      {"ReplaceOverAnExistingFile",
       [](FileContractTest* t) { return ReplaceFile(t->At("a").c_str(), t->At("b").c_str()); }, 0,
       0},
      {"ReplaceOntoAFolder",
       [](FileContractTest* t) { return ReplaceFile(t->At("a").c_str(), t->At("d").c_str()); }, -1,
       kErrorAccessDenied},
      {"RemoveAReadOnlyFile",
       [](FileContractTest* t) {
         if (SetFileWritable(t->At("a").c_str(), false) != 0) return 99;
         return RemoveFile(t->At("a").c_str());
       },
       -1, kErrorAccessDenied},
      {"RemoveAMissingFile", [](FileContractTest* t) { return RemoveFile(t->At("x").c_str()); }, -1,
       kErrorFileNotFound},
      {"RemoveAFileInAMissingFolder",
       [](FileContractTest* t) { return RemoveFile(t->At("none\\x").c_str()); }, -1,
       kErrorPathNotFound},
      {"MakeAnExistingFolder",
       [](FileContractTest* t) { return MakeDirectory(t->At("d").c_str()); }, -1,
       kErrorAlreadyExists},
      {"RemoveAFolderThatIsNotEmpty",
       [](FileContractTest* t) { return RemoveDirectory(t->At("d").c_str()); }, -1,
       kErrorDirNotEmpty},
      {"CopyOntoAnExistingFileWhenAskedNotTo",
       [](FileContractTest* t) {
         return CopyFileA(t->At("a").c_str(), t->At("b").c_str(), true) ? 0 : -1;
       },
       -1, kErrorFileExists},
      {"CopyOfAMissingFile",
       [](FileContractTest* t) {
         return CopyFileA(t->At("none").c_str(), t->At("n").c_str(), false) ? 0 : -1;
       },
       -1, kErrorFileNotFound},
      {"CopyIntoAMissingFolder",
       [](FileContractTest* t) {
         return CopyFileA(t->At("a").c_str(), t->At("none\\n").c_str(), false) ? 0 : -1;
       },
       -1, kErrorPathNotFound},
  };
  for (const NameCase& row : cases) {
    SCOPED_TRACE(row.name);
    Write("a", "new");
    Write("b", "old");
    ASSERT_EQ(MakeDirectory(At("d").c_str()) == 0 || GetLastError() == kErrorAlreadyExists, true);
    Write("d\\inside", "x");
    SetLastError(0);
    int result = row.act(this);
    EXPECT_EQ(result, row.result);
    if (row.result == -1) {
      EXPECT_EQ(GetLastError(), row.error);
    }
    static_cast<void>(SetFileWritable(At("a").c_str(), true));
    static_cast<void>(RemoveFile(At("a").c_str()));
  }
}

TEST_F(FileContractTest, ReplaceLeavesTheNewContentsAndNoSource) {
  Write("a", "new");
  Write("b", "old");
  ASSERT_EQ(ReplaceFile(At("a").c_str(), At("b").c_str()), 0);
  EXPECT_EQ(Read("b"), "new");
  EXPECT_EQ(Read("a"), "<missing>");
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
  EXPECT_EQ(FindFirst(At("*.none").c_str(), &data), kInvalidFindHandle);
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
}

}  // namespace
}  // namespace qz7::platform
