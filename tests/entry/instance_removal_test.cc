// Removing every instance: the drops with their instance directories, the registry removal,
// and the upward removal of emptied profile directories.
#include "entry/instance_removal.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qz7instm.h"
#include "testkit/recording_host.h"
#include "testkit/temp_machine.h"

namespace qz7::entry {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

class InstanceRemovalTest : public ::testing::Test {
 protected:
  void WithScan(const std::vector<const char*>& names) {
    context_.existingScan = std::make_unique<ExistingInstanceScan>();
    for (const char* name : names) {
      InstanceRecord record;
      record.name = name;
      context_.existingScan->records.Append(record);
    }
  }

  testkit::TempMachine machine_;
  testkit::RecordingHost host_;
  testkit::ScopedHost scoped_{&host_};
  SetupContext context_;
};

// Every scanned instance is dropped, the administration server and foreign nodes included,
// with its directory quoted exactly when the profile directory is; then the registry goes.
TEST_F(InstanceRemovalTest, DropsEveryScannedInstanceThenTheRegistry) {
  struct Row {
    const char* name;
    const char* target;
    std::vector<std::string> wantDrops;
  } rows[] = {
      {"quoted",
       "\"C:\\P\"",
       {"InstanceDrop(\"QZ7\", \"\"C:\\P\\QZ7\"\")",
        "InstanceDrop(\"QZ7DAS00\", \"\"C:\\P\\QZ7DAS00\"\")"}},
      {"plain",
       "C:\\P",
       {"InstanceDrop(\"QZ7\", \"C:\\P\\QZ7\")",
        "InstanceDrop(\"QZ7DAS00\", \"C:\\P\\QZ7DAS00\")"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    host_.ClearCalls();
    context_.targetProfileDir = row.target;
    WithScan({"QZ7", "QZ7DAS00"});
    RemoveAllInstances(context_);
    EXPECT_THAT(host_.CallsTo("InstanceDrop"), ElementsAreArray(row.wantDrops));
    EXPECT_THAT(host_.CallsTo("PRegProfilePE"), ElementsAre("PRegProfilePE(6, null, -1)"));
    EXPECT_TRUE(host_.registryRemoved());
  }
}

TEST_F(InstanceRemovalTest, WithoutAScanOnlyTheRegistryAndDirectoriesGo) {
  machine_.MakeDirectory("C:\\A\\PROFILES");
  context_.targetProfileDir = "\"C:\\A\\PROFILES\"";
  RemoveAllInstances(context_);
  EXPECT_EQ(host_.CountOf("InstanceDrop"), 0);
  EXPECT_EQ(host_.CountOf("PRegProfilePE"), 1);
  EXPECT_FALSE(machine_.Exists("C:\\A"));
  EXPECT_TRUE(machine_.Exists("C:\\"));
}

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
      {"profile_dir_not_empty",
       "C:\\A\\PROFILES",
       {"C:\\A\\PROFILES\\QZ7\\qz7systm"},
       {},
       {"C:\\A\\PROFILES\\QZ7\\qz7systm"}},
      {"different_case_on_disk", "\"c:\\a\\profiles\"", {}, {"C:\\A\\PROFILES"}, {"C:\\A\\B"}},
      {"no_backslash", "C:", {}, {}, {"C:\\"}},
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
  host_.DefineInstance("QZ7");
  machine_.MakeDirectory("C:\\P");
  for (const char* install : {static_cast<const char*>(nullptr), "", tooLong.c_str()}) {
    deleteInstances("c:\\p", install, nullptr, nullptr, nullptr);
  }
  EXPECT_EQ(host_.CountOf("InstanceDrop"), 0);
  EXPECT_FALSE(host_.registryRemoved());
  EXPECT_TRUE(host_.IsDefined("QZ7"));
  EXPECT_TRUE(machine_.Exists("C:\\P"));
}

}  // namespace
}  // namespace qz7::entry
