// The process environment. Windows compares variable names without regard to case; the host
// environment does not, so a name is looked up exactly first and then case-blind.
#include <errno.h>
#include <string.h>
#include <strings.h>

#include <string>

#include "platform/backend.h"
#include "platform/environment.h"
#include "platform/posix/syscalls.h"
#include "platform/win_error.h"

extern char** environ;

namespace qz7::platform::backend {
namespace {

bool ValidName(const char* name) {
  return name != nullptr && *name != '\0' && strchr(name, '=') == nullptr;
}

// The name under which the environment holds name: itself when set, else the first entry
// equal to it without regard to case, else name.
std::string StoredName(const char* name) {
  if (posix::Syscalls().getenv(name) != nullptr) return name;
  size_t length = strlen(name);
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    if (strncasecmp(*entry, name, length) == 0 && (*entry)[length] == '=') {
      return std::string(*entry, length);
    }
  }
  return name;
}

}  // namespace

bool SetEnvironmentVariableA(const char* name, const char* value) {
  if (!ValidName(name)) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  std::string stored = StoredName(name);
  int result = value == nullptr ? posix::Syscalls().unsetenv(stored.c_str())
                                : posix::Syscalls().setenv(stored.c_str(), value, 1);
  if (result != 0) {
    SetLastError(errno == ENOMEM ? kErrorNotEnoughMemory : kErrorInvalidParameter);
    return false;
  }
  return true;
}

uint32_t GetEnvironmentVariableA(const char* name, char* buffer, uint32_t size) {
  if (!ValidName(name)) {
    SetLastError(kErrorEnvVarNotFound);
    return 0;
  }
  const char* value = posix::Syscalls().getenv(StoredName(name).c_str());
  if (value == nullptr) {
    SetLastError(kErrorEnvVarNotFound);
    return 0;
  }
  size_t length = strlen(value);
  if (buffer == nullptr || size < length + 1) return static_cast<uint32_t>(length + 1);
  memcpy(buffer, value, length + 1);
  return static_cast<uint32_t>(length);
}

}  // namespace qz7::platform::backend
