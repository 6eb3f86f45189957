// Migration of an instance's node directory (SQLNODIR\SQLNODIR with its copy SQLNOBAK) from
// an earlier entry layout to the current one, with a crash-safe backup: SQLNDDIR.TMP holds
// the old directory while a conversion is unfinished and becomes SQLNDDIR.BAK once it has
// completed. A run that was interrupted is repaired from SQLNDDIR.TMP at the start of the
// next run and the conversion is done again.
#ifndef QZ7_MIGRATE_NODE_DIRECTORY_MIGRATION_H_
#define QZ7_MIGRATE_NODE_DIRECTORY_MIGRATION_H_

#include <cstdint>
#include <memory>

#include "base/fixed_text.h"
#include "base/node_directory_layout.h"
#include "migrate/migration_report.h"

namespace qz7::migrate {

struct NodeDirectoryComparison {
  bool fileExists = false;
  bool copyExists = false;
  uint32_t size = 0;                             // of the file when it exists, else of the copy
  base::FixedText<kMigrationObjectSize> object;  // names what failed
};

// Reads the node directory file and its copy (opened "rb+", only read) and compares them.
// Returns 0, -103 when neither exists and -101 when both exist and differ (object
// "FILE and COPY"), or for the file or copy that failed: -121 (its size cannot be found),
// -131 (no buffer; empty object), -105 (read), -104 (close), with that file's path as
// object. Changes nothing on disk. Only the file to convert (the file, or the copy when there
// is no file) is held whole; when bytes is given and the result is 0, it receives those size
// bytes, so that a migration reads the directory once for the comparison, the backup and the
// conversion.
[[nodiscard]] MigrationResult CompareNodeDirectoryCopies(
    const char* filePath, const char* copyPath, NodeDirectoryComparison* comparison,
    std::unique_ptr<unsigned char[]>* bytes = nullptr);

// Tells the layout of one node directory file from its size and entry count: 97 when the
// entries are 616 bytes (or the entry area is a whole multiple of 616 bytes), 98 when there
// are no entries, 1 to 5 by the entry size of an earlier layout, 99 otherwise. Returns 0, or
// -105 when the file cannot be opened, positioned or read.
[[nodiscard]] MigrationResult RecogniseNodeDirectoryFile(const char* path,
                                                         base::NodeDirectoryLayoutType* type);

// Migrates the node directory below instanceDir (a Windows path without a trailing
// backslash). Every failure is written as an error record to instanceDir\QZ7MGNDD.ERR,
// created (or truncated) by each run.
//
// Returns 0 when the directory was converted or already had the current layout; -124 at
// once when the error file cannot be created; -103 when neither the file nor the copy
// exists (or the instance directory is too long for the paths); -107 when SQLNDDIR.TMP has
// no valid header (nothing is touched); -125 when the backup cannot be renamed; -104 when a
// close on the way out failed; otherwise the code of the step that stopped the run.
//
// On disk: after success the file and its copy hold the current layout and SQLNDDIR.BAK
// (status "C") the old directory; an older SQLNDDIR.BAK is replaced. The backup is written
// as SQLNDDIR.NEW and renamed to SQLNDDIR.TMP when it is whole, so an existing SQLNDDIR.TMP
// always holds the complete old directory; after a failure it stays for the next run.
[[nodiscard]] MigrationResult MigrateNodeDirectory(const char* instanceDir);

}  // namespace qz7::migrate

#endif  // QZ7_MIGRATE_NODE_DIRECTORY_MIGRATION_H_
