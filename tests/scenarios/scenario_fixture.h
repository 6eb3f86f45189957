// Whole set-up runs through the exported entry points on a sample machine with the stand-in
// host: building the machine, calling createInstances / deleteInstances, and reading back
// what an instance of an earlier release became.
#ifndef QZ7_TESTS_SCENARIOS_SCENARIO_FIXTURE_H_
#define QZ7_TESTS_SCENARIOS_SCENARIO_FIXTURE_H_

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "qz7instm.h"
#include "testkit/message_recorder.h"
#include "testkit/scenario_machines.h"
#include "testkit/temp_machine.h"
#include "tools/sample/dbm_block_builder.h"

namespace qz7::scenarios {

using testkit::FileBytes;
using testkit::MessageRecorder;
using testkit::OldInstance;

constexpr const char* kInstallDir = "C:\\QZ7";
constexpr const char* kOldProfileDir = "C:\\QZ7PROF";
constexpr const char* kServiceProgram = "C:\\QZ7\\bin\\qz7syscs.exe";

class ScenarioTest : public ::testing::Test {
 protected:
  void Build(const sample::SampleMachine& plan) {
#if defined(_WIN32)
    // The sample machine leaves the drives to the computer on Windows: the test maps the
    // plan's other drives, of their types, before the machine puts files on them.
    for (char drive : plan.drives) {
      if (drive == 'C' || drive == 'c') continue;
      const auto type = plan.driveTypes.find(drive);
      machine_.AddDrive(drive, type != plan.driveTypes.end() && type->second == "removable");
    }
#endif
    sample::BuildSampleMachine(machine_.root(), plan);
#if defined(_WIN32)
    // The sample machine leaves the computer's name alone on Windows; the test names it.
    if (!plan.computerName.empty()) machine_.NameComputer(plan.computerName);
#endif
  }
  // createInstances with the recorder's log, module and owner.
  int Create(const char* currentProfile, const char* requestedProfile,
             std::vector<InstanceDescriptor> descriptors = {});
  // The usual upgrade call: instances move from kOldProfileDir into the installation.
  int Upgrade(std::vector<InstanceDescriptor> descriptors = {}) {
    return Create(kOldProfileDir, kOldProfileDir, std::move(descriptors));
  }
  void Delete(const char* profile) {
    deleteInstances(profile, kInstallDir, messages_->logFile(), messages_->module(),
                    messages_->owner());
  }

  std::optional<FileBytes> Read(const std::string& windowsPath) const {
    return sample::ReadMachineFile(windowsPath.c_str());
  }
  bool Exists(const std::string& windowsPath, bool directory = false) const;
  // The regular files below a directory ("SUB/FILE"), sorted; with numberedOnly, only those
  // directly in it with a numbered temporary name (########.###, or qz7systm.### beside a
  // configuration file).
  std::vector<std::string> FilesBelow(const std::string& windowsDir,
                                      bool numberedOnly = false) const;
  // An instance's variable ("" for the global profile), or "<unset>".
  std::string Variable(const std::string& instance, const std::string& variable) const;
  // The program of a service, or "" when it does not exist.
  std::string ServiceProgram(const std::string& service) const;

  // Whether the instance's qz7systm in instanceDir (any layout, checksum right) holds the old
  // instance's values.
  bool ConfigurationCarried(const OldInstance& old, const std::string& instanceDir) const;
  // A 16-bit field of the instance's qz7systm, 0 when that is no valid block: its layout
  // version at 16, its node type at 40.
  uint16_t ConfigField(const std::string& instanceDir, size_t offset) const;
  // Current layout with the old entries, the copy equal, the completed backup holding the
  // old file(s).
  bool DatabaseDirectoryMigrated(const OldInstance& old, const std::string& instanceDir) const;
  bool NodeDirectoryMigrated(const OldInstance& old, const std::string& instanceDir) const;

  // Whole runs, hundreds in the loops: the machine lies in memory where the host allows it.
  testkit::MemoryTempFolder memoryFolder_;
  testkit::TempMachine machine_;
  std::unique_ptr<MessageRecorder> messages_ = std::make_unique<MessageRecorder>();
};

// True when one of the files is a qz7systm (any layout, checksum right) holding the values.
bool FilesKeepValues(const std::vector<FileBytes>& files, const testkit::CarriedValues& values);

}  // namespace qz7::scenarios

#endif  // QZ7_TESTS_SCENARIOS_SCENARIO_FIXTURE_H_
