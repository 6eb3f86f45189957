#include "config/config_tokens.h"

#include <algorithm>

namespace qz7::config {
namespace {

// One field that some token writes, for the compile-time checks of the tables below.
struct FieldSpan {
  uint16_t token;
  uint16_t offset;
  uint16_t size;
  bool sharedWord;  // a bit token: several tokens own bits of the same word
};

constexpr uint16_t SpecialFieldSize(SpecialRule rule) {
  switch (rule) {
    case SpecialRule::kSystemOrInteger:
    case SpecialRule::kIntegerZeroToFour:
      return 2;
    case SpecialRule::kProcessorSpeed:
    case SpecialRule::kFloat:
      return 4;
    case SpecialRule::kFourCharacters:
      return 5;
    case SpecialRule::kStoresNothing:
    case SpecialRule::kCommit:
      return 0;
  }
  return 0;
}

template <typename Visit>
constexpr void ForEachField(Visit visit) {
  for (const IntegerToken& row : kIntegerTokens) {
    visit(FieldSpan{row.token, row.field.offset, row.field.width, false});
  }
  for (const TextToken& row : kTextTokens) {
    visit(FieldSpan{row.token, row.field.offset, row.field.width, false});
  }
  for (const KeywordChoice& row : kKeywordChoices) {
    visit(FieldSpan{row.token, row.field.offset, row.field.width, false});
  }
  for (const BitChoice& row : kBitChoices) {
    visit(FieldSpan{row.token, row.field.offset, row.field.width, true});
  }
  for (const SpecialToken& row : kSpecialTokens) {
    visit(FieldSpan{row.token, row.field.offset, row.field.width, false});
  }
}

// Each family stores what its field holds: integers into integer fields (keywords and bits
// into 16-bit ones), texts into texts, the special rules into the field their rule writes.
constexpr bool KindsFitFamilies() {
  for (const IntegerToken& row : kIntegerTokens) {
    if (!base::IsInteger(row.field)) return false;
  }
  for (const TextToken& row : kTextTokens) {
    if (!base::IsText(row.field)) return false;
  }
  for (const KeywordChoice& row : kKeywordChoices) {
    if (!base::IsInteger(row.field) || row.field.width != 2) return false;
  }
  for (const BitChoice& row : kBitChoices) {
    if (!base::IsInteger(row.field) || row.field.width != 2) return false;
  }
  for (const SpecialToken& row : kSpecialTokens) {
    if (row.field.width != SpecialFieldSize(row.rule)) return false;
    const bool isFloat =
        row.rule == SpecialRule::kProcessorSpeed || row.rule == SpecialRule::kFloat;
    if (isFloat != base::IsFloat(row.field)) return false;
    if ((row.rule == SpecialRule::kFourCharacters) != base::IsText(row.field)) return false;
  }
  return true;
}

// Every field a token writes is a parameter of the map, in the layout sqlfvald writes.
constexpr bool FieldsOnTheMap() {
  bool onMap = true;
  ForEachField([&](const FieldSpan& span) {
    if (span.size == 0) return;
    bool found = false;
    for (const DbmField& field : kParameters) {
      if (field.offset == span.offset && field.width == span.size &&
          !(field == kParam502Layout600)) {
        found = true;
      }
    }
    if (!found) onMap = false;
  });
  return onMap;
}

// Every field lies inside the block behind the checksum and clear of the node kind.
constexpr bool FieldsInsideBlock() {
  bool inside = true;
  ForEachField([&](const FieldSpan& field) {
    if (field.size == 0) return;
    if (field.offset < 4 || field.offset + field.size > base::kDbmBlockSize) inside = false;
    if (field.offset < kNodeType.offset + kNodeType.width &&
        field.offset + field.size > kNodeType.offset) {
      inside = false;
    }
  });
  return inside;
}

// No two tokens write overlapping bytes, except bit tokens that share one word.
constexpr bool FieldsDisjoint() {
  bool disjoint = true;
  ForEachField([&](const FieldSpan& a) {
    ForEachField([&](const FieldSpan& b) {
      if (a.token == b.token || a.size == 0 || b.size == 0) return;
      if (a.sharedWord && b.sharedWord && a.offset == b.offset) return;
      if (a.offset < b.offset + b.size && b.offset < a.offset + a.size) disjoint = false;
    });
  });
  return disjoint;
}

// A token belongs to one family only.
constexpr int FamiliesOf(uint16_t token) {
  int families = 0;
  families += std::ranges::any_of(kIntegerTokens, [&](auto& r) { return r.token == token; });
  families += std::ranges::any_of(kTextTokens, [&](auto& r) { return r.token == token; });
  families += std::ranges::any_of(kKeywordChoices, [&](auto& r) { return r.token == token; });
  families += std::ranges::any_of(kBitChoices, [&](auto& r) { return r.token == token; });
  families += std::ranges::any_of(kSpecialTokens, [&](auto& r) { return r.token == token; });
  return families;
}

constexpr bool EachTokenInOneFamily() {
  bool single = true;
  ForEachField([&](const FieldSpan& field) {
    if (FamiliesOf(field.token) != 1) single = false;
  });
  return single;
}

// KeywordChoicesOf and BitChoicesOf rely on the rows of one token being adjacent.
template <typename Row, size_t N>
constexpr bool RowsOfEachTokenAdjacent(const Row (&rows)[N]) {
  for (size_t i = 0; i < N; ++i) {
    for (size_t j = i + 2; j < N; ++j) {
      if (rows[i].token == rows[j].token && rows[j - 1].token != rows[i].token) return false;
    }
  }
  return true;
}

static_assert(RowsOfEachTokenAdjacent(kKeywordChoices), "keyword rows of a token are split");
static_assert(RowsOfEachTokenAdjacent(kBitChoices), "bit rows of a token are split");
static_assert(FieldsInsideBlock(), "a token field lies outside the configuration block");
static_assert(FieldsDisjoint(), "two token fields overlap");
static_assert(EachTokenInOneFamily(), "a token appears in more than one family");
static_assert(KindsFitFamilies(), "a token stores into a field of another kind");
static_assert(FieldsOnTheMap(), "a token field is not a qz7systm parameter");

}  // namespace

const IntegerToken* FindIntegerToken(uint16_t token) {
  auto row = std::ranges::find(kIntegerTokens, token, &IntegerToken::token);
  return row == std::end(kIntegerTokens) ? nullptr : &*row;
}

const TextToken* FindTextToken(uint16_t token) {
  auto row = std::ranges::find(kTextTokens, token, &TextToken::token);
  return row == std::end(kTextTokens) ? nullptr : &*row;
}

const SpecialToken* FindSpecialToken(uint16_t token) {
  auto row = std::ranges::find(kSpecialTokens, token, &SpecialToken::token);
  return row == std::end(kSpecialTokens) ? nullptr : &*row;
}

// The choices of one token are adjacent in their table.
std::span<const KeywordChoice> KeywordChoicesOf(uint16_t token) {
  auto first = std::ranges::find(kKeywordChoices, token, &KeywordChoice::token);
  auto last = std::find_if(first, std::end(kKeywordChoices),
                           [&](const KeywordChoice& row) { return row.token != token; });
  return {first, last};
}

std::span<const BitChoice> BitChoicesOf(uint16_t token) {
  auto first = std::ranges::find(kBitChoices, token, &BitChoice::token);
  auto last = std::find_if(first, std::end(kBitChoices),
                           [&](const BitChoice& row) { return row.token != token; });
  return {first, last};
}

}  // namespace qz7::config
