// Building the setup context: the profile paths, bad paths, discovery from the old index file
// and from the profile registry with the configuration files read by bytes, the add rules of its
// list, the entry points' bad arguments with the one-time initialisation, and the upward removal
// of emptied profile directories.
#include "entry/setup_context.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/coding.h"
#include "base/quoted_path.h"
#include "entry/existing_instance_scan.h"
#include "entry/instance_removal.h"
#include "host/profile_registry.h"
#include "qz7instm.h"
#include "testkit/dbm_block_builder.h"
#include "testkit/instance_index_builder.h"
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
  // An uninstall call without a usable installation path removes nothing at all.
  ASSERT_EQ(host::DefineInstance("KEPT"), 0);
  machine_.MakeDirectory("C:\\P");
  const std::string tooLong = "c:\\" + std::string(300, 'x');
  for (const char* install : {static_cast<const char*>(nullptr), "", tooLong.c_str()}) {
    deleteInstances("c:\\p", install, nullptr, nullptr, nullptr);
  }
  deleteInstances(nullptr, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(host_.CountOf("InstanceDrop"), 0);
  EXPECT_TRUE(host::IsInstanceDefined("KEPT"));
  EXPECT_TRUE(machine_.Exists("C:\\P"));
  // Without an installation the registry cannot be pointed anywhere: -9. The other calls run
  // (the installation has no templates, so creation reports a failure: 1).
  EXPECT_EQ(createInstances(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), -9);
  EXPECT_EQ(createInstances("", "", "c:\\inst", onlyNull, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(createInstances("c:\\a", "c:\\b", "c:\\inst", one, nullptr, nullptr, nullptr), 1);
  deleteInstances("", "c:\\inst", nullptr, nullptr, nullptr);
  // The host initialisation ran on the first construction that reached it, and only then.
  EXPECT_TRUE(HostInitialised());
  EXPECT_LE(host_.CountOf("CreateInitAppData"), 1);
  if (host_.CountOf("CreateInitAppData") == 0) return;
  EXPECT_EQ(util::LoadLE32(host_.ControlBlock()), 0x68211u);
  EXPECT_EQ(util::LoadLE16(host_.ControlBlock() + 0x136C), 1);
}

InstanceRecord Plain(const char* name) {
  InstanceRecord record;
  FillPlainRecord(record, name, "acct", "pw");
  return record;
}

// A record whose name is already listed (without regard to case) replaces it and keeps its
// profile directory; the default mark follows the last add of the name.
TEST(AddInstanceRecordTest, ReplacesByNameWithoutCaseAndKeepsProfile) {
  SetupContext context;
  InstanceRecord first = Plain("QZ7");
  SetProfileDir(first, "C:\\OLD");
  ASSERT_EQ(AddInstanceRecord(context, Plain("OTHER"), true), 0);
  ASSERT_EQ(AddInstanceRecord(context, first, false), 1);
  EXPECT_EQ(context.defaultIndex, 0);

  InstanceRecord replacement = Plain("qz7");
  replacement.account = "new";
  EXPECT_EQ(AddInstanceRecord(context, replacement, false), 1);
  EXPECT_EQ(context.records.count(), 2);
  EXPECT_STREQ(context.records[1].name.c_str(), "qz7");
  EXPECT_STREQ(context.records[1].account.c_str(), "new");
  EXPECT_STREQ(context.records[1].profileDir.c_str(), "\"C:\\OLD\"");
  EXPECT_EQ(context.defaultIndex, -1) << "replacement without the mark clears the default";

  EXPECT_EQ(AddInstanceRecord(context, Plain("other"), true), 0);
  EXPECT_EQ(context.defaultIndex, 0);
  EXPECT_STREQ(context.records[0].profileDir.c_str(), "\"\"");  // empty comes back as ""
  EXPECT_EQ(AddInstanceRecord(context, Plain(""), true), -1);
  EXPECT_EQ(context.records.count(), 2);
  // The list grows by ten, keeping every record at its index.
  for (int i = 2; i < 21; ++i) {
    ASSERT_EQ(AddInstanceRecord(context, Plain(("I" + std::to_string(i)).c_str()), false), i);
    EXPECT_EQ(context.records.capacity(), (i / 10 + 1) * 10) << i;
  }
  for (int i = 2; i < 21; ++i) EXPECT_EQ(context.records[i].name.view(), "I" + std::to_string(i));
}

// Directories are removed upwards until one cannot be removed; a drive root never is.
TEST_F(SetupContextTest, RemovesEmptiedProfileDirectoriesUpwards) {
  const struct {
    const char *name, *target, *file;  // file: made before the run (null: none)
    std::vector<std::string> gone, kept;
  } rows[] = {
      {"parent_holds_a_file",
       "\"C:\\A\\B\\PROFILES\"",
       "C:\\A\\B\\OTHER.TXT",
       {"C:\\A\\B\\PROFILES"},
       {"C:\\A\\B\\OTHER.TXT", "C:\\A"}},
      {"empty_up_to_a_busy_parent", "C:\\A\\B\\PROFILES", nullptr, {"C:\\A\\B"}, {"C:\\A"}},
      {"different_case_on_disk", "\"c:\\a\\profiles\"", nullptr, {"C:\\A\\PROFILES"}, {"C:\\A\\B"}},
      {"drive_root", "\"C:\\\"", nullptr, {}, {"C:\\"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    testkit::TempMachine machine;
    machine.MakeDirectory("C:\\A\\B\\PROFILES");
    machine.MakeDirectory("C:\\A\\PROFILES");
    if (row.file != nullptr) machine.WriteText(row.file, "x");
    SetupContext context;
    context.targetProfileDir = row.target;
    RemoveAllInstances(context);
    for (const std::string& path : row.gone) EXPECT_FALSE(machine.Exists(path)) << path;
    for (const std::string& path : row.kept) EXPECT_TRUE(machine.Exists(path)) << path;
  }
}

constexpr const char* kProfile = "\"C:\\PROF\"";

class ScanTest : public SetupContextTest {
 protected:
  // A configuration file of size bytes with the release, the node type and a text filled.
  void WriteConfig(const char* instance, size_t size, uint32_t version, uint16_t nodeType) {
    std::vector<unsigned char> bytes(4096, 0);
    util::StoreLE32(bytes.data() + 16, version);
    util::StoreLE16(bytes.data() + 40, nodeType);
    for (size_t i = 0; i < 10; ++i) bytes[100 + i] = static_cast<unsigned char>("CONFIGTEXT"[i]);
    bytes.resize(size);
    machine_.WriteFile(std::string("C:\\PROF\\") + instance + "\\qz7systm", bytes);
  }
};

// A usable index file gives release 2 and no registry read; an unusable one falls back to the
// registry, which here holds FROMREG.
TEST_F(ScanTest, IndexFileVariants) {
  struct Row {
    const char* name;
    testkit::InstanceIndex index;
    int records, defaultIndex, priorRelease;
  } rows[] = {
      {"one_entry", {.names = {"QZ7"}}, 1, 0, 2},
      {"count_2_one_whole", {.entryCount = 2, .names = {"A", "B"}, .truncateTo = 44}, 1, -1, 2},
      {"count_zero", {.entryCount = 0, .names = {"A"}}, 1, 0, 0},
      {"entry_without_terminator", {.names = {"ABCDEFGHIJ"}}, 1, 0, 2},
  };
  EXPECT_EQ(host::DefineInstance("FROMREG"), 0);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    host_.ClearCalls();
    machine_.WriteFile("C:\\PROF\\QZ7IDIR", testkit::BuildInstanceIndex(row.index));
    auto scan = ScanExistingInstances(kProfile);
    ASSERT_EQ(scan->records.count(), row.records);
    EXPECT_EQ(scan->defaultIndex, row.defaultIndex);
    EXPECT_EQ(scan->priorRelease, row.priorRelease);
    EXPECT_EQ(host_.CountOf("PRegProfilePE") > 0, row.priorRelease == 0);
    EXPECT_EQ(scan->records[0].name.view() == "FROMREG", row.priorRelease == 0);
    EXPECT_LE(scan->records[0].name.size(), 8u);
  }
}

TEST_F(ScanTest, RegistryFindsAdminDefaultAndRemoteNodes) {
  for (const char* name : {"A", "DAS", "B", "MINE", "REMOTE", "NOOWNER"}) {
    EXPECT_EQ(host::DefineInstance(name), 0);
    if (name[0] >= 'M') {
      EXPECT_EQ(host::WriteProfileVariable(name, "QZ7PORTRANGE", "6000:6003"), 0);
    }
  }
  EXPECT_EQ(host::WriteProfileVariable(host::kGlobalProfile, "QZ7ADMINSERVER", "das"), 0);
  EXPECT_EQ(host::WriteProfileVariable(host::kGlobalProfile, "QZ7INSTDEF", "b"), 0);
  EXPECT_EQ(host::WriteProfileVariable("MINE", "QZ7INSTOWNER", "testpc"),
            0);  // this computer, other case
  EXPECT_EQ(host::WriteProfileVariable("REMOTE", "QZ7INSTOWNER", "OTHERPC"), 0);
  EXPECT_EQ(host::WriteProfileVariable("B", "QZ7INSTPROF", "c:\\prof"), 0);
  std::ofstream(machine_.root() + "/computer.txt") << "TESTPC\n";
  WriteConfig("MINE", 4096, 0x800, 4);

  auto scan = ScanExistingInstances(kProfile);
  ASSERT_EQ(scan->records.count(), 6);
  EXPECT_EQ(scan->adminIndex, 1);
  EXPECT_EQ(scan->defaultIndex, 2);
  EXPECT_STREQ(scan->records[2].profileDir.c_str(), "") << "same directory in another case";
  const int owned[] = {0, 0, 0, 0, 1, 1}, nodeType[] = {2, 2, 2, 4, 4, 4};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(scan->records[i].ownedElsewhere, owned[i]) << i;
    EXPECT_EQ(scan->records[i].nodeType, nodeType[i]) << i;
  }
  EXPECT_EQ(scan->priorRelease, 5);
}

// Without a default in the registry: the other record of an administration server and one
// instance is the default; a name too long for an instance is no administration server.
TEST_F(ScanTest, DefaultRuleWithAnAdministrationServer) {
  const struct {
    const char *name, *first, *second, *admin;
    int adminIndex, defaultIndex;
  } rows[] = {
      {"admin_first", "DAS", "QZ7", "DAS", 0, 1},
      {"admin_second", "QZ7", "DAS", "DAS", 1, 0},
      {"nine_character_admin_ignored", "DAS", "QZ7", "DAS123456", -1, -1},
  };
  machine_.MakeDirectory("C:\\PROF");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(host::RemoveProfileRegistry(), 0);
    EXPECT_EQ(host::DefineInstance(row.first), 0);
    EXPECT_EQ(host::DefineInstance(row.second), 0);
    EXPECT_EQ(host::WriteProfileVariable(host::kGlobalProfile, "QZ7ADMINSERVER", row.admin), 0);
    auto scan = ScanExistingInstances(kProfile);
    EXPECT_EQ(scan->adminIndex, row.adminIndex);
    EXPECT_EQ(scan->defaultIndex, row.defaultIndex);
  }
}

TEST_F(ScanTest, ConfigurationFileByBytesRead) {
  struct Row {
    const char *name, *configText;
    size_t size;
    uint32_t version;
    int priorRelease, nodeType;
  } rows[] = {
      {"17_bytes", "", 17, 0x900, 0, 2},
      {"41_bytes", "", 41, 0x900, 6, 2},
      {"42_bytes", "", 42, 0x800, 5, 3},
      {"115_bytes", "CONFIGTEXT", 115, 0x900, 6, 3},
  };
  EXPECT_EQ(host::DefineInstance("I"), 0);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    WriteConfig("I", row.size, row.version, 3);
    auto scan = ScanExistingInstances(kProfile);
    ASSERT_EQ(scan->records.count(), 1);
    EXPECT_EQ(scan->priorRelease, row.priorRelease);
    EXPECT_EQ(scan->records[0].nodeType, row.nodeType);
    EXPECT_STREQ(scan->records[0].configText.c_str(), row.configText);
  }
}

}  // namespace
}  // namespace qz7::entry
