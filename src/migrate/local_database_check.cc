#include "migrate/local_database_check.h"

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "base/coding.h"
#include "base/directory_layout.h"
#include "base/fixed_text.h"
#include "migrate/code_set_tables.h"
#include "migrate/database_directory_migration.h"
#include "migrate/directory_recognition.h"
#include "platform/file_system.h"

namespace qz7::migrate {
namespace {

using base::LoadLE16;
using base::LoadLE32;
using base::StoreLE32;
using platform::FileHandle;
using platform::OpenFile;

// How an entry of type "2" is filled from its configuration file, in the order the fields are
// written: the code page at 352 is written after the text at 344 and covers its zero.
enum class ConfigRule : uint8_t {
  kZero,         // width zero bytes
  kText,         // the text with its terminating zero
  kCodePage32,   // the 16-bit code page widened to 32 bits
  kConfigBytes,  // width bytes from configOffset
  kConstant32,   // the 32-bit value
  kInfoLength,   // 32 for releases 0x0400 and 0x0500, else the 32-bit field at configOffset
};

struct ConfigFieldFill {
  uint16_t entryOffset;
  uint16_t width;
  ConfigRule rule;
  uint16_t configOffset;
  uint32_t value;
  const char* text;
};

constexpr ConfigFieldFill kConfigFills[] = {
    {660, 12, ConfigRule::kZero, 0, 0, nullptr},
    {344, 9, ConfigRule::kText, 0, 0, "SQLDBD02"},
    {352, 4, ConfigRule::kCodePage32, kConfigCodePageOffset, 0, nullptr},
    {652, 2, ConfigRule::kConfigBytes, kConfigField888Offset, 0, nullptr},
    {356, 4, ConfigRule::kConstant32, 0, 0xFFFFFFFFu, nullptr},
    {360, 256, ConfigRule::kConfigBytes, kConfigBlockOffset, 0, nullptr},
    {616, 1, ConfigRule::kZero, 0, 0, nullptr},
    {648, 4, ConfigRule::kConfigBytes, kConfigField884Offset, 0, nullptr},
    {656, 4, ConfigRule::kInfoLength, kConfigField1164Offset, 0, nullptr},
};

void FillFromConfiguration(const unsigned char* config, ConvertedEntry* entry) {
  const uint16_t release = LoadLE16(config + kConfigReleaseOffset);
  for (const ConfigFieldFill& fill : kConfigFills) {
    unsigned char* field = entry->bytes + fill.entryOffset;
    switch (fill.rule) {
      case ConfigRule::kZero:
        std::memset(field, 0, fill.width);
        break;
      case ConfigRule::kText:
        std::memset(field, 0, fill.width);
        std::memcpy(field, fill.text, strnlen(fill.text, fill.width - 1u));
        break;
      case ConfigRule::kCodePage32:
        StoreLE32(field, LoadLE16(config + fill.configOffset));
        break;
      case ConfigRule::kConfigBytes:
        std::memcpy(field, config + fill.configOffset, fill.width);
        break;
      case ConfigRule::kConstant32:
        StoreLE32(field, fill.value);
        break;
      case ConfigRule::kInfoLength:
        StoreLE32(field, release == kConfigRelease0400 || release == kConfigRelease0500
                             ? kEntryInfoLengthDefault
                             : LoadLE32(config + fill.configOffset));
        break;
    }
  }
}

bool IsKnownRelease(uint16_t release) {
  return release == kConfigRelease0400 || release == kConfigRelease0500 ||
         release == kConfigRelease0600;
}

// Appends the parts to buffer (size bytes). False, with the text cut to size - 1, when the
// result does not fit.
bool AppendPath(char* buffer, size_t size, std::initializer_list<const char*> parts) {
  std::string path = buffer;
  for (const char* part : parts) path += part;
  base::CopyBounded(buffer, path.c_str(), size);
  return path.size() < size;
}

// The sum of the bytes of the configuration file from offset 4 on: those already read into
// buffer, then the rest of a file longer than the buffer. False on a read error.
bool ConfigurationChecksum(platform::FileStream& file, const unsigned char* buffer, size_t read,
                           int64_t size, uint32_t* sum) {
  *sum = 0;
  for (size_t i = 4; i < read; ++i) *sum += buffer[i];
  int64_t left = size - static_cast<int64_t>(read);
  unsigned char chunk[4096];
  while (left > 0) {
    const size_t want =
        left > static_cast<int64_t>(sizeof chunk) ? sizeof chunk : static_cast<size_t>(left);
    if (file.Read(chunk, want) != want) return false;
    for (size_t i = 0; i < want; ++i) *sum += chunk[i];
    left -= static_cast<int64_t>(want);
  }
  return true;
}

[[nodiscard]] MigrationResult CheckConfiguration(
    platform::FileStream& file, unsigned char (&buffer)[kDatabaseConfigurationReadSize]) {
  if (file.Seek(0, platform::kSeekEnd) != 0) return kMigrationConfigAccessError;
  const int64_t size = file.Tell();
  if (size <= 0 || file.Seek(0, platform::kSeekSet) != 0) return kMigrationConfigAccessError;
  const size_t want =
      size < static_cast<int64_t>(sizeof buffer) ? static_cast<size_t>(size) : sizeof buffer;
  if (file.Read(buffer, want) != want) return kMigrationConfigAccessError;
  uint32_t sum = 0;
  if (!ConfigurationChecksum(file, buffer, want, size, &sum)) return kMigrationConfigAccessError;
  const bool releaseKnown = IsKnownRelease(LoadLE16(buffer + kConfigReleaseOffset));
  const bool checksumMatches = sum == LoadLE32(buffer + kConfigChecksumOffset);
  return releaseKnown && checksumMatches ? kMigrationOk : kMigrationBadConfig;
}

// The database information of a local entry: bytes 344 to 687.
constexpr size_t kLocalInfoSize = kEntryLocalRangeEnd - kEntryDatabaseInfoOffset;

// A name as strncmp compares it: up to its first zero, at most kEntryNameSize bytes.
std::string NameKey(const unsigned char* field) {
  const char* text = reinterpret_cast<const char*>(field);
  return std::string(text, strnlen(text, kEntryNameSize));
}

}  // namespace

// What reading one local database directory found.
struct LocalDirectoryContents {
  // A failure that every lookup gives. compareFailure: it came from comparing the directory
  // file with its copy, and its object always names the files; otherwise the object names
  // the file read and is given only when the caller's object is still empty.
  MigrationResult failure = kMigrationOk;
  bool compareFailure = false;
  std::string object;
  // The file the entries were read from, and the result for a name not among them: -116,
  // or -115 when a read error stopped the entries early.
  std::string readPath;
  MigrationResult notFound = kMigrationDatabaseNotFound;
  // The first entry of each name, as an index into info (kLocalInfoSize bytes each).
  std::unordered_map<std::string, size_t> firstByName;
  std::vector<unsigned char> info;

  void Read(const std::string& directoryPath, const std::string& copyPath);
  // Everything after the file is open, entry by entry; the result for the whole directory.
  MigrationResult ReadEntries(platform::FileStream& file, int64_t size);
};

MigrationResult LocalDirectoryContents::ReadEntries(platform::FileStream& file, int64_t size) {
  unsigned char header[base::kLongHeaderSize];
  if (file.Read(header, sizeof header) != sizeof header) return kMigrationLocalDirectoryReadError;
  const base::DirectoryHeader fields = base::DecodeDirectoryHeader(header, false);
  if (fields.releaseMarker != base::kCurrentReleaseMarker)
    return kMigrationLocalDirectoryNotCurrent;
  const int64_t rest = size - 2 * static_cast<int64_t>(fields.slotCount) -
                       static_cast<int64_t>(base::kLongFixedSize);
  if (fields.entryCount == 0) {
    return rest == 0 ? kMigrationOk : kMigrationLocalDirectoryUnrecognized;
  }
  if (rest < 0 || rest / fields.entryCount != static_cast<int64_t>(base::kCurrentEntrySize)) {
    return kMigrationLocalDirectoryUnrecognized;
  }
  unsigned char block[base::kLongBlockSize];
  if (file.Read(block, sizeof block) != sizeof block) return kMigrationLocalDirectoryReadError;
  unsigned char local[base::kCurrentEntrySize];
  firstByName.reserve(fields.entryCount);
  for (unsigned i = 0; i < fields.entryCount; ++i) {
    if (file.Read(local, sizeof local) != sizeof local) {
      // The entries read so far still answer the names they hold.
      notFound = kMigrationLocalDirectoryReadError;
      return kMigrationOk;
    }
    const auto [where, added] =
        firstByName.try_emplace(NameKey(local + kEntryCatalogNameOffset), info.size());
    if (added)
      info.insert(info.end(), local + kEntryDatabaseInfoOffset,
                  local + kEntryDatabaseInfoOffset + kLocalInfoSize);
  }
  return kMigrationOk;
}

void LocalDirectoryContents::Read(const std::string& directoryPath, const std::string& copyPath) {
  DirectoryCopiesComparison comparison;
  MigrationResult code =
      CompareDirectoryCopies(directoryPath.c_str(), copyPath.c_str(), &comparison);
  if (code != kMigrationOk) {
    compareFailure = true;
    object = comparison.object.c_str();
    failure = code == kMigrationCannotOpen  ? kMigrationLocalDirectoryOpenError
              : code == kMigrationReadError ? kMigrationLocalDirectoryReadError
                                            : code;
    return;
  }
  readPath = comparison.directoryExists ? directoryPath : copyPath;
  object = readPath;
  FileHandle file = OpenFile(readPath.c_str(), "rb+");
  if (!file) {
    failure = kMigrationLocalDirectoryOpenError;
    return;
  }
  failure = ReadEntries(*file, comparison.sizeToConvert);
  // Only read: a failing close cannot lose anything.
  file->Close();
}

LocalDirectoryCache::LocalDirectoryCache() = default;
LocalDirectoryCache::~LocalDirectoryCache() = default;

const LocalDirectoryContents& LocalDirectoryCache::Contents(const std::string& directoryPath,
                                                            const std::string& copyPath) {
  std::unique_ptr<LocalDirectoryContents>& contents = byPath_[directoryPath];
  if (!contents) {
    contents = std::make_unique<LocalDirectoryContents>();
    contents->Read(directoryPath, copyPath);
  }
  return *contents;
}

[[nodiscard]] MigrationResult ReadDatabaseConfiguration(
    const char* path, unsigned char (&buffer)[kDatabaseConfigurationReadSize]) {
  std::memset(buffer, 0, sizeof buffer);
  FileHandle file = OpenFile(path, "rb");
  if (!file) return kMigrationConfigAccessError;
  const MigrationResult code = CheckConfiguration(*file, buffer);
  if (file->Close() != 0 && code == kMigrationOk) return kMigrationCannotClose;
  return code;
}

MigrationResult FindInLocalDirectory(ConvertedEntry* entry, char* object, size_t objectSize) {
  LocalDirectoryCache once;
  return FindInLocalDirectory(entry, object, objectSize, &once);
}

MigrationResult FindInLocalDirectory(ConvertedEntry* entry, char* object, size_t objectSize,
                                     LocalDirectoryCache* cache) {
  const std::string base =
      entry->Text(kEntryPathOffset, kEntryPathSize) + "\\" + kDirectoryFolderName + "\\";
  char directoryPath[kLocalPathSize] = {};
  char copyPath[kLocalPathSize] = {};
  const bool fits =
      AppendPath(directoryPath, sizeof directoryPath, {base.c_str(), kDirectoryFileName}) &&
      AppendPath(copyPath, sizeof copyPath, {base.c_str(), kDirectoryCopyName});
  if (!fits) {
    base::CopyBounded(object, directoryPath, objectSize);
    return kMigrationLocalDirectoryOpenError;
  }

  const LocalDirectoryContents& contents = cache->Contents(directoryPath, copyPath);
  MigrationResult code = contents.failure;
  if (code == kMigrationOk) {
    const auto found = contents.firstByName.find(NameKey(entry->bytes + kEntryDatabaseNameOffset));
    if (found != contents.firstByName.end()) {
      std::memcpy(entry->bytes + kEntryDatabaseInfoOffset, contents.info.data() + found->second,
                  kLocalInfoSize);
      return kMigrationOk;
    }
    code = contents.notFound;
  }
  if (contents.compareFailure || object[0] == '\0') {
    base::CopyBounded(object, contents.object.c_str(), objectSize);
  }
  return code;
}

MigrationResult LocalDatabaseCheck(ConvertedEntry* entry, char* pathBuffer, size_t pathSize,
                                   char* object, size_t objectSize) {
  LocalDirectoryCache once;
  return LocalDatabaseCheck(entry, pathBuffer, pathSize, object, objectSize, &once);
}

MigrationResult LocalDatabaseCheck(ConvertedEntry* entry, char* pathBuffer, size_t pathSize,
                                   char* object, size_t objectSize, LocalDirectoryCache* cache) {
  if (entry->TypeCharacter() == kEntryTypeLocal) {
    return FindInLocalDirectory(entry, object, objectSize, cache);
  }
  const std::string subdirectory = entry->Text(kEntrySubdirectoryOffset, kEntryNameSize);
  if (!AppendPath(pathBuffer, pathSize, {subdirectory.c_str(), "\\", kDatabaseConfigurationName})) {
    base::CopyBounded(object, pathBuffer, objectSize);
    return kMigrationConfigAccessError;
  }
  unsigned char config[kDatabaseConfigurationReadSize];
  const MigrationResult code = ReadDatabaseConfiguration(pathBuffer, config);
  if (code != kMigrationOk) {
    base::CopyBounded(object, pathBuffer, objectSize);
    return code;
  }
  FillFromConfiguration(config, entry);

  char codeSet[kCodeSetNameSize];
  if (CodePageToCodeSetName(LoadLE16(config + kConfigCodePageOffset), codeSet) != kMigrationOk) {
    return kMigrationUnknownCodePage;
  }
  std::memcpy(entry->bytes + kEntryCodeSetOffset, codeSet, sizeof codeSet);
  char territory[kTerritoryNameSize];
  if (TerritoryCodeToName(LoadLE16(config + kConfigTerritoryOffset), territory) != kMigrationOk) {
    return kMigrationUnknownTerritory;
  }
  std::memcpy(entry->bytes + kEntryTerritoryOffset, territory, sizeof territory);
  return kMigrationOk;
}

}  // namespace qz7::migrate
