#include "platform/codepage.h"

#include <mutex>
#include <optional>
#include <string>

#include "platform/machine_root.h"

#if defined(_WIN32)
#include "platform/win32/windows_api.h"
#endif

namespace qz7::platform {
namespace {

constexpr unsigned kDefaultCodePage = 1252;

struct ByteRange {
  unsigned char first, last;
};

// The double-byte code pages of the system: which bytes start a double-byte character, which
// may follow a lead byte, and which single bytes are no character at all. The trail ranges of
// 932, 936 and 950 hold 0x5C ('\'), so a walk by bytes would split such a character at a
// "separator"; 949 keeps 0x5C out of its trail bytes, but a lead byte still takes the next one.
struct DoubleByteCodePage {
  unsigned number;
  ByteRange lead[2];
  ByteRange trail[3];
  ByteRange invalid[2];  // single bytes that are no character
};

constexpr ByteRange kNone = {1, 0};
constexpr DoubleByteCodePage kDoubleByteCodePages[] = {
    // Shift-JIS.
    {932,
     {{0x81, 0x9F}, {0xE0, 0xFC}},
     {{0x40, 0x7E}, {0x80, 0xFC}, kNone},
     {{0x80, 0x80}, {0xA0, 0xA0}}},
    // GBK (Simplified Chinese); 0x80 is the euro sign.
    {936, {{0x81, 0xFE}, kNone}, {{0x40, 0x7E}, {0x80, 0xFE}, kNone}, {{0xFF, 0xFF}, kNone}},
    // Unified Hangul Code (Korean).
    {949,
     {{0x81, 0xFE}, kNone},
     {{0x41, 0x5A}, {0x61, 0x7A}, {0x81, 0xFE}},
     {{0x80, 0x80}, {0xFF, 0xFF}}},
    // Big5 (Traditional Chinese).
    {950, {{0x81, 0xFE}, kNone}, {{0x40, 0x7E}, {0xA1, 0xFE}, kNone}, {{0x80, 0x80}, {0xFF, 0xFF}}},
};

template <size_t N>
bool InRanges(const ByteRange (&ranges)[N], unsigned char byte) {
  for (const ByteRange& range : ranges) {
    if (byte >= range.first && byte <= range.last) return true;
  }
  return false;
}

const DoubleByteCodePage* DoubleByteTable(unsigned codePage) {
  for (const DoubleByteCodePage& table : kDoubleByteCodePages) {
    if (table.number == codePage) return &table;
  }
  return nullptr;
}

// 932's bytes 0xFD-0xFF are no character either.
bool IsInvalidSingleByte(const DoubleByteCodePage& table, unsigned char byte) {
  return InRanges(table.invalid, byte) || (table.number == 932 && byte >= 0xFD);
}

// Whether byte starts a double-byte character in codePage. On Windows the system answers
// (IsDBCSLeadByteEx) for the code page in force; elsewhere the table above.
bool LeadByteIn(unsigned codePage, const DoubleByteCodePage* table, unsigned char byte) {
#if defined(_WIN32)
  static_cast<void>(table);
  return IsDBCSLeadByteEx(codePage, byte) != FALSE;
#else
  static_cast<void>(codePage);
  return table != nullptr && InRanges(table->lead, byte);
#endif
}

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

bool ActiveCodePageIsDoubleByte() { return DoubleByteTable(ActiveCodePage()) != nullptr; }

bool IsLeadByte(unsigned char byte) {
  const unsigned codePage = ActiveCodePage();
  const DoubleByteCodePage* table = DoubleByteTable(codePage);
  return table != nullptr && LeadByteIn(codePage, table, byte);
}

int CharacterLength(const char* text, size_t available) {
  if (text == nullptr || available == 0) return -1;
  unsigned char first = static_cast<unsigned char>(text[0]);
  if (first == 0) return 0;
  const unsigned codePage = ActiveCodePage();
  const DoubleByteCodePage* table = DoubleByteTable(codePage);
  if (table == nullptr) return 1;
  if (IsInvalidSingleByte(*table, first)) return -1;
  if (!LeadByteIn(codePage, table, first)) return 1;
  if (available < 2) return -1;
  return InRanges(table->trail, static_cast<unsigned char>(text[1])) ? 2 : -1;
}

}  // namespace qz7::platform
