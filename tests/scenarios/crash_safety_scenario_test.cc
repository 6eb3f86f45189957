// Whole upgrade runs interrupted at every file operation: stopped there as a crash would stop
// them and then run again with the same arguments; or with that one operation failing with
// "disk full", followed by a clean run. Nothing of the earlier release may become
// unrecoverable, and the second run must end where an uninterrupted run ends.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/profile_registry.h"
#include "platform/fault_injection.h"
#include "platform/machine_root.h"
#include "platform/posix/syscalls.h"
#include "platform/win_error.h"
#include "testkit/database_directory_builder.h"
#include "tests/scenarios/scenario_fixture.h"

namespace qz7::scenarios {
namespace {

namespace fs = std::filesystem;

constexpr int kCrashExitCode = 86;
constexpr const char* kPristine = "pristine";

class InterruptedRunTest : public ScenarioTest {
 protected:
  // Hundreds of whole runs: on a folder in memory when the machine has one.
  static void SetUpTestSuite() {
    if (const char* saved = std::getenv("TMPDIR")) savedTmpDir_ = saved;
    if (access("/dev/shm", W_OK) == 0) setenv("TMPDIR", "/dev/shm", 1);
  }
  static void TearDownTestSuite() {
    savedTmpDir_ ? setenv("TMPDIR", savedTmpDir_->c_str(), 1) : unsetenv("TMPDIR");
  }

  InterruptedRunTest() {
    // A crash here ends the process, not the machine: what was written stays in the page
    // cache, so syncing files to the disk only costs time.
    syscalls_.table().fsync = [](int) { return 0; };
  }

  // Two instances of a 0x800 release with database and node directories of different
  // layouts, the first the default, and the client configuration file; then the
  // uninterrupted upgrade: how many file operations it takes and what it leaves.
  void SetUp() override {
    olds_ = {testkit::MakeOldInstance("QZ7", {.seed = 1, .databaseLayout = 2, .nodeLayout = 1}),
             testkit::MakeOldInstance("SALES", {.seed = 2, .databaseLayout = 3, .nodeLayout = 4})};
    testkit::SampleMachine plan = testkit::CurrentInstallation();
    plan.drives = {'C', 'E'};
    for (const OldInstance& old : olds_) testkit::AddOldInstance(plan, old, kOldProfileDir);
    plan.defaultInstance = "QZ7";
    plan.files.push_back({std::string(kOldProfileDir) + "\\qz7cli.ini", clientConfig_});
    Build(plan);
    fs::create_directory(fs::path(machine_.root()) / kPristine);
    CopyEntries(machine_.root(), fs::path(machine_.root()) / kPristine);

    platform::ResetFileOperationCount();
    ASSERT_EQ(Upgrade(), 0);
    operations_ = platform::FileOperationCount();
    ASSERT_GT(operations_, 300u);
    for (const OldInstance& old : olds_) {
      for (const char* file : {"\\SQLDBDIR\\SQLDBDIR", "\\SQLNODIR\\SQLNODIR"}) {
        reference_[InstanceDir(old) + file] = Read(InstanceDir(old) + file).value_or(FileBytes{});
      }
    }
    std::vector<std::string> problems;
    FinalStateProblems(0, problems);
    ASSERT_TRUE(problems.empty()) << problems.front();
  }

  // Copies every entry of from but the pristine copy to to.
  static void CopyEntries(const fs::path& from, const fs::path& to) {
    for (const fs::directory_entry& entry : fs::directory_iterator(from)) {
      if (entry.path().filename() == kPristine) continue;
      fs::copy(entry.path(), to / entry.path().filename(),
               fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    }
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
    CopyEntries(root / kPristine, root);
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

  // What of the earlier release no file of the machine's drives holds any more, whole or as
  // the saved copy inside a database or node directory migration backup.
  void Unrecoverable(const std::string& when, std::vector<std::string>& lost) const {
    std::vector<FileBytes> files;
    for (const auto& entry : fs::recursive_directory_iterator(machine_.root() + "/drives")) {
      if (!entry.is_regular_file()) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const auto kept = [&](const FileBytes& original) {
      return std::any_of(files.begin(), files.end(), [&](const FileBytes& bytes) {
        const testkit::BackupFileView view = testkit::ReadBackupFile(bytes);
        return bytes == original || testkit::NodeBackupData(bytes) == original ||
               (view.parsed && (view.directory == original || view.intention == original));
      });
    };
    for (const OldInstance& old : olds_) {
      const auto check = [&](bool ok, const char* what) {
        if (!ok) lost.push_back(when + ": " + old.name + ": " + what + " LOST");
      };
      check(kept(old.config) || FilesKeepValues(files, old.values), "qz7systm");
      check(kept(old.databaseDirectory), "database directory");
      check(kept(old.intention), "intention file");
      check(kept(old.nodeDirectory), "node directory");
    }
  }

  // How the machine differs from where an uninterrupted run leaves it; a configuration that
  // survives only in a numbered copy counts too.
  void FinalStateProblems(int result, std::vector<std::string>& problems) const {
    if (result != 0) {
      std::string boxes;
      for (const MessageRecorder::Box& box : messages_->boxes()) boxes += " [" + box.text + "]";
      problems.push_back("rerun returned " + std::to_string(result) + boxes);
    }
    for (const OldInstance& old : olds_) {
      const std::string dir = InstanceDir(old);
      auto problem = [&](bool wrong, const std::string& what) {
        if (wrong) problems.push_back(old.name + ": " + what);
      };
      problem(!host::IsInstanceDefined(old.name), "not defined");
      problem(Variable(old.name, "QZ7INSTPROF") != kInstallDir, "QZ7INSTPROF wrong");
      problem(ServiceProgram(old.name) != kServiceProgram, "service not re-pointed");
      const ConfigFate fate = ConfigurationFate(old, dir);
      problem(fate != ConfigFate::kCarried, ::testing::PrintToString(fate) + " qz7systm values");
      problem((ConfigField(dir, 16) & 0x0F00) != 0x900, "not upgraded");
      problem(!DatabaseDirectoryMigrated(old, dir), "database directory not migrated");
      problem(!NodeDirectoryMigrated(old, dir), "node directory not migrated");
    }
    for (const auto& [path, bytes] : reference_) {
      if (Read(path) != bytes) problems.push_back(path + " differs from the uninterrupted run's");
    }
    for (const std::string& file : FilesBelow(kOldProfileDir)) {
      problems.push_back("left in the old profile directory: " + file);
    }
    if (Read(std::string(kInstallDir) + "\\qz7cli.ini") != clientConfig_) {
      problems.push_back("qz7cli.ini not moved");
    }
    if (Variable("", "QZ7INSTDEF") != "QZ7") problems.push_back("default instance not recorded");
  }

  // Interrupts the upgrade at each file operation in turn (a crash, or a failure with
  // "disk full"), then runs it again; what went wrong, one line each, by operation.
  std::string Loop(bool crash) {
    std::string findings;
    for (uint64_t n = 1; n <= operations_; ++n) {
      Restore();
      std::vector<std::string> problems;
      if (crash) {
        const int exitCode = CrashAt(n);
        if (exitCode != kCrashExitCode) {
          problems.push_back("the run ended with " + std::to_string(exitCode) + ", no crash");
        }
      } else {
        platform::SetFaultPlan({.triggerAt = n, .error = platform::kErrorDiskFull});
        const int result = QuietUpgrade();
        platform::ClearFaultPlan();
        // -9 is the defined result when the profile registry cannot be pointed at the
        // installation, as a failing status query of its directory makes it.
        if (result != 0 && result != 1 && result != -9) {
          problems.push_back("the failed run returned " + std::to_string(result));
        }
        messages_ = std::make_unique<MessageRecorder>();
      }
      Unrecoverable("after the interruption", problems);
      FinalStateProblems(QuietUpgrade(), problems);
      Unrecoverable("after the rerun", problems);
      for (const std::string& problem : problems) {
        findings += "\n  operation " + std::to_string(n) + ": " + problem;
      }
    }
    return findings;
  }

  inline static std::optional<std::string> savedTmpDir_;
  platform::posix::ScopedSyscallOverride syscalls_;
  std::vector<OldInstance> olds_;
  const FileBytes clientConfig_ = {'[', 'Q', 'Z', '7', ']', '\r', '\n'};
  uint64_t operations_ = 0;
  std::map<std::string, FileBytes> reference_;  // the uninterrupted run's directories
};

TEST_F(InterruptedRunTest, AnUpgradeStoppedAtAnyFileOperationIsFinishedByTheNextRun) {
  EXPECT_EQ(Loop(/*crash=*/true), "") << "of " << operations_ << " file operations";
}

TEST_F(InterruptedRunTest, AnUpgradeWithAnyFileOperationFailingLosesNothing) {
  EXPECT_EQ(Loop(/*crash=*/false), "") << "of " << operations_ << " file operations";
}

}  // namespace
}  // namespace qz7::scenarios
