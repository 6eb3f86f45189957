// The profile registry of the stand-in runtime, kept in HKEY_LOCAL_MACHINE:
//
//   SOFTWARE\ZAV\QZ7\PROFILES\<instance>            one key per defined instance; its variables
//                                                   are REG_SZ values named by variable name
//   SOFTWARE\ZAV\QZ7\PROFILES\<instance>\NODES\<n>  the nodes of a partitioned instance
//   SOFTWARE\ZAV\QZ7\GLOBALPROFILE                  the global profile ("QZ7GLOBALPF")
//   SOFTWARE\ZAV\QZ7\DEFAULTLEVEL                   the default level
//   SOFTWARE\ZAV\QZ7\PROFILEREGISTRY                where the registry was pointed: the values
//                                                   "InstallDir" and "InstanceProfileDir"
//
// The global profile and the default level sit beside PROFILES, never in it, so that they are
// never enumerated as instances.
//
// Which level a variable operation reaches, by the profile argument:
//   null           read: the global profile first, then the default level;
//                  write and remove: the global profile. (The library writes the
//                  administration-server name at the null profile and later reads and removes
//                  it from "QZ7GLOBALPF", so both must name the same place; the default level
//                  is only ever read, and holds what an earlier release or a test put there.)
//   "QZ7GLOBALPF"  the global profile (name compared without regard to case);
//   any other      that instance's profile, which must be defined.
//
// Every function returns a host result code (host_services.h).
#ifndef QZ7_HOST_PROFILE_REGISTRY_H_
#define QZ7_HOST_PROFILE_REGISTRY_H_

#include <string>
#include <vector>

namespace qz7::host {

constexpr const char* kProfilesKey = "SOFTWARE\\ZAV\\QZ7\\PROFILES";
constexpr const char* kGlobalProfileKey = "SOFTWARE\\ZAV\\QZ7\\GLOBALPROFILE";
constexpr const char* kDefaultLevelKey = "SOFTWARE\\ZAV\\QZ7\\DEFAULTLEVEL";
constexpr const char* kRegistryPointersKey = "SOFTWARE\\ZAV\\QZ7\\PROFILEREGISTRY";
constexpr const char* kInstallDirValue = "InstallDir";
constexpr const char* kInstanceProfileDirValue = "InstanceProfileDir";
constexpr const char* kNodesSubkey = "NODES";

std::string InstanceProfileKey(const std::string& instance);
std::string InstanceNodesKey(const std::string& instance);

// A profile or instance name that can stand as one registry key: not empty, no backslash,
// shorter than 256 characters.
[[nodiscard]] bool IsValidProfileName(const std::string& name);

enum class ProfileLevel { kDefaultLevel, kGlobal, kInstance };

// Records a directory under kRegistryPointersKey (valueName kInstallDirValue or
// kInstanceProfileDirValue). kBadArgument for an empty text, kNotFound when the directory
// does not exist (or is no directory), kSystemError when its status cannot be read,
// kRegistryUnreachable when the value cannot be written.
[[nodiscard]] int PointProfileRegistry(const char* valueName, const std::string& directory);
// The recorded directory; kNotFound when the registry was never pointed that way.
[[nodiscard]] int ReadProfilePointer(const char* valueName, std::string* directory);

// The defined instances in the order they were defined (empty when none).
[[nodiscard]] int ListInstances(std::vector<std::string>* names);
[[nodiscard]] bool IsInstanceDefined(const std::string& name);
// 0 when the instance is defined, kNotFound when it is not (or the name cannot be one),
// kRegistryUnreachable when its key could not be looked at: an enumeration must not take an
// instance it cannot see for one that was dropped.
[[nodiscard]] int InstanceDefinition(const std::string& name);
// Creates the instance's key. kInstanceExists when it is defined already.
[[nodiscard]] int DefineInstance(const std::string& name);
// Removes the instance's key with its variables and nodes. kNotFound when not defined.
[[nodiscard]] int UndefineInstance(const std::string& name);
[[nodiscard]] int AddInstanceNode(const std::string& instance, const std::string& node);
[[nodiscard]] int ListInstanceNodes(const std::string& instance, std::vector<std::string>* nodes);

// Variables at an explicit level (instance is used only for ProfileLevel::kInstance).
// Writing creates the global or default-level key when needed; an instance must be defined.
[[nodiscard]] int ReadVariableAt(ProfileLevel level, const std::string& instance,
                                 const std::string& variable, std::string* value);
[[nodiscard]] int WriteVariableAt(ProfileLevel level, const std::string& instance,
                                  const std::string& variable, const std::string& value);
[[nodiscard]] int RemoveVariableAt(ProfileLevel level, const std::string& instance,
                                   const std::string& variable);

// Variables by the profile argument of the host operations (rules above).
[[nodiscard]] int ReadProfileVariable(const char* profile, const std::string& variable,
                                      std::string* value);
[[nodiscard]] int WriteProfileVariable(const char* profile, const std::string& variable,
                                       const std::string& value);
[[nodiscard]] int RemoveProfileVariable(const char* profile, const std::string& variable);

// Removes the instance profiles, the global profile, the default level and the pointers.
[[nodiscard]] int RemoveProfileRegistry();

// Makes the product's registry keys durable (the profile registry with every instance's
// variables). Windows writes registry changes to its hive lazily: a step that cannot be taken
// back and relies on them (removing the index file, removing the emptied old profile
// directory, an instance tool reporting success to its caller) flushes first, so that a power
// cut cannot undo the registry behind it. No product key means nothing was written there:
// nothing to flush. False when the key could not be opened or flushed.
[[nodiscard]] bool FlushProfileRegistry();

}  // namespace qz7::host

#endif  // QZ7_HOST_PROFILE_REGISTRY_H_
