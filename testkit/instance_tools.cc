#include "testkit/instance_tools.h"

#include <filesystem>
#include <stdexcept>

#include "base/quoted_path.h"
#include "host/host_files.h"
#include "platform/machine_root.h"
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

void InstallInstanceTools(const std::string& toolDirectory, const std::string& installDir) {
  const std::string bin = base::JoinPath(installDir, "BIN");
  if (host::MakeDirectories(bin, nullptr) != 0) {
    throw std::runtime_error("instance tools: cannot create " + bin);
  }
  for (const auto& [name, program] : InstanceToolPrograms(toolDirectory)) {
    std::optional<std::string> target = platform::HostPathOf(base::JoinPath(bin, name).c_str());
    std::error_code error;
    if (!target || !fs::copy_file(program, *target, fs::copy_options::overwrite_existing, error)) {
      throw std::runtime_error("instance tools: cannot copy " + program + " to " + bin);
    }
  }
}

}  // namespace qz7::testkit
