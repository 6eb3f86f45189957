#include "util/path_normalization.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/file_system.h"

namespace qz7::util {
namespace {

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

int NormalizeSetupPath(const char* source, char* destination, size_t size) {
  if (destination == nullptr || size < 1) return kNormalizeNoDestination;
  destination[0] = '\0';
  if (source == nullptr || source[0] == '\0') return kNormalizeOk;

  if (platform::FullPath(destination, source, size) == nullptr) {
    destination[0] = '\0';
    return kNormalizeTooLong;
  }
  const size_t length = std::strlen(destination);

  // Opening quote, the characters, closing quote: the path length plus 3 bytes.
  std::string work;
  work.reserve(length + 3);
  work.push_back('"');
  for (size_t i = 0; i < length;) {
    int step = platform::CharacterLength(destination + i, length - i);
    if (step <= 0) return kNormalizeBadCharacter;
    if (step == 1) {
      char c = destination[i];
      if (!(c == '\\' && i + 1 == length)) work.push_back(UpperAscii(c));
    } else {
      work.append(destination + i, static_cast<size_t>(step));
    }
    i += static_cast<size_t>(step);
  }
  work.push_back('"');

  // A quoted form that no longer fits is refused rather than cut: a cut path would lose its
  // closing quote and name another file.
  if (work.size() + 1 > size) {
    destination[0] = '\0';
    return kNormalizeTooLong;
  }
  std::memcpy(destination, work.c_str(), work.size() + 1);
  return kNormalizeOk;
}

}  // namespace qz7::util
