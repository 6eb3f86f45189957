#include <windows.h>

#include "tools/qz7inst/shift_jis.h"

namespace qz7::cli {

bool AppendShiftJisAsUtf8(const char* bytes, size_t length, std::string* out) {
  constexpr UINT kShiftJis = 932;
  if (length == 0 || length > 2) return false;
  wchar_t wide[2];
  // MB_ERR_INVALID_CHARS: a byte pair that is no character fails instead of becoming '?'.
  const int units = MultiByteToWideChar(kShiftJis, MB_ERR_INVALID_CHARS, bytes,
                                        static_cast<int>(length), wide, 2);
  if (units <= 0) return false;
  char utf8[8];
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, wide, units, utf8, sizeof utf8, nullptr, nullptr);
  if (size <= 0) return false;
  out->append(utf8, static_cast<size_t>(size));
  return true;
}

}  // namespace qz7::cli
