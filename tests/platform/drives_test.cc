// Drives, the computer name, the environment and the code page of the machine root.
#include "platform/drives.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/codepage.h"
#include "platform/computer.h"
#include "platform/win_error.h"
#include "tests/platform/machine_fixture.h"

namespace qz7::platform {
namespace {

namespace fs = std::filesystem;

class DrivesTest : public MachineFixture {};

TEST_F(DrivesTest, LogicalDriveStringsInLetterOrder) {
  fs::create_directories(root_ + "/drives/e");
  fs::create_directory_symlink(root_ + "/drives/e", root_ + "/drives/d");
  WriteHostFile(root_ + "/drives/f", "a file is no drive");
  fs::create_directories(root_ + "/drives/notes");
  char buffer[32];
  ASSERT_EQ(GetLogicalDriveStringsA(sizeof buffer, buffer), 12u);
  EXPECT_EQ(std::string(buffer, 13), std::string("C:\\\0D:\\\0E:\\\0", 13));
  EXPECT_EQ(GetLogicalDriveStringsA(12, buffer), 13u);  // the size needed, with the last NUL
}

TEST_F(DrivesTest, DriveTypesFromMachineRoot) {
  for (const char* letter : {"d", "e", "g"}) fs::create_directories(root_ + "/drives/" + letter);
  WriteHostFile(root_ + "/drivetypes.txt",
                "# declared drives\r\nD: removable\r\ne:\\ CDROM\nG: floppy\n\nG:\n");
  struct Row {
    const char* name;
    const char* root;
    uint32_t type;
  };
  const Row rows[] = {
      {"FixedByDefault", "C:\\", kDriveFixed},   {"Removable", "D:\\", kDriveRemovable},
      {"CdromLowerCaseLine", "e:", kDriveCdrom}, {"MalformedLineLeavesFixed", "G:\\", kDriveFixed},
      {"NoSuchDrive", "Q:\\", kDriveNoRootDir},  {"NotARoot", "C:\\DIR", kDriveNoRootDir}};
  for (const Row& row : rows) EXPECT_EQ(GetDriveTypeA(row.root), row.type) << row.name;
}

TEST_F(DrivesTest, ComputerNameInUpperCase) {
  WriteHostFile(root_ + "/computer.txt", "  dbHost7 \r\nsecond line\n");
  char name[16];
  uint32_t size = sizeof name;
  ASSERT_TRUE(GetComputerNameA(name, &size));
  EXPECT_STREQ(name, "DBHOST7");
  EXPECT_EQ(size, 7u);
  size = 7;  // no room for the NUL
  EXPECT_FALSE(GetComputerNameA(name, &size));
  EXPECT_EQ(GetLastError(), kErrorBufferOverflow);
  EXPECT_EQ(size, 8u);
}

TEST_F(DrivesTest, CodePageFromMachineRootAndCharacterLengths) {
  EXPECT_EQ(ActiveCodePage(), 1252u);
  WriteHostFile(root_ + "/codepage.txt", "932\n");
  SetMachineRoot(root_);  // the setting is read once per machine root
  SetActiveCodePage(0);
  EXPECT_EQ(ActiveCodePage(), 932u);
  struct Row {
    const char* name;
    unsigned codePage;
    const char* text;
    size_t available;
    int length;
  };
  const Row rows[] = {
      {"DoubleByte", 932, "\x95\x5C", 2, 2},    {"TruncatedDoubleByte", 932, "\x95\x5C", 1, -1},
      {"BadTrailByte", 932, "\x95\x20", 2, -1}, {"NotACharacter", 932, "\xA0", 1, -1},
      {"HalfWidthKatakana", 932, "\xB1", 1, 1}, {"SingleByteCodePage", 1252, "\x95\x5C", 2, 1},
  };
  for (const Row& row : rows) {
    SetActiveCodePage(row.codePage);
    EXPECT_EQ(CharacterLength(row.text, row.available), row.length) << row.name;
    EXPECT_EQ(IsLeadByte(0x95), row.codePage == 932) << row.name;
  }
}

}  // namespace
}  // namespace qz7::platform
