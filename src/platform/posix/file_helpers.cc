#include "platform/posix/file_helpers.h"

#include <errno.h>

#include <algorithm>
#include <memory>

#include "platform/posix/error_mapping.h"
#include "platform/posix/syscalls.h"
#include "platform/win_error.h"

namespace qz7::platform::posix {

uint32_t Fail(uint32_t error) {
  SetLastError(error);
  return error;
}

int CopyContentsAndAttributes(int in, int out, uint64_t size, const struct stat& source) {
  int error = CopyDescriptorBytes(in, out, size);
  if (error == 0) {
    const struct timespec times[2] = {source.st_atim, source.st_mtim};
    Syscalls().futimens(out, times);
    if (Syscalls().fchmod(out, source.st_mode & 07777) != 0) error = errno;
  }
  if (Syscalls().close(out) != 0 && error == 0 && errno != EINTR) error = errno;
  return error;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t written = Syscalls().write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) {
      errno = ENOSPC;
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

int CopyDescriptorBytes(int in, int out, uint64_t size) {
  uint64_t left = size;
  // The kernel copies without a trip through this process; a pair of file systems it cannot
  // copy between (or a kernel without the call) answers before anything is copied, and the
  // rest goes through a buffer from where the offsets stand.
  while (left > 0) {
    constexpr uint64_t kMostPerCall = uint64_t{1} << 30;
    const ssize_t copied =
        Syscalls().copyFileRange(in, out, static_cast<size_t>(std::min(left, kMostPerCall)));
    if (copied > 0) {
      if (left != kToTheEnd) left -= static_cast<uint64_t>(copied);
      continue;
    }
    if (copied == 0) return 0;  // the source ended sooner
    if (errno == EINTR) continue;
    if (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL) break;
    return errno;
  }
  if (left == 0) return 0;
  constexpr size_t kCopyPiece = 64 * 1024;
  std::unique_ptr<char[]> buffer(new char[kCopyPiece]);  // not cleared: read fills it
  while (left > 0) {
    const ssize_t got = Syscalls().read(in, buffer.get(),
                                        static_cast<size_t>(std::min<uint64_t>(left, kCopyPiece)));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno;
    if (got == 0) return 0;
    if (!WriteAll(out, buffer.get(), static_cast<size_t>(got))) return errno;
    if (left != kToTheEnd) left -= static_cast<uint64_t>(got);
  }
  return 0;
}

bool Resolve(const char* path, HostPath* out, ParseOptions options) {
  uint32_t error = ResolveHostPath(path, options, out);
  if (error != 0) {
    Fail(error);
    return false;
  }
  return true;
}

bool ResolveBoth(const char* first, HostPath* firstOut, const char* second, HostPath* secondOut) {
  if (!Resolve(first, firstOut)) return false;
  uint32_t error = ResolveHostPath(second, ParseOptions{}, secondOut, firstOut);
  if (error != 0) {
    Fail(error);
    return false;
  }
  return true;
}

bool StatHost(const std::string& host, struct stat* status, bool followLink) {
  int result =
      followLink ? Syscalls().stat(host.c_str(), status) : Syscalls().lstat(host.c_str(), status);
  if (result != 0) {
    SetLastErrorFromErrno(errno, host.c_str());
    return false;
  }
  return true;
}

bool ParentExists(const std::string& host) {
  size_t slash = host.rfind('/');
  if (slash == std::string::npos || slash == 0) return true;
  struct stat status;
  return Syscalls().stat(host.substr(0, slash).c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool ParentExists(const HostPath& path) {
  if (path.parentKnown) return S_ISDIR(path.parentStatus.st_mode);
  return ParentExists(path.hostEntry);
}

bool StatResolved(const HostPath& path, struct stat* status, bool followLink) {
  if (path.exists) {
    *status = followLink ? path.status : path.entryStatus;
    return true;
  }
  // The resolution has just seen the name missing from a folder that exists: what asking
  // again would report (ENOENT in an existing folder).
  if (path.lastNameMissing) return Fail(kErrorFileNotFound), false;
  return StatHost(followLink ? path.host : path.hostEntry, status, followLink);
}

}  // namespace qz7::platform::posix
