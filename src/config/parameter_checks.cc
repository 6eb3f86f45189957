#include "config/parameter_checks.h"

#include <algorithm>
#include <cstring>

#include "config/check_rules.h"
#include "config/cross_field_checks.h"
#include "config/name_syntax.h"

namespace qz7::config {
namespace {

// ---- The rule tables agree with the tables the apply step stores by. ----

constexpr bool NumericRulesMatchFields() {
  for (const NumericRule& rule : rules::kNumericRules) {
    DbmField field = kNoField;
    // Token 29 sets nothing itself; it is judged on the word the bit tokens 30 to 35 share.
    uint16_t token = rule.token == 29 ? 30 : rule.token;
    if (!IntegerFieldOf(token, &field) || !(field == rule.field)) return false;
    // A bound is another token's 32-bit field.
    for (const FieldBound& bound : {rule.notAbove, rule.notBelow}) {
      if (bound.field.width == 0) continue;
      if (!base::IsInteger(bound.field) || bound.field.width != 4) return false;
    }
  }
  return true;
}

constexpr bool FloatRulesMatchFields() {
  for (const FloatRule& rule : rules::kFloatRules) {
    bool found = false;
    for (const SpecialToken& row : kSpecialTokens) {
      if (row.token == rule.token) found = row.field == rule.field;
    }
    if (!found) return false;
  }
  return true;
}

constexpr bool TextRulesMatchFields() {
  for (const TextRule& rule : rules::kTextRules) {
    bool found = false;
    for (const TextToken& row : kTextTokens) {
      if (row.token == rule.token) found = row.field == rule.field;
    }
    if (!found) return false;
  }
  return true;
}

// A token listed as untested or always rejected has no rule in another table.
constexpr bool NamedByARule(uint16_t token) {
  return std::ranges::count(rules::kNumericRules, token, &NumericRule::token) +
             std::ranges::count(rules::kFloatRules, token, &FloatRule::token) +
             std::ranges::count(rules::kTextRules, token, &TextRule::token) +
             std::ranges::count(rules::kKindOnlyRules, token, &KindOnlyRule::token) >
         0;
}
static_assert(std::ranges::none_of(rules::kUntestedTokens, NamedByARule));
static_assert(std::ranges::none_of(rules::kRejectedTokens, NamedByARule));
static_assert(NumericRulesMatchFields(), "a range rule names a field the token does not set");
static_assert(FloatRulesMatchFields(), "a float rule names a field the token does not set");
static_assert(TextRulesMatchFields(), "a text rule names a field the token does not set");

// ---- Numeric fields ----

int64_t AsNumber(uint32_t bits, Width width, Order order) {
  if (order == Order::kUnsigned) return bits;
  return width == Width::k16 ? int64_t{static_cast<int16_t>(bits)}
                             : int64_t{static_cast<int32_t>(bits)};
}

bool IsMinusOne(uint32_t bits, Width width) {
  return bits == (width == Width::k16 ? 0xFFFFu : 0xFFFFFFFFu);
}

// True when the kind alone settles the rule; *passes then holds the verdict.
bool KindDecides(KindGate gate, uint16_t kind, bool isZero, bool isOne, bool* passes) {
  switch (gate) {
    case KindGate::kAllKinds:
      return false;
    case KindGate::kZeroUnderKind0:
      if (kind != 0) return false;
      *passes = isZero;
      return true;
    case KindGate::kZeroUnderKind2:
      if (kind != 2) return false;
      *passes = isZero;
      return true;
    case KindGate::kOneUnderKind2:
      if (kind != 2) return false;
      *passes = isOne;
      return true;
    case KindGate::kZeroUnderKinds0And2:
      if (kind != 0 && kind != 2) return false;
      *passes = isZero;
      return true;
    case KindGate::kZeroUnlessKind4:
      if (kind == 4) return false;
      *passes = isZero;
      return true;
  }
  return false;
}

bool WithinBound(uint32_t bits, Width width, const ConfigFileImage& image, FieldBound bound,
                 bool above) {
  if (bound.field.width == 0) return true;
  int64_t value = AsNumber(bits, width, bound.order);
  int64_t limit = AsNumber(Load32(image, bound.field.offset), Width::k32, bound.order);
  return above ? value <= limit : value >= limit;
}

bool PassesNumeric(const ConfigFileImage& image, const NumericRule& rule) {
  const Width width = WidthOf(rule.field);
  uint32_t bits = LoadField(image, rule.field.offset, width);
  bool passes = false;
  if (KindDecides(rule.gate, NodeKind(image), bits == 0, bits == 1, &passes)) return passes;
  int64_t value = AsNumber(bits, width, rule.order);
  bool inRange = (rule.minusOneAllowed && IsMinusOne(bits, width)) ||
                 (value >= rule.low && value <= rule.high);
  return inRange && WithinBound(bits, width, image, rule.notAbove, true) &&
         WithinBound(bits, width, image, rule.notBelow, false);
}

// ---- Floating-point fields ----

bool PassesFloat(const ConfigFileImage& image, const FloatRule& rule) {
  double value = LoadFloat(image, rule.field.offset);
  bool passes = false;
  if (KindDecides(rule.gate, NodeKind(image), value == 0.0, false, &passes)) return passes;
  return IsAboutMinusOne(value) || (value >= rule.low && value <= rule.high);
}

// ---- Text fields ----

constexpr uint16_t kField73 = Field16(73);
constexpr uint16_t kField304 = Field16(304);

constexpr size_t kMaxTextField = 256;
static_assert(std::ranges::all_of(rules::kTextRules, [](const TextRule& rule) {
  return rule.field.width <= kMaxTextField;
}));

const TextRule& TextRuleOf(uint16_t token) {
  return *std::ranges::find(rules::kTextRules, token, &TextRule::token);
}

bool HasOnlyNameCharacters(const char* text, size_t length) {
  return std::all_of(text, text + length, [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '$' ||
           c == '#' || c == '@' || c == '.';
  });
}

bool BeginsWithCellPrefix(const char* text, size_t length) {
  return std::ranges::any_of(rules::kDceCellPrefixes, [&](const char* prefix) {
    size_t prefixLength = std::strlen(prefix);
    return length >= prefixLength && std::memcmp(text, prefix, prefixLength) == 0;
  });
}

bool PassesServerProtocols(const ConfigFileImage& image, const TextRule& rule) {
  uint16_t kind = NodeKind(image);
  uint16_t protocolSearch = Load16(image, kField304);
  if (kind == 0) return protocolSearch == 0 && TextEmpty(image, rule.field.offset);
  if (protocolSearch > 2) return false;
  if (TextEmpty(image, rule.field.offset)) return true;
  // The list is compared upper-cased; the copy keeps the image as it was.
  char list[kMaxTextField + 1] = {};
  size_t length = TextLength(image, rule.field.offset, rule.field.width);
  std::memcpy(list, TextAt(image, rule.field.offset), length);
  UppercaseInPlace(list);
  return IsProtocolList(list, length, kServerProtocols);
}

bool PassesText(const ConfigFileImage& image, const TextRule& rule,
                const sqlf_cfg_parameter& record) {
  const char* text = TextAt(image, rule.field.offset);
  size_t length = TextLength(image, rule.field.offset, rule.field.width);
  if (!KindIn(rule.mayHoldText, NodeKind(image))) return length == 0;
  switch (rule.syntax) {
    case TextSyntax::kAnyText:
      return true;
    case TextSyntax::kBlankOrShortName:
      return IsBlankOrShortName(text, rule.field.width);
    case TextSyntax::kNameCharacters:
      return HasOnlyNameCharacters(text, length);
    case TextSyntax::kAtMost215:
      return length <= 215;
    case TextSyntax::kDceCellName:
      return Load16(image, kField73) != 1 || BeginsWithCellPrefix(text, length);
    case TextSyntax::kDceNames: {
      const TextRule& cell = TextRuleOf(74);
      size_t cellLength = TextLength(image, cell.field.offset, cell.field.width);
      bool valid = cellLength + length <= 255;
      if (Load16(image, kField73) != 0 && (cellLength == 0 || length == 0)) valid = false;
      return valid;
    }
    case TextSyntax::kNodeProtocolList:
      return IsProtocolList(text, length, kNodeProtocols);
    case TextSyntax::kValueShortName:
      // The field holds the last record's value; each record is judged on its own value.
      return length == 0 || (record.value != nullptr && IsExactShortName(record.value));
    case TextSyntax::kServerProtocolList:
      return PassesServerProtocols(image, rule);
  }
  return false;
}

template <typename Rows, typename Member>
auto FindRow(const Rows& rows, uint16_t token, Member member) -> decltype(&rows[0]) {
  auto row = std::ranges::find(rows, token, member);
  return row == std::end(rows) ? nullptr : &*row;
}

bool Lists(const auto& tokens, uint16_t token) { return std::ranges::count(tokens, token) > 0; }

// Whether the rule of the record's token accepts image (token 92 also tests the record's own
// value string). False for a token no rule names.
bool PassesRule(const ConfigFileImage& image, const sqlf_cfg_parameter& record) {
  uint16_t token = record.token;
  if (auto* rule = FindRow(rules::kNumericRules, token, &NumericRule::token)) {
    return PassesNumeric(image, *rule);
  }
  if (auto* rule = FindRow(rules::kFloatRules, token, &FloatRule::token)) {
    return PassesFloat(image, *rule);
  }
  if (auto* rule = FindRow(rules::kTextRules, token, &TextRule::token)) {
    return PassesText(image, *rule, record);
  }
  if (auto* rule = FindRow(rules::kKindOnlyRules, token, &KindOnlyRule::token)) {
    return KindIn(rule->accepted, NodeKind(image));
  }
  if (const CrossFieldRule* rule = FindCrossFieldRule(token)) return rule->passes(image);
  if (Lists(rules::kUntestedTokens, token)) return true;
  return false;  // kRejectedTokens and every token no table names
}

}  // namespace

void CheckConfigParameters(ConfigFileImage image, sqlf_cfg_parameter* parameters, int count,
                           unsigned char* allValid) {
  if (parameters == nullptr) return;
  for (int i = 0; i < count; ++i) {
    sqlf_cfg_parameter& record = parameters[i];
    if (record.valid != 0 && !PassesRule(image, record)) record.valid = 0;
    if (record.valid == 0) *allValid = 0;
  }
}

}  // namespace qz7::config
