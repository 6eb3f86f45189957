#include "provision/instance_update.h"

#include <array>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "base/quoted_path.h"
#include "host/host_services.h"
#include "host/profile_registry.h"
#include "platform/file_system.h"
#include "platform/win_error.h"
#include "platform/windows_path.h"
#include "provision/admin_server.h"
#include "provision/instance_creation.h"
#include "provision/instance_tool_commands.h"
#include "provision/node_name.h"
#include "provision/partitioned_instance.h"
#include "provision/setup_tool_runner.h"
#include "upgrade/saved_configuration.h"
#include "util/setup_files.h"
#include "util/setup_log.h"
#include "util/setup_messages.h"

namespace qz7::provision {
namespace {

const char* Text(const char* text) { return text != nullptr ? text : ""; }
const char* OrNull(const char* text) { return (text != nullptr && *text != '\0') ? text : nullptr; }

void ShowStop(const ProvisionContext& context, unsigned messageId,
              std::initializer_list<std::string> params) {
  std::vector<const char*> texts;
  for (const std::string& param : params) texts.push_back(param.c_str());
  util::ShowSetupMessage(messageId, static_cast<int>(texts.size()), texts.data(), util::kBoxStop,
                         context.logFile, context.messageModule, context.ownerWindow);
}

std::string Number(int32_t value) { return std::to_string(value); }

// The instance's qz7systm, saved under a numbered name beside it (qz7systm.NNN) before the
// work and put back in one step after it. The copy lies in the instance's own directory so
// that a later run knows whose it is and puts it back when this run could not.
class ConfigurationBackup {
 public:
  enum class Outcome { kNoConfiguration, kSaved, kNotSaved };

  ConfigurationBackup(const char* targetProfileDir, const char* name)
      : instanceDir_(base::ExtendPath(Text(targetProfileDir), std::string("\\") + Text(name))),
        configPath_(base::ExtendPath(instanceDir_, "\\qz7systm")) {}

  Outcome Save() {
    // A copy an earlier run saved and did not put back is the instance's configuration:
    // qz7systm gets it back first. If that cannot be done, the record is left alone.
    if (util::IsDirectory(instanceDir_.c_str()) &&
        !upgrade::FinishSavedConfiguration(instanceDir_.c_str())) {
      return Outcome::kNotSaved;
    }
    // Only a regular file is saved: a qz7systm known to be missing, or to be something else
    // (a folder), goes on to the work without a saved copy. One whose status cannot be read
    // may still be the regular file it nearly always is, so the copy is tried all the same:
    // going on without it could let the host replace a configuration nobody saved. Only a
    // failed copy (or no free name) leaves the record alone, with result 0; a copy that finds
    // no file means there is none.
    const std::string bare = base::StripQuotes(configPath_.c_str());
    platform::FileStatus status;
    const bool statusRead = platform::GetFileStatus(bare.c_str(), &status) == 0;
    if (!statusRead && util::IsKnownAbsent(configPath_.c_str())) {
      return Outcome::kNoConfiguration;
    }
    if (statusRead && !status.isRegular) return Outcome::kNoConfiguration;
    backupPath_ = upgrade::SaveConfiguration(instanceDir_.c_str());
    if (backupPath_.empty()) {
      return !statusRead && util::IsKnownAbsent(configPath_.c_str()) ? Outcome::kNoConfiguration
                                                                     : Outcome::kNotSaved;
    }
    util::MakeWritable(configPath_.c_str());
    return Outcome::kSaved;
  }

  // Puts the saved file back over qz7systm; when that fails the copy stays, and the next run
  // (or the upgrade of this one) puts it back.
  void Restore() {
    if (backupPath_.empty()) return;
    // A failed put-back is finished by FinishSavedConfiguration later; nothing is lost.
    static_cast<void>(upgrade::PutBackConfiguration(instanceDir_.c_str(), backupPath_));
    backupPath_.clear();
  }

 private:
  std::string instanceDir_;
  std::string configPath_;
  std::string backupPath_;
};

// The node type of the first existing instance named name, or false when there is none.
bool FindExisting(const ProvisionContext& context, const char* name, int32_t* nodeType) {
  for (const ExistingInstance& existing : context.existingInstances) {
    if (NamesDifferNoCase(existing.name.c_str(), name) == 0) {
      *nodeType = existing.nodeType;
      return true;
    }
  }
  return false;
}

struct ToolMessages {
  unsigned notRun;
  unsigned failed;
};

// Runs a tool of the installation's BIN directory and reports its outcome.
[[nodiscard]] int32_t RunInstanceTool(const ProvisionContext& context,
                                      const InstanceRequest& record, const std::string& toolPath,
                                      std::string commandLine, ToolMessages messages) {
  // An account the tool would cut at its comma is refused before the tool creates anything:
  // the tool is not run, as for an invalid parameter.
  if (!CanCarryAccount(record.account.c_str())) {
    const int32_t refused = static_cast<int32_t>(platform::kErrorInvalidParameter);
    ShowStop(context, messages.notRun, {Number(refused)});
    return refused;
  }
  const std::string workingDirectory = base::StripQuotes(context.installDir);
  std::array<char, kToolOutputSize> output{};
  uint32_t exitCode = 0;
  const int32_t ran = RunSetupTool(workingDirectory.c_str(), toolPath.c_str(), commandLine.c_str(),
                                   &exitCode, output.data(), output.size());
  if (ran != 0) {
    ShowStop(context, messages.notRun, {Number(ran)});
    return ran;
  }
  if (exitCode == 0) return 0;
  const int32_t failure = static_cast<int32_t>(exitCode);
  ShowStop(context, messages.failed, {Number(failure)});
  if (context.logFile != nullptr) {
    MaskPassword(commandLine, record.password.c_str());
    util::AppendLogLine(*context.logFile, commandLine.c_str());
    // The tool may repeat its command line, or the account and password, in what it says.
    std::string said = output.data();
    MaskPassword(said, record.password.c_str());
    if (!said.empty()) util::AppendLogLine(*context.logFile, said.c_str());
  }
  return failure;
}

std::string ToolPath(const ProvisionContext& context, const char* tool) {
  return base::StripQuotes(base::ExtendPath(Text(context.installDir), tool).c_str());
}

[[nodiscard]] int32_t AddRemoteNode(const ProvisionContext& context,
                                    const InstanceRequest& record) {
  const std::string tool = ToolPath(context, kNodeCreateTool);
  std::string commandLine = NodeCreateCommandLine(
      tool.c_str(), record.name.c_str(), record.nodeNumber.c_str(), record.account.c_str(),
      record.password.c_str(), record.ownerComputer.c_str());
  return RunInstanceTool(context, record, tool, std::move(commandLine),
                         {kMsgNodeToolNotRun, kMsgNodeToolFailed});
}

[[nodiscard]] int32_t CreateOrConvertPartitioned(const ProvisionContext& context,
                                                 const InstanceRequest& record, bool exists) {
  const std::string tool = ToolPath(context, exists ? kInstanceUpdateTool : kInstanceCreateTool);
  std::string commandLine = PartitionedCommandLine(
      tool.c_str(), record.name.c_str(), exists ? "" : kPartitionedOption, record.account.c_str(),
      record.password.c_str(), record.portRangeStart.c_str(), record.portRangeEnd.c_str(),
      record.hostName.c_str());
  return RunInstanceTool(
      context, record, tool, std::move(commandLine),
      {kMsgInstanceToolNotRun, exists ? kMsgInstanceUpdateFailed : kMsgInstanceCreateFailed});
}

// The profile directory the instance is set up in: its own, else the target.
std::string ProfileDirOf(const ProvisionContext& context, const InstanceRequest& record) {
  const bool ownProfile = !record.profileDir.empty() && record.profileDir.view() != "\"\"";
  return base::StripQuotes(ownProfile ? record.profileDir.c_str() : context.targetProfileDir);
}

// Creates the instance through the host services, partitioned or of the server kind.
[[nodiscard]] int32_t CreateThroughHost(const ProvisionContext& context,
                                        const InstanceRequest& record, bool stamp,
                                        bool partitioned) {
  const std::string profileDir = ProfileDirOf(context, record);
  const std::string installDir = base::StripQuotes(context.installDir);
  const int32_t created = CreateInstance(
      record.name.c_str(), profileDir.c_str(), installDir.c_str(), OrNull(record.account.c_str()),
      OrNull(record.password.c_str()), partitioned ? kKindPartitioned : context.serverType, stamp);
  if (created != 0) {
    ShowStop(context, kMsgCreateInstanceFailed, {Number(created), record.name.c_str()});
    return created;
  }
  // A partitioned instance whose profile directory moves is reached by its other nodes
  // through a share of the new directory.
  if (!partitioned ||
      std::strcmp(Text(context.currentProfileDir), Text(context.targetProfileDir)) == 0) {
    return 0;
  }
  const std::string shareName = ShareNameOf(record.name.c_str());
  const int shared = ShareProfileDirectory(context.targetProfileDir, shareName);
  if (shared != 0) ShowStop(context, kMsgShareFailed, {shareName, Number(shared)});
  return shared;
}

// Whether the profile registry defines the instance. One that only the old instance index
// file lists is not defined yet.
bool IsDefined(const char* name) {
  std::vector<char> copy(name, name + std::strlen(name) + 1);
  return host::Host().PRegProfilePE(host::kProfileIsDefined, copy.data(), host::kAnyNode) == 0;
}

// Whether the profile registry places the instance in another directory than profileDir, the
// one its set-up gives it: an instance that moved names the folder it came from until it is
// set up. One without the variable is placed by the installation, as the tools place it; a
// value that cannot be read counts as another directory.
bool IsRegisteredElsewhere(const char* name, const std::string& profileDir) {
  std::string registered;
  const int read = host::ReadVariableAt(host::ProfileLevel::kInstance, name,
                                        host::kVarNameInstanceProfile, &registered);
  if (read == host::kNotFound) return false;
  if (read != 0) return true;
  const std::string bare = base::StripQuotes(registered.c_str());
  return !bare.empty() && !platform::NamesEqualIgnoreCase(bare, profileDir);
}

// Whether the profile registry holds a port range for the instance, as every partitioned
// instance of this computer has.
bool IsPartitionedInRegistry(const char* name) {
  std::string range;
  return host::ReadVariableAt(host::ProfileLevel::kInstance, name, host::kVarNamePortRange,
                              &range) == 0 &&
         !range.empty();
}

}  // namespace

[[nodiscard]] int32_t CreateOrUpdateInstance(const ProvisionContext& context,
                                             const InstanceRequest& record, bool isAdminServer,
                                             bool* untouched) {
  ConfigurationBackup backup(context.targetProfileDir, record.name.c_str());
  const ConfigurationBackup::Outcome saved = backup.Save();
  if (untouched != nullptr) *untouched = saved == ConfigurationBackup::Outcome::kNotSaved;
  if (saved == ConfigurationBackup::Outcome::kNotSaved) return 0;

  int32_t existingType = -1;
  bool exists = FindExisting(context, record.name.c_str(), &existingType);
  const bool partitioned = record.nodeType == kNodeTypePartitioned;
  // The scan does not see every partitioned instance an earlier, interrupted run of the same
  // request made: it reads node types from qz7systm in the current profile directory (the
  // instance lies in the installation), and on a machine with the old index file it lists
  // only the instances of that file. The instance's port range in the profile registry shows
  // that it is partitioned already: running its tool again would only fail, so it is set up
  // as an existing partitioned instance.
  if (partitioned && record.ownedElsewhere == 0 && !isAdminServer &&
      !(exists && existingType == kNodeTypePartitioned) &&
      IsPartitionedInRegistry(record.name.c_str())) {
    exists = true;
    existingType = kNodeTypePartitioned;
  }

  int32_t result = 0;
  if (isAdminServer) {
    result = CreateAdminServer(record.name.c_str(), context.installDir, context.targetProfileDir,
                               OrNull(record.account.c_str()), OrNull(record.password.c_str()));
    if (result != 0) ShowStop(context, kMsgAdminServerFailed, {Number(result)});
  } else if (record.ownedElsewhere != 0) {
    // A node that this computer already has is left as it is.
    if (!exists) result = AddRemoteNode(context, record);
  } else if (partitioned && (!exists || existingType != kNodeTypePartitioned)) {
    // QZ7IUPDT.EXE updates a defined instance only, where the profile registry says it lives.
    // An instance of a release that listed its instances in the old index file is not defined
    // until it is set up, and one that moved to the target directory is still registered in
    // the folder it came from: either is first set up as the ordinary instance it is (as
    // every other instance of the run is), then made partitioned where it now lives.
    if (exists && (!IsDefined(record.name.c_str()) ||
                   IsRegisteredElsewhere(record.name.c_str(), ProfileDirOf(context, record)))) {
      result = CreateThroughHost(context, record, saved != ConfigurationBackup::Outcome::kSaved,
                                 /*partitioned=*/false);
    }
    if (result == 0) result = CreateOrConvertPartitioned(context, record, exists);
  } else {
    // A configuration that was saved is put back below, so it is not stamped.
    result = CreateThroughHost(context, record, saved != ConfigurationBackup::Outcome::kSaved,
                               partitioned);
  }

  // Whatever the work's outcome (a tool that could not even be started included), the steps
  // below run, so the saved configuration is always put back.
  // An existing partitioned instance moves to this installation: its node services follow.
  if (partitioned && exists &&
      std::strcmp(Text(context.requestedProfileDir), Text(context.installDir)) != 0) {
    RepointNodeServices(record.name.c_str(), context.installDir);
  }
  backup.Restore();
  return result;
}

}  // namespace qz7::provision
