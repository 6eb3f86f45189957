// The power-cut bookkeeping of the fault seam. While a power-cut plan runs, the dispatch layer
// reports every change of a file's data or of a name here, and this keeps, for each path it
// saw change, two views: what the path holds now (live) and what it would hold after a power
// cut (durable). File data lives in "files": the bytes as of the file's last sync. At the cut,
// every tracked path is put back to its durable view through the backend (never through the
// counted public functions), and the process ends.
#include <algorithm>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/dispatch.h"
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

std::mutex mutex;
bool tracking = false;
std::map<std::string, Name> names;  // by upper-case full path
std::vector<TrackedFile> files;
std::map<const FileStream*, int> streams;
std::map<const FileStream*, std::string> readers;  // streams open for reading: their path

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// The full path of path, without a trailing separator; empty when it cannot be formed.
std::string FullOf(const char* path) {
  if (path == nullptr) return {};
  char full[4 * kMaxPath];
  if (backend::FullPath(full, path, sizeof full) == nullptr) return {};
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
  FileStream::Native* in = backend::OpenFile(path.c_str(), "rb");
  if (in == nullptr) return false;
  char buffer[65536];
  size_t got;
  while ((got = backend::StreamRead(in, buffer, sizeof buffer)) > 0) bytes->append(buffer, got);
  backend::StreamClose(in);
  return true;
}

int NewFile(const std::string& livePath) {
  files.push_back({std::string(), false, livePath});
  return static_cast<int>(files.size()) - 1;
}

// The entry of a path, made on first sight from what the disk holds (taken as durable).
Name* Track(const char* path) {
  std::string full = FullOf(path);
  if (full.empty()) return nullptr;
  std::string key = KeyOf(full);
  auto found = names.find(key);
  if (found != names.end()) return &found->second;
  Name name;
  name.path = full;
  FileStatus status;
  if (backend::GetFileStatus(full.c_str(), &status) == 0) {
    if (status.isDirectory) {
      name.live.kind = Kind::kFolder;
    } else {
      name.live.kind = Kind::kFile;
      name.live.file = NewFile(full);
      files[name.live.file].everSynced = ReadWhole(full, &files[name.live.file].synced);
    }
  }
  name.durable = name.live;
  return &names.emplace(key, name).first->second;
}

void RemoveTree(const std::string& path) {
  backend::SetFileWritable(path.c_str(), true);
  FileStatus status;
  if (backend::GetFileStatus(path.c_str(), &status) != 0) return;
  if (!status.isDirectory) {
    backend::RemoveFile(path.c_str());
    return;
  }
  std::vector<std::string> children;
  FindData data;
  FindHandle search = backend::FindFirst((path + "\\*").c_str(), &data);
  if (search != kInvalidFindHandle) {
    do {
      std::string child = data.name;
      if (child != "." && child != "..") children.push_back(path + "\\" + child);
    } while (backend::FindNext(search, &data) == 0);
    backend::FindClose(search);
  }
  for (const std::string& child : children) RemoveTree(child);
  backend::RemoveDirectory(path.c_str());
}

void WriteWhole(const std::string& path, const std::string& bytes) {
  backend::SetFileWritable(path.c_str(), true);
  FileStream::Native* out = backend::OpenFile(path.c_str(), "wb");
  if (out == nullptr) return;
  backend::StreamWrite(out, bytes.data(), bytes.size());
  backend::StreamClose(out);
}

}  // namespace

void Start() {
  std::lock_guard<std::mutex> lock(mutex);
  names.clear();
  files.clear();
  streams.clear();
  readers.clear();
  tracking = true;
}

void Stop() {
  std::lock_guard<std::mutex> lock(mutex);
  names.clear();
  files.clear();
  streams.clear();
  readers.clear();
  tracking = false;
}

void BeforeChange(const char* path) {
  std::lock_guard<std::mutex> lock(mutex);
  if (tracking) Track(path);
}

void AfterOpenForWrite(const FileStream* stream, const char* path) {
  std::lock_guard<std::mutex> lock(mutex);
  if (!tracking) return;
  Name* name = Track(path);
  if (name == nullptr) return;
  if (name->live.kind != Kind::kFile) name->live = {Kind::kFile, NewFile(name->path)};
  streams[stream] = name->live.file;
}

void AfterOpenForRead(const FileStream* stream, const char* path) {
  std::lock_guard<std::mutex> lock(mutex);
  if (tracking) readers[stream] = path;
}

void AfterStreamSync(const FileStream* stream) {
  std::lock_guard<std::mutex> lock(mutex);
  if (!tracking) return;
  int index = -1;
  if (auto found = streams.find(stream); found != streams.end()) {
    index = found->second;
  } else if (auto reader = readers.find(stream); reader != readers.end()) {
    // A file only read since tracking began holds what it held then, or what it was given
    // by a rename: either way what it holds now is what the sync makes durable.
    Name* name = Track(reader->second.c_str());
    if (name != nullptr && name->live.kind == Kind::kFile) index = name->live.file;
  }
  if (index < 0) return;
  TrackedFile& file = files[index];
  if (file.livePath.empty()) return;
  if (ReadWhole(file.livePath, &file.synced)) file.everSynced = true;
}

void ForgetStream(const FileStream* stream) {
  std::lock_guard<std::mutex> lock(mutex);
  streams.erase(stream);
  readers.erase(stream);
}

void AfterRemove(const char* path) {
  std::lock_guard<std::mutex> lock(mutex);
  if (!tracking) return;
  Name* name = Track(path);
  if (name == nullptr) return;
  if (name->live.kind == Kind::kFile) files[name->live.file].livePath.clear();
  name->live = Slot{};
}

void AfterMove(const char* from, const char* to) {
  std::lock_guard<std::mutex> lock(mutex);
  if (!tracking) return;
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
    for (auto it = names.begin(); it != names.end();) {
      if (it->first.compare(0, fromKey.size(), fromKey) == 0) {
        Name name = it->second;
        name.path = toFull + name.path.substr(fromKey.size() - 1);
        if (name.live.kind == Kind::kFile) files[name.live.file].livePath = name.path;
        moved.emplace_back(KeyOf(name.path), name);
        it = names.erase(it);
      } else {
        ++it;
      }
    }
    for (auto& [key, name] : moved) names[key] = name;
    return;
  }
  if (target->live.kind == Kind::kFile) files[target->live.file].livePath.clear();
  target->live = source->live;
  if (target->live.kind == Kind::kFile) files[target->live.file].livePath = target->path;
  source->live = Slot{};
}

void AfterCopy(const char* to) {
  std::lock_guard<std::mutex> lock(mutex);
  if (!tracking) return;
  Name* name = Track(to);
  if (name != nullptr && name->live.kind != Kind::kFile) {
    name->live = {Kind::kFile, NewFile(name->path)};
  }
}

void AfterMakeDirectory(const char* path) {
  std::lock_guard<std::mutex> lock(mutex);
  if (!tracking) return;
  Name* name = Track(path);
  if (name != nullptr) name->live = {Kind::kFolder, -1};
}

void AfterSyncDirectory(const char* path) {
  std::lock_guard<std::mutex> lock(mutex);
  if (!tracking) return;
  std::string folder = KeyOf(FullOf(path));
  for (auto& [key, name] : names) {
    if (ParentKey(key) == folder) name.durable = name.live;
  }
}

void AfterSyncFileSystem() {
  std::lock_guard<std::mutex> lock(mutex);
  if (!tracking) return;
  for (TrackedFile& file : files) {
    if (!file.livePath.empty() && ReadWhole(file.livePath, &file.synced)) file.everSynced = true;
  }
  for (auto& [key, name] : names) name.durable = name.live;
}

void CutPower() {
  std::lock_guard<std::mutex> lock(mutex);
  if (!tracking) return;
  tracking = false;
  // The durable view of each path: a file never synced has no durable data, so it goes.
  auto durableKind = [](const Name& name) {
    if (name.durable.kind == Kind::kFile && !files[name.durable.file].everSynced) {
      return Kind::kAbsent;
    }
    return name.durable.kind;
  };
  // Shallow to deep: folders that must exist, then the files' data.
  for (auto& [key, name] : names) {
    Kind want = durableKind(name);
    FileStatus status;
    bool exists = backend::GetFileStatus(name.path.c_str(), &status) == 0;
    if (want == Kind::kFolder) {
      if (exists && !status.isDirectory) RemoveTree(name.path);
      if (!exists || !status.isDirectory) backend::MakeDirectory(name.path.c_str());
    } else if (want == Kind::kFile) {
      if (exists && status.isDirectory) RemoveTree(name.path);
      WriteWhole(name.path, files[name.durable.file].synced);
    }
  }
  // Deep to shallow: what must not exist.
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    if (durableKind(it->second) == Kind::kAbsent) RemoveTree(it->second.path);
  }
}

}  // namespace qz7::platform::durability
