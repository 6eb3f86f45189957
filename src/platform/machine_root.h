// The machine root: the host directory that stands for the Windows computer.
//
//   <root>/drives/c/     drive C: (a directory or a symbolic link to one), drives/d/ is D:, ...
//   <root>/registry.txt  HKEY_LOCAL_MACHINE
//   <root>/services.txt  the service table
//   <root>/computer.txt  optional: this computer's name
//   <root>/drivetypes.txt optional: "D: removable" lines declaring drives that are not fixed
//
// The root is named by the environment variable QZ7_MACHINE; without it the default
// "$HOME/.qz7/machine" is used ("/tmp/qz7/machine" when HOME is unset).
#ifndef QZ7_PLATFORM_MACHINE_ROOT_H_
#define QZ7_PLATFORM_MACHINE_ROOT_H_

#include <optional>
#include <string>

namespace qz7::platform {

// The host directory of the machine root currently in force.
std::string MachineRoot();

// Overrides the environment for this process (tests, the CLI's --machine). An empty text
// returns to the environment/default rule. Also resets the current directory to "C:\".
void SetMachineRoot(const std::string& hostDirectory);

// Maps a Windows path ("C:\DIR\FILE", relative paths against the current directory) onto
// the host, finding existing components without regard to case; components that do not
// exist keep the case given. ".." stops at the drive root. Empty on a malformed path or an
// unknown drive. For tools and tests; the library itself only uses the file functions.
std::optional<std::string> HostPathOf(const char* windowsPath);

// The whole text of a settings file directly in the machine root (computer.txt,
// codepage.txt, drivetypes.txt); empty when the file is missing or cannot be read.
std::optional<std::string> ReadMachineRootFile(const char* fileName);

}  // namespace qz7::platform

#endif  // QZ7_PLATFORM_MACHINE_ROOT_H_
