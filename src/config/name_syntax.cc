#include "config/name_syntax.h"

#include <cctype>
#include <cstring>

namespace qz7::config {
namespace {

constexpr int kMaxShortName = 8;
constexpr int kMaxUppercased = 500;

// strchr semantics on purpose: the terminating zero of the set is found too.
bool InSet(char c, const char* set) { return std::strchr(set, c) != nullptr; }

bool IsListSeparator(char c) { return c == ' ' || c == '\t' || c == ','; }

bool IsProtocolItem(const char* item, size_t length, std::span<const char* const> names) {
  for (const char* name : names) {
    // strncmp stops at the name's zero, so an item longer than the name never matches.
    if (std::strncmp(item, name, length) == 0) return true;
  }
  return false;
}

}  // namespace

int IsValidName(const char* name, int length, const char* allowed) {
  if (!InSet(name[0], kNameFirstCharacters)) return 0;
  for (int i = 1; i < length; ++i) {
    if (!InSet(name[i], allowed)) return 0;
  }
  return 1;
}

void UppercaseInPlace(char* text) {
  for (int i = 0; i < kMaxUppercased && text[i] != '\0'; ++i) {
    text[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
  }
}

bool IsProtocolList(const char* text, size_t length, std::span<const char* const> names) {
  bool valid = true;
  size_t i = 0;
  auto at_end = [&] { return i >= length || text[i] == '\0'; };
  while (!at_end()) {
    if (IsListSeparator(text[i])) {
      ++i;
      continue;
    }
    size_t start = i;
    while (!at_end() && !IsListSeparator(text[i])) ++i;
    // Every item is looked at, even after one failed.
    if (!IsProtocolItem(text + start, i - start, names)) valid = false;
  }
  return valid;
}

bool IsBlankOrShortName(const char* text, size_t size) {
  int length = static_cast<int>(strnlen(text, size));
  if (length > kMaxShortName) return false;
  char copy[kMaxShortName + 1] = {};
  std::memcpy(copy, text, length);
  while (length > 0 && copy[length - 1] == ' ') --length;
  if (length == 0) return true;
  return IsValidName(copy, length, kNameCharacters) == 1;
}

bool IsExactShortName(const char* value) {
  if (!InSet(value[0], kNameFirstCharacters)) return false;
  for (int i = 0; i < kMaxShortName; ++i) {
    if (value[i] == '\0') return true;
    if (!InSet(value[i], kNameCharacters)) return false;
  }
  return value[kMaxShortName] == '\0';
}

}  // namespace qz7::config
