// The hash block of a current-layout directory file: 176 bytes after the 32-byte header, a
// 16-bit value carried from the old block, two zero bytes, then one 32-bit file offset per hash
// bucket. A bucket holds the file offset of the first entry, in file order, whose catalogued
// name hashes to it, or 0 when no entry does.
#ifndef QZ7_MIGRATE_DIRECTORY_HASH_H_
#define QZ7_MIGRATE_DIRECTORY_HASH_H_

#include <cstddef>
#include <cstdint>

#include "base/directory_layout.h"

namespace qz7::migrate {

constexpr size_t kHashBucketCount = 43;
constexpr size_t kHashBucketsOffset = 4;  // in the block, after the value and two zero bytes
static_assert(kHashBucketsOffset + 4 * kHashBucketCount == base::kLongBlockSize);

// The bucket of a name: the sum of its bytes up to its terminating zero (at most size bytes),
// each taken as unsigned, modulo 43; 0 for an empty name.
unsigned DirectoryNameHash(const unsigned char* name, size_t size);

class DirectoryHashBlock {
 public:
  // value is the 16-bit value at offset 0, taken from the first two bytes of the old block.
  explicit DirectoryHashBlock(uint16_t value) : value_(value) {}

  // Records an entry of name at fileOffset: the bucket keeps the first offset it was given.
  void NoteEntry(const unsigned char* name, size_t nameSize, uint32_t fileOffset);
  uint32_t Bucket(size_t index) const { return buckets_[index]; }

  // The 176 bytes of the block.
  void Encode(unsigned char (&bytes)[base::kLongBlockSize]) const;

 private:
  uint16_t value_;
  uint32_t buckets_[kHashBucketCount] = {};
};

}  // namespace qz7::migrate

#endif  // QZ7_MIGRATE_DIRECTORY_HASH_H_
