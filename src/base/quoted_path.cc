#include "base/quoted_path.h"

#include "base/multibyte.h"

namespace qz7::base {

std::string StripQuotes(const char* text) {
  if (text == nullptr) return std::string();
  std::string copy(text[0] == '"' ? text + 1 : text);
  if (!copy.empty() && copy.back() == '"') copy.pop_back();
  return copy;
}

std::string DropClosingQuote(std::string_view path) {
  // A lone quote is the opening quote of an empty quoted path, not a closing one.
  if (path.size() >= 2 && path.back() == '"') path.remove_suffix(1);
  return std::string(path);
}

std::string ExtendPath(std::string_view path, std::string_view part) {
  std::string result = DropClosingQuote(path);
  result.append(part);
  if (StartsWithQuote(path)) result.push_back('"');
  return result;
}

std::string JoinPath(std::string_view path, std::string_view component) {
  std::string base = DropClosingQuote(path);
  std::string_view bare = base;
  if (StartsWithQuote(bare)) bare.remove_prefix(1);
  std::string part;
  if (!bare.empty() && FindLastCharMB(base.c_str(), '\\') != base.c_str() + base.size() - 1) {
    part.push_back('\\');
  }
  part.append(component);
  return ExtendPath(path, part);
}

bool CutAtLastBackslash(std::string& path) {
  const char* last = FindLastCharMB(path.c_str(), '\\');
  if (last == nullptr) return false;
  bool quoted = StartsWithQuote(path);
  path.resize(static_cast<size_t>(last - path.c_str()));
  if (quoted) path.push_back('"');
  return true;
}

std::string LastComponent(std::string_view path) {
  std::string bare = StripQuotes(std::string(path).c_str());
  const char* last = FindLastCharMB(bare.c_str(), '\\');
  return last == nullptr ? bare : std::string(last + 1);
}

}  // namespace qz7::base
