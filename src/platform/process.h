// Child processes and anonymous pipes, in the shape of CreatePipe / CreateProcessA /
// WaitForSingleObject / GetExitCodeProcess / ReadFile. The program is a Windows path mapped
// through the machine root; the command line is split into arguments by the rules of the
// Microsoft C runtime and handed to the program directly, never to a shell. The calling
// process's own standard handles are never changed. Failures set the last error.
#ifndef QZ7_PLATFORM_PROCESS_H_
#define QZ7_PLATFORM_PROCESS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qz7::platform {

struct PipeObject;     // defined by the backend
struct ProcessObject;  // defined by the backend
using PipeHandle = PipeObject*;
using ProcessHandle = ProcessObject*;

constexpr uint32_t kInfinite = 0xFFFFFFFF;
constexpr uint32_t kWaitObject0 = 0;
constexpr uint32_t kWaitTimeout = 258;
constexpr uint32_t kWaitFailed = 0xFFFFFFFF;

struct StartupInfo {
  bool hideWindow = true;
  PipeHandle stdInput = nullptr;   // null: the child reads an empty input
  PipeHandle stdOutput = nullptr;  // null: the child's output is discarded
  PipeHandle stdError = nullptr;
  // Of what WaitForSingleObject drains from stdOutput and stdError while the child runs, at
  // most this many bytes in all are kept for ReadFile on their read end; the rest is read
  // from the pipe and dropped, so the caller's memory stays bounded whatever the child
  // writes. Once bytes were dropped, ReadFile gives the kept ones and then the end of data.
  size_t keptOutput = SIZE_MAX;
};

// The argument vector a Windows program sees for a command line (CommandLineToArgv rules:
// blanks separate arguments outside quotes; 2n backslashes before a quote give n backslashes
// and the quote toggles quoting; 2n+1 give n backslashes and a literal quote; "" inside
// quotes gives a literal quote; other backslashes are literal). The first argument (the
// program) ends at the next blank, or at the closing quote when it starts with one.
std::vector<std::string> SplitCommandLine(const char* commandLine);

}  // namespace qz7::platform

// The operations themselves are rows of the platform table.
#include "platform/platform_table.h"  // IWYU pragma: export

#endif  // QZ7_PLATFORM_PROCESS_H_
