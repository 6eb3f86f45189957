#include "base/multibyte.h"

#include <cstring>

#include "platform/codepage.h"

namespace qz7::base {
namespace {

// Length of the character at p; a lead byte whose trail byte is missing counts as one byte
// so the walk always ends at the terminator.
size_t StepAt(const char* p) {
  if (platform::IsLeadByte(static_cast<unsigned char>(*p)) && p[1] != '\0') return 2;
  return 1;
}

}  // namespace

const char* FindCharMB(const char* text, char wanted) {
  if (text == nullptr) return nullptr;
  for (const char* p = text; *p != '\0'; p += StepAt(p)) {
    if (StepAt(p) == 1 && *p == wanted) return p;
  }
  return nullptr;
}

char* FindCharMB(char* text, char wanted) {
  return const_cast<char*>(FindCharMB(static_cast<const char*>(text), wanted));
}

const char* FindLastCharMB(const char* text, char wanted) {
  const char* last = nullptr;
  for (const char* p = FindCharMB(text, wanted); p != nullptr; p = FindCharMB(p + 1, wanted)) {
    last = p;
  }
  return last;
}

}  // namespace qz7::base
