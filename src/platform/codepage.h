// The ANSI code page of the computer, for walking multibyte text the way the runtime's mblen
// and IsDBCSLeadByte do. 1252 (single-byte, every byte a character) is the default; the
// double-byte code pages of the system are known too: 932 (Shift-JIS), 936 (GBK), 949
// (Unified Hangul Code) and 950 (Big5), each with its lead and trail bytes. On Windows the
// system tells the lead bytes (IsDBCSLeadByteEx). The machine root may set the code page in
// codepage.txt (on Windows it is GetACP()); tests set it directly.
#ifndef QZ7_PLATFORM_CODEPAGE_H_
#define QZ7_PLATFORM_CODEPAGE_H_

#include <cstddef>

namespace qz7::platform {

unsigned ActiveCodePage();
void SetActiveCodePage(unsigned codePage);  // 0 returns to the machine root's setting

bool IsLeadByte(unsigned char byte);
// True when the active code page has double-byte characters (callers that walk much text
// ask once and skip the per-character work for single-byte code pages).
bool ActiveCodePageIsDoubleByte();
// mblen: 0 for the terminator, the length (1 or 2) of the character at text, or -1 when the
// bytes there are not a valid character (at most available bytes are looked at).
int CharacterLength(const char* text, size_t available);

}  // namespace qz7::platform

#endif  // QZ7_PLATFORM_CODEPAGE_H_
