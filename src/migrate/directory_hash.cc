#include "migrate/directory_hash.h"

#include <cstring>

#include "base/coding.h"

namespace qz7::migrate {

unsigned DirectoryNameHash(const unsigned char* name, size_t size) {
  unsigned sum = 0;
  for (size_t i = 0; i < size && name[i] != 0; ++i) sum += name[i];
  return sum % kHashBucketCount;
}

void DirectoryHashBlock::NoteEntry(const unsigned char* name, size_t nameSize,
                                   uint32_t fileOffset) {
  uint32_t& bucket = buckets_[DirectoryNameHash(name, nameSize)];
  if (bucket == 0) bucket = fileOffset;
}

void DirectoryHashBlock::Encode(unsigned char (&bytes)[base::kLongBlockSize]) const {
  std::memset(bytes, 0, sizeof bytes);
  base::StoreLE16(bytes, value_);
  for (size_t i = 0; i < kHashBucketCount; ++i) {
    base::StoreLE32(bytes + kHashBucketsOffset + 4 * i, buckets_[i]);
  }
}

}  // namespace qz7::migrate
