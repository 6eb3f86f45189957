// The environment, the computer's name and processors, and its drives, as the system gives them.
#include <cctype>
#include <cstring>

#include "platform/backend.h"
#include "platform/computer.h"
#include "platform/drives.h"
#include "platform/environment.h"
#include "platform/win32/error_mapping.h"
#include "platform/win32/windows_api.h"
#include "platform/win_error.h"

namespace qz7::platform::backend {

bool SetEnvironmentVariableA(const char* name, const char* value) {
  if (name == nullptr || name[0] == '\0') {
    win32::Fail(kErrorInvalidParameter);
    return false;
  }
  if (::SetEnvironmentVariableA(name, value)) return true;
  win32::SetLastErrorFromSystem();
  return false;
}

uint32_t GetEnvironmentVariableA(const char* name, char* buffer, uint32_t size) {
  if (name == nullptr) {
    win32::Fail(kErrorInvalidParameter);
    return 0;
  }
  ::SetLastError(ERROR_SUCCESS);
  DWORD length = ::GetEnvironmentVariableA(name, buffer, size);
  if (length == 0 && ::GetLastError() != ERROR_SUCCESS) win32::SetLastErrorFromSystem();
  return length;
}

bool GetComputerNameA(char* buffer, uint32_t* size) {
  if (buffer == nullptr || size == nullptr) {
    win32::Fail(kErrorInvalidParameter);
    return false;
  }
  DWORD length = *size;
  if (!::GetComputerNameA(buffer, &length)) {
    win32::SetLastErrorFromSystem();
    *size = length;
    return false;
  }
  *size = length;
  for (DWORD i = 0; i < length; ++i) {
    buffer[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(buffer[i])));
  }
  return true;
}

uint32_t ProcessorCount() {
  DWORD count = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
  return count == 0 ? 1 : count;
}

uint32_t GetLogicalDriveStringsA(uint32_t bufferLength, char* buffer) {
  DWORD length = ::GetLogicalDriveStringsA(bufferLength, buffer);
  if (length == 0) win32::SetLastErrorFromSystem();
  return length;
}

uint32_t GetDriveTypeA(const char* rootPath) { return ::GetDriveTypeA(rootPath); }

}  // namespace qz7::platform::backend
