// Drives, the computer name, the environment and the code page of the machine root.
#include "platform/drives.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/codepage.h"
#include "platform/computer.h"
#include "platform/environment.h"
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
  const char kExpected[] = "C:\\\0D:\\\0E:\\\0";
  ASSERT_EQ(GetLogicalDriveStringsA(sizeof buffer, buffer), 12u);
  EXPECT_EQ(std::string(buffer, 13), std::string(kExpected, 13));
  EXPECT_EQ(GetLogicalDriveStringsA(12, buffer), 13u);  // the size needed, with the last NUL
}

struct DriveTypeCase {
  const char* name;
  const char* root;
  uint32_t type;
};

const DriveTypeCase kDriveTypes[] = {
    {"FixedByDefault", "C:\\", kDriveFixed},   {"Removable", "D:\\", kDriveRemovable},
    {"CdromLowerCaseLine", "e:", kDriveCdrom}, {"MalformedLineLeavesFixed", "G:\\", kDriveFixed},
    {"NoSuchDrive", "Q:\\", kDriveNoRootDir},  {"NotARoot", "C:\\DIR", kDriveNoRootDir},
};

class DriveTypeTest : public DrivesTest, public ::testing::WithParamInterface<DriveTypeCase> {};

TEST_P(DriveTypeTest, ReadsDriveTypes) {
  for (const char* letter : {"d", "e", "g"}) fs::create_directories(root_ + "/drives/" + letter);
  WriteHostFile(root_ + "/drivetypes.txt",
                "# declared drives\r\nD: removable\r\ne:\\ CDROM\nG: floppy\n\nG:\n");
  EXPECT_EQ(GetDriveTypeA(GetParam().root), GetParam().type);
}

INSTANTIATE_TEST_SUITE_P(Table, DriveTypeTest, ::testing::ValuesIn(kDriveTypes),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DrivesTest, ComputerNameFromMachineRootInUpperCase) {
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

TEST_F(DrivesTest, ComputerNameFallsBackToHostName) {
  char name[16];
  uint32_t size = sizeof name;
  ASSERT_TRUE(GetComputerNameA(name, &size));
  EXPECT_GT(size, 0u);
  for (const char* p = name; *p != '\0'; ++p) EXPECT_FALSE(*p >= 'a' && *p <= 'z') << name;
  EXPECT_GE(ProcessorCount(), 1u);
}

TEST_F(DrivesTest, EnvironmentLikeWindows) {
  ASSERT_TRUE(SetEnvironmentVariableA("Qz7_Test_Var", "value"));
  char buffer[8];
  EXPECT_EQ(GetEnvironmentVariableA("QZ7_TEST_VAR", buffer, sizeof buffer), 5u);  // case-blind
  EXPECT_STREQ(buffer, "value");
  EXPECT_EQ(GetEnvironmentVariableA("Qz7_Test_Var", buffer, 5), 6u);  // size with the NUL
  ASSERT_TRUE(SetEnvironmentVariableA("QZ7_TEST_VAR", "v2"));         // replaces, not adds
  EXPECT_EQ(std::string(getenv("Qz7_Test_Var")), "v2");
  EXPECT_EQ(getenv("QZ7_TEST_VAR"), nullptr);
  ASSERT_TRUE(SetEnvironmentVariableA("qz7_test_var", nullptr));
  EXPECT_EQ(GetEnvironmentVariableA("Qz7_Test_Var", buffer, sizeof buffer), 0u);
  EXPECT_EQ(GetLastError(), kErrorEnvVarNotFound);
  EXPECT_FALSE(SetEnvironmentVariableA("A=B", "x"));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
}

struct CharacterCase {
  const char* name;
  unsigned codePage;
  const char* text;
  size_t available;
  int length;
};

const CharacterCase kCharacters[] = {
    {"Terminator", 932, "", 1, 0},
    {"Ascii", 932, "A", 1, 1},
    {"DoubleByte", 932, "\x95\x5C", 2, 2},
    {"TruncatedDoubleByte", 932, "\x95\x5C", 1, -1},
    {"BadTrailByte", 932, "\x95\x20", 2, -1},
    {"NotACharacter", 932, "\xA0", 1, -1},
    {"HalfWidthKatakana", 932, "\xB1", 1, 1},
    {"SingleByteCodePage", 1252, "\x95\x5C", 2, 1},
    {"SingleByteHighByte", 1252, "\xFF", 1, 1},
};

class CodePageTest : public DrivesTest, public ::testing::WithParamInterface<CharacterCase> {};

TEST_P(CodePageTest, CharacterLength) {
  const CharacterCase& c = GetParam();
  SetActiveCodePage(c.codePage);
  EXPECT_EQ(CharacterLength(c.text, c.available), c.length);
}

INSTANTIATE_TEST_SUITE_P(Table, CodePageTest, ::testing::ValuesIn(kCharacters),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DrivesTest, CodePageFromMachineRoot) {
  EXPECT_EQ(ActiveCodePage(), 1252u);
  WriteHostFile(root_ + "/codepage.txt", "932\n");
  SetMachineRoot(root_);  // the setting is read once per machine root
  SetActiveCodePage(0);
  EXPECT_EQ(ActiveCodePage(), 932u);
  EXPECT_TRUE(IsLeadByte(0x81));
  SetActiveCodePage(1252);
  EXPECT_FALSE(IsLeadByte(0x81));
}

}  // namespace
}  // namespace qz7::platform
