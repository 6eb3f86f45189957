// Texts in fixed-size character arrays, the way every record of the library holds them.
#ifndef QZ7_BASE_FIXED_TEXT_H_
#define QZ7_BASE_FIXED_TEXT_H_

#include <cstddef>
#include <cstring>
#include <string_view>

namespace qz7::base {

// Copies source into destination of size bytes: a null source gives an empty text; a source
// of size or more characters is cut to size - 1 characters; the result is always terminated.
// Nothing is written when size is 0.
inline void CopyBounded(char* destination, const char* source, size_t size) {
  if (size == 0) return;
  if (source == nullptr) {
    destination[0] = '\0';
    return;
  }
  size_t length = strnlen(source, size - 1);
  std::memmove(destination, source, length);
  destination[length] = '\0';
}

// A text of at most N - 1 characters, always terminated; assignment cuts to size.
template <size_t N>
struct FixedText {
  static_assert(N > 0);
  char text[N] = {};

  FixedText() = default;
  FixedText(const char* source) { CopyBounded(text, source, N); }  // NOLINT: implicit by design
  FixedText& operator=(const char* source) {
    CopyBounded(text, source, N);
    return *this;
  }
  const char* c_str() const { return text; }
  char* data() { return text; }
  static constexpr size_t capacity() { return N; }
  bool empty() const { return text[0] == '\0'; }
  size_t size() const { return strnlen(text, N); }
  std::string_view view() const { return std::string_view(text, size()); }
  void clear() { text[0] = '\0'; }
};

}  // namespace qz7::base

#endif  // QZ7_BASE_FIXED_TEXT_H_
