#include "migrate/intention_file_conversion.h"

#include <cstring>

namespace qz7::migrate {
namespace {

// Layout 2 (37 bytes) holds the two paths as 13-byte texts.
constexpr IntentionFieldCopy kLayout2[] = {
    {0, 0, 2},
    {2, 2, 9},
    {11, 11, 13},
    {267, 24, 13},
};
// Layout 3 (523 bytes) has the current fields up to the two 256-byte texts.
constexpr IntentionFieldCopy kLayout3[] = {
    {0, 0, 2},
    {2, 2, 9},
    {11, 11, 256},
    {267, 267, 256},
};
// Layout 4 (534 bytes read) has all five fields.
constexpr IntentionFieldCopy kLayout4[] = {
    {0, 0, 2}, {2, 2, 9}, {11, 11, 256}, {267, 267, 256}, {523, 523, 10},
};

}  // namespace

size_t OldIntentionSize(base::DirectoryLayoutType layout) {
  switch (layout) {
    case base::DirectoryLayoutType::kLayout2:
      return 37;
    case base::DirectoryLayoutType::kLayout3:
      return 523;
    case base::DirectoryLayoutType::kLayout4:
      return 534;
    default:
      return 0;
  }
}

std::span<const IntentionFieldCopy> IntentionFieldCopies(base::DirectoryLayoutType layout) {
  switch (layout) {
    case base::DirectoryLayoutType::kLayout2:
      return kLayout2;
    case base::DirectoryLayoutType::kLayout3:
      return kLayout3;
    case base::DirectoryLayoutType::kLayout4:
      return kLayout4;
    default:
      return {};
  }
}

void BuildIntentionFile(base::DirectoryLayoutType layout, const unsigned char* old,
                        unsigned char (&bytes)[base::kIntentionFileSize]) {
  std::memset(bytes, 0, sizeof bytes);
  if (old == nullptr) return;
  for (const IntentionFieldCopy& row : IntentionFieldCopies(layout)) {
    std::memcpy(bytes + row.newOffset, old + row.oldOffset, row.width);
  }
}

}  // namespace qz7::migrate
