// The one place where the POSIX backend turns errno values into Windows error codes.
#ifndef QZ7_PLATFORM_POSIX_ERROR_MAPPING_H_
#define QZ7_PLATFORM_POSIX_ERROR_MAPPING_H_

#include <cstdint>

namespace qz7::platform::posix {

// What the failing call was doing; a few errno values mean different Windows codes for
// different kinds of operation (EEXIST: 80 for a file, 183 for a directory or a rename).
enum class ErrnoContext {
  kFile,       // opening, creating, reading, writing a file
  kDirectory,  // creating or removing a directory
  kRename,     // moving a name
};

// The Windows error for an errno value. ENOENT maps to kErrorFileNotFound here; use
// WindowsErrorForPath when the host path is known, to tell a missing parent folder (3).
uint32_t WindowsErrorFromErrno(int error, ErrnoContext context = ErrnoContext::kFile);

// As WindowsErrorFromErrno, but ENOENT becomes kErrorPathNotFound when the folder that would
// hold hostPath does not exist (the Windows distinction between a missing file and a missing
// path). hostPath may be null.
uint32_t WindowsErrorForPath(int error, const char* hostPath,
                             ErrnoContext context = ErrnoContext::kFile);

// Maps an errno value as WindowsErrorForPath does, sets it as the last error and returns it.
uint32_t SetLastErrorFromErrno(int error, const char* hostPath = nullptr,
                               ErrnoContext context = ErrnoContext::kFile);

}  // namespace qz7::platform::posix

#endif  // QZ7_PLATFORM_POSIX_ERROR_MAPPING_H_
