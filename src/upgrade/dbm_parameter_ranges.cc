#include "upgrade/dbm_parameter_ranges.h"

namespace qz7::upgrade {
namespace {

using enum NumberType;
using enum RangeScope;
using enum RangeCheck;

// A plain range row: outside low..high becomes fallback (fallbackTypeZero when T = 0).
constexpr ParameterRange Range(uint16_t offset, NumberType type, RangeScope scope, double low,
                               double high, double fallback, double fallbackTypeZero) {
  return {offset, type, scope, kRange, low, high, fallback, fallbackTypeZero};
}
constexpr ParameterRange Range(uint16_t offset, NumberType type, RangeScope scope, double low,
                               double high, double fallback) {
  return Range(offset, type, scope, low, high, fallback, fallback);
}
// -1 stays; otherwise outside low..high (or low..the value at highFrom) becomes fallback.
constexpr ParameterRange RangeOrMinusOne(uint16_t offset, NumberType type, double low, double high,
                                         double fallback, uint16_t highFrom = 0) {
  return {offset, type, kClientZero, kRangeUnlessMinusOne, low, high, fallback, fallback, highFrom};
}
constexpr ParameterRange Dependent(uint16_t offset, NumberType type, RangeCheck check) {
  return {offset, type, kClientZero, check, 0, 0, 0, 0};
}

// clang-format off
constexpr ParameterRange kRanges[] = {
    Range(18,   kU16, kTypeZeroNonZeroToDefault, 4096, 65535, 4096),
    Range(36,   kU16, kTypeZeroNonZeroToDefault, 4096, 65535, 4096),
    Range(44,   kU16, kClientNonZeroTo3, 1, 256, 8, 3),
    Range(62,   kU16, kClientZero, 1, 2, 1),
    Range(64,   kU32, kClientZero, 250, 2097152, 10000),
    Range(68,   kU32, kClientZero, 16, 524288, 1024),
    Range(72,   kU32, kClientZero, 16, 524288, 1024),
    Range(1074, kU16, kClientZero, 1, 60000, 32, 12),
    Range(1106, kU16, kClientZero, 1, 60000, 180),
    Range(1936, kS32, kClientZero, 10, 256, 20),
    Range(1932, kS32, kClientZero, 4, 1000, 256),
    Range(88,   kU32, kClientZero, 1, 524288, 15),
    Range(96,   kU16, kClientZero, 0, 1, 1),
    Range(98,   kS16, kClientZero, 0, 6, -1),
    Range(812,  kS32, kClientZero, 2, 524288, 1000),
    Range(796,  kU16, kTypeZeroZero, 16, 60000, 128),
    Range(798,  kU16, kClientZero, 0, 63, 0),
    Range(794,  kU16, kEveryType, 0, 1, 1),
    Range(1116, kU16, kEveryType, 0, 15, 0),
    Range(1128, kU16, kTypes1And4, 0, 1, 0),
    Range(1034, kU16, kEveryType, 0, 4, 3),
    Range(808,  kF32, kClientZero, 1e-10, 1.0, 4e-5),
    Range(800,  kU32, kClientZero, 32, 112000, 32),
    RangeOrMinusOne(804, kS32, 32, 112000, 1296),
    Range(1038, kU16, kClientZero, 8, 1000, 16),
    Range(816,  kU16, kClientZero, 100, 32768, 16000),
    Range(1114, kU16, kClientZero, 128, 60000, 256),
    Range(1930, kU16, kEveryType, 0, 8, 0),
    {1940, kU16, kClientZero, kOneUnless1930IsOne, 0, 0, 1, 1},
    RangeOrMinusOne(24, kS32, 1, 32767, -1),
    Range(38,   kS16, kClientZero, 0, 1, 0),
    Range(76,   kU32, kClientZero, 1, 64000, 200),
    RangeOrMinusOne(3088, kS32, 0, 0, -1, /*highFrom=*/76),
    Dependent(3080, kU32, kLimit3080),
    Dependent(3084, kS32, kDependent3084),
    Dependent(92,   kS32, kDependent92),
    Dependent(80,   kS32, kDependent80),
    Range(3092, kU32, kClientZero, 128, 65300, 1024, 512),
    Range(3096, kU32, kClientZero, 128, 120000, 256, 1024),
    RangeOrMinusOne(3100, kS32, 128, 0, -1, /*highFrom=*/3096),
    RangeOrMinusOne(3104, kS32, 128, 0, -1, /*highFrom=*/3096),
    Range(3112, kU16, kPartitionedOnly, 0, 100, 10),
    Range(3114, kU16, kPartitionedOnly, 0, 100, 5),
    Range(3116, kU16, kPartitionedOnly, 1, 1440, 60),
    Range(3118, kU16, kPartitionedOnly, 1, 1440, 10),
    Range(3120, kF32, kPartitionedOnly, 0.1, 100000.0, 1.25),
    Range(3124, kS32, kEveryType, 0, 4096, 512),
    Range(32,   kS32, kClientZero, 0, 65000, 0),
    Range(46,   kU16, kEveryType, 0, 1, 1),
    Dependent(1944, kS32, kDependent1944),
    Range(50,   kU16, kClientZero, 0, 1, 0),
    Range(1126, kU16, kClientZero, 0, 1, 0),
    Range(86,   kU16, kEveryType, 0, 1, 0),
};
// clang-format on

}  // namespace

std::span<const ParameterRange> ParameterRanges() { return kRanges; }

}  // namespace qz7::upgrade
