// The image of a database manager configuration file (qz7systm) as sqlfvald handles it: one
// 4096-byte little-endian block, with typed access to the fields that parameter tokens address.
// Offsets are checked against the block size where the token tables are defined, so these
// accessors do not check them again.
#ifndef QZ7_CONFIG_CONFIG_IMAGE_H_
#define QZ7_CONFIG_CONFIG_IMAGE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/coding.h"
#include "base/dbm_block.h"
#include "base/dbm_fields.h"

namespace qz7::config {

using ConfigFileImage = std::array<unsigned char, base::kDbmBlockSize>;

// Width of an integer field.
enum class Width : uint8_t { k16, k32 };

constexpr size_t ByteCount(Width width) { return width == Width::k16 ? 2 : 4; }

inline uint16_t Load16(const ConfigFileImage& image, uint16_t offset) {
  return base::LoadLE16(image.data() + offset);
}
inline uint32_t Load32(const ConfigFileImage& image, uint16_t offset) {
  return base::LoadLE32(image.data() + offset);
}
inline int32_t LoadSigned32(const ConfigFileImage& image, uint16_t offset) {
  return static_cast<int32_t>(Load32(image, offset));
}
inline float LoadFloat(const ConfigFileImage& image, uint16_t offset) {
  return base::LoadLEFloat(image.data() + offset);
}
// The raw bits of an integer field of either width, zero-extended.
inline uint32_t LoadField(const ConfigFileImage& image, uint16_t offset, Width width) {
  return width == Width::k16 ? Load16(image, offset) : Load32(image, offset);
}

inline void Store16(ConfigFileImage& image, uint16_t offset, uint16_t value) {
  base::StoreLE16(image.data() + offset, value);
}
inline void Store32(ConfigFileImage& image, uint16_t offset, uint32_t value) {
  base::StoreLE32(image.data() + offset, value);
}
inline void StoreFloat(ConfigFileImage& image, uint16_t offset, float value) {
  base::StoreLEFloat(image.data() + offset, value);
}
// Stores the low bits of value that fit the field.
inline void StoreField(ConfigFileImage& image, uint16_t offset, Width width, uint32_t value) {
  if (width == Width::k16) {
    Store16(image, offset, static_cast<uint16_t>(value));
  } else {
    Store32(image, offset, value);
  }
}

// The node type of the instance the file belongs to. No token sets it; most rules depend on it.
inline uint16_t NodeKind(const ConfigFileImage& image) {
  return Load16(image, base::dbm::kNodeType.offset);
}

// A text field of size bytes. A file may hold a field without its terminating zero; its text
// then counts as size characters, which every length limit of the rules rejects.
inline const char* TextAt(const ConfigFileImage& image, uint16_t offset) {
  return reinterpret_cast<const char*>(image.data() + offset);
}
inline size_t TextLength(const ConfigFileImage& image, uint16_t offset, size_t size) {
  return strnlen(TextAt(image, offset), size);
}
inline bool TextEmpty(const ConfigFileImage& image, uint16_t offset) { return image[offset] == 0; }

}  // namespace qz7::config

#endif  // QZ7_CONFIG_CONFIG_IMAGE_H_
