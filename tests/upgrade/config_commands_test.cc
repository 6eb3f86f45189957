// qz7inst convert-config and show on a machine of the test's own.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "testkit/dbm_block_builder.h"
#include "testkit/temp_machine.h"

namespace qz7::upgrade {
namespace {

struct CliRun {
  int status;
  std::string out;
};

CliRun RunCli(const testkit::TempMachine& machine, const std::string& arguments) {
  const std::string command =
      std::string(QZ7_CLI_PATH) + " --machine '" + machine.root() + "' " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  std::string out;
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
  const int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST(ConvertConfigCommand, PrintsTheResult) {
  testkit::TempMachine machine;
  const auto old = testkit::DbmBlockBuilder().Version(0x800).NodeType(1).U32(76, 300).Bytes();
  machine.WriteFile("C:\\I\\OLD", old);
  machine.WriteFile("C:\\I\\qz7systm", testkit::DbmBlockBuilder().NodeType(1).Bytes());

  CliRun run = RunCli(machine, "convert-config 'C:\\I\\qz7systm' 'C:\\I\\OLD'");
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(EndsWith(run.out, "result: 0\n")) << run.out;
  EXPECT_EQ(testkit::DbmU32(machine.ReadFile("C:\\I\\qz7systm"), 76), 300u);

  machine.WriteFile("C:\\I\\OLD", testkit::DbmBlockBuilder().Version(0x700).Bytes());
  run = RunCli(machine, "convert-config 'C:\\I\\qz7systm' 'C:\\I\\OLD'");
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(EndsWith(run.out, "result: -101\n")) << run.out;

  run = RunCli(machine, "convert-config 'C:\\I\\qz7systm'");
  EXPECT_EQ(run.status, 2) << run.out;
}

TEST(ShowCommand, DecodesAQz7systmBlock) {
  testkit::TempMachine machine;
  machine.WriteFile("C:\\I\\qz7systm", testkit::DbmBlockBuilder()
                                           .Version(0x900)
                                           .Level(7100)
                                           .NodeType(4)
                                           .U32(76, 1234)
                                           .S32(3088, -1)
                                           .Text(1968, 9, "NODE\"1")
                                           .Float(3120, 1.25f)
                                           .Bytes());
  CliRun run = RunCli(machine, "show 'C:\\I\\qz7systm'");
  ASSERT_EQ(run.status, 0) << run.out;
  for (const char* expected :
       {"matches", "version:   0x900", "level:     7100", "node type: 4 (partitioned)",
        "      76      4  u32   1234\n", "    3088      4  s32   -1\n",
        "    1968      9  text  \"NODE\\\"1\"\n", "    3120      4  f32   1.25\n"}) {
    EXPECT_NE(run.out.find(expected), std::string::npos) << expected << "\n" << run.out;
  }

  run = RunCli(machine, "show --json 'C:\\I\\qz7systm'");
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("\"matches\": true"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("{\"offset\": 76, \"width\": 4, \"type\": \"u32\", \"value\": 1234}"),
            std::string::npos)
      << run.out;
}

TEST(ShowCommand, WrongChecksumAndUnknownFiles) {
  testkit::TempMachine machine;
  machine.WriteFile("C:\\I\\qz7systm", testkit::DbmBlockBuilder().WrongChecksum(5).Bytes());
  CliRun run = RunCli(machine, "show 'C:\\I\\qz7systm'");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("MISMATCH"), std::string::npos) << run.out;

  machine.WriteFile("C:\\I\\short", testkit::DbmBlockBuilder().TruncateTo(100).Bytes());
  run = RunCli(machine, "show 'C:\\I\\short'");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("not a file that show recognises"), std::string::npos) << run.out;

  run = RunCli(machine, "show 'C:\\I\\missing'");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("cannot read"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace qz7::upgrade
