// The set-up driver with the other layers' operations replaced by recording fakes: the order
// and conditions of its steps, the default instance, the drive scan for old database
// directories, the template choice of the upgrade, and the result codes.
#include "entry/instance_setup.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "host/profile_registry.h"
#include "migrate/work_buffer.h"
#include "platform/file_system.h"
#include "testkit/instance_index_builder.h"
#include "testkit/message_recorder.h"
#include "testkit/recording_host.h"
#include "testkit/temp_machine.h"

namespace qz7::entry {
namespace {

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
  std::string watched;  // a file whose presence each creation notes
};
Fakes* fakes = nullptr;

const SetupSteps kFakeSteps = {
    [](const SetupContext& context, int32_t index, bool isAdminServer) {
      const std::string name = context.records[index].name.c_str();
      platform::FileStatus status;
      const bool seen =
          !fakes->watched.empty() && platform::GetFileStatus(fakes->watched.c_str(), &status) == 0;
      fakes->calls.push_back("create " + name + (isAdminServer ? " admin" : "") +
                             (seen ? " (watched there)" : ""));
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

  InstanceRecord Plain(const char* name) {
    InstanceRecord record;
    FillPlainRecord(record, name, nullptr, nullptr);
    return record;
  }
  // A scan of existing instances; adminAt marks the administration server's record.
  void Scan(std::vector<InstanceRecord> records, int32_t adminAt = -1, int32_t prior = 5) {
    context_.existingScan = std::make_unique<ExistingInstanceScan>();
    for (const InstanceRecord& record : records) {
      ASSERT_GE(context_.existingScan->records.Append(record), 0);
    }
    context_.existingScan->adminIndex = adminAt;
    context_.existingScan->priorRelease = prior;
  }
  std::vector<std::string> CallsStartingWith(const std::string& prefix) {
    std::vector<std::string> found;
    for (const std::string& call : fakes_.calls)
      if (call.rfind(prefix, 0) == 0) found.push_back(call);
    return found;
  }
  std::string GlobalVariable(const char* name) {
    std::string value;
    return host::ReadProfileVariable("QZ7GLOBALPF", name, &value) == 0 ? value : "<unset>";
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
    EXPECT_EQ(GlobalVariable("QZ7INSTDEF"), row.wantDefault);
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
  for (int i = 0; i < InstanceArray::kGrowth; ++i) {
    ASSERT_EQ(AddInstanceRecord(context_, Plain(("I" + std::to_string(i)).c_str()), false), i);
  }
  migrate::FailWorkBufferAllocationAt(1);
  EXPECT_EQ(AddInstanceRecord(context_, Plain("LOST"), false), -1);
  migrate::FailWorkBufferAllocationAt(0);
  EXPECT_TRUE(context_.listGrowthFailed);
  EXPECT_EQ(context_.records.count(), InstanceArray::kGrowth);
  EXPECT_EQ(RunInstanceSetup(context_, kFakeSteps), kSetupStepFailed);
  EXPECT_EQ(CallsStartingWith("create").size(), static_cast<size_t>(InstanceArray::kGrowth));
  EXPECT_THAT(messages_.boxes(), IsEmpty());
}

TEST_F(InstanceSetupTest, ServicesOfFoundInstancesAreDeregistered) {
  InstanceRecord partitioned = Plain("MPP");
  partitioned.nodeType = kNodeTypePartitioned;
  InstanceRecord client = Plain("CLIENT");
  client.nodeType = kNodeTypeClient;
  InstanceRecord foreign = Plain("FOREIGN");
  foreign.nodeType = kNodeTypePartitioned;
  foreign.ownedElsewhere = 1;
  Scan({Plain("SALES"), partitioned, client, foreign});
  struct Row {
    const char* name;
    int32_t serverType;
    const char* partitionedMarker;
    std::vector<std::string> want;
  } rows[] = {
      {"server_kind_2", 2, "", {"MPP-0", "SALES"}},
      {"other_server_kind", 1, "", {"MPP-0"}},
      {"partitioned_installation", 2, "\"C:\\QZ7\\CFG\\qz7sysmp\"", {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    host_.ClearCalls();
    context_.serverType = row.serverType;
    context_.partitionedMarkerFile = row.partitionedMarker;
    // Only the services the run removes matter here, not its result.
    static_cast<void>(RunInstanceSetup(context_, kFakeSteps));
    std::vector<std::string> services;
    for (const std::string& call : host_.CallsTo("DeRegisterNTService"))
      services.push_back(call.substr(call.find('"') + 1, call.find('"', 21) - call.find('"') - 1));
    std::sort(services.begin(), services.end());
    EXPECT_EQ(services, row.want);
  }
}

// Instance directories of the found instances move to the target directory, the client
// configuration file with them; foreign nodes stay, and an administration server found on the
// computer but not wanted any more is dropped where it is rather than moved, and forgotten.
TEST_F(InstanceSetupTest, InstanceDirectoriesMoveToTheTarget) {
  EXPECT_EQ(host::DefineInstance("QZ7DAS00"), 0);
  EXPECT_EQ(host::WriteProfileVariable("QZ7GLOBALPF", "QZ7ADMINSERVER", "QZ7DAS00"), 0);
  InstanceRecord foreign = Plain("FOREIGN");
  foreign.ownedElsewhere = 1;
  Scan({Plain("SALES"), Plain("QZ7DAS00"), foreign}, /*adminAt=*/1);
  for (const char* name : {"SALES", "QZ7DAS00", "FOREIGN"})
    machine_.WriteText(std::string("C:\\OLD\\") + name + "\\qz7systm", name);
  machine_.WriteText("C:\\OLD\\qz7cli.ini", "[client]");
  machine_.MakeDirectory("C:\\NEW");
  context_.currentProfileDir = "\"C:\\OLD\"";
  context_.targetProfileDir = "\"C:\\NEW\"";
  ASSERT_GE(AddInstanceRecord(context_, Plain("SALES"), false), 0);
  EXPECT_EQ(RunInstanceSetup(context_, kFakeSteps), kSetupOk);
  for (const char* path :
       {"C:\\NEW\\SALES\\qz7systm", "C:\\NEW\\qz7cli.ini", "C:\\OLD\\FOREIGN\\qz7systm"})
    EXPECT_TRUE(machine_.Exists(path)) << path;
  for (const char* path : {"C:\\OLD\\SALES", "C:\\OLD\\qz7cli.ini", "C:\\NEW\\QZ7DAS00"})
    EXPECT_FALSE(machine_.Exists(path)) << path;
  EXPECT_THAT(host_.CallsTo("InstanceDrop"),
              ElementsAre("InstanceDrop(\"QZ7DAS00\", \"\"C:\\OLD\\QZ7DAS00\"\")"));
  EXPECT_EQ(GlobalVariable("QZ7ADMINSERVER"), "<unset>");
}

// A move that cannot finish leaves the old directory whole and the instance is not upgraded.
TEST_F(InstanceSetupTest, IncompleteMoveSkipsTheUpgrade) {
  Scan({Plain("SALES")});
  EXPECT_EQ(host::DefineInstance("SALES"), 0);
  machine_.WriteText("C:\\OLD\\SALES\\qz7systm", "old");
  machine_.MakeDirectory("C:\\NEW\\SALES\\qz7systm");  // a folder where the file must go
  context_.currentProfileDir = "\"C:\\OLD\"";
  context_.targetProfileDir = "\"C:\\NEW\"";
  ASSERT_GE(AddInstanceRecord(context_, Plain("SALES"), false), 0);
  EXPECT_EQ(RunInstanceSetup(context_, kFakeSteps), kSetupStepFailed);
  EXPECT_TRUE(machine_.Exists("C:\\OLD\\SALES\\qz7systm"));
  EXPECT_THAT(CallsStartingWith("config"), IsEmpty());
  // Shown as an instance not upgraded, with the failed copy's code (access denied).
  EXPECT_THAT(messages_.boxes(), ElementsAre(Box{3573, {"SALES"}, 0x40}));
  EXPECT_EQ(messages_.LogLines().front(), "The instance set-up ended with code 3.");
}

// The old index file goes only after the instances it lists are created, and only when each
// of them is defined by then and no step failed; otherwise a later run finds them in it again.
TEST_F(InstanceSetupTest, IndexFileGoesOnlyOnceItsInstancesAreDefined) {
  const struct {
    const char* name;
    const char* defines;  // the instance defined before this round
    int creationCode;     // of SALES
    bool removed;
  } rounds[] = {
      {"QZ7 not defined", "SALES", 0, false},
      {"both defined, a creation failed", "QZ7", 5, false},
      {"both defined", nullptr, 0, true},
  };
  for (const auto& round : rounds) {
    SCOPED_TRACE(round.name);
    fakes_.calls.clear();
    const std::vector<unsigned char> index =
        testkit::BuildInstanceIndex({.names = {"SALES", "QZ7"}});
    machine_.WriteFile("C:\\QZ7\\QZ7IDIR", index);
    machine_.WriteFile("C:\\REQ\\QZ7IDIR", index);
    Scan({Plain("SALES"), Plain("QZ7")}, -1, /*prior=*/2);
    context_.existingScan->fromIndexFile = true;
    context_.requestedProfileDir = "\"C:\\REQ\"";
    context_.records = InstanceArray();
    for (const char* name : {"SALES", "QZ7"}) {
      ASSERT_GE(AddInstanceRecord(context_, Plain(name), false), 0);
    }
    if (round.defines != nullptr) {
      EXPECT_EQ(host::DefineInstance(round.defines), 0);
    }
    fakes_.createCodes = {{"SALES", round.creationCode}};
    fakes_.watched = "C:\\QZ7\\QZ7IDIR";
    EXPECT_EQ(RunInstanceSetup(context_, kFakeSteps), round.removed ? kSetupOk : kSetupStepFailed);
    EXPECT_THAT(CallsStartingWith("create"),
                ElementsAre("create SALES (watched there)", "create QZ7 (watched there)"));
    EXPECT_EQ(machine_.Exists("C:\\QZ7\\QZ7IDIR"), !round.removed);
    EXPECT_EQ(machine_.Exists("C:\\REQ\\QZ7IDIR"), !round.removed);
  }
}

// Instances of an index-file release kept database directories at drive roots: every fixed
// drive is searched for each, a failed migration is reported and the scan goes on.
TEST_F(InstanceSetupTest, DriveRootDatabaseDirectoriesAreMigrated) {
  machine_.AddDrive('d');
  machine_.AddDrive('e');
  std::ofstream(machine_.root() + "/drivetypes.txt") << "E: removable\n";
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

// Every defined instance with a directory under the target is upgraded with the template of
// its kind; failures of creation or upgrade make the result 1 without stopping the run.
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
  ASSERT_GE(AddInstanceRecord(context_, Plain("SALES"), false), 0);
  ASSERT_GE(AddInstanceRecord(context_, Plain("OTHER"), false), 0);
  fakes_.createCodes = {{"OTHER", 5}};
  EXPECT_EQ(RunInstanceSetup(context_, kFakeSteps), kSetupStepFailed);
  EXPECT_THAT(CallsStartingWith("config"),
              ElementsAre("config \"C:\\QZ7\\DAS\" \"C:\\QZ7\\CFG\\qz7syssv.das\"",
                          "config \"C:\\QZ7\\MPP\" \"C:\\QZ7\\CFG\\qz7sysmp\"",
                          "config \"C:\\QZ7\\SALES\" \"C:\\QZ7\\CFG\\qz7syssv\""));
  EXPECT_EQ(CallsStartingWith("dirs").size(), 3u);
  EXPECT_THAT(messages_.boxes(), IsEmpty());

  fakes_.createCodes.clear();
  fakes_.upgradeCode = 1;
  EXPECT_EQ(RunInstanceSetup(context_, kFakeSteps), kSetupStepFailed);
}

}  // namespace
}  // namespace qz7::entry
