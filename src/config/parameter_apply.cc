#include "config/parameter_apply.h"

#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "config/config_tokens.h"
#include "host/host_services.h"

namespace qz7::config {
namespace {

bool IsRuntimeSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

float NarrowToFloat(double value) {
  if (std::isnan(value)) return std::numeric_limits<float>::quiet_NaN();
  if (value > FLT_MAX) return std::numeric_limits<float>::infinity();
  if (value < -FLT_MAX) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(value);
}

// What one record's value did to the image.
enum class Verdict { kAccepted, kRejected };

Verdict ApplyInteger(ConfigFileImage& image, const IntegerToken& row, const char* value) {
  StoreField(image, row.field.offset, WidthOf(row.field),
             static_cast<uint32_t>(ConvertInteger(value)));
  return Verdict::kAccepted;
}

Verdict ApplyText(ConfigFileImage& image, const TextToken& row, const char* value) {
  size_t length = strnlen(value, row.field.width);
  if (length > row.limit()) return Verdict::kRejected;
  std::memcpy(image.data() + row.field.offset, value, length + 1);
  return Verdict::kAccepted;
}

Verdict ApplyKeyword(ConfigFileImage& image, std::span<const KeywordChoice> choices,
                     const char* value) {
  for (const KeywordChoice& choice : choices) {
    if (KeywordEquals(value, choice.keyword) != 0) continue;
    if (choice.number != kAskHostForProcessors) {
      Store16(image, choice.field.offset, static_cast<uint16_t>(choice.number));
      return Verdict::kAccepted;
    }
    host::CpuInfo info{};
    if (host::Host().GetCPUInfo(&info) != 0) return Verdict::kRejected;
    Store16(image, choice.field.offset, info.processorCount > 1 ? 1 : 0);
    return Verdict::kAccepted;
  }
  return Verdict::kRejected;
}

Verdict ApplyBits(ConfigFileImage& image, std::span<const BitChoice> choices, const char* value) {
  for (const BitChoice& choice : choices) {
    if (KeywordEquals(value, choice.keyword) != 0) continue;
    uint16_t word = Load16(image, choice.field.offset);
    Store16(image, choice.field.offset, static_cast<uint16_t>((word | choice.set) & ~choice.clear));
    return Verdict::kAccepted;
  }
  return Verdict::kRejected;
}

Verdict ApplySpecial(ConfigFileImage& image, const SpecialToken& row, const char* value,
                     unsigned char* commitRequested) {
  switch (row.rule) {
    case SpecialRule::kSystemOrInteger: {
      int32_t number = KeywordEquals(value, "SYSTEM") == 0 ? 0 : ConvertInteger(value);
      Store16(image, row.field.offset, static_cast<uint16_t>(number));
      return Verdict::kAccepted;
    }
    case SpecialRule::kProcessorSpeed: {
      double converted = 0;
      StoreFloat(image, row.field.offset, ConvertFloat(value, &converted));
      if (!IsAboutMinusOne(converted)) return Verdict::kAccepted;
      // About -1 means "measure this computer": the measured speed replaces it.
      float speed = 0;
      if (host::Host().Cpum(&speed) != 0) return Verdict::kRejected;
      StoreFloat(image, row.field.offset, speed);
      return Verdict::kAccepted;
    }
    case SpecialRule::kFloat: {
      double converted = 0;
      StoreFloat(image, row.field.offset, ConvertFloat(value, &converted));
      return Verdict::kAccepted;
    }
    case SpecialRule::kFourCharacters: {
      // A longer value is cut, not rejected.
      size_t length = strnlen(value, row.field.width - 1u);
      std::memset(image.data() + row.field.offset, 0, row.field.width);
      std::memcpy(image.data() + row.field.offset, value, length);
      return Verdict::kAccepted;
    }
    case SpecialRule::kIntegerZeroToFour: {
      Store16(image, row.field.offset, static_cast<uint16_t>(ConvertInteger(value)));
      int16_t stored = static_cast<int16_t>(Load16(image, row.field.offset));
      return stored >= 0 && stored <= 4 ? Verdict::kAccepted : Verdict::kRejected;
    }
    case SpecialRule::kStoresNothing:
      return Verdict::kAccepted;
    case SpecialRule::kCommit:
      *commitRequested = 1;
      return Verdict::kAccepted;
  }
  return Verdict::kRejected;
}

bool ReadsValue(const SpecialToken* special) {
  return special == nullptr ||
         (special->rule != SpecialRule::kStoresNothing && special->rule != SpecialRule::kCommit);
}

Verdict ApplyOne(ConfigFileImage& image, uint16_t token, const char* value,
                 unsigned char* commitRequested) {
  const SpecialToken* special = FindSpecialToken(token);
  if (special != nullptr && !ReadsValue(special)) {
    return ApplySpecial(image, *special, value, commitRequested);
  }
  const IntegerToken* integer = FindIntegerToken(token);
  const TextToken* text = FindTextToken(token);
  std::span<const KeywordChoice> keywords = KeywordChoicesOf(token);
  std::span<const BitChoice> bits = BitChoicesOf(token);
  bool hasField = special != nullptr || integer != nullptr || text != nullptr ||
                  !keywords.empty() || !bits.empty();
  if (!hasField) return Verdict::kAccepted;  // stores nothing; the check step decides
  if (value == nullptr) return Verdict::kRejected;

  if (integer != nullptr) return ApplyInteger(image, *integer, value);
  if (text != nullptr) return ApplyText(image, *text, value);
  if (!keywords.empty()) return ApplyKeyword(image, keywords, value);
  if (!bits.empty()) return ApplyBits(image, bits, value);
  return ApplySpecial(image, *special, value, commitRequested);
}

}  // namespace

int KeywordEquals(const char* value, const char* keyword) {
  for (size_t i = 0;; ++i) {
    unsigned char v = static_cast<unsigned char>(value[i]);
    unsigned char k = static_cast<unsigned char>(keyword[i]);
    if (std::toupper(v) != k) return v - k;
    if (v == 0) return 0;
  }
}

int32_t ConvertInteger(const char* value) {
  const char* p = value;
  while (IsRuntimeSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  // Accumulate the magnitude, stopping growth once it passes the 32-bit range.
  constexpr int64_t kLimit = int64_t{1} << 31;
  int64_t magnitude = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (magnitude <= kLimit) magnitude = magnitude * 10 + (*p - '0');
  }
  if (negative) return magnitude >= kLimit ? INT32_MIN : static_cast<int32_t>(-magnitude);
  return magnitude > INT32_MAX ? INT32_MAX : static_cast<int32_t>(magnitude);
}

float ConvertFloat(const char* value, double* converted) {
  *converted = std::strtod(value, nullptr);
  return NarrowToFloat(*converted);
}

void ApplyConfigParameters(ConfigFileImage& image, sqlf_cfg_parameter* parameters, int count,
                           unsigned char* commitRequested) {
  if (parameters == nullptr) return;
  for (int i = 0; i < count; ++i) {
    sqlf_cfg_parameter& record = parameters[i];
    record.valid = 1;
    if (ApplyOne(image, record.token, record.value, commitRequested) == Verdict::kRejected) {
      record.valid = 0;
    }
  }
}

}  // namespace qz7::config
