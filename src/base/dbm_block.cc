#include "base/dbm_block.h"

#include "base/coding.h"

namespace qz7::base {

uint32_t DbmChecksum(const unsigned char* bytes, uint16_t length) { return ByteSum(bytes, length); }

uint32_t DbmBlockChecksum(const unsigned char* block) {
  return DbmChecksum(block + 4, static_cast<uint16_t>(kDbmBlockSize - 4));
}

void StampDbmChecksum(unsigned char* block) {
  StoreLE32(block + kDbmChecksumOffset, DbmBlockChecksum(block));
}

}  // namespace qz7::base
