#include "upgrade/dbm_parameter_ranges.h"

namespace qz7::upgrade {
namespace {

using namespace base::dbm;  // the field names
using base::DbmField;
using enum RangeScope;
using enum RangeCheck;

// A plain range row: outside low..high becomes fallback (fallbackTypeZero when T = 0).
constexpr ParameterRange Range(const DbmField& field, RangeScope scope, double low, double high,
                               double fallback, double fallbackTypeZero) {
  return {field, scope, kRange, low, high, fallback, fallbackTypeZero};
}
constexpr ParameterRange Range(const DbmField& field, RangeScope scope, double low, double high,
                               double fallback) {
  return Range(field, scope, low, high, fallback, fallback);
}
// -1 stays; otherwise outside low..high (or low..the value of highFrom) becomes fallback.
constexpr ParameterRange RangeOrMinusOne(const DbmField& field, double low, double high,
                                         double fallback, const DbmField& highFrom = {}) {
  return {field, kClientZero, kRangeUnlessMinusOne, low, high, fallback, fallback, highFrom};
}
constexpr ParameterRange Dependent(const DbmField& field, RangeCheck check) {
  return {field, kClientZero, check, 0, 0, 0, 0};
}

// clang-format off
constexpr ParameterRange kRanges[] = {
    Range(kParam72, kTypeZeroNonZeroToDefault, 4096, 65535, 4096),
    Range(kParam1,  kTypeZeroNonZeroToDefault, 4096, 65535, 4096),
    Range(kParam6,  kClientNonZeroTo3, 1, 256, 8, 3),
    Range(kParam20, kClientZero, 1, 2, 1),
    Range(kParam21, kClientZero, 250, 2097152, 10000),
    Range(kParam18, kClientZero, 16, 524288, 1024),
    Range(kParam19, kClientZero, 16, 524288, 1024),
    Range(kParam79, kClientZero, 1, 60000, 32, 12),
    Range(kParam68, kClientZero, 1, 60000, 180),
    Range(kParam91, kClientZero, 10, 256, 20),
    Range(kParam90, kClientZero, 4, 1000, 256),
    Range(kParam15, kClientZero, 1, 524288, 15),
    Range(kParam81, kClientZero, 0, 1, 1),
    Range(kParam26, kClientZero, 0, 6, -1),
    Range(kParam49, kClientZero, 2, 524288, 1000),
    Range(kParam41, kTypeZeroZero, 16, 60000, 128),
    Range(kParam30To35, kClientZero, 0, 63, 0),
    Range(kParam40, kEveryType, 0, 1, 1),
    Range(kParam82, kEveryType, 0, 15, 0),
    Range(kParam73, kTypes1And4, 0, 1, 0),
    Range(kParam64, kEveryType, 0, 4, 3),
    Range(kProcessorSpeed, kClientZero, 1e-10, 1.0, 4e-5),
    Range(kParam43, kClientZero, 32, 112000, 32),
    RangeOrMinusOne(kParam44, 32, 112000, 1296),
    Range(kParam61, kClientZero, 8, 1000, 16),
    Range(kParam45, kClientZero, 100, 32768, 16000),
    Range(kParam69, kClientZero, 128, 60000, 256),
    Range(kParam78, kEveryType, 0, 8, 0),
    {kParam301And302, kClientZero, kOneUnlessParam78IsOne, 0, 0, 1, 1},
    RangeOrMinusOne(kParam303, 1, 32767, -1),
    Range(kParam306, kClientZero, 0, 1, 0),
    Range(kParam12, kClientZero, 1, 64000, 200),
    RangeOrMinusOne(kParam502, 0, 0, -1, /*highFrom=*/kParam12),
    Dependent(kParam500, kLimitParam500),
    Dependent(kParam501, kDependentParam501),
    Dependent(kParam80,  kDependentParam80),
    Dependent(kParam13,  kDependentParam13),
    Range(kParam503, kClientZero, 128, 65300, 1024, 512),
    Range(kParam504, kClientZero, 128, 120000, 256, 1024),
    RangeOrMinusOne(kParam505, 128, 0, -1, /*highFrom=*/kParam504),
    RangeOrMinusOne(kParam506, 128, 0, -1, /*highFrom=*/kParam504),
    Range(kParam508, kPartitionedOnly, 0, 100, 10),
    Range(kParam509, kPartitionedOnly, 0, 100, 5),
    Range(kParam510, kPartitionedOnly, 1, 1440, 60),
    Range(kParam511, kPartitionedOnly, 1, 1440, 10),
    Range(kCommBandwidth, kPartitionedOnly, 0.1, 100000.0, 1.25),
    Range(kQuerySentryHeap, kEveryType, 0, 4096, 512),
    Range(kParam312, kClientZero, 0, 65000, 0),
    Range(kParam314, kEveryType, 0, 1, 1),
    Dependent(kParam601, kDependentParam601),
    Range(kParam602, kClientZero, 0, 1, 0),
    Range(kParam603, kClientZero, 0, 1, 0),
    Range(kDistributedJoin, kEveryType, 0, 1, 0),
};
// clang-format on

// Every row puts a number in range; a bound taken from another field reads a 32-bit one.
constexpr bool RowsAreNumbers() {
  for (const ParameterRange& row : kRanges) {
    if (base::IsText(row.field)) return false;
    if (row.highFrom.width != 0 && row.highFrom.width != 4) return false;
  }
  return true;
}
static_assert(RowsAreNumbers(), "a range row names a text or a narrow bound");

}  // namespace

std::span<const ParameterRange> ParameterRanges() { return kRanges; }

}  // namespace qz7::upgrade
