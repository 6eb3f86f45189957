// The power-cut bookkeeping of the fault wrapper. While a power-cut plan runs, the wrapper
// reports every change of a file's data or of a name here, and this keeps, for each path it
// saw change, two views: what the path holds now (live) and what it would hold after a power
// cut (durable). File data lives in "files": the bytes as of the file's last sync. At the cut,
// every tracked path is put back to its durable view through the backend's table (never
// through the counted wrapper), and the process ends.
#include "testkit/power_loss.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win_error.h"

namespace qz7::platform::durability {
namespace {

enum class Kind { kAbsent, kFile, kFolder };

struct Slot {
  Kind kind = Kind::kAbsent;
  int file = -1;  // index into files for kFile
};

struct TrackedFile {
  std::string synced;  // the data as of the last sync
  bool everSynced = false;
  std::string livePath;  // where the file is named now; empty once removed
};

struct Name {
  std::string path;  // the full Windows path as first seen (its spelling)
  Slot live;
  Slot durable;
};

// Kept in one object made on first use: the test build of the tool installs its plan before
// main, when this file's other objects may not be made yet.
struct State {
  std::mutex mutex;
  bool tracking = false;
  std::map<std::string, Name> names;  // by upper-case full path
  std::vector<TrackedFile> files;
  std::map<Stream, int> streams;
  std::map<Stream, std::string> readers;  // streams open for reading: their path
};

State& state() {
  static State instance;
  return instance;
}

// The backend itself, below the wrapper.
const PlatformTable& Disk() { return BackendTable(); }

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// The full path of path, without a trailing separator; empty when it cannot be formed.
std::string FullOf(const char* path) {
  if (path == nullptr) return {};
  char full[4 * kMaxPath];
  if (Disk().FullPath(full, path, sizeof full) == nullptr) return {};
  std::string text = full;
  while (text.size() > 3 && text.back() == '\\') text.pop_back();
  return text;
}

std::string KeyOf(const std::string& full) {
  std::string key = full;
  std::transform(key.begin(), key.end(), key.begin(), Upper);
  return key;
}

std::string ParentKey(const std::string& key) {
  size_t slash = key.rfind('\\');
  if (slash == std::string::npos) return {};
  return key.substr(0, slash == 2 ? 3 : slash);  // "C:\" keeps its separator
}

bool ReadWhole(const std::string& path, std::string* bytes) {
  bytes->clear();
  FileStream::Native* in = Disk().OpenFile(path.c_str(), "rb");
  if (in == nullptr) return false;
  char buffer[65536];
  size_t got;
  while ((got = Disk().StreamRead(in, buffer, sizeof buffer)) > 0) bytes->append(buffer, got);
  Disk().StreamClose(in);
  return true;
}

int NewFile(const std::string& livePath) {
  state().files.push_back({std::string(), false, livePath});
  return static_cast<int>(state().files.size()) - 1;
}

// The entry of a path, made on first sight from what the disk holds (taken as durable).
Name* Track(const char* path) {
  std::string full = FullOf(path);
  if (full.empty()) return nullptr;
  std::string key = KeyOf(full);
  auto found = state().names.find(key);
  if (found != state().names.end()) return &found->second;
  Name name;
  name.path = full;
  FileStatus status;
  if (Disk().GetFileStatus(full.c_str(), &status) == 0) {
    if (status.isDirectory) {
      name.live.kind = Kind::kFolder;
    } else {
      name.live.kind = Kind::kFile;
      name.live.file = NewFile(full);
      state().files[name.live.file].everSynced =
          ReadWhole(full, &state().files[name.live.file].synced);
    }
  }
  name.durable = name.live;
  return &state().names.emplace(key, name).first->second;
}

void RemoveTree(const std::string& path) {
  Disk().SetFileWritable(path.c_str(), true);
  FileStatus status;
  if (Disk().GetFileStatus(path.c_str(), &status) != 0) return;
  if (!status.isDirectory) {
    Disk().RemoveFile(path.c_str());
    return;
  }
  std::vector<std::string> children;
  FindData data;
  FindHandle search = Disk().FindFirst((path + "\\*").c_str(), &data);
  if (search != kInvalidFindHandle) {
    do {
      std::string child = data.name;
      if (child != "." && child != "..") children.push_back(path + "\\" + child);
    } while (Disk().FindNext(search, &data) == 0);
    Disk().FindClose(search);
  }
  for (const std::string& child : children) RemoveTree(child);
  Disk().RemoveDirectory(path.c_str());
}

void WriteWhole(const std::string& path, const std::string& bytes) {
  Disk().SetFileWritable(path.c_str(), true);
  FileStream::Native* out = Disk().OpenFile(path.c_str(), "wb");
  if (out == nullptr) return;
  Disk().StreamWrite(out, bytes.data(), bytes.size());
  Disk().StreamClose(out);
}

}  // namespace

void Start() {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().names.clear();
  state().files.clear();
  state().streams.clear();
  state().readers.clear();
  state().tracking = true;
}

void Stop() {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().names.clear();
  state().files.clear();
  state().streams.clear();
  state().readers.clear();
  state().tracking = false;
}

void BeforeChange(const char* path) {
  std::lock_guard<std::mutex> lock(state().mutex);
  if (state().tracking) Track(path);
}

void AfterOpenForWrite(Stream stream, const char* path) {
  std::lock_guard<std::mutex> lock(state().mutex);
  if (!state().tracking) return;
  Name* name = Track(path);
  if (name == nullptr) return;
  if (name->live.kind != Kind::kFile) name->live = {Kind::kFile, NewFile(name->path)};
  state().readers.erase(stream);
  state().streams[stream] = name->live.file;
}

void AfterOpenForRead(Stream stream, const char* path) {
  std::lock_guard<std::mutex> lock(state().mutex);
  if (!state().tracking) return;
  state().streams.erase(stream);
  state().readers[stream] = path;
}

void AfterStreamSync(Stream stream) {
  std::lock_guard<std::mutex> lock(state().mutex);
  if (!state().tracking) return;
  int index = -1;
  if (auto found = state().streams.find(stream); found != state().streams.end()) {
    index = found->second;
  } else if (auto reader = state().readers.find(stream); reader != state().readers.end()) {
    // A file only read since tracking began holds what it held then, or what it was given
    // by a rename: either way what it holds now is what the sync makes durable.
    Name* name = Track(reader->second.c_str());
    if (name != nullptr && name->live.kind == Kind::kFile) index = name->live.file;
  }
  if (index < 0) return;
  TrackedFile& file = state().files[index];
  if (file.livePath.empty()) return;
  if (ReadWhole(file.livePath, &file.synced)) file.everSynced = true;
}

void ForgetStream(Stream stream) {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().streams.erase(stream);
  state().readers.erase(stream);
}

void AfterRemove(const char* path) {
  std::lock_guard<std::mutex> lock(state().mutex);
  if (!state().tracking) return;
  Name* name = Track(path);
  if (name == nullptr) return;
  if (name->live.kind == Kind::kFile) state().files[name->live.file].livePath.clear();
  name->live = Slot{};
}

void AfterMove(const char* from, const char* to) {
  std::lock_guard<std::mutex> lock(state().mutex);
  if (!state().tracking) return;
  Name* source = Track(from);
  Name* target = Track(to);
  if (source == nullptr || target == nullptr || source == target) return;
  if (source->live.kind == Kind::kFolder) {
    // A folder rename is taken as durable at once: the folder and every entry tracked below
    // it move, in both views.
    std::string fromKey = KeyOf(source->path) + "\\";
    std::string toFull = target->path;
    target->live = target->durable = source->live;
    source->live = source->durable = Slot{};
    std::vector<std::pair<std::string, Name>> moved;
    for (auto it = state().names.begin(); it != state().names.end();) {
      if (it->first.compare(0, fromKey.size(), fromKey) == 0) {
        Name name = it->second;
        name.path = toFull + name.path.substr(fromKey.size() - 1);
        if (name.live.kind == Kind::kFile) state().files[name.live.file].livePath = name.path;
        moved.emplace_back(KeyOf(name.path), name);
        it = state().names.erase(it);
      } else {
        ++it;
      }
    }
    for (auto& [key, name] : moved) state().names[key] = name;
    return;
  }
  if (target->live.kind == Kind::kFile) state().files[target->live.file].livePath.clear();
  target->live = source->live;
  if (target->live.kind == Kind::kFile) state().files[target->live.file].livePath = target->path;
  source->live = Slot{};
}

void AfterCopy(const char* to) {
  std::lock_guard<std::mutex> lock(state().mutex);
  if (!state().tracking) return;
  Name* name = Track(to);
  if (name != nullptr && name->live.kind != Kind::kFile) {
    name->live = {Kind::kFile, NewFile(name->path)};
  }
}

void AfterMakeDirectory(const char* path) {
  std::lock_guard<std::mutex> lock(state().mutex);
  if (!state().tracking) return;
  Name* name = Track(path);
  if (name != nullptr) name->live = {Kind::kFolder, -1};
}

void AfterSyncDirectory(const char* path) {
  std::lock_guard<std::mutex> lock(state().mutex);
  if (!state().tracking) return;
  std::string folder = KeyOf(FullOf(path));
  for (auto& [key, name] : state().names) {
    if (ParentKey(key) == folder) name.durable = name.live;
  }
}

void AfterSyncFileSystem() {
  std::lock_guard<std::mutex> lock(state().mutex);
  if (!state().tracking) return;
  for (TrackedFile& file : state().files) {
    if (!file.livePath.empty() && ReadWhole(file.livePath, &file.synced)) file.everSynced = true;
  }
  for (auto& [key, name] : state().names) name.durable = name.live;
}

void CutPower(CutModel model) {
  std::lock_guard<std::mutex> lock(state().mutex);
  if (!state().tracking) return;
  state().tracking = false;
  if (model == CutModel::kNamesKeptDataLost) {
    // The names are as they stand on the disk; only the data of what was written since its
    // last sync goes back to that sync (a zero-length file when it was never synced).
    for (auto& [key, name] : state().names) {
      if (name.live.kind != Kind::kFile) continue;
      const TrackedFile& file = state().files[name.live.file];
      std::string now;
      if (!ReadWhole(name.path, &now)) continue;
      const std::string& kept = file.everSynced ? file.synced : std::string();
      if (now != kept) WriteWhole(name.path, kept);
    }
    return;
  }
  // The durable view of each path: a file never synced has no durable data, so it goes.
  auto durableKind = [](const Name& name) {
    if (name.durable.kind == Kind::kFile && !state().files[name.durable.file].everSynced) {
      return Kind::kAbsent;
    }
    return name.durable.kind;
  };
  // Shallow to deep: folders that must exist, then the state().files' data.
  for (auto& [key, name] : state().names) {
    Kind want = durableKind(name);
    FileStatus status;
    bool exists = Disk().GetFileStatus(name.path.c_str(), &status) == 0;
    if (want == Kind::kFolder) {
      if (exists && !status.isDirectory) RemoveTree(name.path);
      if (!exists || !status.isDirectory) Disk().MakeDirectory(name.path.c_str());
    } else if (want == Kind::kFile) {
      if (exists && status.isDirectory) RemoveTree(name.path);
      WriteWhole(name.path, state().files[name.durable.file].synced);
    }
  }
  // Deep to shallow: what must not exist.
  for (auto it = state().names.rbegin(); it != state().names.rend(); ++it) {
    if (durableKind(it->second) == Kind::kAbsent) RemoveTree(it->second.path);
  }
}

}  // namespace qz7::platform::durability
