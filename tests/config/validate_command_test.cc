// qz7inst validate, run as a program on a throw-away machine: its lines, result and exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "testkit/dbm_block_builder.h"
#include "testkit/temp_machine.h"

namespace {

struct CliRun {
  std::string out;
  int exitStatus;
};

// Runs the CLI with the machine root and arguments (each passed single-quoted to the shell).
CliRun RunCli(const std::string& machine, const std::vector<std::string>& args) {
  std::string command = std::string(QZ7_CLI_PATH) + " --machine '" + machine + "'";
  for (const std::string& arg : args) command += " '" + arg + "'";
  command += " 2>/dev/null";
  CliRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {"", -1};
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) run.out += buffer;
  int status = pclose(pipe);
  run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

class ValidateCommandTest : public testing::Test {
 protected:
  void SetUp() override {
    machine_.MakeDirectory("C:\\INST");
    original_ = qz7::testkit::DbmBlockBuilder()
                    .NodeType(1)
                    .U32(0x4C, 100)
                    .U32(0xC0C, 0xFFFFFFFF)
                    .WrongChecksum()
                    .Bytes();
    machine_.WriteFile("C:\\INST\\qz7systm", original_);
  }

  qz7::testkit::TempMachine machine_;
  std::vector<unsigned char> original_;
};

TEST_F(ValidateCommandTest, PrintsVerdictsInRecordOrderAndCommits) {
  CliRun run =
      RunCli(machine_.root(), {"validate", "C:\\INST\\qz7systm", "12=200", "40=yes", "9999="});
  EXPECT_EQ(run.out, "0 12 accepted\n1 40 accepted\n2 9999 accepted\nresult: 0\n");
  EXPECT_EQ(run.exitStatus, 0);
  std::vector<unsigned char> written = machine_.ReadFile("C:\\INST\\qz7systm");
  EXPECT_EQ(qz7::testkit::DbmU32(written, 0x4C), 200u);
  EXPECT_TRUE(qz7::testkit::DbmChecksumMatches(written));
}

TEST_F(ValidateCommandTest, RejectedRecordRefusesTheCommit) {
  CliRun run = RunCli(machine_.root(),
                      {"validate", "C:\\INST\\qz7systm", "12=200", "4711=1", "7=A=B", "9999="});
  EXPECT_EQ(run.out,
            "0 12 accepted\n1 4711 rejected\n2 7 rejected\n3 9999 accepted\nresult: -104\n");
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(machine_.ReadFile("C:\\INST\\qz7systm"), original_);
}

TEST_F(ValidateCommandTest, MissingFileAndUsageErrors) {
  CliRun missing = RunCli(machine_.root(), {"validate", "C:\\INST\\nothere", "12=1"});
  EXPECT_EQ(missing.out, "result: -100\n");
  EXPECT_EQ(missing.exitStatus, 1);

  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"validate"},
                                             {"validate", "C:\\INST\\qz7systm", "12"},
                                             {"validate", "C:\\INST\\qz7systm", "x=1"},
                                             {"validate", "C:\\INST\\qz7systm", "65536=1"}}) {
    CliRun run = RunCli(machine_.root(), args);
    EXPECT_EQ(run.exitStatus, 2) << args.back();
    EXPECT_EQ(run.out, "") << args.back();
  }
  EXPECT_EQ(machine_.ReadFile("C:\\INST\\qz7systm"), original_);
}

}  // namespace
