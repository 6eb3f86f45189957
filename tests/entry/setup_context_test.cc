// Building the setup context: paths and their defaults, marker files, the merge of existing
// instances, the caller's descriptors, the default rule and the one-time initialisation.
#include "entry/setup_context.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "qz7instm.h"
#include "testkit/recording_host.h"
#include "testkit/temp_machine.h"
#include "util/coding.h"

namespace qz7::entry {
namespace {

InstanceDescriptor Descriptor(const char* name, int kind = 0) {
  InstanceDescriptor d{};
  std::memcpy(d.name, name, std::min(std::strlen(name), sizeof d.name - 1));
  std::strcpy(d.account, "acct");
  std::strcpy(d.password, "pw");
  d.kind = kind;
  return d;
}

// The quoted form of a path; nothing stays nothing.
std::string Quoted(const std::string& path) { return path.empty() ? "" : "\"" + path + "\""; }

class SetupContextTest : public ::testing::Test {
 protected:
  void SetUp() override { machine_.MakeDirectory("C:\\INST\\CFG"); }
  void Marker(const char* name) { machine_.WriteText(std::string("C:\\INST\\CFG\\") + name, "m"); }
  void Build(SetupContext& context, const char* current, const char* requested,
             const char* install = "c:\\inst") {
    BuildSetupContext(context, current, requested, install, nullptr, nullptr, nullptr);
  }
  std::vector<std::string> Names(const SetupContext& context) {
    std::vector<std::string> names;
    for (int i = 0; i < context.records.count(); ++i)
      names.push_back(context.records[i].name.c_str());
    return names;
  }

  testkit::TempMachine machine_;
  testkit::RecordingHost host_;
  testkit::ScopedHost scoped_{&host_};
};

// Bad paths (the first rows, so nothing has reached the host yet) end construction quietly.
TEST_F(SetupContextTest, ProfileDirectoriesAndBadPaths) {
  machine_.MakeDirectory("C:\\A");
  machine_.MakeDirectory("C:\\B");
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
      {"equal_but_not_install", "c:\\a", "C:\\A\\", "c:\\inst", "C:\\A", "C:\\A", "C:\\INST"},
      {"different", "c:\\a", "c:\\b", "c:\\inst", "C:\\A", "C:\\B", "C:\\A"},
      {"only_requested", "", "c:\\b", "c:\\inst", "C:\\B", "C:\\B", "C:\\INST"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const bool bad = row.wantTarget.empty();
    SetupContext context;
    Build(context, row.current, row.requested, row.install);
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

TEST_F(SetupContextTest, MarkerTables) {
  struct Row {
    const char* name;
    std::vector<const char*> files;
    int serverType;
    std::string server, admin, partitioned;  // marker names in C:\INST\CFG
  } rows[] = {
      {"none", {}, -1, "", "", ""},
      {"table_order", {"qz7syssr", "qz7syssv"}, 1, "qz7syssv", "", ""},
      {"satellite", {"qz7sysst", "qz7sysrq"}, 5, "qz7sysst", "", ""},
      {"admin_second_row", {"qz7sysrq", "qz7syssr.das"}, 2, "qz7sysrq", "qz7syssr.das", ""},
      {"partitioned_needs_type_1", {"qz7syssr", "qz7sysmp"}, 3, "qz7syssr", "", ""},
      {"partitioned", {"qz7syssv", "qz7sysmp"}, 1, "qz7syssv", "", "qz7sysmp"},
  };
  auto path = [](const std::string& name) {
    return Quoted(name.empty() ? "" : "C:\\INST\\CFG\\" + name);
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
    EXPECT_EQ(context.serverMarkerFile.c_str(), path(row.server));
    EXPECT_EQ(context.adminMarkerFile.c_str(), path(row.admin));
    EXPECT_EQ(context.partitionedMarkerFile.c_str(), path(row.partitioned));
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
  EXPECT_EQ(Names(context), (std::vector<std::string>{"B", "DAS", "A"}));
  EXPECT_EQ(context.adminIndex, 1);
  EXPECT_EQ(context.defaultIndex, 0);
  for (int i = 0; i < context.records.count(); ++i) EXPECT_EQ(context.records[i].nodeType, 1) << i;
}

TEST_F(SetupContextTest, AdminServerIsDroppedWithoutItsMarker) {
  Marker("qz7syssr");
  host_.DefineInstance("DAS");
  host_.DefineInstance("QZ7");
  host_.SetVariable(host::kGlobalProfile, "QZ7ADMINSERVER", "DAS");
  SetupContext context;
  Build(context, nullptr, nullptr);
  EXPECT_EQ(Names(context), std::vector<std::string>{"QZ7"});
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
  std::vector<unsigned char> config(4096, 0);
  config[40] = 4;  // node type 4 in the 16-bit field at offset 40
  machine_.WriteFile("C:\\INST\\MPP\\qz7systm", config);
  SetupContext context;
  Build(context, nullptr, nullptr);
  EXPECT_EQ(Names(context), (std::vector<std::string>{"REMOTE", "MPP"}));
  EXPECT_EQ(context.records[0].ownedElsewhere, 1);
  for (int i = 0; i < context.records.count(); ++i) EXPECT_EQ(context.records[i].nodeType, 4) << i;
  EXPECT_EQ(context.defaultIndex, -1);
}

TEST_F(SetupContextTest, DescriptorForms) {
  InstanceDescriptor admin = Descriptor("");
  admin.isAdminServer = admin.isAddedNode = 1;  // the administration-server flag wins
  InstanceDescriptor node = Descriptor("NODE", 4);
  node.isAddedNode = 1;
  std::strcpy(node.nodeNumber, "3");
  std::strcpy(node.ownerComputer, "OWNERPC");
  InstanceDescriptor mpp = Descriptor("MPPINSTANCE", 4);  // 11 characters: the first 8 count
  mpp.makeDefault = 1;
  std::strcpy(mpp.portRangeStart, "6000");
  InstanceDescriptor plain = Descriptor("PLAIN");
  std::strcpy(plain.portRangeStart, "ignored");
  SetupContext context;
  Build(context, nullptr, nullptr);
  for (InstanceDescriptor* d : {&admin, &node, &mpp, &plain}) AddDescriptor(context, d);
  EXPECT_EQ(Names(context), (std::vector<std::string>{"QZ7DAS00", "NODE", "MPPINSTA", "PLAIN"}));
  EXPECT_EQ(context.adminIndex, 0);
  EXPECT_EQ(context.defaultIndex, 2);
  const InstanceRecord &n = context.records[1], &m = context.records[2], &p = context.records[3];
  EXPECT_EQ(std::make_pair(n.nodeType, n.ownedElsewhere), std::make_pair(4, 1));
  EXPECT_STREQ(n.nodeNumber.c_str(), "3");
  EXPECT_STREQ(n.ownerComputer.c_str(), "OWNERPC");
  EXPECT_EQ(std::make_pair(m.nodeType, m.ownedElsewhere), std::make_pair(4, 0));
  EXPECT_STREQ(m.portRangeStart.c_str(), "6000");
  EXPECT_EQ(p.nodeType, -1);
  EXPECT_STREQ(p.portRangeStart.c_str(), "");
}

TEST_F(SetupContextTest, CreateInstancesToleratesBadArgumentsAndInitialisesOnce) {
  InstanceDescriptor plain = Descriptor("QZ7");
  InstanceDescriptor* onlyNull[] = {nullptr};
  InstanceDescriptor* one[] = {&plain, nullptr};
  // Without an installation the registry cannot be pointed anywhere: -9. The other calls run
  // (the recording host creates no configuration file, so creation reports a failure: 1).
  EXPECT_EQ(createInstances(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), -9);
  EXPECT_EQ(createInstances("", "", "c:\\inst", onlyNull, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(createInstances("c:\\a", "c:\\b", "c:\\inst", one, nullptr, nullptr, nullptr), 1);
  deleteInstances(nullptr, nullptr, nullptr, nullptr, nullptr);
  deleteInstances("", "c:\\inst", nullptr, nullptr, nullptr);
  // The host initialisation ran on the first construction that reached it, and only then.
  EXPECT_TRUE(HostInitialised());
  EXPECT_LE(host_.initAppDataFlags.size(), 1u);
  if (host_.initAppDataFlags.empty()) return;
  EXPECT_EQ(host_.initAppDataFlags[0], 0x68211u);
  EXPECT_EQ(util::LoadLE16(host_.ControlBlock() + 0x136C), 1);
}

}  // namespace
}  // namespace qz7::entry
