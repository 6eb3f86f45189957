#include "testkit/machine_state.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "host/profile_registry.h"
#include "testkit/temp_machine.h"
#if defined(_WIN32)
#include "host/service_table.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "testkit/host_os.h"
#include "testkit/service_config.h"
#endif

namespace qz7::testkit {

namespace fs = std::filesystem;

namespace {

#if defined(_WIN32)
// The product's registry tree and the shares: what a copy of the machine puts back.
constexpr const char* kSavedTrees[] = {"SOFTWARE\\ZAV", host::kSharesKey};

// Makes everything below path writable (Windows refuses to remove a read-only file).
void MakeWritable(const fs::path& path) {
  std::error_code ignored;
  for (auto it = fs::recursive_directory_iterator(path, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ignored);
  }
}

// Copies every entry of the folder from into the folder to, which exists.
// (The root of an empty drive cannot be listed on Windows: it has no "." entry. That is no
// error here.)
void CopyEntriesInto(const fs::path& from, const fs::path& to) {
  std::error_code empty;
  for (const auto& entry : fs::directory_iterator(from, empty))
    fs::copy(entry.path(), to / entry.path().filename(), fs::copy_options::recursive);
}

// A folder of the machine ("C:\\QZ7", "D:\\") as it is named below drives/ ("c/QZ7", "d").
std::string DriveName(const std::string& folder) {
  std::string name(1, static_cast<char>(std::tolower(static_cast<unsigned char>(folder[0]))));
  if (folder.size() > 3) name += "/" + folder.substr(3);
  return name;
}

constexpr uint32_t kUnreadable = 0xFFFFFFFF;

// The key at path with its values, then each subkey's, in name order; nothing when the key
// is missing.
void SaveKeyTree(const std::string& path, std::vector<SavedKey>* keys) {
  platform::RegKey key = nullptr;
  if (platform::RegOpenKeyExA(platform::LocalMachineKey(), path.c_str(), 0, platform::kKeyRead,
                              &key) != 0) {
    return;
  }
  SavedKey saved{path, {}};
  std::vector<std::string> subkeys;
  char name[1024];
  for (uint32_t index = 0;; ++index) {
    uint32_t length = sizeof name;
    if (platform::RegEnumValueA(key, index, name, &length) != 0) break;
    // A value that cannot be read is kept as one of no type: it differs from every other, and
    // a copy cannot put it back.
    uint32_t type = 0, size = 0;
    std::vector<unsigned char> data;
    if (platform::RegQueryValueExA(key, name, &type, nullptr, &size) == 0) data.resize(size);
    if (data.size() != size ||
        platform::RegQueryValueExA(key, name, &type, data.data(), &size) != 0) {
      type = kUnreadable;
      size = 0;
    }
    data.resize(size);
    saved.values.push_back({name, type, std::move(data)});
  }
  for (uint32_t index = 0;; ++index) {
    uint32_t length = sizeof name;
    if (platform::RegEnumKeyExA(key, index, name, &length) != 0) break;
    subkeys.push_back(name);
  }
  static_cast<void>(platform::RegCloseKey(key));  // only read
  std::sort(saved.values.begin(), saved.values.end(),
            [](const auto& a, const auto& b) { return a.name < b.name; });
  std::sort(subkeys.begin(), subkeys.end());
  keys->push_back(std::move(saved));
  for (const std::string& subkey : subkeys) SaveKeyTree(path + "\\" + subkey, keys);
}

// The key at top and every key below it (with includeTop; else only those below it), each as
// "[KEY]" and a "NAME=TYPE:HEX" line per value.
std::string KeysText(const std::string& top, bool includeTop) {
  std::vector<SavedKey> keys;
  SaveKeyTree(top, &keys);
  std::string text;
  for (const SavedKey& key : keys) {
    if (key.path == top && !includeTop) continue;
    text += "[" + key.path + "]\n";
    for (const SavedKey::Value& value : key.values) {
      text += value.name + "=" + std::to_string(value.type) + ":";
      for (unsigned char byte : value.data) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02x", byte);
        text += hex;
      }
      text += "\n";
    }
  }
  return text;
}

// The configuration of a service made by the test, or false when it cannot be read.
bool ReadService(const std::string& name, ServiceConfigTexts* texts) {
  platform::ScHandle manager =
      platform::OpenSCManagerA(nullptr, nullptr, platform::kScManagerConnect);
  if (manager == nullptr) return false;
  platform::ScHandle service =
      platform::OpenServiceA(manager, name.c_str(), platform::kServiceQueryConfig);
  if (service != nullptr) {
    *texts = QueryServiceConfigTexts(service);
    static_cast<void>(platform::CloseServiceHandle(service));  // only read
  }
  static_cast<void>(platform::CloseServiceHandle(manager));  // only read
  return service != nullptr && texts->failedSteps.empty();
}
#endif

}  // namespace

#if defined(_WIN32)
std::string RegistryTreeText(const std::string& key) { return KeysText(key, true); }

std::string MadeServicesText(bool bareProgram) {
  std::string text;
  for (const std::string& name : TestMachineServices()) {
    ServiceConfigTexts texts;
    if (!ReadService(name, &texts)) {
      text += name + " unreadable\n";
      continue;
    }
    std::string program = texts.program;
    if (bareProgram && program.size() >= 2 && program.front() == '"' && program.back() == '"')
      program = program.substr(1, program.size() - 2);
    text += name + " " + program + " " + texts.account + " " + texts.displayName + "\n";
  }
  return text;
}
#endif

void ForEachDriveEntry(const std::string& machineRoot, const std::string& skipped,
                       const DriveEntryVisit& visit) {
  const auto walk = [&](const fs::path& top, const std::string& name) {
    std::error_code missing;  // the root of an empty drive cannot be listed on Windows
    for (auto it = fs::recursive_directory_iterator(top, missing);
         it != fs::recursive_directory_iterator(); ++it) {
      const std::string relative = fs::relative(it->path(), top).generic_string();
      const std::string below = name.empty() ? relative : name + "/" + relative;
      if (below == skipped) {
        it.disable_recursion_pending();
      } else {
        visit(below, *it);
      }
    }
  };
#if defined(_WIN32)
  static_cast<void>(machineRoot);  // the machine is the computer's own
  for (const std::string& folder : TestMachineFolders()) {
    visit(DriveName(folder), fs::directory_entry(folder));
    walk(folder, DriveName(folder));
  }
#else
  walk(fs::path(machineRoot) / "drives", "");
#endif
}

MachineState TakeMachineState(const std::string& machineRoot) {
  MachineState state;
  ForEachDriveEntry(
      machineRoot, "", [&](const std::string& name, const fs::directory_entry& entry) {
        state[name] = entry.is_directory() ? "<dir>" : ReadHostFile(entry.path().string());
      });
#if defined(_WIN32)
  state["services.txt"] = MadeServicesText(/*bareProgram=*/false);
  state["registry.txt"] = KeysText(host::kProfilesKey, false);
  return state;
#else
  for (const char* store : {"services.txt", "registry.txt"}) {
    std::istringstream table(ReadHostFile(machineRoot + "/" + store));
    bool keep = store[0] == 's';  // of the registry, only the instance keys
    for (std::string line; std::getline(table, line);) {
      if (line.empty() || line[0] == ';' || line[0] == '#') continue;
      if (line[0] == '[' && store[0] == 'r')
        keep = line.rfind(std::string("[") + host::kProfilesKey + "\\", 0) == 0;
      if (keep) state[store] += line + "\n";
    }
  }
  return state;
#endif
}

std::string DiffMachineStates(const MachineState& before, const MachineState& after) {
  std::string text;
  for (const auto& [name, content] : after)
    if (!before.count(name) || before.at(name) != content) text += "changed " + name + "\n";
  for (const auto& [name, content] : before)
    if (!after.count(name)) text += "removed " + name + "\n";
  return text;
}

#if defined(_WIN32)
MachineCopy::MachineCopy(const std::string& root, const char* suffix, const char*)
    : root_(root), copy_(root + suffix) {
  fs::create_directories(copy_);
  folders_ = TestMachineFolders();
  for (const std::string& folder : folders_) {
    const fs::path copy = copy_ / DriveName(folder);
    fs::create_directories(copy);
    CopyEntriesInto(folder, copy);
  }
  for (const char* tree : kSavedTrees) SaveKeyTree(tree, &keys_);
  for (const std::string& name : TestMachineServices()) {
    ServiceConfigTexts texts;
    if (!ReadService(name, &texts)) throw std::runtime_error("cannot read service " + name);
    services_.push_back({name, texts.program, texts.account, texts.displayName});
  }
}

MachineCopy::~MachineCopy() {
  std::error_code ignored;
  MakeWritable(copy_);
  fs::remove_all(copy_, ignored);
}

void MachineCopy::Restore() const {
  // The folders: those of the machine now are emptied (a drive) or removed (a top folder of
  // C:), then the copied ones come back.
  for (const std::string& folder : TestMachineFolders()) {
    MakeWritable(folder);
    if (folder.size() > 3) {
      std::error_code error;
      if (!RemoveTreePatiently(folder, error))
        throw std::runtime_error("cannot remove " + folder + ": " + error.message());
      continue;
    }
    std::error_code empty;  // an empty drive's root cannot be listed
    for (const auto& entry : fs::directory_iterator(folder, empty)) fs::remove_all(entry.path());
  }
  for (const std::string& folder : folders_) {
    fs::create_directories(folder);
    CopyEntriesInto(copy_ / DriveName(folder), folder);
  }
  // The registry trees as they were.
  for (const char* tree : kSavedTrees) {
    static_cast<void>(platform::RegDeleteTreeA(platform::LocalMachineKey(), tree));  // may be gone
  }
  for (const SavedKey& saved : keys_) {
    platform::RegKey key = nullptr;
    if (platform::RegCreateKeyExA(platform::LocalMachineKey(), saved.path.c_str(), &key) != 0)
      throw std::runtime_error("cannot put back key " + saved.path);
    for (const SavedKey::Value& value : saved.values) {
      if (platform::RegSetValueExA(key, value.name.c_str(), value.type, value.data.data(),
                                   static_cast<uint32_t>(value.data.size())) != 0) {
        static_cast<void>(platform::RegCloseKey(key));  // failing anyway
        throw std::runtime_error("cannot put back value " + value.name + " of " + saved.path);
      }
    }
    static_cast<void>(platform::RegCloseKey(key));  // written through already
  }
  // The services: those made since the copy go, the copied ones come back as they were.
  for (const std::string& name : TestMachineServices()) {
    const bool copied = std::any_of(services_.begin(), services_.end(),
                                    [&](const SavedService& saved) { return saved.name == name; });
    if (!copied && !DeleteServiceNamed(name))
      throw std::runtime_error("cannot delete service " + name);
  }
  platform::ScHandle manager =
      platform::OpenSCManagerA(nullptr, nullptr, platform::kScManagerAllAccess);
  if (manager == nullptr) throw std::runtime_error("cannot open the service manager");
  for (const SavedService& saved : services_) {
    platform::ScHandle service =
        platform::OpenServiceA(manager, saved.name.c_str(), platform::kServiceAllAccess);
    const bool done =
        service != nullptr
            ? platform::ChangeServiceConfigA(service, saved.program.c_str(), saved.account.c_str(),
                                             nullptr, saved.displayName.c_str())
            : (service = platform::CreateServiceA(manager, saved.name.c_str(),
                                                  saved.displayName.c_str(), saved.program.c_str(),
                                                  saved.account.c_str(), nullptr)) != nullptr;
    if (service != nullptr) static_cast<void>(platform::CloseServiceHandle(service));  // done
    if (!done) {
      static_cast<void>(platform::CloseServiceHandle(manager));  // failing anyway
      throw std::runtime_error("cannot put back service " + saved.name);
    }
  }
  static_cast<void>(platform::CloseServiceHandle(manager));  // done with it
}
#else
namespace {
// Copies every entry below from into to, which exists: symbolic links as links, the files
// below linked (a path relative to from, or "") as hard links.
void CopyTree(const fs::path& from, const fs::path& to, const std::string& linked) {
  for (auto it = fs::recursive_directory_iterator(from); it != fs::recursive_directory_iterator();
       ++it) {
    const fs::path relative = fs::relative(it->path(), from);
    if (it->is_symlink()) {
      fs::copy_symlink(it->path(), to / relative);
    } else if (it->is_directory()) {
      fs::create_directory(to / relative);
    } else if (!linked.empty() && relative.generic_string().starts_with(linked + "/")) {
      fs::create_hard_link(it->path(), to / relative);
    } else {
      fs::copy_file(it->path(), to / relative);
    }
  }
}
}  // namespace

MachineCopy::MachineCopy(const std::string& root, const char* suffix, const char* linked)
    : root_(root), copy_(root + suffix), linked_(linked != nullptr ? linked : "") {
  fs::create_directory(copy_);
  CopyTree(root_, copy_, linked_);
}

MachineCopy::~MachineCopy() {
  std::error_code ignored;
  fs::remove_all(copy_, ignored);
}

void MachineCopy::Restore() const {
  for (const auto& entry : fs::directory_iterator(root_)) fs::remove_all(entry.path());
  CopyTree(copy_, root_, linked_);
}
#endif

}  // namespace qz7::testkit
