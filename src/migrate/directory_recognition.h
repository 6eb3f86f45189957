// Reading the files of a system database directory before it is migrated: whether the
// directory file and its copy agree, and which layout a directory file has.
#ifndef QZ7_MIGRATE_DIRECTORY_RECOGNITION_H_
#define QZ7_MIGRATE_DIRECTORY_RECOGNITION_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/directory_layout.h"
#include "base/fixed_text.h"
#include "migrate/migration_report.h"

namespace qz7::migrate {

struct DirectoryCopiesComparison {
  bool directoryExists = false;
  bool copyExists = false;
  int64_t sizeToConvert = 0;  // of the directory file when it exists, else of the copy
  base::FixedText<kMigrationObjectSize> object;  // names what failed
};

// Reads the directory file and its copy (opened "rb+") and compares them. Returns 0, or
// when the directory file exists: -121 (size not found), -119 (no buffer), -105 (read),
// -104 (close), with the failing file's path as object; -101 when both exist and differ,
// object "DIR and COPY". Neither existing gives object "DIR and COPY" but returns 0, as does
// any failure when the directory file does not exist. Changes nothing on disk.
//
// Only the file to convert (the directory file, or the copy when there is no directory file)
// is held whole; the other is compared with it piece by piece. When sourceBytes is given and
// the result is 0 with either file existing, it receives those sizeToConvert bytes, so that a
// migration reads its directory file once for the comparison, the backup and the conversion.
[[nodiscard]] MigrationResult CompareDirectoryCopies(
    const char* directoryPath, const char* copyPath, DirectoryCopiesComparison* comparison,
    std::unique_ptr<unsigned char[]>* sourceBytes = nullptr);

struct DirectoryRecognition {
  base::DirectoryLayoutType type = base::DirectoryLayoutType::kUnrecognised;
  bool shortHeader = false;        // types 1 to 3 found under the short header
  bool intentionOptional = false;  // types 1 to 4 whose first entry is not of type "2"
};

// Tells the layout of one directory file (opened "rb+", only read) from its header and size.
// Returns 0, -103 (cannot be opened), -121 (size or position not found), -119 (no buffer),
// -105 (read error), -104 (close failed).
[[nodiscard]] MigrationResult RecogniseDirectoryFile(const char* path,
                                                     DirectoryRecognition* recognition);

}  // namespace qz7::migrate

#endif  // QZ7_MIGRATE_DIRECTORY_RECOGNITION_H_
