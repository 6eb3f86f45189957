// Mapping resolved Windows paths onto host paths below the machine root.
#ifndef QZ7_PLATFORM_POSIX_HOST_PATH_H_
#define QZ7_PLATFORM_POSIX_HOST_PATH_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/windows_path.h"

namespace qz7::platform::posix {

struct HostPath {
  WindowsPath windows;    // the absolute Windows path
  std::string host;       // where it lives on the host, a final symbolic link followed
  std::string hostEntry;  // the host name of the last component itself (for remove, rename)
  std::string driveRoot;  // the real host directory of its drive
  bool exists = false;    // every component was found on disk
};

// Resolves a Windows path text against the current directory and finds it below the drive's
// host directory: each existing component by its exact name, else by the first name in sorted
// order that equals it without regard to case; the first missing component and all after it
// keep the case given. Returns 0, or the Windows error: those of ParseWindowsPath, 3 for a
// drive the machine does not have, 5 when a symbolic link inside the drive would lead out of it.
uint32_t ResolveHostPath(const char* windowsPath, const ParseOptions& options, HostPath* out);
uint32_t MapWindowsPath(const WindowsPath& path, HostPath* out);

// The real host directory of a drive ('A'..'Z'), or empty when the machine has no such drive.
std::string DriveHostDirectory(char drive);

// The process's current directories (a copy), and changing them.
CurrentDirectories CurrentDirectoriesSnapshot();
void SetCurrentWindowsDirectory(const std::string& windowsPath);

// The names in a host directory, "." and ".." left out, in byte order. False when the
// directory cannot be read (errno set).
bool ListHostDirectory(const std::string& hostDirectory, std::vector<std::string>* names);

}  // namespace qz7::platform::posix

#endif  // QZ7_PLATFORM_POSIX_HOST_PATH_H_
