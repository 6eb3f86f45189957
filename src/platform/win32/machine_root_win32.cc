// On Windows there is no machine root: the paths are the computer's own. The tools and tests
// that ask for a host path get the full Windows path, and the settings the machine root holds
// on POSIX are the computer's: the code page is GetACP().
#include <stdlib.h>

#include <string>

#include "platform/machine_root.h"
#include "platform/win32/windows_api.h"

namespace qz7::platform {

std::string MachineRoot() { return std::string(); }

void SetMachineRoot(const std::string&) {}

std::optional<std::string> HostPathOf(const char* windowsPath) {
  if (windowsPath == nullptr || windowsPath[0] == '\0') return std::nullopt;
  char full[MAX_PATH];
  if (_fullpath(full, windowsPath, sizeof full) == nullptr) return std::nullopt;
  return std::string(full);
}

std::optional<std::string> ReadMachineRootFile(const char* fileName) {
  if (fileName != nullptr && std::string(fileName) == "codepage.txt") {
    return std::to_string(GetACP());
  }
  return std::nullopt;
}

}  // namespace qz7::platform
