// Services through the Service Control Manager. A ScHandle wraps the system's SC_HANDLE.
#include <cstddef>

#include "platform/backend.h"
#include "platform/services.h"
#include "platform/win32/error_mapping.h"
#include "platform/win32/windows_api.h"
#include "platform/win_error.h"

namespace qz7::platform {

struct ServiceHandleObject {
  SC_HANDLE handle;
};

// The platform's record is QUERY_SERVICE_CONFIGA field for field, so the system fills it.
static_assert(sizeof(QueryServiceConfig) == sizeof(QUERY_SERVICE_CONFIGA));
static_assert(offsetof(QueryServiceConfig, binaryPathName) ==
              offsetof(QUERY_SERVICE_CONFIGA, lpBinaryPathName));
static_assert(offsetof(QueryServiceConfig, tagId) == offsetof(QUERY_SERVICE_CONFIGA, dwTagId));
static_assert(offsetof(QueryServiceConfig, displayName) ==
              offsetof(QUERY_SERVICE_CONFIGA, lpDisplayName));

namespace backend {
namespace {

ScHandle Wrap(SC_HANDLE handle) {
  if (handle == nullptr) {
    win32::SetLastErrorFromSystem();
    return nullptr;
  }
  return new ServiceHandleObject{handle};
}

bool Usable(ScHandle handle) {
  if (handle != nullptr && handle->handle != nullptr) return true;
  win32::Fail(kErrorInvalidHandle);
  return false;
}

bool Succeeded(BOOL ok) {
  if (!ok) win32::SetLastErrorFromSystem();
  return ok != FALSE;
}

}  // namespace

ScHandle OpenSCManagerA(const char* machineName, const char* databaseName, uint32_t access) {
  return Wrap(::OpenSCManagerA(machineName, databaseName, access));
}

ScHandle OpenServiceA(ScHandle manager, const char* serviceName, uint32_t access) {
  if (!Usable(manager)) return nullptr;
  return Wrap(::OpenServiceA(manager->handle, serviceName, access));
}

ScHandle CreateServiceA(ScHandle manager, const char* serviceName, const char* displayName,
                        const char* binaryPathName, const char* serviceStartName,
                        const char* password) {
  if (!Usable(manager)) return nullptr;
  return Wrap(::CreateServiceA(manager->handle, serviceName, displayName, SERVICE_ALL_ACCESS,
                               SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                               SERVICE_ERROR_NORMAL, binaryPathName, nullptr, nullptr, nullptr,
                               serviceStartName, password));
}

bool DeleteService(ScHandle service) {
  return Usable(service) && Succeeded(::DeleteService(service->handle));
}

bool ChangeServiceConfigA(ScHandle service, const char* binaryPathName,
                          const char* serviceStartName, const char* password,
                          const char* displayName) {
  return Usable(service) &&
         Succeeded(::ChangeServiceConfigA(service->handle, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                          SERVICE_NO_CHANGE, binaryPathName, nullptr, nullptr,
                                          nullptr, serviceStartName, password, displayName));
}

bool QueryServiceConfigA(ScHandle service, QueryServiceConfig* config, uint32_t bufferSize,
                         uint32_t* bytesNeeded) {
  if (!Usable(service)) return false;
  DWORD needed = 0;
  bool ok = Succeeded(::QueryServiceConfigA(
      service->handle, reinterpret_cast<QUERY_SERVICE_CONFIGA*>(config), bufferSize, &needed));
  if (bytesNeeded != nullptr) *bytesNeeded = needed;
  return ok;
}

bool QueryServiceStatus(ScHandle service, uint32_t* currentState) {
  if (!Usable(service)) return false;
  if (currentState == nullptr) {
    win32::Fail(kErrorInvalidParameter);
    return false;
  }
  SERVICE_STATUS status{};
  if (!Succeeded(::QueryServiceStatus(service->handle, &status))) return false;
  *currentState = status.dwCurrentState;
  return true;
}

bool CloseServiceHandle(ScHandle handle) {
  if (!Usable(handle)) return false;
  bool ok = Succeeded(::CloseServiceHandle(handle->handle));
  delete handle;
  return ok;
}

}  // namespace backend
}  // namespace qz7::platform
