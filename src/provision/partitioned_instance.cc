#include "provision/partitioned_instance.h"

#include <array>
#include <cstdint>

#include "base/fixed_text.h"
#include "base/quoted_path.h"
#include "host/host_services.h"
#include "platform/computer.h"
#include "platform/registry.h"

namespace qz7::provision {
namespace {

namespace p = qz7::platform;

constexpr size_t kServiceWorkSize = 512;

// This computer's name, or an empty text when it cannot be had (or does not fit).
std::array<char, kComputerNameSize> ComputerName() {
  std::array<char, kComputerNameSize> name{};
  uint32_t size = static_cast<uint32_t>(name.size());
  if (!p::GetComputerNameA(name.data(), &size)) name[0] = '\0';
  return name;
}

// Closes a registry key when it goes.
class OpenKey {
 public:
  OpenKey() = default;
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  ~OpenKey() {
    if (key_ != nullptr) p::RegCloseKey(key_);
  }
  p::RegKey* receive() { return &key_; }
  p::RegKey get() const { return key_; }

 private:
  p::RegKey key_ = nullptr;
};

}  // namespace

std::string ShareNameOf(const char* instanceName) {
  std::string share = kShareNamePrefix;
  if (instanceName != nullptr) share += instanceName;
  return share;
}

[[nodiscard]] int ShareProfileDirectory(const char* profileDir, const std::string& shareName) {
  host::HostServices& host = host::Host();
  const std::array<char, kComputerNameSize> computer = ComputerName();
  // The share usually does not exist; one left by an earlier installation would make the
  // creation fail.
  host.DeleteNetworkShare(shareName.c_str(), computer.data());
  const std::string directory = base::StripQuotes(profileDir);
  return host.CreateNetworkShare(directory.c_str(), shareName.c_str(), kShareGroup,
                                 computer.data());
}

void RepointNodeServices(const char* instanceName, const char* installDir) {
  const std::string name = instanceName != nullptr ? instanceName : "";
  const std::string nodesKey = std::string(kProfilesRegistryKey) + "\\" + name + "\\NODES";
  OpenKey key;
  if (p::RegOpenKeyExA(p::LocalMachineKey(), nodesKey.c_str(), 0, p::kKeyRead, key.receive()) !=
      0) {
    return;
  }
  // installDir without its quotes, then \bin\qz7syscs.exe, quoted again when installDir was.
  const std::string program = base::ExtendPath(installDir != nullptr ? installDir : "",
                                               std::string("\\bin\\") + kNodeServiceProgram);
  host::HostServices& host = host::Host();
  for (uint32_t index = 0;; ++index) {
    std::array<char, kServiceNameSize> node{};
    uint32_t length = static_cast<uint32_t>(node.size());
    if (p::RegEnumKeyExA(key.get(), index, node.data(), &length) != 0) break;
    base::FixedText<kServiceNameSize> service = (name + "-" + node.data()).c_str();
    std::array<char, kServiceWorkSize> work{};
    host.ChangeNTServiceConfig(service.c_str(), 0, -1, -1, -1, program.c_str(), nullptr, nullptr,
                               nullptr, nullptr, nullptr, 0, work.data());
  }
}

}  // namespace qz7::provision
