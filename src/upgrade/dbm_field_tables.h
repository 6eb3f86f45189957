// What the five field converters of the qz7systm conversion carry from an old block into a
// new one, as data: one row per field, (offset, width, rule, condition). The converters are
// cumulative, so converter N applies the rows of converters 1 to N in order; each level also
// has a small fix-up step for the values that are computed rather than copied
// (dbm_configuration_conversion.cc).
#ifndef QZ7_UPGRADE_DBM_FIELD_TABLES_H_
#define QZ7_UPGRADE_DBM_FIELD_TABLES_H_

#include <cstddef>
#include <cstdint>
#include <span>

namespace qz7::upgrade {

// Layout versions (bits 0x0F00 of the 16-bit value at offset 16).
constexpr uint16_t kDbmVersion600 = 0x600;
constexpr uint16_t kDbmVersion800 = 0x800;
constexpr uint16_t kDbmVersion900 = 0x900;

constexpr size_t kDbmLevelOffset = 20;
// Level from which a 0x900 file carries the value at offset 3108.
constexpr uint16_t kDbmLevelWithField3108 = 7100;

// Node types at offset 40.
constexpr uint16_t kNodeTypeClient = 2;
constexpr uint16_t kNodeTypePartitioned = 4;
constexpr uint16_t kNodeTypeNoLocalCopy = 5;  // keeps its own text at offset 52

enum class FieldKind : uint8_t {
  kNumber,  // 16-bit or 32-bit integer, or 32-bit float: "set" means not all bytes are zero
  kText,    // NUL-terminated bytes: "set" means the first byte is not zero
};

enum class CopyRule : uint8_t {
  kCopy,                 // take the old value
  kCopyIfSet,            // take the old value only when it is set (see FieldKind)
  kCopyUnlessDigitZero,  // take the old text unless its first byte is the character '0'
};

// When a row applies: V is the old file's layout version.
enum class CopyWhen : uint8_t {
  kAlways,
  kVersion600,
  kVersionNot600,
  kVersion800,
  kVersion800Or900,
  kVersion900,
  kVersion900AtLevel7100,  // V is 0x900 and the old level at offset 20 is 7100 or more
  kNewTypeNot5,            // the new block's node type is not 5
};

struct FieldCopy {
  uint16_t offset;
  uint16_t width;  // bytes
  FieldKind kind;
  CopyRule rule;
  CopyWhen when;
};

// One converter's own rows (without those of the converters below it).
std::span<const FieldCopy> ConverterCopies(int level);  // level 1 to 5

constexpr int kConverterCount = 5;

// The converter for a pair of node types (each 1 to 5), or 0 when the pair cannot be
// converted. Row: new node type; column: old node type.
int ConverterFor(uint16_t newNodeType, uint16_t oldNodeType);

}  // namespace qz7::upgrade

#endif  // QZ7_UPGRADE_DBM_FIELD_TABLES_H_
