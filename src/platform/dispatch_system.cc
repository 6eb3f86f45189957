// The public registry, service, process, environment, computer, drive and log-descriptor
// operations: each counts itself at the fault seam, then calls the backend. An injected
// failure returns the operation's own failure result with the last error set; a close is
// still carried out (the handle is released) so that a failing close leaks nothing.
#include "platform/backend.h"
#include "platform/computer.h"
#include "platform/dispatch.h"
#include "platform/drives.h"
#include "platform/environment.h"
#include "platform/log_file.h"
#include "platform/network_shares.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "platform/win_error.h"

namespace qz7::platform {
namespace {

using dispatch::Enter;

uint32_t EnterRegistry() { return Enter(OperationKind::kRegistry); }
uint32_t EnterService() { return Enter(OperationKind::kService); }
uint32_t EnterProcess() { return Enter(OperationKind::kProcess); }
uint32_t EnterEnvironment() { return Enter(OperationKind::kEnvironment); }

}  // namespace

// ---- Registry ------------------------------------------------------------------------------

// The predefined root is a constant, not an operation.
RegKey LocalMachineKey() { return backend::LocalMachineKey(); }

long RegOpenKeyExA(RegKey parent, const char* subKey, uint32_t options, uint32_t access,
                   RegKey* result) {
  if (uint32_t error = EnterRegistry()) return static_cast<long>(error);
  return backend::RegOpenKeyExA(parent, subKey, options, access, result);
}

long RegCreateKeyExA(RegKey parent, const char* subKey, RegKey* result) {
  if (uint32_t error = EnterRegistry()) return static_cast<long>(error);
  return backend::RegCreateKeyExA(parent, subKey, result);
}

long RegCloseKey(RegKey key) {
  uint32_t error = EnterRegistry();
  long result = backend::RegCloseKey(key);
  return error != 0 ? static_cast<long>(error) : result;
}

long RegEnumKeyExA(RegKey key, uint32_t index, char* name, uint32_t* nameLength) {
  if (uint32_t error = EnterRegistry()) return static_cast<long>(error);
  return backend::RegEnumKeyExA(key, index, name, nameLength);
}

long RegEnumValueA(RegKey key, uint32_t index, char* name, uint32_t* nameLength) {
  if (uint32_t error = EnterRegistry()) return static_cast<long>(error);
  return backend::RegEnumValueA(key, index, name, nameLength);
}

long RegQueryValueExA(RegKey key, const char* valueName, uint32_t* type, unsigned char* data,
                      uint32_t* dataSize) {
  if (uint32_t error = EnterRegistry()) return static_cast<long>(error);
  return backend::RegQueryValueExA(key, valueName, type, data, dataSize);
}

long RegSetValueExA(RegKey key, const char* valueName, uint32_t type, const unsigned char* data,
                    uint32_t dataSize) {
  if (uint32_t error = EnterRegistry()) return static_cast<long>(error);
  return backend::RegSetValueExA(key, valueName, type, data, dataSize);
}

long RegDeleteValueA(RegKey key, const char* valueName) {
  if (uint32_t error = EnterRegistry()) return static_cast<long>(error);
  return backend::RegDeleteValueA(key, valueName);
}

long RegDeleteTreeA(RegKey parent, const char* subKey) {
  if (uint32_t error = EnterRegistry()) return static_cast<long>(error);
  return backend::RegDeleteTreeA(parent, subKey);
}

// ---- Services ------------------------------------------------------------------------------

ScHandle OpenSCManagerA(const char* machineName, const char* databaseName, uint32_t access) {
  if (EnterService() != 0) return nullptr;
  return backend::OpenSCManagerA(machineName, databaseName, access);
}

ScHandle OpenServiceA(ScHandle manager, const char* serviceName, uint32_t access) {
  if (EnterService() != 0) return nullptr;
  return backend::OpenServiceA(manager, serviceName, access);
}

ScHandle CreateServiceA(ScHandle manager, const char* serviceName, const char* displayName,
                        const char* binaryPathName, const char* serviceStartName,
                        const char* password) {
  if (EnterService() != 0) return nullptr;
  return backend::CreateServiceA(manager, serviceName, displayName, binaryPathName,
                                 serviceStartName, password);
}

bool DeleteService(ScHandle service) {
  if (EnterService() != 0) return false;
  return backend::DeleteService(service);
}

bool ChangeServiceConfigA(ScHandle service, const char* binaryPathName,
                          const char* serviceStartName, const char* password,
                          const char* displayName) {
  if (EnterService() != 0) return false;
  return backend::ChangeServiceConfigA(service, binaryPathName, serviceStartName, password,
                                       displayName);
}

bool QueryServiceConfigA(ScHandle service, QueryServiceConfig* config, uint32_t bufferSize,
                         uint32_t* bytesNeeded) {
  if (EnterService() != 0) return false;
  return backend::QueryServiceConfigA(service, config, bufferSize, bytesNeeded);
}

bool QueryServiceStatus(ScHandle service, uint32_t* currentState) {
  if (EnterService() != 0) return false;
  return backend::QueryServiceStatus(service, currentState);
}

bool CloseServiceHandle(ScHandle handle) {
  uint32_t error = EnterService();
  bool closed = backend::CloseServiceHandle(handle);
  if (error != 0) return SetLastError(error), false;
  return closed;
}

// ---- Network shares (counted with the services) ---------------------------------------------

uint32_t NetShareAdd(const char* shareName, const char* path) {
  if (uint32_t error = EnterService()) return error;
  return backend::NetShareAdd(shareName, path);
}

uint32_t NetShareDel(const char* shareName) {
  if (uint32_t error = EnterService()) return error;
  return backend::NetShareDel(shareName);
}

uint32_t NetShareGetInfo(const char* shareName, std::string* path) {
  if (uint32_t error = EnterService()) return error;
  return backend::NetShareGetInfo(shareName, path);
}

uint32_t NetShareEnum(std::vector<std::string>* names) {
  if (uint32_t error = EnterService()) return error;
  return backend::NetShareEnum(names);
}

// ---- Processes and pipes -------------------------------------------------------------------

bool CreatePipe(PipeHandle* readEnd, PipeHandle* writeEnd) {
  if (EnterProcess() != 0) return false;
  return backend::CreatePipe(readEnd, writeEnd);
}

bool CreateProcessA(const char* applicationName, const char* commandLine,
                    const char* currentDirectory, const StartupInfo& startup,
                    ProcessHandle* process) {
  if (EnterProcess() != 0) return false;
  return backend::CreateProcessA(applicationName, commandLine, currentDirectory, startup, process);
}

uint32_t WaitForSingleObject(ProcessHandle process, uint32_t milliseconds) {
  if (EnterProcess() != 0) return kWaitFailed;
  return backend::WaitForSingleObject(process, milliseconds);
}

bool GetExitCodeProcess(ProcessHandle process, uint32_t* exitCode) {
  if (EnterProcess() != 0) return false;
  return backend::GetExitCodeProcess(process, exitCode);
}

bool ReadFile(PipeHandle pipe, void* buffer, uint32_t size, uint32_t* bytesRead) {
  if (EnterProcess() != 0) {
    if (bytesRead != nullptr) *bytesRead = 0;
    return false;
  }
  return backend::ReadFile(pipe, buffer, size, bytesRead);
}

bool WriteFile(PipeHandle pipe, const void* data, uint32_t size, uint32_t* bytesWritten) {
  if (EnterProcess() != 0) {
    if (bytesWritten != nullptr) *bytesWritten = 0;
    return false;
  }
  return backend::WriteFile(pipe, data, size, bytesWritten);
}

bool ClosePipeHandle(PipeHandle pipe) {
  uint32_t error = EnterProcess();
  bool closed = backend::ClosePipeHandle(pipe);
  if (error != 0) return SetLastError(error), false;
  return closed;
}

bool CloseProcessHandle(ProcessHandle process) {
  uint32_t error = EnterProcess();
  bool closed = backend::CloseProcessHandle(process);
  if (error != 0) return SetLastError(error), false;
  return closed;
}

// ---- Environment, computer, drives ---------------------------------------------------------

bool SetEnvironmentVariableA(const char* name, const char* value) {
  if (EnterEnvironment() != 0) return false;
  return backend::SetEnvironmentVariableA(name, value);
}

uint32_t GetEnvironmentVariableA(const char* name, char* buffer, uint32_t size) {
  if (EnterEnvironment() != 0) return 0;
  return backend::GetEnvironmentVariableA(name, buffer, size);
}

bool GetComputerNameA(char* buffer, uint32_t* size) {
  if (EnterEnvironment() != 0) return false;
  return backend::GetComputerNameA(buffer, size);
}

// Cannot fail ("at least 1"): not counted.
uint32_t ProcessorCount() { return backend::ProcessorCount(); }

uint32_t GetLogicalDriveStringsA(uint32_t bufferLength, char* buffer) {
  if (EnterEnvironment() != 0) return 0;
  return backend::GetLogicalDriveStringsA(bufferLength, buffer);
}

uint32_t GetDriveTypeA(const char* rootPath) {
  if (EnterEnvironment() != 0) return kDriveUnknown;
  return backend::GetDriveTypeA(rootPath);
}

// ---- The caller's log descriptor -----------------------------------------------------------

int64_t SeekToEnd(LogHandle fd) {
  if (Enter(OperationKind::kStream) != 0) return -1;
  return backend::SeekToEnd(fd);
}

bool LockFileRange(LogHandle fd, int64_t offset, int64_t length) {
  if (Enter(OperationKind::kStream) != 0) return false;
  return backend::LockFileRange(fd, offset, length);
}

bool UnlockFileRange(LogHandle fd, int64_t offset, int64_t length) {
  // The lock is released even when the unlock is made to fail, so no other writer waits on it.
  uint32_t error = Enter(OperationKind::kStream);
  bool unlocked = backend::UnlockFileRange(fd, offset, length);
  if (error != 0) return SetLastError(error), false;
  return unlocked;
}

bool WriteToDescriptor(LogHandle fd, const void* data, uint32_t size, uint32_t* written) {
  if (Enter(OperationKind::kStream) != 0) {
    if (written != nullptr) *written = 0;
    return false;
  }
  return backend::WriteToDescriptor(fd, data, size, written);
}

}  // namespace qz7::platform
