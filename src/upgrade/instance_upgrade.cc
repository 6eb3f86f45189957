#include "upgrade/instance_upgrade.h"

#include <string>

#include "platform/file_system.h"
#include "platform/win_error.h"
#include "upgrade/dbm_configuration_conversion.h"
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

}  // namespace qz7::upgrade
