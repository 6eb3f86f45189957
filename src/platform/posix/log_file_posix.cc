// The caller's log file descriptor: positioning, byte-range locks (fcntl record locks, which
// other processes that lock the same file respect) and writes.
//
// A Windows lock is a range that is unlocked as a whole: UnlockFileEx of a range that was not
// locked as such fails with ERROR_NOT_LOCKED. fcntl record locks merge and split instead, so
// the ranges this process locked are kept here, by descriptor, to answer as Windows does.
#include <errno.h>

#include <mutex>
#include <set>
#include <tuple>

#include "platform/backend.h"
#include "platform/log_file.h"
#include "platform/posix/error_mapping.h"
#include "platform/posix/syscalls.h"
#include "platform/win_error.h"

namespace qz7::platform::backend {
namespace {

using posix::Syscalls;

constexpr uint32_t kErrorNotLocked = 158;

using LockedRange = std::tuple<int, int64_t, int64_t>;  // descriptor, offset, length

std::mutex& LockedRangesMutex() {
  static std::mutex mutex;
  return mutex;
}

std::multiset<LockedRange>& LockedRanges() {
  static std::multiset<LockedRange> ranges;
  return ranges;
}

bool SetRangeLock(int fd, short type, int command, int64_t offset, int64_t length) {
  if (fd < 0 || offset < 0 || length < 0) {
    SetLastError(fd < 0 ? kErrorInvalidHandle : kErrorInvalidParameter);
    return false;
  }
  // An fcntl length of 0 would mean "to the end of the file and beyond"; an empty range
  // holds nothing, so there is nothing to lock.
  if (length == 0) return true;
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = static_cast<off_t>(offset);
  lock.l_len = static_cast<off_t>(length);
  while (Syscalls().fcntlLock(fd, command, &lock) != 0) {
    if (errno == EINTR) continue;
    posix::SetLastErrorFromErrno(errno);
    return false;
  }
  return true;
}

}  // namespace

int64_t SeekToEnd(int fd) {
  off_t end = Syscalls().lseek(fd, 0, SEEK_END);
  if (end < 0) {
    posix::SetLastErrorFromErrno(errno);
    return -1;
  }
  return static_cast<int64_t>(end);
}

bool LockFileRange(int fd, int64_t offset, int64_t length) {
  if (!SetRangeLock(fd, F_WRLCK, F_SETLKW, offset, length)) return false;
  if (length > 0) {
    std::lock_guard<std::mutex> guard(LockedRangesMutex());
    LockedRanges().insert({fd, offset, length});
  }
  return true;
}

bool UnlockFileRange(int fd, int64_t offset, int64_t length) {
  if (fd >= 0 && offset >= 0 && length > 0) {
    std::lock_guard<std::mutex> guard(LockedRangesMutex());
    auto found = LockedRanges().find({fd, offset, length});
    if (found == LockedRanges().end()) {
      SetLastError(kErrorNotLocked);
      return false;
    }
    LockedRanges().erase(found);
  }
  return SetRangeLock(fd, F_UNLCK, F_SETLK, offset, length);
}

bool WriteToDescriptor(int fd, const void* data, uint32_t size, uint32_t* written) {
  uint32_t done = 0;
  const auto* bytes = static_cast<const char*>(data);
  bool ok = true;
  if (data == nullptr && size > 0) {
    SetLastError(kErrorInvalidParameter);
    ok = false;
  }
  while (ok && done < size) {
    ssize_t count = Syscalls().write(fd, bytes + done, size - done);
    if (count < 0) {
      if (errno == EINTR) continue;
      posix::SetLastErrorFromErrno(errno);
      ok = false;
      break;
    }
    done += static_cast<uint32_t>(count);
  }
  if (written != nullptr) *written = done;
  return ok;
}

}  // namespace qz7::platform::backend
