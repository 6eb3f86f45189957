// windows.h for the Win32 backend, without the macros that would rename the platform layer's
// own names (RemoveDirectory, ReplaceFile and QueryServiceConfig become their ...A forms there).
#ifndef QZ7_PLATFORM_WIN32_WINDOWS_API_H_
#define QZ7_PLATFORM_WIN32_WINDOWS_API_H_

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef RemoveDirectory
#undef ReplaceFile
#undef QueryServiceConfig

#endif  // QZ7_PLATFORM_WIN32_WINDOWS_API_H_
