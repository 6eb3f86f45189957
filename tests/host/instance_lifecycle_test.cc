// Creating and dropping instances in the stand-in runtime: what a create makes, that a create
// of a defined instance updates it, that a failed create or update (bad request, missing
// template, or any failing file, registry or service step) leaves the machine exactly as it
// was, and that a drop removes directory, key and services.
#include "host/instance_lifecycle.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "host/host_files.h"
#include "host/profile_registry.h"
#include "host/service_table.h"
#include "platform/fault_injection.h"
#include "platform/file_system.h"
#include "platform/posix/syscalls.h"
#include "platform/win_error.h"
#include "testkit/dbm_block_builder.h"
#include "testkit/profile_registry_builder.h"
#include "testkit/sample_machine.h"
#include "tests/host/host_fixture.h"

namespace qz7::host {
namespace {

namespace fs = std::filesystem;

std::string HostFileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The entries of a text store in the machine root (registry.txt, services.txt) without the
// comment header a rewrite adds; with a key prefix, only the sections whose name starts with it.
std::string StoreEntries(const fs::path& file, const std::string& sectionPrefix = "") {
  std::istringstream table(HostFileText(file));
  std::string text;
  bool keep = sectionPrefix.empty();
  for (std::string line; std::getline(table, line);) {
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (!sectionPrefix.empty() && line[0] == '[') keep = line.rfind(sectionPrefix, 0) == 0;
    if (keep) text += line + "\n";
  }
  return text;
}

// What a create may change: every file and directory on the drives (with contents), the
// service table, and the instance keys of the profile registry with their values and nodes.
struct MachineState {
  std::map<std::string, std::string> files;
  std::string services;
  std::string profiles;
  bool operator==(const MachineState&) const = default;
};

// What differs between two states, for failure messages.
std::string Diff(const MachineState& before, const MachineState& after) {
  std::string text;
  for (const auto& [path, content] : after.files) {
    auto found = before.files.find(path);
    if (found == before.files.end()) {
      text += "added " + path + "\n";
    } else if (found->second != content) {
      text += "changed " + path + "\n";
    }
  }
  for (const auto& [path, content] : before.files) {
    if (after.files.count(path) == 0) text += "removed " + path + "\n";
  }
  if (before.services != after.services) {
    text += "services before:\n" + before.services + "services after:\n" + after.services;
  }
  if (before.profiles != after.profiles) {
    text += "profiles before:\n" + before.profiles + "profiles after:\n" + after.profiles;
  }
  return text;
}

class InstanceLifecycleTest : public HostFixture {
 protected:
  void SetUp() override {
    HostFixture::SetUp();
    testkit::SampleMachine plan;
    plan.templates = {"qz7syssv", "qz7syssr", "qz7sysmp", "qz7syssr.das"};
    plan.migrationMessages = false;
    plan.setupMessages = false;
    testkit::BuildSampleMachine(machine_.root(), plan);
    machine_.MakeDirectory("C:\\PROFILES");
  }

  MachineState State() const {
    MachineState state;
    fs::path drives = fs::path(machine_.root()) / "drives";
    for (const auto& entry : fs::recursive_directory_iterator(drives)) {
      std::string key = fs::relative(entry.path(), drives).string();
      state.files[key] = entry.is_directory() ? "<dir>" : HostFileText(entry.path());
    }
    state.services = StoreEntries(fs::path(machine_.root()) / "services.txt");
    state.profiles = StoreEntries(fs::path(machine_.root()) / "registry.txt",
                                  std::string("[") + kProfilesKey + "\\");
    return state;
  }

  int Create(const char* name, int kind, int adminFlag = 0, const char* account = nullptr,
             const char* profileDir = "C:\\PROFILES") {
    return host_.InstanceCreateExtended(name, profileDir, "C:\\QZ7", adminFlag, account, nullptr, 0,
                                        kind, nullptr);
  }

  std::vector<unsigned char> MachineFile(const std::string& path) const {
    return machine_.ReadFile(path);
  }
};

TEST_F(InstanceLifecycleTest, CreateMakesDirectoryKeyAndService) {
  struct Case {
    const char* label;
    const char* name;
    int kind;
    int adminFlag;
    const char* templateFile;
    const char* service;
  };
  const Case cases[] = {
      {"server kind 1", "QZ7", 1, 0, "qz7syssv", "QZ7"},
      {"server kind 3", "INST3", 3, 0, "qz7syssr", "INST3"},
      {"partitioned kind 4", "MPP", 4, 0, "qz7sysmp", "MPP-0"},
      {"administration server", "QZ7DAS", -1, 1, "qz7syssr.das", "QZ7DAS"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ASSERT_EQ(Create(c.name, c.kind, c.adminFlag, ".\\qz7user"), 0);
    std::string dir = std::string("C:\\PROFILES\\") + c.name;
    EXPECT_EQ(MachineFile(dir + "\\qz7systm"),
              MachineFile(std::string("C:\\QZ7\\CFG\\") + c.templateFile));
    EXPECT_EQ(MachineFile(dir + "\\qz7systm").size(), 4096u);
    std::string profile;
    EXPECT_EQ(ReadVariableAt(ProfileLevel::kInstance, c.name, "QZ7INSTPROF", &profile), 0);
    EXPECT_EQ(profile, "C:\\PROFILES");
    ServiceConfig service;
    ASSERT_EQ(QueryServiceNamed(c.service, &service), 0u);
    EXPECT_EQ(service.program, "C:\\QZ7\\bin\\qz7syscs.exe");
    EXPECT_EQ(service.account, ".\\qz7user");
  }
  std::vector<std::string> nodes;
  ASSERT_EQ(ListInstanceNodes("MPP", &nodes), 0);
  EXPECT_EQ(nodes, std::vector<std::string>{"0"});
}

TEST_F(InstanceLifecycleTest, CreateStripsQuotesAndMakesMissingProfileDirectories) {
  ASSERT_EQ(host_.InstanceCreateExtended("QZ7", "\"C:\\NEW\\PROF\"", "\"C:\\QZ7\"", 0, nullptr,
                                         nullptr, 0, 1, nullptr),
            0);
  EXPECT_TRUE(machine_.Exists("C:\\NEW\\PROF\\QZ7\\qz7systm"));
  std::string profile;
  ASSERT_EQ(ReadVariableAt(ProfileLevel::kInstance, "QZ7", "QZ7INSTPROF", &profile), 0);
  EXPECT_EQ(profile, "C:\\NEW\\PROF");
}

TEST_F(InstanceLifecycleTest, RefusedCreateLeavesNothing) {
  ASSERT_EQ(Create("OLD", 1), 0);
  struct Case {
    const char* label;
    const char* name;
    int kind;
    int adminFlag;
    const char* profileDir;
    int expected;
  };
  const Case cases[] = {
      {"template missing for kind 5", "ST", 5, 0, "C:\\PROFILES", kTemplateMissing},
      {"template missing for kind 2", "RQ", 2, 0, "C:\\PROFILES", kTemplateMissing},
      {"unknown kind", "K7", 7, 0, "C:\\PROFILES", kBadArgument},
      {"empty name", "", 1, 0, "C:\\PROFILES", kBadArgument},
      {"name of nine characters", "NINECHARS", 1, 0, "C:\\PROFILES", kBadArgument},
      {"name with a backslash", "A\\B", 1, 0, "C:\\PROFILES", kBadArgument},
      {"name with a blank", "A B", 1, 0, "C:\\PROFILES", kBadArgument},
      {"empty profile directory", "QZ7", 1, 0, "", kBadArgument},
      {"profile directory on no drive", "QZ7", 1, 0, "Q:\\PROFILES", kSystemError},
  };
  MachineState before = State();
  for (const Case& c : cases) {
    EXPECT_EQ(Create(c.name, c.kind, c.adminFlag, nullptr, c.profileDir), c.expected) << c.label;
    EXPECT_EQ(Diff(before, State()), "") << c.label;
  }
  EXPECT_EQ(host_.InstanceCreateExtended(nullptr, "C:\\PROFILES", "C:\\QZ7", 0, nullptr, nullptr, 0,
                                         1, nullptr),
            kBadArgument);
}

TEST_F(InstanceLifecycleTest, AdminServerWithoutDasTemplateFails) {
  fs::remove(machine_.HostPath("C:\\QZ7\\CFG\\qz7syssr.das"));
  MachineState before = State();
  EXPECT_EQ(Create("QZ7DAS", -1, 1), kTemplateMissing);
  EXPECT_EQ(Diff(before, State()), "");
}

// A create on a prepared machine and what it must leave when it succeeds. The machine may hold
// an instance defined by an earlier release (with variables and nodes), an old qz7systm and an
// old service running C:\OLD\bin\qz7syscs.exe.
struct CreateCase {
  const char* label;
  std::vector<testkit::ProfileInstance> defined;
  const char* oldConfig = nullptr;   // where an old qz7systm lies
  const char* oldService = nullptr;  // a service of an earlier release
  const char* name = "QZ7";
  int kind = 1;
  int adminFlag = 0;
  const char* profileDir = "C:\\PROFILES";
  // after success: the old qz7systm unchanged, or else a copy of this template in C:\QZ7\CFG
  const char* templateFile = nullptr;
  std::vector<std::string> nodes = {};
  const char* service = "QZ7";  // must run C:\QZ7\bin\qz7syscs.exe
};

const testkit::ProfileInstance kOldQz7 = {
    .name = "QZ7", .variables = {{"QZ7INSTPROF", "C:\\OLDPROF"}, {"QZ7PORTRANGE", "1:4"}}};
const char* const kOldQz7Config = "C:\\PROFILES\\QZ7\\qz7systm";

const CreateCase kCreateCases[] = {
    {.label = "new instance", .templateFile = "qz7syssv"},
    {.label = "directory of an undefined instance",
     .oldConfig = kOldQz7Config,
     .kind = 3,
     .templateFile = "qz7syssr"},
    {.label = "defined: configuration kept, service re-pointed",
     .defined = {kOldQz7},
     .oldConfig = kOldQz7Config,
     .oldService = "QZ7",
     .kind = 3},
    {.label = "defined in another case",
     .defined = {kOldQz7},
     .oldConfig = kOldQz7Config,
     .oldService = "QZ7",
     .name = "qz7"},
    {.label = "defined: partitioned, new directory, node 0 added",
     .defined = {{.name = "MPP", .variables = {{"QZ7INSTPROF", "C:\\OLDPROF"}}, .nodes = {"1"}}},
     .oldService = "MPP-1",
     .name = "MPP",
     .kind = 4,
     .profileDir = "C:\\NEW\\PROF",
     .templateFile = "qz7sysmp",
     .nodes = {"1", "0"},
     .service = "MPP-0"},
    {.label = "defined: partitioned with node 0",
     .defined = {{.name = "MPP", .nodes = {"0", "1"}}},
     .oldConfig = "C:\\PROFILES\\MPP\\qz7systm",
     .oldService = "MPP-0",
     .name = "MPP",
     .kind = 4,
     .nodes = {"0", "1"},
     .service = "MPP-0"},
    {.label = "defined: becomes partitioned, nodes key added",
     .defined = {kOldQz7},
     .oldConfig = kOldQz7Config,
     .kind = 4,
     .nodes = {"0"},
     .service = "QZ7-0"},
    {.label = "defined administration server without variables",
     .defined = {{.name = "DAS"}},
     .name = "DAS",
     .kind = -1,
     .adminFlag = 1,
     .templateFile = "qz7syssr.das",
     .service = "DAS"},
};

const std::vector<unsigned char> kOldConfigBytes =
    testkit::DbmBlockBuilder().Version(0x800).NodeType(1).Bytes();

// The files of the machine root copied aside, to put a machine back between runs.
class MachineCopy {
 public:
  MachineCopy(const std::string& root, const char* suffix) : root_(root), copy_(root + suffix) {
    fs::copy(root_, copy_, fs::copy_options::recursive);
  }
  ~MachineCopy() { fs::remove_all(copy_); }
  void Restore() const {
    for (const auto& entry : fs::directory_iterator(root_)) fs::remove_all(entry.path());
    fs::copy(copy_, root_, fs::copy_options::recursive);
  }

 private:
  fs::path root_;
  fs::path copy_;
};

class CreateCaseTest : public InstanceLifecycleTest {
 protected:
  void Prepare(const CreateCase& c) {
    ASSERT_EQ(testkit::WriteProfileRegistry({.instances = c.defined}), 0);
    if (c.oldConfig != nullptr) machine_.WriteFile(c.oldConfig, kOldConfigBytes);
    if (c.oldService != nullptr) {
      ASSERT_EQ(
          RegisterService(c.oldService, "QZ7", "C:\\OLD\\bin\\qz7syscs.exe", nullptr, nullptr), 0u);
    }
  }
  int Run(const CreateCase& c) {
    return Create(c.name, c.kind, c.adminFlag, nullptr, c.profileDir);
  }

  // The instance's qz7systm (as the host files are named, whatever case the call used).
  static std::string ConfigPath(const CreateCase& c) {
    if (c.oldConfig != nullptr) return c.oldConfig;
    return std::string(c.profileDir) + "\\" + c.name + "\\qz7systm";
  }

  // What a successful create of the case must have left; empty when all is as it should be.
  std::string Outcome(const CreateCase& c) const {
    std::string faults;
    auto check = [&faults](bool good, const std::string& what) {
      if (!good) faults += what + "\n";
    };
    check(MachineFile(ConfigPath(c)) ==
              (c.templateFile == nullptr
                   ? kOldConfigBytes
                   : MachineFile(std::string("C:\\QZ7\\CFG\\") + c.templateFile)),
          "qz7systm");
    std::vector<std::string> instances;
    ListInstances(&instances);
    std::vector<std::string> expected;
    for (const auto& instance : c.defined) expected.push_back(instance.name);
    if (expected.empty()) expected.push_back(c.name);
    check(instances == expected, "instances");
    std::string value;
    check(ReadVariableAt(ProfileLevel::kInstance, c.name, "QZ7INSTPROF", &value) == 0 &&
              value == c.profileDir,
          "QZ7INSTPROF");
    for (const auto& instance : c.defined) {
      for (const auto& variable : instance.variables) {
        if (variable.name == "QZ7INSTPROF") continue;
        check(ReadVariableAt(ProfileLevel::kInstance, c.name, variable.name, &value) == 0 &&
                  value == variable.value,
              variable.name);
      }
    }
    std::vector<std::string> nodes;
    check(ListInstanceNodes(c.name, &nodes) == 0 && nodes == c.nodes, "nodes");
    ServiceConfig service;
    check(QueryServiceNamed(c.service, &service) == 0 &&
              service.program == "C:\\QZ7\\bin\\qz7syscs.exe",
          "service");
    if (c.oldService != nullptr && !EqualsNoCase(c.oldService, c.service)) {
      check(QueryServiceNamed(c.oldService, &service) == 0 &&
                service.program == "C:\\OLD\\bin\\qz7syscs.exe",
            "other service untouched");
    }
    return faults;
  }
};

TEST_F(CreateCaseTest, CreateOrUpdateOutcome) {
  MachineCopy empty(machine_.root(), ".empty");
  for (const CreateCase& c : kCreateCases) {
    SCOPED_TRACE(c.label);
    empty.Restore();
    ASSERT_NO_FATAL_FAILURE(Prepare(c));
    ASSERT_EQ(Run(c), 0);
    EXPECT_EQ(Outcome(c), "");
    EXPECT_FALSE(machine_.Exists(ConfigPath(c) + ".old"));
    // A second run changes nothing more.
    MachineState once = State();
    ASSERT_EQ(Run(c), 0);
    EXPECT_EQ(Diff(once, State()), "");
  }
}

// Every file operation of a create fails in turn. A failed create must leave the machine as
// it was; a create that gets past its failed operation must be complete.
TEST_F(CreateCaseTest, FailingFileStepLeavesNothing) {
  MachineCopy empty(machine_.root(), ".empty");
  for (const CreateCase& c : kCreateCases) {
    SCOPED_TRACE(c.label);
    empty.Restore();
    ASSERT_NO_FATAL_FAILURE(Prepare(c));
    MachineCopy prepared(machine_.root(), ".prepared");
    MachineState before = State();
    int failures = 0;
    uint64_t failAt = 1;
    for (bool hit = true; hit; ++failAt) {
      platform::SetFaultPlan({.triggerAt = failAt, .error = platform::kErrorDiskFull});
      int result = Run(c);
      hit = platform::FileOperationCount() >= failAt;
      platform::ClearFaultPlan();
      if (result != 0) {
        ++failures;
        ASSERT_EQ(Diff(before, State()), "") << "file operation " << failAt;
      } else {
        ASSERT_EQ(Outcome(c), "") << "file operation " << failAt;
      }
      prepared.Restore();
    }
    EXPECT_GT(failures, 0);  // every create probes or writes files, and that can fail
  }
}

// The same with the registry and service table: the n-th rename (every replacement of
// registry.txt or services.txt, and the renames of qz7systm) fails.
int rename_calls = 0;
int rename_fails_at = 0;
int FailingRename(const char* from, const char* to) {
  if (++rename_calls == rename_fails_at) {
    errno = EIO;
    return -1;
  }
  return platform::posix::DefaultSyscalls().rename(from, to);
}

TEST_F(CreateCaseTest, FailingRegistryOrServiceStepLeavesNothing) {
  MachineCopy empty(machine_.root(), ".empty");
  for (const CreateCase& c : kCreateCases) {
    SCOPED_TRACE(c.label);
    empty.Restore();
    ASSERT_NO_FATAL_FAILURE(Prepare(c));
    MachineState before = State();
    int failures = 0;
    for (rename_fails_at = 1;; ++rename_fails_at) {
      rename_calls = 0;
      int result;
      {
        platform::posix::ScopedSyscallOverride scope;
        scope.table().rename = FailingRename;
        result = Run(c);
      }
      if (rename_calls < rename_fails_at) {
        ASSERT_EQ(result, 0);  // nothing failed at all
        break;
      }
      ASSERT_NE(result, 0) << "rename " << rename_fails_at;  // every rename of a create matters
      ++failures;
      ASSERT_EQ(Diff(before, State()), "") << "rename " << rename_fails_at;
    }
    EXPECT_GE(failures, 2);  // at least the registry and the service table are written
    EXPECT_EQ(Outcome(c), "");
  }
}

TEST_F(InstanceLifecycleTest, ServiceOfEarlierReleaseIsRepointedAndRestoredOnFailure) {
  ASSERT_EQ(
      RegisterService("QZ7", "QZ7 - QZ7", "C:\\OLD\\bin\\qz7syscs.exe", ".\\olduser", nullptr), 0u);
  // A directory where the new copy of the template must go makes the last step fail.
  machine_.MakeDirectory("C:\\PROFILES\\QZ7\\qz7systm.new");
  MachineState before = State();
  EXPECT_NE(Create("QZ7", 1, 0, ".\\newuser"), 0);
  EXPECT_EQ(Diff(before, State()), "");
  ServiceConfig service;
  ASSERT_EQ(QueryServiceNamed("QZ7", &service), 0u);
  EXPECT_EQ(service.program, "C:\\OLD\\bin\\qz7syscs.exe");
  EXPECT_EQ(service.account, ".\\olduser");

  fs::remove(machine_.HostPath("C:\\PROFILES\\QZ7\\qz7systm.new"));
  ASSERT_EQ(Create("QZ7", 1, 0, ".\\newuser"), 0);
  ASSERT_EQ(QueryServiceNamed("QZ7", &service), 0u);
  EXPECT_EQ(service.program, "C:\\QZ7\\bin\\qz7syscs.exe");
  EXPECT_EQ(service.account, ".\\newuser");
}

TEST_F(InstanceLifecycleTest, CreateThenDropLeavesNothing) {
  MachineState before = State();
  ASSERT_EQ(Create("QZ7", 1), 0);
  ASSERT_EQ(Create("MPP", 4), 0);
  ASSERT_EQ(AddInstanceNode("MPP", "1"), 0);
  ASSERT_EQ(RegisterService("MPP-1", "QZ7 - MPP-1", "C:\\QZ7\\bin\\qz7syscs.exe", nullptr, nullptr),
            0u);
  machine_.WriteText("C:\\PROFILES\\QZ7\\SQLDBDIR\\SQLDBDIR", "entries");
  ASSERT_EQ(platform::SetFileWritable("C:\\PROFILES\\QZ7\\SQLDBDIR\\SQLDBDIR", false), 0);

  EXPECT_EQ(host_.InstanceDrop("QZ7", "\"C:\\PROFILES\\QZ7\""), 0);
  EXPECT_EQ(host_.InstanceDrop("MPP", nullptr), 0);  // directory from QZ7INSTPROF
  EXPECT_EQ(Diff(before, State()), "");
  ServiceConfig service;
  EXPECT_EQ(QueryServiceNamed("MPP-1", &service), platform::kErrorServiceDoesNotExist);
  EXPECT_EQ(host_.InstanceDrop("QZ7", "C:\\PROFILES\\QZ7"), kNotFound);
}

TEST_F(InstanceLifecycleTest, DropRefusesADirectoryNotNamedAfterTheInstance) {
  ASSERT_EQ(Create("QZ7", 1), 0);
  MachineState before = State();
  struct Case {
    const char* label;
    const char* name;
    const char* dir;
  };
  const Case cases[] = {
      {"parent directory", "QZ7", "C:\\PROFILES"}, {"drive root", "QZ7", "C:\\"},
      {"drive as a name", "C:", "C:\\"},           {"dot dot", "..", "C:\\PROFILES\\.."},
      {"empty directory text", "QZ7", "\"\""},     {"empty name", "", "C:\\PROFILES\\QZ7"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(host_.InstanceDrop(c.name, c.dir), kBadArgument) << c.label;
    EXPECT_EQ(Diff(before, State()), "") << c.label;
  }
}

TEST_F(InstanceLifecycleTest, DropRemovesADirectoryKnownOnlyFromTheIndexFile) {
  machine_.WriteFile("C:\\PROFILES\\OLDINST\\qz7systm",
                     testkit::DbmBlockBuilder().Version(0x700).Bytes());
  EXPECT_EQ(host_.InstanceDrop("OLDINST", "C:\\PROFILES\\OLDINST"), 0);
  EXPECT_FALSE(machine_.Exists("C:\\PROFILES\\OLDINST"));
  EXPECT_TRUE(machine_.Exists("C:\\PROFILES"));
}

}  // namespace
}  // namespace qz7::host
