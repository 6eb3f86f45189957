// Windows services and network shares of the stand-in runtime, over the platform's service
// table and registry. Service functions return Windows error codes (1060 when the service
// does not exist, 1073 when it exists already).
#ifndef QZ7_HOST_SERVICE_TABLE_H_
#define QZ7_HOST_SERVICE_TABLE_H_

#include <cstdint>
#include <string>

#include "platform/network_shares.h"

namespace qz7::host {

struct ServiceConfig {
  std::string program;
  std::string account;
};

// A null account or password is passed on as null (the service table's default logon).
[[nodiscard]] uint32_t RegisterService(const std::string& name, const std::string& displayName,
                                       const std::string& program, const char* account,
                                       const char* password);
[[nodiscard]] uint32_t DeleteServiceNamed(const std::string& name);
// Null texts leave their field as it is.
[[nodiscard]] uint32_t ChangeServiceNamed(const std::string& name, const char* program,
                                          const char* account, const char* password);
[[nodiscard]] uint32_t QueryServiceNamed(const std::string& name, ServiceConfig* config);

// Network shares, through the platform's share calls (NetShareAdd and its kin): a folder shared
// with the group "Everyone", the access a share made without a security descriptor gives.
constexpr const char* kSharesKey = platform::kSharesKey;  // where Windows keeps them
constexpr const char* kEveryone = "Everyone";

struct ShareConfig {
  std::string path;
};

// Host result codes: kBadArgument (empty or malformed name or directory, or a group other than
// "Everyone"), kNotFound (the directory or share does not exist), kShareExists; any other
// failure of the system's share calls is passed on as the system's code (50 where the
// computer has no file server, as under Wine).
[[nodiscard]] int CreateShare(const std::string& directory, const std::string& shareName,
                              const std::string& group);
[[nodiscard]] int DeleteShare(const std::string& shareName);
[[nodiscard]] int QueryShare(const std::string& shareName, ShareConfig* share);

}  // namespace qz7::host

#endif  // QZ7_HOST_SERVICE_TABLE_H_
