// The Windows service table, kept in <machine root>/services.txt:
//
//   ; comment lines start with ';' or '#'; blank lines are ignored
//   [QZ7]                                 a service, by its name
//   DisplayName="QZ7 - QZ7"
//   BinaryPathName="C:\\SQLLIB\\BIN\\qz7syscs.exe"
//   ServiceStartName=".\\qz7admin"
//   Password=set                         a password was given; the password itself is never
//                                        written anywhere
//   State=running                        what the service is doing: stopped (also when the
//                                        line is missing, as in files written before states
//                                        were kept), start-pending, stop-pending, running,
//                                        continue-pending, pause-pending or paused
//
// Texts are quoted as in registry.txt (\\ \" \n \r \t \xHH); a hand-written value without
// quotes is taken as it stands. Services appear in the order they were registered. A line
// that cannot be read is skipped and named as file:line in the machine root's damage report
// (posix::StoreDamageReport), never on the terminal; the next rewrite keeps its text as a comment
// (";? ...") so that nothing written by hand is silently lost. A file that is there but holds
// nothing this format can read (empty, a NUL byte, or not one readable service or field among
// lines that are not comments) is a damaged table, not an empty one: every operation then
// fails with kErrorRegistryCorrupt, as on Windows, where the service table is part of the
// registry. Only a missing file is an empty table.
//
// The file is read and parsed only when it changed since this process last read or wrote it
// (text_store.h); every change takes the current table under the store lock, changes it and
// replaces the whole file once, durably. A service handle names its service and keeps its
// access rights.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/backend.h"
#include "platform/computer.h"
#include "platform/machine_root.h"
#include "platform/posix/text_store.h"
#include "platform/services.h"
#include "platform/win_error.h"

namespace qz7::platform {

struct ServiceHandleObject {
  bool isManager;
  std::string name;  // the service's name as registered; empty for the manager
  uint32_t access;
};

}  // namespace qz7::platform

namespace qz7::platform::backend {
namespace {

using posix::EqualNoCase;

// What every service of the table is: its own process, started automatically, normal error
// handling. The table does not keep these; no caller changes them.
constexpr uint32_t kServiceWin32OwnProcess = 0x10;
constexpr uint32_t kServiceAutoStart = 2;
constexpr uint32_t kServiceErrorNormal = 1;
constexpr uint32_t kErrorServiceMarkedForDelete = 1072;
constexpr uint32_t kErrorInvalidServiceName = kErrorInvalidName;
constexpr uint32_t kErrorRemoteMachine = 1722;  // RPC_S_SERVER_UNAVAILABLE

struct ServiceRecord {
  std::string name;
  std::string displayName;
  std::string binaryPathName;
  std::string serviceStartName;
  bool passwordSet = false;
  std::vector<std::string> unreadableLines;  // kept as comments on the next rewrite
  uint32_t state = kServiceStopped;
};

// The State= words, indexed by state - 1.
constexpr const char* kStateNames[] = {"stopped", "start-pending",    "stop-pending",
                                       "running", "continue-pending", "pause-pending",
                                       "paused"};

// The state a State= word names; 0 when it names none.
uint32_t StateNamed(std::string_view word) {
  for (uint32_t i = 0; i < std::size(kStateNames); ++i) {
    if (EqualNoCase(word, kStateNames[i])) return i + 1;
  }
  return 0;
}

// The whole table; unreadableLines holds what could not be read outside of any service.
struct ServiceTable {
  std::vector<ServiceRecord> services;
  std::vector<std::string> unreadableLines;
};

std::string ServicesFile() { return MachineRoot() + "/services.txt"; }

ServiceRecord* FindService(ServiceTable& table, std::string_view name) {
  for (auto& service : table.services) {
    if (EqualNoCase(service.name, name)) return &service;
  }
  return nullptr;
}
const ServiceRecord* FindService(const ServiceTable& table, std::string_view name) {
  return FindService(const_cast<ServiceTable&>(table), name);
}

bool IsValidServiceName(const char* name) {
  if (name == nullptr || *name == '\0' || std::strlen(name) > 256) return false;
  for (const char* c = name; *c != '\0'; ++c) {
    auto byte = static_cast<unsigned char>(*c);
    if (byte < 0x20 || *c == '/' || *c == '\\' || *c == '[' || *c == ']') return false;
  }
  return true;
}

// Builds the table from the content of the file at hostPath.
uint32_t LoadServices(const std::string& hostPath, const std::string& content,
                      ServiceTable* table) {
  std::vector<std::string> damage;
  int readable = 0;
  bool anyText = false;
  ServiceRecord* current = nullptr;
  // A line that cannot be read is kept, marked, where it stood, and named in the damage
  // report; nothing is said on the caller's terminal about it.
  auto skip = [&](int number, std::string_view text, const std::string& reason) {
    damage.push_back(hostPath + ":" + std::to_string(number) + ": " + reason);
    (current != nullptr ? current->unreadableLines : table->unreadableLines).emplace_back(text);
  };
  if (uint32_t refused = posix::RefuseBinaryStore(hostPath, content); refused != 0) return refused;
  for (const auto& line : posix::SplitStoreLines(content)) {
    std::string_view text = posix::TrimBlanks(line.text);
    if (!text.empty()) anyText = true;
    if (text.size() > 2 && text.substr(0, 2) == ";?") {
      // Unreadable when the file was last rewritten; kept again.
      skip(line.number, posix::TrimBlanks(text.substr(2)), "kept unreadable line");
      continue;
    }
    if (text.empty() || text.front() == ';' || text.front() == '#') continue;
    if (text.front() == '[') {
      current = nullptr;
      if (text.back() != ']' || text.size() < 3) {
        skip(line.number, text, "malformed service header");
        continue;
      }
      std::string name(text.substr(1, text.size() - 2));
      current = FindService(*table, name);
      if (current == nullptr) {
        table->services.push_back({name, name, "", "LocalSystem", false, {}, kServiceStopped});
        current = &table->services.back();
      }
      ++readable;
      continue;
    }
    if (current == nullptr) {
      skip(line.number, text, "field outside of a readable service");
      continue;
    }
    size_t equals = text.find('=');
    if (equals == std::string_view::npos) {
      skip(line.number, text, "'=' expected");
      continue;
    }
    std::string_view field = posix::TrimBlanks(text.substr(0, equals));
    std::string_view rest = posix::TrimBlanks(text.substr(equals + 1));
    std::string value;
    if (!rest.empty() && rest.front() == '"') {
      if (!posix::ParseStoreText(&rest, &value) || !posix::TrimBlanks(rest).empty()) {
        skip(line.number, text, "malformed quoted text");
        continue;
      }
    } else {
      value = std::string(rest);
    }
    ++readable;
    if (EqualNoCase(field, "DisplayName")) {
      current->displayName = value;
    } else if (EqualNoCase(field, "BinaryPathName")) {
      current->binaryPathName = value;
    } else if (EqualNoCase(field, "ServiceStartName")) {
      current->serviceStartName = value;
    } else if (EqualNoCase(field, "Password")) {
      current->passwordSet = EqualNoCase(value, "set");
    } else if (EqualNoCase(field, "State") && StateNamed(value) != 0) {
      current->state = StateNamed(value);
    } else {
      --readable;
      skip(line.number, text, "unknown field '" + std::string(field) + "'");
    }
  }
  static constexpr posix::StoreDamageTexts kTexts = {
      .emptyFile = "empty file: a service table is never written empty",
      .nothingReadable = "not one service or field could be read"};
  return posix::FinishStoreLoad(hostPath, kTexts, anyText, readable, std::move(damage));
}

posix::StoreCache<ServiceTable>& Cache() {
  static posix::StoreCache<ServiceTable> cache(LoadServices);
  return cache;
}

// The table as its file holds it now. 0 or the Windows error.
uint32_t CurrentServices(std::shared_ptr<const ServiceTable>* table) {
  return Cache().Current(ServicesFile(), table);
}

uint32_t SaveServices(const ServiceTable& table, posix::StoreStamp* written,
                      const posix::StoreStamp* replaced) {
  std::string text =
      "; Windows services of this machine, in registration order. Passwords are never kept;\n"
      "; Password=set only records that one was given. Lines marked \";?\" could not be\n"
      "; read and are kept as they were found.\n";
  for (const auto& line : table.unreadableLines) text += ";? " + line + "\n";
  for (const auto& service : table.services) {
    text += "\n[" + service.name + "]\n";
    text += "DisplayName=" + posix::QuoteStoreText(service.displayName) + "\n";
    text += "BinaryPathName=" + posix::QuoteStoreText(service.binaryPathName) + "\n";
    text += "ServiceStartName=" + posix::QuoteStoreText(service.serviceStartName) + "\n";
    if (service.passwordSet) text += "Password=set\n";
    // A stopped service writes no state, so that the file reads as before states were kept.
    if (service.state != kServiceStopped) {
      text += std::string("State=") + kStateNames[service.state - 1] + "\n";
    }
    for (const auto& line : service.unreadableLines) text += ";? " + line + "\n";
  }
  // Made durable by the flush of the registry beside it or by SyncFileSystem.
  return posix::ReplaceTextStore(ServicesFile(), text, written, replaced);
}

// Runs change on the current table under the store lock and writes it back when it
// succeeded. Returns the Windows error, 0 on success.
template <typename Change>
uint32_t ChangeServices(Change change) {
  const std::string file = ServicesFile();
  posix::TextStoreLock lock(file);
  if (lock.error() != kErrorSuccess) return lock.error();
  std::shared_ptr<ServiceTable> table;
  posix::StoreStamp stamp;
  if (uint32_t error = Cache().Take(file, &table, &stamp); error != kErrorSuccess) return error;
  if (uint32_t error = change(*table); error != kErrorSuccess) {
    // Every change checks before it changes anything: the table is still the file's.
    Cache().Put(file, std::move(table), stamp, /*written=*/false);
    return error;
  }
  posix::StoreStamp written;
  if (uint32_t error = SaveServices(*table, &written, &stamp); error != kErrorSuccess) return error;
  Cache().Put(file, std::move(table), written, /*written=*/true);
  return kErrorSuccess;
}

bool Fail(uint32_t error) {
  SetLastError(error);
  return false;
}

bool IsServiceHandle(ScHandle handle) { return handle != nullptr && !handle->isManager; }

// True when machineName is absent, empty, or this computer's own name (with or without the
// leading backslashes).
bool IsThisComputer(const char* machineName) {
  if (machineName == nullptr || *machineName == '\0') return true;
  std::string_view wanted = machineName;
  while (!wanted.empty() && wanted.front() == '\\') wanted.remove_prefix(1);
  char own[256];
  uint32_t size = sizeof own;
  if (!GetComputerNameA(own, &size)) return false;
  return EqualNoCase(wanted, own);
}

}  // namespace

ScHandle OpenSCManagerA(const char* machineName, const char* /*databaseName*/, uint32_t access) {
  if (!IsThisComputer(machineName)) {
    SetLastError(kErrorRemoteMachine);
    return nullptr;
  }
  return new ServiceHandleObject{true, "", access};
}

ScHandle OpenServiceA(ScHandle manager, const char* serviceName, uint32_t access) {
  if (manager == nullptr || !manager->isManager) {
    SetLastError(kErrorInvalidHandle);
    return nullptr;
  }
  if (!IsValidServiceName(serviceName)) {
    SetLastError(kErrorInvalidServiceName);
    return nullptr;
  }
  std::shared_ptr<const ServiceTable> table;
  if (uint32_t error = CurrentServices(&table); error != kErrorSuccess) {
    SetLastError(error);
    return nullptr;
  }
  const ServiceRecord* service = FindService(*table, serviceName);
  if (service == nullptr) {
    SetLastError(kErrorServiceDoesNotExist);
    return nullptr;
  }
  return new ServiceHandleObject{false, service->name, access};
}

ScHandle CreateServiceA(ScHandle manager, const char* serviceName, const char* displayName,
                        const char* binaryPathName, const char* serviceStartName,
                        const char* password) {
  if (manager == nullptr || !manager->isManager) {
    SetLastError(kErrorInvalidHandle);
    return nullptr;
  }
  if (!IsValidServiceName(serviceName)) {
    SetLastError(kErrorInvalidServiceName);
    return nullptr;
  }
  if (binaryPathName == nullptr || *binaryPathName == '\0') {
    SetLastError(kErrorInvalidParameter);
    return nullptr;
  }
  ServiceRecord record{
      serviceName,
      displayName != nullptr && *displayName != '\0' ? displayName : serviceName,
      binaryPathName,
      serviceStartName != nullptr && *serviceStartName != '\0' ? serviceStartName : "LocalSystem",
      password != nullptr && *password != '\0',
      {},
      kServiceStopped};
  uint32_t error = ChangeServices([&](ServiceTable& table) -> uint32_t {
    if (FindService(table, serviceName) != nullptr) return kErrorServiceExists;
    table.services.push_back(record);
    return kErrorSuccess;
  });
  if (error != kErrorSuccess) {
    SetLastError(error);
    return nullptr;
  }
  return new ServiceHandleObject{false, record.name, kServiceAllAccess};
}

bool DeleteService(ScHandle service) {
  if (!IsServiceHandle(service)) return Fail(kErrorInvalidHandle);
  if ((service->access & kDelete) == 0) return Fail(kErrorAccessDenied);
  uint32_t error = ChangeServices([&](ServiceTable& table) -> uint32_t {
    ServiceRecord* record = FindService(table, service->name);
    if (record == nullptr) return kErrorServiceMarkedForDelete;
    table.services.erase(table.services.begin() + (record - table.services.data()));
    return kErrorSuccess;
  });
  return error == kErrorSuccess ? true : Fail(error);
}

bool ChangeServiceConfigA(ScHandle service, const char* binaryPathName,
                          const char* serviceStartName, const char* password,
                          const char* displayName) {
  if (!IsServiceHandle(service)) return Fail(kErrorInvalidHandle);
  if ((service->access & kServiceChangeConfig) == 0) return Fail(kErrorAccessDenied);
  uint32_t error = ChangeServices([&](ServiceTable& table) -> uint32_t {
    ServiceRecord* record = FindService(table, service->name);
    if (record == nullptr) return kErrorServiceMarkedForDelete;
    if (binaryPathName != nullptr) record->binaryPathName = binaryPathName;
    if (serviceStartName != nullptr) record->serviceStartName = serviceStartName;
    if (password != nullptr) record->passwordSet = *password != '\0';
    if (displayName != nullptr) record->displayName = displayName;
    return kErrorSuccess;
  });
  return error == kErrorSuccess ? true : Fail(error);
}

bool QueryServiceConfigA(ScHandle service, QueryServiceConfig* config, uint32_t bufferSize,
                         uint32_t* bytesNeeded) {
  if (!IsServiceHandle(service)) return Fail(kErrorInvalidHandle);
  if (bytesNeeded == nullptr) return Fail(kErrorInvalidParameter);
  if ((service->access & kServiceQueryConfig) == 0) return Fail(kErrorAccessDenied);
  std::shared_ptr<const ServiceTable> table;
  if (uint32_t error = CurrentServices(&table); error != kErrorSuccess) return Fail(error);
  const ServiceRecord* record = FindService(*table, service->name);
  if (record == nullptr) return Fail(kErrorServiceMarkedForDelete);
  // The texts follow the struct: program, load-order group (empty), dependencies (an empty
  // list: two NULs), logon account, display name.
  uint32_t needed =
      static_cast<uint32_t>(sizeof(QueryServiceConfig) + record->binaryPathName.size() + 1 + 1 + 2 +
                            record->serviceStartName.size() + 1 + record->displayName.size() + 1);
  *bytesNeeded = needed;
  if (config == nullptr || bufferSize < needed) return Fail(kErrorInsufficientBuffer);
  char* text = reinterpret_cast<char*>(config) + sizeof(QueryServiceConfig);
  auto place = [&text](std::string_view value, size_t terminators) {
    char* start = text;
    std::memcpy(text, value.data(), value.size());
    text += value.size();
    for (size_t i = 0; i < terminators; ++i) *text++ = '\0';
    return start;
  };
  config->serviceType = kServiceWin32OwnProcess;
  config->startType = kServiceAutoStart;
  config->errorControl = kServiceErrorNormal;
  config->tagId = 0;
  config->binaryPathName = place(record->binaryPathName, 1);
  config->loadOrderGroup = place("", 1);
  config->dependencies = place("", 2);
  config->serviceStartName = place(record->serviceStartName, 1);
  config->displayName = place(record->displayName, 1);
  return true;
}

bool QueryServiceStatus(ScHandle service, uint32_t* currentState) {
  if (!IsServiceHandle(service)) return Fail(kErrorInvalidHandle);
  if (currentState == nullptr) return Fail(kErrorInvalidParameter);
  if ((service->access & kServiceQueryStatus) == 0) return Fail(kErrorAccessDenied);
  std::shared_ptr<const ServiceTable> table;
  if (uint32_t error = CurrentServices(&table); error != kErrorSuccess) return Fail(error);
  const ServiceRecord* record = FindService(*table, service->name);
  if (record == nullptr) return Fail(kErrorServiceMarkedForDelete);
  *currentState = record->state;
  return true;
}

bool CloseServiceHandle(ScHandle handle) {
  if (handle == nullptr) return Fail(kErrorInvalidHandle);
  delete handle;
  return true;
}

}  // namespace qz7::platform::backend
