#include "entry/existing_instance_scan.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "base/coding.h"
#include "base/dbm_block.h"
#include "base/instance_index_layout.h"
#include "entry/setup_decisions.h"
#include "host/host_services.h"
#include "platform/computer.h"
#include "platform/file_system.h"
#include "platform/services.h"
#include "platform/win_error.h"
#include "platform/windows_path.h"

namespace qz7::entry {
namespace {

constexpr size_t kNameBufferSize = 256;
constexpr size_t kConfigTextOffset = 100;
constexpr size_t kConfigTextSize = 15;

// directory + "\" + name, as the files of an instance-profile directory are named (the
// directory never ends with a backslash: normalisation removes it).
std::string JoinHostPath(const char* directory, const char* name) {
  return std::string(directory) + "\\" + name;
}

// A read that failed for another reason than an unset variable or undefined instance.
bool ReadFailed(int result) { return result != 0 && result != host::kNotFound; }

// Reads a profile-registry variable by name for one instance; false when it is not there.
// A read that failed otherwise marks the scan (when given) as not knowing the registry.
bool ReadInstanceVariable(const char* instance, const char* variableName, char* value, size_t size,
                          ExistingInstanceScan* scan = nullptr) {
  value[0] = '\0';
  const int result = host::Host().PRegValuePE(host::kValueRead, 0, variableName, value, size,
                                              instance, host::kAnyNode);
  if (scan != nullptr && ReadFailed(result)) scan->unreadable = true;
  return result == 0;
}

// Reads a variable by number at the default level; the value counts only when it is a name
// of at most eight characters.
void ReadDefaultLevelName(ExistingInstanceScan& scan, int variable, char* name) {
  char value[kNameBufferSize] = {};
  name[0] = '\0';
  const int result = host::Host().PRegValuePE(host::kValueRead, variable, nullptr, value,
                                              sizeof value, nullptr, host::kAnyNode);
  if (ReadFailed(result)) scan.unreadable = true;
  if (result == 0 && std::strlen(value) <= 8) std::strcpy(name, value);
}

void ApplyDefaultRule(ExistingInstanceScan& scan) {
  if (scan.defaultIndex != -1) return;
  scan.defaultIndex = DefaultRecordIndex(scan.records.count(), scan.adminIndex);
}

// False when the profile registry cannot be pointed at the profile directory; discovery
// then ends without reading any configuration file.
bool DiscoverFromRegistry(ExistingInstanceScan& scan) {
  char computer[16] = {};
  uint32_t computerSize = 15;
  const bool computerKnown = platform::GetComputerNameA(computer, &computerSize);
  if (!computerKnown) computer[0] = '\0';

  host::HostServices& host = host::Host();
  char profileDir[262];
  std::memcpy(profileDir, scan.profileDir.c_str(), sizeof profileDir);
  // A profile directory that is not there holds no instances; one that could not be reached
  // for another reason may hold some.
  for (int op : {host::kProfileSetInstall, host::kProfileSetInstanceDir}) {
    const int pointed = host.PRegProfilePE(op, profileDir, host::kAnyNode);
    if (ReadFailed(pointed)) scan.unreadable = true;
    if (pointed != 0) return false;
  }

  char adminName[kNameBufferSize];
  char defaultName[kNameBufferSize];
  ReadDefaultLevelName(scan, host::kVarAdminServer, adminName);
  ReadDefaultLevelName(scan, host::kVarDefaultInstance, defaultName);

  char name[kNameBufferSize] = {};
  int rc = host.PRegProfilePE(host::kProfileFirst, name, host::kAnyNode);
  for (; rc == 0; rc = host.PRegProfilePE(host::kProfileNext, name, host::kAnyNode)) {
    name[kNameBufferSize - 1] = '\0';
    const int32_t index = AddScanRecord(scan, name);
    if (index < 0) break;
    char value[kNameBufferSize];
    if (ReadInstanceVariable(name, "QZ7PORTRANGE", value, sizeof value, &scan)) {
      // Without this computer's name the instance would seem another computer's.
      if (!computerKnown) scan.unreadable = true;
      char owner[kNameBufferSize];
      if (!ReadInstanceVariable(name, "QZ7INSTOWNER", owner, sizeof owner, &scan) ||
          !platform::NamesEqualIgnoreCase(owner, computer)) {
        SetOwnedElsewhere(scan.records[index], 1);
      }
    }
    if (platform::NamesEqualIgnoreCase(name, adminName)) {
      scan.adminIndex = index;
    } else if (platform::NamesEqualIgnoreCase(name, defaultName)) {
      scan.defaultIndex = index;
    }
  }
  // The list ends with its end; any other failure may have cut it short.
  if (rc != 0 && rc != host::kEndOfList && rc != host::kNotFound) scan.unreadable = true;
  ApplyDefaultRule(scan);
  return true;
}

bool IsDirectoryPath(const std::string& path) {
  platform::FileStatus status;
  return platform::GetFileStatus(path.c_str(), &status) == 0 && status.isDirectory;
}

void ReadConfigFile(ExistingInstanceScan& scan, InstanceRecord& record) {
  std::string path = JoinHostPath(
      JoinHostPath(scan.profileDir.c_str(), record.name.c_str()).c_str(), kConfigFileName);
  platform::FileHandle file = platform::OpenFile(path.c_str(), "rb");
  // An instance that an interrupted run moved already, but did not set up yet, is known by
  // its file in the new place: read as missing, a partitioned instance would be set up as
  // an ordinary one. That file may be upgraded already: it tells the instance's kind, not
  // the release the machine is upgraded from.
  bool moved = false;
  if (!file && !scan.movedToDir.empty() && platform::IsMissingError(platform::GetLastError()) &&
      !IsDirectoryPath(JoinHostPath(scan.profileDir.c_str(), record.name.c_str()))) {
    path = JoinHostPath(JoinHostPath(scan.movedToDir.c_str(), record.name.c_str()).c_str(),
                        kConfigFileName);
    file = platform::OpenFile(path.c_str(), "rb");
    moved = true;
  }
  // A file that is there but cannot be read would leave the instance's kind unknown: a
  // partitioned instance would be set up as an ordinary one.
  if (!file) {
    if (!platform::IsMissingError(platform::GetLastError())) scan.unreadable = true;
    return;
  }
  std::vector<unsigned char> block(base::kDbmBlockSize, 0);
  const size_t bytesRead = file->Read(block.data(), block.size());
  if (file->HasError()) scan.unreadable = true;
  file->Close();
  if (bytesRead >= 18 && !moved) {
    switch (base::LoadLE32(block.data() + base::kDbmVersionOffset) & 0xF00) {
      case 0x700:
        scan.priorRelease = kPriorReleaseIndexFile;
        break;
      case 0x800:
        scan.priorRelease = kPriorRelease800;
        break;
      case 0x900:
        scan.priorRelease = kPriorRelease900;
        break;
      default:
        break;
    }
  }
  if (bytesRead >= 42) SetNodeType(record, base::LoadLE16(block.data() + base::kDbmNodeTypeOffset));
  if (bytesRead >= kConfigTextOffset + kConfigTextSize) {
    char text[kConfigTextSize + 1] = {};
    std::memcpy(text, block.data() + kConfigTextOffset, kConfigTextSize);
    record.configText = text;
  }
}

// The service's logon account through the service control manager; any failure leaves the
// account as it was.
void ReadServiceAccount(InstanceRecord& record) {
  platform::ScHandle manager =
      platform::OpenSCManagerA(nullptr, nullptr, platform::kScManagerConnect);
  if (manager == nullptr) return;
  platform::ScHandle service =
      platform::OpenServiceA(manager, record.name.c_str(), platform::kServiceQueryConfig);
  if (service != nullptr) {
    uint32_t needed = 0;
    // The sizing call fails by design (no buffer); needed tells the size.
    static_cast<void>(platform::QueryServiceConfigA(service, nullptr, 0, &needed));
    if (needed >= sizeof(platform::QueryServiceConfig)) {
      std::vector<unsigned char> buffer(needed);
      auto* config = reinterpret_cast<platform::QueryServiceConfig*>(buffer.data());
      if (platform::QueryServiceConfigA(service, config, needed, &needed) &&
          config->serviceStartName != nullptr) {
        record.account = config->serviceStartName;
      }
    }
    platform::CloseServiceHandle(service);
  }
  platform::CloseServiceHandle(manager);
}

}  // namespace

int32_t AddScanRecord(ExistingInstanceScan& scan, const char* name) {
  InstanceRecord record;
  FillPlainRecord(record, nullptr, nullptr, nullptr);
  record.name = name;
  char profile[kNameBufferSize];
  if (ReadInstanceVariable(record.name.c_str(), "QZ7INSTPROF", profile, sizeof profile, &scan) &&
      !platform::NamesEqualIgnoreCase(profile, scan.profileDir.c_str())) {
    SetProfileDir(record, profile);
  }
  const int32_t index = scan.records.Append(record);
  if (index < 0) scan.listGrowthFailed = true;
  return index;
}

void ReadInstanceDirectoryFile(ExistingInstanceScan& scan) {
  const std::string path = JoinHostPath(scan.profileDir.c_str(), base::kInstanceIndexFileName);
  platform::FileHandle file = platform::OpenFile(path.c_str(), "rb");
  // An index file that is there but cannot be read would hide the instances it lists.
  if (!file) {
    if (!platform::IsMissingError(platform::GetLastError())) scan.unreadable = true;
    return;
  }
  unsigned char header[base::kInstanceIndexHeaderSize];
  const bool headerRead = file->Read(header, sizeof header) == sizeof header;
  const uint32_t count = headerRead ? base::LoadLE32(header + base::kInstanceIndexCountOffset) : 0;
  if (headerRead &&
      std::memcmp(header, base::kInstanceIndexSignature, base::kInstanceIndexSignatureSize) == 0 &&
      count != 0) {
    uint32_t entriesRead = 0;
    for (; entriesRead < count; ++entriesRead) {
      char entry[base::kInstanceIndexEntrySize + 1] = {};
      if (file->Read(entry, base::kInstanceIndexEntrySize) != base::kInstanceIndexEntrySize) break;
      if (AddScanRecord(scan, entry) < 0) break;
    }
    if (entriesRead == count && scan.records.count() == 1) scan.defaultIndex = 0;
  }
  if (file->HasError()) scan.unreadable = true;
  file->Close();
}

void ReadInstanceConfigs(ExistingInstanceScan& scan) {
  for (int32_t i = 0; i < scan.records.count(); ++i) {
    InstanceRecord& record = scan.records[i];
    if (record.ownedElsewhere != 0) {
      SetNodeType(record, kNodeTypePartitioned);
    } else {
      SetNodeType(record, kNodeTypeClient);
      ReadConfigFile(scan, record);
    }
    if (i == scan.adminIndex && !record.name.empty()) ReadServiceAccount(record);
  }
}

std::unique_ptr<ExistingInstanceScan> ScanExistingInstances(const char* currentProfileDir,
                                                            const char* movedToDir) {
  std::unique_ptr<ExistingInstanceScan> scan(new (std::nothrow) ExistingInstanceScan());
  if (!scan) return nullptr;
  std::string bare = currentProfileDir == nullptr ? "" : currentProfileDir;
  if (!bare.empty() && bare.front() == '"') bare.erase(0, 1);
  if (!bare.empty() && bare.back() == '"') bare.pop_back();
  scan->profileDir = bare.c_str();
  std::string moved = movedToDir == nullptr ? "" : movedToDir;
  if (!moved.empty() && moved.front() == '"') moved.erase(0, 1);
  if (!moved.empty() && moved.back() == '"') moved.pop_back();
  if (!platform::NamesEqualIgnoreCase(moved.c_str(), bare.c_str()))
    scan->movedToDir = moved.c_str();

  ReadInstanceDirectoryFile(*scan);
  if (scan->records.count() > 0) {
    scan->priorRelease = kPriorReleaseIndexFile;
    scan->fromIndexFile = true;
  } else if (!scan->profileDir.empty() && !DiscoverFromRegistry(*scan)) {
    return scan;
  }
  ReadInstanceConfigs(*scan);
  return scan;
}

}  // namespace qz7::entry
