#include "config/cross_field_checks.h"

#include <algorithm>

#include "config/config_tokens.h"

namespace qz7::config {
namespace {

// The fields these rules read, named by the token that sets them.
constexpr uint16_t kField12 = Field32(12);
constexpr uint16_t kField13 = Field32(13);
constexpr uint16_t kField80 = Field32(80);
constexpr uint16_t kField303 = Field32(303);
constexpr uint16_t kField306 = Field16(306);
constexpr uint16_t kField500 = Field32(500);
constexpr uint16_t kField501 = Field32(501);
constexpr uint16_t kField502 = Field32(502);
constexpr uint16_t kField601 = Field32(601);
constexpr uint16_t kField701 = Field32(701);

constexpr uint32_t kMinusOne = 0xFFFFFFFFu;

// Every comparison below is of the unsigned 32-bit bits unless it goes through Signed();
// differences and products wrap modulo 2^32.
int32_t Signed(uint32_t bits) { return static_cast<int32_t>(bits); }

struct Fields {
  explicit Fields(const ConfigFileImage& image)
      : kind(NodeKind(image)),
        f12(Load32(image, kField12)),
        f80(Load32(image, kField80)),
        f303(Load32(image, kField303)),
        f306(Load16(image, kField306)),
        f500(Load32(image, kField500)),
        f501(Load32(image, kField501)),
        f502(Load32(image, kField502)) {}

  // What remains of field 12 when field 500 is taken from it.
  uint32_t Remainder() const { return f12 - f500; }

  uint16_t kind;
  uint32_t f12, f80, f303;
  uint16_t f306;
  uint32_t f500, f501, f502;
};

// Tokens 13 and 80 share a shape: -1, or from a minimum up to field 501 (signed) when field 501
// is set, else up to the remainder of field 12 (unsigned).
bool IsMinusOneOrUpToAgentLimit(uint32_t value, const Fields& f, int32_t minimum) {
  if (value == kMinusOne) return true;
  if (Signed(value) < minimum) return false;
  if (f.f501 != kMinusOne) return Signed(value) <= Signed(f.f501);
  return value <= f.Remainder();
}

bool Check13(const ConfigFileImage& image) {
  Fields f(image);
  if (f.kind == 2) return true;
  return IsMinusOneOrUpToAgentLimit(Load32(image, kField13), f, 1);
}

bool Check80(const ConfigFileImage& image) {
  Fields f(image);
  uint32_t value = Load32(image, kField80);
  if (f.kind == 2) return value == 0;
  return IsMinusOneOrUpToAgentLimit(value, f, 0);
}

bool Check500(const ConfigFileImage& image) {
  Fields f(image);
  uint32_t value = f.f500;
  if (f.kind == 2) return value == 0;
  bool valid = true;
  uint32_t limit;
  if (f.f502 != kMinusOne) {
    limit = f.f502;
  } else {
    if (value > f.f12) valid = false;
    if (f.kind == 4) {
      uint32_t e = f.f501 != kMinusOne ? f.f501 : f.Remainder();
      limit = std::max(f.f12 - e, (f.f12 / 10) * f.f303);
    } else if (f.kind == 1) {
      uint32_t e = f.f501 != kMinusOne ? f.f501 : f.f12 - (f.f306 != 0 ? f.f500 : 0);
      limit = std::max(f.f12 - e, (f.f12 / 50) * f.f303);
    } else {
      limit = std::max(f.f303, f.f12 / 50);
    }
  }
  if (value > limit) valid = false;
  return valid;
}

bool Check501(const ConfigFileImage& image) {
  Fields f(image);
  uint32_t value = f.f501;
  if (f.kind == 2) return value == 0;
  bool valid = true;
  if (Signed(value) < 0 && value != kMinusOne) valid = false;
  if (Signed(value) > Signed(f.f12)) valid = false;
  if (value != kMinusOne && f.f500 + value > f.f12) valid = false;
  // Outside partitioned instances, and unless field 306 is set, the value is -1 or all of 12.
  if (f.kind != 4 && f.f306 == 0 && value != kMinusOne && value != f.f12) valid = false;
  return valid;
}

bool Check601(const ConfigFileImage& image) {
  Fields f(image);
  uint32_t value = Load32(image, kField601);
  if (f.kind == 2) return value == 0;
  if (Signed(value) < 0) return false;
  if (f.f80 != kMinusOne) return Signed(value) <= Signed(f.f80);
  if (f.f501 != kMinusOne) return Signed(value) <= Signed(f.f501);
  return value <= f.Remainder();
}

bool Check701(const ConfigFileImage& image) {
  Fields f(image);
  uint32_t value = Load32(image, kField701);
  if (f.kind == 2) return value == 0;
  if (Signed(value) > 64000) return false;
  if (value == kMinusOne) return true;
  if (f.f501 != kMinusOne) return Signed(value) >= Signed(f.f501);
  return value >= f.Remainder();
}

constexpr CrossFieldRule kCrossFieldRules[] = {
    {13, Check13},   {80, Check80},   {500, Check500},
    {501, Check501}, {601, Check601}, {701, Check701},
};

}  // namespace

const CrossFieldRule* FindCrossFieldRule(uint16_t token) {
  auto row = std::ranges::find(kCrossFieldRules, token, &CrossFieldRule::token);
  return row == std::end(kCrossFieldRules) ? nullptr : &*row;
}

}  // namespace qz7::config
