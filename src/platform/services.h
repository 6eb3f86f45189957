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

}  // namespace qz7::platform

// The operations themselves are rows of the platform table.
#include "platform/platform_table.h"  // IWYU pragma: export

#endif  // QZ7_PLATFORM_SERVICES_H_
