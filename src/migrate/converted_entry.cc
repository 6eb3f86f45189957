#include "migrate/converted_entry.h"

#include <cctype>
#include <cstring>

#include "base/coding.h"

namespace qz7::migrate {
namespace {

using R = EntryCopyRule;

// Every layout holds the three names, the type and the fourth name at the same places.

// Layout 1, 93 bytes.
constexpr EntryFieldCopy kLayout1[] = {
    {0, 0, 9, 9, R::kText, 0},     {9, 9, 9, 9, R::kText, 0},      {18, 18, 1, 1, R::kBytes, 0},
    {19, 19, 9, 9, R::kText, 0},   {28, 28, 9, 9, R::kText, 0},    {37, 37, 1, 1, R::kBytes, 0},
    {38, 38, 3, 256, R::kText, 0}, {294, 41, 31, 32, R::kText, 0}, {326, 72, 2, 2, R::kBytes, 0},
    {336, 74, 4, 4, R::kBytes, 0}, {704, 78, 4, 4, R::kBytes, 0},  {708, 82, 1, 1, R::kBytes, 0},
};

// Layout 2, 92 bytes: no one-byte field at 37, so everything after it sits one byte lower.
constexpr EntryFieldCopy kLayout2[] = {
    {0, 0, 9, 9, R::kText, 0},     {9, 9, 9, 9, R::kText, 0},      {18, 18, 1, 1, R::kBytes, 0},
    {19, 19, 9, 9, R::kText, 0},   {28, 28, 9, 9, R::kText, 0},    {37, 0, 0, 1, R::kConstantFF, 0},
    {38, 37, 3, 256, R::kText, 0}, {294, 40, 31, 32, R::kText, 0}, {326, 71, 2, 2, R::kBytes, 0},
    {336, 73, 4, 4, R::kBytes, 0}, {704, 77, 4, 4, R::kBytes, 0},  {708, 81, 1, 1, R::kBytes, 0},
};

// Layout 3 under the long header, 356 bytes: the full path and comment fields.
constexpr EntryFieldCopy kLayout3Long[] = {
    {0, 0, 9, 9, R::kText, 0},       {9, 9, 9, 9, R::kText, 0},
    {18, 18, 1, 1, R::kBytes, 0},    {19, 19, 9, 9, R::kText, 0},
    {28, 28, 9, 9, R::kText, 0},     {37, 37, 1, 1, R::kBytes, 0},
    {38, 38, 256, 256, R::kText, 0}, {294, 294, 32, 32, R::kText, 0},
    {326, 326, 2, 2, R::kBytes, 0},  {336, 336, 4, 4, R::kBytes, 0},
    {704, 340, 4, 4, R::kBytes, 0},  {708, 344, 1, 1, R::kBytes, 0},
};

// Layout 3 under the short header, 101 bytes: a drive, whose letter is upper-cased.
constexpr EntryFieldCopy kLayout3Short[] = {
    {0, 0, 9, 9, R::kText, 0},           {9, 9, 9, 9, R::kText, 0},
    {18, 18, 1, 1, R::kBytes, 0},        {19, 19, 9, 9, R::kText, 0},
    {28, 28, 9, 9, R::kText, 0},         {37, 37, 1, 1, R::kBytes, 0},
    {38, 38, 3, 256, R::kUpperFirst, 0}, {294, 41, 31, 32, R::kText, 0},
    {326, 72, 2, 2, R::kBytes, 0},       {336, 82, 4, 4, R::kBytes, 0},
    {704, 86, 4, 4, R::kBytes, 0},       {708, 90, 1, 1, R::kBytes, 0},
};

// Layout 4, 700 bytes: carries its database block whole. The path at 38 is made absolute by
// the converter for entries of type "2".
constexpr EntryFieldCopy kLayout4[] = {
    {0, 0, 9, 9, R::kText, 0},
    {9, 9, 9, 9, R::kText, 0},
    {18, 18, 1, 1, R::kBytes, 0},
    {19, 19, 9, 9, R::kText, 0},
    {28, 28, 9, 9, R::kText, 0},
    {37, 37, 1, 1, R::kBytes, 0},
    {38, 38, 256, 256, R::kText, 0},
    {294, 294, 32, 32, R::kText, 0},
    {326, 326, 2, 2, R::kBytes, 0},
    {336, 336, 4, 4, R::kBytes, 0},
    {340, 340, 2, 2, R::kBytes, 0},
    {342, 342, 2, 2, R::kBytes, 0},
    {344, 344, 312, 312, R::kBytes, 0},
    {656, 0, 0, 4, R::kConstant32LE, base::kEntryInfoLengthDefault},
    {672, 656, 16, 16, R::kBytes, 0},
    {704, 684, 4, 4, R::kBytes, 0},
    {708, 688, 1, 1, R::kBytes, 0},
};

void ApplyRow(const EntryFieldCopy& row, const unsigned char* old, unsigned char* entry) {
  unsigned char* field = entry + row.newOffset;
  const unsigned char* from = old + row.oldOffset;
  switch (row.rule) {
    case R::kText:
    case R::kUpperFirst: {
      const size_t limit = row.oldWidth < row.newWidth ? row.oldWidth : row.newWidth - 1u;
      const size_t length = strnlen(reinterpret_cast<const char*>(from), limit);
      std::memcpy(field, from, length);
      if (row.rule == R::kUpperFirst && length > 0) {
        field[0] = static_cast<unsigned char>(std::toupper(field[0]));
      }
      break;
    }
    case R::kBytes:
      std::memcpy(field, from, row.oldWidth);
      break;
    case R::kConstantFF:
      field[0] = 0xFF;
      break;
    case R::kConstant32LE:
      base::StoreLE32(field, row.value);
      break;
  }
}

}  // namespace

void ConvertedEntry::Clear() { std::memset(bytes, 0, sizeof bytes); }

std::string ConvertedEntry::Text(size_t offset, size_t width) const {
  if (offset >= kConvertedEntrySize || width == 0) return std::string();
  if (width > kConvertedEntrySize - offset) width = kConvertedEntrySize - offset;
  const char* field = reinterpret_cast<const char*>(bytes + offset);
  return std::string(field, strnlen(field, width));
}

std::span<const EntryFieldCopy> EntryFieldCopies(base::DirectoryLayoutType layout,
                                                 bool shortHeader) {
  switch (layout) {
    case base::DirectoryLayoutType::kLayout1:
      return kLayout1;
    case base::DirectoryLayoutType::kLayout2:
      return kLayout2;
    case base::DirectoryLayoutType::kLayout3:
      return shortHeader ? std::span<const EntryFieldCopy>(kLayout3Short)
                         : std::span<const EntryFieldCopy>(kLayout3Long);
    case base::DirectoryLayoutType::kLayout4:
      return kLayout4;
    default:
      return {};
  }
}

size_t OldEntrySize(base::DirectoryLayoutType layout, bool shortHeader) {
  for (const base::DirectoryEntrySizes& sizes : base::kDirectoryEntrySizes) {
    if (sizes.type == layout) return shortHeader ? sizes.shortHeader : sizes.longHeader;
  }
  return 0;
}

void BuildConvertedEntry(base::DirectoryLayoutType layout, bool shortHeader,
                         const unsigned char* old, ConvertedEntry* entry) {
  entry->Clear();
  for (const EntryFieldCopy& row : EntryFieldCopies(layout, shortHeader)) {
    ApplyRow(row, old, entry->bytes);
  }
  std::memcpy(entry->bytes + base::kEntryProductOffset, base::kEntryProductText,
              base::kEntryProductSize);
  base::StoreLE16(entry->bytes + base::kEntryReleaseOffset, base::kEntryReleaseValue);
}

}  // namespace qz7::migrate
