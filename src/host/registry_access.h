// Small helpers over the platform registry for the stand-in runtime: a key that closes
// itself, and text values and subkey lists by path below HKEY_LOCAL_MACHINE. All results are
// Windows error codes (0 success, 2 key or value missing).
#ifndef QZ7_HOST_REGISTRY_ACCESS_H_
#define QZ7_HOST_REGISTRY_ACCESS_H_

#include <string>
#include <vector>

#include "platform/registry.h"

namespace qz7::host {

class ScopedKey {
 public:
  ScopedKey() = default;
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;
  ~ScopedKey();

  qz7::platform::RegKey get() const { return key_; }
  qz7::platform::RegKey* receive();  // closes a held key and hands out the slot

 private:
  qz7::platform::RegKey key_ = nullptr;
};

[[nodiscard]] long OpenKey(const std::string& path, uint32_t access, ScopedKey* key);
[[nodiscard]] long CreateKey(const std::string& path, ScopedKey* key);
[[nodiscard]] bool KeyExists(const std::string& path);
// Removes the key at path with everything below it; 2 when it does not exist.
[[nodiscard]] long DeleteKeyTree(const std::string& path);

// A REG_SZ value without its terminator; 13 (invalid data) when the value has another type.
[[nodiscard]] long ReadText(qz7::platform::RegKey key, const char* valueName, std::string* value);
[[nodiscard]] long WriteText(qz7::platform::RegKey key, const char* valueName,
                             const std::string& value);

// The subkey names of the key at path, in the order the registry enumerates them (sorted by name
// without regard to case, as Windows does); a missing key gives 2.
[[nodiscard]] long ListSubkeys(const std::string& path, std::vector<std::string>* names);

}  // namespace qz7::host

#endif  // QZ7_HOST_REGISTRY_ACCESS_H_
