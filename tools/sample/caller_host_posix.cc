#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

#include "tools/sample/caller_host.h"

namespace qz7::sample {

const char* SetupMessageModuleName() { return "QZ7SETUP.MSG"; }

std::string ProgramFileName(const std::string& base) { return base; }

std::string MakeTempDirectory(const std::string& prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot make a temporary folder " + pattern);
  }
  return pattern;
}

std::string OwnProgramPath() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
}

CallerLogFile::~CallerLogFile() {
  if (open_) close(value_);
}

bool CallerLogFile::Open(const std::string& hostPath, bool truncate) {
  if (open_) close(value_);
  value_ = open(hostPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : 0), 0644);
  open_ = value_ >= 0;
  return open_;
}

TerminalOwner::TerminalOwner(BoxPrinter print, void* userData) : window_{print, userData} {}

QZ7_OWNER TerminalOwner::owner() { return &window_; }

}  // namespace qz7::sample
