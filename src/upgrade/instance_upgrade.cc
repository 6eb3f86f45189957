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

// The migrations' access error, for a directory file whose status could not be read.
constexpr int kStatusUnreadable = -108;

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
  // The same for a converted file, which the conversion synced before it reported success.
  // Its new name is left for the sync of the whole file system that ends the set-up run: no
  // step of the run relies on it, and until then a power cut leaves the old configuration as
  // qz7systm (the name it never left), which the next run converts again.
  auto putConvertedInPlace = [&] {
    return platform::ReplaceFile(staged.c_str(), config.c_str()) == 0;
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
      if (putConvertedInPlace()) return 0;
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
  // A folder whose status cannot be read may be the instance's: it is migrated, and the
  // migrations report what they cannot reach, rather than passed over without a word.
  if (instanceDir == nullptr || util::PathKindState(instanceDir, true) == 0) return 0;
  const std::string databaseFolder = base::JoinPath(instanceDir, "SQLDBDIR");
  const std::string gatewayFolder = base::JoinPath(instanceDir, "SQLGWDIR");
  const std::string nodeFolder = base::JoinPath(instanceDir, "SQLNODIR");
  const std::string bareInstance = base::StripQuotes(instanceDir);
  const std::string name = base::LastComponent(instanceDir);
  // A folder whose migration was interrupted may hold only the migration backup; it is
  // migrated (which restores it from the backup) rather than cleared, so the backup is
  // never deleted. 1 when one of the files is there, 0 when none is, -1 when none is known
  // to be there but the status of one could not be read: such a folder is neither cleared
  // nor migrated, and the step fails with the access error (-108); the next run does it.
  auto holdsDirectory = [](const std::string& folder, const char* file, const char* copy,
                           const char* backup) {
    int held = 0;
    for (const char* name : {file, copy, backup}) {
      const int state = util::FileStateIn(folder.c_str(), name);
      if (state == 1) return 1;
      if (state < 0) held = -1;
    }
    return held;
  };
  auto report = [&](unsigned messageId, int code) {
    const std::string codeText = std::to_string(code);
    const char* params[] = {codeText.c_str(), name.c_str()};
    util::ShowSetupMessage(messageId, 2, params, util::kBoxInformation, messages.logFile,
                           messages.messageModule, messages.ownerWindow);
  };

  int result = 0;
  const int databaseHeld = holdsDirectory(databaseFolder, "SQLDBDIR", "SQLDBBAK", "SQLDDDIR.TMP");
  if (databaseHeld < 0) {
    report(kDatabaseDirectoryNotMigratedMessage, kStatusUnreadable);
    result = 1;
  } else if (databaseHeld == 0) {
    DeleteMatchingFiles("*", databaseFolder.c_str());
  } else {
    const int code =
        migrations.databaseDirectory(bareInstance.c_str(), base::StripQuotes(installDir).c_str());
    if (code != 0 && code != 1) {
      report(kDatabaseDirectoryNotMigratedMessage, code);
      result = 1;
    }
  }
  const int gatewayHeld = holdsDirectory(gatewayFolder, "SQLGWDIR", "SQLGWBAK", nullptr);
  if (gatewayHeld < 0) result = 1;
  if (gatewayHeld == 0) DeleteMatchingFiles("*", gatewayFolder.c_str());
  const int nodeHeld = holdsDirectory(nodeFolder, "SQLNODIR", "SQLNOBAK", "SQLNDDIR.TMP");
  if (nodeHeld < 0) {
    report(kNodeDirectoryNotMigratedMessage, kStatusUnreadable);
    result = 1;
  } else if (nodeHeld == 0) {
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
