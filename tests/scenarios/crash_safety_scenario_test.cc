// Whole upgrade runs interrupted at every operation of every kind (file, stream, folder,
// registry, service, process, environment): with that one operation failing, followed by a
// clean run; or stopped there as a killed process or a power cut would stop them (a power cut
// also loses every write not yet synced), then run again with the same arguments. Each loop
// reports, by operation, what a rerun did not converge on and what was lost.
// The machines are a table of plans. Two machines of an earlier release: one whose instances
// are defined in the profile registry, and one whose instances are listed in the old instance
// index file (database directories at the drive root); their runs upgrade existing instances
// and run no instance tool, and are only failed (the other machines' kill and power-cut loops
// take every kind of their steps). A third, small machine has one instance listed in the index
// file, without directory files, and its run asks for that instance to become partitioned
// (QZ7IUPDT) and for a new partitioned instance (QZ7ICRT): its points include every process
// operation around the two tool runs (a tool that cannot be started, a wait or an exit code that
// fails, the library killed or cut off while a tool runs). Two more registry machines: one whose
// old profile directory holds nothing but its instances (the run removes it once emptied, and only
// once every instance found there points elsewhere), and one that also carries over the
// administration server and a partitioned instance of this computer with two node services.
// Nothing of the earlier release may become
// unrecoverable, and the second run must leave the whole machine as an uninterrupted run
// leaves it: registry, service table and every file on its drives.
//
// A tool is a program of its own: when the library is killed or cut off while a tool runs,
// or its wait for the tool fails, the tool runs on to its end (its changes are its own, and
// the power cut undoes only what the library wrote and did not sync). The rerun starts once
// no tool of the interrupted run is still running, so that no tool changes the machine under
// the rerun or after it.
//
// QZ7_SCENARIO_STRIDE=k interrupts only every k-th operation: while developing, under Wine
// (8), and in the sanitizer run (3, its test preset), where each point costs several times
// more; the default build interrupts every one.
//
// On Windows the failing loop and the killing loop run (the power cut needs the POSIX
// bookkeeping of what was synced): the machine is the computer's own, taken and put back
// through the system's interfaces (the test machine's folders, the product's registry tree,
// the services it made). A killed run there is the operator tool's test build, run as a child
// process with the fault plan in QZ7_FAULT, numbered by the tool's own count of operations.
#if defined(_WIN32)
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>
#else
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "entry/setup_context.h"
#include "host/profile_registry.h"
#include "platform/file_system.h"
#include "platform/machine_root.h"
#include "platform/win_error.h"
#include "testkit/child_run.h"
#include "testkit/fault_injection.h"
#include "testkit/host_os.h"
#include "testkit/machine_state.h"
#include "testkit/tool_runner.h"
#include "tests/scenarios/scenario_fixture.h"
#include "tools/sample/database_directory_builder.h"
#include "util/path_normalization.h"

namespace qz7::scenarios {
namespace {

namespace fs = std::filesystem;

constexpr int kCrashExitCode = 86;
constexpr const char* kAdminServer = "QZ7DAS00";
constexpr const char* kPartitioned = "MPP";
// The installation's programs, the instance tools among them: large files that no run
// writes. The copy of the machine links them instead of copying them, and the snapshots
// leave them out.
constexpr const char* kProgramFolder = "drives/c/QZ7/BIN";

// A machine of an earlier release that the loops upgrade: its two old instances (or the one an
// instance-tools run makes partitioned), where they are listed, and what else it carries.
struct MachinePlan {
  const char* name;
  std::vector<std::pair<const char*, testkit::OldInstanceShape>> olds;
  bool indexFile = false;  // listed in QZ7IDIR, not in the profile registry
  bool tools = false;      // the run asks for partitioned instances and runs instance tools
  bool clientConfig = true;
  bool adminPartitioned = false;  // also carries the administration server and an MPP instance
  bool existingDestination = false;
  bool readOnlyConfig = false;  // SALES's qz7systm read-only
  bool crashLoops = false;      // also killed and cut off, not only failed, at every operation
};

const MachinePlan kMachines[] = {
    // Its SALES has a destination that exists already: copied over, then its source deleted;
    // its qz7systm is read-only.
    {.name = "Registry",
     .olds = {{"QZ7", {.seed = 1, .databaseLayout = 2, .nodeLayout = 1}},
              {"SALES", {.seed = 2, .databaseLayout = 3, .nodeLayout = 4}}},
     .existingDestination = true,
     .readOnlyConfig = true},
    // Database directories at the root of drive C:.
    {.name = "IndexFile",
     .olds = {{"SALES", {.seed = 3, .version = 0x600, .databaseLayout = 1, .nodeLayout = 2}},
              {"HR", {.seed = 4, .version = 0x600, .databaseLayout = 4, .nodeLayout = 5}}},
     .indexFile = true},
    // One instance without directory files; the run asks for it as a partitioned one and for
    // a new partitioned instance.
    {.name = "InstanceTools",
     .olds = {{"HR", {.seed = 5, .version = 0x600, .databaseLayout = 0, .nodeLayout = 0}}},
     .indexFile = true,
     .tools = true,
     .crashLoops = true},
    // The old profile directory holds the two instances and nothing else: the last move
    // empties it, and the run removes it. Its SALES too is copied over an existing destination.
    {.name = "OnlyInstances",
     .olds = {{"QZ7", {.seed = 6, .databaseLayout = 1, .nodeLayout = 3}},
              {"SALES", {.seed = 7, .databaseLayout = 4, .nodeLayout = 2}}},
     .clientConfig = false,
     .existingDestination = true,
     .crashLoops = true},
    // The demo's kind of machine: besides two ordinary instances, the administration server
    // and a partitioned instance of this computer are carried over, and nothing else is in the
    // old profile directory.
    {.name = "AdminPartitioned",
     .olds = {{"QZ7", {.seed = 8, .databaseLayout = 2, .nodeLayout = 1}},
              {"SALES", {.seed = 9, .databaseLayout = 3, .nodeLayout = 4}}},
     .clientConfig = false,
     .adminPartitioned = true,
     .crashLoops = true},
};
enum class Interruption { kFailure, kKilledProcess, kPowerLoss };

// The whole machine as a rerun must leave it: each file by its path below the machine root.
// What may differ from an uninterrupted run, and why:
// - the order of lines in registry.txt and services.txt: keys, values and services stand in
//   the order they were made, which depends on what an interrupted run had made already; they
//   are compared as sorted lines within each sorted section;
// - in a qz7systm, the processor speed (offset 808) and so the checksum (offset 0): an
//   instance made anew is stamped with the speed measured by a timed loop in that run;
// - in the qz7systm of a partitioned instance, a value below 400 at offset 76: the run that
//   makes an ordinary instance partitioned converts its file with no floor there, and every
//   later run converts the partitioned file into the partitioned template, which raises such
//   a value to 400; a rerun after an interruption past that first conversion is such a later
//   run (compared as 400);
// - quotes around the program of a partitioned instance's node service: the tool that makes
//   the instance writes it bare; a run that finds the instance made already points its node
//   services at the installation with the program quoted, as the installation directory is
//   passed quoted (the same program either way);
// - the network shares (the keys below the LanmanServer key): a rerun that finds the new
//   partitioned instance made by the interrupted run sets it up as an existing one, which
//   shares the directory its profile moved to; the tool that makes it shares nothing;
// - whether the old profile directory, once empty, is still there: the move that empties it
//   removes it, and after an interrupted run that may be an instance's move (which removes
//   emptied folders) rather than the client configuration file's (which does not).
// Nothing else: no file holds a time or a process number.
using Snapshot = testkit::MachineState;

// The bytes of a snapshot file that must be equal.
std::string Comparable(const std::string& path, std::string bytes) {
  const std::string name = path.substr(path.find_last_of('/') + 1);
  if (name == "qz7systm" && bytes.size() == sample::kDbmFileSize) {
    for (size_t offset : {size_t{0}, size_t{808}}) bytes.replace(offset, 4, 4, '\0');
    const FileBytes config(bytes.begin(), bytes.end());
    if (sample::DbmU16(config, 40) == 4 && sample::DbmU32(config, 76) < 400) {
      bytes.replace(76, 4, std::string("\x90\x01\0\0", 4));  // 400
    }
  }
  return bytes;
}

#if !defined(_WIN32)
// A service program line with its quotes taken off: BinaryPathName="\"C:\\X\"" as
// BinaryPathName="C:\\X".
std::string BareProgram(const std::string& line) {
  static const std::regex quoted(R"re(^BinaryPathName="\\"(.*)\\""$)re");
  return std::regex_replace(line, quoted, R"(BinaryPathName="$1")");
}

std::string SortedSections(const std::string& text) {
  std::vector<std::vector<std::string>> sections;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    line = BareProgram(line);
    if (line.empty()) continue;
    if (line.front() == '[' || sections.empty()) sections.emplace_back();
    sections.back().push_back(line);
  }
  // The shares key, and the keys above it when they hold nothing else.
  const std::string shares = "[SYSTEM\\CurrentControlSet\\Services\\LanmanServer";
  std::erase_if(sections, [&](const std::vector<std::string>& section) {
    const std::string& key = section.front();
    return key.starts_with(shares) ||
           (section.size() == 1 && shares.starts_with(key.substr(0, key.size() - 1)) &&
            shares[key.size() - 1] == '\\');
  });
  for (std::vector<std::string>& section : sections) std::sort(section.begin() + 1, section.end());
  std::sort(sections.begin(), sections.end());
  std::string sorted;
  for (const std::vector<std::string>& section : sections) {
    for (const std::string& line : section) sorted += line + "\n";
  }
  return sorted;
}
#endif

// Waits until no child of this process runs any more: a tool whose wait failed in the library
// runs on to its end (its watcher, a child of this process, with it).
#if defined(_WIN32)
// A process whose parent is this one by number and that started after it: process numbers
// are reused, so a process of the computer's own may name a parent that ended long ago and
// whose number this process has now.
bool IsOwnChild(const PROCESSENTRY32& entry, const FILETIME& ownStart) {
  if (entry.th32ParentProcessID != GetCurrentProcessId()) return false;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
  if (process == nullptr) return false;  // gone already
  FILETIME created, exited, kernel, user;
  const bool child = GetProcessTimes(process, &created, &exited, &kernel, &user) &&
                     CompareFileTime(&created, &ownStart) >= 0;
  CloseHandle(process);
  return child;
}

void WaitForStrayTools() {
  FILETIME ownStart, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &ownStart, &exited, &kernel, &user)) return;
  // Ten seconds at most: a tool ends within a second, and the rerun's findings tell the rest.
  const ULONGLONG deadline = GetTickCount64() + 10000;
  while (GetTickCount64() < deadline) {
    HANDLE processes = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (processes == INVALID_HANDLE_VALUE) return;
    bool running = false;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(processes, &entry); more && !running;
         more = Process32Next(processes, &entry)) {
      running = IsOwnChild(entry, ownStart);
    }
    CloseHandle(processes);
    if (!running) return;
    Sleep(1);
  }
}
#else
// What a run started and left running (a tool's watcher, and the tool below it) is a child of
// this process, the subreaper of its descendants: waiting reaps each one as it ends.
void WaitForStrayTools() {
  while (wait(nullptr) > 0 || errno == EINTR) {
  }
}
#endif

class InterruptedRunTest : public ScenarioTest,
                           public ::testing::WithParamInterface<const MachinePlan*> {
 protected:
#if !defined(_WIN32)
  // A tool still running when the library that started it ends becomes a child of this
  // process, which can then wait for it.
  static void SetUpTestSuite() { ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0); }
#endif

  // The machine of the plan, then the uninterrupted upgrade: how many operations of each kind it
  // takes and what it leaves.
  void SetUp() override {
    const MachinePlan& machine = *GetParam();
    // Wine has no file server: NetShareAdd answers 50 for every share, so every run that makes
    // or carries a partitioned instance of these machines (the uninterrupted one too) reports
    // its share as failed, and no run can end as one on Windows would. Their loops run in the
    // POSIX build, whose machine root keeps shares as Windows does.
    if ((machine.tools || machine.adminPartitioned) && testkit::RunningUnderWine())
      GTEST_SKIP() << "Wine cannot make network shares (NetShareAdd answers 50)";
    const bool tools = machine.tools;
    sample::SampleMachine plan = testkit::CurrentInstallation(tools ? QZ7_CLI_PATH : "");
    plan.drives = {'C', 'E'};
    for (const auto& [name, shape] : machine.olds) {
      olds_.push_back(testkit::MakeOldInstance(name, shape));
      const OldInstance& old = olds_.back();
      if (!machine.indexFile) {
        testkit::AddOldInstance(plan, old, kOldProfileDir);
      } else if (tools) {
        testkit::AddOldInstance(plan, old, kOldProfileDir, /*inRegistry=*/false);
      } else {
        OldInstance inProfile = old;
        inProfile.databaseDirectory.clear();
        testkit::AddOldInstance(plan, inProfile, kOldProfileDir, /*inRegistry=*/false);
        testkit::AddOldDatabaseDirectory(plan, old, "C:");
      }
    }
    plan.indexFile = machine.indexFile;
    if (!machine.indexFile) plan.defaultInstance = "QZ7";
    if (machine.existingDestination)
      plan.files.push_back({std::string(kInstallDir) + "\\SALES\\NOTES.TXT", {'n'}});
    if (machine.adminPartitioned) {
      plan.instances.push_back({.name = kAdminServer, .version = 0x800, .nodeType = 1});
      plan.adminServer = kAdminServer;
      plan.instances.push_back({.name = kPartitioned,
                                .version = 0x800,
                                .nodeType = 4,
                                .nodes = {"0", "1"},
                                .portRange = "60030-60033",
                                .owner = plan.computerName});
    }
    if (tools) {
      descriptors_ = {testkit::PartitionedDescriptor("HR", "60020", "60023", "hruser", "pw1"),
                      testkit::PartitionedDescriptor("MPP", "60010", "60013", "mppuser", "pw2")};
    }
    if (HasClientConfig())
      plan.files.push_back({std::string(kOldProfileDir) + "\\qz7cli.ini", clientConfig_});
    Build(plan);
    // A read-only qz7systm is converted as well.
    if (machine.readOnlyConfig) {
      ASSERT_EQ(platform::SetFileWritable("C:\\QZ7PROF\\SALES\\qz7systm", false), 0);
    }
    index_ = Read(std::string(kOldProfileDir) + "\\QZ7IDIR");
    pristine_ =
        std::make_unique<testkit::MachineCopy>(machine_.root(), ".pristine", kProgramFolder);

    platform::ResetFileOperationCount();
    ASSERT_EQ(Upgrade(descriptors_), 0);
    const platform::OperationCounts counts = platform::CurrentOperationCounts();
    operations_ = counts.Total();
    ASSERT_GT(operations_, tools ? 100u : 300u);
    // Only the run that asks for partitioned instances runs instance tools.
    ASSERT_EQ(counts.Of(platform::OperationKind::kProcess) > 0, tools);
    ASSERT_GT(counts.Of(platform::OperationKind::kRegistry), 0u);
    ASSERT_GT(counts.Of(platform::OperationKind::kService), 0u);
    std::vector<std::string> problems;
    UpgradeProblems(problems);
    ASSERT_TRUE(problems.empty()) << problems.front();
    reference_ = TakeSnapshot();
    // A failure that the run did not notice leaves a run that returned 0; the run after it is
    // a second run over a finished machine, and is held against an uninterrupted run followed
    // by a second one (which, the old profile directory being gone, no longer finds the
    // instances there and sets up a default instance).
    static_cast<void>(QuietUpgrade());  // what it leaves is what counts
    referenceAfterSecondRun_ = TakeSnapshot();
    const auto strideOf = [](const char* variable, uint64_t otherwise) {
      const char* stride = std::getenv(variable);
      return stride ? std::max<uint64_t>(1, std::strtoull(stride, nullptr, 10)) : otherwise;
    };
    stride_ = strideOf("QZ7_SCENARIO_STRIDE", 1);
    // QZ7_SCENARIO_KILL_STRIDE=k: the killing loop's own stride (under Wine each point starts
    // a process, several times the cost of a failing point).
    killStride_ = strideOf("QZ7_SCENARIO_KILL_STRIDE", stride_);
  }

  bool HasClientConfig() const { return GetParam()->clientConfig; }
  // The instances of the machine that no OldInstance describes, and their services.
  std::vector<std::pair<std::string, std::vector<std::string>>> OtherCarried() const {
    if (!GetParam()->adminPartitioned) return {};
    return {{kAdminServer, {kAdminServer}},
            {kPartitioned, {std::string(kPartitioned) + "-0", std::string(kPartitioned) + "-1"}}};
  }

  // Whether the run asks for the instance by name.
  bool Requested(const std::string& name) const {
    return std::ranges::any_of(descriptors_, [&](const auto& d) { return name == d.name; });
  }

  // Where the old instance's database directory lives.
  std::string DatabaseHome(const OldInstance& old) const {
    return index_ ? "C:\\" + old.name : InstanceDir(old);
  }

  // What an uninterrupted upgrade must achieve, told in the machine's own terms.
  void UpgradeProblems(std::vector<std::string>& problems) const {
    const auto problem = [&](bool wrong, const std::string& what) {
      if (wrong) problems.push_back(what);
    };
    for (const OldInstance& old : olds_) {
      const std::string dir = InstanceDir(old), name = old.name + ": ";
      problem(!host::IsInstanceDefined(old.name), name + "not defined");
      problem(Variable(old.name, "QZ7INSTPROF") != kInstallDir, name + "profile not re-pointed");
      // An instance made partitioned runs as the service of its node 0, which is pointed at
      // the installation's program written in quotes.
      const bool partitioned = Requested(old.name);
      problem(partitioned
                  ? ServiceProgram(old.name + "-0") != "\"" + std::string(kServiceProgram) + "\""
                  : ServiceProgram(old.name) != kServiceProgram,
              name + "service not re-pointed");
      problem(partitioned && !ServiceProgram(old.name).empty(), name + "ordinary service left");
      problem(partitioned != (ConfigField(dir, 40) == 4), name + "wrong node type");
      problem(!ConfigurationCarried(old, dir), name + "qz7systm values not carried");
      problem((ConfigField(dir, 16) & 0x0F00) != 0x900, name + "not upgraded");
      problem(!old.databaseDirectory.empty() && !DatabaseDirectoryMigrated(old, DatabaseHome(old)),
              name + "database directory not migrated");
      problem(!old.nodeDirectory.empty() && !NodeDirectoryMigrated(old, dir),
              name + "node directory not migrated");
      problem(!FilesBelow(dir, true).empty(), name + "numbered file left");
    }
    problem(!messages_->boxes().empty(), "a message was shown");
    problem(!FilesBelow(kInstallDir, true).empty(), "numbered file left");
    problem(!GetParam()->indexFile && Variable("", "QZ7INSTDEF") != "QZ7",
            "default instance not kept");
    problem(GetParam()->adminPartitioned && Variable("", "QZ7ADMINSERVER") != kAdminServer,
            "administration server not kept");
    for (const char* pointer : {host::kInstallDirValue, host::kInstanceProfileDirValue}) {
      std::string value;
      problem(host::ReadProfilePointer(pointer, &value) != 0 || value != kInstallDir,
              std::string(pointer) + " not pointed at the installation");
    }
    for (const InstanceDescriptor& descriptor : descriptors_) {
      const std::string name = descriptor.name;
      const bool old = std::ranges::any_of(olds_, [&](const auto& o) { return o.name == name; });
      problem(!old && (!host::IsInstanceDefined(name) ||
                       ServiceProgram(name + "-0") != kServiceProgram ||
                       ConfigField(std::string(kInstallDir) + "\\" + name, 40) != 4),
              name + ": the new partitioned instance not made");
    }
    for (const auto& [name, services] : OtherCarried()) {
      problem(Variable(name, "QZ7INSTPROF") != kInstallDir, name + ": profile not re-pointed");
      for (const std::string& service : services) {
        std::string program = ServiceProgram(service);
        std::erase(program, '"');
        problem(program != kServiceProgram, service + ": service not re-pointed");
      }
      problem((ConfigField(std::string(kInstallDir) + "\\" + name, 16) & 0x0F00) != 0x900,
              name + ": not upgraded");
    }
    // Emptied by the moves, the old profile directory is removed; else it stays, empty.
    problem(!HasClientConfig() && Exists(kOldProfileDir),
            "the emptied old profile directory is still there");
    for (const std::string& file : FilesBelow(kOldProfileDir))
      problems.push_back("left in the old profile directory: " + file);
    problem(HasClientConfig() && Read(std::string(kInstallDir) + "\\qz7cli.ini") != clientConfig_,
            "qz7cli.ini not moved");
  }

  // Calls visit(name, entry) for every file and folder on the machine's drives but the
  // installation's programs, by its name below the machine root ("drives/c/QZ7/...").
  void ForEachDriveEntry(const testkit::DriveEntryVisit& visit) const {
    testkit::ForEachDriveEntry(machine_.root(), kProgramFolder + std::strlen("drives/"),
                               [&](const std::string& name, const fs::directory_entry& entry) {
                                 visit("drives/" + name, entry);
                               });
  }

  Snapshot TakeSnapshot() const {
    Snapshot snapshot;
#if defined(_WIN32)
    // The product's registry tree, and the services with their programs' quotes taken off.
    snapshot["registry.txt"] = testkit::RegistryTreeText("SOFTWARE\\ZAV");
    snapshot["services.txt"] = testkit::MadeServicesText(/*bareProgram=*/true);
#else
    for (const char* table : {"registry.txt", "services.txt"})
      snapshot[table] = SortedSections(testkit::ReadHostFile(machine_.root() + "/" + table));
#endif
    ForEachDriveEntry([&](const std::string& path, const fs::directory_entry& entry) {
      if (entry.is_directory()) {
        snapshot[path + "/"] = {};
        return;
      }
      snapshot[path] = Comparable(path, testkit::ReadHostFile(entry.path().string()));
    });
    const std::string oldProfile = "drives/c/" + std::string(kOldProfileDir + 3) + "/";
    const auto found = snapshot.find(oldProfile);
    if (found != snapshot.end() &&
        (std::next(found) == snapshot.end() ||
         std::next(found)->first.compare(0, oldProfile.size(), oldProfile) != 0)) {
      snapshot.erase(found);  // empty
    }
    return snapshot;
  }

  static std::string InstanceDir(const OldInstance& old) {
    return std::string(kInstallDir) + "\\" + old.name;
  }

  // Puts the machine back as it was built, with a fresh log and message recorder.
  void Restore() {
    pristine_->Restore();
    platform::SetMachineRoot(machine_.root());
    messages_ = std::make_unique<MessageRecorder>();
  }

  // The upgrade in a child that ends at operation n, as a killed process or a power cut; its
  // exit code. On POSIX the child is a fork of this test; on Windows it is the operator tool's
  // test build run with the fault plan in its environment (a power cut is the POSIX loop's
  // alone: Windows has no bookkeeping of what a cut would undo). The power cuts alternate
  // between the two ways a journaling file system can lose what was not synced: every change
  // undone (odd n), or every name change kept with the data written since the last sync lost
  // (even n).
  int CrashAt(uint64_t n, bool powerLoss) {
#if defined(_WIN32)
    static_cast<void>(powerLoss);
    const int exitCode = testkit::RunTool(QZ7_TEST_CLI_PATH, ToolArguments(),
                                          {{ "QZ7_FAULT",
                                             std::to_string(n) + ":crash" }})
                             .exitCode;
#else
    const int exitCode = testkit::ForkedExitCode([&] {
      if (std::freopen("/dev/null", "w", stdout) == nullptr) return 2;
      platform::SetFaultPlan({.triggerAt = n,
                              .crash = !powerLoss,
                              .crashExitCode = kCrashExitCode,
                              .powerLoss = powerLoss,
                              .namesKept = powerLoss && n % 2 == 0,
                              .kinds = platform::kAllOperationKinds});
      Upgrade(descriptors_);
      return 0;
    });
#endif
    // The rerun starts when what the child started and left running has ended.
    WaitForStrayTools();
    return exitCode;
  }

#if defined(_WIN32)
  // The create command that makes the upgrade's call (Upgrade) from the operator tool. The
  // machines that run under Wine ask for no instance by name.
  static std::vector<std::string> ToolArguments() {
    return {"create",       "--install",   kInstallDir,    "--current",
            kOldProfileDir, "--requested", kOldProfileDir, "--quiet"};
  }

  // The operations of the tool's uninterrupted create on the pristine machine, by the counts
  // its test build appends at exit: the points of the kill loop. 0 when it cannot be counted.
  uint64_t ToolOperations() {
    Restore();
    const fs::path counts =
        fs::temp_directory_path() / ("qz7-counts-" + std::to_string(GetCurrentProcessId()));
    std::error_code ignored;
    fs::remove(counts, ignored);
    const testkit::ToolRun run = testkit::RunTool(QZ7_TEST_CLI_PATH, ToolArguments(),
                                                  {{ "QZ7_OPERATION_COUNTS",
                                                     counts.string() }});
    std::ifstream in(counts);
    std::string line;
    uint64_t total = 0;
    if (run.exitCode == 0 && std::getline(in, line)) {
      std::istringstream fields(line);
      for (std::string field; fields >> field;)
        total += std::strtoull(field.substr(field.find('=') + 1).c_str(), nullptr, 10);
    }
    in.close();
    fs::remove(counts, ignored);
    return total;
  }
#endif

  // The migrations write a line to standard output for some failures.
  int QuietUpgrade() {
    ::testing::internal::CaptureStdout();
    const int result = Upgrade(descriptors_);
    ::testing::internal::GetCapturedStdout();
    return result;
  }

  // What of the earlier release no file of the machine's drives holds any more, whole or as
  // the saved copy inside a database or node directory migration backup.
  void Unrecoverable(const std::string& when, std::vector<std::string>& lost) const {
    std::vector<FileBytes> files;
    ForEachDriveEntry([&](const std::string&, const fs::directory_entry& entry) {
      if (!entry.is_regular_file()) return;
      std::ifstream in(entry.path(), std::ios::binary);
      files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    });
    const auto kept = [&](const FileBytes& original) {
      return std::any_of(files.begin(), files.end(), [&](const FileBytes& bytes) {
        const sample::BackupFileView view = sample::ReadBackupFile(bytes);
        return bytes == original || testkit::NodeBackupData(bytes) == original ||
               (view.parsed && (view.directory == original || view.intention == original));
      });
    };
    const bool indexKept = index_ && Read(std::string(kOldProfileDir) + "\\QZ7IDIR") == index_;
    for (const OldInstance& old : olds_) {
      const auto check = [&](bool ok, const char* what) {
        if (!ok) lost.push_back(when + ": " + old.name + ": " + what + " LOST");
      };
      check(indexKept || host::IsInstanceDefined(old.name), "listing in the index or registry");
      check(kept(old.config) || FilesKeepValues(files, old.values), "qz7systm");
      check(old.databaseDirectory.empty() || kept(old.databaseDirectory), "database directory");
      check(old.intention.empty() || kept(old.intention), "intention file");
      check(old.nodeDirectory.empty() || kept(old.nodeDirectory), "node directory");
    }
  }

  // How the machine differs from where an uninterrupted run leaves it (reference).
  void FinalStateProblems(int result, const Snapshot& reference,
                          std::vector<std::string>& problems) const {
    if (result != 0) {
      std::string boxes;
      for (const MessageRecorder::Box& box : messages_->boxes()) boxes += " [" + box.text + "]";
      problems.push_back("rerun returned " + std::to_string(result) + boxes);
    }
    // Each line names a file that differs from the uninterrupted run's, or is missing.
    std::istringstream differences(testkit::DiffMachineStates(reference, TakeSnapshot()));
    for (std::string line; std::getline(differences, line);) problems.push_back(line);
  }

  // Interrupts the upgrade at each operation in turn (a failure with "disk full", a killed
  // process or a power cut), then runs it again; expects nothing to have gone wrong, else
  // reports each problem, one line each, by operation, and how many points lost something.
  void Loop(Interruption mode) {
    const bool crash = mode != Interruption::kFailure;
    std::string findings;
    uint64_t lostPoints = 0;
    // The points: the operations of the run the loop interrupts. A killed run on Windows is the
    // tool's, which numbers its own operations (the tool's start comes first).
    uint64_t points = operations_;
#if defined(_WIN32)
    if (crash) {
      points = ToolOperations();
      ASSERT_NE(points, 0u) << "the tool's uninterrupted run could not be counted";
    }
#endif
    // What a silent run left undone is not held against the loop (the documented steps ignore
    // the results of file moves, service and registry clean-ups), as long as the rerun
    // converges.
    const uint64_t stride = mode == Interruption::kKilledProcess ? killStride_ : stride_;
    for (uint64_t n = 1; n <= points; n += stride) {
      Restore();
      std::vector<std::string> problems;
      const Snapshot* reference = &reference_;
      if (crash) {
        const int exitCode = CrashAt(n, mode == Interruption::kPowerLoss);
        if (exitCode != kCrashExitCode)
          problems.push_back("the run ended with " + std::to_string(exitCode) + ", no crash");
      } else {
        platform::SetFaultPlan({.triggerAt = n,
                                .error = platform::kErrorDiskFull,
                                .kinds = platform::kAllOperationKinds});
        const int result = QuietUpgrade();
        platform::ClearFaultPlan();
        WaitForStrayTools();
        // -9 is the defined result when the profile registry cannot be pointed at the
        // installation, as a failing status query of its directory makes it.
        if (result != 0 && result != 1 && result != -9)
          problems.push_back("the failed run returned " + std::to_string(result));
        if (result == 0) reference = &referenceAfterSecondRun_;
        messages_ = std::make_unique<MessageRecorder>();
      }
      std::vector<std::string> losses;
      Unrecoverable("after the interruption", losses);
      const int rerun = QuietUpgrade();
      std::vector<std::string> differences;
      FinalStateProblems(rerun, *reference, differences);
      // A run that returned 0 may have done everything (then the rerun is a second run) or
      // not noticed what it left undone (then the rerun finishes it): either end is right.
      if (!differences.empty() && reference != &reference_) {
        std::vector<std::string> againstFirst;
        FinalStateProblems(rerun, reference_, againstFirst);
        if (againstFirst.empty()) differences.clear();
      }
      problems.insert(problems.end(), differences.begin(), differences.end());
      Unrecoverable("after the rerun", losses);
      lostPoints += losses.empty() ? 0 : 1;
      problems.insert(problems.end(), losses.begin(), losses.end());
      for (const std::string& problem : problems)
        findings += "\n  operation " + std::to_string(n) + ": " + problem;
    }
    EXPECT_EQ(findings, "") << "of " << operations_;
    EXPECT_EQ(lostPoints, 0u);
  }

  std::unique_ptr<testkit::MachineCopy> pristine_;  // the machine as it was built
  std::vector<OldInstance> olds_;
  std::vector<InstanceDescriptor> descriptors_;  // the instances the run asks for
  const FileBytes clientConfig_ = {'[', 'Q', 'Z', '7', ']', '\r', '\n'};
  uint64_t operations_ = 0;
  uint64_t stride_ = 1;
  uint64_t killStride_ = 1;
  std::optional<FileBytes> index_;    // the index file as the earlier release left it
  Snapshot reference_;                // the uninterrupted run's machine
  Snapshot referenceAfterSecondRun_;  // and after a second run over it
};

TEST_P(InterruptedRunTest, AnUpgradeWithAnyOperationFailingLosesNothing) {
  Loop(Interruption::kFailure);
}

// A plan is shown by its name.
void PrintTo(const MachinePlan* plan, std::ostream* out) { *out << plan->name; }

std::string MachineName(const ::testing::TestParamInfo<const MachinePlan*>& info) {
  return info.param->name;
}

// The machines of the table, or only those whose loops also kill and cut off the run.
std::vector<const MachinePlan*> Plans(bool crashLoopsOnly) {
  std::vector<const MachinePlan*> plans;
  for (const MachinePlan& machine : kMachines) {
    if (machine.crashLoops || !crashLoopsOnly) plans.push_back(&machine);
  }
  return plans;
}

INSTANTIATE_TEST_SUITE_P(Machines, InterruptedRunTest, ::testing::ValuesIn(Plans(false)),
                         MachineName);

// Killed and cut off: the machines whose runs hold every kind of step (the instance tools, the
// emptied old profile directory, an instance copied over an existing destination, the
// administration server and a partitioned instance); the registry and index-file machines'
// steps are a part of theirs and are run in the failure loop. Under Wine the killed runs are
// the test build of the tool, ended by its fault plan; a power cut is the POSIX build's alone.
class CrashedRunTest : public InterruptedRunTest {};

TEST_P(CrashedRunTest, AnUpgradeKilledAtAnyOperationIsFinishedByTheNextRun) {
  Loop(Interruption::kKilledProcess);
}

#if !defined(_WIN32)
TEST_P(CrashedRunTest, AnUpgradeCutByAPowerLossAtAnyOperationIsFinishedByTheNextRun) {
  Loop(Interruption::kPowerLoss);
}
#endif

INSTANTIATE_TEST_SUITE_P(Machines, CrashedRunTest, ::testing::ValuesIn(Plans(true)), MachineName);

}  // namespace
}  // namespace qz7::scenarios
