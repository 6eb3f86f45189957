// Where the apply step of sqlfvald stores each parameter token's value in the configuration
// file image, and how it converts the value: one table per token family. A token appears in
// exactly one family; a token in none of them stores nothing (the check step then decides).
//
// The tables are constexpr data so the check rules can be verified against them when the
// library is compiled (config_tokens.cc).
#ifndef QZ7_CONFIG_CONFIG_TOKENS_H_
#define QZ7_CONFIG_CONFIG_TOKENS_H_

#include <cstdint>
#include <span>

#include "config/config_image.h"

namespace qz7::config {

// The commit token: asks for the image to be written when every record is accepted.
constexpr uint16_t kCommitToken = 9999;

// Integer tokens: the value is converted as a decimal integer (atoi) and its low bits stored.
// No range is checked here.
struct IntegerToken {
  uint16_t token;
  uint16_t offset;
  Width width;
};

inline constexpr IntegerToken kIntegerTokens[] = {
    {1, 0x24, Width::k16},    {6, 0x2C, Width::k16},    {12, 0x4C, Width::k32},
    {13, 0x50, Width::k32},   {15, 0x58, Width::k32},   {18, 0x44, Width::k32},
    {19, 0x48, Width::k32},   {21, 0x40, Width::k32},   {41, 0x31C, Width::k16},
    {43, 0x320, Width::k32},  {44, 0x324, Width::k32},  {45, 0x330, Width::k16},
    {49, 0x32C, Width::k32},  {61, 0x40E, Width::k16},  {64, 0x40A, Width::k16},
    {68, 0x452, Width::k16},  {69, 0x45A, Width::k16},  {72, 0x12, Width::k16},
    {79, 0x432, Width::k16},  {80, 0x5C, Width::k32},   {82, 0x45C, Width::k16},
    {90, 0x78C, Width::k32},  {91, 0x790, Width::k32},  {303, 0x18, Width::k32},
    {310, 0xC34, Width::k32}, {312, 0x20, Width::k32},  {500, 0xC08, Width::k32},
    {501, 0xC0C, Width::k32}, {502, 0xC10, Width::k32}, {503, 0xC14, Width::k32},
    {504, 0xC18, Width::k32}, {505, 0xC1C, Width::k32}, {506, 0xC20, Width::k32},
    {508, 0xC28, Width::k16}, {509, 0xC2A, Width::k16}, {510, 0xC2C, Width::k16},
    {511, 0xC2E, Width::k16}, {601, 0x798, Width::k32}, {701, 0xC24, Width::k32},
};

// Text tokens: a value of more than limit characters is rejected and leaves the field alone;
// otherwise the value and its terminating zero are copied (bytes behind the zero keep what they
// held). The field is limit + 1 bytes.
struct TextToken {
  uint16_t token;
  uint16_t offset;
  uint16_t limit;
};

inline constexpr TextToken kTextTokens[] = {
    {7, 0x34, 8},      {24, 0x64, 14},   {25, 0x73, 64},  {27, 0xB4, 215}, {28, 0x18C, 25},
    {305, 0x1A6, 35},  {39, 0x2A7, 16},  {47, 0x2B8, 48}, {48, 0x2E9, 48}, {65, 0x332, 215},
    {62, 0x410, 16},   {63, 0x421, 16},  {66, 0x434, 19}, {67, 0x448, 8},  {74, 0x46A, 255},
    {75, 0x56A, 255},  {76, 0x66A, 255}, {77, 0x76A, 31}, {92, 0x7B0, 8},  {313, 0x7B9, 226},
    {311, 0xC38, 255},
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
  uint16_t offset;
  const char* keyword;
  int16_t number;
};

inline constexpr KeywordChoice kKeywordChoices[] = {
    {20, 0x3E, "ACCESS", 1},
    {20, 0x3E, "RESTART", 2},
    {40, 0x31A, "YES", 1},
    {40, 0x31A, "NO", 0},
    {73, 0x468, "DCE", 1},
    {73, 0x468, "NONE", 0},
    {78, 0x78A, "CLIENT", 1},
    {78, 0x78A, "DCS", 2},
    {78, 0x78A, "SERVER", 0},
    {78, 0x78A, "SERVER_ENCRYPT", 4},
    {78, 0x78A, "DCS_ENCRYPT", 5},
    {81, 0x60, "YES", 1},
    {81, 0x60, "NO", 0},
    {304, 0x16, "DISABLE", 0},
    {304, 0x16, "KNOWN", 1},
    {304, 0x16, "SEARCH", 2},
    {306, 0x26, "SYSTEM", kAskHostForProcessors},
    {306, 0x26, "YES", 1},
    {306, 0x26, "ON", 1},
    {306, 0x26, "NO", 0},
    {306, 0x26, "OFF", 0},
    {308, 0x30, "ENABLE", 1},
    {308, 0x30, "DISABLE", 0},
    {309, 0x796, "YES", 1},
    {309, 0x796, "ON", 1},
    {309, 0x796, "NO", 0},
    {309, 0x796, "OFF", 0},
    {314, 0x2E, "YES", 1},
    {314, 0x2E, "1", 1},
    {314, 0x2E, "NO", 0},
    {314, 0x2E, "0", 0},
    {602, 0x32, "YES", 1},
    {602, 0x32, "NO", 0},
    {603, 0x466, "YES", 1},
    {603, 0x466, "NO", 0},
    {604, 0x56, "YES", 1},
    {604, 0x56, "NO", 0},
};

// Bit tokens: a keyword sets and clears single bits of a 16-bit word and leaves the other bits
// alone. No match rejects the record and leaves the word alone.
struct BitChoice {
  uint16_t token;
  uint16_t offset;
  const char* keyword;
  uint16_t set;
  uint16_t clear;
};

inline constexpr BitChoice kBitChoices[] = {
    {30, 0x31E, "ON", 0x0001, 0},
    {30, 0x31E, "OFF", 0, 0x0001},
    {31, 0x31E, "ON", 0x0002, 0},
    {31, 0x31E, "OFF", 0, 0x0002},
    {32, 0x31E, "ON", 0x0004, 0},
    {32, 0x31E, "OFF", 0, 0x0004},
    {33, 0x31E, "ON", 0x0008, 0},
    {33, 0x31E, "OFF", 0, 0x0008},
    {34, 0x31E, "ON", 0x0010, 0},
    {34, 0x31E, "OFF", 0, 0x0010},
    {35, 0x31E, "ON", 0x0020, 0},
    {35, 0x31E, "OFF", 0, 0x0020},
    {301, 0x794, "YES", 0x0001, 0x0004},
    {301, 0x794, "NO", 0, 0x0005},
    {301, 0x794, "DRDAONLY", 0x0004, 0x0001},
    {302, 0x794, "YES", 0x0002, 0},
    {302, 0x794, "NO", 0, 0x0002},
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
  uint16_t offset;  // 0 for the tokens without a field
  SpecialRule rule;
};

inline constexpr SpecialToken kSpecialTokens[] = {
    {26, 0x62, SpecialRule::kSystemOrInteger},
    {42, 0x328, SpecialRule::kProcessorSpeed},
    {307, 0xC30, SpecialRule::kFloat},
    {71, 0x454, SpecialRule::kFourCharacters},
    {605, 0x54, SpecialRule::kIntegerZeroToFour},
    {507, 0, SpecialRule::kStoresNothing},
    {9998, 0, SpecialRule::kStoresNothing},
    {kCommitToken, 0, SpecialRule::kCommit},
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

// The offset and width of the integer field a token's value lands in (integer, keyword, bit and
// the integer special tokens); false for text, float and field-less tokens. Used at compile
// time to check the range rules against these tables.
constexpr bool IntegerFieldOf(uint16_t token, uint16_t* offset, Width* width) {
  for (const IntegerToken& row : kIntegerTokens) {
    if (row.token == token) {
      *offset = row.offset;
      *width = row.width;
      return true;
    }
  }
  for (const KeywordChoice& row : kKeywordChoices) {
    if (row.token == token) {
      *offset = row.offset;
      *width = Width::k16;
      return true;
    }
  }
  for (const BitChoice& row : kBitChoices) {
    if (row.token == token) {
      *offset = row.offset;
      *width = Width::k16;
      return true;
    }
  }
  for (const SpecialToken& row : kSpecialTokens) {
    if (row.token == token && (row.rule == SpecialRule::kSystemOrInteger ||
                               row.rule == SpecialRule::kIntegerZeroToFour)) {
      *offset = row.offset;
      *width = Width::k16;
      return true;
    }
  }
  return false;
}

// The offset of the 32-bit integer field of a token; a compile error when the token has none.
consteval uint16_t Field32(uint16_t token) {
  uint16_t offset = 0;
  Width width = Width::k16;
  if (!IntegerFieldOf(token, &offset, &width) || width != Width::k32) {
    throw "token has no 32-bit integer field";
  }
  return offset;
}
consteval uint16_t Field16(uint16_t token) {
  uint16_t offset = 0;
  Width width = Width::k32;
  if (!IntegerFieldOf(token, &offset, &width) || width != Width::k16) {
    throw "token has no 16-bit integer field";
  }
  return offset;
}

}  // namespace qz7::config

#endif  // QZ7_CONFIG_CONFIG_TOKENS_H_
