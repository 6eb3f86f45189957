#include "upgrade/instance_upgrade.h"

#include <string>

#include "base/quoted_path.h"
#include "platform/file_system.h"
#include "platform/win_error.h"
#include "upgrade/dbm_configuration_conversion.h"
#include "upgrade/directory_tree.h"
#include "util/setup_files.h"
#include "util/setup_messages.h"

namespace qz7::upgrade {
namespace {

[[nodiscard]] int ReportNotUpgraded(const MessageTarget& messages, const char* instanceDir,
                                    int code) {
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

[[nodiscard]] int UpgradeInstanceConfiguration(const MessageTarget& messages,
                                               const char* instanceDir, const char* templateFile) {
  const std::string configPath = util::ExtendPath(instanceDir ? instanceDir : "", "\\qz7systm");
  auto removeFile = [](const std::string& path) {
    util::MakeWritable(path.c_str());
    platform::RemoveFile(util::StripQuotes(path.c_str()).c_str());
  };
  // A free numbered name; the helper's buffer is shared by every call, so it is copied.
  auto freeName = [instanceDir](std::string* name) {
    const char* found = util::FindFreeNumberedName(instanceDir, util::kTemporaryNamePattern);
    if (found != nullptr) *name = found;
    return found != nullptr;
  };

  std::string savedPath;
  if (!freeName(&savedPath)) {
    return ReportNotUpgraded(messages, instanceDir, kConfigurationNotSaved);
  }
  // Only an existing configuration needs saving; if it cannot be saved it is left alone. The
  // copy keeps the original's permissions, so it is made writable for the conversion.
  const bool configAbsent = util::IsKnownAbsent(configPath.c_str());
  if (!configAbsent) {
    if (util::CopySetupFile(configPath.c_str(), savedPath.c_str()) != 0) {
      removeFile(savedPath);  // a partial copy
      return ReportNotUpgraded(messages, instanceDir, kConfigurationNotSaved);
    }
    util::MakeWritable(savedPath.c_str());
  }

  // The template is filled beside the configuration and takes its place in one step only
  // when the conversion has succeeded: a run stopped anywhere leaves qz7systm either as it
  // was or converted, never holding the template's values.
  std::string stagedPath;
  if (!freeName(&stagedPath)) {
    if (!configAbsent) removeFile(savedPath);
    return ReportNotUpgraded(messages, instanceDir, kConfigurationNotSaved);
  }
  util::CopySetupFile(templateFile, stagedPath.c_str());
  util::MakeWritable(stagedPath.c_str());
  const std::string bareConfig = util::StripQuotes(configPath.c_str());
  const std::string bareStaged = util::StripQuotes(stagedPath.c_str());
  int code =
      ConvertDbmConfiguration(bareStaged.c_str(), util::StripQuotes(savedPath.c_str()).c_str());
  if (code == 0 || configAbsent) {
    // An instance without a configuration gets the template even when nothing could be
    // carried into it, as it would by copying the template over its configuration.
    util::MakeWritable(configPath.c_str());
    if (platform::ReplaceFile(bareStaged.c_str(), bareConfig.c_str()) != 0 && code == 0) {
      code = kDbmFileError;
    }
  }
  if (code != 0) {
    removeFile(stagedPath);
    return ReportNotUpgraded(messages, instanceDir, code);
  }
  removeFile(savedPath);
  return 0;
}

[[nodiscard]] int UpgradeInstanceDirectories(const char* instanceDir, const char* installDir,
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
