// Walking multibyte text character by character in the computer's code page.
#ifndef QZ7_BASE_MULTIBYTE_H_
#define QZ7_BASE_MULTIBYTE_H_

namespace qz7::base {

// The first single-byte character equal to wanted, walking from the start to the terminator
// one character at a time (a double-byte character is one step and never matches); null
// when there is none or text is null.
const char* FindCharMB(const char* text, char wanted);
char* FindCharMB(char* text, char wanted);

// The last such character, or null.
const char* FindLastCharMB(const char* text, char wanted);

}  // namespace qz7::base

#endif  // QZ7_BASE_MULTIBYTE_H_
