// The caller's setup log: lines appended under a byte-range lock.
#ifndef QZ7_UTIL_SETUP_LOG_H_
#define QZ7_UTIL_SETUP_LOG_H_

#include "platform/log_file.h"

namespace qz7::util {

// Appends text and CR LF at the end of the log file descriptor. The byte range the text will
// occupy is locked around the write, so processes that lock the log the same way never
// interleave their lines. Returns 1 when the text was written, 0 otherwise; failures of the
// lock or of the line end are not reported further.
int AppendLogLine(platform::LogHandle fileHandle, const char* text);

}  // namespace qz7::util

#endif  // QZ7_UTIL_SETUP_LOG_H_
