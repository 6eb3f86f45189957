// The operations the set-up driver runs unless a test puts others in place: creation and
// update of each instance, the database directory migration and the instance upgrade.
#include <vector>

#include "entry/instance_setup.h"
#include "migrate/database_directory_migration.h"
#include "provision/instance_update.h"
#include "upgrade/instance_upgrade.h"

namespace qz7::entry {
namespace {

// The provisioning layer sees the run and the record through its own small types.
provision::InstanceRequest RequestOf(const InstanceRecord& record) {
  provision::InstanceRequest request;
  request.name = record.name.c_str();
  request.account = record.account.c_str();
  request.password = record.password.c_str();
  request.nodeType = record.nodeType;
  request.ownedElsewhere = record.ownedElsewhere;
  request.profileDir = record.profileDir.c_str();
  request.portRangeStart = record.portRangeStart.c_str();
  request.portRangeEnd = record.portRangeEnd.c_str();
  request.hostName = record.hostName.c_str();
  request.nodeNumber = record.nodeNumber.c_str();
  request.ownerComputer = record.ownerComputer.c_str();
  return request;
}

int CreateOrUpdate(const SetupContext& context, int32_t index, bool isAdminServer,
                   bool* untouched) {
  std::vector<provision::ExistingInstance> existing;
  if (context.existingScan != nullptr) {
    const InstanceArray& found = context.existingScan->records;
    for (int32_t i = 0; i < found.count(); ++i) {
      provision::ExistingInstance instance;
      instance.name = found[i].name.c_str();
      instance.nodeType = found[i].nodeType;
      existing.push_back(instance);
    }
  }
  provision::ProvisionContext run;
  run.currentProfileDir = context.currentProfileDir.c_str();
  run.requestedProfileDir = context.requestedProfileDir.c_str();
  run.targetProfileDir = context.targetProfileDir.c_str();
  run.installDir = context.installDir.c_str();
  run.serverType = context.serverType;
  run.existingInstances = existing;
  run.logFile = context.logFile;
  run.messageModule = context.messageModule;
  run.ownerWindow = context.ownerWindow;
  return provision::CreateOrUpdateInstance(run, RequestOf(context.records[index]), isAdminServer,
                                           untouched);
}

}  // namespace

const SetupSteps& DefaultSetupSteps() {
  static const SetupSteps kSteps = {
      CreateOrUpdate,
      [](const char* instanceDir, const char* installDir) {
        return migrate::MigrateDatabaseDirectory(instanceDir, installDir);
      },
      upgrade::UpgradeInstanceConfiguration,
      [](const char* instanceDir, const char* installDir, const upgrade::MessageTarget& messages) {
        return upgrade::UpgradeInstanceDirectories(instanceDir, installDir, messages);
      },
  };
  return kSteps;
}

}  // namespace qz7::entry
