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
