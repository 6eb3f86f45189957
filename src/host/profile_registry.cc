#include "host/profile_registry.h"

#include <string_view>

#include "host/host_files.h"
#include "host/host_services.h"
#include "host/registry_access.h"
#include "platform/file_system.h"
#include "platform/registry.h"
#include "platform/win_error.h"
#include "platform/windows_path.h"

namespace qz7::host {

namespace p = qz7::platform;

namespace {

constexpr long kMissing = static_cast<long>(p::kErrorFileNotFound);

// The key that holds the variables of one level; kNotFound for an undefined instance.
int LevelKey(ProfileLevel level, const std::string& instance, std::string* path) {
  switch (level) {
    case ProfileLevel::kDefaultLevel:
      *path = kDefaultLevelKey;
      return 0;
    case ProfileLevel::kGlobal:
      *path = kGlobalProfileKey;
      return 0;
    case ProfileLevel::kInstance: {
      if (!IsValidProfileName(instance)) return kBadArgument;
      // An instance key that cannot be opened for another reason than its absence is not
      // taken for an undefined instance: the caller tells "not set" from "not known".
      ScopedKey key;
      const long status = OpenKey(InstanceProfileKey(instance), p::kKeyQueryValue, &key);
      if (status == kMissing) return kNotFound;
      if (status != p::kErrorSuccess) return kRegistryUnreachable;
      *path = InstanceProfileKey(instance);
      return 0;
    }
  }
  return kBadArgument;
}

// The level named by a profile argument when writing or removing.
int ProfileLevelOf(const char* profile, ProfileLevel* level, std::string* instance) {
  if (profile == nullptr || platform::NamesEqualIgnoreCase(profile, kGlobalProfile)) {
    *level = ProfileLevel::kGlobal;
    return 0;
  }
  *instance = profile;
  if (!IsValidProfileName(*instance)) return kBadArgument;
  *level = ProfileLevel::kInstance;
  return 0;
}

}  // namespace

std::string InstanceProfileKey(const std::string& instance) {
  return std::string(kProfilesKey) + "\\" + instance;
}

std::string InstanceNodesKey(const std::string& instance) {
  return InstanceProfileKey(instance) + "\\" + kNodesSubkey;
}

bool IsValidProfileName(const std::string& name) {
  return !name.empty() && name.size() < 256 && name.find('\\') == std::string::npos;
}

int PointProfileRegistry(const char* valueName, const std::string& directory) {
  if (directory.empty()) return kBadArgument;
  // Only a directory that is known to be missing is "not found": one whose status cannot be
  // read may be there, and the caller must not take the registry for an empty one.
  p::FileStatus status;
  if (p::GetFileStatus(directory.c_str(), &status) != 0) {
    return p::IsMissingError(p::GetLastError()) ? kNotFound : kSystemError;
  }
  if (!status.isDirectory) return kNotFound;
  ScopedKey key;
  if (CreateKey(kRegistryPointersKey, &key) != p::kErrorSuccess) return kRegistryUnreachable;
  if (WriteText(key.get(), valueName, directory) != p::kErrorSuccess) {
    return kRegistryUnreachable;
  }
  return 0;
}

int ReadProfilePointer(const char* valueName, std::string* directory) {
  ScopedKey key;
  long status = OpenKey(kRegistryPointersKey, p::kKeyQueryValue, &key);
  if (status == kMissing) return kNotFound;
  if (status != p::kErrorSuccess) return kRegistryUnreachable;
  status = ReadText(key.get(), valueName, directory);
  if (status == kMissing) return kNotFound;
  return status == p::kErrorSuccess ? 0 : kRegistryUnreachable;
}

int ListInstances(std::vector<std::string>* names) {
  long status = ListSubkeys(kProfilesKey, names);
  if (status == kMissing) return 0;
  return status == p::kErrorSuccess ? 0 : kRegistryUnreachable;
}

bool IsInstanceDefined(const std::string& name) { return InstanceDefinition(name) == 0; }

int InstanceDefinition(const std::string& name) {
  if (!IsValidProfileName(name)) return kNotFound;
  ScopedKey key;
  const long status = OpenKey(InstanceProfileKey(name), p::kKeyQueryValue, &key);
  if (status == kMissing) return kNotFound;
  return status == p::kErrorSuccess ? 0 : kRegistryUnreachable;
}

int DefineInstance(const std::string& name) {
  if (!IsValidProfileName(name)) return kBadArgument;
  if (IsInstanceDefined(name)) return kInstanceExists;
  ScopedKey key;
  return CreateKey(InstanceProfileKey(name), &key) == p::kErrorSuccess ? 0 : kRegistryUnreachable;
}

int UndefineInstance(const std::string& name) {
  if (!IsValidProfileName(name)) return kBadArgument;
  if (!IsInstanceDefined(name)) return kNotFound;
  ScopedKey profiles;
  if (OpenKey(kProfilesKey, p::kKeyAllAccess, &profiles) != p::kErrorSuccess ||
      p::RegDeleteTreeA(profiles.get(), name.c_str()) != p::kErrorSuccess) {
    return kRegistryUnreachable;
  }
  return 0;
}

int AddInstanceNode(const std::string& instance, const std::string& node) {
  if (!IsValidProfileName(node)) return kBadArgument;
  if (!IsInstanceDefined(instance)) return IsValidProfileName(instance) ? kNotFound : kBadArgument;
  ScopedKey key;
  return CreateKey(InstanceNodesKey(instance) + "\\" + node, &key) == p::kErrorSuccess
             ? 0
             : kRegistryUnreachable;
}

int ListInstanceNodes(const std::string& instance, std::vector<std::string>* nodes) {
  nodes->clear();
  if (!IsInstanceDefined(instance)) return IsValidProfileName(instance) ? kNotFound : kBadArgument;
  long status = ListSubkeys(InstanceNodesKey(instance), nodes);
  if (status == kMissing) return 0;
  return status == p::kErrorSuccess ? 0 : kRegistryUnreachable;
}

int ReadVariableAt(ProfileLevel level, const std::string& instance, const std::string& variable,
                   std::string* value) {
  if (variable.empty()) return kBadArgument;
  std::string path;
  if (int result = LevelKey(level, instance, &path); result != 0) return result;
  ScopedKey key;
  long status = OpenKey(path, p::kKeyQueryValue, &key);
  if (status == kMissing) return kNotFound;
  if (status != p::kErrorSuccess) return kRegistryUnreachable;
  status = ReadText(key.get(), variable.c_str(), value);
  if (status == kMissing) return kNotFound;
  if (status == static_cast<long>(p::kErrorInvalidData)) return kSystemError;
  return status == p::kErrorSuccess ? 0 : kRegistryUnreachable;
}

int WriteVariableAt(ProfileLevel level, const std::string& instance, const std::string& variable,
                    const std::string& value) {
  if (variable.empty()) return kBadArgument;
  std::string path;
  if (int result = LevelKey(level, instance, &path); result != 0) return result;
  ScopedKey key;
  if (CreateKey(path, &key) != p::kErrorSuccess) return kRegistryUnreachable;
  return WriteText(key.get(), variable.c_str(), value) == p::kErrorSuccess ? 0
                                                                           : kRegistryUnreachable;
}

int RemoveVariableAt(ProfileLevel level, const std::string& instance, const std::string& variable) {
  if (variable.empty()) return kBadArgument;
  std::string path;
  if (int result = LevelKey(level, instance, &path); result != 0) return result;
  ScopedKey key;
  long status = OpenKey(path, p::kKeySetValue, &key);
  if (status == kMissing) return kNotFound;
  if (status != p::kErrorSuccess) return kRegistryUnreachable;
  status = p::RegDeleteValueA(key.get(), variable.c_str());
  if (status == kMissing) return kNotFound;
  return status == p::kErrorSuccess ? 0 : kRegistryUnreachable;
}

int ReadProfileVariable(const char* profile, const std::string& variable, std::string* value) {
  if (profile != nullptr) {
    ProfileLevel level;
    std::string instance;
    if (int result = ProfileLevelOf(profile, &level, &instance); result != 0) return result;
    return ReadVariableAt(level, instance, variable, value);
  }
  int result = ReadVariableAt(ProfileLevel::kGlobal, std::string(), variable, value);
  if (result != kNotFound) return result;
  return ReadVariableAt(ProfileLevel::kDefaultLevel, std::string(), variable, value);
}

int WriteProfileVariable(const char* profile, const std::string& variable,
                         const std::string& value) {
  ProfileLevel level;
  std::string instance;
  if (int result = ProfileLevelOf(profile, &level, &instance); result != 0) return result;
  return WriteVariableAt(level, instance, variable, value);
}

int RemoveProfileVariable(const char* profile, const std::string& variable) {
  ProfileLevel level;
  std::string instance;
  if (int result = ProfileLevelOf(profile, &level, &instance); result != 0) return result;
  return RemoveVariableAt(level, instance, variable);
}

constexpr const char* kProfileRegistryParent = "SOFTWARE\\ZAV\\QZ7";

constexpr const char* kProfileRegistryLeaves[] = {"PROFILES", "GLOBALPROFILE", "DEFAULTLEVEL",
                                                  "PROFILEREGISTRY"};
static_assert(std::string_view(kProfilesKey).ends_with("\\PROFILES"));
static_assert(std::string_view(kGlobalProfileKey).ends_with("\\GLOBALPROFILE"));
static_assert(std::string_view(kDefaultLevelKey).ends_with("\\DEFAULTLEVEL"));
static_assert(std::string_view(kRegistryPointersKey).ends_with("\\PROFILEREGISTRY"));

bool FlushProfileRegistry() {
  ScopedKey key;
  const long opened = OpenKey(kProfileRegistryParent, p::kKeyRead, &key);
  if (opened == kMissing) return true;
  return opened == p::kErrorSuccess && p::RegFlushKey(key.get()) == p::kErrorSuccess;
}

int RemoveProfileRegistry() {
  ScopedKey parent;
  long status = OpenKey(kProfileRegistryParent, p::kKeyAllAccess, &parent);
  if (status == kMissing) return 0;
  if (status != p::kErrorSuccess) return kRegistryUnreachable;
  int result = 0;
  for (const char* subkey : kProfileRegistryLeaves) {
    status = p::RegDeleteTreeA(parent.get(), subkey);
    if (status != p::kErrorSuccess && status != kMissing) result = kRegistryUnreachable;
  }
  return result;
}

}  // namespace qz7::host
