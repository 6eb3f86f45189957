// Message modules and message boxes on POSIX.
//
// A module is the text file messages.h describes, read once at load into a table of numbered
// strings. Lines that are not "NUMBER TEXT" are reported on standard error as file:line and
// skipped; a number given twice keeps its last text. A message box is the owner's callback.
#include <errno.h>

#include <cstring>
#include <map>
#include <string>
#include <string_view>

#include "platform/codepage.h"
#include "platform/messages.h"
#include "platform/posix/text_store.h"
#include "platform/win_error.h"

struct qz7_message_module {
  std::map<uint32_t, std::string> strings;
};

namespace qz7::platform {
namespace {

// "\n" in a module line stands for a line break; every other byte stands for itself.
std::string ExpandLineBreaks(std::string_view text) {
  std::string expanded;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
      expanded += '\n';
      ++i;
    } else {
      expanded += text[i];
    }
  }
  return expanded;
}

// Reads "NUMBER TEXT"; false when the line does not start with a number that fits 32 bits.
bool ParseMessageLine(std::string_view line, uint32_t* number, std::string* text) {
  size_t digits = 0;
  uint64_t value = 0;
  while (digits < line.size() && line[digits] >= '0' && line[digits] <= '9') {
    value = value * 10 + static_cast<uint64_t>(line[digits] - '0');
    if (value > 0xFFFFFFFFu) return false;
    ++digits;
  }
  if (digits == 0) return false;
  if (digits < line.size() && line[digits] != ' ') return false;
  *number = static_cast<uint32_t>(value);
  *text = ExpandLineBreaks(digits < line.size() ? line.substr(digits + 1) : std::string_view());
  return true;
}

}  // namespace

QZ7_MODULE LoadMessageModule(const std::string& hostPath) {
  std::string content;
  if (uint32_t error = posix::ReadTextStore(hostPath, &content); error != kErrorSuccess) {
    SetLastError(error);
    return nullptr;
  }
  auto* module = new qz7_message_module;
  for (const auto& line : posix::SplitStoreLines(content)) {
    if (line.text.empty() || line.text.front() == '#') continue;
    if (posix::TrimBlanks(line.text).empty()) continue;
    uint32_t number = 0;
    std::string text;
    // A line that is not "NUMBER TEXT" holds no message: LoadStringA then finds none for
    // that number and the caller falls back to its own text.
    if (!ParseMessageLine(line.text, &number, &text)) continue;
    module->strings[number] = std::move(text);
  }
  return module;
}

void FreeMessageModule(QZ7_MODULE module) { delete module; }

int LoadStringA(QZ7_MODULE module, uint32_t id, char* buffer, int bufferMax) {
  if (buffer == nullptr || bufferMax <= 0) return 0;
  buffer[0] = '\0';
  if (module == nullptr) return 0;
  auto found = module->strings.find(id);
  if (found == module->strings.end()) return 0;
  const std::string& text = found->second;
  // Cut to bufferMax - 1 bytes without splitting a double-byte character.
  size_t limit = static_cast<size_t>(bufferMax) - 1;
  size_t length = 0;
  while (length < text.size()) {
    int step = CharacterLength(text.data() + length, text.size() - length);
    if (step < 1) step = 1;
    if (length + static_cast<size_t>(step) > limit) break;
    length += static_cast<size_t>(step);
  }
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
  return static_cast<int>(length);
}

int MessageBoxA(QZ7_OWNER owner, const char* text, const char* caption, uint32_t style) {
  if (owner == nullptr) return 0;
  if (owner->messageBox == nullptr) return kIdOk;
  return owner->messageBox(owner->userData, text == nullptr ? "" : text,
                           caption == nullptr ? "" : caption, style);
}

}  // namespace qz7::platform
