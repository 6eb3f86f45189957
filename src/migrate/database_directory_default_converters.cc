// The database directory migration with the converters of the four earlier layouts. Kept apart
// from the driver so that the driver can be exercised with converters of a test's choosing.
#include "migrate/database_directory_migration.h"
#include "migrate/directory_entry_conversion.h"

namespace qz7::migrate {

[[nodiscard]] MigrationResult MigrateDatabaseDirectory(const char* instanceDir,
                                                       const char* installDir) {
  DirectoryConverters converters;
  converters.type1 = ConvertDirectoryType1;
  converters.type2 = ConvertDirectoryType2;
  converters.type3 = ConvertDirectoryType3;
  converters.type4 = ConvertDirectoryType4;
  return MigrateDatabaseDirectory(instanceDir, installDir, converters);
}

}  // namespace qz7::migrate
