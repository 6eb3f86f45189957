// What only the tests need of the computer beyond the platform layer: whether Wine runs the
// program, and on Windows the computer's name, its services and a patient tree removal. What
// a caller of the library needs (its log file, its message box owner, scratch folders) is in
// tools/sample/caller_host.h. One source for Windows (host_os_win32.cc).
#ifndef QZ7_TESTKIT_HOST_OS_H_
#define QZ7_TESTKIT_HOST_OS_H_

#include <string>
#include <system_error>
#include <vector>

namespace qz7::testkit {

// True when the program runs under Wine rather than on Windows (or on POSIX): rows that Wine
// cannot show ask it, and say why beside the question.
#if defined(_WIN32)
bool RunningUnderWine();
#else
inline bool RunningUnderWine() { return false; }
#endif

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

}  // namespace qz7::testkit

#endif  // QZ7_TESTKIT_HOST_OS_H_
