// The Windows service table: name, program path, logon account (and display name), and the
// state each service is in (running, stopped, ...).
// Kept in <machine root>/services.txt, replaced atomically on every change.
// Functions return true/false or a handle; failures set the last error.
#ifndef QZ7_PLATFORM_SERVICES_H_
#define QZ7_PLATFORM_SERVICES_H_

#include <cstdint>

namespace qz7::platform {

struct ServiceHandleObject;  // defined by the backend
using ScHandle = ServiceHandleObject*;

constexpr uint32_t kScManagerAllAccess = 0xF003F;
constexpr uint32_t kScManagerConnect = 0x0001;
constexpr uint32_t kServiceQueryConfig = 0x0001;
constexpr uint32_t kServiceChangeConfig = 0x0002;
constexpr uint32_t kServiceQueryStatus = 0x0004;
constexpr uint32_t kServiceAllAccess = 0xF01FF;
constexpr uint32_t kDelete = 0x10000;
constexpr uint32_t kServiceNoChange = 0xFFFFFFFF;

// QUERY_SERVICE_CONFIGA: the text pointers point into the caller's buffer behind the struct.
struct QueryServiceConfig {
  uint32_t serviceType;
  uint32_t startType;
  uint32_t errorControl;
  char* binaryPathName;
  char* loadOrderGroup;
  uint32_t tagId;
  char* dependencies;
  char* serviceStartName;
  char* displayName;
};

// SERVICE_STATUS.dwCurrentState: what a service is doing.
constexpr uint32_t kServiceStopped = 1;
constexpr uint32_t kServiceStartPending = 2;
constexpr uint32_t kServiceStopPending = 3;
constexpr uint32_t kServiceRunning = 4;
constexpr uint32_t kServiceContinuePending = 5;
constexpr uint32_t kServicePausePending = 6;
constexpr uint32_t kServicePaused = 7;

ScHandle OpenSCManagerA(const char* machineName, const char* databaseName, uint32_t access);
ScHandle OpenServiceA(ScHandle manager, const char* serviceName, uint32_t access);  // 1060
ScHandle CreateServiceA(ScHandle manager, const char* serviceName, const char* displayName,
                        const char* binaryPathName, const char* serviceStartName,
                        const char* password);  // 1073 when it exists
[[nodiscard]] bool DeleteService(ScHandle service);
// Null texts leave their field unchanged.
[[nodiscard]] bool ChangeServiceConfigA(ScHandle service, const char* binaryPathName,
                                        const char* serviceStartName, const char* password,
                                        const char* displayName);
// bufferSize too small: false, last error 122, bytesNeeded set.
[[nodiscard]] bool QueryServiceConfigA(ScHandle service, QueryServiceConfig* config,
                                       uint32_t bufferSize, uint32_t* bytesNeeded);
// QueryServiceStatus: the service's current state (one of the states above). Needs a handle
// opened with kServiceQueryStatus (else 5).
[[nodiscard]] bool QueryServiceStatus(ScHandle service, uint32_t* currentState);
bool CloseServiceHandle(ScHandle handle);

}  // namespace qz7::platform

#endif  // QZ7_PLATFORM_SERVICES_H_
