#include "host/service_table.h"

#include <algorithm>
#include <vector>

#include "host/host_services.h"
#include "host/profile_registry.h"
#include "platform/file_system.h"
#include "platform/network_shares.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "platform/win_error.h"
#include "platform/windows_path.h"

namespace qz7::host {

namespace p = qz7::platform;

namespace {

uint32_t LastErrorOr(uint32_t fallback) {
  uint32_t error = p::GetLastError();
  return error != 0 ? error : fallback;
}

// The service manager and one service opened in it; both closed on destruction.
class OpenedService {
 public:
  OpenedService(const std::string& name, uint32_t access) {
    manager_ = p::OpenSCManagerA(nullptr, nullptr, p::kScManagerAllAccess);
    if (manager_ == nullptr) {
      error_ = LastErrorOr(p::kErrorAccessDenied);
      return;
    }
    service_ = p::OpenServiceA(manager_, name.c_str(), access);
    if (service_ == nullptr) error_ = LastErrorOr(p::kErrorServiceDoesNotExist);
  }
  OpenedService(const OpenedService&) = delete;
  OpenedService& operator=(const OpenedService&) = delete;
  ~OpenedService() {
    if (service_ != nullptr) p::CloseServiceHandle(service_);
    if (manager_ != nullptr) p::CloseServiceHandle(manager_);
  }

  p::ScHandle get() const { return service_; }
  uint32_t error() const { return error_; }

 private:
  p::ScHandle manager_ = nullptr;
  p::ScHandle service_ = nullptr;
  uint32_t error_ = 0;
};

}  // namespace

uint32_t RegisterService(const std::string& name, const std::string& displayName,
                         const std::string& program, const char* account, const char* password) {
  if (name.empty()) return p::kErrorInvalidName;
  p::ScHandle manager = p::OpenSCManagerA(nullptr, nullptr, p::kScManagerAllAccess);
  if (manager == nullptr) return LastErrorOr(p::kErrorAccessDenied);
  p::ScHandle service = p::CreateServiceA(manager, name.c_str(), displayName.c_str(),
                                          program.c_str(), account, password);
  uint32_t error = service == nullptr ? LastErrorOr(p::kErrorGenFailure) : 0;
  if (service != nullptr) p::CloseServiceHandle(service);
  p::CloseServiceHandle(manager);
  return error;
}

uint32_t DeleteServiceNamed(const std::string& name) {
  OpenedService service(name, p::kDelete);
  if (service.get() == nullptr) return service.error();
  return p::DeleteService(service.get()) ? 0 : LastErrorOr(p::kErrorGenFailure);
}

uint32_t ChangeServiceNamed(const std::string& name, const char* program, const char* account,
                            const char* password) {
  OpenedService service(name, p::kServiceChangeConfig);
  if (service.get() == nullptr) return service.error();
  return p::ChangeServiceConfigA(service.get(), program, account, password, nullptr)
             ? 0
             : LastErrorOr(p::kErrorGenFailure);
}

uint32_t QueryServiceNamed(const std::string& name, ServiceConfig* config) {
  OpenedService service(name, p::kServiceQueryConfig);
  if (service.get() == nullptr) return service.error();
  uint32_t needed = 0;
  if (!p::QueryServiceConfigA(service.get(), nullptr, 0, &needed) &&
      p::GetLastError() != p::kErrorInsufficientBuffer) {
    return LastErrorOr(p::kErrorGenFailure);
  }
  // The texts follow the record in the same buffer; keep it aligned for the record.
  size_t bytes = std::max<size_t>(needed, sizeof(p::QueryServiceConfig));
  std::vector<uint64_t> storage((bytes + sizeof(uint64_t) - 1) / sizeof(uint64_t));
  auto* record = reinterpret_cast<p::QueryServiceConfig*>(storage.data());
  if (!p::QueryServiceConfigA(service.get(), record,
                              static_cast<uint32_t>(storage.size() * sizeof(uint64_t)), &needed)) {
    return LastErrorOr(p::kErrorGenFailure);
  }
  config->program = record->binaryPathName != nullptr ? record->binaryPathName : "";
  config->account = record->serviceStartName != nullptr ? record->serviceStartName : "";
  return 0;
}

int CreateShare(const std::string& directory, const std::string& shareName,
                const std::string& group) {
  if (!IsValidProfileName(shareName) || directory.empty()) return kBadArgument;
  if (!group.empty() && !p::NamesEqualIgnoreCase(group, kEveryone)) return kBadArgument;
  p::FileStatus status;
  if (p::GetFileStatus(directory.c_str(), &status) != 0 || !status.isDirectory) return kNotFound;
  switch (uint32_t error = p::NetShareAdd(shareName.c_str(), directory.c_str())) {
    case 0:
      return 0;
    case p::kNerrDuplicateShare:
      return kShareExists;
    case p::kNerrUnknownDevDir:
      return kNotFound;
    default:
      return static_cast<int>(error);
  }
}

int DeleteShare(const std::string& shareName) {
  if (!IsValidProfileName(shareName)) return kBadArgument;
  uint32_t error = p::NetShareDel(shareName.c_str());
  if (error == p::kNerrNetNameNotFound) return kNotFound;
  return static_cast<int>(error);
}

int QueryShare(const std::string& shareName, ShareConfig* share) {
  if (!IsValidProfileName(shareName)) return kBadArgument;
  uint32_t error = p::NetShareGetInfo(shareName.c_str(), &share->path);
  if (error == p::kNerrNetNameNotFound) return kNotFound;
  return static_cast<int>(error);
}

}  // namespace qz7::host
