#include "testkit/machine_state.h"

#include <fstream>
#include <iterator>
#include <sstream>

#include "host/profile_registry.h"

namespace qz7::testkit {

namespace fs = std::filesystem;

namespace {

std::string HostFileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

MachineState TakeMachineState(const std::string& machineRoot) {
  MachineState state;
  const fs::path drives = fs::path(machineRoot) / "drives";
  std::error_code missing;
  for (const auto& entry : fs::recursive_directory_iterator(drives, missing)) {
    state[fs::relative(entry.path(), drives).string()] =
        entry.is_directory() ? "<dir>" : HostFileText(entry.path());
  }
  for (const char* store : {"services.txt", "registry.txt"}) {
    std::istringstream table(HostFileText(fs::path(machineRoot) / store));
    bool keep = store[0] == 's';  // of the registry, only the instance keys
    for (std::string line; std::getline(table, line);) {
      if (line.empty() || line[0] == ';' || line[0] == '#') continue;
      if (line[0] == '[' && store[0] == 'r') {
        keep = line.rfind(std::string("[") + host::kProfilesKey + "\\", 0) == 0;
      }
      if (keep) state[store] += line + "\n";
    }
  }
  return state;
}

std::string DiffMachineStates(const MachineState& before, const MachineState& after) {
  std::string text;
  for (const auto& [name, content] : after) {
    if (!before.count(name) || before.at(name) != content) text += "changed " + name + "\n";
  }
  for (const auto& [name, content] : before) {
    if (!after.count(name)) text += "removed " + name + "\n";
  }
  return text;
}

MachineCopy::MachineCopy(const std::string& root, const char* suffix)
    : root_(root), copy_(root + suffix) {
  fs::copy(root_, copy_, fs::copy_options::recursive);
}

MachineCopy::~MachineCopy() {
  std::error_code ignored;
  fs::remove_all(copy_, ignored);
}

void MachineCopy::Restore() const {
  for (const auto& entry : fs::directory_iterator(root_)) fs::remove_all(entry.path());
  fs::copy(copy_, root_, fs::copy_options::recursive);
}

}  // namespace qz7::testkit
