#include "util/setup_log.h"

#include <cstring>

#include "platform/log_file.h"

namespace qz7::util {

int AppendLogLine(platform::LogHandle fileHandle, const char* text) {
  if (text == nullptr) text = "";
  const auto length = static_cast<int64_t>(std::strlen(text));
  // The range to lock starts at the current end. Another process may have appended while we
  // waited for the lock; then the end has moved and the range is taken again at the new end.
  int64_t offset = platform::SeekToEnd(fileHandle);
  bool locked = false;
  for (int attempt = 0; offset >= 0 && attempt < 1000; ++attempt) {
    locked = platform::LockFileRange(fileHandle, offset, length + 2);
    if (!locked) break;
    int64_t end = platform::SeekToEnd(fileHandle);
    if (end == offset) break;
    platform::UnlockFileRange(fileHandle, offset, length + 2);
    locked = false;
    offset = end;
  }
  uint32_t written = 0;
  bool ok = platform::WriteToDescriptor(fileHandle, text, static_cast<uint32_t>(length), &written);
  uint32_t endWritten = 0;
  // The result tells whether the text reached the log; its line end is best effort.
  static_cast<void>(platform::WriteToDescriptor(fileHandle, "\r\n", 2, &endWritten));
  if (locked) platform::UnlockFileRange(fileHandle, offset, length + 2);
  return ok ? 1 : 0;
}

}  // namespace qz7::util
