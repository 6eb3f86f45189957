// Removing every instance: the upward removal of emptied profile directories, and an uninstall
// call that must remove nothing.
#include "entry/instance_removal.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/profile_registry.h"
#include "qz7instm.h"
#include "testkit/recording_host.h"
#include "testkit/temp_machine.h"

namespace qz7::entry {
namespace {

class InstanceRemovalTest : public ::testing::Test {
 protected:
  testkit::TempMachine machine_;
  testkit::RecordingHost host_;
  testkit::ScopedHost scoped_{&host_};
  SetupContext context_;
};

// Directories are removed upwards until one cannot be removed; a drive root never is.
TEST_F(InstanceRemovalTest, RemovesEmptiedDirectoriesUpwards) {
  struct Row {
    const char* name;
    const char* target;
    std::vector<std::string> files;  // made before the run
    std::vector<std::string> gone, kept;
  } rows[] = {
      {"parent_holds_a_file",
       "\"C:\\A\\B\\PROFILES\"",
       {"C:\\A\\B\\OTHER.TXT"},
       {"C:\\A\\B\\PROFILES"},
       {"C:\\A\\B\\OTHER.TXT", "C:\\A"}},
      {"empty_up_to_a_busy_parent", "C:\\A\\B\\PROFILES", {}, {"C:\\A\\B"}, {"C:\\A"}},
      {"different_case_on_disk", "\"c:\\a\\profiles\"", {}, {"C:\\A\\PROFILES"}, {"C:\\A\\B"}},
      {"drive_root", "\"C:\\\"", {}, {}, {"C:\\"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    testkit::TempMachine machine;
    machine.MakeDirectory("C:\\A\\B\\PROFILES");
    machine.MakeDirectory("C:\\A\\PROFILES");
    for (const std::string& file : row.files) machine.WriteText(file, "x");
    context_.targetProfileDir = row.target;
    RemoveAllInstances(context_);
    for (const std::string& path : row.gone) EXPECT_FALSE(machine.Exists(path)) << path;
    for (const std::string& path : row.kept) EXPECT_TRUE(machine.Exists(path)) << path;
  }
}

// An uninstall call without a usable installation path removes nothing at all.
TEST_F(InstanceRemovalTest, DeleteInstancesWithoutAnInstallationRemovesNothing) {
  const std::string tooLong = "c:\\" + std::string(300, 'x');
  EXPECT_EQ(host::DefineInstance("QZ7"), 0);
  machine_.MakeDirectory("C:\\P");
  for (const char* install : {static_cast<const char*>(nullptr), "", tooLong.c_str()}) {
    deleteInstances("c:\\p", install, nullptr, nullptr, nullptr);
  }
  EXPECT_EQ(host_.CountOf("InstanceDrop"), 0);
  EXPECT_TRUE(host::IsInstanceDefined("QZ7"));
  EXPECT_TRUE(machine_.Exists("C:\\P"));
}

}  // namespace
}  // namespace qz7::entry
