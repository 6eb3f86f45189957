// The file helpers against a real machine root.
#include "util/setup_files.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/fault_injection.h"
#include "platform/file_system.h"
#include "platform/win_error.h"
#include "testkit/temp_machine.h"

namespace qz7::util {
namespace {

class SetupFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine_.WriteText("C:\\INST\\FILE.TXT", "payload");
    machine_.MakeDirectory("C:\\INST\\SUB");
  }
  testkit::TempMachine machine_;
};

TEST_F(SetupFilesTest, KindQueriesWithAndWithoutQuotes) {
  struct Row {
    const char* path;
    int directory;
    int regular;
  } rows[] = {
      {"C:\\INST", 1, 0},
      {"\"C:\\INST\"", 1, 0},
      {"c:\\inst\\sub", 1, 0},
      {"C:\\INST\\FILE.TXT", 0, 1},
      {"\"c:\\inst\\file.txt\"", 0, 1},
      {"C:\\INST\\NONE", 0, 0},
      {"", 0, 0},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(IsDirectory(row.path), row.directory) << row.path;
    EXPECT_EQ(IsRegularFile(row.path), row.regular) << row.path;
  }
}

TEST_F(SetupFilesTest, FileExistsInJoinsOnce) {
  EXPECT_EQ(FileExistsIn("\"C:\\INST\"", "FILE.TXT"), 1);
  EXPECT_EQ(FileExistsIn("C:\\INST\\", "file.txt"), 1);
  EXPECT_EQ(FileExistsIn("C:\\INST", "SUB"), 0);
  EXPECT_EQ(FileExistsIn("C:\\INST", nullptr), 0);
  ASSERT_EQ(platform::SetCurrentDirectoryText("C:\\INST"), 0);
  EXPECT_EQ(FileExistsIn("", "FILE.TXT"), 1);
}

TEST_F(SetupFilesTest, CopySetupFileMapsErrors) {
  machine_.WriteText("C:\\INST\\LOCKED.TXT", "old");
  ASSERT_EQ(platform::SetFileWritable("C:\\INST\\LOCKED.TXT", false), 0);
  struct Row {
    const char* name;
    const char* source;
    const char* destination;
    int result;
  } rows[] = {
      {"copies", "\"C:\\INST\\FILE.TXT\"", "\"C:\\INST\\COPY.TXT\"", 0},
      {"overwrites", "C:\\INST\\FILE.TXT", "C:\\INST\\COPY.TXT", 0},
      {"missing_source", "C:\\INST\\NONE.TXT", "C:\\INST\\X.TXT", 1},
      {"missing_folder", "C:\\INST\\FILE.TXT", "C:\\NOWHERE\\X.TXT", 2},
      {"read_only_destination", "C:\\INST\\FILE.TXT", "C:\\INST\\LOCKED.TXT", 3},
  };
  for (const Row& row : rows)
    EXPECT_EQ(CopySetupFile(row.source, row.destination), row.result) << row.name;
  EXPECT_EQ(machine_.ReadFile("C:\\INST\\COPY.TXT"), machine_.ReadFile("C:\\INST\\FILE.TXT"));
  std::vector<unsigned char> old = {'o', 'l', 'd'};
  EXPECT_EQ(machine_.ReadFile("C:\\INST\\LOCKED.TXT"), old);

  EXPECT_EQ(MakeWritable("\"C:\\INST\\LOCKED.TXT\""), 1);
  EXPECT_EQ(CopySetupFile("C:\\INST\\FILE.TXT", "C:\\INST\\LOCKED.TXT"), 0);
  EXPECT_EQ(MakeWritable("C:\\INST\\NONE.TXT"), 0);
}

TEST_F(SetupFilesTest, FindFreeNumberedNameSkipsFilesAndDirectories) {
  machine_.WriteText("C:\\PROF\\QZ7DAS00", "");
  machine_.MakeDirectory("C:\\PROF\\QZ7DAS01");
  const char* found = FindFreeNumberedName("\"C:\\PROF\"", "QZ7DAS??");
  ASSERT_NE(found, nullptr);
  EXPECT_STREQ(found, "\"C:\\PROF\\QZ7DAS02\"");
  EXPECT_STREQ(FindFreeNumberedName("C:\\PROF\\", "QZ7DAS??"), "C:\\PROF\\QZ7DAS02");
  EXPECT_STREQ(FindFreeNumberedName("C:\\PROF", "????????.???"), "C:\\PROF\\00000000.000");
}

TEST_F(SetupFilesTest, FindFreeNumberedNameStopsAtANameItCannotQuery) {
  platform::FaultPlan plan;
  plan.triggerAt = 1;  // the status query of the first candidate
  plan.error = platform::kErrorAccessDenied;
  platform::SetFaultPlan(plan);
  const char* found = FindFreeNumberedName("C:\\PROF", "QZ7DAS??");
  platform::ClearFaultPlan();
  EXPECT_EQ(found, nullptr);
  plan.repeat = true;  // every query fails: the search must still end
  platform::SetFaultPlan(plan);
  EXPECT_EQ(FindFreeNumberedName("C:\\PROF", "????????.???"), nullptr);
  platform::ClearFaultPlan();
}

TEST_F(SetupFilesTest, FindFreeNumberedNameRunsOut) {
  for (char digit = '0'; digit <= '9'; ++digit) {
    machine_.WriteText(std::string("C:\\FULL\\N") + digit, "");
  }
  EXPECT_EQ(FindFreeNumberedName("C:\\FULL", "N?"), nullptr);
  EXPECT_EQ(FindFreeNumberedName("C:\\FULL", "N5"), nullptr);  // no marks: tried once
  EXPECT_STREQ(FindFreeNumberedName("C:\\FULL", "M5"), "C:\\FULL\\M5");
  EXPECT_EQ(FindFreeNumberedName("C:\\FULL", nullptr), nullptr);
}

}  // namespace
}  // namespace qz7::util
