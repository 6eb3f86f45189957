#include "upgrade/dbm_parameter_ranges.h"

namespace qz7::upgrade {
namespace {

using namespace base::dbm;  // the field names
using base::DbmField;
using enum RangeScope;
using enum RangeCheck;

constexpr ParameterRange kRanges[] = {
    // field, scope, check, low, high, the default an out-of-range value becomes (for T = 0 in
    // the next column), and a field whose value is the upper bound instead of high
    {kParam72, kTypeZeroNonZeroToDefault, kRange, 4096, 65535, 4096, 4096},
    {kParam1, kTypeZeroNonZeroToDefault, kRange, 4096, 65535, 4096, 4096},
    {kParam6, kClientNonZeroTo3, kRange, 1, 256, 8, 3},
    {kParam20, kClientZero, kRange, 1, 2, 1, 1},
    {kParam21, kClientZero, kRange, 250, 2097152, 10000, 10000},
    {kParam18, kClientZero, kRange, 16, 524288, 1024, 1024},
    {kParam19, kClientZero, kRange, 16, 524288, 1024, 1024},
    {kParam79, kClientZero, kRange, 1, 60000, 32, 12},
    {kParam68, kClientZero, kRange, 1, 60000, 180, 180},
    {kParam91, kClientZero, kRange, 10, 256, 20, 20},
    {kParam90, kClientZero, kRange, 4, 1000, 256, 256},
    {kParam15, kClientZero, kRange, 1, 524288, 15, 15},
    {kParam81, kClientZero, kRange, 0, 1, 1, 1},
    {kParam26, kClientZero, kRange, 0, 6, -1, -1},
    {kParam49, kClientZero, kRange, 2, 524288, 1000, 1000},
    {kParam41, kTypeZeroZero, kRange, 16, 60000, 128, 128},
    {kParam30To35, kClientZero, kRange, 0, 63, 0, 0},
    {kParam40, kEveryType, kRange, 0, 1, 1, 1},
    {kParam82, kEveryType, kRange, 0, 15, 0, 0},
    {kParam73, kTypes1And4, kRange, 0, 1, 0, 0},
    {kParam64, kEveryType, kRange, 0, 4, 3, 3},
    {kProcessorSpeed, kClientZero, kRange, 1e-10, 1.0, 4e-5, 4e-5},
    {kParam43, kClientZero, kRange, 32, 112000, 32, 32},
    {kParam44, kClientZero, kRangeUnlessMinusOne, 32, 112000, 1296, 1296},
    {kParam61, kClientZero, kRange, 8, 1000, 16, 16},
    {kParam45, kClientZero, kRange, 100, 32768, 16000, 16000},
    {kParam69, kClientZero, kRange, 128, 60000, 256, 256},
    {kParam78, kEveryType, kRange, 0, 8, 0, 0},
    {kParam301And302, kClientZero, kOneUnlessParam78IsOne, 0, 0, 1, 1},
    {kParam303, kClientZero, kRangeUnlessMinusOne, 1, 32767, -1, -1},
    {kParam306, kClientZero, kRange, 0, 1, 0, 0},
    {kParam12, kClientZero, kRange, 1, 64000, 200, 200},
    {kParam502, kClientZero, kRangeUnlessMinusOne, 0, 0, -1, -1, kParam12},
    {kParam500, kClientZero, kLimitParam500, 0, 0, 0, 0},
    {kParam501, kClientZero, kDependentParam501, 0, 0, 0, 0},
    {kParam80, kClientZero, kDependentParam80, 0, 0, 0, 0},
    {kParam13, kClientZero, kDependentParam13, 0, 0, 0, 0},
    {kParam503, kClientZero, kRange, 128, 65300, 1024, 512},
    {kParam504, kClientZero, kRange, 128, 120000, 256, 1024},
    {kParam505, kClientZero, kRangeUnlessMinusOne, 128, 0, -1, -1, kParam504},
    {kParam506, kClientZero, kRangeUnlessMinusOne, 128, 0, -1, -1, kParam504},
    {kParam508, kPartitionedOnly, kRange, 0, 100, 10, 10},
    {kParam509, kPartitionedOnly, kRange, 0, 100, 5, 5},
    {kParam510, kPartitionedOnly, kRange, 1, 1440, 60, 60},
    {kParam511, kPartitionedOnly, kRange, 1, 1440, 10, 10},
    {kCommBandwidth, kPartitionedOnly, kRange, 0.1, 100000.0, 1.25, 1.25},
    {kQuerySentryHeap, kEveryType, kRange, 0, 4096, 512, 512},
    {kParam312, kClientZero, kRange, 0, 65000, 0, 0},
    {kParam314, kEveryType, kRange, 0, 1, 1, 1},
    {kParam601, kClientZero, kDependentParam601, 0, 0, 0, 0},
    {kParam602, kClientZero, kRange, 0, 1, 0, 0},
    {kParam603, kClientZero, kRange, 0, 1, 0, 0},
    {kDistributedJoin, kEveryType, kRange, 0, 1, 0, 0},
};

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
