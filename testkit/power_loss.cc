// The power-cut bookkeeping of the fault wrapper. While a power-cut plan runs, the wrapper
// reports every change of a file's data or of a name here, and this keeps, for each path it
// saw change, two views: what the path holds now (live) and what it would hold after a power
// cut (durable). File data lives in "files": the bytes as of the file's last sync. At the cut,
// every tracked path is put back to its durable view through the backend's table (never
// through the counted wrapper), and the process ends. What a child process (an instance
// tool's test build) tracked the same way comes back through a journal file and is taken in
// as this process's own before its next tracked step.
#include "testkit/power_loss.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/machine_root.h"
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
  // For a journal: the key where the file lay on the disk when first seen ("" for a file
  // made here), and whether this process synced it.
  std::string origin;
  bool syncedHere = false;
};

struct Name {
  std::string path;  // the full Windows path as first seen (its spelling)
  Slot live;
  Slot durable;
  bool syncedHere = false;  // its folder (or the file system) synced by this process
};

// A folder renamed since the folder of its new name was last synced. A folder has one name at
// a time: its rename is one change, made durable by a sync of the new name's folder (or of
// the file system), which takes the old name away with it. Until then the cut undoes it, and
// the folder goes back with everything it holds, tracked or not.
struct FolderRename {
  std::string from, to;  // full paths
  Slot targetBefore;     // the durable view of the new name before the rename
};

// Kept in one object made on first use: the test build of the tool installs its plan before
// main, when this file's other objects may not be made yet.
struct State {
  std::mutex mutex;
  bool tracking = false;
  std::map<std::string, Name> names;  // by upper-case full path
  std::vector<TrackedFile> files;
  std::map<Stream, int> streams;
  std::map<Stream, std::string> readers;    // streams open for reading: their path
  std::vector<FolderRename> folderRenames;  // not yet durable, oldest first
  std::string journal;                      // where children append what they changed; "" for none
};

State& state() {
  static State instance;
  return instance;
}

// The backend itself, below the wrapper.
const PlatformTable& Disk() { return BackendTable(); }

// The full path of path, without a trailing separator; empty when it cannot be formed.
std::string FullOf(const char* path) {
  if (path == nullptr) return {};
  char full[4 * kMaxPath];
  if (Disk().FullPath(full, path, sizeof full) == nullptr) return {};
  std::string text = full;
  while (text.size() > 3 && text.back() == '\\') text.pop_back();
  return text;
}

std::string KeyOf(std::string key) {
  for (char& c : key) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
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

// Takes what the file holds now as its synced data.
void Resync(TrackedFile& file) {
  if (!file.livePath.empty() && ReadWhole(file.livePath, &file.synced))
    file.everSynced = file.syncedHere = true;
}

int NewFile(const std::string& livePath) {
  state().files.push_back({std::string(), false, livePath, std::string(), false});
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
      name.live = {Kind::kFile, NewFile(full)};
      TrackedFile& file = state().files[name.live.file];
      file.origin = key;
      file.everSynced = ReadWhole(full, &file.synced);
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

void MakeAncestors(const std::string& path) {
  const size_t slash = path.rfind('\\');
  if (slash == std::string::npos || slash <= 2) return;
  const std::string parent = path.substr(0, slash);
  FileStatus status;
  if (Disk().GetFileStatus(parent.c_str(), &status) == 0) return;
  MakeAncestors(parent);
  Disk().MakeDirectory(parent.c_str());
}

// Moves the entries tracked below the folder fromKey (an upper-case full path) to below the
// full path toFull, in both views: what a folder holds moves with it whatever its name.
void MoveEntriesBelow(const std::string& fromKey, const std::string& toFull) {
  const std::string prefix = fromKey + "\\";
  std::vector<std::pair<std::string, Name>> moved;
  for (auto it = state().names.begin(); it != state().names.end();) {
    if (it->first.compare(0, prefix.size(), prefix) == 0) {
      Name name = it->second;
      name.path = toFull + name.path.substr(fromKey.size());
      if (name.live.kind == Kind::kFile) state().files[name.live.file].livePath = name.path;
      moved.emplace_back(KeyOf(name.path), name);
      it = state().names.erase(it);
    } else {
      ++it;
    }
  }
  for (auto& [key, name] : moved) state().names[key] = name;
}

// The rename at index and the pending renames of the same folder before it (a folder renamed
// twice: its new name's sync makes both durable) leave the list; each old name loses the
// folder in the durable view too, unless something else is there now.
void CommitFolderRename(size_t index) {
  std::vector<FolderRename>& renames = state().folderRenames;
  std::string name = KeyOf(renames[index].from);
  std::vector<size_t> chain{index};
  for (size_t i = index; i-- > 0;) {
    if (KeyOf(renames[i].to) == name) {
      chain.push_back(i);
      name = KeyOf(renames[i].from);
    }
  }
  for (size_t i : chain) {  // from the newest: erasing keeps the older indexes valid
    auto source = state().names.find(KeyOf(renames[i].from));
    if (source != state().names.end() && source->second.live.kind == Kind::kAbsent)
      source->second.durable = Slot{};
    renames.erase(renames.begin() + static_cast<std::ptrdiff_t>(i));
  }
}

// Undoes the folder renames not made durable, newest first: the folder goes back to its old
// name with everything below it (what no sync has made durable below it is put back by the
// caller from the durable views). Whatever took the old name since is dropped.
void UndoFolderRenames() {
  std::vector<FolderRename>& renames = state().folderRenames;
  for (auto rename = renames.rbegin(); rename != renames.rend(); ++rename) {
    const std::string fromKey = KeyOf(rename->from), toKey = KeyOf(rename->to);
    FileStatus status;
    const bool there = Disk().GetFileStatus(rename->to.c_str(), &status) == 0 && status.isDirectory;
    if (Disk().GetFileStatus(rename->from.c_str(), &status) == 0) RemoveTree(rename->from);
    // Entries of what took the old name since go with it.
    for (auto it = state().names.lower_bound(fromKey + "\\");
         it != state().names.end() &&
         it->first.compare(0, fromKey.size() + 1, fromKey + "\\") == 0;) {
      if (it->second.live.kind == Kind::kFile) state().files[it->second.live.file].livePath.clear();
      it = state().names.erase(it);
    }
    // A folder removed under its new name since comes back empty at its old one; what it
    // held comes back from the durable views of its entries. Folders above the old name that
    // went since are made again here and taken away later if their durable view says so.
    MakeAncestors(rename->from);
    if (there) {
      Disk().RenameFile(rename->to.c_str(), rename->from.c_str());
    } else {
      Disk().MakeDirectory(rename->from.c_str());
    }
    MoveEntriesBelow(toKey, rename->from);
    Name& source = state().names[fromKey];
    if (source.path.empty()) source.path = rename->from;
    source.live = source.durable = Slot{Kind::kFolder, -1};
    Name& target = state().names[toKey];
    if (target.path.empty()) target.path = rename->to;
    target.live = Slot{};
    target.durable = rename->targetBefore;
  }
  renames.clear();
}

// What the host file at path holds; none when it cannot be opened.
std::optional<std::string> HostBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// ---- The machine root's stores (functions below) ----------------------------------------

struct StoreFiles {
  std::mutex mutex;
  bool tracking = false;
  bool flushed = false;  // flushed since tracking began (what a child hands to its parent)
  // Each store file changed since the last flush: what it holds durably (none: no file).
  std::map<std::string, std::optional<std::string>> pending;
};

StoreFiles& stores() {
  static StoreFiles instance;
  return instance;
}

std::string StoreFile(Store store) {
  return MachineRoot() + (store == Store::kRegistry ? "/registry.txt" : "/services.txt");
}

// ---- The journal: what a child process changed, taken in by its parent ----
// A section per child, appended at the child's end: its files, names and folder renames, with
// the flags that say what the child itself made durable, then the stores it changed. Numbers and
// texts as 8-byte lengths and raw bytes.

struct Writer {
  std::string bytes;
  void Put(uint64_t value) { bytes.append(reinterpret_cast<const char*>(&value), 8); }
  void Put(const std::string& text) {
    Put(uint64_t{text.size()});
    bytes.append(text);
  }
  void Put(const Slot& slot) {
    Put(static_cast<uint64_t>(slot.kind));
    Put(static_cast<uint64_t>(static_cast<int64_t>(slot.file)));
  }
  template <typename... Fields>
  requires(sizeof...(Fields) > 1) void Put(const Fields&... fields) { (Put(fields), ...); }
};

// Reads what Writer wrote; ok turns false at the first field the bytes cannot hold.
struct Reader {
  const std::string& bytes;
  size_t at = 0;
  bool ok = true;
  uint64_t Number() {
    uint64_t value = 0;
    if (at + 8 > bytes.size()) return ok = false, 0;
    std::memcpy(&value, bytes.data() + at, 8);
    at += 8;
    return value;
  }
  void Get(bool& flag) { flag = Number() != 0; }
  void Get(std::string& text) {
    const uint64_t size = Number();
    if (!ok || size > bytes.size() - at) return static_cast<void>(ok = false);
    text = bytes.substr(at, size);
    at += size;
  }
  void Get(Slot& slot) {
    slot.kind = static_cast<Kind>(Number());
    slot.file = static_cast<int>(static_cast<int64_t>(Number()));
  }
  template <typename... Fields>
  requires(sizeof...(Fields) > 1) void Get(Fields&... fields) { (Get(fields), ...); }
};

// Takes in one child's section: the child saw the disk as durable where this process had not
// tracked anything, so its views stand there; where this process tracks a path, the child's
// change is the live one, and its durable view replaces this process's only where the child
// made it durable itself (a file it synced, a name whose folder it synced).
void MergeSection(Reader& in) {
  std::vector<int> fileOf;
  const uint64_t fileCount = in.Number();
  for (uint64_t i = 0; in.ok && i < fileCount; ++i) {
    TrackedFile file;
    in.Get(file.synced, file.everSynced, file.livePath, file.origin, file.syncedHere);
    int index = -1;
    if (auto found = state().names.find(file.origin); !file.origin.empty() &&
                                                      found != state().names.end() &&
                                                      found->second.live.kind == Kind::kFile) {
      index = found->second.live.file;  // the same file, first seen by the child
      TrackedFile& mine = state().files[index];
      if (file.syncedHere) {
        mine.synced = file.synced;
        mine.everSynced = true;
      }
      mine.livePath = file.livePath;
    } else {
      file.origin.clear();
      file.syncedHere = false;
      state().files.push_back(file);
      index = static_cast<int>(state().files.size()) - 1;
    }
    fileOf.push_back(index);
  }
  auto mapped = [&](Slot slot) {
    if (slot.kind == Kind::kFile) {
      if (slot.file < 0 || static_cast<size_t>(slot.file) >= fileOf.size()) return Slot{};
      slot.file = fileOf[slot.file];
    }
    return slot;
  };
  const uint64_t nameCount = in.Number();
  for (uint64_t i = 0; in.ok && i < nameCount; ++i) {
    std::string key;
    Name name;
    bool synced = false;
    in.Get(key, name.path, name.live, name.durable, synced);
    if (!in.ok) break;
    name.live = mapped(name.live);
    name.durable = mapped(name.durable);
    auto found = state().names.find(key);
    if (found == state().names.end()) {
      state().names.emplace(key, name);
    } else {
      found->second.live = name.live;
      if (synced) found->second.durable = name.durable;
    }
  }
  const uint64_t renameCount = in.Number();
  for (uint64_t i = 0; in.ok && i < renameCount; ++i) {
    FolderRename rename;
    in.Get(rename.from, rename.to, rename.targetBefore);
    rename.targetBefore = mapped(rename.targetBefore);
    if (in.ok) state().folderRenames.push_back(rename);
  }
  // The stores: a flush in the child made them durable as they stood then; what the child
  // changed after its last flush (or at all, without one) is durable as the child first saw it,
  // unless this process changed it before without a flush since.
  const bool flushed = in.Number() != 0;
  const uint64_t storeCount = in.Number();
  std::lock_guard<std::mutex> storeLock(stores().mutex);
  if (in.ok && flushed) stores().pending.clear();
  for (uint64_t i = 0; in.ok && i < storeCount; ++i) {
    std::string path, durable;
    bool existed = false;
    in.Get(path, existed, durable);
    if (!in.ok || stores().pending.count(path) != 0) continue;
    stores().pending[path] = existed ? std::optional<std::string>(durable) : std::nullopt;
  }
}

// Takes in what children appended to the journal since the last look, and empties it.
void ImportJournal() {
  if (state().journal.empty()) return;
  const std::optional<std::string> bytes = HostBytes(state().journal);
  if (!bytes || bytes->empty()) return;
  if (std::FILE* out = std::fopen(state().journal.c_str(), "wb")) std::fclose(out);
  Reader reader{*bytes};
  while (reader.ok && reader.at < bytes->size()) MergeSection(reader);
}

// Whether tracking runs; first takes in what children changed since the last step.
bool Tracking() {
  if (!state().tracking) return false;
  ImportJournal();
  return true;
}

// Forgets everything tracked, and the journal (whose file goes when tracking stops).
void Restart(bool tracking) {
  std::lock_guard<std::mutex> lock(state().mutex);
  if (!tracking && !state().journal.empty()) std::remove(state().journal.c_str());
  State& now = state();
  now.names.clear();
  now.files.clear();
  now.streams.clear();
  now.readers.clear();
  now.folderRenames.clear();
  now.journal.clear();
  now.tracking = tracking;
  std::lock_guard<std::mutex> storeLock(stores().mutex);
  stores().pending.clear();
  stores().flushed = false;
  stores().tracking = tracking;
}

// Puts each store changed since the last flush into what the model leaves of it.
void CutStores(CutModel model) {
  std::lock_guard<std::mutex> lock(stores().mutex);
  if (!stores().tracking) return;
  stores().tracking = false;
  // With every name kept, each store keeps its last version: its data was synced before its
  // rename.
  if (model == CutModel::kNamesKeptDataLost) return;
  for (const auto& [path, durable] : stores().pending) {
    if (!durable) {
      std::remove(path.c_str());
      continue;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << *durable;
  }
}

}  // namespace

void Start() { Restart(true); }

void Stop() { Restart(false); }

void TakeChildrenFrom(const std::string& journal) {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().journal = journal;
  // Children append only to a journal that is there: one that ends after a cut finds none.
  if (std::FILE* out = std::fopen(journal.c_str(), "wb")) std::fclose(out);
}

void AppendTo(const std::string& journal) {
  std::lock_guard<std::mutex> lock(state().mutex);
  if (!state().tracking) return;
  Writer out;
  out.Put(state().files.size());
  for (const TrackedFile& file : state().files)
    out.Put(file.synced, file.everSynced, file.livePath, file.origin, file.syncedHere);
  out.Put(state().names.size());
  for (const auto& [key, name] : state().names)
    out.Put(key, name.path, name.live, name.durable, name.syncedHere);
  out.Put(state().folderRenames.size());
  for (const FolderRename& r : state().folderRenames) out.Put(r.from, r.to, r.targetBefore);
  {
    std::lock_guard<std::mutex> storeLock(stores().mutex);
    out.Put(stores().flushed, stores().pending.size());
    for (const auto& [path, durable] : stores().pending)
      out.Put(path, durable.has_value(), durable.value_or(""));
  }
  std::FILE* file = std::fopen(journal.c_str(), "r+b");
  if (file == nullptr) return;
  std::fseek(file, 0, SEEK_END);
  std::fwrite(out.bytes.data(), 1, out.bytes.size(), file);
  std::fclose(file);
}

void BeforeChange(const char* path) {
  std::lock_guard<std::mutex> lock(state().mutex);
  if (Tracking()) Track(path);
}

void AfterOpenForWrite(Stream stream, const char* path) {
  std::lock_guard<std::mutex> lock(state().mutex);
  if (!Tracking()) return;
  Name* name = Track(path);
  if (name == nullptr) return;
  if (name->live.kind != Kind::kFile) name->live = {Kind::kFile, NewFile(name->path)};
  state().readers.erase(stream);
  state().streams[stream] = name->live.file;
}

void AfterOpenForRead(Stream stream, const char* path) {
  std::lock_guard<std::mutex> lock(state().mutex);
  if (!Tracking()) return;
  state().streams.erase(stream);
  state().readers[stream] = path;
}

void AfterStreamSync(Stream stream) {
  std::lock_guard<std::mutex> lock(state().mutex);
  if (!Tracking()) return;
  int index = -1;
  if (auto found = state().streams.find(stream); found != state().streams.end()) {
    index = found->second;
  } else if (auto reader = state().readers.find(stream); reader != state().readers.end()) {
    // A file only read since tracking began holds what it held then, or what it was given
    // by a rename: either way what it holds now is what the sync makes durable.
    Name* name = Track(reader->second.c_str());
    if (name != nullptr && name->live.kind == Kind::kFile) index = name->live.file;
  }
  if (index >= 0) Resync(state().files[index]);
}

void ForgetStream(Stream stream) {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().streams.erase(stream);
  state().readers.erase(stream);
}

void AfterRemove(const char* path) {
  std::lock_guard<std::mutex> lock(state().mutex);
  if (!Tracking()) return;
  Name* name = Track(path);
  if (name == nullptr) return;
  if (name->live.kind == Kind::kFile) state().files[name->live.file].livePath.clear();
  name->live = Slot{};
}

void AfterMove(const char* from, const char* to) {
  std::lock_guard<std::mutex> lock(state().mutex);
  if (!Tracking()) return;
  Name* source = Track(from);
  Name* target = Track(to);
  if (source == nullptr || target == nullptr || source == target) return;
  if (source->live.kind == Kind::kFolder) {
    // Everything tracked below the folder moves along, in both views; the two names change
    // only in the live view until the rename is made durable (see FolderRename).
    state().folderRenames.push_back({source->path, target->path, target->durable});
    MoveEntriesBelow(KeyOf(source->path), target->path);
    target->live = source->live;
    source->live = Slot{};
    return;
  }
  if (target->live.kind == Kind::kFile) state().files[target->live.file].livePath.clear();
  target->live = source->live;
  if (target->live.kind == Kind::kFile) state().files[target->live.file].livePath = target->path;
  source->live = Slot{};
}

void AfterCopy(const char* to) {
  std::lock_guard<std::mutex> lock(state().mutex);
  if (!Tracking()) return;
  Name* name = Track(to);
  if (name != nullptr && name->live.kind != Kind::kFile)
    name->live = {Kind::kFile, NewFile(name->path)};
}

void AfterMakeDirectory(const char* path) {
  std::lock_guard<std::mutex> lock(state().mutex);
  if (!Tracking()) return;
  Name* name = Track(path);
  if (name != nullptr) name->live = {Kind::kFolder, -1};
}

void AfterSyncDirectory(const char* path) {
  std::lock_guard<std::mutex> lock(state().mutex);
  if (!Tracking()) return;
  std::string folder = KeyOf(FullOf(path));
  for (auto& [key, name] : state().names) {
    if (ParentKey(key) == folder) {
      name.durable = name.live;
      name.syncedHere = true;
    }
  }
  for (size_t i = state().folderRenames.size(); i-- > 0;) {
    if (i < state().folderRenames.size() &&
        ParentKey(KeyOf(state().folderRenames[i].to)) == folder) {
      CommitFolderRename(i);
    }
  }
}

void AfterSyncFileSystem() {
  std::lock_guard<std::mutex> lock(state().mutex);
  if (!Tracking()) return;
  for (TrackedFile& file : state().files) Resync(file);
  for (auto& [key, name] : state().names) {
    name.durable = name.live;
    name.syncedHere = true;
  }
  state().folderRenames.clear();
}

namespace {

// The paths' part of CutPower.
void CutPaths(CutModel model) {
  std::lock_guard<std::mutex> lock(state().mutex);
  if (!Tracking()) return;
  state().tracking = false;
  // A child still running goes on to its end: what it changes is its own.
  if (!state().journal.empty()) std::remove(state().journal.c_str());
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
  UndoFolderRenames();
  // The durable view of each path: a file never synced has no durable data, so it goes.
  auto durableKind = [](const Name& name) {
    if (name.durable.kind == Kind::kFile && !state().files[name.durable.file].everSynced)
      return Kind::kAbsent;
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
  for (auto it = state().names.rbegin(); it != state().names.rend(); ++it)
    if (durableKind(it->second) == Kind::kAbsent) RemoveTree(it->second.path);
}

}  // namespace

// The stores go after the paths: taking in what children tracked may add to them.
void CutPower(CutModel model) {
  CutPaths(model);
  CutStores(model);
}

// ---- The machine root's stores --------------------------------------------------------------

void BeforeStoreChange(Store store) {
  std::lock_guard<std::mutex> lock(stores().mutex);
  if (!stores().tracking || MachineRoot().empty()) return;  // no machine root: Windows' own
  const std::string path = StoreFile(store);
  if (stores().pending.count(path) == 0) stores().pending[path] = HostBytes(path);
}

void AfterStoresFlushed() {
  std::lock_guard<std::mutex> lock(stores().mutex);
  stores().pending.clear();
  stores().flushed = true;
}

}  // namespace qz7::platform::durability
