#include "platform/posix/file_helpers.h"

#include <errno.h>

#include "platform/posix/error_mapping.h"
#include "platform/posix/syscalls.h"
#include "platform/win_error.h"

namespace qz7::platform::posix {

uint32_t Fail(uint32_t error) {
  SetLastError(error);
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
  return StatHost(followLink ? path.host : path.hostEntry, status, followLink);
}

}  // namespace qz7::platform::posix
