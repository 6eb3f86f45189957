// Creating an instance through the host services and stamping its new configuration file
// qz7systm with what is known about this computer.
#ifndef QZ7_PROVISION_INSTANCE_CREATION_H_
#define QZ7_PROVISION_INSTANCE_CREATION_H_

namespace qz7::provision {

// The configuration file cannot be read or written.
constexpr int kConfigFileError = -5005;

// Kind code of a partitioned instance (otherwise the installed server kind is passed).
constexpr int kKindPartitioned = 4;

// Registry key and values that tell which optional components are installed.
constexpr const char* kComponentsKey = "SOFTWARE\\ZAV\\QZ7\\Components";
constexpr const char* kDistributedJoinValue = "Distributed Join QZ7 Access";
constexpr const char* kQuerySentryValue = "QZ7 Query Sentry Client";

// Creates the instance name below profileDir through the host services, sets QZ7INSTANCE and
// QZ7INSTPROF in the process environment, and stamps profileDir\name\qz7systm. account and
// password may be null. Returns 0, the host service's error from the creation (nothing to
// undo), or the stamping's result, in which case the instance has been dropped again.
// With stamp false the configuration file is left as the creation left it: the caller
// keeps the instance's own configuration aside and puts it back afterwards, so a stamp would
// only be overwritten (and, should the process end before that, would stand in its place).
[[nodiscard]] int CreateInstance(const char* name, const char* profileDir, const char* installDir,
                                 const char* account, const char* password, int kindCode,
                                 bool stamp = true);

// Stamps the configuration file at configPath (a Windows path) with the installed components
// (registry), the processor speed, for a partitioned instance the communication bandwidth,
// and the default node name. A client instance (node type 2) is only written when a
// component value is present. Returns 0, the error of a host service (nothing written), or
// kConfigFileError when 4096 bytes cannot be read, or the block cannot be written back.
// The file is closed on every path.
[[nodiscard]] int InitInstanceConfiguration(const char* configPath);

}  // namespace qz7::provision

#endif  // QZ7_PROVISION_INSTANCE_CREATION_H_
