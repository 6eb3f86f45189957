// The stand-in runtime: its profile registry (variables by number and by name at every level,
// the default-level and global-profile rules, enumeration and its end, pointing, and removal),
// Windows services and network shares; and
// creating and dropping instances in it: what a create makes, that a create of a defined
// instance updates it, that a failed create or update (bad request, missing template, or any
// failing file, registry or service step) leaves the machine exactly as it was, and that a
// drop removes directory, key and services. Each test has a fresh machine root with drive C:
// and a stand-in runtime of its own.
#include "host/stand_in_host.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "host/host_services.h"
#include "host/profile_registry.h"
#include "host/service_table.h"
#include "platform/file_system.h"
#include "platform/win_error.h"
#include "testkit/fault_injection.h"
#include "testkit/fault_points.h"
#include "testkit/host_os.h"
#include "testkit/machine_state.h"
#include "testkit/temp_machine.h"
#include "tools/sample/dbm_block_builder.h"
#include "tools/sample/profile_registry_builder.h"
#include "tools/sample/sample_machine.h"

namespace qz7::host {
namespace {

class HostFixture : public ::testing::Test {
 protected:
  void SetUp() override { platform::ClearFaultPlan(); }
  void TearDown() override { platform::ClearFaultPlan(); }

  // Reads a variable; the result code and the value (empty on failure) as one text
  // "RESULT:VALUE", so that a table row states both.
  std::string Read(int variable, const char* name, const char* profile) {
    std::string buffer(256, '\x7f');
    int result = host_.PRegValuePE(kValueRead, variable, name, buffer.data(), 256, profile, -1);
    return std::to_string(result) + ":" + std::string(buffer.c_str());
  }
  // PRegProfilePE on a copy of text (null stays null).
  int Profile(int op, const char* text) {
    std::string copy = text != nullptr ? text : "";
    return host_.PRegProfilePE(op, text != nullptr ? copy.data() : nullptr, -1);
  }

  testkit::TempMachine machine_;
  StandInHost host_;
};

std::string Code(int result) { return std::to_string(result) + ":"; }

class ProfileRegistryTest : public HostFixture {
 protected:
  void SetUp() override {
    HostFixture::SetUp();
    ASSERT_EQ(sample::WriteProfileRegistry(
                  {.instances = {{"QZ7", {{"QZ7INSTPROF", "C:\\P"}}, {}},
                                 {"QZ7DAS", {}, {}},
                                 {"QZ7MPP", {{"QZ7PORTRANGE", "60000:60003"}}, {"0", "1"}}},
                   .globalProfile = {{"QZ7INSTDEF", "QZ7"}},
                   .defaultLevel = {{"QZ7INSTDEF", "OLDDEF"}, {"QZ7ADMINSERVER", "OLDDAS"}}}),
              0);
  }

  // Every name a first/next enumeration gives, then the code that ended it, as one text;
  // through PRegProfilePE or, with pe false, PRegProfile.
  std::string Enumerate(bool pe = true) {
    std::string names;
    char buffer[260];
    auto call = [&](int op) {
      return pe ? host_.PRegProfilePE(op, buffer, -1) : host_.PRegProfile(op, buffer);
    };
    int result = call(kProfileFirst);
    for (; result == 0; result = call(kProfileNext)) names += std::string(buffer) + " ";
    return names + std::to_string(result);
  }
};

// A read at the null profile tries the global profile, then the default level: the scan and
// set-up tests read through both.
TEST_F(ProfileRegistryTest, ReadsFollowTheLevelRules) {
  const struct {
    const char* label;
    int variable;
    const char *name, *profile;
    std::string expected;  // "RESULT:VALUE"
  } cases[] = {
      {"global profile never falls back", kVarAdminServer, nullptr, kGlobalProfile,
       Code(kNotFound)},
      {"instance variable by number", kVarInstanceProfile, nullptr, "QZ7", "0:C:\\P"},
      {"variable name in any case", 0, "qz7portrange", "QZ7MPP", "0:60000:60003"},
      {"instance variables stay apart", 0, "QZ7PORTRANGE", "QZ7", Code(kNotFound)},
  };
  for (const auto& c : cases) EXPECT_EQ(Read(c.variable, c.name, c.profile), c.expected) << c.label;
}

TEST_F(ProfileRegistryTest, PointingNeedsAnExistingDirectoryAndRemoveAllClearsIt) {
  machine_.MakeDirectory("C:\\QZ7\\PROFILES");
  const struct {
    const char* label;
    int op;
    const char* text;
    int expected;
  } cases[] = {
      {"installation", kProfileSetInstall, "C:\\QZ7", 0},
      {"quoted profile directory", kProfileSetInstanceDir, "\"C:\\QZ7\\PROFILES\"", 0},
      {"case differs", kProfileSetInstanceDir, "c:\\qz7\\profiles", 0},
      {"missing directory", kProfileSetInstanceDir, "C:\\NOWHERE", kNotFound},
  };
  for (const auto& c : cases) EXPECT_EQ(Profile(c.op, c.text), c.expected) << c.label;
  std::string pointed;
  ASSERT_EQ(ReadProfilePointer(kInstanceProfileDirValue, &pointed), 0);
  EXPECT_EQ(pointed, "c:\\qz7\\profiles");  // the last successful pointing
  ASSERT_EQ(ReadProfilePointer(kInstallDirValue, &pointed), 0);
  EXPECT_EQ(pointed, "C:\\QZ7");

  // The enumerations list the instances only; removing everything takes the pointers too.
  EXPECT_EQ(Enumerate(), "QZ7 QZ7DAS QZ7MPP " + std::to_string(kEndOfList));
  EXPECT_EQ(Enumerate(false), "QZ7 QZ7DAS QZ7MPP -5");
  EXPECT_EQ(Profile(kProfileRemoveAll, nullptr), 0);

  EXPECT_EQ(Enumerate(false), "-5");                                    // ends at once
  EXPECT_EQ(Read(kVarAdminServer, nullptr, nullptr), Code(kNotFound));  // at every level
  EXPECT_EQ(ReadProfilePointer(kInstallDirValue, &pointed), kNotFound);
  EXPECT_EQ(ReadProfilePointer(kInstanceProfileDirValue, &pointed), kNotFound);
}

#if !defined(_WIN32)
// A registry or service table file that is there but damaged (empty, binary, nothing
// readable) is a failure of every host operation that needs it, never a fresh machine with no
// instances and no services; only a missing file is one.
TEST_F(ProfileRegistryTest, DamagedStoresAreFailuresNotAFreshMachine) {
  machine_.MakeDirectory("C:\\QZ7");
  const std::string registry = machine_.root() + "/registry.txt";
  const std::string services = machine_.root() + "/services.txt";
  ASSERT_EQ(RegisterService("QZ7", "QZ7 - QZ7", "C:\\OLD\\bin\\qz7syscs.exe", nullptr, nullptr),
            0u);
  const std::string goodRegistry = testkit::ReadHostFile(registry);
  const std::string goodServices = testkit::ReadHostFile(services);
  for (const std::string& damage :
       {std::string(), std::string("\x7f\x00\x01\x02", 4), std::string("no registry here\n")}) {
    SCOPED_TRACE(testing::PrintToString(damage));
    testkit::WriteHostFile(registry, damage);
    EXPECT_EQ(Profile(kProfileSetInstall, "C:\\QZ7"), kRegistryUnreachable);
    EXPECT_EQ(Enumerate(false), std::to_string(kRegistryUnreachable));  // not an empty list
    EXPECT_EQ(Read(kVarDefaultInstance, nullptr, nullptr), Code(kRegistryUnreachable));
    testkit::WriteHostFile(registry, goodRegistry);

    testkit::WriteHostFile(services, damage);
    char work[512] = {};
    EXPECT_EQ(host_.DeRegisterNTService("QZ7", work, 0), kSystemError);  // not "no such service"
    EXPECT_EQ(host_.ChangeNTServiceConfig("QZ7", 0, -1, -1, -1, "C:\\QZ7\\bin\\qz7syscs.exe",
                                          nullptr, nullptr, nullptr, nullptr, nullptr, 0, work),
              kSystemError);
    EXPECT_EQ(testkit::ReadHostFile(services), damage);
    testkit::WriteHostFile(services, goodServices);
  }
  ServiceConfig config;
  ASSERT_EQ(QueryServiceNamed("QZ7", &config), 0u);
  EXPECT_EQ(config.program, "C:\\OLD\\bin\\qz7syscs.exe");
  EXPECT_EQ(Profile(kProfileSetInstall, "C:\\QZ7"), 0);
}
#endif

using ServicesAndSharesTest = HostFixture;

TEST_F(ServicesAndSharesTest, ChangeConfigRepointsDeRegisterDeletesAndSharesGoByName) {
  ASSERT_EQ(RegisterService("QZ7-0", "QZ7 - QZ7-0", "C:\\OLD\\bin\\qz7syscs.exe",
                            "NT AUTHORITY\\LocalService", nullptr),
            0u);
  char work[512] = {};
  EXPECT_EQ(host_.ChangeNTServiceConfig("QZ7-0", 0, -1, -1, -1, "C:\\QZ7\\bin\\qz7syscs.exe",
                                        nullptr, nullptr, nullptr, nullptr, nullptr, 0, work),
            0);
  ServiceConfig config;
  ASSERT_EQ(QueryServiceNamed("QZ7-0", &config), 0u);
  EXPECT_EQ(config.program, "C:\\QZ7\\bin\\qz7syscs.exe");
  EXPECT_EQ(config.account, "NT AUTHORITY\\LocalService");    // zero arguments leave the rest alone
  EXPECT_EQ(host_.DeRegisterNTService("qz7-0", work, 0), 0);  // names in any case
  EXPECT_NE(QueryServiceNamed("QZ7-0", &config), 0u);
  // Shares go by name in any case and take a quoted directory without its quotes. Wine has no
  // file server: its NetShareAdd answers 50, which the host passes on as the share's result.
  machine_.MakeDirectory("C:\\PROFILES");
  if (testkit::RunningUnderWine()) {
    EXPECT_EQ(host_.CreateNetworkShare("C:\\PROFILES", "QZ7-MPP", "Everyone", ""), 50);
    return;
  }
  ShareConfig share;
  ASSERT_EQ(host_.CreateNetworkShare("\"C:\\PROFILES\"", "QZ7-MPP", "Everyone", nullptr), 0);
  ASSERT_EQ(QueryShare("QZ7-MPP", &share), 0);
  EXPECT_EQ(share.path, "C:\\PROFILES");
  EXPECT_EQ(host_.DeleteNetworkShare("qz7-mpp", ""), 0);
  EXPECT_EQ(QueryShare("QZ7-MPP", &share), kNotFound);
}

namespace fs = std::filesystem;
using testkit::DiffMachineStates;
using testkit::MachineState;

class InstanceLifecycleTest : public HostFixture {
 protected:
  void SetUp() override {
    HostFixture::SetUp();
    sample::SampleMachine plan;
    plan.templates = {"qz7syssv", "qz7syssr", "qz7sysmp", "qz7syssr.das"};
    plan.migrationMessages = plan.setupMessages = false;
    sample::BuildSampleMachine(machine_.root(), plan);
    machine_.MakeDirectory("C:\\PROFILES");
  }

  MachineState State() const { return testkit::TakeMachineState(machine_.root()); }

  int Create(const char* name, int kind, int adminFlag = 0, const char* account = nullptr,
             const char* profileDir = "C:\\PROFILES") {
    return host_.InstanceCreateExtended(name, profileDir, "C:\\QZ7", adminFlag, account, nullptr, 0,
                                        kind, nullptr);
  }
};

// Refused creates and drops (kind 0 marks a drop, of the directory given as profileDir): a
// drop refuses a directory not named after the instance. Each leaves the machine as it was.
TEST_F(InstanceLifecycleTest, RefusedCreateOrDropLeavesNothing) {
  ASSERT_EQ(Create("OLD", 1), 0);
  fs::remove(machine_.HostPath("C:\\QZ7\\CFG\\qz7syssr.das"));
  const struct {
    const char *label, *name;
    int kind;
    const char* profileDir;
    int expected;
  } cases[] = {
      {"template missing for kind 5", "ST", 5, "C:\\PROFILES", kTemplateMissing},
      {"name of nine characters", "NINECHARS", 1, "C:\\PROFILES", kBadArgument},
      {"empty profile directory", "QZ7", 1, "", kBadArgument},
      {"profile directory on no drive", "QZ7", 1, "B:\\PROFILES", kSystemError},
      {"drop of the parent directory", "OLD", 0, "C:\\PROFILES", kBadArgument},
      {"drop of dot dot", "..", 0, "C:\\PROFILES\\..", kBadArgument},
  };
  const MachineState before = State();
  for (const auto& c : cases) {
    EXPECT_EQ(c.kind == 0 ? host_.InstanceDrop(c.name, c.profileDir)
                          : Create(c.name, c.kind, 0, nullptr, c.profileDir),
              c.expected)
        << c.label;
    EXPECT_EQ(DiffMachineStates(before, State()), "") << c.label;
  }
}

// The service's program path is quoted when it holds a blank (an installation below
// "C:\Program Files"), so that the service manager does not run "C:\Program" with arguments
// (a path without one is registered as it is: the create cases' outcome). A create of a defined
// instance re-points the service the same way.
TEST_F(InstanceLifecycleTest, AServiceProgramPathWithABlankIsQuoted) {
  machine_.WriteFile("C:\\Program Files\\QZ7\\CFG\\qz7syssv",
                     machine_.ReadFile("C:\\QZ7\\CFG\\qz7syssv"));
  for (int round = 0; round < 2; ++round) {  // registered, then re-pointed
    ASSERT_EQ(host_.InstanceCreateExtended("PF", "C:\\PROFILES", "C:\\Program Files\\QZ7", 0,
                                           nullptr, nullptr, 0, 1, nullptr),
              0)
        << round;
    ServiceConfig service;
    ASSERT_EQ(QueryServiceNamed("PF", &service), 0u);
    EXPECT_EQ(service.program, "\"C:\\Program Files\\QZ7\\bin\\qz7syscs.exe\"") << round;
  }
}

// A create on a prepared machine and what it must leave when it succeeds. The machine may hold
// an instance defined by an earlier release (with variables and nodes), an old qz7systm and an
// old service running C:\OLD\bin\qz7syscs.exe.
struct CreateCase {
  const char* label;
  std::vector<sample::ProfileInstance> defined;
  // oldConfig: where an old qz7systm lies; oldService: a service of an earlier release
  const char *oldConfig = nullptr, *oldService = nullptr, *name = "QZ7";
  int kind = 1, adminFlag = 0;
  const char* profileDir = "C:\\PROFILES";
  // after success: the old qz7systm unchanged, or else a copy of this template in C:\QZ7\CFG
  const char* templateFile = nullptr;
  std::vector<std::string> nodes = {};
  const char* service = "QZ7";  // must run C:\QZ7\bin\qz7syscs.exe
};

const sample::ProfileInstance kOldQz7 = {
    .name = "QZ7", .variables = {{"QZ7INSTPROF", "C:\\OLDPROF"}, {"QZ7PORTRANGE", "1:4"}}};
const char* const kOldQz7Config = "C:\\PROFILES\\QZ7\\qz7systm";

// clang-format off
const CreateCase kCreateCases[] = {
    {.label = "new instance", .templateFile = "qz7syssv"},
    {.label = "directory of an undefined instance", .oldConfig = kOldQz7Config, .kind = 3,
     .templateFile = "qz7syssr"},
    {.label = "defined: configuration kept, service re-pointed", .defined = {kOldQz7},
     .oldConfig = kOldQz7Config, .oldService = "QZ7", .kind = 3},
    {.label = "defined: partitioned, new directory, node 0 added",
     .defined = {{.name = "MPP", .variables = {{"QZ7INSTPROF", "C:\\OLDPROF"}}, .nodes = {"1"}}},
     .oldService = "MPP-1", .name = "MPP", .kind = 4, .profileDir = "C:\\NEW\\PROF",
     .templateFile = "qz7sysmp", .nodes = {"0", "1"}, .service = "MPP-0"},
    {.label = "administration server", .name = "DAS", .kind = -1, .adminFlag = 1,
     .templateFile = "qz7syssr.das", .service = "DAS"},
    {.label = "defined: becomes partitioned, nodes key added", .defined = {kOldQz7},
     .oldConfig = kOldQz7Config, .kind = 4, .nodes = {"0"}, .service = "QZ7-0"},
};
// clang-format on

const std::vector<unsigned char> kOldConfigBytes =
    sample::DbmBlockBuilder().Version(0x800).NodeType(1).Bytes();

class CreateCaseTest : public InstanceLifecycleTest {
 protected:
  void Prepare(const CreateCase& c) {
    ASSERT_EQ(sample::WriteProfileRegistry({.instances = c.defined}), 0);
    if (c.oldConfig != nullptr) machine_.WriteFile(c.oldConfig, kOldConfigBytes);
    if (c.oldService != nullptr) {
      ASSERT_EQ(
          RegisterService(c.oldService, "QZ7", "C:\\OLD\\bin\\qz7syscs.exe", nullptr, nullptr), 0u);
    }
  }
  int Run(const CreateCase& c) {
    return Create(c.name, c.kind, c.adminFlag, "NT AUTHORITY\\NetworkService", c.profileDir);
  }

  // The instance's qz7systm (as the host files are named, whatever case the call used).
  static std::string ConfigPath(const CreateCase& c) {
    return c.oldConfig != nullptr ? c.oldConfig
                                  : std::string(c.profileDir) + "\\" + c.name + "\\qz7systm";
  }

  // What a successful create of the case must have left: the names of what is wrong.
  std::string Outcome(const CreateCase& c) const {
    std::string faults;
    auto check = [&faults](bool good, const std::string& what) {
      if (!good) faults += what + "\n";
    };
    check(machine_.ReadFile(ConfigPath(c)) ==
              (c.templateFile == nullptr
                   ? kOldConfigBytes
                   : machine_.ReadFile(std::string("C:\\QZ7\\CFG\\") + c.templateFile)),
          "qz7systm");
    std::vector<std::string> instances, expected = {c.defined.empty() ? c.name : c.defined[0].name};
    check(ListInstances(&instances) == 0 && instances == expected, "instances");
    std::map<std::string, std::string> variables;  // those defined before are kept
    for (const auto& instance : c.defined)
      for (const auto& variable : instance.variables) variables[variable.name] = variable.value;
    variables["QZ7INSTPROF"] = c.profileDir;
    for (const auto& [name, expected] : variables) {
      std::string value;
      check(ReadVariableAt(ProfileLevel::kInstance, c.name, name, &value) == 0 && value == expected,
            name);
    }
    std::vector<std::string> nodes;
    check(ListInstanceNodes(c.name, &nodes) == 0 && nodes == c.nodes, "nodes");
    ServiceConfig service;
    check(QueryServiceNamed(c.service, &service) == 0 &&
              service.program == "C:\\QZ7\\bin\\qz7syscs.exe" &&
              service.account == "NT AUTHORITY\\NetworkService",
          "service");
    return faults;
  }
};

// Every file operation of a create fails in turn, and then every registry and service
// operation. A failed create must leave the machine as it was; a create that gets past its
// failed file operation must be complete, and a second run then changes nothing more.
TEST_F(CreateCaseTest, CreateOrUpdateWithEveryStepFailingInTurn) {
  testkit::MachineCopy empty(machine_.root(), ".empty");
  for (const CreateCase& c : kCreateCases) {
    SCOPED_TRACE(c.label);
    empty.Restore();
    ASSERT_NO_FATAL_FAILURE(Prepare(c));
    testkit::MachineCopy prepared(machine_.root(), ".prepared");
    const MachineState before = State();
    int result = 0;
    int failures = 0;
    const auto restore = [&] { prepared.Restore(); };
    const auto run = [&] { result = Run(c); };
    const auto check = [&](uint64_t) {
      failures += result != 0;
      ASSERT_EQ(result != 0 ? DiffMachineStates(before, State()) : Outcome(c), "");
    };
    // Every file operation in turn, then (POSIX) every registry and service operation: among
    // them each replacement of registry.txt or services.txt, which the stand-in reports as the
    // operation's failure. Every create probes and writes files, the registry and the service
    // table, and each can fail.
    using platform::OperationKind;
    const std::vector<testkit::PointFault> rounds = {
      testkit::Failing(platform::kErrorDiskFull, platform::kFileOperationKinds),
#if !defined(_WIN32)
      testkit::Failing(platform::kErrorWriteFault, platform::KindBit(OperationKind::kRegistry) |
                                                       platform::KindBit(OperationKind::kService)),
#endif
    };
    for (const testkit::PointFault& round : rounds) {
      SCOPED_TRACE(round.plan.kinds == platform::kFileOperationKinds ? "file operations"
                                                                     : "registry and services");
      failures = 0;
      const uint64_t points = testkit::CountOperations(restore, run, round.plan.kinds);
      ASSERT_NO_FATAL_FAILURE(testkit::FaultAtEveryPoint(points, round, {restore, run, check}));
      EXPECT_GT(failures, 0);
    }
    prepared.Restore();
    ASSERT_EQ(Run(c), 0);
    EXPECT_EQ(Outcome(c), "");
    EXPECT_FALSE(machine_.Exists(ConfigPath(c) + ".old"));
    const MachineState once = State();
    ASSERT_EQ(Run(c), 0);
    EXPECT_EQ(DiffMachineStates(once, State()), "");
  }
}

// A drop removes directory, key and services, read-only files too, leaving the machine as it
// was before the creates.
TEST_F(InstanceLifecycleTest, CreateThenDropLeavesNothing) {
  const MachineState before = State();
  // Quoted paths are taken without their quotes.
  ASSERT_EQ(host_.InstanceCreateExtended("QZ7", "\"C:\\PROFILES\"", "\"C:\\QZ7\"", 0, nullptr,
                                         nullptr, 0, 1, nullptr),
            0);
  EXPECT_EQ(Read(0, "QZ7INSTPROF", "QZ7"), "0:C:\\PROFILES");
  ASSERT_EQ(Create("MPP", 4), 0);
  ASSERT_EQ(AddInstanceNode("MPP", "1"), 0);
  ASSERT_EQ(RegisterService("MPP-1", "QZ7 - MPP-1", "C:\\QZ7\\bin\\qz7syscs.exe", nullptr, nullptr),
            0u);
  machine_.WriteText("C:\\PROFILES\\QZ7\\SQLDBDIR\\SQLDBDIR", "entries");
  ASSERT_EQ(platform::SetFileWritable("C:\\PROFILES\\QZ7\\SQLDBDIR\\SQLDBDIR", false), 0);
  EXPECT_EQ(host_.InstanceDrop("QZ7", "\"C:\\PROFILES\\QZ7\""), 0);
  EXPECT_EQ(host_.InstanceDrop("MPP", nullptr), 0);   // directory from QZ7INSTPROF
  EXPECT_EQ(DiffMachineStates(before, State()), "");  // services MPP-0 and MPP-1 included
  EXPECT_EQ(host_.InstanceDrop("QZ7", "C:\\PROFILES\\QZ7"), kNotFound);
}

}  // namespace
}  // namespace qz7::host
