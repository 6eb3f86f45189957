#include "platform/windows_path.h"

#include <algorithm>
#include <cstring>

#include "platform/codepage.h"
#include "platform/win_error.h"

namespace qz7::platform {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The length of the character at text[i]: 2 for a lead byte with a byte after it, else 1. A
// lead byte takes the next byte whether or not the code page has that pair (949 has no trail
// byte 0x5C), as the system's walk by lead bytes does: the byte after a lead byte is never a
// separator.
size_t CharLengthAt(const std::string& text, size_t i, bool dbcs) {
  if (!dbcs) return 1;
  return i + 1 < text.size() && IsLeadByte(static_cast<unsigned char>(text[i])) ? 2 : 1;
}

// The characters of a text, each one or two bytes.
std::vector<std::string> Characters(const std::string& text, bool dbcs) {
  std::vector<std::string> chars;
  for (size_t i = 0; i < text.size();) {
    size_t length = CharLengthAt(text, i, dbcs);
    chars.push_back(text.substr(i, length));
    i += length;
  }
  return chars;
}

// The upper case of a single-byte character, as the file system's case table folds it. In
// code page 1252 that covers the accented letters too: 0xE0-0xFE (but 0xF7) to 0xC0-0xDE,
// and the letter pairs s/z/oe with caron or ligature and y with diaeresis; 0xDF and 0xB5 have
// no upper case in the code page and stay. Other code pages fold ASCII letters only.
unsigned char UpperOf(unsigned char c, bool windows1252) {
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 'a' + 'A');
  if (!windows1252 || c < 0x80) return c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<unsigned char>(c - 0x20);
  switch (c) {
    case 0x9A:
      return 0x8A;  // s with caron
    case 0x9C:
      return 0x8C;  // oe ligature
    case 0x9E:
      return 0x8E;  // z with caron
    case 0xFF:
      return 0x9F;  // y with diaeresis
    default:
      return c;
  }
}

// The text with the letters of single-byte characters in upper case; double-byte characters
// are kept as they are.
std::string FoldCase(const std::string& text, bool dbcs) {
  const bool windows1252 = !dbcs && ActiveCodePage() == 1252;
  std::string folded;
  folded.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    size_t length = CharLengthAt(text, i, dbcs);
    if (length == 1) {
      folded.push_back(
          static_cast<char>(UpperOf(static_cast<unsigned char>(text[i]), windows1252)));
    } else {
      folded.append(text, i, length);
    }
    i += length;
  }
  return folded;
}

// A name as Windows stores it: a name followed by a separator loses one closing '.'; the
// last name of a path that does not end in a separator loses every closing '.' and ' '
// ("FILE." and "FILE " both name FILE, "C:\A.\B" is "C:\A\B"). A last name with
// wildcards is a search pattern and is kept as given. The result may be empty.
std::string TrimmedName(const std::string& name, bool last, bool keepPattern) {
  if (name == "." || name == ".." || (last && keepPattern)) return name;
  size_t end = name.size();
  if (!last) {
    // A name of dots alone ("...") is kept whole rather than becoming a parent reference.
    if (name.find_first_not_of('.') != std::string::npos && name[end - 1] == '.') --end;
  } else {
    while (end > 0 && (name[end - 1] == '.' || name[end - 1] == ' ')) --end;
  }
  return name.substr(0, end);
}

// Splits at separators, walking by characters. Empty names (doubled separators) are dropped.
std::vector<std::string> SplitNames(const std::string& text, bool dbcs, bool* endsWithSeparator) {
  std::vector<std::string> names;
  std::string name;
  bool lastWasSeparator = false;
  for (size_t i = 0; i < text.size();) {
    size_t length = CharLengthAt(text, i, dbcs);
    if (length == 1 && IsSeparator(text[i])) {
      if (!name.empty()) names.push_back(name);
      name.clear();
      lastWasSeparator = true;
    } else {
      name.append(text, i, length);
      lastWasSeparator = false;
    }
    i += length;
  }
  if (!name.empty()) names.push_back(name);
  if (endsWithSeparator != nullptr) *endsWithSeparator = lastWasSeparator;
  return names;
}

// 0 when name may stand in a path; 123 when it holds a character Windows refuses.
uint32_t CheckName(const std::string& name, bool allowWildcards, bool dbcs) {
  for (size_t i = 0; i < name.size();) {
    size_t length = CharLengthAt(name, i, dbcs);
    if (length == 1) {
      unsigned char c = static_cast<unsigned char>(name[i]);
      if (c < 32 || std::strchr("<>|\":", c) != nullptr) return kErrorInvalidName;
      if ((c == '*' || c == '?') && !allowWildcards) return kErrorInvalidName;
    }
    i += length;
  }
  return 0;
}

bool MatchFrom(const std::vector<std::string>& name, size_t n,
               const std::vector<std::string>& pattern, size_t p, bool dbcs) {
  // Iterative matching with one backtrack point for the most recent '*'.
  size_t starP = std::string::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == "*") {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() &&
               (pattern[p] == "?" || FoldCase(pattern[p], dbcs) == FoldCase(name[n], dbcs))) {
      ++p;
      ++n;
    } else if (starP != std::string::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == "*") ++p;
  return p == pattern.size();
}

}  // namespace

std::string WindowsPath::ToString() const {
  std::string text;
  text.push_back(drive);
  text += ":\\";
  for (size_t i = 0; i < components.size(); ++i) {
    if (i > 0) text.push_back('\\');
    text += components[i];
  }
  if (trailingSeparator && !components.empty()) text.push_back('\\');
  return text;
}

WindowsPath WindowsPath::Parent() const {
  WindowsPath parent = *this;
  if (!parent.components.empty()) parent.components.pop_back();
  parent.trailingSeparator = false;
  return parent;
}

std::string CurrentDirectories::ForDrive(char drive) const {
  if (!current_.empty() && current_[0] == drive) return current_;
  auto it = byDrive_.find(drive);
  if (it != byDrive_.end()) return it->second;
  return std::string(1, drive) + ":\\";
}

void CurrentDirectories::Set(const std::string& path) {
  current_ = path;
  if (!path.empty()) byDrive_[path[0]] = path;
}

void CurrentDirectories::Reset() {
  current_ = "C:\\";
  byDrive_.clear();
}

uint32_t ParseWindowsPath(const char* text, const CurrentDirectories& current,
                          const ParseOptions& options, WindowsPath* out) {
  if (text == nullptr || *text == '\0') return kErrorPathNotFound;
  std::string path(text);
  bool dbcs = ActiveCodePageIsDoubleByte();
  if (options.enforceMaxPath && path.size() > kMaxPathLength) return kErrorFilenameExcedRange;
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    return kErrorPathNotFound;  // UNC and device paths name no drive of this machine
  }

  WindowsPath result;
  std::string base;  // the directory a relative text is resolved against
  std::string rest;  // the text below it
  if (path.size() >= 2 && path[1] == ':' && CharLengthAt(path, 0, dbcs) == 1) {
    char letter = path[0];
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
    if (letter < 'A' || letter > 'Z') return kErrorInvalidName;
    rest = path.substr(2);
    base = !rest.empty() && IsSeparator(rest[0]) ? std::string(1, letter) + ":\\"
                                                 : current.ForDrive(letter);
  } else if (IsSeparator(path[0])) {
    base = current.Current().substr(0, 3);
    rest = path;
  } else {
    base = current.Current();
    rest = path;
  }
  if (base.size() < 3 || base[1] != ':') return kErrorPathNotFound;
  result.drive = base[0];

  std::vector<std::string> names = SplitNames(base.substr(2), dbcs, nullptr);
  bool endsWithSeparator = false;
  std::vector<std::string> more = SplitNames(rest, dbcs, &endsWithSeparator);
  // A last name of dots and spaces alone ("C:\A\...") is dropped, and its separator stays:
  // the result names the folder with a closing backslash ("C:\A\"), as _fullpath gives it.
  bool keepsSeparator = endsWithSeparator;
  for (size_t i = 0; i < more.size(); ++i) {
    const bool last = i + 1 == more.size() && !endsWithSeparator;
    std::string trimmed =
        TrimmedName(more[i], last, options.allowWildcards && HasWildcards(more[i]));
    if (!trimmed.empty()) {
      names.push_back(std::move(trimmed));
    } else if (last) {
      keepsSeparator = true;
    }
  }

  const bool lastWasDots = !more.empty() && (more.back() == "." || more.back() == "..");
  for (const std::string& name : names) {
    if (name == ".") continue;
    if (name == "..") {
      if (!result.components.empty()) result.components.pop_back();  // stops at the root
      continue;
    }
    result.components.push_back(name);
  }
  for (size_t i = 0; i < result.components.size(); ++i) {
    bool last = i + 1 == result.components.size();
    uint32_t error = CheckName(result.components[i], options.allowWildcards && last, dbcs);
    if (error != 0) return error;
  }
  result.trailingSeparator = keepsSeparator && !lastWasDots && !more.empty();
  if (options.enforceMaxPath && result.ToString().size() > kMaxPathLength) {
    return kErrorFilenameExcedRange;
  }
  *out = std::move(result);
  return 0;
}

bool NamesEqualIgnoreCase(const std::string& a, const std::string& b) {
  bool dbcs = ActiveCodePageIsDoubleByte();
  return a.size() == b.size() && FoldCase(a, dbcs) == FoldCase(b, dbcs);
}

std::string FoldNameCase(const std::string& name) {
  return FoldCase(name, ActiveCodePageIsDoubleByte());
}

int CompareNamesIgnoreCase(const std::string& a, const std::string& b) {
  bool dbcs = ActiveCodePageIsDoubleByte();
  std::string fa = FoldCase(a, dbcs), fb = FoldCase(b, dbcs);
  int order = std::memcmp(fa.data(), fb.data(), std::min(fa.size(), fb.size()));
  if (order != 0) return order;
  return fa.size() < fb.size() ? -1 : fa.size() > fb.size() ? 1 : 0;
}

bool MatchesNamePattern(const std::string& name, const std::string& pattern) {
  if (pattern == "*" || pattern == "*.*") return true;
  bool dbcs = ActiveCodePageIsDoubleByte();
  std::vector<std::string> patternChars = Characters(pattern == "*.*" ? "*" : pattern, dbcs);
  return MatchFrom(Characters(name, dbcs), 0, patternChars, 0, dbcs);
}

bool HasWildcards(const std::string& text) {
  for (const std::string& c : Characters(text, ActiveCodePageIsDoubleByte())) {
    if (c == "*" || c == "?") return true;
  }
  return false;
}

bool IsReservedDeviceName(const std::string& name) {
  std::string base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
  return base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) &&
         base[3] >= '1' && base[3] <= '9';
}

}  // namespace qz7::platform
