// HKEY_LOCAL_MACHINE itself. A RegKey wraps the system's HKEY; the codes are the system's.
//
// Every key is opened in the registry's 32-bit view. The product's keys (SOFTWARE\ZAV\QZ7...)
// are where a 32-bit program writes them: on 64-bit Windows a 32-bit program's SOFTWARE is
// redirected to SOFTWARE\WOW6432Node. The 64-bit build asks for that view (KEY_WOW64_32KEY), so
// that the 32-bit and the 64-bit library, tools and setup programs see one product. Keys that
// are not redirected (SYSTEM\CurrentControlSet) are the same in both views, and a 32-bit
// program is in that view already, where the flag changes nothing.
#include <cstddef>

#include "platform/backend.h"
#include "platform/registry.h"
#include "platform/win32/windows_api.h"
#include "platform/win_error.h"

namespace qz7::platform {

struct RegistryKey {
  HKEY key;
};

namespace backend {
namespace {

RegistryKey localMachine{HKEY_LOCAL_MACHINE};

constexpr REGSAM kProductView = KEY_WOW64_32KEY;

// The registry calls return their code; the platform layer's last error follows it too.
long Result(LONG code) {
  if (code != ERROR_SUCCESS) SetLastError(static_cast<uint32_t>(code));
  return code;
}

bool Usable(RegKey key) { return key != nullptr && key->key != nullptr; }

}  // namespace

RegKey LocalMachineKey() { return &localMachine; }

long RegOpenKeyExA(RegKey parent, const char* subKey, uint32_t options, uint32_t access,
                   RegKey* result) {
  if (!Usable(parent) || result == nullptr) return Result(ERROR_INVALID_HANDLE);
  *result = nullptr;
  HKEY opened = nullptr;
  LONG code = ::RegOpenKeyExA(parent->key, subKey, options, access | kProductView, &opened);
  if (code != ERROR_SUCCESS) return Result(code);
  *result = new RegistryKey{opened};
  return ERROR_SUCCESS;
}

long RegCreateKeyExA(RegKey parent, const char* subKey, RegKey* result) {
  if (!Usable(parent) || result == nullptr || subKey == nullptr) {
    return Result(ERROR_INVALID_PARAMETER);
  }
  *result = nullptr;
  HKEY created = nullptr;
  LONG code = ::RegCreateKeyExA(parent->key, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_ALL_ACCESS | kProductView, nullptr, &created, nullptr);
  if (code != ERROR_SUCCESS) return Result(code);
  *result = new RegistryKey{created};
  return ERROR_SUCCESS;
}

long RegCloseKey(RegKey key) {
  if (key == &localMachine) return ERROR_SUCCESS;
  if (!Usable(key)) return Result(ERROR_INVALID_HANDLE);
  LONG code = ::RegCloseKey(key->key);
  delete key;
  return Result(code);
}

long RegEnumKeyExA(RegKey key, uint32_t index, char* name, uint32_t* nameLength) {
  if (!Usable(key) || name == nullptr || nameLength == nullptr) {
    return Result(ERROR_INVALID_PARAMETER);
  }
  DWORD length = *nameLength;
  LONG code = ::RegEnumKeyExA(key->key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
  *nameLength = length;
  return Result(code);
}

long RegEnumValueA(RegKey key, uint32_t index, char* name, uint32_t* nameLength) {
  if (!Usable(key) || name == nullptr || nameLength == nullptr) {
    return Result(ERROR_INVALID_PARAMETER);
  }
  DWORD length = *nameLength;
  LONG code = ::RegEnumValueA(key->key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
  *nameLength = length;
  return Result(code);
}

long RegQueryValueExA(RegKey key, const char* valueName, uint32_t* type, unsigned char* data,
                      uint32_t* dataSize) {
  if (!Usable(key)) return Result(ERROR_INVALID_HANDLE);
  DWORD valueType = 0;
  DWORD size = dataSize != nullptr ? *dataSize : 0;
  LONG code = ::RegQueryValueExA(key->key, valueName, nullptr, &valueType, data,
                                 dataSize != nullptr ? &size : nullptr);
  if (type != nullptr) *type = valueType;
  if (dataSize != nullptr) *dataSize = size;
  return Result(code);
}

long RegSetValueExA(RegKey key, const char* valueName, uint32_t type, const unsigned char* data,
                    uint32_t dataSize) {
  if (!Usable(key)) return Result(ERROR_INVALID_HANDLE);
  return Result(::RegSetValueExA(key->key, valueName, 0, type, data, dataSize));
}

long RegDeleteValueA(RegKey key, const char* valueName) {
  if (!Usable(key)) return Result(ERROR_INVALID_HANDLE);
  return Result(::RegDeleteValueA(key->key, valueName));
}

long RegDeleteTreeA(RegKey parent, const char* subKey) {
  if (!Usable(parent)) return Result(ERROR_INVALID_HANDLE);
  // Given a subkey, RegDeleteTree removes it with everything below it; given none, it empties
  // the parent and leaves it in place. A path is followed in the view of the handle it starts
  // from, and the root's handle has none: from the root, the key is opened in the product's view
  // first, emptied, and then removed in that view.
  if (subKey == nullptr || *subKey == '\0' || parent != &localMachine) {
    return Result(::RegDeleteTreeA(parent->key, subKey));
  }
  HKEY opened = nullptr;
  LONG code = ::RegOpenKeyExA(parent->key, subKey, 0, KEY_ALL_ACCESS | kProductView, &opened);
  if (code != ERROR_SUCCESS) return Result(code);
  code = ::RegDeleteTreeA(opened, nullptr);
  ::RegCloseKey(opened);
  if (code != ERROR_SUCCESS) return Result(code);
  return Result(::RegDeleteKeyExA(parent->key, subKey, kProductView, 0));
}

long RegFlushKey(RegKey key) {
  if (!Usable(key)) return Result(ERROR_INVALID_HANDLE);
  return Result(::RegFlushKey(key->key));
}

}  // namespace backend
}  // namespace qz7::platform
