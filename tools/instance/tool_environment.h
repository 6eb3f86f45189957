// Where a stand-in instance tool runs: the machine, the installation it belongs to and the
// instance-profile directory its instances go to.
#ifndef QZ7_TOOLS_INSTANCE_TOOL_ENVIRONMENT_H_
#define QZ7_TOOLS_INSTANCE_TOOL_ENVIRONMENT_H_

#include <string>

namespace qz7::instance_tools {

// A tool runs on the machine whose BIN directory holds it. When QZ7_MACHINE is not set, the
// machine root is taken from this program's own host path (<root>/drives/<letter>/...), so a
// copy of the tool installed in a machine works there without being told. A program outside
// every machine keeps the platform's default rule.
void UseMachineOfProgram();

struct Installation {
  std::string installDir;  // Windows path, no quotes
  std::string profileDir;  // Windows path, no quotes
};

// The installation: the directory above the BIN directory that programPath (argv[0], a
// Windows path such as C:\QZ7\BIN\QZ7ICRT.EXE) names, else the directory the profile registry
// was pointed at. The instance-profile directory: the one the profile registry was pointed at,
// else the installation directory. "" on success, else what is missing.
std::string FindInstallation(const char* programPath, Installation* installation);

// This computer's name as the product reports it ("" when it cannot be had).
std::string ThisComputer();

}  // namespace qz7::instance_tools

#endif  // QZ7_TOOLS_INSTANCE_TOOL_ENVIRONMENT_H_
