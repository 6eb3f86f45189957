// One character of code page 932 (Shift JIS, one or two bytes) as UTF-8, through the system's
// own converter: the C library's iconv on POSIX, MultiByteToWideChar on Windows.
#ifndef QZ7_TOOLS_QZ7INST_SHIFT_JIS_H_
#define QZ7_TOOLS_QZ7INST_SHIFT_JIS_H_

#include <cstddef>
#include <string>

namespace qz7::cli {

// Appends the UTF-8 form of the character bytes[0..length) (length 1 or 2) to out; false, with
// out unchanged, when the bytes are no character of code page 932 or no converter is at hand.
bool AppendShiftJisAsUtf8(const char* bytes, size_t length, std::string* out);

}  // namespace qz7::cli

#endif  // QZ7_TOOLS_QZ7INST_SHIFT_JIS_H_
