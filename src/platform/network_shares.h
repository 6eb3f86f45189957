// The computer's network shares, in the shape of NetShareAdd (level 2, a folder shared with
// the access a share without a security descriptor gives: everyone may connect), NetShareDel
// and NetShareGetInfo / NetShareEnum. Results are the system's codes: 0, or a Windows error
// or a network management code (NERR_*). On Windows these are the netapi32 calls; the POSIX
// backend keeps the shares of its machine root where Windows keeps them, as one value per
// share under kSharesKey of the registry.
#ifndef QZ7_PLATFORM_NETWORK_SHARES_H_
#define QZ7_PLATFORM_NETWORK_SHARES_H_

#include <cstdint>
#include <string>
#include <vector>

namespace qz7::platform {

// Where Windows keeps the shares: a REG_MULTI_SZ value per share name ("Path=C:\DIR", ...).
constexpr const char* kSharesKey = "SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Shares";

constexpr uint32_t kNerrUnknownDevDir = 2116;    // the folder to share does not exist
constexpr uint32_t kNerrDuplicateShare = 2118;   // a share of that name exists
constexpr uint32_t kNerrNetNameNotFound = 2310;  // no share of that name

}  // namespace qz7::platform

// The operations themselves (NetShareAdd, NetShareDel, NetShareGetInfo, NetShareEnum) are rows
// of the platform table.
#include "platform/platform_table.h"  // IWYU pragma: export

#endif  // QZ7_PLATFORM_NETWORK_SHARES_H_
