#include "tools/sample/instance_tools.h"

#include <filesystem>

#include "tools/sample/caller_host.h"

namespace qz7::sample {

namespace fs = std::filesystem;

std::string InstanceToolDirectoryBeside(const std::string& hostProgramPath) {
  return fs::path(hostProgramPath).parent_path().string();
}

std::vector<std::pair<std::string, std::string>> InstanceToolPrograms(
    const std::string& toolDirectory, const std::string& builtSuffix) {
  std::vector<std::pair<std::string, std::string>> programs;
  for (const InstanceToolProgram& tool : kInstanceTools) {
    programs.emplace_back(
        tool.machineName,
        (fs::path(toolDirectory) / ProgramFileName(tool.builtName + builtSuffix)).string());
  }
  return programs;
}

}  // namespace qz7::sample
