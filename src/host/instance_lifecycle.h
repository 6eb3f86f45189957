// Creating and dropping an instance in the stand-in runtime. An instance is three things:
// its directory below the instance-profile directory holding a qz7systm copied from the
// installation's template, its key in the profile registry, and its Windows service(s).
#ifndef QZ7_HOST_INSTANCE_LIFECYCLE_H_
#define QZ7_HOST_INSTANCE_LIFECYCLE_H_

#include <string>

namespace qz7::host {

// The server kinds and the CFG template each one's qz7systm is copied from.
struct InstanceTemplate {
  int kindCode;
  const char* fileName;
};
constexpr InstanceTemplate kInstanceTemplates[] = {
    {1, "qz7syssv"}, {2, "qz7sysrq"}, {3, "qz7syssr"}, {4, "qz7sysmp"}, {5, "qz7sysst"},
};
// An administration server takes the first of these that the installation has.
constexpr const char* kAdminServerTemplates[] = {"qz7syssv.das", "qz7syssr.das"};

constexpr const char* kServiceProgram = "bin\\qz7syscs.exe";  // below the installation
constexpr const char* kPartitionedFirstNode = "0";
constexpr const char* kConfigFileName = "qz7systm";

struct InstanceCreateRequest {
  std::string name;        // 1 to 8 characters of the permitted character set
  std::string profileDir;  // the instance-profile directory (quotes already stripped)
  std::string installDir;  // the installation directory (quotes already stripped)
  bool adminServer = false;
  int kindCode = 1;
  const char* account = nullptr;
  const char* password = nullptr;
};

// Creates <profileDir>\<name> (and any missing directory above it) with a qz7systm copied
// from <installDir>\CFG\<template>; defines the instance in the profile registry with
// QZ7INSTPROF = profileDir (a partitioned instance, kind 4, also gets node "0"); registers
// the service <name> ("<name>-0" for kind 4) running <installDir>\bin\qz7syscs.exe under the
// account. For an instance that is not defined, a directory that exists is reused and its
// qz7systm replaced by the template. A service of that name left by an earlier installation
// is re-pointed, not duplicated.
//
// An instance that is defined already (names compared without regard to case) is updated,
// not refused: the set-up creates every instance this way, including those of an earlier
// release. Its profile-registry entry stays with its variables and nodes; QZ7INSTPROF is set
// to profileDir; a partitioned create adds node "0" only when it is missing. Its service is
// re-pointed at this installation's program, or registered when missing. The instance
// directory is created when missing; a qz7systm in it is kept as it is (it holds the
// instance's configuration, which the upgrade converts later) and only a missing one is
// copied from the template.
//
// Results: 0; kBadArgument (bad name, empty directory, unknown kind); kTemplateMissing;
// kSystemError or kRegistryUnreachable when a step fails, or the read error of an updated
// instance's QZ7INSTPROF that cannot be read (then nothing is changed). On failure everything
// the call did is taken back: created directories removed, a replaced qz7systm restored, the
// registry key of a new instance removed, an updated instance's old QZ7INSTPROF restored (or
// removed when it had none) and an added node "0" removed, a new service deleted, a
// re-pointed one restored.
[[nodiscard]] int CreateInstance(const InstanceCreateRequest& request);

// Drops the instance: its services (<name> and <name>-<node> for every registered node), its
// profile-registry key, and the directory tree instanceDir (quotes stripped). A null
// instanceDir means <QZ7INSTPROF>\<name> from the registry. The directory's last component
// must be the instance name, so that nothing else is ever removed.
// Results: 0 when every part that existed is gone; kNotFound when none existed; kBadArgument;
// kSystemError when some part could not be removed (the others are still removed).
[[nodiscard]] int DropInstance(const std::string& name, const char* instanceDir);

// True when name is an instance name: 1 to 8 characters, each in kPermittedCharset.
[[nodiscard]] bool IsValidInstanceName(const std::string& name);

}  // namespace qz7::host

#endif  // QZ7_HOST_INSTANCE_LIFECYCLE_H_
