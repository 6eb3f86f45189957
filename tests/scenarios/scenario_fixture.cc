#include "tests/scenarios/scenario_fixture.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "host/profile_registry.h"
#include "host/service_table.h"
#include "platform/file_system.h"
#include "platform/machine_root.h"
#include "testkit/database_directory_builder.h"
#include "testkit/dbm_block_builder.h"

namespace qz7::scenarios {

namespace fs = std::filesystem;

namespace {

bool IsNumberedName(const std::string& name) {
  if (name.size() != 12 || name[8] != '.') return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (i != 8 && !std::isdigit(static_cast<unsigned char>(name[i]))) return false;
  }
  return true;
}

FileBytes ReadHostFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return FileBytes(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

const char* FateName(ConfigFate fate) {
  switch (fate) {
    case ConfigFate::kCarried:
      return "carried";
    case ConfigFate::kCopyOnly:
      return "only in a numbered copy";
    case ConfigFate::kLost:
      return "LOST";
  }
  return "?";
}

const char* FateName(DirectoryFate fate) {
  switch (fate) {
    case DirectoryFate::kMigrated:
      return "migrated";
    case DirectoryFate::kRecoverable:
      return "not migrated but recoverable";
    case DirectoryFate::kLost:
      return "LOST";
  }
  return "?";
}

ScenarioTest::ScenarioTest() : messages_(std::make_unique<MessageRecorder>()) {}

void ScenarioTest::Build(const testkit::SampleMachine& plan) {
  testkit::BuildSampleMachine(machine_.root(), plan);
}

int ScenarioTest::Create(const char* currentProfile, const char* requestedProfile,
                         const char* install, std::vector<InstanceDescriptor> descriptors) {
  std::vector<InstanceDescriptor*> pointers;
  for (InstanceDescriptor& descriptor : descriptors) pointers.push_back(&descriptor);
  pointers.push_back(nullptr);
  return createInstances(currentProfile, requestedProfile, install, pointers.data(),
                         messages_->logFile(), messages_->module(), messages_->owner());
}

void ScenarioTest::Delete(const char* profile, const char* install) {
  deleteInstances(profile, install, messages_->logFile(), messages_->module(), messages_->owner());
}

std::optional<FileBytes> ScenarioTest::Read(const std::string& windowsPath) const {
  return testkit::ReadMachineFile(windowsPath.c_str());
}

bool ScenarioTest::Exists(const std::string& windowsPath) const {
  platform::FileStatus status;
  return platform::GetFileStatus(windowsPath.c_str(), &status) == 0;
}

bool ScenarioTest::IsDirectory(const std::string& windowsPath) const {
  platform::FileStatus status;
  return platform::GetFileStatus(windowsPath.c_str(), &status) == 0 && status.isDirectory;
}

std::vector<std::string> ScenarioTest::FilesBelow(const std::string& windowsDir) const {
  std::vector<std::string> files;
  const std::optional<std::string> host = platform::HostPathOf(windowsDir.c_str());
  std::error_code error;
  if (!host || !fs::is_directory(*host, error)) return files;
  for (auto it = fs::recursive_directory_iterator(*host, error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (!it->is_regular_file(error)) continue;
    std::string relative = fs::relative(it->path(), *host, error).string();
    for (char& c : relative) {
      if (c == '/') c = '\\';
    }
    files.push_back(relative);
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<std::string> ScenarioTest::NumberedFiles(const std::string& windowsDir) const {
  std::vector<std::string> names;
  const std::optional<std::string> host = platform::HostPathOf(windowsDir.c_str());
  std::error_code error;
  if (!host || !fs::is_directory(*host, error)) return names;
  for (const fs::directory_entry& entry : fs::directory_iterator(*host, error)) {
    const std::string name = entry.path().filename().string();
    if (IsNumberedName(name)) names.push_back(name);
  }
  return names;
}

bool ScenarioTest::Defined(const std::string& instance) const {
  return host::IsInstanceDefined(instance);
}

std::string ScenarioTest::InstanceVariable(const std::string& instance,
                                           const std::string& variable) const {
  std::string value;
  if (host::ReadVariableAt(host::ProfileLevel::kInstance, instance, variable, &value) != 0) {
    return "<unset>";
  }
  return value;
}

std::string ScenarioTest::GlobalVariable(const std::string& variable) const {
  std::string value;
  if (host::ReadVariableAt(host::ProfileLevel::kGlobal, "", variable, &value) != 0) {
    return "<unset>";
  }
  return value;
}

std::string ScenarioTest::ServiceProgram(const std::string& service) const {
  host::ServiceConfig config;
  return host::QueryServiceNamed(service, &config) == 0 ? config.program : "";
}

ConfigFate ScenarioTest::ConfigurationFate(const OldInstance& old, const std::string& instanceDir,
                                           const std::vector<std::string>& searchDirs,
                                           std::string* where) const {
  const std::optional<FileBytes> config = Read(instanceDir + "\\qz7systm");
  if (config && config->size() == testkit::kDbmFileSize && testkit::DbmChecksumMatches(*config) &&
      testkit::CarriedValuesOf(*config) == old.values) {
    return ConfigFate::kCarried;
  }
  std::vector<std::string> dirs = {instanceDir};
  dirs.insert(dirs.end(), searchDirs.begin(), searchDirs.end());
  for (const std::string& dir : dirs) {
    for (const std::string& name : NumberedFiles(dir)) {
      if (Read(dir + "\\" + name) == old.config) {
        if (where != nullptr) *where = dir + "\\" + name;
        return ConfigFate::kCopyOnly;
      }
    }
  }
  return ConfigFate::kLost;
}

uint16_t ScenarioTest::ConfigLayout(const std::string& instanceDir) const {
  const std::optional<FileBytes> config = Read(instanceDir + "\\qz7systm");
  if (!config || config->size() < 18) return 0;
  return testkit::DbmU16(*config, 16) & 0x0F00;
}

DirectoryFate ScenarioTest::DatabaseDirectoryFate(const OldInstance& old,
                                                  const std::string& instanceDir) const {
  const std::string folder = instanceDir + "\\SQLDBDIR\\";
  const std::optional<FileBytes> directory = Read(folder + "SQLDBDIR");
  const std::optional<FileBytes> copy = Read(folder + "SQLDBBAK");
  const std::optional<FileBytes> backup = Read(folder + "SQLDDDIR.BAK");
  const testkit::BackupFileView view =
      backup ? testkit::ReadBackupFile(*backup) : testkit::BackupFileView{};
  if (directory && testkit::CurrentDatabaseNames(*directory) == old.databases &&
      copy == directory && view.parsed && view.status == 'C' &&
      view.directory == old.databaseDirectory && view.intention == old.intention) {
    return DirectoryFate::kMigrated;
  }
  if (directory == old.databaseDirectory || copy == old.databaseDirectory) {
    return DirectoryFate::kRecoverable;
  }
  for (const char* name : {"SQLDDDIR.TMP", "SQLDDDIR.BAK"}) {
    const std::optional<FileBytes> saved = Read(folder + name);
    if (saved && testkit::ReadBackupFile(*saved).directory == old.databaseDirectory) {
      return DirectoryFate::kRecoverable;
    }
  }
  return DirectoryFate::kLost;
}

DirectoryFate ScenarioTest::NodeDirectoryFate(const OldInstance& old,
                                              const std::string& instanceDir) const {
  const std::string folder = instanceDir + "\\SQLNODIR\\";
  const std::optional<FileBytes> directory = Read(folder + "SQLNODIR");
  const std::optional<FileBytes> copy = Read(folder + "SQLNOBAK");
  const FileBytes backup = Read(folder + "SQLNDDIR.BAK").value_or(FileBytes{});
  if (directory && testkit::CurrentNodeNames(*directory) == old.nodes && copy == directory &&
      backup.size() > 84 && backup[84] == 'C' &&
      testkit::NodeBackupData(backup) == old.nodeDirectory) {
    return DirectoryFate::kMigrated;
  }
  if (directory == old.nodeDirectory || copy == old.nodeDirectory) {
    return DirectoryFate::kRecoverable;
  }
  for (const char* name : {"SQLNDDIR.TMP", "SQLNDDIR.BAK"}) {
    if (testkit::NodeBackupData(Read(folder + name).value_or(FileBytes{})) == old.nodeDirectory) {
      return DirectoryFate::kRecoverable;
    }
  }
  return DirectoryFate::kLost;
}

std::vector<FileBytes> ScenarioTest::MachineFiles() const {
  std::vector<FileBytes> files;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(fs::path(machine_.root()) / "drives", error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_regular_file(error)) files.push_back(ReadHostFile(it->path()));
  }
  return files;
}

bool FilesKeep(const std::vector<FileBytes>& files, const FileBytes& original) {
  for (const FileBytes& bytes : files) {
    if (bytes == original) return true;
    const testkit::BackupFileView view = testkit::ReadBackupFile(bytes);
    if (view.parsed && (view.directory == original || view.intention == original)) return true;
    if (testkit::NodeBackupData(bytes) == original) return true;
  }
  return false;
}

bool FilesKeepValues(const std::vector<FileBytes>& files, const testkit::CarriedValues& values) {
  for (const FileBytes& bytes : files) {
    if (bytes.size() == testkit::kDbmFileSize && testkit::DbmChecksumMatches(bytes) &&
        testkit::CarriedValuesOf(bytes) == values) {
      return true;
    }
  }
  return false;
}

std::vector<unsigned> BoxIds(const MessageRecorder& messages) {
  std::vector<unsigned> ids;
  for (const MessageRecorder::Box& box : messages.boxes()) ids.push_back(box.id);
  return ids;
}

}  // namespace qz7::scenarios
