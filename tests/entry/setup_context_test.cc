// Building the setup context: the profile paths, bad paths, and the entry points' bad arguments
// with the one-time initialisation.
#include "entry/setup_context.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/coding.h"
#include "base/quoted_path.h"
#include "host/profile_registry.h"
#include "qz7instm.h"
#include "testkit/dbm_block_builder.h"
#include "testkit/recording_host.h"
#include "testkit/scenario_machines.h"
#include "testkit/temp_machine.h"

namespace qz7::entry {
namespace {

// The quoted form of a path; nothing stays nothing.
std::string Quoted(const std::string& path) { return path.empty() ? "" : "\"" + path + "\""; }

class SetupContextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* dir : {"C:\\INST\\CFG", "C:\\A", "C:\\B"}) machine_.MakeDirectory(dir);
  }
  testkit::TempMachine machine_;
  testkit::RecordingHost host_;
  testkit::ScopedHost scoped_{&host_};
};

// Bad paths (the first rows, so nothing has reached the host yet) end construction quietly.
TEST_F(SetupContextTest, ProfileDirectoriesAndBadPaths) {
  const std::string tooLong = "c:\\" + std::string(300, 'x');
  struct Row {
    const char *name, *current, *requested, *install;
    std::string wantCurrent, wantRequested, wantTarget;  // unquoted; empty: left empty
  } rows[] = {
      {"null_install", nullptr, nullptr, nullptr, "", "", ""},
      {"empty_install", "c:\\a", nullptr, "", "C:\\A", "", ""},
      {"overlong_current", tooLong.c_str(), nullptr, "c:\\inst", "", "", ""},
      {"overlong_install", "c:\\a", nullptr, tooLong.c_str(), "C:\\A", "", ""},
      {"both_empty", "", nullptr, "c:\\inst", "C:\\INST", "C:\\INST", "C:\\INST"},
      {"different", "c:\\a", "c:\\b", "c:\\inst", "C:\\A", "C:\\B", "C:\\A"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const bool bad = row.wantTarget.empty();
    SetupContext context;
    BuildSetupContext(context, row.current, row.requested, row.install, nullptr, nullptr, nullptr);
    EXPECT_EQ(context.currentProfileDir.c_str(), Quoted(row.wantCurrent));
    EXPECT_EQ(context.requestedProfileDir.c_str(), Quoted(row.wantRequested));
    EXPECT_EQ(context.targetProfileDir.c_str(), Quoted(row.wantTarget));
    EXPECT_EQ(context.installDir.c_str(), Quoted(bad ? "" : "C:\\INST"));
    EXPECT_EQ(context.existingScan == nullptr, bad);
    if (!bad) continue;
    EXPECT_EQ(context.serverType, -1);
    EXPECT_EQ(context.records.count(), 0);
    EXPECT_TRUE(host_.calls().empty());
  }
}

// What the installation's marker files and the found instances make of the context: the
// first marker of each table that exists wins, qz7sysmp counts only for server type 1, a node
// owned by another computer is carried only with qz7sysmp, the administration server only with
// its marker, and every carried type but a partitioned one (with qz7sysmp) becomes the server
// type. Then the caller's descriptors: an added node, and one flagged both ways (the
// administration server wins).
TEST_F(SetupContextTest, MarkersMergeAndDescriptors) {
  std::ofstream(machine_.root() + "/computer.txt") << "TESTPC\n";
  machine_.MakeDirectory("C:\\A\\MPP");
  machine_.WriteFile("C:\\A\\MPP\\qz7systm", testkit::DbmBlockBuilder().NodeType(4).Bytes());
  for (const char* name : {"QZ7", "DAS", "REMOTE", "MPP"}) {
    ASSERT_EQ(host::DefineInstance(name), 0);
  }
  for (const char* name : {"REMOTE", "MPP"}) {
    ASSERT_EQ(host::WriteProfileVariable(name, "QZ7PORTRANGE", "6000:6003"), 0);
  }
  ASSERT_EQ(host::WriteProfileVariable("REMOTE", "QZ7INSTOWNER", "OTHERPC"), 0);
  ASSERT_EQ(host::WriteProfileVariable("MPP", "QZ7INSTOWNER", "TESTPC"), 0);
  ASSERT_EQ(host::WriteProfileVariable(host::kGlobalProfile, "QZ7ADMINSERVER", "DAS"), 0);
  const InstanceDescriptor both = [] {
    InstanceDescriptor descriptor = testkit::AddedNodeDescriptor("BOTH", "5", "PCB");
    descriptor.isAdminServer = 1;
    return descriptor;
  }();
  struct Row {
    const char* name;
    std::vector<const char*> markers;
    std::vector<InstanceDescriptor> descriptors;
    int32_t serverType;
    const char *adminMarker, *partitionedMarker;  // file names, "" for none
    // The records, "NAME type" with " elsewhere NODE OWNER" for a node of another computer;
    // the administration server's marked "*".
    std::vector<std::string> records;
  } rows[] = {
      // clang-format off
      {"server table order", {"qz7sysrq", "qz7sysst", "qz7syssr", "qz7sysmp"}, {}, 3, "", "",
       {"MPP 3", "QZ7 3"}},
      {"server table order, last two", {"qz7sysrq", "qz7sysst"}, {}, 5, "", "",
       {"MPP 5", "QZ7 5"}},
      {"qz7sysmp with server type 1", {"qz7syssv", "qz7sysmp"}, {}, 1, "", "qz7sysmp",
       {"MPP 4", "REMOTE 4 elsewhere  ", "QZ7 1"}},
      {"admin table order", {"qz7syssv", "qz7syssr.das", "qz7syssv.das"}, {}, 1, "qz7syssv.das",
       "", {"MPP 1", "DAS 1 *", "QZ7 1"}},
      {"descriptors", {"qz7sysrq", "qz7syssr.das"},
       {testkit::AddedNodeDescriptor("NODE1", "3", "PCX"), both}, 2, "qz7syssr.das", "",
       {"MPP 2", "BOTH -1 *", "QZ7 2", "NODE1 4 elsewhere 3 PCX"}},
      // clang-format on
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::filesystem::remove_all(machine_.HostPath("C:\\INST\\CFG"));
    machine_.MakeDirectory("C:\\INST\\CFG");
    for (const char* marker : row.markers) {
      machine_.WriteFile(std::string("C:\\INST\\CFG\\") + marker,
                         testkit::DbmBlockBuilder().Version(0x900).Bytes());
    }
    SetupContext context;
    BuildSetupContext(context, "c:\\a", "c:\\a", "c:\\inst", nullptr, nullptr, nullptr);
    for (const InstanceDescriptor& descriptor : row.descriptors)
      AddDescriptor(context, &descriptor);
    EXPECT_EQ(context.serverType, row.serverType);
    const auto marker = [](const util::FixedText<kContextPathSize>& path) {
      return path.empty() ? std::string() : util::LastComponent(path.c_str());
    };
    EXPECT_EQ(marker(context.adminMarkerFile), row.adminMarker);
    EXPECT_EQ(marker(context.partitionedMarkerFile), row.partitionedMarker);
    std::vector<std::string> records;
    for (int32_t i = 0; i < context.records.count(); ++i) {
      const InstanceRecord& record = context.records[i];
      std::string text = std::string(record.name.c_str()) + " " + std::to_string(record.nodeType);
      if (record.ownedElsewhere != 0) {
        text += std::string(" elsewhere ") + record.nodeNumber.c_str() + " " +
                record.ownerComputer.c_str();
      }
      if (i == context.adminIndex) text += " *";
      records.push_back(text);
    }
    EXPECT_EQ(records, row.records);
  }
}

TEST_F(SetupContextTest, CreateInstancesToleratesBadArgumentsAndInitialisesOnce) {
  InstanceDescriptor plain{};
  std::strcpy(plain.name, "QZ7");
  InstanceDescriptor* onlyNull[] = {nullptr};
  InstanceDescriptor* one[] = {&plain, nullptr};
  // Without an installation the registry cannot be pointed anywhere: -9. The other calls run
  // (the installation has no templates, so creation reports a failure: 1).
  EXPECT_EQ(createInstances(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), -9);
  EXPECT_EQ(createInstances("", "", "c:\\inst", onlyNull, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(createInstances("c:\\a", "c:\\b", "c:\\inst", one, nullptr, nullptr, nullptr), 1);
  deleteInstances(nullptr, nullptr, nullptr, nullptr, nullptr);
  deleteInstances("", "c:\\inst", nullptr, nullptr, nullptr);
  // The host initialisation ran on the first construction that reached it, and only then.
  EXPECT_TRUE(HostInitialised());
  EXPECT_LE(host_.CountOf("CreateInitAppData"), 1);
  if (host_.CountOf("CreateInitAppData") == 0) return;
  EXPECT_EQ(util::LoadLE32(host_.ControlBlock()), 0x68211u);
  EXPECT_EQ(util::LoadLE16(host_.ControlBlock() + 0x136C), 1);
}

}  // namespace
}  // namespace qz7::entry
