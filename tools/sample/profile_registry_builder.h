// Writes a profile registry into the registry of the machine root in force, in the stand-in
// runtime's layout (host/profile_registry.h): instances with their variables and nodes, the
// global profile, the default level and the directories the registry was pointed at.
//
//   ProfileRegistryContents contents;
//   contents.instances.push_back({.name = "QZ7", .variables = {{"QZ7INSTPROF", "C:\\PROFILES"}}});
//   contents.globalProfile = {{"QZ7ADMINSERVER", "QZ7DAS"}};
//   WriteProfileRegistry(contents);
#ifndef QZ7_TOOLS_SAMPLE_PROFILE_REGISTRY_BUILDER_H_
#define QZ7_TOOLS_SAMPLE_PROFILE_REGISTRY_BUILDER_H_

#include <string>
#include <vector>

namespace qz7::sample {

struct ProfileVariable {
  std::string name;  // "QZ7INSTPROF", "QZ7PORTRANGE", ...
  std::string value;
};

struct ProfileInstance {
  std::string name;
  std::vector<ProfileVariable> variables;
  std::vector<std::string> nodes;  // NODES subkeys of a partitioned instance ("0", "1", ...)
};

struct ProfileRegistryContents {
  std::vector<ProfileInstance> instances;      // defined in this order
  std::vector<ProfileVariable> globalProfile;  // "QZ7GLOBALPF"
  std::vector<ProfileVariable> defaultLevel;
  std::string installDir;          // pointer recorded by op 10 ("" = none)
  std::string instanceProfileDir;  // pointer recorded by op 11 ("" = none)
};

// Adds the contents to what the registry holds. Returns 0 or the host result code of the
// first step that failed (kInstanceExists when an instance is defined already).
int WriteProfileRegistry(const ProfileRegistryContents& contents);

}  // namespace qz7::sample

#endif  // QZ7_TOOLS_SAMPLE_PROFILE_REGISTRY_BUILDER_H_
