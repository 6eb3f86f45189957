#include "platform/file_system.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/machine_root.h"
#include "platform/posix/syscalls.h"
#include "platform/win_error.h"
#include "tests/platform/machine_fixture.h"

namespace qz7::platform {
namespace {

namespace fs = std::filesystem;

class FileSystemTest : public MachineFixture {
 protected:
  // The last error after a failed call (result -1), 0 after a successful one.
  static uint32_t ErrorOf(int result) { return result == 0 ? 0 : GetLastError(); }
  // Creates an empty file through the platform layer.
  static bool Create(const char* path) {
    FileHandle file = OpenFile(path, "wb");
    return file != nullptr && file->Close() == 0;
  }
};

// ---- Mapping Windows paths onto the drive folders ----

TEST_F(FileSystemTest, PathsMapOntoTheDriveFolder) {
  WriteHostFile(OnC("Dir/Sub/File.txt"), "x");
  WriteHostFile(OnC("abc"), "lower");
  WriteHostFile(OnC("ABC"), "upper");
  const std::string drive = fs::canonical(OnC("")).string();
  struct Row {
    const char* name;
    const char* current;  // current directory set first
    const char* input;
    const char* expected;  // host path below the drive folder
  };
  const Row rows[] = {
      {"CaseDiffersFromDisk", "C:\\", "c:\\DIR\\sub\\FILE.TXT", "/Dir/Sub/File.txt"},
      {"MissingComponentsKeepCase", "C:\\", "C:\\dir\\New\\Name.Txt", "/Dir/New/Name.Txt"},
      {"DriveRoot", "C:\\Dir", "C:\\", ""},
      {"RelativeToCurrent", "C:\\Dir", "SUB\\file.txt", "/Dir/Sub/File.txt"},
      {"DotDotStopsAtRoot", "C:\\", "C:\\..\\..\\DIR", "/Dir"},
      {"ExactMatchPreferred", "C:\\", "C:\\abc", "/abc"},
      {"FirstSortedCaseBlindMatch", "C:\\", "C:\\aBC", "/ABC"}};
  for (const Row& row : rows) {
    ASSERT_EQ(SetCurrentDirectoryText(row.current), 0) << row.name;
    EXPECT_EQ(HostPathOf(row.input).value_or("<none>"), drive + row.expected) << row.name;
  }
}

// A folder's listing is kept between lookups of names not on disk as written; whatever is
// done to the folder behind the backend's back shows in the next lookup.
TEST_F(FileSystemTest, CaseBlindLookupSeesChangesMadeBehindItsBack) {
  const std::string drive = fs::canonical(OnC("")).string();
  struct Row {
    const char* name;
    const char* before;  // on disk before the first lookup (or null)
    void (*change)(const std::string& folder);
    const char* expected;  // the host path of C:\Dir\NAME after the change (null: none)
  };
  const Row rows[] = {
      {"Created", nullptr, [](const std::string& d) { std::ofstream(d + "/name") << "x"; },
       "/Dir/name"},
      {"Removed", "name", [](const std::string& d) { fs::remove(d + "/name"); }, "/Dir/NAME"},
      {"Renamed", "name", [](const std::string& d) { fs::rename(d + "/name", d + "/nAme"); },
       "/Dir/nAme"},
      {"EarlierVariantAdded", "name",
       [](const std::string& d) { std::ofstream(d + "/Name") << "x"; }, "/Dir/Name"},
      {"FolderReplaced", "name",
       [](const std::string& d) {
         fs::remove_all(d);
         fs::create_directories(d);
         std::ofstream(d + "/naMe") << "x";
       },
       "/Dir/naMe"},
      {"FolderRenamedToOtherCase", "name",
       [](const std::string& d) { fs::rename(d, d.substr(0, d.size() - 3) + "DIR"); }, "/DIR/name"},
      {"FolderBecameALinkOutOfTheDrive", "name",
       [](const std::string& d) {
         fs::rename(d, d + ".old");
         fs::create_directory_symlink("/tmp", d);
       },
       nullptr},
  };
  for (const Row& row : rows) {
    for (const char* name : {"Dir", "DIR", "Dir.old"}) fs::remove_all(OnC(name));
    fs::create_directories(OnC("Dir"));
    if (row.before != nullptr) WriteHostFile(OnC("Dir/") + row.before, "x");
    const std::string first = HostPathOf("C:\\Dir\\NAME").value_or("<none>");
    EXPECT_EQ(first, drive + (row.before ? "/Dir/" + std::string(row.before) : "/Dir/NAME"))
        << row.name;
    row.change(OnC("Dir"));
    EXPECT_EQ(HostPathOf("C:\\Dir\\NAME").value_or("<none>"),
              row.expected ? drive + row.expected : "<none>")
        << row.name;
  }
}

int directoriesRead = 0;
DIR* CountingOpendir(const char* path) {
  ++directoriesRead;
  return ::opendir(path);
}

// Filling a folder through the backend reads it once, not once per new name, and the kept
// listing follows the backend's own creations, removals and renames.
TEST_F(FileSystemTest, FillingAFolderReadsItOnce) {
  ASSERT_EQ(MakeDirectory("C:\\Fill"), 0);
  {
    posix::ScopedSyscallOverride scope;
    scope.table().opendir = CountingOpendir;
    directoriesRead = 0;
    for (int i = 0; i < 300; ++i) {
      const std::string name = "C:\\Fill\\F" + std::to_string(i);
      ASSERT_TRUE(i % 2 == 0 ? Create(name.c_str())
                             : CopyFileA("C:\\Fill\\F0", name.c_str(), true));
    }
    EXPECT_LE(directoriesRead, 2);
  }
  const std::string fill = fs::canonical(OnC("Fill")).string();
  EXPECT_EQ(HostPathOf("C:\\FILL\\f299").value_or(""), fill + "/F299");
  ASSERT_EQ(RemoveFile("C:\\fill\\f7"), 0);
  EXPECT_EQ(HostPathOf("C:\\fill\\f7").value_or(""), fill + "/f7");  // gone: as written
  ASSERT_EQ(RenameFile("C:\\fill\\f8", "C:\\fill\\G8"), 0);
  EXPECT_EQ(HostPathOf("C:\\fill\\g8").value_or(""), fill + "/G8");
  EXPECT_EQ(HostPathOf("C:\\fill\\f8").value_or(""), fill + "/f8");
  ASSERT_EQ(RenameFile("C:\\fill\\f9", "C:\\G9"), 0);  // to another folder
  EXPECT_EQ(HostPathOf("C:\\g9").value_or(""), fs::canonical(OnC("")).string() + "/G9");
  EXPECT_EQ(HostPathOf("C:\\fill\\f9").value_or(""), fill + "/f9");
  ASSERT_EQ(MakeDirectory("C:\\fill\\Sub"), 0);
  EXPECT_EQ(HostPathOf("C:\\fill\\SUB").value_or(""), fill + "/Sub");
  ASSERT_EQ(RemoveDirectory("C:\\fill\\sub"), 0);
  EXPECT_EQ(HostPathOf("C:\\fill\\SUB").value_or(""), fill + "/SUB");
  EXPECT_EQ(std::distance(fs::directory_iterator(fill), fs::directory_iterator{}), 298);
}

TEST_F(FileSystemTest, LinksLeadingOutOfTheDriveAreRefused) {
  char outside[] = "/tmp/qz7_outside_XXXXXX";
  ASSERT_NE(mkdtemp(outside), nullptr);
  WriteHostFile(std::string(outside) + "/secret", "s");
  fs::create_directory_symlink(outside, OnC("escape"));
  fs::create_symlink(std::string(outside) + "/missing", OnC("dangling"));
  fs::create_directories(OnC("inside"));
  fs::create_directory_symlink(OnC("inside"), OnC("alias"));
  fs::create_directory_symlink(outside, root_ + "/drives/d");  // a drive root may be a link

  EXPECT_EQ(OpenFile("C:\\escape\\secret", "rb"), nullptr);
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  EXPECT_FALSE(Create("C:\\dangling"));
  EXPECT_FALSE(fs::exists(std::string(outside) + "/missing"));
  FindData data;
  EXPECT_EQ(FindFirst("C:\\escape", &data), kInvalidFindHandle);
  EXPECT_TRUE(Create("C:\\ALIAS\\new.txt"));  // a link that stays inside the drive is followed
  EXPECT_TRUE(fs::exists(OnC("inside/new.txt")));
  EXPECT_TRUE(Create("D:\\FILE.DAT"));
  EXPECT_TRUE(fs::exists(std::string(outside) + "/FILE.DAT"));
  fs::remove_all(outside);
}

// ---- Streams ----

TEST_F(FileSystemTest, BinaryStreamBuffersReadsWritesAndSeeks) {
  FileHandle file = OpenFile("C:\\data.bin", "wb+");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->Write("abc", 3), 3u);
  EXPECT_EQ(fs::file_size(OnC("data.bin")), 0u);  // buffered until the flush
  EXPECT_EQ(file->Flush(), 0);
  EXPECT_EQ(fs::file_size(OnC("data.bin")), 3u);
  std::string big(10000, 'a');  // more than one buffer
  big[9999] = 'z';
  ASSERT_EQ(file->Seek(0, kSeekSet), 0);
  EXPECT_EQ(file->Write(big.data(), big.size()), big.size());
  ASSERT_EQ(file->Seek(-2, kSeekEnd), 0);
  char two[2];
  EXPECT_EQ(file->Read(two, 2), 2u);
  EXPECT_EQ(std::string(two, 2), "az");
  ASSERT_EQ(file->Seek(1, kSeekSet), 0);  // from reading back to writing
  EXPECT_EQ(file->Write("B", 1), 1u);
  EXPECT_EQ(ErrorOf(file->Seek(-1, kSeekSet)), kErrorInvalidParameter);
  EXPECT_EQ(file->Close(), 0);
  std::string disk = ReadHostFile(OnC("data.bin"));
  EXPECT_EQ(disk.size(), 10000u);
  EXPECT_EQ(disk.substr(0, 3) + disk.substr(9998), "aBaaz");
}

TEST_F(FileSystemTest, CurrentDirectoryKeepsNamesAsGiven) {
  char text[kMaxPath];
  fs::create_directories(OnC("Work/Sub"));
  EXPECT_EQ(ErrorOf(SetCurrentDirectoryText("C:\\Nowhere")), kErrorFileNotFound);
  EXPECT_EQ(SetCurrentDirectoryText("c:\\work\\sub\\"), 0);
  ASSERT_EQ(GetCurrentDirectoryText(text, sizeof text), 0);
  EXPECT_STREQ(text, "C:\\work\\sub");  // the drive letter upper case, no trailing separator
  EXPECT_EQ(FullPath(text, "C:\\toolong", 8), nullptr);
  EXPECT_EQ(ErrorOf(RemoveDirectory("C:\\")), kErrorAccessDenied);  // a drive root stays
  SetMachineRoot(root_);  // a new machine root starts again at the drive root
  ASSERT_EQ(GetCurrentDirectoryText(text, sizeof text), 0);
  EXPECT_STREQ(text, "C:\\");
}

// ---- Searches ----

std::vector<std::string> FindAll(const char* pattern) {
  std::vector<std::string> names;
  FindData data;
  FindHandle handle = FindFirst(pattern, &data);
  if (handle == kInvalidFindHandle) return names;
  do {
    names.push_back(std::string(data.name) + (data.isDirectory ? "/" : ""));
  } while (FindNext(handle, &data) == 0);
  EXPECT_EQ(GetLastError(), kErrorNoMoreFiles);
  EXPECT_EQ(FindClose(handle), 0);
  return names;
}

TEST_F(FileSystemTest, FindMatchesCaseBlindWithQuestionMarks) {
  WriteHostFile(OnC("Inst/QZ7DAS00"), "");
  fs::create_directories(OnC("Inst/qz7das01"));
  WriteHostFile(OnC("Inst/QZ7DAS1"), "");
  WriteHostFile(OnC("Inst/other.txt"), "12345");
  using Names = std::vector<std::string>;
  EXPECT_EQ(FindAll("C:\\INST\\qz7das??"), (Names{"QZ7DAS00", "qz7das01/"}));
  EXPECT_EQ(FindAll("C:\\inst\\*"),
            (Names{"./", "../", "other.txt", "QZ7DAS00", "qz7das01/", "QZ7DAS1"}));
  EXPECT_EQ(FindAll("C:\\*"), (Names{"Inst/"}));  // no "." or ".." at a drive root
  FindData data;                                  // no match at all is the contract's
  EXPECT_EQ(FindFirst("C:\\missing\\*", &data), kInvalidFindHandle);
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
}

}  // namespace
}  // namespace qz7::platform
