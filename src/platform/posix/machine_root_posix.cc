#include <errno.h>
#include <limits.h>
#include <stdlib.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/codepage.h"
#include "platform/machine_root.h"
#include "platform/posix/host_path.h"
#include "platform/posix/syscalls.h"
#include "platform/posix/text_store.h"
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

// ---------------------------------------------------------------------------------------------
// Case-blind lookup of a name that is not on disk as written.
//
// A folder's listing is read once and kept, indexed by the case-folded name, while the folder
// stays as it was when it was read: the listing carries the folder's device, inode and times
// of last change (read before the folder was listed), and is used only while a fresh status of
// the folder shows the same. Changes the backend makes itself are applied to the listing along
// with the folder's new status, so filling a folder does not read it again per name. Whatever
// the listing says is checked on disk before it is used: a name it offers must exist (else the
// folder is read again), and it is consulted only after the exact name was not found. A change
// by someone else within one tick of the folder's clock could go unseen; the worst it can do is
// let a lookup miss a name that differs only in case, which then gives "not found" or creates
// the name as written, never a write over another file.

struct FolderStamp {
  dev_t device = 0;
  ino_t inode = 0;
  struct timespec modified = {};
  struct timespec changed = {};
};

FolderStamp StampOf(const struct stat& status) {
  return {status.st_dev, status.st_ino, status.st_mtim, status.st_ctim};
}

bool SameStamp(const FolderStamp& a, const FolderStamp& b) {
  return a.device == b.device && a.inode == b.inode && a.modified.tv_sec == b.modified.tv_sec &&
         a.modified.tv_nsec == b.modified.tv_nsec && a.changed.tv_sec == b.changed.tv_sec &&
         a.changed.tv_nsec == b.changed.tv_nsec;
}

struct FolderListing {
  FolderStamp stamp;
  unsigned codePage = 0;
  // Case-folded name to the names on disk that fold to it, in byte order.
  std::unordered_map<std::string, std::vector<std::string>> byFoldedName;

  void Add(const std::string& name) {
    std::vector<std::string>& names = byFoldedName[FoldNameCase(name)];
    auto at = std::lower_bound(names.begin(), names.end(), name);
    if (at == names.end() || *at != name) names.insert(at, name);
  }
  void Remove(const std::string& name) {
    auto it = byFoldedName.find(FoldNameCase(name));
    if (it == byFoldedName.end()) return;
    std::erase(it->second, name);
    if (it->second.empty()) byFoldedName.erase(it);
  }
};

// Listings kept at once, and names kept in all of them (a folder with more is read per
// lookup); past either, the listings kept are dropped and read again as needed.
constexpr size_t kMaxListings = 64;
constexpr size_t kMaxListedNames = 200000;

std::mutex listingMutex;
std::unordered_map<std::string, FolderListing> listings;

// Reads the folder into a fresh listing stamped with status. False when it cannot be read.
bool ReadListing(const std::string& hostDirectory, const struct stat& status) {
  std::vector<std::string> names;
  if (!posix::ListHostDirectory(hostDirectory, &names)) return false;
  if (names.size() > kMaxListedNames) {
    listings.erase(hostDirectory);
    return false;
  }
  listings.erase(hostDirectory);
  size_t kept = names.size();
  for (const auto& [folder, other] : listings) kept += other.byFoldedName.size();
  if (listings.size() >= kMaxListings || kept > kMaxListedNames) listings.clear();
  FolderListing& listing = listings[hostDirectory];
  listing = FolderListing{};
  listing.stamp = StampOf(status);
  listing.codePage = ActiveCodePage();
  listing.byFoldedName.reserve(names.size());
  for (const std::string& name : names) listing.byFoldedName[FoldNameCase(name)].push_back(name);
  return true;
}

// The first name in byte order of the folder that equals name without regard to case, read
// from a listing of the folder that is current (see above). Empty when there is none or the
// folder cannot be read. folderStatus: the folder's status when the caller has it, else null.
std::string FindCaseBlind(const std::string& hostDirectory, const struct stat* folderStatus,
                          const std::string& name, struct stat* entryStatus) {
  struct stat fresh;
  if (folderStatus == nullptr) {
    if (posix::Syscalls().stat(hostDirectory.c_str(), &fresh) != 0) return std::string();
    folderStatus = &fresh;
  }
  const std::string folded = FoldNameCase(name);
  std::lock_guard<std::mutex> lock(listingMutex);
  for (int attempt = 0; attempt < 2; ++attempt) {
    auto it = listings.find(hostDirectory);
    const bool current = it != listings.end() && it->second.codePage == ActiveCodePage() &&
                         SameStamp(it->second.stamp, StampOf(*folderStatus));
    if (!current) {
      if (!ReadListing(hostDirectory, *folderStatus)) {
        // Too large to keep, or unreadable: the slow way, one pass over the folder.
        std::vector<std::string> names;
        if (!posix::ListHostDirectory(hostDirectory, &names)) return std::string();
        for (const std::string& candidate : names) {
          if (FoldNameCase(candidate) == folded &&
              posix::Syscalls().lstat((hostDirectory + "/" + candidate).c_str(), entryStatus) ==
                  0) {
            return candidate;
          }
        }
        return std::string();
      }
      it = listings.find(hostDirectory);
    }
    auto found = it->second.byFoldedName.find(folded);
    if (found == it->second.byFoldedName.end()) return std::string();
    const std::string& candidate = found->second.front();
    if (posix::Syscalls().lstat((hostDirectory + "/" + candidate).c_str(), entryStatus) == 0) {
      return candidate;
    }
    // The listing named something that is gone: read the folder again, once.
    listings.erase(it);
    if (posix::Syscalls().stat(hostDirectory.c_str(), &fresh) != 0) return std::string();
    folderStatus = &fresh;
  }
  return std::string();
}

// The drive folders found, by machine root and drive letter, while the entry in drives/
// that led there is still the same file (same inode and time of change).
struct DriveFolder {
  std::string entry;     // the host path of the entry in drives/
  FolderStamp stamp;     // its lstat
  std::string realPath;  // where it leads
  // The entry is a folder, no link, and its real path is the entry's own: every host path
  // below the drive is walked by the host through the entry itself.
  bool walkedThrough = false;
};
std::mutex driveMutex;
std::unordered_map<std::string, DriveFolder> driveFolders;

// Folders whose every name was found on disk exactly as written and none of which is a link,
// by drive folder and Windows names: for them the host's own walk of the path is the lookup,
// so one lstat that finds the same folder (device and inode) there stands for the walk.
struct ExactFolder {
  std::string host;
  dev_t device = 0;
  ino_t inode = 0;
};
constexpr size_t kMaxExactFolders = 256;
std::mutex exactMutex;
std::unordered_map<std::string, ExactFolder> exactFolders;

// The drive folder found before, without asking whether its entry in drives/ is unchanged,
// when host paths below it are walked through that entry (DriveFolder::walkedThrough); else
// empty. Only a lookup that goes on to check on disk what it finds below the drive may use it
// (see MapWindowsPath).
std::string DriveHostDirectoryWalkedThrough(char drive) {
  if (drive >= 'a' && drive <= 'z') drive = static_cast<char>(drive - 'a' + 'A');
  const std::string key = MachineRoot() + "/drives/" + drive;
  std::lock_guard<std::mutex> lock(driveMutex);
  auto it = driveFolders.find(key);
  if (it == driveFolders.end() || !it->second.walkedThrough) return std::string();
  return it->second.realPath;
}

std::string ExactFolderKey(const std::string& driveRoot, const std::vector<std::string>& names,
                           size_t count) {
  std::string key = driveRoot;
  for (size_t i = 0; i < count; ++i) {
    key.push_back('\\');
    key += names[i];
  }
  return key;
}

}  // namespace

namespace posix {

bool ListHostDirectory(const std::string& hostDirectory, std::vector<std::string>* names,
                       DIR** keepOpen) {
  DIR* directory = Syscalls().opendir(hostDirectory.c_str());
  if (directory == nullptr) return false;
  names->clear();
  errno = 0;
  while (struct dirent* entry = Syscalls().readdir(directory)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names->push_back(name);
  }
  int readError = errno;
  if (keepOpen != nullptr && readError == 0) {
    *keepOpen = directory;
  } else {
    Syscalls().closedir(directory);
  }
  std::sort(names->begin(), names->end());
  errno = readError;
  return readError == 0;
}

std::string DriveHostDirectory(char drive) {
  if (drive >= 'a' && drive <= 'z') drive = static_cast<char>(drive - 'a' + 'A');
  if (drive < 'A' || drive > 'Z') return std::string();
  std::string drives = MachineRoot() + "/drives";
  const std::string key = drives + "/" + drive;
  {
    // Known already: valid while the entry that led there is unchanged.
    std::lock_guard<std::mutex> lock(driveMutex);
    auto it = driveFolders.find(key);
    struct stat status;
    if (it != driveFolders.end() && Syscalls().lstat(it->second.entry.c_str(), &status) == 0 &&
        SameStamp(StampOf(status), it->second.stamp)) {
      return it->second.realPath;
    }
  }
  for (char letter : {static_cast<char>(drive - 'A' + 'a'), drive}) {
    std::string candidate = drives + "/" + letter;
    struct stat status, entryStatus;
    // The drive directory itself may be a symbolic link; it is followed.
    if (Syscalls().lstat(candidate.c_str(), &entryStatus) == 0 &&
        Syscalls().stat(candidate.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
      std::string real = RealPath(candidate);
      if (!real.empty()) {
        std::lock_guard<std::mutex> lock(driveMutex);
        if (driveFolders.size() >= kMaxListings) driveFolders.clear();
        driveFolders[key] = DriveFolder{candidate, StampOf(entryStatus), real,
                                        !S_ISLNK(entryStatus.st_mode) && real == candidate};
      }
      return real;
    }
  }
  return std::string();
}

void ForgetFolderListing(const std::string& hostDirectory) {
  std::lock_guard<std::mutex> lock(listingMutex);
  listings.erase(hostDirectory);
}

void NoteFolderChange(const HostPath& path, const std::string& removedEntry,
                      const std::string& addedEntry) {
  const std::string& anyEntry = addedEntry.empty() ? removedEntry : addedEntry;
  const size_t slash = anyEntry.rfind('/');
  if (slash == std::string::npos) return;
  const std::string folder = anyEntry.substr(0, slash);
  std::lock_guard<std::mutex> lock(listingMutex);
  auto it = listings.find(folder);
  if (it == listings.end()) return;
  struct stat after;
  // Applied only to a listing that was current just before the change; any other is dropped
  // and read again when next needed.
  if (!path.parentKnown || !SameStamp(it->second.stamp, StampOf(path.parentStatus)) ||
      Syscalls().stat(folder.c_str(), &after) != 0) {
    listings.erase(it);
    return;
  }
  const auto nameOf = [&](const std::string& entry) -> std::string {
    if (entry.empty() || entry.compare(0, slash + 1, folder + "/") != 0) return std::string();
    return entry.substr(slash + 1);
  };
  if (const std::string removed = nameOf(removedEntry); !removed.empty()) {
    it->second.Remove(removed);
  }
  if (const std::string added = nameOf(addedEntry); !added.empty()) it->second.Add(added);
  it->second.stamp = StampOf(after);
  if (it->second.byFoldedName.size() > kMaxListedNames) listings.erase(it);
}

namespace {

// The folder of the last name of path, when it is known to be reached by exact names below
// driveRoot and a status query finds the same folder there now: its host path, status in
// *folder. Else empty (a known folder that moved is forgotten).
std::string FindExactFolder(const std::string& driveRoot, const WindowsPath& path,
                            struct stat* folder) {
  const size_t count = path.components.size();
  if (count < 2) return std::string();
  const std::string parentKey = ExactFolderKey(driveRoot, path.components, count - 1);
  std::lock_guard<std::mutex> lock(exactMutex);
  auto it = exactFolders.find(parentKey);
  if (it == exactFolders.end()) return std::string();
  if (Syscalls().lstat(it->second.host.c_str(), folder) == 0 && S_ISDIR(folder->st_mode) &&
      folder->st_dev == it->second.device && folder->st_ino == it->second.inode) {
    return it->second.host;
  }
  exactFolders.erase(it);
  return std::string();
}

// MapWindowsPath; mayTrustDrive false asks for the drive's entry in drives/ in any case.
uint32_t MapPath(const WindowsPath& path, HostPath* out, const HostPath* earlier,
                 bool mayTrustDrive) {
  HostPath result;
  result.windows = path;
  // The status of the folder host names while it is walked (unknown for the drive root).
  struct stat folder;
  bool folderKnown = false;
  // The folder of the last name, when it is known to be reached by exact names: the walk
  // starts there. When the drive's entry in drives/ is walked through by every host path
  // below it, the status query that finds that folder passes the entry as it is now, and so
  // stands for the check of the entry too: a drive entry removed or replaced by another folder
  // or by a link that leads elsewhere no longer leads to the same folder (device and inode).
  // The one thing the query cannot show, a link put in the entry's place that leads to the
  // very same folder, changes no file the path reaches; the drive's real path is asked for
  // again before a link below it is judged against it.
  std::string exactFolder;
  bool driveChecked = true;
  if (earlier != nullptr && earlier->windows.drive == path.drive) {
    result.driveRoot = earlier->driveRoot;
    driveChecked = earlier->driveChecked;
  } else {
    if (mayTrustDrive) result.driveRoot = DriveHostDirectoryWalkedThrough(path.drive);
    if (!result.driveRoot.empty()) {
      exactFolder = FindExactFolder(result.driveRoot, path, &folder);
      driveChecked = false;
    }
    if (exactFolder.empty()) {
      result.driveRoot = DriveHostDirectory(path.drive);
      driveChecked = true;
    }
  }
  if (result.driveRoot.empty()) return kErrorPathNotFound;
  const size_t count = path.components.size();
  std::string parentKey;
  if (count >= 2) parentKey = ExactFolderKey(result.driveRoot, path.components, count - 1);
  if (exactFolder.empty() && earlier != nullptr && !parentKey.empty() &&
      earlier->exactParentKey == parentKey && earlier->driveRoot == result.driveRoot) {
    // The same folder as the path resolved a moment ago for this operation: as found then.
    exactFolder = earlier->hostEntry.substr(0, earlier->hostEntry.rfind('/'));
    folder = earlier->parentStatus;
  }
  if (exactFolder.empty()) exactFolder = FindExactFolder(result.driveRoot, path, &folder);
  std::string host = result.driveRoot;
  result.hostEntry = host;
  bool found = true;
  size_t first = 0;
  if (!exactFolder.empty()) {
    host = exactFolder;
    result.hostEntry = host;
    folderKnown = true;
    first = count - 1;
    result.exactParentKey = parentKey;
  }
  bool exactSoFar = first == 0;
  for (size_t index = first; index < count; ++index) {
    const std::string& name = path.components[index];
    if (!found) {
      host += "/" + name;
      result.hostEntry = host;
      continue;
    }
    // The exact name first, else the first case-blind match in sorted order.
    struct stat entryStatus;
    std::string entry = name;
    int lookupError = 0;
    if (Syscalls().lstat((host + "/" + name).c_str(), &entryStatus) != 0) {
      lookupError = errno;
      if (!folderKnown) folderKnown = Syscalls().stat(host.c_str(), &folder) == 0;
      entry = FindCaseBlind(host, folderKnown ? &folder : nullptr, name, &entryStatus);
    }
    result.parentKnown = folderKnown;
    if (folderKnown) result.parentStatus = folder;
    if (entry.empty()) {
      result.lastNameMissing =
          index + 1 == count && lookupError == ENOENT && folderKnown && S_ISDIR(folder.st_mode);
      found = false;
      host += "/" + name;
      result.hostEntry = host;
      continue;
    }
    host += "/" + entry;
    result.hostEntry = host;
    result.entryStatus = entryStatus;
    result.status = entryStatus;
    exactSoFar = exactSoFar && entry == name && !S_ISLNK(entryStatus.st_mode);
    if (exactSoFar && index + 2 == count && S_ISDIR(entryStatus.st_mode)) {
      result.exactParentKey = parentKey;
      std::lock_guard<std::mutex> lock(exactMutex);
      if (exactFolders.size() >= kMaxExactFolders) exactFolders.clear();
      exactFolders[parentKey] = ExactFolder{host, entryStatus.st_dev, entryStatus.st_ino};
    }
    if (S_ISLNK(entryStatus.st_mode)) {
      if (!driveChecked) {
        // The drive's real path is what the link is judged against: asked for afresh.
        const std::string driveRoot = DriveHostDirectory(path.drive);
        if (driveRoot != result.driveRoot) return MapPath(path, out, nullptr, false);
        driveChecked = true;
      }
      // A link is followed only while it stays inside the drive; a dangling link could
      // otherwise create a file wherever it points.
      std::string target = RealPath(host);
      if (target.empty() || !IsInside(target, result.driveRoot)) return kErrorAccessDenied;
      host = target;
      if (Syscalls().stat(host.c_str(), &result.status) != 0) return kErrorAccessDenied;
    }
    folder = result.status;
    folderKnown = true;
  }
  if (found && path.components.empty()) {
    // The drive root itself.
    if (Syscalls().stat(host.c_str(), &result.status) != 0) return kErrorPathNotFound;
    result.entryStatus = result.status;
  }
  result.host = host;
  result.exists = found;
  result.driveChecked = driveChecked;
  *out = std::move(result);
  return 0;
}

}  // namespace

uint32_t MapWindowsPath(const WindowsPath& path, HostPath* out, const HostPath* earlier) {
  return MapPath(path, out, earlier, /*mayTrustDrive=*/true);
}

uint32_t ResolveHostPath(const char* windowsPath, const ParseOptions& options, HostPath* out,
                         const HostPath* earlier) {
  WindowsPath path;
  uint32_t error = ParseWindowsPath(windowsPath, CurrentDirectoriesSnapshot(), options, &path);
  if (error != 0) return error;
  // Windows takes a last name such as CON or nul.txt for the device, wherever the path
  // points: no file or folder of that name can be made there. This machine has none of the
  // devices, so the name is refused whatever the operation, with the error Windows gives
  // for a folder made under it (the device is there already).
  if (!path.components.empty()) {
    const std::string& last = path.components.back();
    if (!(options.allowWildcards && HasWildcards(last)) && IsReservedDeviceName(last)) {
      return kErrorAlreadyExists;
    }
  }
  return MapWindowsPath(path, out, earlier);
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

namespace {

using SettingsText = std::optional<std::string>;

uint32_t LoadSettingsFile(const std::string& /*hostPath*/, const std::string& content,
                          SettingsText* text) {
  *text = content.substr(0, kMaxSettingsFile);
  return 0;
}

std::mutex settingsMutex;
std::unordered_map<std::string, std::unique_ptr<posix::StoreCache<SettingsText>>> settingsFiles;

}  // namespace

// Read again only when the file changed (text_store.h): the computer's name and the drive
// types are asked for often, and each answer would otherwise read its file.
std::optional<std::string> ReadMachineRootFile(const char* fileName) {
  posix::StoreCache<SettingsText>* cache;
  {
    std::lock_guard<std::mutex> lock(settingsMutex);
    auto& slot = settingsFiles[fileName];
    if (!slot) slot = std::make_unique<posix::StoreCache<SettingsText>>(LoadSettingsFile);
    cache = slot.get();
  }
  std::shared_ptr<const SettingsText> text;
  if (cache->Current(MachineRoot() + "/" + fileName, &text) != 0) return std::nullopt;
  return *text;
}

}  // namespace qz7::platform
