// The valid range of every parameter of a qz7systm block, as data: one row per field, in the
// order the rows are applied (later rows read values that earlier rows have already put
// right). NormalizeDbmParameters (dbm_configuration_conversion.h) applies them with one loop.
#ifndef QZ7_UPGRADE_DBM_PARAMETER_RANGES_H_
#define QZ7_UPGRADE_DBM_PARAMETER_RANGES_H_

#include <cstdint>
#include <span>

#include "base/dbm_fields.h"

namespace qz7::upgrade {

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
  kRange,                  // outside low..high becomes the default
  kRangeUnlessMinusOne,    // -1 stays; otherwise outside low..high becomes the default
  kOneUnlessParam78IsOne,  // becomes 1 when kParam78 is not 1
  // The rules that tie the shared-memory parameters to each other (not for clients).
  kLimitParam500,
  kDependentParam501,
  kDependentParam80,
  kDependentParam13,
  kDependentParam601,
};

struct ParameterRange {
  base::DbmField field;  // a number: its kind says how it is compared and stored
  RangeScope scope;
  RangeCheck check;
  double low;
  double high;                   // ignored when highFrom is given
  double fallback;               // the value an out-of-range parameter becomes
  double fallbackTypeZero;       // the same for T = 0
  base::DbmField highFrom = {};  // when given (width not 0): the upper bound is its value
};

std::span<const ParameterRange> ParameterRanges();

}  // namespace qz7::upgrade

#endif  // QZ7_UPGRADE_DBM_PARAMETER_RANGES_H_
