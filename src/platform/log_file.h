// Low-level access to the caller's log file descriptor: end-of-file positioning, byte-range
// locks shared with other processes (fcntl on POSIX, LockFileEx on Windows) and writes.
#ifndef QZ7_PLATFORM_LOG_FILE_H_
#define QZ7_PLATFORM_LOG_FILE_H_

#include <cstdint>

namespace qz7::platform {

// SetFilePointer(fd, 0, FILE_END): the new offset, or -1 on failure.
int64_t SeekToEnd(int fd);
// Locks [offset, offset + length) for writing, waiting while another process holds an
// overlapping range. True on success.
bool LockFileRange(int fd, int64_t offset, int64_t length);
bool UnlockFileRange(int fd, int64_t offset, int64_t length);
// WriteFile at the current position: true when all bytes were written.
bool WriteToDescriptor(int fd, const void* data, uint32_t size, uint32_t* written);

}  // namespace qz7::platform

#endif  // QZ7_PLATFORM_LOG_FILE_H_
