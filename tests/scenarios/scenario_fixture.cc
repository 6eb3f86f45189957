#include "tests/scenarios/scenario_fixture.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "host/profile_registry.h"
#include "host/service_table.h"
#include "platform/file_system.h"
#include "platform/machine_root.h"
#include "tools/sample/database_directory_builder.h"
#include "tools/sample/dbm_block_builder.h"

namespace qz7::scenarios {

namespace fs = std::filesystem;

int ScenarioTest::Create(const char* currentProfile, const char* requestedProfile,
                         std::vector<InstanceDescriptor> descriptors) {
  std::vector<InstanceDescriptor*> pointers;
  for (InstanceDescriptor& descriptor : descriptors) pointers.push_back(&descriptor);
  pointers.push_back(nullptr);
  return createInstances(currentProfile, requestedProfile, kInstallDir, pointers.data(),
                         messages_->logFile(), messages_->module(), messages_->owner());
}

bool ScenarioTest::Exists(const std::string& windowsPath, bool directory) const {
  platform::FileStatus status;
  return platform::GetFileStatus(windowsPath.c_str(), &status) == 0 &&
         (!directory || status.isDirectory);
}

std::vector<std::string> ScenarioTest::FilesBelow(const std::string& windowsDir,
                                                  bool numberedOnly) const {
  std::vector<std::string> files;
  const std::optional<std::string> host = platform::HostPathOf(windowsDir.c_str());
  std::error_code error;
  if (!host || !fs::is_directory(*host, error)) return files;
  for (auto it = fs::recursive_directory_iterator(*host, error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    const std::string name = it->path().filename().string();
    // ########.###, or qz7systm.### (a configuration saved beside qz7systm).
    const bool numbered = name.size() == 12 && name[8] == '.' &&
                          std::count_if(name.begin() + 9, name.end(), ::isdigit) == 3 &&
                          (std::count_if(name.begin(), name.begin() + 8, ::isdigit) == 8 ||
                           name.starts_with("qz7systm"));
    if (it->is_regular_file(error) && (!numberedOnly || (numbered && it.depth() == 0))) {
      files.push_back(fs::relative(it->path(), *host).string());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string ScenarioTest::Variable(const std::string& instance, const std::string& variable) const {
  std::string value;
  const host::ProfileLevel level =
      instance.empty() ? host::ProfileLevel::kGlobal : host::ProfileLevel::kInstance;
  return host::ReadVariableAt(level, instance, variable, &value) == 0 ? value : "<unset>";
}

std::string ScenarioTest::ServiceProgram(const std::string& service) const {
  host::ServiceConfig config;
  return host::QueryServiceNamed(service, &config) == 0 ? config.program : "";
}

bool ScenarioTest::ConfigurationCarried(const OldInstance& old,
                                        const std::string& instanceDir) const {
  const std::optional<FileBytes> config = Read(instanceDir + "\\qz7systm");
  return config && FilesKeepValues({*config}, old.values);
}

uint16_t ScenarioTest::ConfigField(const std::string& instanceDir, size_t offset) const {
  const FileBytes config = Read(instanceDir + "\\qz7systm").value_or(FileBytes{});
  return config.size() == sample::kDbmFileSize && sample::DbmChecksumMatches(config)
             ? sample::DbmU16(config, offset)
             : 0;
}

bool ScenarioTest::DatabaseDirectoryMigrated(const OldInstance& old,
                                             const std::string& instanceDir) const {
  const std::string folder = instanceDir + "\\SQLDBDIR\\";
  const std::optional<FileBytes> directory = Read(folder + "SQLDBDIR");
  const sample::BackupFileView backup =
      sample::ReadBackupFile(Read(folder + "SQLDDDIR.BAK").value_or(FileBytes{}));
  return directory && testkit::CurrentDatabaseNames(*directory) == old.databases &&
         Read(folder + "SQLDBBAK") == directory && backup.parsed && backup.status == 'C' &&
         backup.directory == old.databaseDirectory && backup.intention == old.intention;
}

bool ScenarioTest::NodeDirectoryMigrated(const OldInstance& old,
                                         const std::string& instanceDir) const {
  const std::string folder = instanceDir + "\\SQLNODIR\\";
  const std::optional<FileBytes> directory = Read(folder + "SQLNODIR");
  const FileBytes backup = Read(folder + "SQLNDDIR.BAK").value_or(FileBytes{});
  return directory && testkit::CurrentNodeNames(*directory) == old.nodes &&
         Read(folder + "SQLNOBAK") == directory && backup.size() > 84 && backup[84] == 'C' &&
         testkit::NodeBackupData(backup) == old.nodeDirectory;
}

bool FilesKeepValues(const std::vector<FileBytes>& files, const testkit::CarriedValues& values) {
  for (const FileBytes& bytes : files) {
    if (bytes.size() == sample::kDbmFileSize && sample::DbmChecksumMatches(bytes) &&
        testkit::CarriedValuesOf(bytes) == values) {
      return true;
    }
  }
  return false;
}

}  // namespace qz7::scenarios
