// Low-level access to the caller's log file descriptor: end-of-file positioning, byte-range
// locks shared with other processes (fcntl on POSIX, LockFileEx on Windows) and writes.
#ifndef QZ7_PLATFORM_LOG_FILE_H_
#define QZ7_PLATFORM_LOG_FILE_H_

#include <cstdint>
#include <type_traits>

#include "qz7instm.h"

namespace qz7::platform {

// What the caller's QZ7_LOG_FILE points to: a file descriptor on POSIX, a HANDLE on Windows.
using LogHandle = std::remove_pointer_t<QZ7_LOG_FILE>;

// SetFilePointer(fd, 0, FILE_END): the new offset, or -1 on failure.
int64_t SeekToEnd(LogHandle fd);
// Locks [offset, offset + length) for writing, waiting while another process holds an
// overlapping range. True on success.
[[nodiscard]] bool LockFileRange(LogHandle fd, int64_t offset, int64_t length);
bool UnlockFileRange(LogHandle fd, int64_t offset, int64_t length);
// WriteFile at the current position: true when all bytes were written.
[[nodiscard]] bool WriteToDescriptor(LogHandle fd, const void* data, uint32_t size,
                                     uint32_t* written);

}  // namespace qz7::platform

#endif  // QZ7_PLATFORM_LOG_FILE_H_
