// The text files the POSIX backend keeps in the machine root (registry.txt, services.txt):
// reading them whole, a tolerant line walk that reports what it cannot read as file:line on
// standard error, the quoted-text notation they share, and the atomic replacement and the
// lock that make every change one step for other processes.
#ifndef QZ7_PLATFORM_POSIX_TEXT_STORE_H_
#define QZ7_PLATFORM_POSIX_TEXT_STORE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qz7::platform::posix {

// Reads the whole host file into content. 0, kErrorFileNotFound when it does not exist, or
// the Windows error of the failing read (content is then empty).
uint32_t ReadTextStore(const std::string& hostPath, std::string* content);

// Replaces hostPath with content as one step: the text goes to a new temporary file in the
// same folder, which is flushed to disk and renamed over hostPath. On failure the old file is
// untouched and the temporary file removed. Returns 0 or the Windows error.
uint32_t ReplaceTextStore(const std::string& hostPath, const std::string& content);

// Holds an exclusive lock on "<hostPath>.lock" for one read-change-write cycle, so that two
// processes changing the same store do not lose each other's change. Readers need no lock
// because a store is only ever replaced whole.
class TextStoreLock {
 public:
  explicit TextStoreLock(const std::string& hostPath);
  ~TextStoreLock();
  TextStoreLock(const TextStoreLock&) = delete;
  TextStoreLock& operator=(const TextStoreLock&) = delete;
  // 0 when the lock is held, else the Windows error (the folder is missing, ...).
  uint32_t error() const { return error_; }

 private:
  int fd_ = -1;
  uint32_t error_ = 0;
};

// One line of a store: its 1-based number and its text without the line end (LF or CR LF).
struct StoreLine {
  int number;
  std::string_view text;
};
std::vector<StoreLine> SplitStoreLines(std::string_view content);

// The quoted notation: "text" with \\ \" \n \r \t and \xHH for other control bytes; bytes
// from 0x80 up stand as they are.
std::string QuoteStoreText(std::string_view text);
// Reads one quoted text at the start of *cursor (after blanks) and advances past it. False
// (cursor unchanged) when there is no well-formed quoted text.
bool ParseStoreText(std::string_view* cursor, std::string* text);

std::string_view TrimBlanks(std::string_view text);
// ASCII letters compared without regard to case, other bytes exactly.
bool EqualNoCase(std::string_view a, std::string_view b);

}  // namespace qz7::platform::posix

#endif  // QZ7_PLATFORM_POSIX_TEXT_STORE_H_
