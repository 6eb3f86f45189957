// Whole upgrade runs interrupted at every file operation: stopped there as a crash would stop
// them and then run again with the same arguments; or with that one operation failing with
// "disk full", followed by a clean run. Nothing of the earlier release may become
// unrecoverable, and the second run must end where an uninterrupted run ends.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/machine_root.h"
#include "platform/posix/syscalls.h"
#include "platform/win_error.h"
#include "tests/scenarios/scenario_fixture.h"

namespace qz7::scenarios {
namespace {

namespace fs = std::filesystem;
using testkit::MakeOldInstance;

constexpr int kCrashExitCode = 86;
constexpr const char* kPristine = "pristine";

// "3-7, 12, 40-41" for a sorted list of operation numbers.
std::string Ranges(const std::vector<uint64_t>& numbers) {
  std::ostringstream out;
  for (size_t i = 0; i < numbers.size();) {
    size_t j = i;
    while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1) ++j;
    out << (i ? ", " : "") << numbers[i];
    if (j > i) out << "-" << numbers[j];
    i = j + 1;
  }
  return numbers.empty() ? "none" : out.str();
}

// What the runs after each interruption came to, by operation number.
struct LoopFindings {
  uint64_t operations = 0;
  std::map<uint64_t, std::vector<std::string>> problems;  // data lost, rerun not finished
  std::vector<uint64_t> configurationOnlyInCopy;          // qz7systm values only in a numbered copy
  std::vector<uint64_t> numberedLeftovers;                // harmless numbered files left behind
  std::vector<uint64_t> silentlyIncomplete;               // a failed run said 0 with work left

  // Operations at which some problem's text holds the given words.
  std::vector<uint64_t> With(const std::string& words) const {
    std::vector<uint64_t> found;
    for (const auto& [n, list] : problems) {
      for (const std::string& problem : list) {
        if (problem.find(words) != std::string::npos) {
          found.push_back(n);
          break;
        }
      }
    }
    return found;
  }

  std::string Summary(const char* loop) const {
    std::ostringstream out;
    out << loop << ": interrupted at each of " << operations << " file operations"
        << "\n  qz7systm values only in a numbered copy: " << Ranges(configurationOnlyInCopy)
        << "\n  numbered temporary files left behind: " << Ranges(numberedLeftovers);
    if (!silentlyIncomplete.empty()) {
      out << "\n  failed run returned 0 with work left: " << Ranges(silentlyIncomplete);
    }
    for (const auto& [n, list] : problems) {
      for (const std::string& problem : list) out << "\n  operation " << n << ": " << problem;
    }
    return out.str();
  }
};

class InterruptedRunTest : public ScenarioTest {
 protected:
  // Thousands of whole runs: on a folder in memory when the machine has one.
  static void SetUpTestSuite() {
    const char* saved = std::getenv("TMPDIR");
    savedTmpDir_ = saved != nullptr ? new std::string(saved) : nullptr;
    if (access("/dev/shm", W_OK) == 0) setenv("TMPDIR", "/dev/shm", 1);
  }
  static void TearDownTestSuite() {
    if (savedTmpDir_ != nullptr) {
      setenv("TMPDIR", savedTmpDir_->c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
    delete savedTmpDir_;
    savedTmpDir_ = nullptr;
  }

  InterruptedRunTest() {
    // A crash here ends the process, not the machine: what was written stays in the page
    // cache, so syncing files to the disk only costs time.
    syscalls_.table().fsync = [](int) { return 0; };
  }

  // Builds the machine with the old instances (the first one the default) and runs the
  // uninterrupted upgrade: how many file operations it takes and what it leaves.
  void Prepare(std::vector<OldInstance> olds) {
    olds_ = std::move(olds);
    testkit::SampleMachine plan = testkit::CurrentInstallation();
    plan.drives = {'C', 'E'};
    for (const OldInstance& old : olds_) testkit::AddOldInstance(plan, old, kOldProfileDir);
    plan.defaultInstance = olds_.front().name;
    plan.files.push_back({std::string(kOldProfileDir) + "\\qz7cli.ini", clientConfig_});
    Build(plan);
    const fs::path root = machine_.root();
    fs::create_directory(root / kPristine);
    for (const fs::directory_entry& entry : fs::directory_iterator(root)) {
      if (entry.path().filename() == kPristine) continue;
      fs::copy(entry.path(), root / kPristine / entry.path().filename(),
               fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    }

    platform::ResetFileOperationCount();
    ASSERT_EQ(Upgrade(), 0);
    operations_ = platform::FileOperationCount();
    for (const OldInstance& old : olds_) {
      const std::string dir = InstanceDir(old);
      reference_[old.name] = {Read(dir + "\\SQLDBDIR\\SQLDBDIR").value_or(FileBytes{}),
                              Read(dir + "\\SQLNODIR\\SQLNODIR").value_or(FileBytes{})};
    }
    const std::vector<std::string> problems = FinalStateProblems(0);
    ASSERT_TRUE(problems.empty()) << problems.front();
  }

  static std::string InstanceDir(const OldInstance& old) {
    return std::string(kInstallDir) + "\\" + old.name;
  }

  // Puts the machine back as it was built, with a fresh log and message recorder.
  void Restore() {
    const fs::path root = machine_.root();
    for (const fs::directory_entry& entry : fs::directory_iterator(root)) {
      if (entry.path().filename() != kPristine) fs::remove_all(entry.path());
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(root / kPristine)) {
      fs::copy(entry.path(), root / entry.path().filename(),
               fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    }
    platform::SetMachineRoot(machine_.root());
    messages_ = std::make_unique<MessageRecorder>();
  }

  // The upgrade in a child that ends at file operation n; its exit code.
  int CrashAt(uint64_t n) {
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
      if (std::freopen("/dev/null", "w", stdout) == nullptr) _exit(2);
      platform::SetFaultPlan({.triggerAt = n, .crash = true, .crashExitCode = kCrashExitCode});
      Upgrade();
      _exit(0);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
  }

  // The migrations write a line to standard output for some failures.
  int QuietUpgrade() {
    ::testing::internal::CaptureStdout();
    const int result = Upgrade();
    ::testing::internal::GetCapturedStdout();
    return result;
  }

  // What of the earlier release no file of the machine holds any more.
  std::vector<std::string> Unrecoverable(const std::string& when) const {
    const std::vector<FileBytes> files = MachineFiles();
    std::vector<std::string> lost;
    for (const OldInstance& old : olds_) {
      auto check = [&](bool kept, const char* what) {
        if (!kept) lost.push_back(when + ": " + old.name + ": " + what + " LOST");
      };
      check(FilesKeep(files, old.config) || FilesKeepValues(files, old.values), "qz7systm");
      if (!old.databaseDirectory.empty()) {
        check(FilesKeep(files, old.databaseDirectory), "database directory");
        check(FilesKeep(files, old.intention), "intention file");
      }
      if (!old.nodeDirectory.empty()) check(FilesKeep(files, old.nodeDirectory), "node directory");
    }
    return lost;
  }

  // How the machine differs from where an uninterrupted run leaves it. A configuration that
  // survives only in a numbered copy is not counted here (see ConfigurationOnlyInCopy).
  std::vector<std::string> FinalStateProblems(int result) const {
    std::vector<std::string> problems;
    if (result != 0) {
      std::string boxes;
      for (const MessageRecorder::Box& box : messages_->boxes()) boxes += " [" + box.text + "]";
      problems.push_back("rerun returned " + std::to_string(result) + boxes);
    }
    for (const OldInstance& old : olds_) {
      const std::string dir = InstanceDir(old);
      auto problem = [&](const std::string& what) { problems.push_back(old.name + ": " + what); };
      if (!Defined(old.name)) problem("not defined");
      if (InstanceVariable(old.name, "QZ7INSTPROF") != kInstallDir) problem("QZ7INSTPROF wrong");
      if (ServiceProgram(old.name) != kServiceProgram) problem("service not re-pointed");
      const ConfigFate fate = ConfigurationFate(old, dir, {kInstallDir});
      if (fate == ConfigFate::kLost) problem("qz7systm values LOST");
      if (fate == ConfigFate::kCarried && ConfigLayout(dir) != 0x900) problem("not upgraded");
      if (!old.databaseDirectory.empty()) {
        const DirectoryFate database = DatabaseDirectoryFate(old, dir);
        if (database != DirectoryFate::kMigrated) {
          problem(std::string("database directory ") + FateName(database));
        } else if (Read(dir + "\\SQLDBDIR\\SQLDBDIR") != reference_.at(old.name).first) {
          problem("database directory differs from the uninterrupted run's");
        }
      }
      if (!old.nodeDirectory.empty()) {
        const DirectoryFate node = NodeDirectoryFate(old, dir);
        if (node != DirectoryFate::kMigrated) {
          problem(std::string("node directory ") + FateName(node));
        } else if (Read(dir + "\\SQLNODIR\\SQLNODIR") != reference_.at(old.name).second) {
          problem("node directory differs from the uninterrupted run's");
        }
      }
    }
    for (const std::string& file : FilesBelow(kOldProfileDir)) {
      problems.push_back("left in the old profile directory: " + file);
    }
    if (Read(std::string(kInstallDir) + "\\qz7cli.ini") != clientConfig_) {
      problems.push_back("qz7cli.ini not moved");
    }
    if (GlobalVariable("QZ7INSTDEF") != olds_.front().name) {
      problems.push_back("default instance not recorded");
    }
    return problems;
  }

  bool ConfigurationOnlyInCopy() const {
    for (const OldInstance& old : olds_) {
      if (ConfigurationFate(old, InstanceDir(old), {kInstallDir}) == ConfigFate::kCopyOnly) {
        return true;
      }
    }
    return false;
  }

  bool NumberedLeftovers() const {
    if (!NumberedFiles(kInstallDir).empty()) return true;
    for (const OldInstance& old : olds_) {
      if (!NumberedFiles(InstanceDir(old)).empty()) return true;
    }
    return false;
  }

  // The second run after an interruption at operation n, and what the machine holds then.
  void RunAgainAndJudge(uint64_t n, LoopFindings* findings) {
    const int result = QuietUpgrade();
    std::vector<std::string>& problems = findings->problems[n];
    for (const std::string& problem : FinalStateProblems(result)) problems.push_back(problem);
    for (const std::string& lost : Unrecoverable("after the rerun")) problems.push_back(lost);
    if (problems.empty()) findings->problems.erase(n);
    if (ConfigurationOnlyInCopy()) findings->configurationOnlyInCopy.push_back(n);
    if (NumberedLeftovers()) findings->numberedLeftovers.push_back(n);
  }

  LoopFindings CrashLoop() {
    LoopFindings findings;
    findings.operations = operations_;
    for (uint64_t n = 1; n <= operations_; ++n) {
      Restore();
      const int exitCode = CrashAt(n);
      if (exitCode != kCrashExitCode) {
        findings.problems[n].push_back("the run ended with " + std::to_string(exitCode) +
                                       " instead of stopping");
      }
      for (const std::string& lost : Unrecoverable("after the crash")) {
        findings.problems[n].push_back(lost);
      }
      RunAgainAndJudge(n, &findings);
    }
    return findings;
  }

  LoopFindings FailureLoop(uint32_t error) {
    LoopFindings findings;
    findings.operations = operations_;
    for (uint64_t n = 1; n <= operations_; ++n) {
      Restore();
      platform::SetFaultPlan({.triggerAt = n, .error = error});
      const int result = QuietUpgrade();
      platform::ClearFaultPlan();
      // -9 is the defined result when the profile registry cannot be pointed at the
      // installation, as a failing status query of its directory makes it.
      if (result != 0 && result != 1 && result != -9) {
        findings.problems[n].push_back("the failed run returned " + std::to_string(result));
      }
      for (const std::string& lost : Unrecoverable("after the failed run")) {
        findings.problems[n].push_back(lost);
      }
      if (result == 0 && (!FinalStateProblems(0).empty() || ConfigurationOnlyInCopy())) {
        findings.silentlyIncomplete.push_back(n);
      }
      messages_ = std::make_unique<MessageRecorder>();
      RunAgainAndJudge(n, &findings);
    }
    return findings;
  }

  static OldInstance Full(const char* name, int seed, int databaseLayout, int nodeLayout) {
    return MakeOldInstance(
        name, {.seed = seed, .databaseLayout = databaseLayout, .nodeLayout = nodeLayout});
  }

  static std::string* savedTmpDir_;
  platform::posix::ScopedSyscallOverride syscalls_;
  std::vector<OldInstance> olds_;
  const FileBytes clientConfig_ = {'[', 'Q', 'Z', '7', ']', '\r', '\n'};
  uint64_t operations_ = 0;
  std::map<std::string, std::pair<FileBytes, FileBytes>> reference_;  // database, node dirs
};

std::string* InterruptedRunTest::savedTmpDir_ = nullptr;

// Two instances of a 0x800 release with database and node directories of different layouts,
// stopped at every file operation of the upgrade and run again. Where the crash leaves the
// template in place of a qz7systm, the old file survives under a numbered name (listed in the
// summary; AnUpgradeStoppedAnywhereKeepsTheConfigurationInPlace below asks for more).
TEST_F(InterruptedRunTest, AnUpgradeStoppedAtAnyFileOperationIsFinishedByTheNextRun) {
  Prepare({Full("QZ7", 1, 2, 1), Full("SALES", 2, 3, 4)});
  ASSERT_GT(operations_, 300u);
  const LoopFindings findings = CrashLoop();
  const std::string summary = findings.Summary("crash loop");
  std::printf("%s\n", summary.c_str());
  EXPECT_TRUE(findings.problems.empty()) << summary;
}

// The same upgrade with each file operation in turn failing with "disk full".
TEST_F(InterruptedRunTest, AnUpgradeWithAnyFileOperationFailingLosesNothing) {
  Prepare({Full("QZ7", 1, 2, 1), Full("SALES", 2, 3, 4)});
  const LoopFindings findings = FailureLoop(platform::kErrorDiskFull);
  const std::string summary = findings.Summary("failure loop (error 112)");
  std::printf("%s\n", summary.c_str());
  EXPECT_TRUE(findings.problems.empty()) << summary;
}

TEST_F(InterruptedRunTest, AFailedStatusQueryNeverLetsTheStampOverwriteAConfiguration) {
  Prepare({Full("SALES", 1, 0, 0)});
  const LoopFindings findings = FailureLoop(platform::kErrorDiskFull);
  EXPECT_EQ(Ranges(findings.With("qz7systm")), "none") << findings.Summary("failure loop");
}

TEST_F(InterruptedRunTest, AnIncompleteMoveNeverLeavesADirectoryNoRunCanMigrate) {
  Prepare({Full("SALES", 1, 2, 1)});
  const LoopFindings findings = FailureLoop(platform::kErrorDiskFull);
  EXPECT_EQ(Ranges(findings.With("rerun returned")), "none") << findings.Summary("failure loop");
  EXPECT_EQ(Ranges(findings.With("database directory")), "none")
      << findings.Summary("failure loop");
}

TEST_F(InterruptedRunTest, TheMigrationBackupHoldsTheOldIntentionFileWhateverFails) {
  Prepare({Full("SALES", 1, 2, 0)});
  const LoopFindings findings = FailureLoop(platform::kErrorDiskFull);
  EXPECT_EQ(Ranges(findings.With("after the failed run: SALES: intention file")), "none")
      << findings.Summary("failure loop");
}

TEST_F(InterruptedRunTest, AnUpgradeStoppedAnywhereKeepsTheConfigurationInPlace) {
  Prepare({Full("SALES", 1, 0, 0)});
  const LoopFindings findings = CrashLoop();
  EXPECT_EQ(Ranges(findings.configurationOnlyInCopy), "none") << findings.Summary("crash loop");
}

}  // namespace
}  // namespace qz7::scenarios
