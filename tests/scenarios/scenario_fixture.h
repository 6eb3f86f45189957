// Whole set-up runs through the exported entry points on a sample machine with the stand-in
// host: building the machine, calling createInstances / deleteInstances, and reading back
// what an instance of an earlier release became.
#ifndef QZ7_TESTS_SCENARIOS_SCENARIO_FIXTURE_H_
#define QZ7_TESTS_SCENARIOS_SCENARIO_FIXTURE_H_

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "qz7instm.h"
#include "testkit/message_recorder.h"
#include "testkit/scenario_machines.h"
#include "testkit/temp_machine.h"

namespace qz7::scenarios {

using testkit::FileBytes;
using testkit::MessageRecorder;
using testkit::OldInstance;

constexpr const char* kInstallDir = "C:\\QZ7";
constexpr const char* kOldProfileDir = "C:\\QZ7PROF";
constexpr const char* kServiceProgram = "C:\\QZ7\\bin\\qz7syscs.exe";

// What became of an old instance's qz7systm.
enum class ConfigFate {
  kCarried,   // qz7systm (checksum right, any layout) holds the old values
  kCopyOnly,  // qz7systm lost them, but the old file survives under a numbered name
  kLost,
};
const char* FateName(ConfigFate fate);

// What became of an old database or node directory.
enum class DirectoryFate {
  kMigrated,     // current layout with the old entries, copy equal, backup holds the old file
  kRecoverable,  // not migrated (yet), but the old file is still there or in a backup
  kLost,
};
const char* FateName(DirectoryFate fate);
inline void PrintTo(ConfigFate fate, std::ostream* out) { *out << FateName(fate); }
inline void PrintTo(DirectoryFate fate, std::ostream* out) { *out << FateName(fate); }

class ScenarioTest : public ::testing::Test {
 protected:
  ScenarioTest();

  // Builds the plan into this test's machine root.
  void Build(const testkit::SampleMachine& plan);

  // createInstances with the recorder's log, module and owner.
  int Create(const char* currentProfile, const char* requestedProfile, const char* install,
             std::vector<InstanceDescriptor> descriptors = {});
  // The usual upgrade call: instances move from kOldProfileDir into the installation.
  int Upgrade(std::vector<InstanceDescriptor> descriptors = {}) {
    return Create(kOldProfileDir, kOldProfileDir, kInstallDir, std::move(descriptors));
  }
  void Delete(const char* profile, const char* install);

  std::optional<FileBytes> Read(const std::string& windowsPath) const;
  bool Exists(const std::string& windowsPath) const;
  bool IsDirectory(const std::string& windowsPath) const;
  // The regular files below a directory, as paths relative to it ("SUB\\FILE"), sorted.
  std::vector<std::string> FilesBelow(const std::string& windowsDir) const;
  // Names of the entries of a directory matching the numbered temporary pattern (########.###).
  std::vector<std::string> NumberedFiles(const std::string& windowsDir) const;

  bool Defined(const std::string& instance) const;
  std::string InstanceVariable(const std::string& instance, const std::string& variable) const;
  std::string GlobalVariable(const std::string& variable) const;
  // The program of a service, or "" when it does not exist.
  std::string ServiceProgram(const std::string& service) const;

  // The fate of an old instance's configuration in instanceDir; where names the numbered
  // copy found (searched beside qz7systm and in the directories given).
  ConfigFate ConfigurationFate(const OldInstance& old, const std::string& instanceDir,
                               const std::vector<std::string>& searchDirs,
                               std::string* where = nullptr) const;
  // The layout version of the instance's qz7systm (0 when it cannot be read).
  uint16_t ConfigLayout(const std::string& instanceDir) const;
  DirectoryFate DatabaseDirectoryFate(const OldInstance& old, const std::string& instanceDir) const;
  DirectoryFate NodeDirectoryFate(const OldInstance& old, const std::string& instanceDir) const;

  // The contents of every file of the machine's drives.
  std::vector<FileBytes> MachineFiles() const;

  testkit::TempMachine machine_;
  std::unique_ptr<MessageRecorder> messages_;
};

// True when one of the files holds these bytes, whole or as the saved copy inside a database
// or node directory migration backup: the data can still be had.
bool FilesKeep(const std::vector<FileBytes>& files, const FileBytes& original);
// True when one of the files is a qz7systm (any layout, checksum right) holding the values.
bool FilesKeepValues(const std::vector<FileBytes>& files, const testkit::CarriedValues& values);

// The message ids of the recorded boxes, in order.
std::vector<unsigned> BoxIds(const MessageRecorder& messages);

}  // namespace qz7::scenarios

#endif  // QZ7_TESTS_SCENARIOS_SCENARIO_FIXTURE_H_
