#include <errno.h>
#include <limits.h>
#include <stdlib.h>

#include <algorithm>
#include <mutex>

#include "platform/machine_root.h"
#include "platform/posix/host_path.h"
#include "platform/posix/syscalls.h"
#include "platform/win_error.h"

namespace qz7::platform {
namespace {

std::mutex rootMutex;
std::string overrideRoot;
CurrentDirectories currentDirectories;

constexpr size_t kMaxSettingsFile = 64 * 1024;

// The real path of a host file, or empty.
std::string RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  if (posix::Syscalls().realpath(path.c_str(), resolved) == nullptr) return std::string();
  return resolved;
}

bool IsInside(const std::string& path, const std::string& directory) {
  if (directory == "/") return true;
  return path == directory ||
         (path.size() > directory.size() && path.compare(0, directory.size(), directory) == 0 &&
          path[directory.size()] == '/');
}

// The entry of hostDirectory that stands for name: the exact name when it exists, else the
// first case-blind match in sorted order. Empty when there is none.
std::string FindEntry(const std::string& hostDirectory, const std::string& name) {
  struct stat status;
  std::string exact = hostDirectory + "/" + name;
  if (posix::Syscalls().lstat(exact.c_str(), &status) == 0) return name;
  std::vector<std::string> names;
  if (!posix::ListHostDirectory(hostDirectory, &names)) return std::string();
  for (const std::string& candidate : names) {
    if (NamesEqualIgnoreCase(candidate, name)) return candidate;
  }
  return std::string();
}

}  // namespace

namespace posix {

bool ListHostDirectory(const std::string& hostDirectory, std::vector<std::string>* names) {
  DIR* directory = Syscalls().opendir(hostDirectory.c_str());
  if (directory == nullptr) return false;
  names->clear();
  errno = 0;
  while (struct dirent* entry = Syscalls().readdir(directory)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names->push_back(name);
  }
  int readError = errno;
  Syscalls().closedir(directory);
  std::sort(names->begin(), names->end());
  errno = readError;
  return readError == 0;
}

std::string DriveHostDirectory(char drive) {
  if (drive >= 'a' && drive <= 'z') drive = static_cast<char>(drive - 'a' + 'A');
  if (drive < 'A' || drive > 'Z') return std::string();
  std::string drives = MachineRoot() + "/drives";
  for (char letter : {static_cast<char>(drive - 'A' + 'a'), drive}) {
    std::string candidate = drives + "/" + letter;
    struct stat status;
    // The drive directory itself may be a symbolic link; it is followed.
    if (Syscalls().stat(candidate.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
      return RealPath(candidate);
    }
  }
  return std::string();
}

uint32_t MapWindowsPath(const WindowsPath& path, HostPath* out) {
  HostPath result;
  result.windows = path;
  result.driveRoot = DriveHostDirectory(path.drive);
  if (result.driveRoot.empty()) return kErrorPathNotFound;
  std::string host = result.driveRoot;
  result.hostEntry = host;
  bool found = true;
  for (const std::string& name : path.components) {
    if (!found) {
      host += "/" + name;
      result.hostEntry = host;
      continue;
    }
    std::string entry = FindEntry(host, name);
    if (entry.empty()) {
      found = false;
      host += "/" + name;
      result.hostEntry = host;
      continue;
    }
    host += "/" + entry;
    result.hostEntry = host;
    struct stat status;
    if (Syscalls().lstat(host.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
      // A link is followed only while it stays inside the drive; a dangling link could
      // otherwise create a file wherever it points.
      std::string target = RealPath(host);
      if (target.empty() || !IsInside(target, result.driveRoot)) return kErrorAccessDenied;
      host = target;
    }
  }
  result.host = host;
  result.exists = found;
  *out = std::move(result);
  return 0;
}

uint32_t ResolveHostPath(const char* windowsPath, const ParseOptions& options, HostPath* out) {
  WindowsPath path;
  uint32_t error = ParseWindowsPath(windowsPath, CurrentDirectoriesSnapshot(), options, &path);
  if (error != 0) return error;
  return MapWindowsPath(path, out);
}

CurrentDirectories CurrentDirectoriesSnapshot() {
  std::lock_guard<std::mutex> lock(rootMutex);
  return currentDirectories;
}

void SetCurrentWindowsDirectory(const std::string& windowsPath) {
  std::lock_guard<std::mutex> lock(rootMutex);
  currentDirectories.Set(windowsPath);
}

}  // namespace posix

std::string MachineRoot() {
  std::string root;
  {
    std::lock_guard<std::mutex> lock(rootMutex);
    root = overrideRoot;
  }
  if (root.empty()) {
    const char* fromEnvironment = posix::Syscalls().getenv("QZ7_MACHINE");
    if (fromEnvironment != nullptr && *fromEnvironment != '\0') {
      root = fromEnvironment;
    } else {
      const char* home = posix::Syscalls().getenv("HOME");
      root = home != nullptr && *home != '\0' ? std::string(home) + "/.qz7/machine"
                                              : std::string("/tmp/qz7/machine");
    }
  }
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root;
}

void SetMachineRoot(const std::string& hostDirectory) {
  std::lock_guard<std::mutex> lock(rootMutex);
  overrideRoot = hostDirectory;
  currentDirectories.Reset();
}

std::optional<std::string> HostPathOf(const char* windowsPath) {
  posix::HostPath path;
  if (posix::ResolveHostPath(windowsPath, ParseOptions{}, &path) != 0) return std::nullopt;
  return path.host;
}

std::optional<std::string> ReadMachineRootFile(const char* fileName) {
  std::string path = MachineRoot() + "/" + fileName;
  int fd = posix::Syscalls().open(path.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) return std::nullopt;
  std::string text;
  char buffer[4096];
  for (;;) {
    ssize_t got = posix::Syscalls().read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      posix::Syscalls().close(fd);
      return std::nullopt;
    }
    if (got == 0 || text.size() >= kMaxSettingsFile) break;
    text.append(buffer, static_cast<size_t>(got));
  }
  posix::Syscalls().close(fd);
  return text;
}

}  // namespace qz7::platform
