// Network shares of the machine root, kept as Windows keeps them: one REG_MULTI_SZ value per
// share under kSharesKey of the registry, its strings "Path=<folder>", "Permissions=0",
// "MaxUses=4294967295", "Remark=" and "Type=0" (a folder). Nothing is shared on the network;
// the value is what the rest of the machine (and a later NetShareGetInfo) sees of the share.
#include <cstring>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/network_shares.h"
#include "platform/registry.h"
#include "platform/win_error.h"

namespace qz7::platform::backend {
namespace {

constexpr uint32_t kRegMultiSz = 7;
constexpr const char* kPathEntry = "Path=";

uint32_t CheckName(const char* shareName) {
  if (shareName == nullptr || shareName[0] == '\0') return kErrorInvalidParameter;
  for (const char* c = shareName; *c != '\0'; ++c) {
    if (static_cast<unsigned char>(*c) < 32 || std::strchr("\\/[]:|<>+=;,?*\"", *c) != nullptr) {
      return kErrorInvalidName;
    }
  }
  return 0;
}

// The shares key, opened (created when asked and missing); the registry's error otherwise.
uint32_t OpenShares(bool create, RegKey* key) {
  long status = create ? backend::RegCreateKeyExA(backend::LocalMachineKey(), kSharesKey, key)
                       : backend::RegOpenKeyExA(backend::LocalMachineKey(), kSharesKey, 0,
                                                kKeyAllAccess, key);
  return static_cast<uint32_t>(status);
}

// The value of a share: its strings, each with its terminator, and the closing empty string.
std::string ShareValue(const std::string& path) {
  std::string value;
  for (const std::string& entry :
       {std::string("MaxUses=4294967295"), kPathEntry + path, std::string("Permissions=0"),
        std::string("Remark="), std::string("Type=0")}) {
    value += entry;
    value.push_back('\0');
  }
  value.push_back('\0');
  return value;
}

}  // namespace

uint32_t NetShareAdd(const char* shareName, const char* path) {
  if (uint32_t error = CheckName(shareName)) return error;
  if (path == nullptr || path[0] == '\0') return kErrorInvalidParameter;
  FileStatus status;
  if (backend::GetFileStatus(path, &status) != 0 || !status.isDirectory) return kNerrUnknownDevDir;
  RegKey key = nullptr;
  if (uint32_t error = OpenShares(true, &key)) return error;
  uint32_t error = 0;
  uint32_t size = 0;
  if (backend::RegQueryValueExA(key, shareName, nullptr, nullptr, &size) !=
      static_cast<long>(kErrorFileNotFound)) {
    error = kNerrDuplicateShare;
  } else {
    const std::string value = ShareValue(path);
    error = static_cast<uint32_t>(backend::RegSetValueExA(
        key, shareName, kRegMultiSz, reinterpret_cast<const unsigned char*>(value.data()),
        static_cast<uint32_t>(value.size())));
  }
  static_cast<void>(backend::RegCloseKey(key));
  return error;
}

uint32_t NetShareDel(const char* shareName) {
  if (uint32_t error = CheckName(shareName)) return error;
  RegKey key = nullptr;
  uint32_t error = OpenShares(false, &key);
  if (error == kErrorFileNotFound) return kNerrNetNameNotFound;
  if (error != 0) return error;
  error = static_cast<uint32_t>(backend::RegDeleteValueA(key, shareName));
  static_cast<void>(backend::RegCloseKey(key));
  return error == kErrorFileNotFound ? kNerrNetNameNotFound : error;
}

uint32_t NetShareGetInfo(const char* shareName, std::string* path) {
  if (uint32_t error = CheckName(shareName)) return error;
  if (path == nullptr) return kErrorInvalidParameter;
  RegKey key = nullptr;
  uint32_t error = OpenShares(false, &key);
  if (error == kErrorFileNotFound) return kNerrNetNameNotFound;
  if (error != 0) return error;
  uint32_t type = 0, size = 0;
  std::string value;
  error = static_cast<uint32_t>(backend::RegQueryValueExA(key, shareName, &type, nullptr, &size));
  if (error == 0) {
    value.resize(size);
    error = static_cast<uint32_t>(backend::RegQueryValueExA(
        key, shareName, &type, reinterpret_cast<unsigned char*>(value.data()), &size));
    value.resize(size);
  }
  static_cast<void>(backend::RegCloseKey(key));
  if (error == kErrorFileNotFound) return kNerrNetNameNotFound;
  if (error != 0) return error;
  if (type != kRegMultiSz) return kErrorInvalidData;
  // The strings up to the empty one that ends them; a share without a folder is damaged.
  for (size_t start = 0; start < value.size();) {
    size_t end = value.find('\0', start);
    if (end == std::string::npos) end = value.size();
    if (end == start) break;
    const std::string entry = value.substr(start, end - start);
    if (entry.compare(0, std::strlen(kPathEntry), kPathEntry) == 0) {
      *path = entry.substr(std::strlen(kPathEntry));
      return 0;
    }
    start = end + 1;
  }
  return kErrorInvalidData;
}

uint32_t NetShareEnum(std::vector<std::string>* names) {
  if (names == nullptr) return kErrorInvalidParameter;
  names->clear();
  RegKey key = nullptr;
  uint32_t error = OpenShares(false, &key);
  if (error == kErrorFileNotFound) return 0;  // no share was ever made
  if (error != 0) return error;
  for (uint32_t index = 0;; ++index) {
    char name[256];
    uint32_t length = sizeof name;
    const long status = backend::RegEnumValueA(key, index, name, &length);
    if (status == static_cast<long>(kErrorNoMoreItems)) break;
    if (status != 0) {
      error = static_cast<uint32_t>(status);
      break;
    }
    names->emplace_back(name, length);
  }
  static_cast<void>(backend::RegCloseKey(key));
  return error;
}

}  // namespace qz7::platform::backend
