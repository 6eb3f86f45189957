// ReplaceFile: the one-step replacement that commits of whole files rely on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/win_error.h"
#include "testkit/temp_machine.h"

namespace qz7::platform {
namespace {

TEST(ReplaceFileTest, ReplacesOrRefuses) {
  struct Row {
    const char* name;
    const char* destination;  // written as "old" first when destinationExists
    bool destinationExists;
    bool readOnly;
    int result;
    uint32_t error;
  } rows[] = {
      {"replaces_existing_in_other_case", "C:\\DIR\\Target.DAT", true, false, 0, 0},
      {"creates_missing", "C:\\DIR\\NEW.DAT", false, false, 0, 0},
      {"read_only_destination", "C:\\DIR\\RO.DAT", true, true, -1, kErrorAccessDenied},
      {"directory_destination", "C:\\DIR\\SUB", false, false, -1, kErrorAccessDenied},
      {"missing_folder", "C:\\NOWHERE\\X.DAT", false, false, -1, kErrorPathNotFound},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    testkit::TempMachine machine;
    machine.WriteText("C:\\DIR\\STAGED.TMP", "new");
    machine.MakeDirectory("C:\\DIR\\SUB");
    if (row.destinationExists) {
      machine.WriteText(row.destination, "old");
      if (row.readOnly) {
        ASSERT_EQ(SetFileWritable(row.destination, false), 0);
      }
    }
    // The name is given in another case than the file has on disk.
    std::string given = row.destination;
    for (char& c : given) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(ReplaceFile("C:\\DIR\\staged.tmp", given.c_str()), row.result);
    if (row.result == 0) {
      EXPECT_EQ(machine.ReadFile(row.destination), (std::vector<unsigned char>{'n', 'e', 'w'}));
      EXPECT_FALSE(machine.Exists("C:\\DIR\\STAGED.TMP"));
    } else {
      EXPECT_EQ(GetLastError(), row.error);
      EXPECT_TRUE(machine.Exists("C:\\DIR\\STAGED.TMP"));
      if (row.destinationExists) {
        EXPECT_EQ(machine.ReadFile(row.destination), (std::vector<unsigned char>{'o', 'l', 'd'}));
      }
    }
  }
}

}  // namespace
}  // namespace qz7::platform
