#include "platform/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/machine_root.h"
#include "platform/win_error.h"
#include "tests/platform/machine_fixture.h"

namespace qz7::platform {
namespace {

namespace fs = std::filesystem;

class FileSystemTest : public MachineFixture {
 protected:
  std::string ReadAll(const char* path, const char* mode) {
    FileHandle file = OpenFile(path, mode);
    if (!file) return "<open failed>";
    std::string text;
    char buffer[100];
    size_t got;
    while ((got = file->Read(buffer, sizeof buffer)) > 0) text.append(buffer, got);
    EXPECT_EQ(file->Close(), 0);
    return text;
  }
};

// ---- Mapping Windows paths onto the drive folders ----

struct MappingCase {
  const char* name;
  const char* current;  // current directory set first
  const char* input;
  const char* expected;  // host path relative to drives/c, or null when the path must fail
};

const MappingCase kMappingCases[] = {
    {"ExactCase", "C:\\", "C:\\Dir\\Sub\\File.txt", "Dir/Sub/File.txt"},
    {"CaseDiffersFromDisk", "C:\\", "c:\\DIR\\sub\\FILE.TXT", "Dir/Sub/File.txt"},
    {"MissingComponentsKeepCase", "C:\\", "C:\\dir\\New\\Name.Txt", "Dir/New/Name.Txt"},
    {"DriveRoot", "C:\\Dir", "C:\\", ""},
    {"RelativeToCurrent", "C:\\Dir", "SUB\\file.txt", "Dir/Sub/File.txt"},
    {"DotDotAtRoot", "C:\\", "C:\\..\\..\\DIR", "Dir"},
    {"ExactMatchPreferred", "C:\\", "C:\\abc", "abc"},
    {"FirstSortedCaseBlindMatch", "C:\\", "C:\\aBC", "ABC"},
    {"UnknownDrive", "C:\\", "Q:\\X", nullptr},
    {"Unc", "C:\\", "\\\\host\\share", nullptr},
};

class PathMappingTest : public FileSystemTest, public ::testing::WithParamInterface<MappingCase> {};

TEST_P(PathMappingTest, MapsOntoDriveFolder) {
  const MappingCase& c = GetParam();
  WriteHostFile(OnC("Dir/Sub/File.txt"), "x");
  WriteHostFile(OnC("abc"), "lower");
  WriteHostFile(OnC("ABC"), "upper");
  ASSERT_EQ(SetCurrentDirectoryText(c.current), 0);
  std::optional<std::string> host = HostPathOf(c.input);
  if (c.expected == nullptr) {
    EXPECT_FALSE(host.has_value()) << *host;
    return;
  }
  ASSERT_TRUE(host.has_value());
  std::string want = fs::canonical(OnC("")).string();
  if (*c.expected != '\0') want += std::string("/") + c.expected;
  EXPECT_EQ(*host, want);
}

INSTANTIATE_TEST_SUITE_P(Table, PathMappingTest, ::testing::ValuesIn(kMappingCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FileSystemTest, UnknownDriveAndUncGivePathNotFound) {
  EXPECT_EQ(OpenFile("Q:\\X", "rb"), nullptr);
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  EXPECT_EQ(OpenFile("\\\\host\\share\\x", "rb"), nullptr);
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  std::string tooLong = "C:\\" + std::string(300, 'a');
  EXPECT_EQ(OpenFile(tooLong.c_str(), "wb"), nullptr);
  EXPECT_EQ(GetLastError(), kErrorFilenameExcedRange);
}

TEST_F(FileSystemTest, LinksLeadingOutOfTheDriveAreRefused) {
  char outside[] = "/tmp/qz7_outside_XXXXXX";
  ASSERT_NE(mkdtemp(outside), nullptr);
  WriteHostFile(std::string(outside) + "/secret", "s");
  fs::create_directory_symlink(outside, OnC("escape"));
  fs::create_symlink(std::string(outside) + "/missing", OnC("dangling"));
  fs::create_directories(OnC("inside"));
  fs::create_directory_symlink(OnC("inside"), OnC("alias"));

  EXPECT_EQ(OpenFile("C:\\escape\\secret", "rb"), nullptr);
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  EXPECT_EQ(OpenFile("C:\\dangling", "wb"), nullptr);
  EXPECT_FALSE(fs::exists(std::string(outside) + "/missing"));
  FindData data;
  EXPECT_EQ(FindFirst("C:\\escape", &data), kInvalidFindHandle);
  // A link that stays inside the drive is followed.
  FileHandle file = OpenFile("C:\\ALIAS\\new.txt", "wb");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->Close(), 0);
  EXPECT_TRUE(fs::exists(OnC("inside/new.txt")));
  fs::remove_all(outside);
}

TEST_F(FileSystemTest, DriveRootMayBeALink) {
  char target[] = "/tmp/qz7_drive_XXXXXX";
  ASSERT_NE(mkdtemp(target), nullptr);
  fs::create_directory_symlink(target, root_ + "/drives/d");
  FileHandle file = OpenFile("D:\\FILE.DAT", "wb");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->Close(), 0);
  EXPECT_TRUE(fs::exists(std::string(target) + "/FILE.DAT"));
  fs::remove_all(target);
}

// ---- Streams ----

TEST_F(FileSystemTest, TextModeWritesCrLfAndReadsLf) {
  FileHandle file = OpenFile("C:\\err.txt", "w+");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->PutText("one\n"), 0);
  EXPECT_EQ(file->Printf("%s=%d\n", "two", 2), 6);
  EXPECT_EQ(file->Close(), 0);
  EXPECT_EQ(ReadHostFile(OnC("err.txt")), "one\r\ntwo=2\r\n");
  EXPECT_EQ(ReadAll("C:\\err.txt", "r"), "one\ntwo=2\n");
  EXPECT_EQ(ReadAll("C:\\err.txt", "rb"), "one\r\ntwo=2\r\n");

  file = OpenFile("C:\\err.txt", "rt");
  ASSERT_NE(file, nullptr);
  char line[8];
  ASSERT_NE(file->GetLine(line, sizeof line), nullptr);
  EXPECT_STREQ(line, "one\n");
  EXPECT_EQ(file->Tell(), 5);  // a position on disk, past the CR LF
  ASSERT_NE(file->GetLine(line, 4), nullptr);
  EXPECT_STREQ(line, "two");
  ASSERT_NE(file->GetLine(line, sizeof line), nullptr);
  EXPECT_STREQ(line, "=2\n");
  EXPECT_EQ(file->GetLine(line, sizeof line), nullptr);
  EXPECT_TRUE(file->AtEnd());
  EXPECT_FALSE(file->HasError());
}

TEST_F(FileSystemTest, LoneCrAndCrLfAcrossBufferBoundary) {
  // The CR falls on the last byte of the first buffer fill, its LF on the first of the next.
  std::string bytes(4095, 'x');
  bytes += "\r\nend\rx";
  WriteHostFile(OnC("long.txt"), bytes);
  std::string text = ReadAll("C:\\long.txt", "r");
  EXPECT_EQ(text, std::string(4095, 'x') + "\nend\rx");
}

TEST_F(FileSystemTest, BinaryStreamReadWriteSeek) {
  FileHandle file = OpenFile("C:\\data.bin", "wb+");
  ASSERT_NE(file, nullptr);
  std::string big(10000, 'a');
  big[9999] = 'z';
  EXPECT_EQ(file->Write(big.data(), big.size()), big.size());
  EXPECT_EQ(file->Write("\n", 1), 1u);
  EXPECT_EQ(file->Tell(), 10001);
  ASSERT_EQ(file->Seek(9999, kSeekSet), 0);
  char two[2];
  EXPECT_EQ(file->Read(two, 2), 2u);
  EXPECT_EQ(std::string(two, 2), "z\n");
  EXPECT_EQ(file->Read(two, 1), 0u);
  EXPECT_TRUE(file->AtEnd());
  ASSERT_EQ(file->Seek(-2, kSeekEnd), 0);
  EXPECT_FALSE(file->AtEnd());
  EXPECT_EQ(file->Write("Y", 1), 1u);  // after a read, written where the reading stopped
  ASSERT_EQ(file->Seek(0, kSeekSet), 0);
  EXPECT_EQ(file->Read(two, 1), 1u);
  EXPECT_EQ(file->Write("B", 1), 1u);
  EXPECT_EQ(file->Seek(-1, kSeekSet), -1);
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  EXPECT_EQ(file->Close(), 0);
  EXPECT_EQ(file->Close(), -1);
  std::string disk = ReadHostFile(OnC("data.bin"));
  ASSERT_EQ(disk.size(), 10001u);
  EXPECT_EQ(disk.substr(0, 3), "aBa");
  EXPECT_EQ(disk.substr(9998), "aY\n");
}

TEST_F(FileSystemTest, WritesStayBufferedUntilFlush) {
  FileHandle file = OpenFile("C:\\buffered", "wb");
  ASSERT_NE(file, nullptr);
  file->Write("abc", 3);
  EXPECT_EQ(fs::file_size(OnC("buffered")), 0u);
  EXPECT_EQ(file->Flush(), 0);
  EXPECT_EQ(fs::file_size(OnC("buffered")), 3u);
}

TEST_F(FileSystemTest, AppendModeWritesAtEnd) {
  WriteHostFile(OnC("log"), "first\r\n");
  FileHandle file = OpenFile("C:\\LOG", "a");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->Seek(0, kSeekSet), 0);
  EXPECT_EQ(file->PutText("second\n"), 0);
  EXPECT_EQ(file->Close(), 0);
  EXPECT_EQ(ReadHostFile(OnC("log")), "first\r\nsecond\r\n");
}

struct OpenFailureCase {
  const char* name;
  const char* path;
  const char* mode;
  uint32_t error;
};

const OpenFailureCase kOpenFailures[] = {
    {"MissingFile", "C:\\DIR\\nothing", "rb", kErrorFileNotFound},
    {"MissingFolder", "C:\\NOPE\\file", "wb", kErrorPathNotFound},
    {"Directory", "C:\\DIR", "rb", kErrorAccessDenied},
    {"DriveRoot", "C:\\", "r", kErrorAccessDenied},
    {"ReadOnlyForWrite", "C:\\DIR\\ro.txt", "w", kErrorAccessDenied},
    {"ReadOnlyForUpdate", "C:\\DIR\\ro.txt", "rb+", kErrorAccessDenied},
    {"ReadOnlyForAppend", "C:\\DIR\\ro.txt", "a", kErrorAccessDenied},
    {"BadMode", "C:\\DIR\\ro.txt", "rw", kErrorInvalidParameter},
    {"FileAsFolder", "C:\\DIR\\ro.txt\\x", "wb", kErrorPathNotFound},
};

class OpenFailureTest : public FileSystemTest,
                        public ::testing::WithParamInterface<OpenFailureCase> {};

TEST_P(OpenFailureTest, ReportsWindowsError) {
  const OpenFailureCase& c = GetParam();
  WriteHostFile(OnC("Dir/ro.txt"), "keep");
  ASSERT_EQ(SetFileWritable("C:\\DIR\\RO.TXT", false), 0);
  SetLastError(0);
  EXPECT_EQ(OpenFile(c.path, c.mode), nullptr);
  EXPECT_EQ(GetLastError(), c.error);
  EXPECT_EQ(ReadHostFile(OnC("Dir/ro.txt")), "keep");
}

INSTANTIATE_TEST_SUITE_P(Table, OpenFailureTest, ::testing::ValuesIn(kOpenFailures),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FileSystemTest, ReadOnlyFileCanBeReadButNotRemoved) {
  WriteHostFile(OnC("ro"), "data");
  ASSERT_EQ(SetFileWritable("C:\\RO", false), 0);
  FileStatus status;
  ASSERT_EQ(GetFileStatus("C:\\ro", &status), 0);
  EXPECT_TRUE(status.readOnly);
  EXPECT_TRUE(status.isRegular);
  EXPECT_EQ(status.size, 4u);
  EXPECT_EQ(ReadAll("C:\\ro", "rb"), "data");
  EXPECT_EQ(RemoveFile("C:\\ro"), -1);
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  ASSERT_EQ(SetFileWritable("C:\\ro", true), 0);
  EXPECT_EQ(RemoveFile("C:\\ro"), 0);
  EXPECT_EQ(GetFileStatus("C:\\ro", &status), -1);
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
}

// ---- Names ----

TEST_F(FileSystemTest, RenameFollowsWindowsRules) {
  WriteHostFile(OnC("a.txt"), "a");
  WriteHostFile(OnC("b.txt"), "b");
  EXPECT_EQ(RenameFile("C:\\a.txt", "C:\\B.TXT"), -1);
  EXPECT_EQ(GetLastError(), kErrorAlreadyExists);
  EXPECT_EQ(RenameFile("C:\\missing", "C:\\c.txt"), -1);
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_EQ(RenameFile("C:\\a.txt", "C:\\NO\\c.txt"), -1);
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  EXPECT_EQ(RenameFile("C:\\A.TXT", "C:\\A.Txt"), 0);  // only the case changes
  EXPECT_TRUE(fs::exists(OnC("A.Txt")));
  EXPECT_FALSE(fs::exists(OnC("a.txt")));
  EXPECT_EQ(ReadHostFile(OnC("b.txt")), "b");
}

TEST_F(FileSystemTest, DirectoriesMakeAndRemove) {
  EXPECT_EQ(MakeDirectory("C:\\New"), 0);
  EXPECT_EQ(MakeDirectory("C:\\NEW"), -1);
  EXPECT_EQ(GetLastError(), kErrorAlreadyExists);
  EXPECT_EQ(MakeDirectory("C:\\Gone\\Deeper"), -1);
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
  WriteHostFile(OnC("New/f"), "x");
  EXPECT_EQ(RemoveDirectory("C:\\new"), -1);
  EXPECT_EQ(GetLastError(), kErrorDirNotEmpty);
  EXPECT_EQ(RemoveDirectory("C:\\new\\f"), -1);
  EXPECT_EQ(GetLastError(), kErrorDirectory);
  EXPECT_EQ(RemoveFile("C:\\new"), -1);
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  EXPECT_EQ(RemoveFile("C:\\new\\f"), 0);
  EXPECT_EQ(RemoveDirectory("C:\\new"), 0);
  EXPECT_FALSE(fs::exists(OnC("New")));
  EXPECT_EQ(RemoveDirectory("C:\\"), -1);
}

TEST_F(FileSystemTest, FullPathAndCurrentDirectory) {
  char text[kMaxPath];
  ASSERT_EQ(GetCurrentDirectoryText(text, sizeof text), 0);
  EXPECT_STREQ(text, "C:\\");
  fs::create_directories(OnC("Work/Sub"));
  EXPECT_EQ(SetCurrentDirectoryText("c:\\work\\sub\\"), 0);
  ASSERT_EQ(GetCurrentDirectoryText(text, sizeof text), 0);
  EXPECT_STREQ(text, "C:\\work\\sub");  // names kept as given, the drive letter upper case
  EXPECT_EQ(GetCurrentDirectoryText(text, 5), -1);
  EXPECT_EQ(SetCurrentDirectoryText("C:\\Nowhere"), -1);
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);

  EXPECT_STREQ(FullPath(text, "..\\x/y", sizeof text), "C:\\work\\x\\y");
  EXPECT_STREQ(FullPath(text, "\\top\\", sizeof text), "C:\\top\\");
  EXPECT_STREQ(FullPath(text, "", sizeof text), "C:\\work\\sub");
  EXPECT_EQ(FullPath(text, "C:\\toolong", 8), nullptr);
  EXPECT_EQ(FullPath(text, "\\\\srv\\share", sizeof text), nullptr);
  // Opening through the relative form lands in the current directory.
  FileHandle file = OpenFile("rel.txt", "wb");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->Close(), 0);
  EXPECT_TRUE(fs::exists(OnC("Work/Sub/rel.txt")));
  // A new machine root starts again at C:\.
  SetMachineRoot(root_);
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
  EXPECT_EQ(FindClose(handle), -1);
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
  EXPECT_EQ(FindAll("C:\\inst\\*.TXT"), (Names{"other.txt"}));
  EXPECT_EQ(FindAll("C:\\*"), (Names{"Inst/"}));  // no "." or ".." at a drive root
  FindData data;
  FindHandle handle = FindFirst("C:\\inst\\OTHER.TXT", &data);
  ASSERT_NE(handle, kInvalidFindHandle);
  EXPECT_EQ(data.size, 5u);
  FindClose(handle);
  EXPECT_EQ(FindFirst("C:\\inst\\*.none", &data), kInvalidFindHandle);
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_EQ(FindFirst("C:\\missing\\*", &data), kInvalidFindHandle);
  EXPECT_EQ(GetLastError(), kErrorPathNotFound);
}

// ---- CopyFileA ----

struct CopyCase {
  const char* name;
  const char* source;
  const char* destination;
  bool failIfExists;
  uint32_t error;  // 0: the copy succeeds
};

const CopyCase kCopyCases[] = {
    {"NewDestination", "C:\\src.dat", "C:\\DIR\\new.dat", false, 0},
    {"OverwriteWritable", "C:\\src.dat", "C:\\DIR\\writable.dat", false, 0},
    {"MissingSource", "C:\\none.dat", "C:\\DIR\\new.dat", false, kErrorFileNotFound},
    {"MissingSourceFolder", "C:\\NONE\\x.dat", "C:\\DIR\\new.dat", false, kErrorPathNotFound},
    {"MissingDestinationFolder", "C:\\src.dat", "C:\\NONE\\x.dat", false, kErrorPathNotFound},
    {"ReadOnlyDestination", "C:\\src.dat", "C:\\DIR\\readonly.dat", false, kErrorAccessDenied},
    {"FailIfExists", "C:\\src.dat", "C:\\DIR\\writable.dat", true, kErrorFileExists},
    {"SourceIsFolder", "C:\\DIR", "C:\\new.dat", false, kErrorAccessDenied},
    {"OntoItself", "C:\\src.dat", "C:\\SRC.DAT", false, kErrorSharingViolation},
};

class CopyFileTest : public FileSystemTest, public ::testing::WithParamInterface<CopyCase> {};

TEST_P(CopyFileTest, FollowsWindowsSemantics) {
  const CopyCase& c = GetParam();
  WriteHostFile(OnC("src.dat"), "payload");
  WriteHostFile(OnC("Dir/writable.dat"), "old");
  WriteHostFile(OnC("Dir/readonly.dat"), "old");
  ASSERT_EQ(SetFileWritable("C:\\DIR\\READONLY.DAT", false), 0);
  SetLastError(0);
  bool copied = CopyFileA(c.source, c.destination, c.failIfExists);
  EXPECT_EQ(copied, c.error == 0);
  if (c.error != 0) {
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(ReadHostFile(OnC("Dir/readonly.dat")), "old");
    EXPECT_EQ(ReadHostFile(OnC("src.dat")), "payload");
  } else {
    EXPECT_EQ(ReadHostFile(*HostPathOf(c.destination)), "payload");
  }
}

INSTANTIATE_TEST_SUITE_P(Table, CopyFileTest, ::testing::ValuesIn(kCopyCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FileSystemTest, CopyTakesReadOnlyAttributeOfSource) {
  WriteHostFile(OnC("src"), "x");
  ASSERT_EQ(SetFileWritable("C:\\src", false), 0);
  ASSERT_TRUE(CopyFileA("C:\\src", "C:\\dst", false));
  FileStatus status;
  ASSERT_EQ(GetFileStatus("C:\\dst", &status), 0);
  EXPECT_TRUE(status.readOnly);
}

}  // namespace
}  // namespace qz7::platform
