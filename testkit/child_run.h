// Runs a program as a child through the platform layer, the way the library starts the set-up
// tools: the command line as given, standard output and standard error into one pipe, and
// that pipe read only after the wait for the child's end, so that a wait which left the child
// blocked on a full pipe shows as a hang (and then as a failed step).
//
//   ChildRun run = RunChild("Q:\\child.exe", "child.exe --stdout 2 --exit 7", "Q:\\");
//   EXPECT_EQ(run.failedSteps, "");
//   EXPECT_EQ(run.exitCode, 7u);
#ifndef QZ7_TESTKIT_CHILD_RUN_H_
#define QZ7_TESTKIT_CHILD_RUN_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace qz7::testkit {

struct ChildRun {
  uint32_t error = 0;          // the last error when the program did not start
  uint32_t exitCode = 0xDEAD;  // left so when it did not start
  std::string output;          // standard output and error as the pipe gave them
  // The steps of the run that failed although they must not ("wait", "close pipe", ...), one
  // a line: a test expects "".
  std::string failedSteps;
};

// directory: the child's current directory (null: the caller's). input: with it, standard
// input is a pipe holding that text. keptOutput: as the platform's StartupInfo takes it.
ChildRun RunChild(const std::string& program, const std::string& commandLine,
                  const char* directory = nullptr, const char* input = nullptr,
                  size_t keptOutput = SIZE_MAX);

#if !defined(_WIN32)
// Runs body in a forked child of this process (standard output flushed first, so that the
// child does not write it again), which ends with the exit code body returns, or earlier as
// body ends it; that exit code, or -1 when the child did not end normally.
int ForkedExitCode(const std::function<int()>& body);
#endif

}  // namespace qz7::testkit

#endif  // QZ7_TESTKIT_CHILD_RUN_H_
