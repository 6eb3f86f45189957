#include "upgrade/instance_upgrade.h"

#include <string>

#include "platform/file_system.h"
#include "platform/win_error.h"
#include "upgrade/dbm_configuration_conversion.h"
#include "upgrade/directory_tree.h"
#include "util/quoted_path.h"
#include "util/setup_files.h"
#include "util/setup_messages.h"

namespace qz7::upgrade {
namespace {

// True only when the file is known to be absent; a status that cannot be read is not taken
// for absence, since the configuration would then be overwritten without being saved.
bool KnownAbsent(const std::string& path) {
  platform::FileStatus status;
  if (platform::GetFileStatus(util::StripQuotes(path.c_str()).c_str(), &status) == 0) {
    return false;
  }
  const uint32_t error = platform::GetLastError();
  return error == platform::kErrorFileNotFound || error == platform::kErrorPathNotFound;
}

int ReportNotUpgraded(const MessageTarget& messages, const char* instanceDir, int code) {
  const std::string codeText = std::to_string(code);
  const char* codeParams[] = {codeText.c_str()};
  util::ShowSetupMessage(kConversionFailedMessage, 1, codeParams, util::kBoxNone, messages.logFile,
                         messages.messageModule, nullptr);
  const std::string name = util::LastComponent(instanceDir);
  const char* nameParams[] = {name.c_str()};
  util::ShowSetupMessage(kInstanceNotUpgradedMessage, 1, nameParams, util::kBoxInformation,
                         messages.logFile, messages.messageModule, messages.ownerWindow);
  return 1;
}

}  // namespace

int UpgradeInstanceConfiguration(const MessageTarget& messages, const char* instanceDir,
                                 const char* templateFile) {
  const std::string configPath = util::ExtendPath(instanceDir ? instanceDir : "", "\\qz7systm");
  const char* free = util::FindFreeNumberedName(instanceDir, util::kTemporaryNamePattern);
  if (free == nullptr) return ReportNotUpgraded(messages, instanceDir, kConfigurationNotSaved);
  const std::string savedPath = free;

  // Only an existing configuration needs saving; if it cannot be saved it is left alone.
  if (!KnownAbsent(configPath) && util::CopySetupFile(configPath.c_str(), savedPath.c_str()) != 0) {
    platform::RemoveFile(util::StripQuotes(savedPath.c_str()).c_str());  // a partial copy
    return ReportNotUpgraded(messages, instanceDir, kConfigurationNotSaved);
  }
  util::MakeWritable(configPath.c_str());
  util::CopySetupFile(templateFile, configPath.c_str());

  const int code = ConvertDbmConfiguration(util::StripQuotes(configPath.c_str()).c_str(),
                                           util::StripQuotes(savedPath.c_str()).c_str());
  if (code != 0) return ReportNotUpgraded(messages, instanceDir, code);
  platform::RemoveFile(util::StripQuotes(savedPath.c_str()).c_str());
  return 0;
}

int UpgradeInstanceDirectories(const char* instanceDir, const char* installDir,
                               const MessageTarget& messages,
                               const DirectoryMigrations& migrations) {
  if (instanceDir == nullptr || !util::IsDirectory(instanceDir)) return 0;
  const std::string databaseFolder = util::JoinPath(instanceDir, "SQLDBDIR");
  const std::string gatewayFolder = util::JoinPath(instanceDir, "SQLGWDIR");
  const std::string nodeFolder = util::JoinPath(instanceDir, "SQLNODIR");
  const std::string bareInstance = util::StripQuotes(instanceDir);
  const std::string name = util::LastComponent(instanceDir);
  // A folder whose migration was interrupted may hold only the migration backup; it is
  // migrated (which restores it from the backup) rather than cleared, so the backup is
  // never deleted.
  auto holdsDirectory = [](const std::string& folder, const char* file, const char* copy,
                           const char* backup) {
    return util::FileExistsIn(folder.c_str(), file) || util::FileExistsIn(folder.c_str(), copy) ||
           (backup != nullptr && util::FileExistsIn(folder.c_str(), backup));
  };
  auto report = [&](unsigned messageId, int code) {
    const std::string codeText = std::to_string(code);
    const char* params[] = {codeText.c_str(), name.c_str()};
    util::ShowSetupMessage(messageId, 2, params, util::kBoxInformation, messages.logFile,
                           messages.messageModule, messages.ownerWindow);
  };

  int result = 0;
  if (!holdsDirectory(databaseFolder, "SQLDBDIR", "SQLDBBAK", "SQLDDDIR.TMP")) {
    DeleteMatchingFiles("*", databaseFolder.c_str());
  } else {
    const int code =
        migrations.databaseDirectory(bareInstance.c_str(), util::StripQuotes(installDir).c_str());
    if (code != 0 && code != 1) {
      report(kDatabaseDirectoryNotMigratedMessage, code);
      result = 1;
    }
  }
  if (!holdsDirectory(gatewayFolder, "SQLGWDIR", "SQLGWBAK", nullptr)) {
    DeleteMatchingFiles("*", gatewayFolder.c_str());
  }
  if (!holdsDirectory(nodeFolder, "SQLNODIR", "SQLNOBAK", "SQLNDDIR.TMP")) {
    DeleteMatchingFiles("*", nodeFolder.c_str());
  } else {
    const int code = migrations.nodeDirectory(bareInstance.c_str());
    if (code != 0) {
      report(kNodeDirectoryNotMigratedMessage, code);
      result = 1;
    }
  }
  return result;
}

}  // namespace qz7::upgrade
