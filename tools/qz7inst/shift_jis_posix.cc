#include <iconv.h>

#include <cstring>

#include "tools/qz7inst/shift_jis.h"

namespace qz7::cli {

bool AppendShiftJisAsUtf8(const char* bytes, size_t length, std::string* out) {
  // One converter for the life of the program (a conversion resets it first).
  static const iconv_t converter = iconv_open("UTF-8", "CP932");
  if (converter == reinterpret_cast<iconv_t>(-1) || length == 0 || length > 2) return false;
  char input[2];
  std::memcpy(input, bytes, length);
  char output[8];
  char* in = input;
  char* to = output;
  size_t inLeft = length, outLeft = sizeof output;
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  if (iconv(converter, &in, &inLeft, &to, &outLeft) == static_cast<size_t>(-1) || inLeft != 0) {
    return false;
  }
  out->append(output, static_cast<size_t>(to - output));
  return true;
}

}  // namespace qz7::cli
