// Migration of an instance's system database directory (SQLDBDIR\SQLDBDIR with its copy
// SQLDBBAK and intention file SQLDBINS) from an earlier layout to the current one, with a
// crash-safe backup: SQLDDDIR.TMP holds the old files while a conversion is unfinished and
// becomes SQLDDDIR.BAK once it has completed. A run that was interrupted is repaired from
// SQLDDDIR.TMP at the start of the next run and the conversion is done again.
#ifndef QZ7_MIGRATE_DATABASE_DIRECTORY_MIGRATION_H_
#define QZ7_MIGRATE_DATABASE_DIRECTORY_MIGRATION_H_

#include "migrate/migration_report.h"
#include "platform/file_system.h"

namespace qz7::migrate {

// The names of the files that a database directory migration works on.
constexpr const char* kDatabaseMigrationErrorFileName = "QZ7MGDBD.ERR";
constexpr const char* kMigrationMessageFileSubpath = "\\msg\\prime\\QZ7DBMIG.TXT";
constexpr const char* kMigrationMessageFileObject = "qz7dbmig.txt";
constexpr const char* kDirectoryFolderName = "SQLDBDIR";
constexpr const char* kDirectoryFileName = "SQLDBDIR";
constexpr const char* kDirectoryCopyName = "SQLDBBAK";
constexpr const char* kIntentionFileName = "SQLDBINS";
constexpr const char* kMigrationBackupName = "SQLDDDIR.TMP";
constexpr const char* kPermanentBackupName = "SQLDDDIR.BAK";
// The migration backup is written under this name and renamed to SQLDDDIR.TMP only once it
// is complete, so a run stopped while writing it never leaves a backup that cannot be
// restored from (a stale file of this name is simply written again by the next run).
constexpr const char* kStagedBackupName = "SQLDDDIR.NEW";

// The converter of one earlier layout (see directory_entry_conversion.h for the contract).
using ShortHeaderDirectoryConverter =
    MigrationResult (*)(bool directoryExists, bool copyExists, int shortHeader,
                        const char* directoryPath, const char* copyPath, const char* intentionPath,
                        char* key, char* object, platform::FileStream* errorFile);
using LongHeaderDirectoryConverter = MigrationResult (*)(
    bool directoryExists, bool copyExists, const char* directoryPath, const char* copyPath,
    const char* intentionPath, char* key, char* object, platform::FileStream* errorFile);

// The converters the driver hands a recognised directory to, by layout.
struct DirectoryConverters {
  ShortHeaderDirectoryConverter type1 = nullptr;
  ShortHeaderDirectoryConverter type2 = nullptr;
  ShortHeaderDirectoryConverter type3 = nullptr;
  LongHeaderDirectoryConverter type4 = nullptr;
};

// Migrates the system database directory below instanceDir, loading the message texts from
// below installDir; both are Windows paths without a trailing backslash. Every failure is
// written as an error record to instanceDir\QZ7MGDBD.ERR (created, or truncated, by each run).
//
// Returns 0 when the directory was converted, already had the current layout, or does not
// exist; -104 when the message text file is missing; -124 when the error file cannot be
// created while there is a directory to migrate; otherwise the code of the step that stopped
// the run (a converter's own code included). A layout whose converter is null is refused as
// unrecognisable (-102). -103 without touching anything when a path would not fit its buffer.
//
// On disk: after success the directory file, its copy and the intention file are in the
// current layout and SQLDDDIR.BAK (status "C") holds the old ones; an empty old directory is
// rebuilt empty in the current layout and its SQLDDDIR.TMP stays (status "I"). After a failure
// the files stay as they were left and SQLDDDIR.TMP, once made, stays, so that the next run
// restores the directory from it and converts again.
[[nodiscard]] MigrationResult MigrateDatabaseDirectory(const char* instanceDir,
                                                       const char* installDir,
                                                       const DirectoryConverters& converters);

// The same with the converters of the four earlier layouts (directory_entry_conversion.h).
[[nodiscard]] MigrationResult MigrateDatabaseDirectory(const char* instanceDir,
                                                       const char* installDir);

}  // namespace qz7::migrate

#endif  // QZ7_MIGRATE_DATABASE_DIRECTORY_MIGRATION_H_
