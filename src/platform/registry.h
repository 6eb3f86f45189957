// HKEY_LOCAL_MACHINE of the Windows computer. On POSIX kept in <machine root>/registry.txt,
// read again whenever it changed and replaced atomically and durably on every change, so that
// separate processes see each other's writes; a file there that cannot be read at all is a
// damaged registry (1015), not an empty one. Functions return Windows error codes
// (0 = ERROR_SUCCESS).
#ifndef QZ7_PLATFORM_REGISTRY_H_
#define QZ7_PLATFORM_REGISTRY_H_

#include <cstdint>

namespace qz7::platform {

struct RegistryKey;  // defined by the backend
using RegKey = RegistryKey*;

constexpr uint32_t kKeyQueryValue = 0x0001;
constexpr uint32_t kKeySetValue = 0x0002;
constexpr uint32_t kKeyCreateSubKey = 0x0004;
constexpr uint32_t kKeyEnumerateSubKeys = 0x0008;
constexpr uint32_t kKeyRead = 0x20019;
constexpr uint32_t kKeyWrite = 0x20006;
constexpr uint32_t kKeyAllAccess = 0xF003F;

constexpr uint32_t kRegNone = 0;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;

}  // namespace qz7::platform

// The operations themselves are rows of the platform table.
#include "platform/platform_table.h"  // IWYU pragma: export

#endif  // QZ7_PLATFORM_REGISTRY_H_
