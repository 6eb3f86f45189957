#include "upgrade/instance_upgrade.h"

#include <string>

#include "base/quoted_path.h"
#include "platform/file_system.h"
#include "platform/win_error.h"
#include "upgrade/dbm_configuration_conversion.h"
#include "upgrade/folder_tree.h"
#include "upgrade/saved_configuration.h"
#include "util/setup_files.h"
#include "util/setup_messages.h"

namespace qz7::upgrade {
namespace {

[[nodiscard]] int ReportNotUpgraded(const MessageTarget& messages, const char* instanceDir,
                                    int code) {
  ReportInstanceNotUpgraded(messages, instanceDir, code);
  return 1;
}

}  // namespace

void ReportInstanceNotUpgraded(const MessageTarget& messages, const char* instanceDir, int code) {
  const std::string codeText = std::to_string(code);
  const char* codeParams[] = {codeText.c_str()};
  util::ShowSetupMessage(kConversionFailedMessage, 1, codeParams, util::kBoxNone, messages.logFile,
                         messages.messageModule, nullptr);
  const std::string name = base::LastComponent(instanceDir);
  const char* nameParams[] = {name.c_str()};
  util::ShowSetupMessage(kInstanceNotUpgradedMessage, 1, nameParams, util::kBoxInformation,
                         messages.logFile, messages.messageModule, messages.ownerWindow);
}

[[nodiscard]] int UpgradeInstanceConfiguration(const MessageTarget& messages,
                                               const char* instanceDir, const char* templateFile) {
  const std::string folder = base::StripQuotes(instanceDir != nullptr ? instanceDir : "");
  const std::string config = base::JoinPath(folder, kConfigurationFileName);
  const std::string staged = base::JoinPath(folder, kStagedConfigurationName);
  // What an earlier run left is finished first: a configuration that a creation or update
  // saved, or that a failed upgrade left under its numbered name, is the instance's own and
  // goes back over qz7systm, which may hold the template; the conversion then runs again.
  if (!FinishSavedConfiguration(instanceDir)) {
    return ReportNotUpgraded(messages, instanceDir, kConfigurationNotSaved);
  }
  auto removeStaged = [&staged] {
    static_cast<void>(platform::SetFileWritable(staged.c_str(), true));
    static_cast<void>(platform::RemoveFile(staged.c_str()));
  };
  auto stageTemplate = [&] {
    if (util::IsRegularFile(staged.c_str())) removeStaged();
    if (util::CopySetupFile(templateFile, staged.c_str()) != 0) {
      removeStaged();
      return false;
    }
    util::MakeWritable(staged.c_str());
    return true;
  };
  // Puts the staged file in place of qz7systm in one step, its data on the disk first; the
  // new name is synced after (a failure there cannot undo the replacement: the result tells
  // what qz7systm holds now).
  auto replaceConfiguration = [&] {
    if (!util::SyncSetupFile(staged.c_str()) ||
        platform::ReplaceFile(staged.c_str(), config.c_str()) != 0) {
      return false;
    }
    static_cast<void>(util::SyncFolderOf(config.c_str()));
    return true;
  };

  // The template is filled beside the configuration, read straight from qz7systm, and takes
  // its place in one step when the conversion has succeeded, so a successful upgrade needs no
  // saved copy. Only a failed conversion ends as one that filled the template in place would:
  // the template as qz7systm, the old configuration under a numbered name beside it.
  const bool configAbsent = util::IsKnownAbsent(config.c_str());
  if (!configAbsent && !util::IsRegularFile(config.c_str())) {
    return ReportNotUpgraded(messages, instanceDir, kConfigurationNotSaved);
  }
  if (!stageTemplate()) return ReportNotUpgraded(messages, instanceDir, kConfigurationNotSaved);
  int code = kDbmFileError;  // an instance without a configuration has no values to carry
  if (!configAbsent) {
    util::MakeWritable(config.c_str());
    code = ConvertDbmConfiguration(staged.c_str(), config.c_str());
    if (code == 0) {
      if (replaceConfiguration()) return 0;
      code = kDbmFileError;
    }
  }

  if (configAbsent) {
    // An instance without a configuration gets the template; the conversion still failed.
    if (!replaceConfiguration()) removeStaged();
    return ReportNotUpgraded(messages, instanceDir, code);
  }
  // A conversion that failed, or whose result could not be put in place, may have left more
  // than the template in the staged file: the template is staged afresh. The old configuration
  // is then saved under a numbered name, data and name on the disk, before the template
  // replaces it: a run stopped in between leaves either qz7systm as it was (the copy then a
  // duplicate, which the next run deletes) or the template with the saved copy, which the next
  // run puts back and converts again. Where either cannot be done, qz7systm keeps the old
  // configuration.
  if (!stageTemplate()) return ReportNotUpgraded(messages, instanceDir, kConfigurationNotSaved);
  if (SaveConfiguration(instanceDir).empty()) {
    removeStaged();
    return ReportNotUpgraded(messages, instanceDir, kConfigurationNotSaved);
  }
  if (!replaceConfiguration()) {
    // qz7systm still holds the old configuration: the saved copy is a duplicate and goes, and
    // so does the staged template (whatever stays is finished by the next run).
    static_cast<void>(FinishSavedConfiguration(instanceDir));
  }
  return ReportNotUpgraded(messages, instanceDir, code);
}

[[nodiscard]] int UpgradeInstanceDirectories(const char* instanceDir, const char* installDir,
                                             const MessageTarget& messages,
                                             const DirectoryMigrations& migrations) {
  if (instanceDir == nullptr || !util::IsDirectory(instanceDir)) return 0;
  const std::string databaseFolder = base::JoinPath(instanceDir, "SQLDBDIR");
  const std::string gatewayFolder = base::JoinPath(instanceDir, "SQLGWDIR");
  const std::string nodeFolder = base::JoinPath(instanceDir, "SQLNODIR");
  const std::string bareInstance = base::StripQuotes(instanceDir);
  const std::string name = base::LastComponent(instanceDir);
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
        migrations.databaseDirectory(bareInstance.c_str(), base::StripQuotes(installDir).c_str());
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
