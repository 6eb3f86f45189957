#include "testkit/temp_machine.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "platform/machine_root.h"

namespace qz7::testkit {

namespace fs = std::filesystem;

TempMachine::TempMachine() {
  std::string pattern = (fs::temp_directory_path() / "qz7-machine-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
  fs::create_directories(fs::path(root_) / "drives" / "c");
  platform::SetMachineRoot(root_);
}

TempMachine::~TempMachine() {
  platform::SetMachineRoot("");
  std::error_code ignored;
  fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ignored);
  for (auto it = fs::recursive_directory_iterator(root_, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::remove_all(root_, ignored);
}

std::string TempMachine::HostPath(const std::string& windowsPath) const {
  std::string path = root_ + "/drives/";
  size_t start = 0;
  if (windowsPath.size() >= 2 && windowsPath[1] == ':') {
    path.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(windowsPath[0]))));
    start = 2;
  } else {
    path.push_back('c');
  }
  for (size_t i = start; i < windowsPath.size(); ++i) {
    path.push_back(windowsPath[i] == '\\' ? '/' : windowsPath[i]);
  }
  return path;
}

void TempMachine::WriteFile(const std::string& windowsPath,
                            const std::vector<unsigned char>& bytes) const {
  fs::path host = HostPath(windowsPath);
  fs::create_directories(host.parent_path());
  std::ofstream out(host, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void TempMachine::WriteText(const std::string& windowsPath, const std::string& text) const {
  WriteFile(windowsPath, std::vector<unsigned char>(text.begin(), text.end()));
}

void TempMachine::MakeDirectory(const std::string& windowsPath) const {
  fs::create_directories(HostPath(windowsPath));
}

std::vector<unsigned char> TempMachine::ReadFile(const std::string& windowsPath) const {
  std::ifstream in(HostPath(windowsPath), std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

bool TempMachine::Exists(const std::string& windowsPath) const {
  return fs::exists(HostPath(windowsPath));
}

void TempMachine::AddDrive(char letter) const {
  fs::create_directories(fs::path(root_) / "drives" /
                         std::string(1, static_cast<char>(std::tolower(letter))));
}

}  // namespace qz7::testkit
