#include "host/registry_access.h"

#include "platform/win_error.h"

namespace qz7::host {

namespace p = qz7::platform;

ScopedKey::~ScopedKey() {
  if (key_ != nullptr) p::RegCloseKey(key_);
}

p::RegKey* ScopedKey::receive() {
  if (key_ != nullptr) p::RegCloseKey(key_);
  key_ = nullptr;
  return &key_;
}

long OpenKey(const std::string& path, uint32_t access, ScopedKey* key) {
  return p::RegOpenKeyExA(p::LocalMachineKey(), path.c_str(), 0, access, key->receive());
}

long CreateKey(const std::string& path, ScopedKey* key) {
  return p::RegCreateKeyExA(p::LocalMachineKey(), path.c_str(), key->receive());
}

bool KeyExists(const std::string& path) {
  ScopedKey key;
  return OpenKey(path, p::kKeyQueryValue, &key) == p::kErrorSuccess;
}

long DeleteKeyTree(const std::string& path) {
  size_t cut = path.rfind('\\');
  if (cut == std::string::npos || cut + 1 == path.size())
    return static_cast<long>(p::kErrorInvalidParameter);
  ScopedKey parent;
  long status = OpenKey(path.substr(0, cut), p::kKeyAllAccess, &parent);
  if (status != p::kErrorSuccess) return status;
  return p::RegDeleteTreeA(parent.get(), path.c_str() + cut + 1);
}

long ReadText(p::RegKey key, const char* valueName, std::string* value) {
  uint32_t type = 0;
  uint32_t size = 0;
  long status = p::RegQueryValueExA(key, valueName, &type, nullptr, &size);
  if (status != p::kErrorSuccess && status != static_cast<long>(p::kErrorMoreData)) return status;
  if (type != p::kRegSz) return p::kErrorInvalidData;
  std::string data(size, '\0');
  status = p::RegQueryValueExA(key, valueName, &type, reinterpret_cast<unsigned char*>(data.data()),
                               &size);
  if (status != p::kErrorSuccess) return status;
  data.resize(size);
  while (!data.empty() && data.back() == '\0') data.pop_back();
  *value = data;
  return p::kErrorSuccess;
}

long WriteText(p::RegKey key, const char* valueName, const std::string& value) {
  return p::RegSetValueExA(key, valueName, p::kRegSz,
                           reinterpret_cast<const unsigned char*>(value.c_str()),
                           static_cast<uint32_t>(value.size() + 1));
}

long ListSubkeys(const std::string& path, std::vector<std::string>* names) {
  names->clear();
  ScopedKey key;
  long status = OpenKey(path, p::kKeyRead, &key);
  if (status != p::kErrorSuccess) return status;
  std::vector<char> buffer(256);
  uint32_t index = 0;
  while (true) {
    uint32_t length = static_cast<uint32_t>(buffer.size());
    status = p::RegEnumKeyExA(key.get(), index, buffer.data(), &length);
    if (status == static_cast<long>(p::kErrorMoreData) && buffer.size() < 65536) {
      buffer.resize(buffer.size() * 2);  // ask again for the same subkey
      continue;
    }
    if (status == static_cast<long>(p::kErrorNoMoreItems)) return p::kErrorSuccess;
    if (status != p::kErrorSuccess) return status;
    names->emplace_back(buffer.data(), length);
    ++index;
  }
}

}  // namespace qz7::host
