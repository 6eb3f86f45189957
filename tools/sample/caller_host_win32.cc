#include <windows.h>

#include <stdexcept>

#include "tools/sample/caller_host.h"

namespace qz7::sample {

const char* SetupMessageModuleName() { return "QZ7SETUP.DLL"; }

std::string ProgramFileName(const std::string& base) { return base + ".exe"; }

std::string MakeTempDirectory(const std::string& prefix) {
  char temp[MAX_PATH + 1];
  const DWORD length = GetTempPathA(sizeof temp, temp);
  if (length == 0 || length > MAX_PATH) throw std::runtime_error("no temporary folder");
  // A name made of the process, the time and a counter; taken only if the folder is new.
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string path = std::string(temp) + prefix + std::to_string(GetCurrentProcessId()) +
                             "-" + std::to_string(GetTickCount()) + "-" + std::to_string(counter++);
    if (CreateDirectoryA(path.c_str(), nullptr)) return path;
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  throw std::runtime_error("cannot make a temporary folder in " + std::string(temp));
}

std::string OwnProgramPath() {
  char path[MAX_PATH + 1];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  return length > 0 && length < sizeof path ? std::string(path, length) : std::string();
}

CallerLogFile::~CallerLogFile() {
  if (open_) CloseHandle(value_);
}

bool CallerLogFile::Open(const std::string& hostPath, bool truncate) {
  if (open_) CloseHandle(value_);
  // Shared for reading and writing, as a set-up program leaves its log for other processes.
  value_ = CreateFileA(hostPath.c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       truncate ? CREATE_ALWAYS : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  open_ = value_ != INVALID_HANDLE_VALUE;
  return open_;
}

TerminalOwner::TerminalOwner(BoxPrinter, void*) {}

// The console window the operator typed the command in: the library's boxes come up in front
// of it and hold it until answered, as the setup program's own boxes hold its window. A
// program without a console window (started detached, by a service, or in Wine's text
// console) has none to give: its messages then go to the log only.
QZ7_OWNER TerminalOwner::owner() { return GetConsoleWindow(); }

}  // namespace qz7::sample
