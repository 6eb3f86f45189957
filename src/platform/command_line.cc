// Splitting a Windows command line into the argument vector a Windows program sees. Pure
// string work, shared by every backend.
#include <string>
#include <vector>

#include "platform/process.h"

namespace qz7::platform {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::vector<std::string> SplitCommandLine(const char* commandLine) {
  std::vector<std::string> arguments;
  if (commandLine == nullptr) return arguments;
  const char* p = commandLine;
  while (IsBlank(*p)) ++p;
  if (*p == '\0') return arguments;

  // The program name: no escapes, only an opening quote that runs to the closing one.
  std::string program;
  if (*p == '"') {
    ++p;
    while (*p != '\0' && *p != '"') program += *p++;
    if (*p == '"') ++p;
  } else {
    while (*p != '\0' && !IsBlank(*p)) program += *p++;
  }
  arguments.push_back(program);

  for (;;) {
    while (IsBlank(*p)) ++p;
    if (*p == '\0') break;
    std::string argument;
    bool quoted = false;
    while (*p != '\0' && (quoted || !IsBlank(*p))) {
      if (*p == '\\') {
        size_t backslashes = 0;
        while (*p == '\\') {
          ++backslashes;
          ++p;
        }
        if (*p == '"') {
          argument.append(backslashes / 2, '\\');
          if (backslashes % 2 == 1) {
            argument += '"';
            ++p;
          }
          // An even count leaves the quote to the next round, where it opens or closes.
        } else {
          argument.append(backslashes, '\\');
        }
      } else if (*p == '"') {
        if (quoted && p[1] == '"') {
          argument += '"';  // "" inside quotes: a literal quote, still quoted
          p += 2;
        } else {
          quoted = !quoted;
          ++p;
        }
      } else {
        argument += *p++;
      }
    }
    arguments.push_back(argument);
  }
  return arguments;
}

}  // namespace qz7::platform
