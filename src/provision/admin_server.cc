#include "provision/admin_server.h"

#include <string>

#include "base/quoted_path.h"
#include "host/host_services.h"
#include "util/setup_files.h"

namespace qz7::provision {

[[nodiscard]] int CreateAdminServer(const char* name, const char* installDir,
                                    const char* targetProfileDir, const char* account,
                                    const char* password) {
  const std::string instanceName = name != nullptr ? name : "";
  const std::string instancePath =
      base::ExtendPath(targetProfileDir != nullptr ? targetProfileDir : "", "\\" + instanceName);
  host::HostServices& host = host::Host();
  // An administration server that is already defined, or whose directory is already there, is
  // updated by the creation; dropping it after a failed registry write would destroy what
  // this call did not make (its directory, its registry entry, its service), so only one that
  // is new is taken back.
  std::string definedName = instanceName;
  const bool existedBefore =
      (!definedName.empty() &&
       host.PRegProfilePE(host::kProfileIsDefined, definedName.data(), -1) == 0) ||
      util::IsDirectory(instancePath.c_str()) != 0;
  const int created = host.InstanceCreateExtended(name, targetProfileDir, installDir, 1, account,
                                                  password, 1, -1, nullptr);
  if (created != 0) return created;

  std::string value = instanceName;
  if (host.PRegValuePE(host::kValueWrite, host::kVarAdminServer, nullptr, value.data(),
                       value.size() + 1, nullptr, -1) != 0) {
    // A new administration server the registry does not name would be found by no one.
    if (!existedBefore) host.InstanceDrop(name, instancePath.c_str());
    return kAdminServerNotRecorded;
  }
  return 0;
}

}  // namespace qz7::provision
