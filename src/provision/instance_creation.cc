#include "provision/instance_creation.h"

#include <array>
#include <cstring>
#include <string>

#include "base/coding.h"
#include "base/dbm_block.h"
#include "base/dbm_fields.h"
#include "base/quoted_path.h"
#include "host/host_services.h"
#include "platform/file_system.h"
#include "platform/registry.h"
#include "provision/node_name.h"

namespace qz7::provision {
namespace {

using base::kDbmNodeTypeClient;
using base::kDbmNodeTypeNoLocalCopy;
using base::kDbmNodeTypePartitioned;
namespace dbm = base::dbm;

// The query-sentry heap of an instance whose computer has the query-sentry client.
constexpr uint32_t kQuerySentryHeapSize = 2048;

constexpr uint32_t kComponentValueSize = 256;

// True when the value exists and fits the 256-byte buffer.
bool CanReadValue(platform::RegKey key, const char* valueName) {
  std::array<unsigned char, kComponentValueSize> data{};
  uint32_t type = 0;
  uint32_t size = static_cast<uint32_t>(data.size());
  return platform::RegQueryValueExA(key, valueName, &type, data.data(), &size) == 0;
}

// Marks the installed components in block; true when something was stored.
bool StampComponents(unsigned char* block, uint16_t nodeType) {
  platform::RegKey key = nullptr;
  if (platform::RegOpenKeyExA(platform::LocalMachineKey(), kComponentsKey, 0,
                              platform::kKeyQueryValue, &key) != 0) {
    return false;
  }
  bool changed = false;
  // Servers that take part in distributed joins: every type but 0, client and type 5.
  if (nodeType != 0 && nodeType != kDbmNodeTypeClient && nodeType != kDbmNodeTypeNoLocalCopy &&
      CanReadValue(key, kDistributedJoinValue)) {
    base::StoreLE16(block + dbm::kDistributedJoin.offset, 1);
    changed = true;
  }
  if (CanReadValue(key, kQuerySentryValue)) {
    base::StoreLE32(block + dbm::kQuerySentryHeap.offset, kQuerySentryHeapSize);
    changed = true;
  }
  platform::RegCloseKey(key);
  return changed;
}

// The machine facts of a server instance. Returns 0 or a host service's error.
[[nodiscard]] int StampMachineFacts(unsigned char* block, uint16_t nodeType) {
  host::HostServices& host = host::Host();
  float speed = 0;
  int result = host.Cpum(&speed);
  if (result != 0) return result;
  base::StoreLEFloat(block + dbm::kProcessorSpeed.offset, speed);
  if (nodeType == kDbmNodeTypePartitioned) {
    float bandwidth = 0;
    result = host.GetCommBandwidth(&bandwidth);
    if (result != 0) return result;
    base::StoreLEFloat(block + dbm::kCommBandwidth.offset, bandwidth);
  }
  // Without a node name the template's own stays; that is not a failure of the stamping.
  std::array<char, kNodeNameSize> nodeName{};
  if (MakeDefaultNodeName(nodeName.data()) == 0) {
    std::memcpy(block + dbm::kNodeName.offset, nodeName.data(), std::strlen(nodeName.data()) + 1);
  }
  return 0;
}

}  // namespace

[[nodiscard]] int InitInstanceConfiguration(const char* configPath) {
  if (configPath == nullptr) return kConfigFileError;
  platform::FileHandle file = platform::OpenFile(configPath, "rb+");
  if (!file) return kConfigFileError;
  std::array<unsigned char, base::kDbmBlockSize> block{};
  if (file->Read(block.data(), block.size()) != block.size()) {
    file->Close();
    return kConfigFileError;
  }
  const uint16_t nodeType = base::LoadLE16(block.data() + dbm::kNodeType.offset);

  bool changed = StampComponents(block.data(), nodeType);
  if (nodeType != kDbmNodeTypeClient) {
    changed = true;
    const int result = StampMachineFacts(block.data(), nodeType);
    if (result != 0) {
      file->Close();
      return result;
    }
  }
  if (!changed) {
    file->Close();
    return 0;
  }

  base::StampDbmChecksum(block.data());
  if (file->Seek(0, platform::kSeekSet) != 0 ||
      file->Write(block.data(), block.size()) != block.size()) {
    file->Close();
    return kConfigFileError;
  }
  // The sync puts the block on the disk before a saved copy may be put back over it or the
  // caller relies on it; a close that cannot hand it over means nothing was stamped.
  const bool synced = file->Sync() == 0;
  return file->Close() == 0 && synced ? 0 : kConfigFileError;
}

[[nodiscard]] int CreateInstance(const char* name, const char* profileDir, const char* installDir,
                                 const char* account, const char* password, int kindCode,
                                 bool stamp) {
  host::HostServices& host = host::Host();
  // An instance that is already defined is updated by the creation. Dropping it after a failed
  // stamping would destroy an instance (and its databases) that this call did not make, so
  // only an instance that is new is taken back.
  std::string definedName = name != nullptr ? name : "";
  const bool existedBefore =
      !definedName.empty() &&
      host.PRegProfilePE(host::kProfileIsDefined, definedName.data(), -1) == 0;
  int result = host.InstanceCreateExtended(name, profileDir, installDir, 0, account, password, 0,
                                           kindCode, nullptr);
  if (result != 0) return result;

  host.PutEnv(host::kVarInstance, name);
  host.PutEnv(host::kVarInstanceProfile, profileDir);
  if (!stamp) return 0;

  // profileDir may come quoted: extend it by the quoted-path rule, strip for the file access.
  const std::string instanceDir =
      base::ExtendPath(profileDir ? profileDir : "", std::string("\\") + (name ? name : ""));
  const std::string configPath = base::ExtendPath(instanceDir, "\\qz7systm");
  result = InitInstanceConfiguration(base::StripQuotes(configPath.c_str()).c_str());
  if (result != 0 && !existedBefore) host.InstanceDrop(name, instanceDir.c_str());
  return result;
}

}  // namespace qz7::provision
