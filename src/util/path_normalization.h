// The normalised path form: the full path, single-byte letters upper-cased, enclosed in
// double quotes ("C:\APPS\SRV"), with no trailing backslash.
#ifndef QZ7_UTIL_PATH_NORMALIZATION_H_
#define QZ7_UTIL_PATH_NORMALIZATION_H_

#include <cstddef>

namespace qz7::util {

constexpr int kNormalizeOk = 0;
constexpr int kNormalizeNoDestination = 1;  // destination null or size below 1
constexpr int kNormalizeTooLong = 2;        // the full (quoted) path does not fit in size
constexpr int kNormalizeBadCharacter = 3;   // a byte that is not a character in the code page

// Normalises source into destination (size bytes). A null or empty source gives an empty
// destination and 0. On result 3 the destination holds the unquoted full path; on result 2
// it is empty. Double-byte characters are carried over unchanged, never upper-cased or split.
[[nodiscard]] int NormalizeSetupPath(const char* source, char* destination, size_t size);

}  // namespace qz7::util

#endif  // QZ7_UTIL_PATH_NORMALIZATION_H_
