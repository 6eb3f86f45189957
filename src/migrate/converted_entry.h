// The 720-byte entry of the current directory layout and how the entries of the four earlier
// layouts are carried into it. Each earlier layout is a table of (new offset, old offset,
// width, rule) rows applied by one loop; every old byte no row names is dropped, every new
// byte no row fills stays zero, and the constant fields of the current layout are stamped last.
#ifndef QZ7_MIGRATE_CONVERTED_ENTRY_H_
#define QZ7_MIGRATE_CONVERTED_ENTRY_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "base/directory_layout.h"

namespace qz7::migrate {

constexpr size_t kConvertedEntrySize = base::kCurrentEntrySize;  // 720

// A converted directory entry: 720 bytes, texts zero-terminated and zero-padded, numbers
// little-endian.
struct ConvertedEntry {
  unsigned char bytes[kConvertedEntrySize] = {};

  void Clear();
  // The text of the field at offset, at most width - 1 characters (or up to its first zero).
  std::string Text(size_t offset, size_t width) const;
  char TypeCharacter() const { return static_cast<char>(bytes[base::kEntryTypeOffset]); }
};

// Fields of the converted entry (offset, width).
constexpr size_t kEntryCatalogNameOffset = 0;  // name under which the database is catalogued
constexpr size_t kEntryNameSize = 9;
constexpr size_t kEntryDatabaseNameOffset = 9;   // name in the local database directory
constexpr size_t kEntrySubdirectoryOffset = 19;  // the database's subdirectory name
constexpr size_t kEntryNameTextOffset = 28;  // name text; the node a database is reached through
constexpr size_t kEntryFlagOffset = 37;
constexpr size_t kEntryPathOffset = 38;  // drive or directory of the database
constexpr size_t kEntryPathSize = 256;
constexpr size_t kEntryCommentOffset = 294;
constexpr size_t kEntryCommentSize = 32;
constexpr size_t kEntryDatabaseInfoOffset = 344;  // the block a local database supplies
constexpr size_t kEntryDatabaseInfoSize = 312;
constexpr size_t kEntryLocalRangeEnd = 688;  // 344 to 687 come from a local directory entry
constexpr size_t kEntryInfoLengthOffset = 656;
constexpr uint32_t kEntryInfoLengthDefault = 32;
constexpr size_t kEntryCodeSetOffset = 672;
constexpr size_t kEntryTerritoryOffset = 682;
constexpr size_t kEntryProductOffset = 709;
constexpr const char* kEntryProductText = "QZ7";
constexpr size_t kEntryProductSize = 4;
constexpr size_t kEntryReleaseOffset = 718;
constexpr uint16_t kEntryReleaseValue = 0x0900;

// Entry type characters at offset 18.
constexpr char kEntryTypeLocal = '0';  // found through the local database directory of its drive
constexpr char kEntryTypeCarried = '1';

enum class EntryCopyRule : uint8_t {
  kText,          // zero-terminated text: at most min(old width, new width - 1) characters
  kUpperFirst,    // kText with its first character upper-cased (a drive letter)
  kBytes,         // bytes as they are (numbers, blocks)
  kConstantFF,    // the new byte is 0xFF whatever the old entry holds
  kConstant32LE,  // the new 32-bit field is `value`
};

struct EntryFieldCopy {
  uint16_t newOffset;
  uint16_t oldOffset;
  uint16_t oldWidth;
  uint16_t newWidth;
  EntryCopyRule rule;
  uint32_t value;  // for kConstant32LE
};

// The rows of one earlier layout (1 to 4); layout 3 has a table per header form.
std::span<const EntryFieldCopy> EntryFieldCopies(base::DirectoryLayoutType layout,
                                                 bool shortHeader);

// The size of an old entry, 0 for a layout that has none under that header.
size_t OldEntrySize(base::DirectoryLayoutType layout, bool shortHeader);

// Builds entry from the old entry of the layout (OldEntrySize bytes): clears it, applies the
// rows, then stamps "QZ7" at 709 and 0x0900 at 718.
void BuildConvertedEntry(base::DirectoryLayoutType layout, bool shortHeader,
                         const unsigned char* old, ConvertedEntry* entry);

}  // namespace qz7::migrate

#endif  // QZ7_MIGRATE_CONVERTED_ENTRY_H_
