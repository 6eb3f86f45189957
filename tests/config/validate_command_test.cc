// qz7inst validate, run as a program on a throw-away machine: its lines, result and exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "testkit/dbm_block_builder.h"
#include "testkit/temp_machine.h"

namespace {

// The output of "qz7inst validate" with the arguments, then its exit status as the last line.
std::string RunValidate(const std::string& machine, const std::string& args) {
  std::string command = std::string(QZ7_CLI_PATH) + " --machine '" + machine + "' validate ";
  FILE* pipe = popen((command + args + " 2>/dev/null").c_str(), "r");
  std::string out;
  char buffer[256];
  while (pipe != nullptr && std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
  int status = pipe == nullptr ? -1 : pclose(pipe);
  return out + "exit " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
}

TEST(ValidateCommandTest, VerdictsResultAndExitStatus) {
  qz7::testkit::TempMachine machine;
  const std::string config = "'C:\\INST\\qz7systm' ";
  const auto original = qz7::testkit::DbmBlockBuilder()
                            .NodeType(1)
                            .Set(qz7::base::dbm::kParam12, 100)
                            .Set(qz7::base::dbm::kParam501, -1)
                            .Bytes();
  machine.WriteFile("C:\\INST\\qz7systm", original);
  // A rejected record refuses the commit; usage errors print nothing; the file stays as it was.
  EXPECT_EQ(RunValidate(machine.root(), config + "12=200 4711=1 '7=A=B' 9999="),
            "0 12 accepted\n1 4711 rejected\n2 7 rejected\n3 9999 accepted\nresult: -104\nexit 1");
  for (const char* args : {"", "12", "x=1", "65536=1"})
    EXPECT_EQ(RunValidate(machine.root(), *args ? config + args : ""), "exit 2") << args;
  EXPECT_EQ(machine.ReadFile("C:\\INST\\qz7systm"), original);
  EXPECT_EQ(RunValidate(machine.root(), "'C:\\INST\\nothere' 12=1"), "result: -100\nexit 1");
  EXPECT_EQ(RunValidate(machine.root(), config + "12=200 40=yes 9999="),
            "0 12 accepted\n1 40 accepted\n2 9999 accepted\nresult: 0\nexit 0");
  EXPECT_EQ(
      qz7::testkit::DbmU32(machine.ReadFile("C:\\INST\\qz7systm"), qz7::base::dbm::kParam12.offset),
      200u);
}

}  // namespace
