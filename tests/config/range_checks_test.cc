// The check step's numeric, floating-point and cross-field rules under node kinds 0 to 5 (and
// a kind beyond them), on images built from named fields.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "tests/config/check_test_support.h"

namespace qz7::config {
namespace {

constexpr int64_t kMinusOne32 = 0xFFFFFFFF;
constexpr int64_t kMinusOne16 = 0xFFFF;

struct RuleCase {
  const char* name;
  uint16_t kind;
  uint16_t token;
  std::vector<FieldValue> fields;
  bool accepted;
};

std::string CaseName(const testing::TestParamInfo<RuleCase>& info) { return info.param.name; }

class RuleTest : public testing::TestWithParam<RuleCase> {};

TEST_P(RuleTest, Verdict) {
  const RuleCase& c = GetParam();
  EXPECT_EQ(Judge(ImageOf(c.kind, c.fields), c.token), c.accepted)
      << "token " << c.token << " under kind " << c.kind;
}

INSTANTIATE_TEST_SUITE_P(
    Numeric, RuleTest,
    testing::Values(
        // kind 2: 0, otherwise a range, unsigned.
        RuleCase{"T12ZeroUnderKind2", 2, 12, {Int(12, 0)}, true},
        RuleCase{"T12SetUnderKind2", 2, 12, {Int(12, 100)}, false},
        RuleCase{"T12ZeroUnderKind0", 0, 12, {Int(12, 0)}, false},
        RuleCase{"T12TopUnderKind1", 1, 12, {Int(12, 64000)}, true},
        RuleCase{"T12AboveTopUnderKind3", 3, 12, {Int(12, 64001)}, false},
        RuleCase{"T12MinusOneIsHuge", 5, 12, {Int(12, kMinusOne32)}, false},
        RuleCase{"T12KindAboveFive", 9, 12, {Int(12, 0)}, false},
        RuleCase{"T21Bottom", 4, 21, {Int(21, 250)}, true},
        RuleCase{"T21BelowBottom", 4, 21, {Int(21, 249)}, false},
        // kind 0: 0, otherwise at least 4096 (16-bit).
        RuleCase{"T1ZeroUnderKind0", 0, 1, {Int(1, 0)}, true},
        RuleCase{"T1SetUnderKind0", 0, 1, {Int(1, 4096)}, false},
        RuleCase{"T1Kind2IsNotSpecial", 2, 1, {Int(1, 0)}, false},
        RuleCase{"T1Bottom", 5, 1, {Int(1, 4096)}, true},
        RuleCase{"T1Top", 5, 1, {Int(1, 65535)}, true},
        RuleCase{"T72BelowBottom", 3, 72, {Int(72, 4095)}, false},
        RuleCase{"T41Kind0Zero", 0, 41, {Int(41, 0)}, true},
        RuleCase{"T41BelowBottom", 1, 41, {Int(41, 15)}, false},
        // 16-bit fields are unsigned unless signed is said.
        RuleCase{"T6Top", 4, 6, {Int(6, 256)}, true}, RuleCase{"T6Zero", 4, 6, {Int(6, 0)}, false},
        RuleCase{"T45Top", 1, 45, {Int(45, 32768)}, true},
        // Token 20: must be 1 under kind 2.
        RuleCase{"T20OneUnderKind2", 2, 20, {Int(20, 1)}, true},
        RuleCase{"T20ZeroUnderKind2", 2, 20, {Int(20, 0)}, false},
        RuleCase{"T20TwoUnderKind2", 2, 20, {Int(20, 2)}, false},
        RuleCase{"T20Two", 1, 20, {Int(20, 2)}, true},
        RuleCase{"T20Three", 1, 20, {Int(20, 3)}, false},
        // -1 or a signed range.
        RuleCase{"T26MinusOne", 1, 26, {Int(26, kMinusOne16)}, true},
        RuleCase{"T26MinusTwo", 1, 26, {Int(26, 0xFFFE)}, false},
        RuleCase{"T26Six", 3, 26, {Int(26, 6)}, true},
        RuleCase{"T26Seven", 3, 26, {Int(26, 7)}, false},
        RuleCase{"T26MinusOneUnderKind2", 2, 26, {Int(26, kMinusOne16)}, false},
        RuleCase{"T44MinusOne", 3, 44, {Int(44, kMinusOne32)}, true},
        RuleCase{"T44BelowBottom", 3, 44, {Int(44, 31)}, false},
        RuleCase{"T44MinusTwo", 3, 44, {Int(44, 0xFFFFFFFE)}, false},
        RuleCase{"T303MinusOne", 0, 303, {Int(303, kMinusOne32)}, true},
        RuleCase{"T303Zero", 0, 303, {Int(303, 0)}, false},
        RuleCase{"T90SignedNegative", 1, 90, {Int(90, -4)}, false},
        RuleCase{"T312Top", 1, 312, {Int(312, 65000)}, true},
        // The word of tokens 29 to 35.
        RuleCase{"T29WordAllBits", 1, 29, {Int(30, 0x3F)}, true},
        RuleCase{"T35WordHighBit", 1, 35, {Int(30, 0x40)}, false},
        RuleCase{"T29WordSetUnderKind2", 2, 29, {Int(30, 1)}, false},
        RuleCase{"T33WordClearUnderKind2", 2, 33, {Int(30, 0)}, true},
        // Under every kind.
        RuleCase{"T40Kind2One", 2, 40, {Int(40, 1)}, true},
        RuleCase{"T40Two", 0, 40, {Int(40, 2)}, false},
        RuleCase{"T64Four", 2, 64, {Int(64, 4)}, true},
        RuleCase{"T78Nine", 4, 78, {Int(78, 9)}, false},
        RuleCase{"T82Fifteen", 0, 82, {Int(82, 15)}, true},
        RuleCase{"T306SignedMinusOne", 1, 306, {Int(306, kMinusOne16)}, false},
        RuleCase{"T306One", 0, 306, {Int(306, 1)}, true},
        RuleCase{"T310Top", 2, 310, {Int(310, 4096)}, true},
        RuleCase{"T310MinusOne", 2, 310, {Int(310, kMinusOne32)}, false},
        RuleCase{"T314Two", 3, 314, {Int(314, 2)}, false},
        // Token 308: 0 under kinds 0 and 2.
        RuleCase{"T308OneUnderKind0", 0, 308, {Int(308, 1)}, false},
        RuleCase{"T308OneUnderKind2", 2, 308, {Int(308, 1)}, false},
        RuleCase{"T308OneUnderKind1", 1, 308, {Int(308, 1)}, true},
        RuleCase{"T308TwoUnderKind5", 5, 308, {Int(308, 2)}, false},
        // kind 0: 0, otherwise a range.
        RuleCase{"T73OneUnderKind0", 0, 73, {Int(73, 1)}, false},
        RuleCase{"T73One", 1, 73, {Int(73, 1)}, true},
        RuleCase{"T304TwoUnderKind5", 5, 304, {Int(304, 2)}, true},
        RuleCase{"T304Three", 5, 304, {Int(304, 3)}, false},
        // Fields that may be set under kind 4 only.
        RuleCase{"T508TopUnderKind4", 4, 508, {Int(508, 100)}, true},
        RuleCase{"T508AboveTopUnderKind4", 4, 508, {Int(508, 101)}, false},
        RuleCase{"T508SetUnderKind3", 3, 508, {Int(508, 1)}, false},
        RuleCase{"T508ZeroUnderKind3", 3, 508, {Int(508, 0)}, true},
        RuleCase{"T510ZeroUnderKind4", 4, 510, {Int(510, 0)}, false},
        RuleCase{"T511TopUnderKind4", 4, 511, {Int(511, 1440)}, true},
        RuleCase{"T509SetUnderKind7", 7, 509, {Int(509, 1)}, false},
        // Bounded by another field.
        RuleCase{"T49AtField15", 1, 49, {Int(49, 300), Int(15, 300)}, true},
        RuleCase{"T49BelowField15", 1, 49, {Int(49, 299), Int(15, 300)}, false},
        RuleCase{"T49Field15NegativeIsHuge", 1, 49, {Int(49, 2), Int(15, kMinusOne32)}, false},
        RuleCase{"T49BelowBottom", 1, 49, {Int(49, 1)}, false},
        RuleCase{"T502MinusOne", 3, 502, {Int(502, kMinusOne32), Int(12, 100)}, true},
        RuleCase{"T502AtField12", 3, 502, {Int(502, 100), Int(12, 100)}, true},
        RuleCase{"T502AboveField12", 3, 502, {Int(502, 101), Int(12, 100)}, false},
        RuleCase{"T502MinusTwo", 3, 502, {Int(502, -2), Int(12, 100)}, false},
        RuleCase{"T505AtField504", 1, 505, {Int(505, 200), Int(504, 200)}, true},
        RuleCase{"T505AboveField504", 1, 505, {Int(505, 201), Int(504, 200)}, false},
        RuleCase{"T506BelowBottom", 1, 506, {Int(506, 127), Int(504, 200)}, false},
        RuleCase{"T506MinusOne", 1, 506, {Int(506, kMinusOne32), Int(504, 200)}, true},
        // Token 604: by kind alone.
        RuleCase{"T604Kind0", 0, 604, {Int(604, 1)}, false},
        RuleCase{"T604Kind2", 2, 604, {Int(604, 1)}, true}, RuleCase{"T604Kind4", 4, 604, {}, true},
        RuleCase{"T604Kind5", 5, 604, {}, false}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    FloatingPoint, RuleTest,
    testing::Values(
        RuleCase{"T42ZeroUnderKind2", 2, 42, {Real(42, 0.0f)}, true},
        RuleCase{"T42SetUnderKind2", 2, 42, {Real(42, 0.5f)}, false},
        RuleCase{"T42MinusOneUnderKind2", 2, 42, {Real(42, -1.0f)}, false},
        RuleCase{"T42MinusOne", 1, 42, {Real(42, -1.0f)}, true},
        RuleCase{"T42NearMinusOne", 1, 42, {Real(42, -1.00005f)}, true},
        RuleCase{"T42MinusOneAndAHalf", 1, 42, {Real(42, -1.5f)}, false},
        RuleCase{"T42Zero", 0, 42, {Real(42, 0.0f)}, false},
        RuleCase{"T42Bottom", 0, 42, {Real(42, 1e-10f)}, true},  // the float lies just above
        RuleCase{"T42BelowBottom", 0, 42, {Real(42, 9.9e-11f)}, false},
        RuleCase{"T42One", 3, 42, {Real(42, 1.0f)}, true},
        RuleCase{"T42AboveOne", 3, 42, {Real(42, 1.0001f)}, false},
        RuleCase{
            "T42NotANumber", 3, 42, {Real(42, std::numeric_limits<float>::quiet_NaN())}, false},
        RuleCase{"T307Kind4Bottom", 4, 307, {Real(307, 0.1f)}, true},
        RuleCase{"T307Kind4BelowBottom", 4, 307, {Real(307, 0.05f)}, false},
        RuleCase{"T307Kind4Top", 4, 307, {Real(307, 100000.0f)}, true},
        RuleCase{"T307Kind4Infinite",
                 4,
                 307,
                 {Real(307, std::numeric_limits<float>::infinity())},
                 false},
        RuleCase{"T307Kind4MinusOne", 4, 307, {Real(307, -1.0f)}, true},
        RuleCase{"T307Kind3Zero", 3, 307, {Real(307, 0.0f)}, true},
        RuleCase{"T307Kind3Set", 3, 307, {Real(307, 1.0f)}, false},
        RuleCase{"T307Kind1MinusOne", 1, 307, {Real(307, -1.0f)}, false}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    CrossField, RuleTest,
    testing::Values(
        // Token 13: -1, or 1 up to field 501 (signed) or field 12 minus field 500 (unsigned).
        RuleCase{"T13MinusOne", 3, 13, {Int(13, kMinusOne32)}, true},
        RuleCase{"T13MinusOneKind0", 0, 13, {Int(13, kMinusOne32)}, true},
        RuleCase{"T13Zero", 3, 13, {Int(13, 0), Int(12, 100), Int(501, kMinusOne32)}, false},
        RuleCase{"T13ZeroUnderKind2", 2, 13, {Int(13, 0)}, true},
        RuleCase{"T13AnythingUnderKind2", 2, 13, {Int(13, -7)}, true},
        RuleCase{"T13MinusTwo", 3, 13, {Int(13, -2), Int(501, 50)}, false},
        RuleCase{"T13AtField501", 3, 13, {Int(13, 50), Int(501, 50), Int(12, 10)}, true},
        RuleCase{"T13AboveField501", 3, 13, {Int(13, 51), Int(501, 50), Int(12, 1000)}, false},
        RuleCase{"T13AtRemainder",
                 3,
                 13,
                 {Int(13, 70), Int(501, kMinusOne32), Int(12, 100), Int(500, 30)},
                 true},
        RuleCase{"T13AboveRemainder",
                 3,
                 13,
                 {Int(13, 71), Int(501, kMinusOne32), Int(12, 100), Int(500, 30)},
                 false},
        RuleCase{"T13RemainderWraps",
                 3,
                 13,
                 {Int(13, 5000), Int(501, kMinusOne32), Int(12, 10), Int(500, 30)},
                 true},
        // Token 80: like 13 but from 0, and 0 under kind 2.
        RuleCase{"T80Zero", 1, 80, {Int(80, 0), Int(501, 10)}, true},
        RuleCase{"T80MinusOne", 1, 80, {Int(80, kMinusOne32)}, true},
        RuleCase{"T80MinusTwo", 1, 80, {Int(80, -2), Int(501, 10)}, false},
        RuleCase{"T80AboveField501", 1, 80, {Int(80, 11), Int(501, 10)}, false},
        RuleCase{"T80SetUnderKind2", 2, 80, {Int(80, kMinusOne32)}, false},
        // Token 500.
        RuleCase{"T500Kind2Zero", 2, 500, {Int(500, 0)}, true},
        RuleCase{"T500Kind2Set", 2, 500, {Int(500, 1)}, false},
        RuleCase{"T500AtField502", 3, 500, {Int(500, 700), Int(502, 700), Int(12, 10)}, true},
        RuleCase{"T500AboveField502", 3, 500, {Int(500, 701), Int(502, 700), Int(12, 5000)}, false},
        RuleCase{"T500OtherKindLimit",
                 3,
                 500,
                 {Int(500, 20), Int(502, kMinusOne32), Int(12, 1000), Int(303, 5)},
                 true},
        RuleCase{"T500OtherKindAboveLimit",
                 3,
                 500,
                 {Int(500, 21), Int(502, kMinusOne32), Int(12, 1000), Int(303, 5)},
                 false},
        RuleCase{"T500OtherKindField303Wins",
                 5,
                 500,
                 {Int(500, 30), Int(502, kMinusOne32), Int(12, 1000), Int(303, 30)},
                 true},
        RuleCase{"T500AboveField12",
                 3,
                 500,
                 {Int(500, 60), Int(502, kMinusOne32), Int(12, 50), Int(303, 100)},
                 false},
        // Kind 4: larger of field 12 minus E and (field 12 / 10) * field 303.
        RuleCase{"T500Kind4ByField501",
                 4,
                 500,
                 {Int(500, 400), Int(502, kMinusOne32), Int(12, 1000), Int(501, 600), Int(303, 0)},
                 true},
        RuleCase{"T500Kind4AboveByField501",
                 4,
                 500,
                 {Int(500, 401), Int(502, kMinusOne32), Int(12, 1000), Int(501, 600), Int(303, 0)},
                 false},
        RuleCase{"T500Kind4ByProduct",
                 4,
                 500,
                 {Int(500, 800), Int(502, kMinusOne32), Int(12, 1000), Int(501, 900), Int(303, 8)},
                 true},
        RuleCase{"T500Kind4AboveProduct",
                 4,
                 500,
                 {Int(500, 801), Int(502, kMinusOne32), Int(12, 1000), Int(501, 900), Int(303, 8)},
                 false},
        RuleCase{"T500Kind4NoField501",
                 4,
                 500,
                 {Int(500, 900), Int(502, kMinusOne32), Int(12, 1000), Int(501, kMinusOne32),
                  Int(303, 0)},
                 true},
        // Kind 1: E is field 12 minus (field 500 when field 306 is set, else 0).
        RuleCase{"T500Kind1Without306",
                 1,
                 500,
                 {Int(500, 20), Int(502, kMinusOne32), Int(12, 1000), Int(501, kMinusOne32),
                  Int(306, 0), Int(303, 1)},
                 true},
        RuleCase{"T500Kind1Without306Above",
                 1,
                 500,
                 {Int(500, 21), Int(502, kMinusOne32), Int(12, 1000), Int(501, kMinusOne32),
                  Int(306, 0), Int(303, 1)},
                 false},
        RuleCase{"T500Kind1With306",
                 1,
                 500,
                 {Int(500, 300), Int(502, kMinusOne32), Int(12, 1000), Int(501, kMinusOne32),
                  Int(306, 1), Int(303, 1)},
                 true},
        // Token 501.
        RuleCase{"T501MinusOneKind3", 3, 501, {Int(501, kMinusOne32), Int(12, 100)}, true},
        RuleCase{"T501PartKind3", 3, 501, {Int(501, 50), Int(12, 100)}, false},
        RuleCase{"T501AllKind3", 3, 501, {Int(501, 100), Int(12, 100)}, true},
        RuleCase{"T501PartKind4", 4, 501, {Int(501, 50), Int(12, 100), Int(500, 50)}, true},
        RuleCase{"T501PartKind4TooMuch", 4, 501, {Int(501, 50), Int(12, 100), Int(500, 51)}, false},
        RuleCase{"T501PartWith306", 1, 501, {Int(501, 50), Int(12, 100), Int(306, 1)}, true},
        RuleCase{"T501AboveField12", 4, 501, {Int(501, 101), Int(12, 100)}, false},
        RuleCase{"T501MinusTwo", 4, 501, {Int(501, -2), Int(12, 100)}, false},
        RuleCase{"T501Kind2Zero", 2, 501, {Int(501, 0)}, true},
        RuleCase{"T501Kind2MinusOne", 2, 501, {Int(501, kMinusOne32)}, false},
        // Token 601.
        RuleCase{"T601AtField80", 1, 601, {Int(601, 40), Int(80, 40), Int(501, 10)}, true},
        RuleCase{"T601AboveField80", 1, 601, {Int(601, 41), Int(80, 40)}, false},
        RuleCase{
            "T601ByField501", 1, 601, {Int(601, 11), Int(80, kMinusOne32), Int(501, 10)}, false},
        RuleCase{
            "T601ByRemainder",
            1,
            601,
            {Int(601, 70), Int(80, kMinusOne32), Int(501, kMinusOne32), Int(12, 100), Int(500, 30)},
            true},
        RuleCase{"T601Negative", 1, 601, {Int(601, kMinusOne32), Int(80, 5)}, false},
        RuleCase{"T601Kind2Set", 2, 601, {Int(601, 1)}, false},
        // Token 701.
        RuleCase{"T701MinusOne", 3, 701, {Int(701, kMinusOne32), Int(501, 100)}, true},
        RuleCase{"T701Top", 3, 701, {Int(701, 64000), Int(501, 100)}, true},
        RuleCase{"T701AboveTop", 3, 701, {Int(701, 64001), Int(501, 100)}, false},
        RuleCase{"T701BelowField501", 3, 701, {Int(701, 99), Int(501, 100)}, false},
        RuleCase{"T701BelowRemainder",
                 3,
                 701,
                 {Int(701, 69), Int(501, kMinusOne32), Int(12, 100), Int(500, 30)},
                 false},
        RuleCase{"T701AtRemainder",
                 3,
                 701,
                 {Int(701, 70), Int(501, kMinusOne32), Int(12, 100), Int(500, 30)},
                 true},
        RuleCase{"T701Kind2Zero", 2, 701, {Int(701, 0)}, true}),
    CaseName);

}  // namespace
}  // namespace qz7::config
