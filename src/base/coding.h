// Fixed-width little-endian numbers in byte buffers. Every binary format of the library is
// read and written through these; no struct is ever laid over file bytes.
#ifndef QZ7_BASE_CODING_H_
#define QZ7_BASE_CODING_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qz7::base {

inline uint16_t LoadLE16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t LoadLE32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline float LoadLEFloat(const unsigned char* p) {
  uint32_t bits = LoadLE32(p);
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}
inline void StoreLE16(unsigned char* p, uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
inline void StoreLE32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}
inline void StoreLEFloat(unsigned char* p, float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  StoreLE32(p, bits);
}

// The 32-bit sum of size unsigned bytes added to start (a file read in parts is summed part by
// part), wrapping as 32-bit numbers do: the checksum of the configuration files.
inline uint32_t ByteSum(const unsigned char* bytes, size_t size, uint32_t start = 0) {
  for (size_t i = 0; i < size; ++i) start += bytes[i];
  return start;
}

}  // namespace qz7::base

#endif  // QZ7_BASE_CODING_H_
