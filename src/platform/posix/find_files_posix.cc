// Directory searches (_findfirst / _findnext / _findclose). A search takes a snapshot of the
// matching entries when it starts, sorted the way NTFS lists names.
#include <errno.h>
#include <limits.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/file_system.h"
#include "platform/posix/error_mapping.h"
#include "platform/posix/file_helpers.h"
#include "platform/posix/host_path.h"
#include "platform/posix/syscalls.h"
#include "platform/win_error.h"

namespace qz7::platform::backend {

using posix::Fail;
using posix::HostPath;
using posix::IsReadOnlyMode;
using posix::Syscalls;

namespace {

struct Search {
  std::vector<FindData> entries;
  size_t next = 0;
};

std::mutex searchMutex;
std::map<FindHandle, Search> searches;
FindHandle nextSearchHandle = 1;

// The search entry for host file hostEntry, or false when it is to be left out: a link that
// leads out of the drive (or nowhere) is not part of the drive.
// folder: the open folder that holds the entry, whose status is then read by name from there
// instead of through the whole path; -1 for "." and "..".
// directory: the folder searched; its drive folder is asked for afresh before a link is
// judged against it, if it was not asked for while resolving.
bool DescribeEntry(const std::string& hostEntry, const std::string& name, HostPath* directory,
                   int folder, FindData* data) {
  if (name.size() >= sizeof data->name) return false;
  struct stat status;
  const int read = folder >= 0
                       ? Syscalls().fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW)
                       : Syscalls().lstat(hostEntry.c_str(), &status);
  if (read != 0) return false;
  if (S_ISLNK(status.st_mode)) {
    char resolved[PATH_MAX];
    if (Syscalls().realpath(hostEntry.c_str(), resolved) == nullptr) return false;
    std::string target = resolved;
    if (!directory->driveChecked) {
      directory->driveRoot = posix::DriveHostDirectory(directory->windows.drive);
      directory->driveChecked = true;
    }
    const std::string& driveRoot = directory->driveRoot;
    if (driveRoot.empty()) return false;  // the drive is gone
    if (target != driveRoot && target.compare(0, driveRoot.size() + 1, driveRoot + "/") != 0) {
      return false;
    }
    if (Syscalls().stat(hostEntry.c_str(), &status) != 0) return false;
  }
  memcpy(data->name, name.c_str(), name.size() + 1);
  data->isDirectory = S_ISDIR(status.st_mode);
  data->readOnly = IsReadOnlyMode(status.st_mode);
  data->size = S_ISREG(status.st_mode) ? static_cast<uint64_t>(status.st_size) : 0;
  return true;
}

}  // namespace

FindHandle FindFirst(const char* pattern, FindData* data) {
  if (pattern == nullptr || data == nullptr) return Fail(kErrorInvalidParameter), -1;
  WindowsPath parsed;
  ParseOptions options;
  options.allowWildcards = true;
  uint32_t error = ParseWindowsPath(pattern, posix::CurrentDirectoriesSnapshot(), options, &parsed);
  if (error != 0) return Fail(error), kInvalidFindHandle;
  if (parsed.IsDriveRoot() || parsed.trailingSeparator) {
    return Fail(kErrorFileNotFound), kInvalidFindHandle;
  }
  std::string namePattern = parsed.components.back();
  HostPath directory;
  error = posix::MapWindowsPath(parsed.Parent(), &directory);
  if (error != 0) return Fail(error), kInvalidFindHandle;
  struct stat status = directory.status;
  if ((!directory.exists && Syscalls().stat(directory.host.c_str(), &status) != 0) ||
      !S_ISDIR(status.st_mode)) {
    return Fail(kErrorPathNotFound), kInvalidFindHandle;
  }
  std::vector<std::string> names;
  DIR* open = nullptr;
  if (!posix::ListHostDirectory(directory.host, &names, &open)) {
    posix::SetLastErrorFromErrno(errno, directory.host.c_str());
    return kInvalidFindHandle;
  }
  const int folder = dirfd(open);
  // Sorted by the folded name, then the name: each name is folded once, not per comparison.
  std::vector<std::pair<std::string, std::string>> keyed;
  keyed.reserve(names.size());
  for (std::string& name : names) keyed.emplace_back(FoldNameCase(name), std::move(name));
  std::sort(keyed.begin(), keyed.end());
  names.clear();
  for (auto& [folded, name] : keyed) names.push_back(std::move(name));
  if (!directory.windows.IsDriveRoot()) names.insert(names.begin(), {".", ".."});

  Search search;
  for (const std::string& name : names) {
    if (!MatchesNamePattern(name, namePattern)) continue;
    FindData entry;
    std::string hostEntry = directory.host + "/" + name;
    if (name == ".") {
      hostEntry = directory.host;
    } else if (name == "..") {
      // Described through the Windows parent, which is always inside the drive.
      HostPath parent;
      if (posix::MapWindowsPath(directory.windows.Parent(), &parent) != 0) continue;
      hostEntry = parent.host;
    }
    const bool inFolder = name != "." && name != "..";
    if (!DescribeEntry(hostEntry, name, &directory, inFolder ? folder : -1, &entry)) {
      continue;
    }
    search.entries.push_back(entry);
  }
  Syscalls().closedir(open);
  if (search.entries.empty()) return Fail(kErrorFileNotFound), kInvalidFindHandle;
  *data = search.entries[0];
  search.next = 1;
  std::lock_guard<std::mutex> lock(searchMutex);
  FindHandle handle = nextSearchHandle++;
  searches.emplace(handle, std::move(search));
  return handle;
}

int FindNext(FindHandle handle, FindData* data) {
  if (data == nullptr) return Fail(kErrorInvalidParameter), -1;
  std::lock_guard<std::mutex> lock(searchMutex);
  auto it = searches.find(handle);
  if (it == searches.end()) return Fail(kErrorInvalidHandle), -1;
  if (it->second.next >= it->second.entries.size()) return Fail(kErrorNoMoreFiles), -1;
  *data = it->second.entries[it->second.next++];
  return 0;
}

int FindClose(FindHandle handle) {
  std::lock_guard<std::mutex> lock(searchMutex);
  if (searches.erase(handle) == 0) return Fail(kErrorInvalidHandle), -1;
  return 0;
}

}  // namespace qz7::platform::backend
