#include "platform/file_system.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "platform/machine_root.h"
#include "platform/posix/syscalls.h"
#include "platform/win_error.h"
#include "tests/platform/machine_fixture.h"

namespace qz7::platform {
namespace {

namespace fs = std::filesystem;

class FileSystemTest : public MachineFixture {
 protected:
  // Creates an empty file through the platform layer.
  static bool Create(const char* path) {
    FileHandle file = OpenFile(path, "wb");
    return file != nullptr && file->Close() == 0;
  }
};

// ---- Mapping Windows paths onto the drive folders ----

// A folder's listing is kept between lookups of names not on disk as written; whatever is
// done to the folder behind the backend's back shows in the next lookup.
TEST_F(FileSystemTest, CaseBlindLookupSeesChangesMadeBehindItsBack) {
  const std::string drive = fs::canonical(OnC("")).string();
  // before: on disk before the first lookup (or null); expected: the host path of C:\Dir\NAME
  // after the change (null: none).
  const struct {
    const char *name, *before, *expected;
    void (*change)(const std::string& folder);
  } rows[] = {
      // clang-format off
      {"Created", nullptr, "/Dir/name", [](auto d) { std::ofstream(d + "/name") << "x"; }},
      {"Removed", "name", "/Dir/NAME", [](auto d) { fs::remove(d + "/name"); }},
      {"EarlierVariantAdded", "name", "/Dir/Name",
       [](auto d) { std::ofstream(d + "/Name") << "x"; }},
      {"FolderReplaced", "name", "/Dir/naMe", [](auto d) {
         fs::remove_all(d);
         fs::create_directories(d);
         std::ofstream(d + "/naMe") << "x";
       }},
      {"FolderRenamedToOtherCase", "name", "/DIR/name",
       [](auto d) { fs::rename(d, d.substr(0, d.size() - 3) + "DIR"); }},
      {"FolderBecameALinkOutOfTheDrive", "name", nullptr, [](auto d) {
         fs::rename(d, d + ".old");
         fs::create_directory_symlink("/tmp", d);
       }},
      // clang-format on
  };
  // The exact name comes before the first case-blind match; names not on disk keep the case
  // they are given in, below the first one missing too.
  WriteHostFile(OnC("Dir/abc"), "lower");
  WriteHostFile(OnC("Dir/ABC"), "upper");
  EXPECT_EQ(HostPathOf("C:\\Dir\\abc").value_or(""), drive + "/Dir/abc");
  EXPECT_EQ(HostPathOf("c:\\dir\\New\\Name.Txt").value_or(""), drive + "/Dir/New/Name.Txt");
  for (const auto& row : rows) {
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

// The kept listing of a folder follows the backend's own creations, removals and renames.
TEST_F(FileSystemTest, KeptListingFollowsTheBackendsChanges) {
  ASSERT_EQ(MakeDirectory("C:\\Fill"), 0);
  for (int i = 0; i < 10; ++i) {
    const std::string name = "C:\\Fill\\F" + std::to_string(i);
    ASSERT_TRUE(i % 2 == 0 ? Create(name.c_str()) : CopyFileA("C:\\Fill\\F0", name.c_str(), true));
  }
  const std::string fill = fs::canonical(OnC("Fill")).string();
  EXPECT_EQ(HostPathOf("C:\\FILL\\f5").value_or(""), fill + "/F5");
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
  EXPECT_EQ(std::distance(fs::directory_iterator(fill), fs::directory_iterator{}), 8);
}

// A folder copy gives, file by file, what CopyFileA gives for the two full paths: the same
// result, last error and destination folder (names, bytes, attributes, times), whether it takes
// the short way by name or the long one. Each row runs both ways in twin folders.
TEST_F(FileSystemTest, FolderCopyCopiesAsCopyFileA) {
  using Folders = void (*)(const std::string& from, const std::string& to);
  const struct {
    const char* name;
    std::vector<std::string> copies;  // names copied, in this order
    std::vector<uint32_t> errors;     // the last error after each copy (0: copied)
    Folders prepare = nullptr;        // what the row adds to the plain source folder
    bool fresh = true;                // the destination folder was made for the copy
    bool diskFull = false;            // every write of file data fails with ENOSPC
    const char* made = "";            // a folder the caller makes in to first, telling the copy
  } rows[] = {
      // clang-format off
      {"read_only_source", {"Data.Bin"}, {0}, [](auto from, auto) {
         fs::permissions(from + "/Data.Bin", fs::perms::owner_read | fs::perms::group_read);
       }},
      {"names_equal_but_for_case", {"A.TXT", "a.txt"}, {0, 0}},
      {"missing_source", {"gone"}, {kErrorFileNotFound}},
      {"closing_dot_read_as_windows_reads_it", {"t."}, {kErrorFileNotFound}},
      {"link_out_of_the_drive", {"out"}, {kErrorAccessDenied},
       [](auto from, auto) { fs::create_symlink("/etc/passwd", from + "/out"); }},
      {"made_behind_its_back", {"Data.Bin"}, {kErrorAccessDenied}, [](auto, auto to) {
         std::ofstream(to + "/Data.Bin") << "older";
         fs::permissions(to + "/Data.Bin", fs::perms::owner_read);
       }},
      {"existing_other_case_overwritten", {"Data.Bin"}, {0},
       [](auto, auto to) { std::ofstream(to + "/DATA.BIN") << "older"; }, false},
      {"disk_full", {"Data.Bin"}, {kErrorDiskFull}, nullptr, true, true},
      {"folder_made_there_in_other_case", {"a.txt"}, {kErrorAccessDenied}, nullptr, true, false,
       "A.TXT"},
      // clang-format on
  };
  using Listing = std::map<std::string, std::tuple<std::string, unsigned, int64_t>>;
  const auto listing = [](const std::string& folder) {
    Listing names;
    for (const auto& entry : fs::directory_iterator(folder)) {
      struct stat status;
      EXPECT_EQ(lstat(entry.path().c_str(), &status), 0);
      const bool folder = S_ISDIR(status.st_mode);
      names[entry.path().filename().string()] = {
          folder ? "<folder>" : ReadHostFile(entry.path().string()), status.st_mode & 07777,
          folder ? 0 : static_cast<int64_t>(status.st_mtime)};
    }
    return names;
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<uint32_t> results[2];
    Listing after[2];
    for (int byFolder = 0; byFolder < 2; ++byFolder) {
      const std::string folder = "Way" + std::to_string(byFolder);
      fs::remove_all(OnC(folder));
      const std::string source = OnC(folder + "/From"), target = OnC(folder + "/To");
      fs::create_directories(source);
      fs::create_directories(target);
      std::ofstream(source + "/Data.Bin", std::ios::binary) << "data";
      std::ofstream(source + "/a.txt") << "lower";
      std::ofstream(source + "/A.TXT") << "upper";
      std::ofstream(source + "/t.") << "dot";
      if (row.prepare != nullptr) row.prepare(source, target);
      // One time of last write for every file of both ways, which a copy must carry over.
      for (const auto& entry : fs::recursive_directory_iterator(OnC(folder))) {
        const struct timespec times[2] = {{1700000000, 0}, {1700000000, 0}};
        utimensat(AT_FDCWD, entry.path().c_str(), times, AT_SYMLINK_NOFOLLOW);
      }
      const std::string from = "C:\\" + folder + "\\From\\", to = "C:\\" + folder + "\\To\\";
      posix::ScopedSyscallOverride scope;
      if (row.diskFull) {
        scope.table().write = [](int, const void*, size_t) -> ssize_t {
          return errno = ENOSPC, -1;
        };
        scope.table().copyFileRange = [](int, int, size_t) -> ssize_t {
          return errno = ENOSPC, -1;
        };
      }
      FolderCopy copy(from.c_str(), to.c_str(), row.fresh);
      EXPECT_TRUE(copy.IsOpen());
      if (*row.made != '\0') {
        ASSERT_EQ(MakeDirectory((to + row.made).c_str()), 0);
        copy.NoteMade(row.made);
      }
      for (const std::string& name : row.copies) {
        SetLastError(0);
        const bool copied = byFolder ? copy.Copy(name.c_str())
                                     : CopyFileA((from + name).c_str(), (to + name).c_str(), false);
        results[byFolder].push_back(copied ? 0 : GetLastError());
      }
      after[byFolder] = listing(target);
    }
    EXPECT_EQ(results[0], row.errors);
    EXPECT_EQ(results[1], row.errors);
    EXPECT_EQ(after[1], after[0]);
  }
}

// A sync of the machine reaches every file system that holds a drive, each once.
TEST_F(FileSystemTest, SyncingTheMachineSyncsEachFileSystemOfItsDrivesOnce) {
  char elsewhere[] = "/dev/shm/qz7_drive_XXXXXX";
  const bool otherSystem = mkdtemp(elsewhere) != nullptr;
  fs::create_directories(root_ + "/drives/d");
  if (otherSystem) fs::create_directory_symlink(elsewhere, root_ + "/drives/e");
  std::vector<dev_t> expected;
  for (const char* drive : {"c", "d", "e"}) {
    struct stat status;
    if (stat((root_ + "/drives/" + drive).c_str(), &status) == 0) expected.push_back(status.st_dev);
  }
  std::sort(expected.begin(), expected.end());
  expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
  static std::vector<dev_t> devicesSynced;
  devicesSynced.clear();
  {
    posix::ScopedSyscallOverride scope;
    scope.table().syncfs = [](int fd) {
      struct stat status;
      if (fstat(fd, &status) == 0) devicesSynced.push_back(status.st_dev);
      return 0;
    };
    EXPECT_EQ(SyncFileSystem(), 0);
  }
  std::sort(devicesSynced.begin(), devicesSynced.end());
  EXPECT_EQ(devicesSynced, expected);
  if (otherSystem) fs::remove_all(elsewhere);
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

  EXPECT_EQ(ErrorIf(!OpenFile("C:\\escape\\secret", "rb")), kErrorAccessDenied);
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

// A last name that Windows takes for a device (CON, AUX, NUL, PRN, COM1-9, LPT1-9, any case,
// also with an extension or spaces before it) makes no file or folder, as on Windows: making a
// folder under it fails with 183, and nothing is made on the host. Names that only look like
// one are ordinary names, and a device name inside a path is an ordinary (missing) folder.
TEST_F(FileSystemTest, DeviceNamesAreRefusedAsWindowsRefusesThem) {
  fs::create_directories(OnC("Q"));
  for (const char* name : {"CON", "aux", "Nul", "prn", "COM1", "com9", "LPT1", "lpt9", "nul.txt",
                           "CON .log", "Com3.a.b"}) {
    SCOPED_TRACE(name);
    const std::string path = std::string("C:\\Q\\") + name;
    EXPECT_EQ(ErrorIf(MakeDirectory(path.c_str()) != 0), kErrorAlreadyExists);
    EXPECT_FALSE(Create(path.c_str()));
    FileStatus status;
    EXPECT_NE(GetFileStatus(path.c_str(), &status), 0);
  }
  EXPECT_TRUE(fs::is_empty(OnC("Q")));
  for (const char* name : {"COM0", "LPT10", "CONS", "XNUL", "AUX1", "COM", "NUL_"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(MakeDirectory((std::string("C:\\Q\\") + name).c_str()), 0);
  }
  EXPECT_EQ(ErrorIf(MakeDirectory("C:\\Q\\CON\\SUB") != 0), kErrorPathNotFound);
}

TEST_F(FileSystemTest, CurrentDirectoryKeepsNamesAsGiven) {
  char text[kMaxPath];
  fs::create_directories(OnC("Work/Sub"));
  EXPECT_EQ(ErrorIf(SetCurrentDirectoryText("C:\\Nowhere") != 0), kErrorFileNotFound);
  EXPECT_EQ(SetCurrentDirectoryText("c:\\work\\sub\\"), 0);
  ASSERT_EQ(GetCurrentDirectoryText(text, sizeof text), 0);
  EXPECT_STREQ(text, "C:\\work\\sub");  // the drive letter upper case, no trailing separator
  EXPECT_EQ(FullPath(text, "C:\\toolong", 8), nullptr);
  EXPECT_EQ(ErrorIf(RemoveDirectory("C:\\") != 0), kErrorAccessDenied);  // a drive root stays
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

// Below a drive root a search gives "." and ".." too, and everything in the order of names
// without regard to case; a search in a missing folder fails so. Case-blind patterns are the
// contract's rows, question marks the numbered names'.
TEST_F(FileSystemTest, FindListsDotsBelowTheRootOnly) {
  WriteHostFile(OnC("Inst/b"), "");
  fs::create_directories(OnC("Inst/A"));
  EXPECT_EQ(FindAll("C:\\inst\\*"), (std::vector<std::string>{"./", "../", "A/", "b"}));
  EXPECT_EQ(FindAll("C:\\*"), std::vector<std::string>{"Inst/"});
  FindData data;
  EXPECT_EQ(ErrorIf(FindFirst("C:\\missing\\*", &data) == kInvalidFindHandle), kErrorPathNotFound);
}

}  // namespace
}  // namespace qz7::platform
