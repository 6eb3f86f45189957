// qz7inst migrate-dbdir INSTANCE_DIR INSTALL_DIR and migrate-nodedir INSTANCE_DIR: the two
// directory migrations of one instance, as the instance upgrade runs them. Failures are
// written to the instance directory's error file (QZ7MGDBD.ERR, QZ7MGNDD.ERR); the command
// prints where to look when the result is not 0.
#include <string>

#include "migrate/database_directory_migration.h"
#include "migrate/node_directory_migration.h"
#include "tools/qz7inst/command.h"

namespace qz7::cli {
namespace {

int RunMigrateDatabaseDirectory(Invocation& invocation);
int RunMigrateNodeDirectory(Invocation& invocation);

const Command kMigrateDatabaseDirectory = {
    "migrate-dbdir", "migrate-dbdir INSTANCE_DIR INSTALL_DIR",
    "migrate the system database directory below INSTANCE_DIR to the current layout",
    RunMigrateDatabaseDirectory};
const Command kMigrateNodeDirectory = {
    "migrate-nodedir", "migrate-nodedir INSTANCE_DIR",
    "migrate the node directory below INSTANCE_DIR to the current layout", RunMigrateNodeDirectory};

void PointAtErrorFile(Invocation& invocation, int result, const std::string& instanceDir,
                      const char* errorFile) {
  if (result == 0) return;
  std::fprintf(invocation.out, "error records: %s\\%s\n", instanceDir.c_str(), errorFile);
}

int RunMigrateDatabaseDirectory(Invocation& invocation) {
  if (invocation.args.size() != 2) {
    return UsageError(invocation, kMigrateDatabaseDirectory,
                      "migrate-dbdir needs INSTANCE_DIR and INSTALL_DIR");
  }
  const std::string& instanceDir = invocation.args[0];
  const int result =
      migrate::MigrateDatabaseDirectory(instanceDir.c_str(), invocation.args[1].c_str());
  PointAtErrorFile(invocation, result, instanceDir, migrate::kDatabaseMigrationErrorFileName);
  return FinishWithResult(invocation, result);
}

int RunMigrateNodeDirectory(Invocation& invocation) {
  if (invocation.args.size() != 1) {
    return UsageError(invocation, kMigrateNodeDirectory, "migrate-nodedir needs INSTANCE_DIR");
  }
  const std::string& instanceDir = invocation.args[0];
  const int result = migrate::MigrateNodeDirectory(instanceDir.c_str());
  PointAtErrorFile(invocation, result, instanceDir, base::kNodeMigrationErrorFileName);
  return FinishWithResult(invocation, result);
}

QZ7_COMMAND(kMigrateDatabaseDirectory);
QZ7_COMMAND(kMigrateNodeDirectory);

}  // namespace
}  // namespace qz7::cli
