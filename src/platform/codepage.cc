#include "platform/codepage.h"

#include <mutex>
#include <optional>
#include <string>

#include "platform/machine_root.h"

namespace qz7::platform {
namespace {

constexpr unsigned kDefaultCodePage = 1252;
constexpr unsigned kShiftJis = 932;

std::mutex codePageMutex;
unsigned overrideCodePage = 0;
// The machine root's setting, read once per machine root.
std::optional<std::string> cachedRoot;
unsigned cachedCodePage = kDefaultCodePage;

// The first number in codepage.txt, or the default when there is none.
unsigned ReadMachineCodePage() {
  std::optional<std::string> text = ReadMachineRootFile("codepage.txt");
  if (!text) return kDefaultCodePage;
  size_t i = 0;
  while (i < text->size() && ((*text)[i] == ' ' || (*text)[i] == '\t')) ++i;
  unsigned value = 0;
  size_t digits = 0;
  for (; i < text->size() && (*text)[i] >= '0' && (*text)[i] <= '9' && digits < 6; ++i, ++digits) {
    value = value * 10 + static_cast<unsigned>((*text)[i] - '0');
  }
  return digits == 0 || value == 0 ? kDefaultCodePage : value;
}

}  // namespace

unsigned ActiveCodePage() {
  std::lock_guard<std::mutex> lock(codePageMutex);
  if (overrideCodePage != 0) return overrideCodePage;
  std::string root = MachineRoot();
  if (!cachedRoot || *cachedRoot != root) {
    cachedCodePage = ReadMachineCodePage();
    cachedRoot = root;
  }
  return cachedCodePage;
}

void SetActiveCodePage(unsigned codePage) {
  std::lock_guard<std::mutex> lock(codePageMutex);
  overrideCodePage = codePage;
  cachedRoot.reset();  // 0 re-reads the machine root's setting
}

bool ActiveCodePageIsDoubleByte() { return ActiveCodePage() == kShiftJis; }

bool IsLeadByte(unsigned char byte) {
  if (ActiveCodePage() != kShiftJis) return false;
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

int CharacterLength(const char* text, size_t available) {
  if (text == nullptr || available == 0) return -1;
  unsigned char first = static_cast<unsigned char>(text[0]);
  if (first == 0) return 0;
  if (ActiveCodePage() != kShiftJis) return 1;
  if (first == 0x80 || first == 0xA0 || first >= 0xFD) return -1;
  if (!((first >= 0x81 && first <= 0x9F) || (first >= 0xE0 && first <= 0xFC))) return 1;
  if (available < 2) return -1;
  unsigned char second = static_cast<unsigned char>(text[1]);
  if ((second >= 0x40 && second <= 0x7E) || (second >= 0x80 && second <= 0xFC)) return 2;
  return -1;
}

}  // namespace qz7::platform
