// Where the apply step of sqlfvald stores each parameter token's value in the configuration
// file image, and how it converts the value: one table per token family. A token appears in
// exactly one family; a token in none of them stores nothing (the check step then decides).
//
// Every row names its field in the qz7systm field map (base/dbm_fields.h). The tables are
// constexpr data so that they and the check rules can be verified against that map and each
// other when the library is compiled (config_tokens.cc, parameter_checks.cc).
#ifndef QZ7_CONFIG_CONFIG_TOKENS_H_
#define QZ7_CONFIG_CONFIG_TOKENS_H_

#include <cstdint>
#include <span>

#include "base/dbm_fields.h"
#include "config/config_image.h"

namespace qz7::config {

using base::DbmField;
// The rows below spell the field names bare.
using namespace base::dbm;

// The field of the tokens that store nothing.
inline constexpr DbmField kNoField = {};

// The commit token: asks for the image to be written when every record is accepted.
constexpr uint16_t kCommitToken = 9999;

// Integer tokens: the value is converted as a decimal integer (atoi) and its low bits stored.
// No range is checked here.
struct IntegerToken {
  uint16_t token;
  DbmField field;
};

inline constexpr IntegerToken kIntegerTokens[] = {
    {1, kParam1},     {6, kParam6},     {12, kParam12},   {13, kParam13},   {15, kParam15},
    {18, kParam18},   {19, kParam19},   {21, kParam21},   {41, kParam41},   {43, kParam43},
    {44, kParam44},   {45, kParam45},   {49, kParam49},   {61, kParam61},   {64, kParam64},
    {68, kParam68},   {69, kParam69},   {72, kParam72},   {79, kParam79},   {80, kParam80},
    {82, kParam82},   {90, kParam90},   {91, kParam91},   {303, kParam303}, {310, kQuerySentryHeap},
    {312, kParam312}, {500, kParam500}, {501, kParam501}, {502, kParam502}, {503, kParam503},
    {504, kParam504}, {505, kParam505}, {506, kParam506}, {508, kParam508}, {509, kParam509},
    {510, kParam510}, {511, kParam511}, {601, kParam601}, {701, kParam701},
};

// Text tokens: a value of more than limit characters is rejected and leaves the field alone;
// otherwise the value and its terminating zero are copied (bytes behind the zero keep what they
// held). The limit is the field's width less the zero.
struct TextToken {
  uint16_t token;
  DbmField field;
  constexpr uint16_t limit() const { return static_cast<uint16_t>(field.width - 1); }
};

inline constexpr TextToken kTextTokens[] = {
    {7, kParam7},    {24, kParam24},          {25, kParam25},
    {27, kParam27},  {28, kParam28},          {305, kServerProtocolText},
    {39, kParam39},  {47, kParam47},          {48, kParam48},
    {65, kParam65},  {62, kParam62},          {63, kParam63},
    {66, kParam66},  {67, kFirstConnectName}, {74, kParam74},
    {75, kParam75},  {76, kParam76},          {77, kNodeProtocolText},
    {92, kNodeName}, {313, kParam313},        {311, kParam311},
};

// Keyword tokens: the value is compared with the token's keywords by KeywordEquals in table
// order; the first match decides the 16-bit number stored. No match rejects the record and
// leaves the field alone.
//
// kAskHostForProcessors marks token 306's "SYSTEM": the host's processor information decides
// (1 when it reports more than one processor, else 0; a failing query rejects the record).
constexpr int16_t kAskHostForProcessors = -1;

struct KeywordChoice {
  uint16_t token;
  DbmField field;
  const char* keyword;
  int16_t number;
};

inline constexpr KeywordChoice kKeywordChoices[] = {
    {20, kParam20, "ACCESS", 1},
    {20, kParam20, "RESTART", 2},
    {40, kParam40, "YES", 1},
    {40, kParam40, "NO", 0},
    {73, kParam73, "DCE", 1},
    {73, kParam73, "NONE", 0},
    {78, kParam78, "CLIENT", 1},
    {78, kParam78, "DCS", 2},
    {78, kParam78, "SERVER", 0},
    {78, kParam78, "SERVER_ENCRYPT", 4},
    {78, kParam78, "DCS_ENCRYPT", 5},
    {81, kParam81, "YES", 1},
    {81, kParam81, "NO", 0},
    {304, kParam304, "DISABLE", 0},
    {304, kParam304, "KNOWN", 1},
    {304, kParam304, "SEARCH", 2},
    {306, kParam306, "SYSTEM", kAskHostForProcessors},
    {306, kParam306, "YES", 1},
    {306, kParam306, "ON", 1},
    {306, kParam306, "NO", 0},
    {306, kParam306, "OFF", 0},
    {308, kParam308, "ENABLE", 1},
    {308, kParam308, "DISABLE", 0},
    {309, kParam309, "YES", 1},
    {309, kParam309, "ON", 1},
    {309, kParam309, "NO", 0},
    {309, kParam309, "OFF", 0},
    {314, kParam314, "YES", 1},
    {314, kParam314, "1", 1},
    {314, kParam314, "NO", 0},
    {314, kParam314, "0", 0},
    {602, kParam602, "YES", 1},
    {602, kParam602, "NO", 0},
    {603, kParam603, "YES", 1},
    {603, kParam603, "NO", 0},
    {604, kDistributedJoin, "YES", 1},
    {604, kDistributedJoin, "NO", 0},
};

// Bit tokens: a keyword sets and clears single bits of a 16-bit word and leaves the other bits
// alone. No match rejects the record and leaves the word alone.
struct BitChoice {
  uint16_t token;
  DbmField field;
  const char* keyword;
  uint16_t set;
  uint16_t clear;
};

inline constexpr BitChoice kBitChoices[] = {
    {30, kParam30To35, "ON", 0x0001, 0},
    {30, kParam30To35, "OFF", 0, 0x0001},
    {31, kParam30To35, "ON", 0x0002, 0},
    {31, kParam30To35, "OFF", 0, 0x0002},
    {32, kParam30To35, "ON", 0x0004, 0},
    {32, kParam30To35, "OFF", 0, 0x0004},
    {33, kParam30To35, "ON", 0x0008, 0},
    {33, kParam30To35, "OFF", 0, 0x0008},
    {34, kParam30To35, "ON", 0x0010, 0},
    {34, kParam30To35, "OFF", 0, 0x0010},
    {35, kParam30To35, "ON", 0x0020, 0},
    {35, kParam30To35, "OFF", 0, 0x0020},
    {301, kParam301And302, "YES", 0x0001, 0x0004},
    {301, kParam301And302, "NO", 0, 0x0005},
    {301, kParam301And302, "DRDAONLY", 0x0004, 0x0001},
    {302, kParam301And302, "YES", 0x0002, 0},
    {302, kParam301And302, "NO", 0, 0x0002},
};

// Tokens with a rule of their own.
enum class SpecialRule : uint8_t {
  kSystemOrInteger,    // "SYSTEM" stores 0, anything else is converted as an integer
  kProcessorSpeed,     // float; about -1 asks the host for the processor speed
  kFloat,              // converted with atof and stored as a float
  kFourCharacters,     // first 4 characters, zero-filled, then a zero byte (5 bytes)
  kIntegerZeroToFour,  // integer stored; rejected unless it reads 0..4 as signed 16-bit
  kStoresNothing,      // no field; the check step decides
  kCommit,             // the commit token; no field
};

struct SpecialToken {
  uint16_t token;
  DbmField field;  // kNoField for the tokens without a field
  SpecialRule rule;
};

inline constexpr SpecialToken kSpecialTokens[] = {
    {26, kParam26, SpecialRule::kSystemOrInteger},
    {42, kProcessorSpeed, SpecialRule::kProcessorSpeed},
    {307, kCommBandwidth, SpecialRule::kFloat},
    {71, kParam71, SpecialRule::kFourCharacters},
    {605, kParam605, SpecialRule::kIntegerZeroToFour},
    {507, kNoField, SpecialRule::kStoresNothing},
    {9998, kNoField, SpecialRule::kStoresNothing},
    {kCommitToken, kNoField, SpecialRule::kCommit},
};

// The value of "about -1": strictly between these two. Token 42 asks the host for the
// processor speed when its value lies there; the checks accept it as "measure at run time".
constexpr double kAboutMinusOneLow = -1.0001;
constexpr double kAboutMinusOneHigh = -0.9999;
constexpr bool IsAboutMinusOne(double value) {
  return value > kAboutMinusOneLow && value < kAboutMinusOneHigh;
}

// The row of a token in its family's table, or null when the token is not in that family.
const IntegerToken* FindIntegerToken(uint16_t token);
const TextToken* FindTextToken(uint16_t token);
const SpecialToken* FindSpecialToken(uint16_t token);
// The keyword and bit choices of a token, in table order (empty when it has none).
std::span<const KeywordChoice> KeywordChoicesOf(uint16_t token);
std::span<const BitChoice> BitChoicesOf(uint16_t token);

// The width of an integer field of the map.
constexpr Width WidthOf(const DbmField& field) {
  return field.width == 2 ? Width::k16 : Width::k32;
}

// The integer field a token's value lands in (integer, keyword, bit and the integer special
// tokens); false for text, float and field-less tokens. Used at compile time to check the
// range rules against these tables.
constexpr bool IntegerFieldOf(uint16_t token, DbmField* field) {
  for (const IntegerToken& row : kIntegerTokens) {
    if (row.token == token) {
      *field = row.field;
      return true;
    }
  }
  for (const KeywordChoice& row : kKeywordChoices) {
    if (row.token == token) {
      *field = row.field;
      return true;
    }
  }
  for (const BitChoice& row : kBitChoices) {
    if (row.token == token) {
      *field = row.field;
      return true;
    }
  }
  for (const SpecialToken& row : kSpecialTokens) {
    if (row.token == token && (row.rule == SpecialRule::kSystemOrInteger ||
                               row.rule == SpecialRule::kIntegerZeroToFour)) {
      *field = row.field;
      return true;
    }
  }
  return false;
}

// The offset of the 32-bit integer field of a token; a compile error when the token has none.
consteval uint16_t Field32(uint16_t token) {
  DbmField field = kNoField;
  if (!IntegerFieldOf(token, &field) || field.width != 4) {
    throw "token has no 32-bit integer field";
  }
  return field.offset;
}
consteval uint16_t Field16(uint16_t token) {
  DbmField field = kNoField;
  if (!IntegerFieldOf(token, &field) || field.width != 2) {
    throw "token has no 16-bit integer field";
  }
  return field.offset;
}

}  // namespace qz7::config

#endif  // QZ7_CONFIG_CONFIG_TOKENS_H_
