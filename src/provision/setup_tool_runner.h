// Running one of the product's command-line set-up tools as a hidden child process: its exit
// code, and when it failed, the text it wrote to its standard output and standard error.
#ifndef QZ7_PROVISION_SETUP_TOOL_RUNNER_H_
#define QZ7_PROVISION_SETUP_TOOL_RUNNER_H_

#include <cstddef>
#include <cstdint>

namespace qz7::provision {

// The tool's output is read back in pieces of this size.
constexpr uint32_t kToolOutputPiece = 512;

// Starts programPath (a Windows path, passed as the application name) with commandLine (the
// whole command line, program first) in workingDirectory, hidden, its standard input, output
// and error all on one anonymous pipe, and waits without a time limit for it to end.
//
// Returns 0 when the tool ran and its exit code was fetched into *exitCode; otherwise the
// Windows error code of the step that failed (the pipe, the start, the wait, the exit code,
// closing the pipe), with *exitCode left as it was. A program that does not exist gives
// kErrorFileNotFound (2).
//
// Only when the exit code is not 0 is the output read: up to outputCapacity - 1 bytes are
// stored at output, the rest is read and dropped. The text is not terminated here; callers
// hand in a zero-filled buffer. With exit code 0, output is left untouched. A child that
// writes more than the pipe holds is never left blocked: the pipe is drained while it runs.
[[nodiscard]] int32_t RunSetupTool(const char* workingDirectory, const char* programPath,
                                   const char* commandLine, uint32_t* exitCode, char* output,
                                   size_t outputCapacity);

}  // namespace qz7::provision

#endif  // QZ7_PROVISION_SETUP_TOOL_RUNNER_H_
