// What the five field converters of the qz7systm conversion carry from an old block into a
// new one, as data: one row per field of base/dbm_fields.h, with its rule and condition. The
// converters are cumulative, so converter N applies the rows of converters 1 to N in order; each
// level also has a small fix-up step for the values that are computed rather than copied
// (dbm_configuration_conversion.cc).
#ifndef QZ7_UPGRADE_DBM_FIELD_TABLES_H_
#define QZ7_UPGRADE_DBM_FIELD_TABLES_H_

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/dbm_fields.h"

namespace qz7::upgrade {

using base::DbmField;

// Layout versions (bits 0x0F00 of the version word).
constexpr uint16_t kDbmVersion600 = base::kDbmLayout600;
constexpr uint16_t kDbmVersion800 = base::kDbmLayout800;
constexpr uint16_t kDbmVersion900 = base::kDbmLayout900;

// Level from which a 0x900 file carries kParam701.
constexpr uint16_t kDbmLevelWithParam701 = 7100;

enum class CopyRule : uint8_t {
  kCopy,                 // take the old value
  kCopyIfSet,            // take the old value only when it is set: a text when its first byte
                         // is not zero, a number when not all of its bytes are zero
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
  kVersion900AtLevel7100,  // V is 0x900 and the old file's level is 7100 or more
  kNewTypeNot5,            // the new block's node type is not 5
};

struct FieldCopy {
  DbmField field;
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
