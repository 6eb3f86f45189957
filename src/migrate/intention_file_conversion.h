// The intention file that goes with a current-layout directory: 540 bytes, a 16-bit value at
// 0, a 9-byte text at 2, two 256-byte texts at 11 and 267, 10 bytes at 523, zero to the end.
// Each earlier layout's intention file is a shorter record whose fields are carried by a
// table of (new offset, old offset, width) rows.
#ifndef QZ7_MIGRATE_INTENTION_FILE_CONVERSION_H_
#define QZ7_MIGRATE_INTENTION_FILE_CONVERSION_H_

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/directory_layout.h"

namespace qz7::migrate {

struct IntentionFieldCopy {
  uint16_t newOffset;
  uint16_t oldOffset;
  uint16_t width;
};

// The bytes read from the old intention file of a layout; 0 for layout 1, which has none
// worth reading and gets an all-zero new file.
size_t OldIntentionSize(base::DirectoryLayoutType layout);

std::span<const IntentionFieldCopy> IntentionFieldCopies(base::DirectoryLayoutType layout);

// Builds the kIntentionFileSize bytes of the new intention file from OldIntentionSize(layout)
// bytes of the old one (old may be null when that size is 0).
void BuildIntentionFile(base::DirectoryLayoutType layout, const unsigned char* old,
                        unsigned char (&bytes)[base::kIntentionFileSize]);

}  // namespace qz7::migrate

#endif  // QZ7_MIGRATE_INTENTION_FILE_CONVERSION_H_
