// The directory migrations an instance upgrade runs unless a test puts others in place.
#include "migrate/database_directory_migration.h"
#include "migrate/node_directory_migration.h"
#include "upgrade/instance_upgrade.h"

namespace qz7::upgrade {

const DirectoryMigrations& DefaultDirectoryMigrations() {
  static constexpr DirectoryMigrations kMigrations = {
      [](const char* instanceDir, const char* installDir) {
        return migrate::MigrateDatabaseDirectory(instanceDir, installDir);
      },
      [](const char* instanceDir) { return migrate::MigrateNodeDirectory(instanceDir); },
  };
  return kMigrations;
}

}  // namespace qz7::upgrade
