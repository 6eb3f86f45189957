// Quoted paths: the one form in which the library carries paths. A quoted path may begin
// with a double quote; when it does, it also ends with one. These are pure text operations.
#ifndef QZ7_BASE_QUOTED_PATH_H_
#define QZ7_BASE_QUOTED_PATH_H_

#include <string>
#include <string_view>

namespace qz7::base {

// A copy without a leading and without a trailing double quote (each removed on its own).
// A null text gives an empty copy.
std::string StripQuotes(const char* text);

inline bool StartsWithQuote(std::string_view path) { return !path.empty() && path[0] == '"'; }

// Drops a trailing double quote (if any).
std::string DropClosingQuote(std::string_view path);

// Extends a quoted path by the extension rule: drop the closing quote, append part, and
// re-append the closing quote when the text starts with a quote.
std::string ExtendPath(std::string_view path, std::string_view part);

// As ExtendPath, with a backslash put between path and component unless the path (without
// its closing quote) is empty or already ends with one.
std::string JoinPath(std::string_view path, std::string_view component);

// Cuts the path at its last backslash (found by walking characters, so that the second
// byte of a double-byte character is never taken for one) and re-appends the closing quote
// when the text starts with a quote. False (path unchanged) when there is no backslash.
[[nodiscard]] bool CutAtLastBackslash(std::string& path);

// The text after the last backslash (the whole text when there is none), without quotes.
std::string LastComponent(std::string_view path);

}  // namespace qz7::base

#endif  // QZ7_BASE_QUOTED_PATH_H_
