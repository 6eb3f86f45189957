#include "tools/instance/tool_environment.h"

#if !defined(_WIN32)
#include <limits.h>
#include <unistd.h>
#endif

#include <cctype>
#include <cstdlib>

#include "base/quoted_path.h"
#include "host/host_files.h"
#include "host/machine_facts.h"
#include "host/profile_registry.h"
#include "platform/machine_root.h"
#include "platform/windows_path.h"

namespace qz7::instance_tools {
namespace {

#if !defined(_WIN32)
// The machine root above hostPath when it lies below <root>/drives/<letter>/, else "".
std::string MachineRootAbove(const std::string& hostPath) {
  constexpr std::string_view kDrives = "/drives/";
  for (size_t at = hostPath.rfind(kDrives); at != std::string::npos && at > 0;
       at = hostPath.rfind(kDrives, at - 1)) {
    const size_t letter = at + kDrives.size();
    if (letter + 1 < hostPath.size() &&
        std::isalpha(static_cast<unsigned char>(hostPath[letter])) && hostPath[letter + 1] == '/') {
      return hostPath.substr(0, at);
    }
  }
  return "";
}

#endif

// The directory that path names once its last component is cut ("" when there is none).
std::string Parent(const std::string& path) {
  std::string parent = path;
  return base::CutAtLastBackslash(parent) ? parent : std::string();
}

}  // namespace

void UseMachineOfProgram() {
#if defined(_WIN32)
  // Windows has no machine root: a tool acts on the computer it runs on.
#else
  if (std::getenv("QZ7_MACHINE") != nullptr) return;
  char program[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", program, sizeof program - 1);
  if (length <= 0) return;
  const std::string root = MachineRootAbove(std::string(program, static_cast<size_t>(length)));
  if (!root.empty()) platform::SetMachineRoot(root);
#endif
}

std::string FindInstallation(const char* programPath, Installation* installation) {
  const std::string bin = Parent(programPath != nullptr ? programPath : "");
  if (platform::NamesEqualIgnoreCase(base::LastComponent(bin), "BIN") && !Parent(bin).empty()) {
    installation->installDir = Parent(bin);
  } else if (host::ReadProfilePointer(host::kInstallDirValue, &installation->installDir) != 0) {
    return "the installation directory is not known (run the tool from its BIN directory)";
  }
  if (host::ReadProfilePointer(host::kInstanceProfileDirValue, &installation->profileDir) != 0) {
    installation->profileDir = installation->installDir;
  }
  return "";
}

std::string ThisComputer() {
  std::string name;
  return host::ProductComputerName(&name) == 0 ? name : std::string();
}

}  // namespace qz7::instance_tools
