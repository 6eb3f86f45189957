#include "entry/instance_setup.h"

#include <cstring>
#include <string>
#include <vector>

#include "base/instance_index_layout.h"
#include "base/quoted_path.h"
#include "entry/setup_decisions.h"
#include "entry/setup_progress.h"
#include "host/host_services.h"
#include "host/profile_registry.h"
#include "platform/drives.h"
#include "platform/file_system.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "platform/win_error.h"
#include "platform/windows_path.h"
#include "upgrade/folder_tree.h"
#include "util/setup_files.h"
#include "util/setup_messages.h"

namespace qz7::entry {
namespace {

constexpr size_t kProfileNameSize = 256;
constexpr size_t kServiceWorkSize = 512;
constexpr uint32_t kDriveStringsSize = 128;
constexpr const char* kClientConfigurationFiles[] = {"qz7cli.ini"};

upgrade::MessageTarget MessagesOf(const SetupContext& context) {
  return {context.logFile, context.messageModule, context.ownerWindow};
}

void Show(const SetupContext& context, unsigned id, std::vector<std::string> params,
          unsigned style) {
  std::vector<const char*> texts;
  for (const std::string& param : params) texts.push_back(param.c_str());
  util::ShowSetupMessage(id, static_cast<int>(texts.size()), texts.data(), style, context.logFile,
                         context.messageModule, context.ownerWindow);
}

std::string Below(const base::FixedText<kContextPathSize>& directory, const char* name) {
  return base::ExtendPath(directory.c_str(), std::string("\\") + name);
}

// The host's text arguments are not const; each call gets its own copy.
int PointRegistry(int op, const char* text) {
  std::vector<char> copy(text, text + std::strlen(text) + 1);
  return host::Host().PRegProfilePE(op, copy.data(), host::kAnyNode);
}

int WriteGlobalVariable(int variable, const char* value) {
  std::vector<char> copy(value, value + std::strlen(value) + 1);
  return host::Host().PRegValuePE(host::kValueWrite, variable, nullptr, copy.data(), copy.size(),
                                  host::kGlobalProfile, host::kAnyNode);
}

// Step 4: an administration server the scan found but the run no longer wants.
void DropUnwantedAdminServer(const SetupContext& context) {
  const ExistingInstanceScan& scan = *context.existingScan;
  if (scan.adminIndex < 0 || context.adminIndex != -1) return;
  const InstanceRecord& admin = scan.records[scan.adminIndex];
  host::Host().InstanceDrop(admin.name.c_str(),
                            Below(context.currentProfileDir, admin.name.c_str()).c_str());
  // Dropping the unwanted server is a clean-up: its failure does not fail the run.
  static_cast<void>(host::Host().PRegValuePE(host::kValueRemove, host::kVarAdminServer, nullptr,
                                             nullptr, 0, host::kGlobalProfile, host::kAnyNode));
}

// Step 5: the services of the instances found are registered again when they are created.
void DeregisterServices(const SetupContext& context) {
  const InstanceArray& records = context.existingScan->records;
  for (int32_t i = 0; i < records.count(); ++i) {
    const InstanceRecord& record = records[i];
    if (record.ownedElsewhere) continue;
    char work[kServiceWorkSize] = {};
    // A service that is not there, or not removed, is registered again over the old one.
    if (record.nodeType == kNodeTypePartitioned) {
      const std::string service = std::string(record.name.c_str()) + "-0";
      static_cast<void>(host::Host().DeRegisterNTService(service.c_str(), work, 0));
    } else if (record.nodeType != kNodeTypeClient && context.serverType == 2) {
      static_cast<void>(host::Host().DeRegisterNTService(record.name.c_str(), work, 0));
    }
  }
}

// True when directory holds nothing but, perhaps, the old instance index file (which the
// documented order has removed before the moves); false when it holds anything else or
// cannot be searched.
bool HoldsNothingButIndexFile(const std::string& directory) {
  platform::FindData entry;
  const std::string pattern = base::StripQuotes(base::ExtendPath(directory, "\\*").c_str());
  platform::FindHandle search = platform::FindFirst(pattern.c_str(), &entry);
  if (search == platform::kInvalidFindHandle) return false;
  bool empty = true;
  do {
    if (std::strcmp(entry.name, ".") == 0 || std::strcmp(entry.name, "..") == 0 ||
        platform::NamesEqualIgnoreCase(entry.name, base::kInstanceIndexFileName)) {
      continue;
    }
    empty = false;
  } while (empty && platform::FindNext(search, &entry) == 0);
  // A search that ended on an error has not seen every entry.
  if (empty && platform::GetLastError() != platform::kErrorNoMoreFiles) empty = false;
  platform::FindClose(search);
  return empty;
}

struct MoveOutcome {
  // The instances whose move could not be completed.
  std::vector<std::string> incomplete;
  // The moves emptied the old profile directory: the documented last move removes it (and
  // each ancestor it empties). The driver removes it at the end of the run instead, once
  // every instance that lived there points at its new place: removed before, a run stopped
  // in between would leave a profile registry that cannot be pointed at the old directory
  // any more, and the next run would not find those instances to re-point them.
  bool emptiedOldProfile = false;
};

// Step 6: instance directories and client configuration files move to the target directory.
// Returns the names of the instances whose move could not be completed: their files are
// still whole in the old place, and the upgrade leaves the partial copy in the new place
// alone, so that a later run moves them over it and upgrades them then. Each is shown as an
// instance not upgraded, with the code of the copy that failed.
MoveOutcome MoveInstanceDirectories(const SetupContext& context) {
  MoveOutcome outcome;
  std::vector<std::string>& incomplete = outcome.incomplete;
  const ExistingInstanceScan& scan = *context.existingScan;
  for (int32_t i = 0; i < scan.records.count(); ++i) {
    if (i == scan.adminIndex && context.adminIndex == -1) continue;
    const InstanceRecord& record = scan.records[i];
    if (record.ownedElsewhere) continue;
    int failure = 0;
    const std::string source = Below(context.currentProfileDir, record.name.c_str());
    // A move refused before it started (a path that cannot be normalised, a target inside
    // the instance's own directory) is as incomplete as one whose copy failed.
    const int refused = upgrade::CopyDirectoryTree(
        source.c_str(), Below(context.targetProfileDir, record.name.c_str()).c_str(),
        /*move=*/true, &failure, /*keepAncestors=*/true);
    if (refused != upgrade::kFolderTreeOk) failure = refused;
    if (failure != 0) {
      upgrade::ReportInstanceNotUpgraded(MessagesOf(context), source.c_str(), failure);
      incomplete.push_back(record.name.c_str());
    }
  }
  outcome.emptiedOldProfile =
      incomplete.empty() && HoldsNothingButIndexFile(context.currentProfileDir.c_str());
  for (const char* file : kClientConfigurationFiles) {
    const std::string source = Below(context.currentProfileDir, file);
    if (!util::IsRegularFile(source.c_str())) continue;
    const std::string destination = Below(context.targetProfileDir, file);
    util::MakeWritable(destination.c_str());
    // The source goes only once its copy is in place and on the disk, so the file is never
    // lost, not even to a power cut.
    if (util::CopySetupFile(source.c_str(), destination.c_str()) != 0 ||
        !util::SyncSetupFile(destination.c_str()) || !util::SyncFolderOf(destination.c_str())) {
      continue;
    }
    util::MakeWritable(source.c_str());
    // A source that stays is copied over again by a later run: nothing is lost.
    static_cast<void>(platform::RemoveFile(base::StripQuotes(source.c_str()).c_str()));
  }
  return outcome;
}

// True when no instance the scan found in the old profile directory is still defined with
// that directory as its profile (QZ7INSTPROF), no partitioned one keeps a node service of
// another program, and nothing of this could not be read: an instance whose creation or
// update did not re-point it (some failures of that step are silent) is found by a later run
// only there.
bool NodeServicesRepointed(const SetupContext& context, const char* name);

bool NoInstancePointsAtOldProfile(const SetupContext& context) {
  const InstanceArray& records = context.existingScan->records;
  const std::string old = base::StripQuotes(context.currentProfileDir.c_str());
  for (int32_t i = 0; i < records.count(); ++i) {
    if (records[i].ownedElsewhere) continue;
    char profile[kProfileNameSize] = {};
    const int read =
        host::Host().PRegValuePE(host::kValueRead, 0, "QZ7INSTPROF", profile, sizeof profile,
                                 records[i].name.c_str(), host::kAnyNode);
    if (read == host::kNotFound) continue;
    if (read != 0 || platform::NamesEqualIgnoreCase(profile, old.c_str())) return false;
    if (records[i].nodeType == kNodeTypePartitioned &&
        !NodeServicesRepointed(context, records[i].name.c_str())) {
      return false;
    }
  }
  return true;
}

// True when the service's program is program (quotes and letter case aside), or the service
// is not there; false when it is another or cannot be read.
bool ServiceRunsProgram(const std::string& name, const std::string& program) {
  platform::ScHandle manager =
      platform::OpenSCManagerA(nullptr, nullptr, platform::kScManagerConnect);
  if (manager == nullptr) return false;
  bool same = false;
  platform::ScHandle service =
      platform::OpenServiceA(manager, name.c_str(), platform::kServiceQueryConfig);
  if (service == nullptr) {
    same = platform::GetLastError() == platform::kErrorServiceDoesNotExist;
  } else {
    uint32_t needed = 0;
    // The sizing call fails by design (no buffer); needed tells the size.
    static_cast<void>(platform::QueryServiceConfigA(service, nullptr, 0, &needed));
    if (needed >= sizeof(platform::QueryServiceConfig)) {
      std::vector<unsigned char> buffer(needed);
      auto* config = reinterpret_cast<platform::QueryServiceConfig*>(buffer.data());
      same = platform::QueryServiceConfigA(service, config, needed, &needed) &&
             config->binaryPathName != nullptr &&
             platform::NamesEqualIgnoreCase(base::StripQuotes(config->binaryPathName).c_str(),
                                            program.c_str());
    }
    platform::CloseServiceHandle(service);
  }
  platform::CloseServiceHandle(manager);
  return same;
}

// True when every node service of the partitioned instance runs this installation's program
// (the documented step that points them there ignores its failures).
bool NodeServicesRepointed(const SetupContext& context, const char* name) {
  const std::string nodesKey = std::string("SOFTWARE\\ZAV\\QZ7\\PROFILES\\") + name + "\\NODES";
  platform::RegKey key = nullptr;
  const long opened = platform::RegOpenKeyExA(platform::LocalMachineKey(), nodesKey.c_str(), 0,
                                              platform::kKeyRead, &key);
  if (opened == static_cast<long>(platform::kErrorFileNotFound)) return true;
  if (opened != 0) return false;
  const std::string program = base::StripQuotes(
      base::ExtendPath(context.installDir.c_str(), "\\bin\\qz7syscs.exe").c_str());
  bool repointed = true;
  uint32_t index = 0;
  long status = 0;
  for (; repointed; ++index) {
    char node[kProfileNameSize] = {};
    uint32_t length = sizeof node;
    status = platform::RegEnumKeyExA(key, index, node, &length);
    if (status != 0) break;
    repointed = ServiceRunsProgram(std::string(name) + "-" + node, program);
  }
  platform::RegCloseKey(key);
  return repointed && status == static_cast<long>(platform::kErrorNoMoreItems);
}

// Step 7: database directories an index-file release kept at the root of a fixed drive.
int32_t MigrateDriveDatabaseDirectories(const SetupContext& context, const SetupSteps& steps) {
  char drives[kDriveStringsSize] = {};
  const uint32_t length = platform::GetLogicalDriveStringsA(sizeof drives, drives);
  const InstanceArray& records = context.existingScan->records;
  // Drives that cannot be listed, or a drive whose type cannot be told, may hold a directory
  // still to migrate: the step fails for the instances concerned, so that the index file
  // stays and a later run looks again.
  const auto unknown = [&context](const char* name) {
    Show(context, kDatabaseMigrationFailedMessage, {name, std::to_string(platform::GetLastError())},
         util::kBoxInformation);
    return kSetupStepFailed;
  };
  if (length == 0) {
    for (int32_t i = 0; i < records.count(); ++i) unknown(records[i].name.c_str());
    return records.count() > 0 ? kSetupStepFailed : kSetupOk;
  }
  if (length >= sizeof drives) return kSetupOk;
  int32_t result = kSetupOk;
  for (int32_t i = 0; i < records.count(); ++i) {
    const char* name = records[i].name.c_str();
    for (const char* root = drives; *root != '\0'; root += std::strlen(root) + 1) {
      const uint32_t type = platform::GetDriveTypeA(root);
      if (type == platform::kDriveUnknown) result = unknown(name);
      if (type != platform::kDriveFixed) continue;
      const std::string instanceDir = "\"" + std::string(root) + name + "\"";
      const std::string folder = base::ExtendPath(instanceDir, "\\SQLDBDIR");
      if (!util::FileExistsIn(folder.c_str(), "SQLDBDIR")) {
        // A directory file whose status could not be read may be there: the step failed,
        // so that the index file stays and a later run looks again.
        if (util::IsKnownAbsent(base::ExtendPath(folder, "\\SQLDBDIR").c_str()) == 0) {
          Show(context, kDatabaseMigrationFailedMessage,
               {name, std::to_string(platform::GetLastError())}, util::kBoxInformation);
          result = kSetupStepFailed;
        }
        continue;
      }
      const int code =
          steps.migrateDatabaseDirectory(base::StripQuotes(instanceDir.c_str()).c_str(),
                                         base::StripQuotes(context.installDir.c_str()).c_str());
      if (code != 0 && code != 1) {
        Show(context, kDatabaseMigrationFailedMessage, {name, std::to_string(code)},
             util::kBoxInformation);
        result = kSetupStepFailed;
      }
    }
  }
  return result;
}

// True when the index file in directory lists no instance that is not defined by now (it is
// missing, no index file, or each name it lists is defined); false when it names one that is
// not, or it exists but cannot be read.
bool IndexedInstancesDefined(const base::FixedText<kContextPathSize>& directory) {
  ExistingInstanceScan listed;
  listed.profileDir = base::StripQuotes(directory.c_str()).c_str();
  const std::string path = base::JoinPath(listed.profileDir.c_str(), base::kInstanceIndexFileName);
  platform::FileStatus status;
  if (platform::GetFileStatus(path.c_str(), &status) != 0) {
    return platform::IsMissingError(platform::GetLastError());
  }
  platform::FileHandle probe = platform::OpenFile(path.c_str(), "rb");
  if (!probe) return false;
  probe->Close();
  ReadInstanceDirectoryFile(listed);
  for (int32_t i = 0; i < listed.records.count(); ++i) {
    std::vector<char> name(listed.records[i].name.c_str(),
                           listed.records[i].name.c_str() + listed.records[i].name.size() + 1);
    if (host::Host().PRegProfilePE(host::kProfileIsDefined, name.data(), host::kAnyNode) != 0) {
      return false;
    }
  }
  return true;
}

// Step 3: the old instance index file goes once nothing but it names the instances it lists:
// each of them must be defined in the profile registry by now. Until then a later run finds
// them in it again (and migrates their drive-root database directories). False when it was
// kept for that reason.
bool RemoveInstanceIndexFile(const SetupContext& context) {
  const base::FixedText<kContextPathSize>* directories[] = {&context.requestedProfileDir,
                                                            &context.currentProfileDir};
  for (const auto* directory : directories) {
    if (!directory->empty() && !IndexedInstancesDefined(*directory)) return false;
  }
  for (const auto* directory : directories) {
    if (!directory->empty()) upgrade::DeleteMatchingFiles("qz7idir", directory->c_str());
  }
  return true;
}

// Step 11: every defined instance gets the new configuration and directory layouts, except
// one whose move is incomplete, or one that the run could not make partitioned as asked
// (counted as failures: a later run upgrades them).
int32_t UpgradeDefinedInstances(const SetupContext& context, const SetupSteps& steps,
                                const std::vector<std::string>& notUpgraded) {
  const std::string adminName = UpgradeAdminServerName(context, CreateStep::kCreateDone);
  const upgrade::MessageTarget messages = MessagesOf(context);
  int32_t result = kSetupOk;
  char name[kProfileNameSize] = {};
  int listed = 0;
  for (int op = host::kProfileFirst;
       (listed = host::Host().PRegProfilePE(op, name, host::kAnyNode)) == 0;
       op = host::kProfileNext) {
    // An incomplete move fails the run even when nothing reached the target.
    bool moved = true;
    for (const std::string& other : notUpgraded)
      moved &= !platform::NamesEqualIgnoreCase(name, other.c_str());
    if (!moved) {
      result = kSetupStepFailed;
      continue;
    }
    const std::string instanceDir = Below(context.targetProfileDir, name);
    if (!util::IsDirectory(instanceDir.c_str())) continue;
    int unreadable = 0;
    const char* templateFile =
        UpgradeTemplateFor(context, name, adminName, CreateStep::kCreateDone, &unreadable);
    if (templateFile == nullptr) {
      upgrade::ReportInstanceNotUpgraded(messages, instanceDir.c_str(), unreadable);
      result = kSetupStepFailed;
      continue;
    }
    ReportSetupProgress(SetupStage::kUpgrade, name, true);
    const int configured = steps.upgradeConfiguration(messages, instanceDir.c_str(), templateFile);
    const int migrated =
        steps.upgradeDirectories(instanceDir.c_str(), context.installDir.c_str(), messages);
    if (configured != 0 || migrated != 0) result = kSetupStepFailed;
    ReportSetupProgress(SetupStage::kUpgrade, name, false, configured != 0 ? configured : migrated);
  }
  // A list that ended on an error, not at its end, left instances not upgraded: the step
  // failed, so that the run does not end as if they had been.
  if (listed != host::kEndOfList && listed != host::kNotFound) result = kSetupStepFailed;
  return result;
}

}  // namespace

int32_t RunInstanceSetup(SetupContext& context, const SetupSteps& steps) {
  int32_t result = kSetupOk;
  auto fail = [&result](int32_t code) {
    if (code != kSetupOk) result = kSetupStepFailed;
  };

  // A record lost to a list that cannot grow is flagged in the context and fails the run.
  static_cast<void>(ChooseDefaultInstance(context));
  // A discovery that could not read what it reads may have missed instances, or know them
  // wrongly: set up over it, the run would leave them as they are, or set them up as what
  // they are not, and could end as if there had been nothing to do.
  if (DiscoveryUnreadable(context) ||
      PointRegistry(host::kProfileSetInstall, context.installDir.c_str()) != 0 ||
      PointRegistry(host::kProfileSetInstanceDir, context.targetProfileDir.c_str()) != 0) {
    result = kSetupRegistryUnreachable;
  } else {
    // The index file (step 3) is removed after the instances are defined and the default is
    // recorded, below: removed first, a run stopped before then would lose the instances.
    const bool scanned = context.existingScan != nullptr;
    if (scanned) DropUnwantedAdminServer(context);
    if (scanned && context.partitionedMarkerFile.empty()) DeregisterServices(context);
    std::vector<std::string> notUpgraded;
    bool removeOldProfile = false;
    if (scanned &&
        std::strcmp(context.currentProfileDir.c_str(), context.targetProfileDir.c_str()) != 0) {
      MoveOutcome moved = MoveInstanceDirectories(context);
      notUpgraded = std::move(moved.incomplete);
      removeOldProfile = moved.emptiedOldProfile;
    }
    // A drive-root database directory whose migration failed, or that could not be looked
    // for, keeps the index file: only through it does a later run come back to the drive roots
    // and finish the migration from its backup.
    bool driveRootsPending = false;
    if (scanned && context.existingScan->priorRelease == kPriorReleaseIndexFile) {
      driveRootsPending = MigrateDriveDatabaseDirectories(context, steps) != kSetupOk;
      fail(driveRootsPending ? kSetupStepFailed : kSetupOk);
    }
    for (int32_t i = 0; i < context.records.count(); ++i) {
      const char* name = context.records[i].name.c_str();
      ReportSetupProgress(SetupStage::kCreateOrUpdate, name, true);
      bool untouched = false;
      const int created = steps.createOrUpdate(context, i, i == context.adminIndex, &untouched);
      ReportSetupProgress(SetupStage::kCreateOrUpdate, name, false, created, untouched);
      fail(created);
      // An instance that could not be made partitioned as asked is not upgraded into the
      // ordinary template either: the run that makes it partitioned converts its file from
      // what it is now, and values the ordinary conversion normalises would not come back.
      const InstanceRecord& record = context.records[i];
      if (created != 0 && record.nodeType == kNodeTypePartitioned && !record.ownedElsewhere &&
          i != context.adminIndex) {
        notUpgraded.push_back(name);
      }
    }
    if (context.defaultIndex >= 0) {
      WriteGlobalVariable(host::kVarDefaultInstance,
                          context.records[context.defaultIndex].name.c_str());
    }
    // The index file goes once the profile registry holds every instance it lists, whatever
    // else failed in the run or fails after this: a later run finds them in the registry. What
    // it stands for (moved and migrated directories, created instances) is on the disk before
    // it goes. When it stays, the run has failed.
    if (driveRootsPending || !host::FlushProfileRegistry() || platform::SyncFileSystem() != 0 ||
        !RemoveInstanceIndexFile(context)) {
      result = kSetupStepFailed;
    }
    fail(UpgradeDefinedInstances(context, steps, notUpgraded));
    // An instance that could not even be listed was not set up.
    if (context.listGrowthFailed) result = kSetupStepFailed;
    // What the call changed is on the disk before it reports success, the registry with it:
    // the emptied old profile directory goes only once the instances point away from it durably.
    if (!host::FlushProfileRegistry() || platform::SyncFileSystem() != 0) result = kSetupStepFailed;
    // The emptied old profile directory goes last, and only after a run in which every step
    // succeeded, once every instance that lived there has been re-pointed and the index file
    // is gone. A run stopped or failed before then finds the instances there again and
    // finishes them (one that failed keeps the directory, empty, for the run that repeats
    // it). It is the call's last change: after it nothing is left to do. Not synced: should
    // it come back after a power cut, it is empty, and the next run removes it.
    if (removeOldProfile && result == kSetupOk && NoInstancePointsAtOldProfile(context)) {
      upgrade::RemoveEmptiedFolders(context.currentProfileDir.c_str());
    }
  }

  if (result != kSetupOk && result != kSetupStepFailed) {
    Show(context, kSetupEndedMessage, {std::to_string(result)}, util::kBoxStop);
  }
  return result;
}

}  // namespace qz7::entry
