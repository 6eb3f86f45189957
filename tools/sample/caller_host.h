// What the test kit and the tools need of the computer beyond the platform layer, whose paths
// are the library's Windows paths: host folders for scratch files, the running program's own
// path, and the log file a caller of the library opens (a descriptor on POSIX, a HANDLE on
// Windows). One source per system (host_os_posix.cc, host_os_win32.cc).
#ifndef QZ7_TESTKIT_HOST_OS_H_
#define QZ7_TESTKIT_HOST_OS_H_

#include <string>
#include <system_error>
#include <vector>

#include "platform/log_file.h"
#include "qz7instm.h"

namespace qz7::testkit {

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

// True when the program runs under Wine rather than on Windows (or on POSIX): rows that Wine
// cannot show ask it, and say why beside the question.
bool RunningUnderWine();

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

#if defined(_WIN32)
// The computer's active name (what GetComputerNameA gives), read from or written to the
// registry; false when that fails. Tests name the computer this way, for as long as they run.
bool ReadActiveComputerName(std::string* name);
bool WriteActiveComputerName(const std::string& name);

// The names of the services the Service Control Manager holds; false when it cannot tell.
bool ListServiceNames(std::vector<std::string>* names);
// Deletes the service; false when it is not there or cannot be deleted.
bool DeleteServiceNamed(const std::string& name);

// Removes the tree at path, trying again for up to five seconds: Windows lets go of a
// finished program's file a little after the program's end is reported, and a test's tool
// may have run from that tree. False, with error set, when something stays.
bool RemoveTreePatiently(const std::string& path, std::error_code& error);
#endif

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

}  // namespace qz7::testkit

#endif  // QZ7_TESTKIT_HOST_OS_H_
