// The set-up driver behind createInstances: brings the computer to the state the context
// asks for — registry pointed at the installation, unwanted instances and services removed,
// instance directories moved, old database directories migrated, every listed instance
// created or updated, the default instance recorded and every instance upgraded.
#ifndef QZ7_ENTRY_INSTANCE_SETUP_H_
#define QZ7_ENTRY_INSTANCE_SETUP_H_

#include <cstdint>

#include "entry/setup_context.h"
#include "upgrade/instance_upgrade.h"

namespace qz7::entry {

constexpr int32_t kSetupOk = 0;
constexpr int32_t kSetupStepFailed = 1;
constexpr int32_t kSetupRegistryUnreachable = -9;

constexpr unsigned kSetupEndedMessage = 3608;
constexpr unsigned kDatabaseMigrationFailedMessage = 3616;

// The operations of other layers the driver runs; tests put their own in place.
struct SetupSteps {
  // Creates or updates the record at index; non-zero is a failure. *untouched: the result is
  // 0 but the record was left as it was (its configuration could not be saved first).
  int (*createOrUpdate)(const SetupContext& context, int32_t index, bool isAdminServer,
                        bool* untouched);
  // Migrates the database directory below instanceDir; 0 and 1 are success.
  int (*migrateDatabaseDirectory)(const char* instanceDir, const char* installDir);
  int (*upgradeConfiguration)(const upgrade::MessageTarget& messages, const char* instanceDir,
                              const char* templateFile);
  int (*upgradeDirectories)(const char* instanceDir, const char* installDir,
                            const upgrade::MessageTarget& messages);
};
const SetupSteps& DefaultSetupSteps();

// Runs the whole set-up in order, except that the old instance index file is removed only
// after every instance has been created or updated and the default recorded: then, once each
// instance it lists is defined in the profile registry and on the disk, whatever else failed,
// unless a database directory at a drive root could not be migrated (else it stays for the
// next run, and the result is 1). An instance whose directory could not be
// moved completely is shown as not upgraded (3608 with the failed copy's code, 3573 with its name)
// and skipped by the upgrade. Returns 0; 1 when at least one instance, migration or upgrade failed
// (the run goes on with the next item); -9 when the profile registry could not be pointed at the
// installation or the target directory (nothing else is then done). A result other than 0 and 1 is
// shown as message 3608. Changes the context's list (a default instance "QZ7" is added when no
// other would be set up) and its default index.
[[nodiscard]] int32_t RunInstanceSetup(SetupContext& context,
                                       const SetupSteps& steps = DefaultSetupSteps());

}  // namespace qz7::entry

#endif  // QZ7_ENTRY_INSTANCE_SETUP_H_
