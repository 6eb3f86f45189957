#include "platform/posix/error_mapping.h"

#include <errno.h>

#include <string>

#include "platform/posix/syscalls.h"
#include "platform/win_error.h"

namespace qz7::platform::posix {

uint32_t WindowsErrorFromErrno(int error, ErrnoContext context) {
  switch (error) {
    case 0:
      return kErrorSuccess;
    case ENOENT:
      return kErrorFileNotFound;
    case ENOTDIR:
    case ELOOP:
      return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
      return kErrorAccessDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return kErrorDiskFull;
    case ENAMETOOLONG:
      return kErrorFilenameExcedRange;
    case EEXIST:
      return context == ErrnoContext::kFile ? kErrorFileExists : kErrorAlreadyExists;
    case ENOTEMPTY:
      return kErrorDirNotEmpty;
    case EINVAL:
    case ERANGE:
    case EOVERFLOW:
      return kErrorInvalidParameter;
    case EMFILE:
    case ENFILE:
      return kErrorTooManyOpenFiles;
    case EBUSY:
      return kErrorSharingViolation;
    case EAGAIN:
    case EDEADLK:
    case ENOLCK:
      return kErrorLockViolation;
    case EBADF:
      return kErrorInvalidHandle;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case EIO:
      return kErrorGenFailure;
    case EPIPE:
      return kErrorBrokenPipe;
    case EXDEV:
      return kErrorNotSameDevice;
    case ENOEXEC:
      return kErrorBadExeFormat;
    case ENOSYS:
    case ENOTSUP:
      return kErrorNotSupported;
    case ESPIPE:
      return kErrorInvalidFunction;
    default:
      return kErrorGenFailure;
  }
}

uint32_t WindowsErrorForPath(int error, const char* hostPath, ErrnoContext context) {
  if (error != ENOENT || hostPath == nullptr) return WindowsErrorFromErrno(error, context);
  std::string parent(hostPath);
  while (parent.size() > 1 && parent.back() == '/') parent.pop_back();
  size_t slash = parent.rfind('/');
  if (slash == std::string::npos) return kErrorFileNotFound;
  parent.resize(slash == 0 ? 1 : slash);
  struct stat status;
  if (Syscalls().stat(parent.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
    return kErrorFileNotFound;
  }
  return kErrorPathNotFound;
}

uint32_t SetLastErrorFromErrno(int error, const char* hostPath, ErrnoContext context) {
  uint32_t code = WindowsErrorForPath(error, hostPath, context);
  SetLastError(code);
  return code;
}

}  // namespace qz7::platform::posix
