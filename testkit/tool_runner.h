// Runs a program of the build (the qz7inst tool, an instance tool) as a child process the way
// an operator runs it: the arguments as given, extra environment variables (QZ7_MACHINE,
// QZ7_FAULT, ...), standard output and standard error captured apart, and the exit code.
//
//   ToolRun run = RunTool(QZ7_CLI_PATH, {"--machine", machine.root(), "list", "C:\\QZ7"});
//   EXPECT_EQ(run.exitCode, 0) << run.err;
//   EXPECT_EQ(run.LastLine(), "result: 0");
#ifndef QZ7_TESTKIT_TOOL_RUNNER_H_
#define QZ7_TESTKIT_TOOL_RUNNER_H_

#include <string>
#include <utility>
#include <vector>

namespace qz7::testkit {

struct ToolRun {
  int exitCode = -1;  // -1: the program did not end with an exit code (or did not start)
  std::string out, err;
  // The last line of standard output, without its line end.
  std::string LastLine() const;
};

// environment: (name, value) pairs set for the child only.
ToolRun RunTool(const std::string& program, const std::vector<std::string>& args,
                const std::vector<std::pair<std::string, std::string>>& environment = {});

}  // namespace qz7::testkit

#endif  // QZ7_TESTKIT_TOOL_RUNNER_H_
