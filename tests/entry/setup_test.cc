// The entry layer: building the setup context (the profile paths, bad paths, discovery from the
// old index file and from the profile registry with the configuration files read by bytes, the
// add rules of its list, and the entry points' bad arguments with the one-time initialisation);
// and the set-up driver with the other layers' operations replaced by recording fakes: the
// order and conditions of its steps, the default instance, the drive scan for old database
// directories, the template choice of the upgrade, and the result codes. The upward removal of
// emptied profile directories is the removal scenarios'. When the old index file goes (once
// every instance it lists is defined, whatever else failed, unless a drive-root database
// directory is still to migrate) is tested here; that a run stopped anywhere loses nothing by
// it is the upgrade scenarios' failure and crash loops' on the index-file machines.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "base/coding.h"
#include "base/quoted_path.h"
#include "entry/existing_instance_scan.h"
#include "entry/instance_setup.h"
#include "entry/setup_context.h"
#include "host/profile_registry.h"
#include "migrate/work_buffer.h"
#include "platform/win_error.h"
#include "qz7instm.h"
#include "testkit/fault_injection.h"
#include "testkit/message_recorder.h"
#include "testkit/recording_host.h"
#include "testkit/scenario_machines.h"
#include "testkit/temp_machine.h"
#include "tools/sample/dbm_block_builder.h"
#include "tools/sample/instance_index_builder.h"

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
  machine_.NameComputer("TESTPC");
  machine_.MakeDirectory("C:\\A\\MPP");
  machine_.WriteFile("C:\\A\\MPP\\qz7systm", sample::DbmBlockBuilder().NodeType(4).Bytes());
  for (const char* name : {"QZ7", "DAS", "REMOTE", "MPP"}) ASSERT_EQ(host::DefineInstance(name), 0);
  for (const char* name : {"REMOTE", "MPP"})
    ASSERT_EQ(host::WriteProfileVariable(name, "QZ7PORTRANGE", "6000:6003"), 0);
  ASSERT_EQ(host::WriteProfileVariable("REMOTE", "QZ7INSTOWNER", "OTHERPC"), 0);
  ASSERT_EQ(host::WriteProfileVariable("MPP", "QZ7INSTOWNER", "TESTPC"), 0);
  ASSERT_EQ(host::WriteProfileVariable(host::kGlobalProfile, "QZ7ADMINSERVER", "DAS"), 0);
  InstanceDescriptor both = testkit::AddedNodeDescriptor("BOTH", "5", "PCB");
  both.isAdminServer = 1;
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
       {"QZ7 3", "MPP 3"}},
      {"server table order, first two", {"qz7syssr", "qz7syssv"}, {}, 1, "", "",
       {"QZ7 1", "MPP 1"}},
      {"qz7sysmp with server type 1", {"qz7syssv", "qz7sysmp"}, {}, 1, "", "qz7sysmp",
       {"REMOTE 4 elsewhere  ", "QZ7 1", "MPP 4"}},
      {"admin table order", {"qz7syssv", "qz7syssr.das", "qz7syssv.das"}, {}, 1, "qz7syssv.das",
       "", {"QZ7 1", "MPP 1", "DAS 1 *"}},
      {"descriptors", {"qz7sysrq", "qz7syssr.das"},
       {testkit::AddedNodeDescriptor("NODE1", "3", "PCX"), both}, 2, "qz7syssr.das", "",
       {"QZ7 2", "MPP 2", "BOTH -1 *", "NODE1 4 elsewhere 3 PCX"}},
      // clang-format on
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::filesystem::remove_all(machine_.HostPath("C:\\INST\\CFG"));
    machine_.MakeDirectory("C:\\INST\\CFG");
    for (const char* marker : row.markers) {
      machine_.WriteFile(std::string("C:\\INST\\CFG\\") + marker,
                         sample::DbmBlockBuilder().Version(0x900).Bytes());
    }
    SetupContext context;
    BuildSetupContext(context, "c:\\a", "c:\\a", "c:\\inst", nullptr, nullptr, nullptr);
    for (const InstanceDescriptor& descriptor : row.descriptors)
      AddDescriptor(context, &descriptor);
    EXPECT_EQ(context.serverType, row.serverType);
    const auto marker = [](const base::FixedText<kContextPathSize>& path) {
      return path.empty() ? std::string() : base::LastComponent(path.c_str());
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

// The host libraries are initialised by the first construction that reaches that step and
// never again: seen in a process of its own (started afresh, with only this test to run), which
// no earlier test can have initialised.
TEST_F(SetupContextTest, HostIsInitialisedOncePerProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        const bool before = HostInitialised();
        for (int call = 0; call < 2; ++call) {
          SetupContext context;
          BuildSetupContext(context, "", "", "c:\\inst", nullptr, nullptr, nullptr);
        }
        const int calls = host_.CountOf("CreateInitAppData");
        const uint32_t flags = base::LoadLE32(host_.ControlBlock());
        const uint16_t field = base::LoadLE16(host_.ControlBlock() + 0x136C);
        std::fprintf(stderr, "before %d calls %d flags %x field %u\n", before, calls, flags, field);
        std::exit(!before && HostInitialised() && calls == 1 && flags == 0x68211u && field == 1);
      },
      ::testing::ExitedWithCode(1), "before 0 calls 1 flags 68211 field 1");
}

// A host that runs out of memory on its first profile-registry call.
class OutOfMemoryHost : public testkit::RecordingHost {
 public:
  int PRegProfilePE(int, char*, int) override { throw std::bad_alloc(); }
};

TEST_F(SetupContextTest, CreateInstancesToleratesBadArguments) {
  InstanceDescriptor plain{};
  std::strcpy(plain.name, "QZ7");
  InstanceDescriptor* onlyNull[] = {nullptr};
  InstanceDescriptor* one[] = {&plain, nullptr};
  // An uninstall call without a usable installation path removes nothing at all.
  ASSERT_EQ(host::DefineInstance("KEPT"), 0);
  machine_.MakeDirectory("C:\\P");
  deleteInstances("c:\\p", "", nullptr, nullptr, nullptr);
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
  EXPECT_TRUE(HostInitialised());
  // No exception crosses the C interface: a failure the library did not expect (an allocation)
  // is createInstances' failure result, 1, and deleteInstances returns.
  OutOfMemoryHost outOfMemory;
  testkit::ScopedHost scoped(&outOfMemory);
  int result = -1;
  EXPECT_NO_THROW(
      result = createInstances("c:\\a", "c:\\a", "c:\\inst", one, nullptr, nullptr, nullptr));
  EXPECT_EQ(result, 1);
  EXPECT_NO_THROW(deleteInstances("c:\\a", "c:\\inst", nullptr, nullptr, nullptr));
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
  // The list grows as it fills, keeping every record at its index.
  for (int i = 2; i < 3 * InstanceArray::kGrowth; ++i)
    ASSERT_EQ(AddInstanceRecord(context, Plain(("I" + std::to_string(i)).c_str()), false), i);
  for (int i = 2; i < 3 * InstanceArray::kGrowth; ++i)
    EXPECT_EQ(context.records[i].name.view(), "I" + std::to_string(i));
}

constexpr const char* kProfile = "\"C:\\PROF\"";

class ScanTest : public SetupContextTest {
 protected:
  // A configuration file of size bytes with the release, the node type and a text filled.
  void WriteConfig(const char* instance, size_t size, uint16_t version, uint16_t nodeType) {
    sample::DbmBlockBuilder config;
    config.Version(version).NodeType(nodeType).Text(100, 11, "CONFIGTEXT").TruncateTo(size);
    machine_.WriteFile(std::string("C:\\PROF\\") + instance + "\\qz7systm", config.Bytes());
  }
};

// A usable index file gives release 2 and no registry read; an unusable one falls back to the
// registry, which here holds FROMREG. Index files of one and of two whole entries are the
// upgrade scenarios'.
TEST_F(ScanTest, IndexFileVariants) {
  struct Row {
    const char* name;
    sample::InstanceIndex index;
    int records, defaultIndex, priorRelease;
  } rows[] = {
      {"count_2_one_whole", {.entryCount = 2, .names = {"A", "B"}, .truncateTo = 44}, 1, -1, 2},
      {"count_zero", {.entryCount = 0, .names = {"A"}}, 1, 0, 0},
      {"entry_without_terminator", {.names = {"ABCDEFGHIJ"}}, 1, 0, 2},
  };
  EXPECT_EQ(host::DefineInstance("FROMREG"), 0);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    host_.ClearCalls();
    machine_.WriteFile("C:\\PROF\\QZ7IDIR", sample::BuildInstanceIndex(row.index));
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
    EXPECT_EQ(name[0] < 'M' ? 0 : host::WriteProfileVariable(name, "QZ7PORTRANGE", "6000:6003"), 0);
  }
  EXPECT_EQ(host::WriteProfileVariable(host::kGlobalProfile, "QZ7ADMINSERVER", "das"), 0);
  EXPECT_EQ(host::WriteProfileVariable(host::kGlobalProfile, "QZ7INSTDEF", "b"), 0);
  // This computer, in another case.
  EXPECT_EQ(host::WriteProfileVariable("MINE", "QZ7INSTOWNER", "testpc"), 0);
  EXPECT_EQ(host::WriteProfileVariable("REMOTE", "QZ7INSTOWNER", "OTHERPC"), 0);
  EXPECT_EQ(host::WriteProfileVariable("B", "QZ7INSTPROF", "c:\\prof"), 0);
  machine_.NameComputer("TESTPC");
  WriteConfig("MINE", 4096, 0x800, 4);

  auto scan = ScanExistingInstances(kProfile);
  ASSERT_EQ(scan->records.count(), 6);
  EXPECT_EQ(scan->adminIndex, 2);
  EXPECT_EQ(scan->defaultIndex, 1);
  EXPECT_STREQ(scan->records[1].name.c_str(), "B");
  EXPECT_STREQ(scan->records[1].profileDir.c_str(), "") << "same directory in another case";
  const int owned[] = {0, 0, 0, 0, 1, 1}, nodeType[] = {2, 2, 2, 4, 4, 4};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(scan->records[i].ownedElsewhere, owned[i]) << i;
    EXPECT_EQ(scan->records[i].nodeType, nodeType[i]) << i;
  }
  EXPECT_EQ(scan->priorRelease, 5);
  EXPECT_FALSE(scan->unreadable);
  // Without this computer's name every partitioned instance would seem another computer's:
  // the scan says it could not read what it needs.
  platform::SetFaultPlan({.triggerAt = 1,
                          .error = platform::kErrorGenFailure,
                          .repeat = true,
                          .kinds = platform::KindBit(platform::OperationKind::kEnvironment)});
  scan = ScanExistingInstances(kProfile);
  platform::ClearFaultPlan();
  EXPECT_TRUE(scan->unreadable);
}

// Without a default in the registry: the other record of an administration server and one
// instance is the default, in the scan and in the context built from it (which carries the
// records from the last to the first, so the administration server changes its place); a name
// too long for an instance is no administration server.
TEST_F(ScanTest, DefaultRuleWithAnAdministrationServer) {
  const struct {
    const char *name, *first, *second, *admin;
    int adminIndex, defaultIndex, contextAdminIndex, contextDefaultIndex;
  } rows[] = {
      {"admin_first", "DAS", "QZ7", "DAS", 0, 1, 1, 0},
      {"admin_second", "QZ7", "SRV", "SRV", 1, 0, 0, 1},
      {"nine_character_admin_ignored", "DAS", "QZ7", "DAS123456", -1, -1, -1, -1},
  };
  machine_.MakeDirectory("C:\\PROF");
  machine_.WriteFile("C:\\INST\\CFG\\qz7syssv.das", sample::DbmBlockBuilder().Bytes());
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(host::RemoveProfileRegistry(), 0);
    for (const char* name : {row.first, row.second}) EXPECT_EQ(host::DefineInstance(name), 0);
    EXPECT_EQ(host::WriteProfileVariable(host::kGlobalProfile, "QZ7ADMINSERVER", row.admin), 0);
    auto scan = ScanExistingInstances(kProfile);
    EXPECT_EQ(scan->adminIndex, row.adminIndex);
    EXPECT_EQ(scan->defaultIndex, row.defaultIndex);
    SetupContext context;
    BuildSetupContext(context, "c:\\prof", "c:\\prof", "c:\\inst", nullptr, nullptr, nullptr);
    ASSERT_EQ(context.records.count(), 2);
    EXPECT_EQ(context.adminIndex, row.contextAdminIndex);
    EXPECT_EQ(context.defaultIndex, row.contextDefaultIndex);
  }
}

TEST_F(ScanTest, ConfigurationFileByBytesRead) {
  struct Row {
    const char *name, *configText;
    size_t size;
    uint16_t version;
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

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testkit::MessageRecorder;
using Box = MessageRecorder::Box;

// What the fake operations saw, and the codes they give.
struct Fakes {
  std::vector<std::string> calls;
  std::map<std::string, int> createCodes;     // by instance name
  std::map<std::string, int> migrationCodes;  // by instance directory
  int upgradeCode = 0;
};
Fakes* fakes = nullptr;

const SetupSteps kFakeSteps = {
    [](const SetupContext& context, int32_t index, bool isAdminServer, bool* /*untouched*/) {
      const std::string name = context.records[index].name.c_str();
      fakes->calls.push_back("create " + name + (isAdminServer ? " admin" : ""));
      return fakes->createCodes.count(name) ? fakes->createCodes[name] : 0;
    },
    [](const char* instanceDir, const char* installDir) {
      fakes->calls.push_back(std::string("migrate ") + instanceDir + " " + installDir);
      return fakes->migrationCodes.count(instanceDir) ? fakes->migrationCodes[instanceDir] : 0;
    },
    [](const upgrade::MessageTarget&, const char* instanceDir, const char* templateFile) {
      fakes->calls.push_back(std::string("config ") + instanceDir + " " + templateFile);
      return fakes->upgradeCode;
    },
    [](const char* instanceDir, const char* installDir, const upgrade::MessageTarget&) {
      fakes->calls.push_back(std::string("dirs ") + instanceDir + " " + installDir);
      return 0;
    },
};

class InstanceSetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fakes = &fakes_;
    machine_.MakeDirectory("C:\\QZ7\\CFG");
    context_.installDir = context_.currentProfileDir = "\"C:\\QZ7\"";
    context_.requestedProfileDir = context_.targetProfileDir = "\"C:\\QZ7\"";
    context_.serverMarkerFile = "\"C:\\QZ7\\CFG\\qz7syssv\"";
    context_.serverType = 1;
    context_.logFile = messages_.logFile();
    context_.messageModule = messages_.module();
    context_.ownerWindow = messages_.owner();
  }
  void TearDown() override { fakes = nullptr; }

  // A scan of existing instances; adminAt marks the administration server's record.
  void Scan(std::vector<InstanceRecord> records, int32_t adminAt = -1, int32_t prior = 5) {
    context_.existingScan = std::make_unique<ExistingInstanceScan>();
    for (const InstanceRecord& record : records)
      ASSERT_GE(context_.existingScan->records.Append(record), 0);
    context_.existingScan->adminIndex = adminAt;
    context_.existingScan->priorRelease = prior;
  }
  std::vector<std::string> CallsStartingWith(const std::string& prefix) {
    std::vector<std::string> found;
    for (const std::string& call : fakes_.calls)
      if (call.rfind(prefix, 0) == 0) found.push_back(call);
    return found;
  }

  testkit::TempMachine machine_;
  testkit::RecordingHost host_;
  testkit::ScopedHost scoped_{&host_};
  MessageRecorder messages_;
  Fakes fakes_;
  SetupContext context_;
};

// Which instance is set up as the default, by what the list holds before the run.
TEST_F(InstanceSetupTest, DefaultInstance) {
  struct Row {
    const char* name;
    std::vector<const char*> plain;
    const char* admin;  // null: none
    std::vector<std::string> wantCreates;
    std::string wantDefault;
  } rows[] = {
      {"nothing_requested", {}, nullptr, {"create QZ7"}, "QZ7"},
      {"only_admin_server", {}, "QZ7DAS00", {"create QZ7DAS00 admin", "create QZ7"}, "QZ7"},
      {"admin_plus_one", {"SALES"}, "QZ7DAS00", {"create QZ7DAS00 admin", "create SALES"}, "SALES"},
      {"two_instances_no_default", {"A", "B"}, nullptr, {"create A", "create B"}, "<unset>"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    fakes_.calls.clear();
    EXPECT_EQ(host::WriteProfileVariable("QZ7GLOBALPF", "QZ7INSTDEF", "<unset>"), 0);
    context_.records = InstanceArray();
    context_.adminIndex = context_.defaultIndex = -1;
    if (row.admin != nullptr) AddAdminServerRecord(context_, row.admin, nullptr, nullptr);
    for (const char* name : row.plain)
      ASSERT_GE(AddInstanceRecord(context_, Plain(name), false), 0);
    EXPECT_EQ(RunInstanceSetup(context_, kFakeSteps), kSetupOk);
    EXPECT_EQ(CallsStartingWith("create"), row.wantCreates);
    std::string value;
    const bool set = host::ReadProfileVariable("QZ7GLOBALPF", "QZ7INSTDEF", &value) == 0;
    EXPECT_EQ(set ? value : "<unset>", row.wantDefault);
  }
}

TEST_F(InstanceSetupTest, RegistryUnreachableEndsTheRunWithMinusNine) {
  host_.QueueResult("PRegProfilePE", -1029);
  ASSERT_EQ(AddInstanceRecord(context_, Plain("SALES"), false), 0);
  EXPECT_EQ(RunInstanceSetup(context_, kFakeSteps), kSetupRegistryUnreachable);
  EXPECT_THAT(fakes_.calls, IsEmpty());
  EXPECT_THAT(messages_.boxes(), ElementsAre(Box{3608, {"-9"}, 0x10}));
}

// A request lost because the list could not grow fails the run, though every step that ran
// succeeded.
TEST_F(InstanceSetupTest, RecordLostToListGrowthFailsTheRun) {
  for (int i = 0; i < InstanceArray::kGrowth; ++i)
    ASSERT_EQ(AddInstanceRecord(context_, Plain(("I" + std::to_string(i)).c_str()), false), i);
  migrate::FailWorkBufferAllocationAt(1);
  EXPECT_EQ(AddInstanceRecord(context_, Plain("LOST"), false), -1);
  migrate::FailWorkBufferAllocationAt(0);
  EXPECT_TRUE(context_.listGrowthFailed);
  EXPECT_EQ(context_.records.count(), InstanceArray::kGrowth);
  EXPECT_EQ(RunInstanceSetup(context_, kFakeSteps), kSetupStepFailed);
  EXPECT_EQ(CallsStartingWith("create").size(), static_cast<size_t>(InstanceArray::kGrowth));
  EXPECT_THAT(messages_.boxes(), IsEmpty());
}

// Services of found instances go unless the installation is partitioned: node 0's of a
// partitioned instance, a plain one's only under server type 2, none of a client or of a node
// another computer owns; in the order the scan found them.
TEST_F(InstanceSetupTest, ServicesOfFoundInstancesAreDeregistered) {
  InstanceRecord mpp = Plain("MPP"), client = Plain("CLIENT"), foreign = Plain("FOREIGN");
  mpp.nodeType = foreign.nodeType = kNodeTypePartitioned;
  client.nodeType = kNodeTypeClient;
  foreign.ownedElsewhere = 1;
  Scan({Plain("SALES"), mpp, client, foreign});
  const struct {
    int32_t serverType;
    const char* partitionedMarker;
    std::vector<std::string> want;
  } rows[] = {
      {2, "", {"SALES", "MPP-0"}}, {1, "", {"MPP-0"}}, {2, "\"C:\\QZ7\\CFG\\qz7sysmp\"", {}}};
  for (const auto& row : rows) {
    host_.ClearCalls();
    context_.serverType = row.serverType;
    context_.partitionedMarkerFile = row.partitionedMarker;
    static_cast<void>(RunInstanceSetup(context_, kFakeSteps));  // only the services matter
    std::vector<std::string> services;
    for (const std::string& call : host_.CallsTo("DeRegisterNTService"))
      services.push_back(call.substr(21, call.find('"', 21) - 21));
    EXPECT_EQ(services, row.want) << row.serverType << row.partitionedMarker;
  }
}

// An administration server found on the computer but not wanted any more is dropped where it
// is rather than moved, and forgotten.
TEST_F(InstanceSetupTest, AnUnwantedAdministrationServerIsDroppedNotMoved) {
  EXPECT_EQ(host::DefineInstance("QZ7DAS00"), 0);
  EXPECT_EQ(host::WriteProfileVariable("QZ7GLOBALPF", "QZ7ADMINSERVER", "QZ7DAS00"), 0);
  Scan({Plain("QZ7DAS00")}, /*adminAt=*/0);
  machine_.WriteText("C:\\OLD\\QZ7DAS00\\qz7systm", "das");
  machine_.MakeDirectory("C:\\NEW");
  context_.currentProfileDir = "\"C:\\OLD\"";
  context_.targetProfileDir = "\"C:\\NEW\"";
  EXPECT_EQ(RunInstanceSetup(context_, kFakeSteps), kSetupOk);
  EXPECT_FALSE(machine_.Exists("C:\\NEW\\QZ7DAS00"));
  EXPECT_THAT(host_.CallsTo("InstanceDrop"),
              ElementsAre("InstanceDrop(\"QZ7DAS00\", \"\"C:\\OLD\\QZ7DAS00\"\")"));
  std::string value;
  EXPECT_EQ(host::ReadProfileVariable("QZ7GLOBALPF", "QZ7ADMINSERVER", &value), host::kNotFound);
}

// A move that cannot finish, or that is refused before it starts, leaves the old directory
// whole, and the instance is not upgraded.
TEST_F(InstanceSetupTest, IncompleteMoveSkipsTheUpgrade) {
  struct Row {
    const char* name;
    const char* target;
    const char* folder;  // made before the run: where a file of the instance must go, or the
                         // target inside the instance
    const char* code;    // of the failed copy (access denied), or of the refused move
  } rows[] = {
      {"SALES", "\"C:\\NEW\"", "C:\\NEW\\SALES\\qz7systm", "3"},  // a file cannot be copied
      {"HR", "\"C:\\OLD\\HR\\NEW\"", "C:\\OLD\\HR\\NEW", "-3"},   // target inside the instance
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    messages_.Clear();
    Scan({Plain(row.name)});
    EXPECT_EQ(host::DefineInstance(row.name), 0);
    const std::string config = std::string("C:\\OLD\\") + row.name + "\\qz7systm";
    machine_.WriteText(config, "old");
    machine_.MakeDirectory(row.folder);
    context_.currentProfileDir = "\"C:\\OLD\"";
    context_.targetProfileDir = row.target;
    ASSERT_GE(AddInstanceRecord(context_, Plain(row.name), false), 0);
    EXPECT_EQ(RunInstanceSetup(context_, kFakeSteps), kSetupStepFailed);
    EXPECT_TRUE(machine_.Exists(config));
    EXPECT_THAT(CallsStartingWith("config"), IsEmpty());
    // Shown as an instance not upgraded, with the code of the failed or refused move.
    EXPECT_THAT(messages_.boxes(), ElementsAre(Box{3573, {row.name}, 0x40}));
    EXPECT_THAT(messages_.LogLines(),
                Contains(std::string("The instance set-up ended with code ") + row.code + "."));
  }
}

// Instances of an index-file release kept database directories at drive roots: every fixed
// drive is searched for each, a failed migration is reported and the scan goes on.
TEST_F(InstanceSetupTest, DriveRootDatabaseDirectoriesAreMigrated) {
  machine_.AddDrive('d');
  machine_.AddDrive('e', /*removable=*/true);
  for (const char* dir : {"C:\\SALES", "D:\\SALES", "D:\\QZ7", "E:\\QZ7"})
    machine_.WriteText(std::string(dir) + "\\SQLDBDIR\\SQLDBDIR", "old");
  // A code of 1 is no failure; any other non-zero code is reported and the scan goes on.
  fakes_.migrationCodes = {{"D:\\SALES", 1}, {"C:\\SALES", 2}};
  Scan({Plain("SALES"), Plain("QZ7")}, -1, /*prior=*/2);
  EXPECT_EQ(RunInstanceSetup(context_, kFakeSteps), kSetupStepFailed);
  EXPECT_THAT(CallsStartingWith("migrate"),
              ElementsAre("migrate C:\\SALES C:\\QZ7", "migrate D:\\SALES C:\\QZ7",
                          "migrate D:\\QZ7 C:\\QZ7"));
  EXPECT_THAT(messages_.boxes(), ElementsAre(Box{3616, {"SALES", "2"}, 0x40}));
  fakes_.calls.clear();
  context_.existingScan->priorRelease = 5;  // a later release kept them in the instance
  static_cast<void>(RunInstanceSetup(context_, kFakeSteps));  // only the calls matter here
  EXPECT_THAT(CallsStartingWith("migrate"), IsEmpty());
}

// The old index file goes once the profile registry defines every instance it lists, whatever
// failed before (an administration server that could not be created) or fails after (an
// upgrade); it stays, and the run fails, while one of them is not defined, or while a database
// directory at a drive root could not be migrated (only the index file brings a later run back
// to the drive roots).
TEST_F(InstanceSetupTest, IndexFileGoesOnceTheRegistryDefinesItsInstances) {
  struct Row {
    const char* name;
    std::map<std::string, int> createCodes;  // an instance that fails is not defined
    std::map<std::string, int> migrationCodes;
    int upgradeCode;
    int32_t want;
    bool indexKept;
  } rows[] = {
      {"nothing_fails", {}, {}, 0, kSetupOk, false},
      {"admin_server_fails", {{"QZ7DAS00", -1044}}, {}, 0, kSetupStepFailed, false},
      {"an_upgrade_fails", {}, {}, 1, kSetupStepFailed, false},
      {"a_listed_instance_not_created", {{"HR", -1}}, {}, 0, kSetupStepFailed, true},
      {"a_drive_root_migration_fails", {}, {{"C:\\SALES", -105}}, 0, kSetupStepFailed, true},
  };
  const std::string index = "C:\\QZ7\\QZ7IDIR";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    fakes_ = {{}, row.createCodes, row.migrationCodes, row.upgradeCode};
    machine_.WriteFile(index, sample::BuildInstanceIndex({.names = {"SALES", "HR"}}));
    machine_.WriteText("C:\\SALES\\SQLDBDIR\\SQLDBDIR", "old");
    Scan({Plain("SALES"), Plain("HR")}, -1, /*prior=*/2);
    context_.records = InstanceArray();
    context_.adminIndex = context_.defaultIndex = -1;
    AddAdminServerRecord(context_, "QZ7DAS00", nullptr, nullptr);
    for (const char* name : {"SALES", "HR"}) {
      ASSERT_GE(AddInstanceRecord(context_, Plain(name), false), 0);
      static_cast<void>(host::UndefineInstance(name));
      EXPECT_EQ(row.createCodes.count(name) ? 0 : host::DefineInstance(name), 0);
      machine_.MakeDirectory(std::string("C:\\QZ7\\") + name);
    }
    EXPECT_EQ(RunInstanceSetup(context_, kFakeSteps), row.want);
    EXPECT_EQ(machine_.Exists(index), row.indexKept);
    // The steps after the index file ran whatever it became.
    EXPECT_EQ(CallsStartingWith("config").size(), row.createCodes.count("HR") ? 1u : 2u);
  }
}

// Every defined instance with a directory under the target is upgraded with the template of
// its kind: the administration server's (named at the default level, in another case), the
// partitioned one for an instance with an owner computer, else the server's.
TEST_F(InstanceSetupTest, DefinedInstancesAreUpgradedWithTheirTemplate) {
  context_.adminMarkerFile = "\"C:\\QZ7\\CFG\\qz7syssv.das\"";
  context_.partitionedMarkerFile = "\"C:\\QZ7\\CFG\\qz7sysmp\"";
  for (const char* name : {"DAS", "MPP", "SALES", "NODIR"})
    EXPECT_EQ(host::DefineInstance(name), 0);
  EXPECT_EQ(host::WriteVariableAt(host::ProfileLevel::kDefaultLevel, "", "QZ7ADMINSERVER", "das"),
            0);
  EXPECT_EQ(host::WriteProfileVariable("MPP", "QZ7INSTOWNER", "HOSTA"), 0);
  for (const char* name : {"DAS", "MPP", "SALES"})
    machine_.MakeDirectory(std::string("C:\\QZ7\\") + name);
  EXPECT_EQ(RunInstanceSetup(context_, kFakeSteps), kSetupOk);
  EXPECT_THAT(CallsStartingWith("config"),
              ElementsAre("config \"C:\\QZ7\\DAS\" \"C:\\QZ7\\CFG\\qz7syssv.das\"",
                          "config \"C:\\QZ7\\MPP\" \"C:\\QZ7\\CFG\\qz7sysmp\"",
                          "config \"C:\\QZ7\\SALES\" \"C:\\QZ7\\CFG\\qz7syssv\""));
}

}  // namespace
}  // namespace qz7::entry
