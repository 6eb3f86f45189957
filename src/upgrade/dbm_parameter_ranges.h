// The valid range of every parameter of a qz7systm block, as data: one row per field, in the
// order the rows are applied (later rows read values that earlier rows have already put
// right). NormalizeDbmParameters (dbm_configuration_conversion.h) applies them with one loop.
#ifndef QZ7_UPGRADE_DBM_PARAMETER_RANGES_H_
#define QZ7_UPGRADE_DBM_PARAMETER_RANGES_H_

#include <cstdint>
#include <span>

namespace qz7::upgrade {

enum class NumberType : uint8_t { kU16, kS16, kU32, kS32, kF32 };

// Which node types T the range check applies to, and what the others get.
enum class RangeScope : uint8_t {
  kClientZero,                // T = 2: 0; every other T: the check
  kEveryType,                 // the check for every T
  kTypeZeroZero,              // T = 0: 0; every other T (clients too): the check
  kTypeZeroNonZeroToDefault,  // T = 0: a non-zero value becomes the default; else the check
  kClientNonZeroTo3,          // T = 2: a non-zero value becomes 3; else the check
  kTypes1And4,                // T = 1 or 4: the check; every other T: 0
  kPartitionedOnly,           // T = 4: the check; every other T: 0
};

enum class RangeCheck : uint8_t {
  kRange,                // outside low..high becomes the default
  kRangeUnlessMinusOne,  // -1 stays; otherwise outside low..high becomes the default
  kOneUnless1930IsOne,   // becomes 1 when the value at 1930 is not 1
  // The rules that tie the shared-memory parameters to each other (not for clients).
  kLimit3080,
  kDependent3084,
  kDependent92,
  kDependent80,
  kDependent1944,
};

struct ParameterRange {
  uint16_t offset;
  NumberType type;
  RangeScope scope;
  RangeCheck check;
  double low;
  double high;              // ignored when highFrom is not 0
  double fallback;          // the value an out-of-range parameter becomes
  double fallbackTypeZero;  // the same for T = 0
  uint16_t highFrom = 0;    // when not 0: the upper bound is the value at this offset
};

std::span<const ParameterRange> ParameterRanges();

// Width in bytes of a number of the given type.
constexpr int NumberWidth(NumberType type) {
  return (type == NumberType::kU16 || type == NumberType::kS16) ? 2 : 4;
}

}  // namespace qz7::upgrade

#endif  // QZ7_UPGRADE_DBM_PARAMETER_RANGES_H_
