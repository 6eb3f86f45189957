// What a caller of the library needs of the computer beyond the platform layer, whose paths
// are the library's Windows paths: host folders for scratch files, the running program's own
// path, the log file a caller opens (a descriptor on POSIX, a HANDLE on Windows) and the owner
// of its message boxes. The tool's demo and set-up commands use it, and so do the tests. One
// source per system (caller_host_posix.cc, caller_host_win32.cc).
#ifndef QZ7_TOOLS_SAMPLE_CALLER_HOST_H_
#define QZ7_TOOLS_SAMPLE_CALLER_HOST_H_

#include <string>

#include "platform/log_file.h"
#include "qz7instm.h"

namespace qz7::sample {

// The resource library of the set-up's English message texts, built beside the programs.
constexpr const char* kMessageLibraryFileName = "qz7setup.dll";

// The installation's message module in msg\prime: the text file QZ7SETUP.MSG on POSIX, the
// resource library QZ7SETUP.DLL on Windows.
const char* SetupMessageModuleName();

// The file name of a program of the build: base itself on POSIX, base + ".exe" on Windows.
std::string ProgramFileName(const std::string& base);

// A new, empty folder in the host's temporary folder whose name starts with prefix.
// Throws std::runtime_error when none can be made.
std::string MakeTempDirectory(const std::string& prefix);

// The host path of the running program; "" when the system does not tell.
std::string OwnProgramPath();

// The set-up log as a caller of the library holds it: opened (created when missing) for
// reading and writing, closed when the object goes.
class CallerLogFile {
 public:
  CallerLogFile() = default;
  ~CallerLogFile();
  CallerLogFile(const CallerLogFile&) = delete;
  CallerLogFile& operator=(const CallerLogFile&) = delete;

  // Opens hostPath, emptying it first when truncate is set; false when it cannot be opened.
  bool Open(const std::string& hostPath, bool truncate);
  // What the library's log parameter points to; null while no file is open.
  QZ7_LOG_FILE handle() { return open_ ? &value_ : nullptr; }

 private:
  platform::LogHandle value_{};
  bool open_ = false;
};

// The owner of the library's message boxes for a program run from a terminal: on POSIX a
// callback that gets each box; on Windows, where the owner is a window, the console window
// (none without one: the log still holds every message).
using BoxPrinter = int (*)(void* userData, const char* text, const char* title, unsigned style);
class TerminalOwner {
 public:
  TerminalOwner(BoxPrinter print, void* userData);
  QZ7_OWNER owner();

 private:
#if !defined(_WIN32)
  qz7_owner_window window_{};
#endif
};

}  // namespace qz7::sample

#endif  // QZ7_TOOLS_SAMPLE_CALLER_HOST_H_
