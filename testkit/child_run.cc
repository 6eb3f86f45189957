#include "testkit/child_run.h"

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstring>

#include "platform/process.h"
#include "platform/win_error.h"

namespace qz7::testkit {

ChildRun RunChild(const std::string& program, const std::string& commandLine, const char* directory,
                  const char* input, size_t keptOutput) {
  using namespace platform;
  ChildRun run;
  const auto step = [&run](bool done, const char* name) {
    if (!done) run.failedSteps += std::string(name) + "\n";
    return done;
  };
  PipeHandle out = nullptr, outWrite = nullptr, in = nullptr, inWrite = nullptr;
  if (!step(CreatePipe(&out, &outWrite), "output pipe")) return run;
  StartupInfo startup;
  startup.stdOutput = startup.stdError = outWrite;
  startup.keptOutput = keptOutput;
  if (input != nullptr) {
    uint32_t written = 0;
    step(CreatePipe(&in, &inWrite) &&
             WriteFile(inWrite, input, static_cast<uint32_t>(std::strlen(input)), &written) &&
             ClosePipeHandle(inWrite),
         "input pipe");
    startup.stdInput = in;
  }
  ProcessHandle process = nullptr;
  if (CreateProcessA(program.c_str(), commandLine.c_str(), directory, startup, &process)) {
    step(WaitForSingleObject(process, 60000) == kWaitObject0, "wait");
    step(GetExitCodeProcess(process, &run.exitCode), "exit code");
    step(CloseProcessHandle(process), "close process");
  } else {
    run.error = GetLastError();
  }
  step(ClosePipeHandle(outWrite) && (in == nullptr || ClosePipeHandle(in)), "close pipe");
  char piece[4096];
  for (uint32_t count = 0; ReadFile(out, piece, sizeof piece, &count) && count > 0;)
    run.output.append(piece, count);
  step(ClosePipeHandle(out), "close pipe");
  return run;
}

#if !defined(_WIN32)
int ForkedExitCode(const std::function<int()>& body) {
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) _exit(body());
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}
#endif

}  // namespace qz7::testkit
