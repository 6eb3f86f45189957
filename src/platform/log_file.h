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

}  // namespace qz7::platform

// The operations themselves are rows of the platform table.
#include "platform/platform_table.h"  // IWYU pragma: export

#endif  // QZ7_PLATFORM_LOG_FILE_H_
