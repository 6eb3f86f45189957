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

// The predefined root; never closed.
RegKey LocalMachineKey();

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

// Key names are compared without regard to case; a subkey path uses "\" between names.
[[nodiscard]] long RegOpenKeyExA(RegKey parent, const char* subKey, uint32_t options,
                                 uint32_t access,
                                 RegKey* result);  // 2 when the key does not exist, 1015 when its
                                                   // stored header is damaged
[[nodiscard]] long RegCreateKeyExA(RegKey parent, const char* subKey, RegKey* result);
long RegCloseKey(RegKey key);
// Subkeys sorted by their upper-cased names; 259 (no more items) past the last, 234 when the
// name does not fit (nameLength in: buffer size, out: length without the NUL).
[[nodiscard]] long RegEnumKeyExA(RegKey key, uint32_t index, char* name, uint32_t* nameLength);
// Values in the order they were created; same codes as RegEnumKeyExA.
[[nodiscard]] long RegEnumValueA(RegKey key, uint32_t index, char* name, uint32_t* nameLength);
// data may be null to ask for the size; 234 when the buffer is too small (dataSize is then
// the size needed). REG_SZ data includes its terminating NUL. 2 when the value does not
// exist; 1015 (kErrorRegistryCorrupt) when its stored line is damaged and cannot be read.
[[nodiscard]] long RegQueryValueExA(RegKey key, const char* valueName, uint32_t* type,
                                    unsigned char* data, uint32_t* dataSize);
[[nodiscard]] long RegSetValueExA(RegKey key, const char* valueName, uint32_t type,
                                  const unsigned char* data, uint32_t dataSize);
[[nodiscard]] long RegDeleteValueA(RegKey key, const char* valueName);
// Deletes the subkey and everything below it.
[[nodiscard]] long RegDeleteTreeA(RegKey parent, const char* subKey);

}  // namespace qz7::platform

#endif  // QZ7_PLATFORM_REGISTRY_H_
