#include "platform/win32/error_mapping.h"

#include <errno.h>
#include <stdlib.h>

#include "platform/win32/windows_api.h"
#include "platform/win_error.h"

namespace qz7::platform::win32 {

uint32_t Fail(uint32_t code) {
  platform::SetLastError(code);
  return code;
}

uint32_t SetLastErrorFromSystem() {
  DWORD code = ::GetLastError();
  return Fail(code == ERROR_SUCCESS ? kErrorGenFailure : static_cast<uint32_t>(code));
}

uint32_t SetLastErrorFromRuntime() {
  // The runtime keeps the system's code of the call it failed on; a failure of its own (no
  // system call made) leaves only errno.
  unsigned long system = _doserrno;
  if (system != 0) return Fail(static_cast<uint32_t>(system));
  switch (errno) {
    case ENOENT:
      return Fail(kErrorFileNotFound);
    case EACCES:
      return Fail(kErrorAccessDenied);
    case EEXIST:
      return Fail(kErrorFileExists);
    case ENOMEM:
      return Fail(kErrorNotEnoughMemory);
    case EMFILE:
      return Fail(kErrorTooManyOpenFiles);
    case ENOSPC:
      return Fail(kErrorDiskFull);
    case ERANGE:
    case ENAMETOOLONG:
      return Fail(kErrorFilenameExcedRange);
    case EBADF:
      return Fail(kErrorInvalidHandle);
    default:
      return Fail(kErrorInvalidParameter);
  }
}

}  // namespace qz7::platform::win32
