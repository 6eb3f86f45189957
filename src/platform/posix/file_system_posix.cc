// Files and directories of the Windows computer on a POSIX host: names, status, permissions,
// the current directory and copies. Windows paths are mapped through the machine root
// (host_path.h); every system call goes through the syscall table, and every failure is
// reported as a Windows error code. These functions fill the platform table (backend.h); the
// test kit's fault wrapper sits in front of that table, so nothing here counts or fails them.
// The read-only attribute is a file without any write permission bit; it is enforced here
// rather than left to the kernel, which ignores it for root.
#include <errno.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/file_system.h"
#include "platform/machine_root.h"
#include "platform/posix/error_mapping.h"
#include "platform/posix/file_helpers.h"
#include "platform/posix/host_path.h"
#include "platform/posix/syscalls.h"
#include "platform/posix/text_store.h"
#include "platform/win_error.h"

namespace qz7::platform::backend {

using posix::ErrnoContext;
using posix::Fail;
using posix::HostPath;
using posix::IsReadOnlyMode;
using posix::kWriteBits;
using posix::ParentExists;
using posix::Resolve;
using posix::StatResolved;
using posix::Syscalls;

int RemoveFile(const char* path) {
  if (path == nullptr) return Fail(kErrorInvalidParameter), -1;
  HostPath target;
  if (!Resolve(path, &target)) return -1;
  struct stat status;
  if (!StatResolved(target, &status, /*followLink=*/false)) return -1;
  struct stat followed = status;
  if (S_ISLNK(status.st_mode)) Syscalls().stat(target.hostEntry.c_str(), &followed);
  if (S_ISDIR(followed.st_mode) || IsReadOnlyMode(followed.st_mode)) {
    return Fail(kErrorAccessDenied), -1;
  }
  if (Syscalls().unlink(target.hostEntry.c_str()) != 0) {
    posix::SetLastErrorFromErrno(errno, target.hostEntry.c_str());
    return -1;
  }
  posix::NoteFolderChange(target, target.hostEntry, std::string());
  return 0;
}

namespace {

// The start both moves share: the arguments, both paths resolved and the source present. False with
// the last error set.
bool PrepareMove(const char* from, const char* to, HostPath* source, HostPath* destination,
                 struct stat* status) {
  if (from == nullptr || to == nullptr) return Fail(kErrorInvalidParameter), false;
  if (!posix::ResolveBoth(from, source, to, destination)) return false;
  return StatResolved(*source, status, /*followLink=*/false);
}

std::string FolderOf(const std::string& hostEntry) {
  return hostEntry.substr(0, hostEntry.rfind('/'));
}

// Renames the host entry from (that of source) to to (in the folder of destination's entry),
// and tells the lookup of names.
int MoveHostEntry(const HostPath& source, const HostPath& destination, const std::string& from,
                  const std::string& to) {
  if (Syscalls().rename(from.c_str(), to.c_str()) != 0) {
    posix::SetLastErrorFromErrno(errno, to.c_str(), ErrnoContext::kRename);
    return -1;
  }
  if (FolderOf(from) == FolderOf(to)) {
    posix::NoteFolderChange(source, from, to);
  } else {
    posix::NoteFolderChange(source, from, std::string());
    posix::NoteFolderChange(destination, std::string(), to);
  }
  return 0;
}

}  // namespace

int RenameFile(const char* from, const char* to) {
  HostPath source, destination;
  struct stat status;
  if (!PrepareMove(from, to, &source, &destination, &status)) return -1;
  if (source.windows.IsDriveRoot() || destination.windows.IsDriveRoot()) {
    return Fail(kErrorAccessDenied), -1;
  }
  std::string newHost = destination.hostEntry;
  if (destination.hostEntry == source.hostEntry) {
    // Only the case of the name changes: give the entry the name as written.
    newHost = newHost.substr(0, newHost.rfind('/') + 1) + destination.windows.components.back();
    if (newHost == source.hostEntry) return 0;
  } else {
    if (destination.exists) return Fail(kErrorAlreadyExists), -1;
    if (!ParentExists(destination)) return Fail(kErrorPathNotFound), -1;
  }
  return MoveHostEntry(source, destination, source.hostEntry, newHost);
}

int ReplaceFile(const char* from, const char* to) {
  HostPath source, destination;
  struct stat status;
  if (!PrepareMove(from, to, &source, &destination, &status)) return -1;
  if (!S_ISREG(status.st_mode) || destination.windows.IsDriveRoot()) {
    return Fail(kErrorAccessDenied), -1;
  }
  if (source.windows.drive != destination.windows.drive) return Fail(kErrorNotSameDevice), -1;
  if (destination.exists) {
    // Windows refuses to replace a directory or a read-only file, whoever runs the call.
    const struct stat& existing = destination.entryStatus;
    if (!S_ISREG(existing.st_mode) || IsReadOnlyMode(existing.st_mode)) {
      return Fail(kErrorAccessDenied), -1;
    }
  } else if (!ParentExists(destination)) {
    return Fail(kErrorPathNotFound), -1;
  }
  // rename(2) replaces the destination atomically; the existing entry keeps its spelling
  // because hostEntry names it as it stands on disk.
  return MoveHostEntry(source, destination, source.hostEntry, destination.hostEntry);
}

int MakeDirectory(const char* path) {
  if (path == nullptr) return Fail(kErrorInvalidParameter), -1;
  HostPath target;
  if (!Resolve(path, &target)) return -1;
  if (target.exists) return Fail(kErrorAlreadyExists), -1;
  if (Syscalls().mkdir(target.hostEntry.c_str(), 0777) != 0) {
    posix::SetLastErrorFromErrno(errno, target.hostEntry.c_str(), ErrnoContext::kDirectory);
    return -1;
  }
  posix::NoteFolderChange(target, std::string(), target.hostEntry);
  return 0;
}

int RemoveDirectory(const char* path) {
  if (path == nullptr) return Fail(kErrorInvalidParameter), -1;
  HostPath target;
  if (!Resolve(path, &target)) return -1;
  if (target.windows.IsDriveRoot()) return Fail(kErrorAccessDenied), -1;
  struct stat status;
  if (!StatResolved(target, &status, /*followLink=*/false)) return -1;
  if (!S_ISDIR(status.st_mode)) return Fail(kErrorDirectory), -1;
  WindowsPath plain = target.windows;
  plain.trailingSeparator = false;
  if (NamesEqualIgnoreCase(plain.ToString(), posix::CurrentDirectoriesSnapshot().Current())) {
    return Fail(kErrorSharingViolation), -1;  // Windows keeps the current directory open
  }
  if (Syscalls().rmdir(target.hostEntry.c_str()) != 0) {
    if (errno == ENOTEMPTY || errno == EEXIST) return Fail(kErrorDirNotEmpty), -1;
    posix::SetLastErrorFromErrno(errno, target.hostEntry.c_str(), ErrnoContext::kDirectory);
    return -1;
  }
  posix::NoteFolderChange(target, target.hostEntry, std::string());
  return 0;
}

int GetFileStatus(const char* path, FileStatus* status) {
  if (path == nullptr || status == nullptr) return Fail(kErrorInvalidParameter), -1;
  HostPath target;
  if (!Resolve(path, &target)) return -1;
  struct stat host;
  if (!StatResolved(target, &host)) return -1;
  if (target.windows.trailingSeparator && !S_ISDIR(host.st_mode)) {
    return Fail(kErrorFileNotFound), -1;
  }
  status->isDirectory = S_ISDIR(host.st_mode);
  status->isRegular = S_ISREG(host.st_mode);
  status->readOnly = IsReadOnlyMode(host.st_mode);
  status->size = status->isRegular ? static_cast<uint64_t>(host.st_size) : 0;
  return 0;
}

int SetFileWritable(const char* path, bool writable) {
  if (path == nullptr) return Fail(kErrorInvalidParameter), -1;
  HostPath target;
  if (!Resolve(path, &target)) return -1;
  struct stat status;
  if (!StatResolved(target, &status)) return -1;
  // Windows keeps the read-only attribute of a folder but does not let it stop anything;
  // clearing the write bits of a host directory would, so directories are left as they are.
  if (S_ISDIR(status.st_mode)) return 0;
  mode_t mode = status.st_mode & 07777;
  mode = writable ? (mode | S_IRUSR | S_IWUSR) : ((mode & ~kWriteBits) | S_IRUSR);
  if (Syscalls().chmod(target.host.c_str(), mode) != 0) {
    posix::SetLastErrorFromErrno(errno, target.host.c_str());
    return -1;
  }
  return 0;
}

char* FullPath(char* out, const char* path, size_t size) {
  if (out == nullptr || size == 0) return Fail(kErrorInvalidParameter), nullptr;
  std::string full;
  CurrentDirectories current = posix::CurrentDirectoriesSnapshot();
  if (path == nullptr || *path == '\0') {
    full = current.Current();
  } else {
    WindowsPath parsed;
    ParseOptions options;
    options.allowWildcards = true;
    options.enforceMaxPath = false;
    uint32_t error = ParseWindowsPath(path, current, options, &parsed);
    if (error != 0) return Fail(error), nullptr;
    full = parsed.ToString();
    // Windows writes the drive letter of a path that names its drive and root ("c:\a") as
    // given; only a path resolved against a current directory takes that directory's.
    const bool driveAndRoot =
        path[0] != '\0' && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
    if (driveAndRoot) full[0] = path[0];
  }
  if (full.size() + 1 > size) return Fail(kErrorFilenameExcedRange), nullptr;
  memcpy(out, full.c_str(), full.size() + 1);
  return out;
}

int GetCurrentDirectoryText(char* out, size_t size) {
  std::string current = posix::CurrentDirectoriesSnapshot().Current();
  if (out == nullptr || current.size() + 1 > size) return Fail(kErrorInsufficientBuffer), -1;
  memcpy(out, current.c_str(), current.size() + 1);
  return 0;
}

int SetCurrentDirectoryText(const char* path) {
  if (path == nullptr) return Fail(kErrorInvalidParameter), -1;
  HostPath target;
  if (!Resolve(path, &target)) return -1;
  struct stat status;
  if (!StatResolved(target, &status)) return -1;
  if (!S_ISDIR(status.st_mode)) return Fail(kErrorDirectory), -1;
  WindowsPath plain = target.windows;
  plain.trailingSeparator = false;
  posix::SetCurrentWindowsDirectory(plain.ToString());
  return 0;
}

bool CopyFileA(const char* existingFile, const char* newFile, bool failIfExists) {
  if (existingFile == nullptr || newFile == nullptr) return Fail(kErrorInvalidParameter), false;
  HostPath source, destination;
  if (!posix::ResolveBoth(existingFile, &source, newFile, &destination)) return false;
  struct stat sourceStatus;
  if (!StatResolved(source, &sourceStatus)) return false;
  if (S_ISDIR(sourceStatus.st_mode)) return Fail(kErrorAccessDenied), false;
  if (destination.windows.IsDriveRoot()) return Fail(kErrorAccessDenied), false;
  if (destination.exists) {
    const struct stat& destinationStatus = destination.status;
    if (failIfExists) return Fail(kErrorFileExists), false;
    if (S_ISDIR(destinationStatus.st_mode) || IsReadOnlyMode(destinationStatus.st_mode)) {
      return Fail(kErrorAccessDenied), false;
    }
    if (destinationStatus.st_dev == sourceStatus.st_dev &&
        destinationStatus.st_ino == sourceStatus.st_ino) {
      return Fail(kErrorSharingViolation), false;
    }
  } else if (!ParentExists(destination)) {
    return Fail(kErrorPathNotFound), false;
  }

  int in = Syscalls().open(source.host.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (in < 0) {
    posix::SetLastErrorFromErrno(errno, source.host.c_str());
    return false;
  }
  int out =
      Syscalls().open(destination.host.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (out < 0) {
    posix::SetLastErrorFromErrno(errno, destination.host.c_str());
    Syscalls().close(in);
    return false;
  }
  const int failure = posix::CopyContentsAndAttributes(in, out, posix::kToTheEnd, sourceStatus);
  Syscalls().close(in);
  if (failure != 0) {
    Syscalls().unlink(destination.host.c_str());  // no half-written copy is left behind
    posix::SetLastErrorFromErrno(failure, destination.host.c_str());
    return false;
  }
  if (!destination.exists) posix::NoteFolderChange(destination, std::string(), destination.host);
  return true;
}

namespace {

// fsync (or syncfs) of a host entry opened read-only; false with the last error set.
bool SyncHostEntry(const std::string& host, int flags, int (*sync)(int)) {
  int fd = Syscalls().open(host.c_str(), O_RDONLY | O_CLOEXEC | flags, 0);
  if (fd < 0) {
    posix::SetLastErrorFromErrno(errno, host.c_str(), ErrnoContext::kDirectory);
    return false;
  }
  int result;
  do {
    result = sync(fd);
  } while (result != 0 && errno == EINTR);
  int error = errno;
  Syscalls().close(fd);
  if (result != 0) posix::SetLastErrorFromErrno(error, host.c_str());
  return result == 0;
}

}  // namespace

int SyncDirectory(const char* path) {
  if (path == nullptr) return Fail(kErrorInvalidParameter), -1;
  HostPath target;
  if (!Resolve(path, &target)) return -1;
  struct stat status;
  if (!StatResolved(target, &status)) return -1;
  if (!S_ISDIR(status.st_mode)) return Fail(kErrorDirectory), -1;
  return SyncHostEntry(target.host, O_DIRECTORY, Syscalls().fsync) ? 0 : -1;
}

int SyncFileSystem() {
  // The registry and the service table, replaced in the machine root since their last flush.
  if (uint32_t error = posix::SyncStoreFolder(MachineRoot() + "/registry.txt"); error != 0) {
    return Fail(error), -1;
  }
  // Every drive of the machine root may be a link to another file system: each file system
  // that holds one is synced, once (a sync of one that others write to as well costs theirs).
  const std::string drives = MachineRoot() + "/drives";
  std::vector<std::string> names;
  if (!posix::ListHostDirectory(drives, &names)) return Fail(kErrorPathNotFound), -1;
  std::vector<dev_t> synced;
  for (const std::string& name : names) {
    struct stat status;
    const std::string drive = drives + "/" + name;
    const bool known = Syscalls().stat(drive.c_str(), &status) == 0;
    if (known && std::find(synced.begin(), synced.end(), status.st_dev) != synced.end()) continue;
    if (!SyncHostEntry(drive, O_DIRECTORY, Syscalls().syncfs)) return -1;
    if (known) synced.push_back(status.st_dev);
  }
  // The folder of the drives themselves, unless it shares a file system synced already.
  struct stat status;
  if (Syscalls().stat(drives.c_str(), &status) == 0 &&
      std::find(synced.begin(), synced.end(), status.st_dev) != synced.end()) {
    return 0;
  }
  return SyncHostEntry(drives, O_DIRECTORY, Syscalls().syncfs) ? 0 : -1;
}

}  // namespace qz7::platform::backend
