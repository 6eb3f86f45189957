// Windows error codes, the one vocabulary in which the platform layer reports failures.
#ifndef QZ7_PLATFORM_WIN_ERROR_H_
#define QZ7_PLATFORM_WIN_ERROR_H_

#include <cstdint>

namespace qz7::platform {

constexpr uint32_t kErrorSuccess = 0;
constexpr uint32_t kErrorInvalidFunction = 1;
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorTooManyOpenFiles = 4;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorBadFormat = 11;
constexpr uint32_t kErrorInvalidData = 13;
constexpr uint32_t kErrorWriteProtect = 19;
constexpr uint32_t kErrorNotReady = 21;
constexpr uint32_t kErrorWriteFault = 29;
constexpr uint32_t kErrorReadFault = 30;
constexpr uint32_t kErrorGenFailure = 31;
constexpr uint32_t kErrorSharingViolation = 32;
constexpr uint32_t kErrorLockViolation = 33;
constexpr uint32_t kErrorHandleEof = 38;
constexpr uint32_t kErrorNotSupported = 50;
constexpr uint32_t kErrorFileExists = 80;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorBrokenPipe = 109;
constexpr uint32_t kErrorDiskFull = 112;
constexpr uint32_t kErrorInsufficientBuffer = 122;
constexpr uint32_t kErrorInvalidName = 123;
constexpr uint32_t kErrorDirNotEmpty = 145;
constexpr uint32_t kErrorBadPathname = 161;
constexpr uint32_t kErrorAlreadyExists = 183;
constexpr uint32_t kErrorBadExeFormat = 193;
constexpr uint32_t kErrorFilenameExcedRange = 206;
constexpr uint32_t kErrorMoreData = 234;
constexpr uint32_t kErrorNoMoreItems = 259;
constexpr uint32_t kErrorDirectory = 267;
constexpr uint32_t kErrorRegistryCorrupt = 1015;
constexpr uint32_t kErrorServiceDoesNotExist = 1060;
constexpr uint32_t kErrorServiceExists = 1073;
constexpr uint32_t kErrorInvalidServiceAccount = 1057;
constexpr uint32_t kErrorBadFileType = 222;
constexpr uint32_t kErrorCrcError = 23;
constexpr uint32_t kErrorNotSameDevice = 17;
constexpr uint32_t kErrorNoMoreFiles = 18;
constexpr uint32_t kErrorBufferOverflow = 111;
constexpr uint32_t kErrorEnvVarNotFound = 203;

// The calling thread's last error, as GetLastError/SetLastError keep it on Windows.
uint32_t GetLastError();
void SetLastError(uint32_t error);

// Whether a failed call's error says that nothing is there (no such file, or a folder on the
// way missing), rather than that something there could not be reached.
constexpr bool IsMissingError(uint32_t error) {
  return error == kErrorFileNotFound || error == kErrorPathNotFound;
}

}  // namespace qz7::platform

#endif  // QZ7_PLATFORM_WIN_ERROR_H_
