// Mapping resolved Windows paths onto host paths below the machine root.
#ifndef QZ7_PLATFORM_POSIX_HOST_PATH_H_
#define QZ7_PLATFORM_POSIX_HOST_PATH_H_

#include <dirent.h>
#include <sys/stat.h>

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
  // The drive's entry in drives/ was asked for while resolving; else driveRoot is the drive
  // folder found before, reached again through the entry (see MapWindowsPath).
  bool driveChecked = true;
  bool exists = false;  // every component was found on disk
  // Read while resolving, so that the caller need not ask again: when exists, the lstat of
  // hostEntry and the stat of host (they differ for a link); when parentKnown, the stat of the
  // folder that holds hostEntry (every component but the last was found).
  struct stat entryStatus = {};
  struct stat status = {};
  bool parentKnown = false;
  struct stat parentStatus = {};
  // Only the last name is missing: the folder that would hold it is a folder (parentStatus),
  // and neither the name as written nor any name equal to it without regard to case is there.
  bool lastNameMissing = false;
  // When the folder that holds the last name was reached by exact names and no link (its
  // status in parentStatus): the key of that folder among the folders so found, for a second
  // path of the same operation in the same folder.
  std::string exactParentKey;
};

// Resolves a Windows path text against the current directory and finds it below the drive's
// host directory: each existing component by its exact name, else by the first name in sorted
// order that equals it without regard to case; the first missing component and all after it
// keep the case given. A folder's listing, read for a name that is not there as written, is
// kept for later lookups while the folder is unchanged. Returns 0, or the Windows error: those
// of ParseWindowsPath, 3 for a drive the machine does not have, 5 when a symbolic link inside
// the drive would lead out of it.
// earlier: a path resolved a moment ago for the same operation (a copy's source, say); its
// drive folder serves this path too when the drive is the same.
uint32_t ResolveHostPath(const char* windowsPath, const ParseOptions& options, HostPath* out,
                         const HostPath* earlier = nullptr);
uint32_t MapWindowsPath(const WindowsPath& path, HostPath* out, const HostPath* earlier = nullptr);

// The real host directory of a drive ('A'..'Z'), or empty when the machine has no such drive.
std::string DriveHostDirectory(char drive);

// Tells the lookup of names that the backend has just removed removedEntry and added
// addedEntry (host paths, either empty) in the folder that holds path.hostEntry, path being
// the resolution made before the change. Call it after every change of names in a folder that
// succeeded; a change it is not told of is seen from the folder's status.
void NoteFolderChange(const HostPath& path, const std::string& removedEntry,
                      const std::string& addedEntry);

// Drops the listing kept for a host folder (if any), for a change of its names that the caller
// made without a resolution to hand to NoteFolderChange.
void ForgetFolderListing(const std::string& hostDirectory);

// The process's current directories (a copy), and changing them.
CurrentDirectories CurrentDirectoriesSnapshot();
void SetCurrentWindowsDirectory(const std::string& windowsPath);

// The names in a host directory, "." and ".." left out, in byte order. False when the
// directory cannot be read (errno set). With keepOpen, the directory stays open on success for
// the caller to reach its entries through dirfd, and to close with closedir.
bool ListHostDirectory(const std::string& hostDirectory, std::vector<std::string>* names,
                       DIR** keepOpen = nullptr);

}  // namespace qz7::platform::posix

#endif  // QZ7_PLATFORM_POSIX_HOST_PATH_H_
