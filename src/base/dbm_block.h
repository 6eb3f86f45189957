// The database manager configuration file qz7systm: one 4096-byte little-endian block.
// Offset 0 holds the checksum, the 32-bit sum of the unsigned bytes at offsets 4 to 4095;
// bits 0x0F00 of the 16-bit value at offset 16 give the layout version; offset 40 the node type.
#ifndef QZ7_BASE_DBM_BLOCK_H_
#define QZ7_BASE_DBM_BLOCK_H_

#include <cstddef>
#include <cstdint>

namespace qz7::base {

constexpr size_t kDbmBlockSize = 4096;
constexpr size_t kDbmChecksumOffset = 0;
constexpr size_t kDbmVersionOffset = 16;
constexpr size_t kDbmNodeTypeOffset = 40;
constexpr uint16_t kDbmVersionMask = 0x0F00;

// The 32-bit sum of length unsigned bytes (length is a 16-bit count; 0 gives 0).
uint32_t DbmChecksum(const unsigned char* bytes, uint16_t length);

// The checksum a whole block should carry: DbmChecksum of its bytes 4 to 4095.
uint32_t DbmBlockChecksum(const unsigned char* block);

// Stores DbmBlockChecksum at offset 0.
void StampDbmChecksum(unsigned char* block);

}  // namespace qz7::base

#endif  // QZ7_BASE_DBM_BLOCK_H_
