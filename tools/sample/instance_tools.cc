#include "testkit/instance_tools.h"

#include <filesystem>

#include "testkit/host_os.h"

namespace qz7::testkit {

namespace fs = std::filesystem;

std::string InstanceToolDirectoryBeside(const std::string& hostProgramPath) {
  return fs::path(hostProgramPath).parent_path().string();
}

std::vector<std::pair<std::string, std::string>> InstanceToolPrograms(
    const std::string& toolDirectory) {
  std::vector<std::pair<std::string, std::string>> programs;
  for (const InstanceToolProgram& tool : kInstanceTools) {
    programs.emplace_back(tool.machineName,
                          (fs::path(toolDirectory) / ProgramFileName(tool.builtName)).string());
  }
  return programs;
}

}  // namespace qz7::testkit
