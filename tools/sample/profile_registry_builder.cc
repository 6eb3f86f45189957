#include "tools/sample/profile_registry_builder.h"

#include "host/host_services.h"
#include "host/profile_registry.h"
#include "host/registry_access.h"
#include "platform/win_error.h"

namespace qz7::sample {

namespace h = qz7::host;

namespace {

int WriteLevel(h::ProfileLevel level, const std::string& instance,
               const std::vector<ProfileVariable>& variables) {
  for (const ProfileVariable& variable : variables) {
    if (int result = h::WriteVariableAt(level, instance, variable.name, variable.value);
        result != 0) {
      return result;
    }
  }
  return 0;
}

// Pointers are written as given: a test may point at a directory it removes afterwards.
int WritePointer(const char* valueName, const std::string& directory) {
  if (directory.empty()) return 0;
  h::ScopedKey key;
  if (h::CreateKey(h::kRegistryPointersKey, &key) != platform::kErrorSuccess ||
      h::WriteText(key.get(), valueName, directory) != platform::kErrorSuccess) {
    return h::kRegistryUnreachable;
  }
  return 0;
}

}  // namespace

int WriteProfileRegistry(const ProfileRegistryContents& contents) {
  for (const ProfileInstance& instance : contents.instances) {
    if (int result = h::DefineInstance(instance.name); result != 0) return result;
    if (int result = WriteLevel(h::ProfileLevel::kInstance, instance.name, instance.variables);
        result != 0) {
      return result;
    }
    for (const std::string& node : instance.nodes) {
      if (int result = h::AddInstanceNode(instance.name, node); result != 0) return result;
    }
  }
  if (int result = WriteLevel(h::ProfileLevel::kGlobal, "", contents.globalProfile); result != 0) {
    return result;
  }
  if (int result = WriteLevel(h::ProfileLevel::kDefaultLevel, "", contents.defaultLevel);
      result != 0) {
    return result;
  }
  if (int result = WritePointer(h::kInstallDirValue, contents.installDir); result != 0) {
    return result;
  }
  return WritePointer(h::kInstanceProfileDirValue, contents.instanceProfileDir);
}

}  // namespace qz7::sample
