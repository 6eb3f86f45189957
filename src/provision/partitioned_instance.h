// What a partitioned instance needs beyond its creation: its profile directory shared on the
// network so that the other nodes reach it, and the Windows services of its nodes pointed at
// the program of a new installation.
#ifndef QZ7_PROVISION_PARTITIONED_INSTANCE_H_
#define QZ7_PROVISION_PARTITIONED_INSTANCE_H_

#include <cstddef>
#include <string>

namespace qz7::provision {

// The registry key below HKEY_LOCAL_MACHINE that holds one subkey per instance profile; the
// nodes of a partitioned instance are the subkeys of its "NODES" key.
constexpr const char* kProfilesRegistryKey = "SOFTWARE\\ZAV\\QZ7\\PROFILES";
constexpr const char* kShareNamePrefix = "QZ7-";
constexpr const char* kShareGroup = "Everyone";
constexpr const char* kNodeServiceProgram = "qz7syscs.exe";
constexpr size_t kComputerNameSize = 16;
constexpr size_t kServiceNameSize = 256;

// "QZ7-" followed by the instance name.
std::string ShareNameOf(const char* instanceName);

// Shares profileDir (quotes are stripped) as shareName for the group "Everyone" on this
// computer: a share of that name left from before is deleted first (its result is ignored).
// Returns 0 or the host's result from creating the share.
[[nodiscard]] int ShareProfileDirectory(const char* profileDir, const std::string& shareName);

// Points the service of every node of the instance (the subkeys of its NODES key, each
// service named "<instance>-<node>") at installDir\bin\qz7syscs.exe, quoted when installDir
// is. Nothing is reported: a missing key means no nodes, and each change's result is ignored.
void RepointNodeServices(const char* instanceName, const char* installDir);

}  // namespace qz7::provision

#endif  // QZ7_PROVISION_PARTITIONED_INSTANCE_H_
