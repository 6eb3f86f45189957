#include "provision/setup_tool_runner.h"

#include <algorithm>
#include <cstring>

#include "platform/process.h"
#include "platform/win_error.h"

namespace qz7::provision {
namespace {

namespace p = qz7::platform;

// The last error of the step that failed; never 0, so a failure is never taken for success.
[[nodiscard]] int32_t LastErrorResult() {
  const uint32_t error = p::GetLastError();
  return static_cast<int32_t>(error != 0 ? error : p::kErrorGenFailure);
}

// One end of the pipe, closed when it goes unless closed explicitly before.
class PipeEnd {
 public:
  PipeEnd() = default;
  PipeEnd(const PipeEnd&) = delete;
  PipeEnd& operator=(const PipeEnd&) = delete;
  ~PipeEnd() {
    if (handle_ != nullptr) p::ClosePipeHandle(handle_);
  }
  p::PipeHandle* receive() { return &handle_; }
  p::PipeHandle get() const { return handle_; }
  // Closes now; false (last error set) when the close failed.
  bool Close() {
    p::PipeHandle handle = handle_;
    handle_ = nullptr;
    return p::ClosePipeHandle(handle);
  }

 private:
  p::PipeHandle handle_ = nullptr;
};

class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() {
    if (handle_ != nullptr) p::CloseProcessHandle(handle_);
  }
  p::ProcessHandle* receive() { return &handle_; }
  p::ProcessHandle get() const { return handle_; }

 private:
  p::ProcessHandle handle_ = nullptr;
};

// Reads the pipe in pieces until a read fails, gives nothing, or gives a short piece. Keeps
// what fits in capacity - 1 bytes of output and drops the rest.
void ReadToolOutput(p::PipeHandle pipe, char* output, size_t capacity) {
  const size_t room = (output != nullptr && capacity > 0) ? capacity - 1 : 0;
  size_t stored = 0;
  char piece[kToolOutputPiece];
  for (;;) {
    uint32_t got = 0;
    if (!p::ReadFile(pipe, piece, sizeof piece, &got) || got == 0) return;
    const size_t keep = std::min<size_t>(got, room - stored);
    if (keep > 0) {
      std::memcpy(output + stored, piece, keep);
      stored += keep;
    }
    if (got < sizeof piece) return;
  }
}

}  // namespace

[[nodiscard]] int32_t RunSetupTool(const char* workingDirectory, const char* programPath,
                                   const char* commandLine, uint32_t* exitCode, char* output,
                                   size_t outputCapacity) {
  PipeEnd readEnd;
  PipeEnd writeEnd;
  if (!p::CreatePipe(readEnd.receive(), writeEnd.receive())) return LastErrorResult();

  // The pipe is handed to the child only, as its standard input, output and error (on Windows
  // through the start-up information's standard handles): this process's own standard handles
  // are never changed, so nothing is left pointing at a closed pipe afterwards.
  p::StartupInfo startup;
  startup.hideWindow = true;
  startup.stdInput = readEnd.get();
  startup.stdOutput = writeEnd.get();
  startup.stdError = writeEnd.get();
  // Only the first outputCapacity - 1 bytes are ever used: the rest is dropped as the pipe
  // is drained, whatever the tool writes.
  startup.keptOutput = (output != nullptr && outputCapacity > 0) ? outputCapacity - 1 : 0;

  ChildProcess child;
  if (!p::CreateProcessA(programPath, commandLine, workingDirectory, startup, child.receive())) {
    return LastErrorResult();
  }
  if (p::WaitForSingleObject(child.get(), p::kInfinite) != p::kWaitObject0) {
    return LastErrorResult();
  }
  uint32_t code = 0;
  if (!p::GetExitCodeProcess(child.get(), &code)) return LastErrorResult();
  if (exitCode != nullptr) *exitCode = code;
  // With this process's copy of the write end closed, the pipe ends where the child's output
  // ends, so the reads below stop at the end of the text.
  if (!writeEnd.Close()) return LastErrorResult();
  if (code != 0) ReadToolOutput(readEnd.get(), output, outputCapacity);
  return 0;
}

}  // namespace qz7::provision
