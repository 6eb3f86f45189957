// Completing a converted directory entry of a database that lives on this machine from the
// database's own files. An entry of type "0" is found through the local database directory of
// its drive (PATH\SQLDBDIR\SQLDBDIR, or its copy SQLDBBAK), which must already have the
// current layout, and takes its database block from the matching local entry. Any other entry
// (the converters pass only type "2") reads the database's configuration file
// INSTANCE\SUBDIR\SQLDBCON and takes the code page, territory and database block from it.
// Nothing is written to the error or report files here; the converters report the codes.
#ifndef QZ7_MIGRATE_LOCAL_DATABASE_CHECK_H_
#define QZ7_MIGRATE_LOCAL_DATABASE_CHECK_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "migrate/converted_entry.h"
#include "migrate/migration_report.h"

namespace qz7::migrate {

// Paths of a local database's files are held in buffers of this size (88 characters); a path
// that would not fit is not opened.
constexpr size_t kLocalPathSize = 89;

// The part of a database configuration file that is read, and the fields used from it.
constexpr size_t kDatabaseConfigurationReadSize = 2048;
constexpr const char* kDatabaseConfigurationName = "SQLDBCON";
constexpr size_t kConfigChecksumOffset = 0;  // sum of the bytes from offset 4 to the end
constexpr size_t kConfigReleaseOffset = 16;
constexpr size_t kConfigTerritoryOffset = 74;
constexpr size_t kConfigCodePageOffset = 76;
constexpr size_t kConfigBlockOffset = 600;  // 256 bytes
constexpr size_t kConfigField884Offset = 884;
constexpr size_t kConfigField888Offset = 888;
constexpr size_t kConfigField1164Offset = 1164;
constexpr uint16_t kConfigRelease0400 = 0x0400;
constexpr uint16_t kConfigRelease0500 = 0x0500;
constexpr uint16_t kConfigRelease0600 = 0x0600;

// True for the releases a database configuration file may carry (0x0400, 0x0500, 0x0600).
[[nodiscard]] bool IsKnownConfigurationRelease(uint16_t release);

// The value the check stores at offset 656 of a converted entry (base::kEntryInfoLengthOffset)
// for the configuration file whose first size bytes are config: base::kEntryInfoLengthDefault
// for releases 0x0400 and 0x0500, else the 32-bit field at kConfigField1164Offset. False when
// size does not reach the field the release needs.
[[nodiscard]] bool EntryInfoLength(const unsigned char* config, size_t size, uint32_t* value);

// Completes entry, or tells why it cannot be. pathBuffer (pathSize bytes) holds the prefix, the
// instance directory with its trailing backslash; for an entry of type other than "0" the
// configuration file's name is appended to it. object (objectSize bytes, cleared by the
// caller) receives the path of the file that failed; it stays empty for -112 and -113.
// Returns 0, a code of ReadDatabaseConfiguration or FindInLocalDirectory, -112 (code page not
// in the code-set table) or -113 (territory not in the territory table). The entry keeps
// whatever was filled before a failure.
[[nodiscard]] MigrationResult LocalDatabaseCheck(ConvertedEntry* entry, char* pathBuffer,
                                                 size_t pathSize, char* object, size_t objectSize);

struct LocalDirectoryContents;

// The local database directories one conversion has read, by the path of their directory
// file: each is read and checked once, and every later lookup in it is answered from what
// that read found (its failure, or the first entry of each name). A conversion keeps one for
// its whole run; the directories are only read, and one that is the very directory being
// converted answers every lookup as its first read found it.
class LocalDirectoryCache {
 public:
  LocalDirectoryCache();
  ~LocalDirectoryCache();
  LocalDirectoryCache(const LocalDirectoryCache&) = delete;
  LocalDirectoryCache& operator=(const LocalDirectoryCache&) = delete;

  // The contents of the directory file at directoryPath (or its copy at copyPath), read now
  // when they were not read before.
  const LocalDirectoryContents& Contents(const std::string& directoryPath,
                                         const std::string& copyPath);

 private:
  std::unordered_map<std::string, std::unique_ptr<LocalDirectoryContents>> byPath_;
};

// LocalDatabaseCheck with the local database directories taken from cache.
[[nodiscard]] MigrationResult LocalDatabaseCheck(ConvertedEntry* entry, char* pathBuffer,
                                                 size_t pathSize, char* object, size_t objectSize,
                                                 LocalDirectoryCache* cache);

// Reads the first 2048 bytes of the configuration file at path into buffer (zero beyond the
// end of a shorter file) and checks its release (0x0400, 0x0500 or 0x0600) and its checksum,
// which covers the whole file even past 2048 bytes. Returns 0; -110 when the file cannot be
// opened, sized (an empty file included) or read; -111 for an unknown release or a wrong
// checksum; -104 when only the close failed.
[[nodiscard]] MigrationResult ReadDatabaseConfiguration(
    const char* path, unsigned char (&buffer)[kDatabaseConfigurationReadSize]);

// Completes an entry of type "0" from the local database directory below its path (offset 38).
// Returns 0; -114 (neither the directory file nor its copy can be opened), -115 (read error),
// -116 (the database name at offset 9 is not catalogued there), -117 (not the current layout),
// -118 (entries are not of 720 bytes), or -101/-104/-119/-121 from comparing the directory
// file with its copy. On failure object names the file (both joined by " and " when they
// differ). Only reads.
[[nodiscard]] MigrationResult FindInLocalDirectory(ConvertedEntry* entry, char* object,
                                                   size_t objectSize);
[[nodiscard]] MigrationResult FindInLocalDirectory(ConvertedEntry* entry, char* object,
                                                   size_t objectSize, LocalDirectoryCache* cache);

}  // namespace qz7::migrate

#endif  // QZ7_MIGRATE_LOCAL_DATABASE_CHECK_H_
