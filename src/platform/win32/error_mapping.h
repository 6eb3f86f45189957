// The one place where the Win32 backend takes a failure's code from the system. The library's
// error codes are the Windows codes, so nothing is translated: the code of the thread's failed
// Win32 call (GetLastError), or of the C runtime's failed call (_doserrno, the system code the
// runtime saw), becomes the platform layer's last error.
#ifndef QZ7_PLATFORM_WIN32_ERROR_MAPPING_H_
#define QZ7_PLATFORM_WIN32_ERROR_MAPPING_H_

#include <cstdint>

namespace qz7::platform::win32 {

// After a failed Win32 call: records its code (ERROR_GEN_FAILURE when it left none) and
// returns it.
uint32_t SetLastErrorFromSystem();
// After a failed C runtime call: records the system code behind it (_doserrno), or the code
// that matches errno when the runtime failed on its own (bad mode, no memory...).
uint32_t SetLastErrorFromRuntime();
// Records code and returns it.
uint32_t Fail(uint32_t code);

}  // namespace qz7::platform::win32

#endif  // QZ7_PLATFORM_WIN32_ERROR_MAPPING_H_
