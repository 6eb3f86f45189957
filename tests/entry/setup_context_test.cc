// Building the setup context: paths and their defaults, marker files, the merge of existing
// instances, the caller's descriptors, the default rule and the one-time initialisation.
#include "entry/setup_context.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "qz7instm.h"
#include "testkit/recording_host.h"
#include "testkit/temp_machine.h"
#include "util/coding.h"

namespace qz7::entry {
namespace {

InstanceDescriptor Descriptor(const char* name) {
  InstanceDescriptor d;
  std::memset(&d, 0, sizeof d);
  std::memcpy(d.name, name, std::min(std::strlen(name), sizeof d.name - 1));
  std::strcpy(d.account, "acct");
  std::strcpy(d.password, "pw");
  return d;
}

class SetupContextTest : public ::testing::Test {
 protected:
  void SetUp() override { machine_.MakeDirectory("C:\\INST\\CFG"); }
  void Marker(const char* name) { machine_.WriteText(std::string("C:\\INST\\CFG\\") + name, "m"); }
  void Build(SetupContext& context, const char* current, const char* requested,
             const char* install = "c:\\inst") {
    BuildSetupContext(context, current, requested, install, nullptr, nullptr, nullptr);
  }

  testkit::TempMachine machine_;
  testkit::RecordingHost host_;
  testkit::ScopedHost scoped_{&host_};
};

TEST_F(SetupContextTest, ProfileDirectoryDefaults) {
  machine_.MakeDirectory("C:\\A");
  machine_.MakeDirectory("C:\\B");
  struct Row {
    const char* name;
    const char* current;
    const char* requested;
    const char* wantCurrent;
    const char* wantRequested;
    const char* wantTarget;
  } rows[] = {
      {"both_empty", "", nullptr, "\"C:\\INST\"", "\"C:\\INST\"", "\"C:\\INST\""},
      {"equal_but_not_install", "c:\\a", "C:\\A\\", "\"C:\\A\"", "\"C:\\A\"", "\"C:\\INST\""},
      {"different", "c:\\a", "c:\\b", "\"C:\\A\"", "\"C:\\B\"", "\"C:\\A\""},
      {"only_requested", "", "c:\\b", "\"C:\\B\"", "\"C:\\B\"", "\"C:\\INST\""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SetupContext context;
    Build(context, row.current, row.requested);
    EXPECT_STREQ(context.installDir.c_str(), "\"C:\\INST\"");
    EXPECT_STREQ(context.currentProfileDir.c_str(), row.wantCurrent);
    EXPECT_STREQ(context.requestedProfileDir.c_str(), row.wantRequested);
    EXPECT_STREQ(context.targetProfileDir.c_str(), row.wantTarget);
    ASSERT_NE(context.existingScan, nullptr);
  }
}

TEST_F(SetupContextTest, BadPathsEndConstructionQuietly) {
  const std::string tooLong = "c:\\" + std::string(300, 'x');
  struct Row {
    const char* name;
    const char* current;
    const char* install;
    const char* wantCurrent;
  } rows[] = {
      {"null_install", nullptr, nullptr, ""},
      {"empty_install", "c:\\a", "", "\"C:\\A\""},
      {"overlong_current", tooLong.c_str(), "c:\\inst", ""},
      {"overlong_install", "c:\\a", tooLong.c_str(), "\"C:\\A\""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SetupContext context;
    Build(context, row.current, nullptr, row.install);
    EXPECT_STREQ(context.currentProfileDir.c_str(), row.wantCurrent);
    EXPECT_STREQ(context.installDir.c_str(), "");
    EXPECT_STREQ(context.targetProfileDir.c_str(), "");
    EXPECT_EQ(context.existingScan, nullptr);
    EXPECT_EQ(context.serverType, -1);
    EXPECT_EQ(context.records.count(), 0);
  }
  EXPECT_EQ(host_.calls().size(), 0u) << "nothing reached the host";
}

TEST_F(SetupContextTest, MarkerTables) {
  struct Row {
    const char* name;
    std::vector<const char*> files;
    int serverType;
    const char* server;
    const char* admin;
    const char* partitioned;
  } rows[] = {
      {"none", {}, -1, "", "", ""},
      {"table_order", {"qz7syssr", "qz7syssv"}, 1, "\"C:\\INST\\CFG\\qz7syssv\"", "", ""},
      {"satellite", {"qz7sysst", "qz7sysrq"}, 5, "\"C:\\INST\\CFG\\qz7sysst\"", "", ""},
      {"admin_second_row",
       {"qz7sysrq", "qz7syssr.das"},
       2,
       "\"C:\\INST\\CFG\\qz7sysrq\"",
       "\"C:\\INST\\CFG\\qz7syssr.das\"",
       ""},
      {"partitioned_needs_type_1",
       {"qz7syssr", "qz7sysmp"},
       3,
       "\"C:\\INST\\CFG\\qz7syssr\"",
       "",
       ""},
      {"partitioned",
       {"qz7syssv", "qz7sysmp"},
       1,
       "\"C:\\INST\\CFG\\qz7syssv\"",
       "",
       "\"C:\\INST\\CFG\\qz7sysmp\""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    testkit::TempMachine machine;
    machine.MakeDirectory("C:\\INST\\CFG\\qz7syssv.das");  // a directory is not a marker
    for (const char* file : row.files)
      machine.WriteText(std::string("C:\\INST\\CFG\\") + file, "m");
    SetupContext context;
    Build(context, nullptr, nullptr);
    EXPECT_EQ(context.serverType, row.serverType);
    EXPECT_STREQ(context.serverMarkerFile.c_str(), row.server);
    EXPECT_STREQ(context.adminMarkerFile.c_str(), row.admin);
    EXPECT_STREQ(context.partitionedMarkerFile.c_str(), row.partitioned);
  }
}

TEST_F(SetupContextTest, MergesExistingInstances) {
  Marker("qz7syssv");
  Marker("qz7syssv.das");
  for (const char* name : {"A", "DAS", "REMOTE", "B"}) host_.DefineInstance(name);
  host_.SetVariable(host::kGlobalProfile, "QZ7ADMINSERVER", "DAS");
  host_.SetVariable(host::kGlobalProfile, "QZ7INSTDEF", "B");
  host_.SetVariable("REMOTE", "QZ7PORTRANGE", "1:2");
  host_.SetVariable("REMOTE", "QZ7INSTOWNER", "ELSEWHERE");

  SetupContext context;
  Build(context, nullptr, nullptr);
  // Walked from the last scanned record to the first; the remote node is left out without
  // the partitioned marker.
  ASSERT_EQ(context.records.count(), 3);
  EXPECT_STREQ(context.records[0].name.c_str(), "B");
  EXPECT_STREQ(context.records[1].name.c_str(), "DAS");
  EXPECT_STREQ(context.records[2].name.c_str(), "A");
  EXPECT_EQ(context.adminIndex, 1);
  EXPECT_EQ(context.defaultIndex, 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(context.records[i].nodeType, 1) << i;
}

TEST_F(SetupContextTest, AdminServerIsDroppedWithoutItsMarker) {
  Marker("qz7syssr");
  host_.DefineInstance("DAS");
  host_.DefineInstance("QZ7");
  host_.SetVariable(host::kGlobalProfile, "QZ7ADMINSERVER", "DAS");
  SetupContext context;
  Build(context, nullptr, nullptr);
  ASSERT_EQ(context.records.count(), 1);
  EXPECT_STREQ(context.records[0].name.c_str(), "QZ7");
  EXPECT_EQ(context.adminIndex, -1);
  EXPECT_EQ(context.defaultIndex, 0);  // the scan's default, and the single-record rule
  EXPECT_EQ(context.records[0].nodeType, 3);
}

TEST_F(SetupContextTest, PartitionedRecordsKeepTheirType) {
  Marker("qz7syssv");
  Marker("qz7sysmp");
  host_.DefineInstance("MPP");
  host_.DefineInstance("REMOTE");
  host_.SetVariable("REMOTE", "QZ7PORTRANGE", "1:2");
  machine_.WriteFile("C:\\INST\\MPP\\qz7systm", [] {
    std::vector<unsigned char> block(4096, 0);
    util::StoreLE16(block.data() + 40, 4);
    return block;
  }());
  SetupContext context;
  Build(context, nullptr, nullptr);
  ASSERT_EQ(context.records.count(), 2);
  EXPECT_STREQ(context.records[0].name.c_str(), "REMOTE");
  EXPECT_EQ(context.records[0].nodeType, 4);
  EXPECT_EQ(context.records[0].ownedElsewhere, 1);
  EXPECT_EQ(context.records[1].nodeType, 4);
  EXPECT_EQ(context.defaultIndex, -1);
}

TEST_F(SetupContextTest, DescriptorForms) {
  InstanceDescriptor admin = Descriptor("");
  admin.isAdminServer = 1;
  admin.isAddedNode = 1;  // the administration-server flag wins
  InstanceDescriptor node = Descriptor("NODE");
  node.isAddedNode = 1;
  node.kind = 4;
  std::strcpy(node.nodeNumber, "3");
  std::strcpy(node.ownerComputer, "OWNERPC");
  InstanceDescriptor mpp = Descriptor("MPPINSTANCE");  // 11 characters: the first 8 count
  mpp.kind = 4;
  mpp.makeDefault = 1;
  std::strcpy(mpp.portRangeStart, "6000");
  std::strcpy(mpp.portRangeEnd, "6003");
  std::strcpy(mpp.hostName, "host.example");
  InstanceDescriptor plain = Descriptor("PLAIN");
  std::strcpy(plain.portRangeStart, "ignored");

  SetupContext context;
  Build(context, nullptr, nullptr);
  for (InstanceDescriptor* d : {&admin, &node, &mpp, &plain}) AddDescriptor(context, d);
  ASSERT_EQ(context.records.count(), 4);
  EXPECT_EQ(context.adminIndex, 0);
  EXPECT_STREQ(context.records[0].name.c_str(), "QZ7DAS00");
  EXPECT_EQ(context.records[1].nodeType, 4);
  EXPECT_EQ(context.records[1].ownedElsewhere, 1);
  EXPECT_STREQ(context.records[1].nodeNumber.c_str(), "3");
  EXPECT_STREQ(context.records[1].ownerComputer.c_str(), "OWNERPC");
  EXPECT_STREQ(context.records[2].name.c_str(), "MPPINSTA");
  EXPECT_EQ(context.records[2].nodeType, 4);
  EXPECT_EQ(context.records[2].ownedElsewhere, 0);
  EXPECT_STREQ(context.records[2].hostName.c_str(), "host.example");
  EXPECT_EQ(context.defaultIndex, 2);
  EXPECT_EQ(context.records[3].nodeType, -1);
  EXPECT_STREQ(context.records[3].portRangeStart.c_str(), "");
}

TEST_F(SetupContextTest, CreateInstancesToleratesBadArgumentsAndInitialisesOnce) {
  InstanceDescriptor plain = Descriptor("QZ7");
  InstanceDescriptor* onlyNull[] = {nullptr};
  InstanceDescriptor* one[] = {&plain, nullptr};
  EXPECT_EQ(createInstances(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(createInstances("", "", "c:\\inst", onlyNull, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(createInstances("c:\\a", "c:\\b", "c:\\inst", one, nullptr, nullptr, nullptr), 0);
  deleteInstances(nullptr, nullptr, nullptr, nullptr, nullptr);
  deleteInstances("", "c:\\inst", nullptr, nullptr, nullptr);
  // The host initialisation ran on the first construction that reached it, and only then.
  EXPECT_TRUE(HostInitialised());
  EXPECT_LE(host_.initAppDataFlags.size(), 1u);
  if (!host_.initAppDataFlags.empty()) {
    EXPECT_EQ(host_.initAppDataFlags[0], 0x68211u);
    EXPECT_EQ(util::LoadLE16(host_.ControlBlock() + 0x136C), 1);
  }
}

}  // namespace
}  // namespace qz7::entry
