#include "provision/admin_server.h"

#include <string>

#include "base/quoted_path.h"
#include "host/host_services.h"

namespace qz7::provision {

[[nodiscard]] int CreateAdminServer(const char* name, const char* installDir,
                                    const char* targetProfileDir, const char* account,
                                    const char* password) {
  const std::string instanceName = name != nullptr ? name : "";
  const std::string instancePath =
      util::ExtendPath(targetProfileDir != nullptr ? targetProfileDir : "", "\\" + instanceName);
  host::HostServices& host = host::Host();
  const int created = host.InstanceCreateExtended(name, targetProfileDir, installDir, 1, account,
                                                  password, 1, -1, nullptr);
  if (created != 0) return created;

  std::string value = instanceName;
  if (host.PRegValuePE(host::kValueWrite, host::kVarAdminServer, nullptr, value.data(),
                       value.size() + 1, nullptr, -1) != 0) {
    // An administration server the registry does not name would be found by no one.
    host.InstanceDrop(name, instancePath.c_str());
    return kAdminServerNotRecorded;
  }
  return 0;
}

}  // namespace qz7::provision
