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

[[nodiscard]] bool CreatePipe(PipeHandle* readEnd, PipeHandle* writeEnd);

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

// applicationName: the program's Windows path. commandLine: the whole command line, program
// first. currentDirectory: a Windows path, or null for the caller's current directory.
// A missing program gives kErrorFileNotFound; a file that cannot be run kErrorBadExeFormat or
// kErrorAccessDenied.
[[nodiscard]] bool CreateProcessA(const char* applicationName, const char* commandLine,
                                  const char* currentDirectory, const StartupInfo& startup,
                                  ProcessHandle* process);

// Waits for the child to end. While it waits, the pipes given as the child's output are
// drained into their read ends' buffers, so a child that writes more than a pipe holds is
// never left blocked. Returns kWaitObject0, kWaitTimeout or kWaitFailed.
[[nodiscard]] uint32_t WaitForSingleObject(ProcessHandle process, uint32_t milliseconds);
[[nodiscard]] bool GetExitCodeProcess(ProcessHandle process,
                                      uint32_t* exitCode);  // 259 while running

// Reads from a pipe's read end: first what was drained while waiting, then the pipe itself.
// Returns false on error; true with bytesRead 0 when every write end is closed and all was read.
[[nodiscard]] bool ReadFile(PipeHandle pipe, void* buffer, uint32_t size, uint32_t* bytesRead);
[[nodiscard]] bool WriteFile(PipeHandle pipe, const void* data, uint32_t size,
                             uint32_t* bytesWritten);

bool ClosePipeHandle(PipeHandle pipe);
bool CloseProcessHandle(ProcessHandle process);

// The argument vector a Windows program sees for a command line (CommandLineToArgv rules:
// blanks separate arguments outside quotes; 2n backslashes before a quote give n backslashes
// and the quote toggles quoting; 2n+1 give n backslashes and a literal quote; "" inside
// quotes gives a literal quote; other backslashes are literal). The first argument (the
// program) ends at the next blank, or at the closing quote when it starts with one.
std::vector<std::string> SplitCommandLine(const char* commandLine);

}  // namespace qz7::platform

#endif  // QZ7_PLATFORM_PROCESS_H_
