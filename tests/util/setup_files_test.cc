// The file helpers against a real machine root.
#include "util/setup_files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
  for (const char* dir : {"C:\\INST", "\"C:\\INST\"", "c:\\inst\\sub"})
    EXPECT_TRUE(IsDirectory(dir) == 1 && IsRegularFile(dir) == 0) << dir;
  for (const char* file : {"C:\\INST\\FILE.TXT", "\"c:\\inst\\file.txt\""})
    EXPECT_TRUE(IsDirectory(file) == 0 && IsRegularFile(file) == 1) << file;
  for (const char* none : {"C:\\INST\\NONE", ""})
    EXPECT_TRUE(IsDirectory(none) == 0 && IsRegularFile(none) == 0) << none;
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
    const char *name, *source, *destination;
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
  EXPECT_EQ(machine_.ReadFile("C:\\INST\\LOCKED.TXT"), (std::vector<unsigned char>{'o', 'l', 'd'}));

  EXPECT_EQ(MakeWritable("\"C:\\INST\\LOCKED.TXT\""), 1);
  EXPECT_EQ(CopySetupFile("C:\\INST\\FILE.TXT", "C:\\INST\\LOCKED.TXT"), 0);
  EXPECT_EQ(MakeWritable("C:\\INST\\NONE.TXT"), 0);
}

TEST_F(SetupFilesTest, FindFreeNumberedName) {
  machine_.WriteText("C:\\PROF\\QZ7DAS00", "");
  machine_.MakeDirectory("C:\\PROF\\QZ7DAS01");
  for (char digit = '0'; digit <= '9'; ++digit)
    machine_.WriteText(std::string("C:\\FULL\\N") + digit, "");
  struct Row {
    const char *name, *directory, *pattern, *expected;  // null: nothing free
  } rows[] = {
      {"file_and_directory_skipped", "\"C:\\PROF\"", "QZ7DAS??", "\"C:\\PROF\\QZ7DAS02\""},
      {"trailing_backslash", "C:\\PROF\\", "QZ7DAS??", "C:\\PROF\\QZ7DAS02"},
      {"temporary_name", "C:\\PROF", "????????.???", "C:\\PROF\\00000000.000"},
      {"runs_out", "C:\\FULL", "N?", nullptr},
      {"no_marks_taken", "C:\\FULL", "N5", nullptr},
      {"no_marks_free", "C:\\FULL", "M5", "C:\\FULL\\M5"},
      {"no_pattern", "C:\\FULL", nullptr, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_STREQ(FindFreeNumberedName(row.directory, row.pattern), row.expected);
  }

  // A name that cannot be queried (the status query of the first candidate fails) ends the
  // search, and so does a failure on every query.
  for (bool repeat : {false, true}) {
    platform::SetFaultPlan(
        {.triggerAt = 1, .error = platform::kErrorAccessDenied, .repeat = repeat});
    const char* found = FindFreeNumberedName("C:\\PROF", repeat ? "????????.???" : "QZ7DAS??");
    platform::ClearFaultPlan();
    EXPECT_EQ(found, nullptr) << repeat;
  }
}

}  // namespace
}  // namespace qz7::util
