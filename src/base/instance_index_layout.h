// The old instance index file QZ7IDIR that an earlier release kept in the instance-profile
// directory: the signature with its terminating zero (23 bytes), 4 bytes nobody reads, the
// entry count as an unaligned 32-bit number at 27, then one 9-byte instance name per entry.
#ifndef QZ7_BASE_INSTANCE_INDEX_LAYOUT_H_
#define QZ7_BASE_INSTANCE_INDEX_LAYOUT_H_

#include <cstddef>

namespace qz7::base {

constexpr const char* kInstanceIndexFileName = "QZ7IDIR";
constexpr const char* kInstanceIndexSignature = "QZ7 INSTANCE DIRECTORY";
constexpr size_t kInstanceIndexSignatureSize = 23;  // compared with its terminating zero
constexpr size_t kInstanceIndexCountOffset = 27;
constexpr size_t kInstanceIndexHeaderSize = 31;
constexpr size_t kInstanceIndexEntrySize = 9;

static_assert(kInstanceIndexCountOffset + 4 == kInstanceIndexHeaderSize);
static_assert(kInstanceIndexSignatureSize <= kInstanceIndexCountOffset);

}  // namespace qz7::base

#endif  // QZ7_BASE_INSTANCE_INDEX_LAYOUT_H_
