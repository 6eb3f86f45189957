// The rules the check step of sqlfvald holds each stored value to, one table per rule family.
// Most rules depend on the node kind of the image (NodeKind): under kind 2
// nearly every numeric field must be 0 and several texts empty, under kind 0 the node-only
// fields must be 0 or empty, and some fields may be set only under kind 4.
//
// Ranges include both ends. Unsigned compares the field's bits as an unsigned number (a 32-bit
// -1 is then 4294967295); signed sign-extends the field first. -1 is all bits set in the
// field's width.
#ifndef QZ7_CONFIG_CHECK_RULES_H_
#define QZ7_CONFIG_CHECK_RULES_H_

#include <cstdint>
#include <initializer_list>

#include "config/config_image.h"
#include "config/config_tokens.h"

namespace qz7::config {

// A set of node kinds: bits 0 to 5 for kinds 0 to 5, kOtherKinds for every kind above 5.
using KindSet = uint8_t;
constexpr KindSet kOtherKinds = 0x40;
constexpr KindSet Kinds(std::initializer_list<int> kinds) {
  KindSet set = 0;
  for (int kind : kinds) set |= static_cast<KindSet>(1u << kind);
  return set;
}
constexpr KindSet kEveryKind = 0x7F;
constexpr bool KindIn(KindSet set, uint16_t kind) {
  return (set & (kind <= 5 ? (1u << kind) : kOtherKinds)) != 0;
}

// What the node kind decides before the range is looked at.
enum class KindGate : uint8_t {
  kAllKinds,             // the range applies under every kind
  kZeroUnderKind0,       // kind 0: the field must be 0; otherwise the range
  kZeroUnderKind2,       // kind 2: the field must be 0; otherwise the range
  kOneUnderKind2,        // kind 2: the field must be 1; otherwise the range
  kZeroUnderKinds0And2,  // kinds 0 and 2: the field must be 0; otherwise the range
  kZeroUnlessKind4,      // kind 4: the range; every other kind: the field must be 0
};

enum class Order : uint8_t { kUnsigned, kSigned };

// A 32-bit field the value is compared with (no bound when the field is kNoField).
struct FieldBound {
  DbmField field = kNoField;
  Order order = Order::kUnsigned;
};

struct NumericRule {
  uint16_t token;
  DbmField field;  // the one the token's apply row writes (checked in parameter_checks.cc)
  KindGate gate;
  Order order;           // how low and high are compared
  bool minusOneAllowed;  // -1 is accepted besides the range
  int64_t low;
  int64_t high;
  FieldBound notAbove = {};  // the value must not exceed this field (-1 included)
  FieldBound notBelow = {};  // the value must not be below this field
};

constexpr int64_t kMax16 = 0xFFFF;
constexpr int64_t kMax32Signed = INT32_MAX;

// Floats are widened to double and compared with these constants. Under the gate's kinds the
// field must be exactly 0.0; otherwise about -1 (IsAboutMinusOne) or low..high.
struct FloatRule {
  uint16_t token;
  DbmField field;
  KindGate gate;  // kZeroUnderKind2 or kZeroUnlessKind4
  double low;
  double high;
};

// What a text must look like beyond being empty where its kind forbids text.
enum class TextSyntax : uint8_t {
  kAnyText,
  kBlankOrShortName,    // trailing blanks dropped; then empty, or a name of 1 to 8 characters
  kNameCharacters,      // letters, digits, $ # @ and the full stop
  kAtMost215,           // at most 215 characters
  kDceCellName,         // when kParam73 is 1: begins with "/.../" or "/.:/"
  kDceNames,            // when kParam73 is not 0: texts 74 and 75 set; together at most 255
  kNodeProtocolList,    // empty, or a list over kNodeProtocols, compared with case
  kValueShortName,      // field empty, or the record's own value is a name of at most 8
  kServerProtocolList,  // the rule of token 305, which also looks at kParam304
};

struct TextRule {
  uint16_t token;
  DbmField field;
  KindSet mayHoldText;  // under every other kind the text must be empty, nothing else tested
  TextSyntax syntax;
};

constexpr KindSet kNotKind0 = kEveryKind & ~Kinds({0});
constexpr KindSet kNotKind2 = kEveryKind & ~Kinds({2});

// Tokens judged by the node kind alone; their field is not tested.
struct KindOnlyRule {
  uint16_t token;
  KindSet accepted;
};

// The tables spell enumerators bare so that a row reads like a line of the rule it implements.
namespace rules {
using enum Width;
using enum KindGate;
using enum Order;
using enum TextSyntax;

inline constexpr NumericRule kNumericRules[] = {
    // token field  gate                 compare  -1?    low   high
    {1, kParam1, kZeroUnderKind0, kUnsigned, false, 4096, kMax16},
    {72, kParam72, kZeroUnderKind0, kUnsigned, false, 4096, kMax16},
    {6, kParam6, kZeroUnderKind2, kUnsigned, false, 1, 256},
    {12, kParam12, kZeroUnderKind2, kUnsigned, false, 1, 64000},
    {15, kParam15, kZeroUnderKind2, kUnsigned, false, 1, 524288},
    {18, kParam18, kZeroUnderKind2, kUnsigned, false, 16, 524288},
    {19, kParam19, kZeroUnderKind2, kUnsigned, false, 16, 524288},
    {20, kParam20, kOneUnderKind2, kUnsigned, false, 1, 2},
    {21, kParam21, kZeroUnderKind2, kUnsigned, false, 250, 2097152},
    {81, kParam81, kZeroUnderKind2, kUnsigned, false, 0, 1},
    {26, kParam26, kZeroUnderKind2, kSigned, true, 0, 6},
    {29, kParam30To35, kZeroUnderKind2, kUnsigned, false, 0, 0x3F},
    {30, kParam30To35, kZeroUnderKind2, kUnsigned, false, 0, 0x3F},
    {31, kParam30To35, kZeroUnderKind2, kUnsigned, false, 0, 0x3F},
    {32, kParam30To35, kZeroUnderKind2, kUnsigned, false, 0, 0x3F},
    {33, kParam30To35, kZeroUnderKind2, kUnsigned, false, 0, 0x3F},
    {34, kParam30To35, kZeroUnderKind2, kUnsigned, false, 0, 0x3F},
    {35, kParam30To35, kZeroUnderKind2, kUnsigned, false, 0, 0x3F},
    {40, kParam40, kAllKinds, kUnsigned, false, 0, 1},
    {41, kParam41, kZeroUnderKind0, kUnsigned, false, 16, 60000},
    {43, kParam43, kZeroUnderKind2, kUnsigned, false, 32, 112000},
    {44, kParam44, kZeroUnderKind2, kSigned, true, 32, 112000},
    {45, kParam45, kZeroUnderKind2, kUnsigned, false, 100, 32768},
    {49, kParam49, kZeroUnderKind2, kSigned, false, 2, 524288, {}, {kParam15, kUnsigned}},
    {61, kParam61, kZeroUnderKind2, kUnsigned, false, 8, 1000},
    {64, kParam64, kAllKinds, kUnsigned, false, 0, 4},
    {68, kParam68, kZeroUnderKind2, kUnsigned, false, 1, 60000},
    {69, kParam69, kZeroUnderKind2, kUnsigned, false, 128, 60000},
    {73, kParam73, kZeroUnderKind0, kUnsigned, false, 0, 1},
    {78, kParam78, kAllKinds, kUnsigned, false, 0, 8},
    {79, kParam79, kZeroUnderKind2, kUnsigned, false, 0, 60000},
    {82, kParam82, kAllKinds, kUnsigned, false, 0, 15},
    {90, kParam90, kZeroUnderKind2, kSigned, false, 4, 1000},
    {91, kParam91, kZeroUnderKind2, kSigned, false, 10, 256},
    {303, kParam303, kZeroUnderKind2, kSigned, true, 1, 32767},
    {304, kParam304, kZeroUnderKind0, kUnsigned, false, 0, 2},
    {306, kParam306, kAllKinds, kSigned, false, 0, 1},
    {308, kParam308, kZeroUnderKinds0And2, kUnsigned, false, 0, 1},
    {310, kQuerySentryHeap, kAllKinds, kSigned, false, 0, 4096},
    {312, kParam312, kZeroUnderKind2, kSigned, false, 0, 65000},
    {314, kParam314, kAllKinds, kUnsigned, false, 0, 1},
    {502, kParam502, kZeroUnderKind2, kSigned, true, 0, kMax32Signed, {kParam12, kSigned}},
    {503, kParam503, kZeroUnderKind2, kUnsigned, false, 128, 65300},
    {504, kParam504, kZeroUnderKind2, kUnsigned, false, 128, 120000},
    {505, kParam505, kZeroUnderKind2, kSigned, true, 128, kMax32Signed, {kParam504, kSigned}},
    {506, kParam506, kZeroUnderKind2, kSigned, true, 128, kMax32Signed, {kParam504, kSigned}},
    {508, kParam508, kZeroUnlessKind4, kUnsigned, false, 0, 100},
    {509, kParam509, kZeroUnlessKind4, kUnsigned, false, 0, 100},
    {510, kParam510, kZeroUnlessKind4, kUnsigned, false, 1, 1440},
    {511, kParam511, kZeroUnlessKind4, kUnsigned, false, 1, 1440},
    {602, kParam602, kZeroUnderKind2, kUnsigned, false, 0, 1},
    {603, kParam603, kZeroUnderKind2, kUnsigned, false, 0, 1},
};

inline constexpr FloatRule kFloatRules[] = {
    {42, kProcessorSpeed, kZeroUnderKind2, 1e-10, 1.0},
    {307, kCommBandwidth, kZeroUnlessKind4, 0.1, 100000.0},
};

inline constexpr TextRule kTextRules[] = {
    {7, kParam7, kNotKind0, kBlankOrShortName},
    {24, kParam24, Kinds({1, 3, 4, 5}), kAnyText},
    {25, kParam25, Kinds({1, 3, 4}), kNameCharacters},
    {27, kParam27, kNotKind2, kAnyText},
    {28, kParam28, kNotKind0, kAnyText},
    {47, kParam47, Kinds({1, 3, 4}), kAnyText},
    {48, kParam48, Kinds({1, 3, 4}), kAnyText},
    {65, kParam65, kEveryKind, kAtMost215},
    {74, kParam74, kNotKind0, kDceCellName},
    {75, kParam75, kNotKind0, kDceNames},
    {76, kParam76, kNotKind0, kAnyText},
    {77, kNodeProtocolText, kNotKind0, kNodeProtocolList},
    {92, kNodeName, kNotKind2, kValueShortName},
    {305, kServerProtocolText, kEveryKind,
     kServerProtocolList},  // kind 0 handled by the rule itself
};

inline constexpr KindOnlyRule kKindOnlyRules[] = {
    {604, Kinds({1, 2, 3, 4})},
};

// Tokens accepted without a test.
inline constexpr uint16_t kUntestedTokens[] = {39,  62,  63,  66,  67,   71,          301,
                                               302, 309, 311, 605, 9998, kCommitToken};

// Tokens always rejected (and so is every token no table names): 313's text is stored but
// may not be set through this interface; 507 has no field.
inline constexpr uint16_t kRejectedTokens[] = {313, 507};

// DCE cell names begin with one of these.
inline constexpr const char* kDceCellPrefixes[] = {"/.../", "/.:/"};

}  // namespace rules

}  // namespace qz7::config

#endif  // QZ7_CONFIG_CHECK_RULES_H_
