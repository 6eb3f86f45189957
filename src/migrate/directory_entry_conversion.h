// The converters that rewrite a system database directory of one of the four earlier layouts
// into the current layout: 32-byte header, 176-byte hash block, 720-byte entries, the slot
// area and the closing 32-bit value, plus a 540-byte intention file.
//
// Contract shared by all four. The migration driver calls the converter of the layout that
// RecogniseDirectoryFile found, after it has saved the directory in its migration backup, so
// a converter may leave its files half-written on failure: the next run restores them.
//   directoryExists, copyExists  whether SQLDBDIR and SQLDBBAK exist. When the directory file
//                                exists it is the source and the copy the target; otherwise
//                                the copy is the source and the directory file the target.
//                                Both end identical on success.
//   shortHeader                  (layouts 1 to 3) 1 when the old file has the 30-byte header.
//   directoryPath, copyPath, intentionPath
//                                Windows paths of SQLDBDIR, SQLDBBAK and SQLDBINS.
//   key, object                  on failure: the message key of the failing step (at least
//                                kMigrationKeySize bytes) and the object it names (at least
//                                kMigrationObjectSize bytes); the driver writes the record.
//   errorFile                    the run's error file, or null; records that do not stop the
//                                conversion (local database reports, path resolution,
//                                clean-up closes) are written here by the converter itself.
// Returns 0 or a MigrationResult failure code. Every file it opened is closed on return.
#ifndef QZ7_MIGRATE_DIRECTORY_ENTRY_CONVERSION_H_
#define QZ7_MIGRATE_DIRECTORY_ENTRY_CONVERSION_H_

#include <cstddef>
#include <memory>

#include "base/directory_layout.h"
#include "migrate/migration_report.h"
#include "platform/file_system.h"

namespace qz7::migrate {

[[nodiscard]] MigrationResult ConvertDirectoryType1(bool directoryExists, bool copyExists,
                                                    int shortHeader, const char* directoryPath,
                                                    const char* copyPath, const char* intentionPath,
                                                    char* key, char* object,
                                                    platform::FileStream* errorFile);
[[nodiscard]] MigrationResult ConvertDirectoryType2(bool directoryExists, bool copyExists,
                                                    int shortHeader, const char* directoryPath,
                                                    const char* copyPath, const char* intentionPath,
                                                    char* key, char* object,
                                                    platform::FileStream* errorFile);
[[nodiscard]] MigrationResult ConvertDirectoryType3(bool directoryExists, bool copyExists,
                                                    int shortHeader, const char* directoryPath,
                                                    const char* copyPath, const char* intentionPath,
                                                    char* key, char* object,
                                                    platform::FileStream* errorFile);
// Layout 4 exists only with the long header, so it takes no short-header flag.
[[nodiscard]] MigrationResult ConvertDirectoryType4(bool directoryExists, bool copyExists,
                                                    const char* directoryPath, const char* copyPath,
                                                    const char* intentionPath, char* key,
                                                    char* object, platform::FileStream* errorFile);

// The conversion of one of the four layouts with the source's bytes already in memory (the
// sourceSize bytes of the directory file, or of the copy when the directory file does not
// exist): the source file is neither opened nor read, everything else is as above. The bytes
// are let go of (sourceBytes reset) once the entries are converted, so that they and the
// converted directory are not held at once. The migration driver hands in the bytes it read
// for the comparison and the backup.
[[nodiscard]] MigrationResult ConvertDirectoryBytes(base::DirectoryLayoutType layout,
                                                    bool directoryExists, int shortHeader,
                                                    const char* directoryPath, const char* copyPath,
                                                    const char* intentionPath,
                                                    std::unique_ptr<unsigned char[]>& sourceBytes,
                                                    size_t sourceSize, char* key, char* object,
                                                    platform::FileStream* errorFile);

}  // namespace qz7::migrate

#endif  // QZ7_MIGRATE_DIRECTORY_ENTRY_CONVERSION_H_
