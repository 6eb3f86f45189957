// The qz7inst exit-status contract and the commands that need no library operation, run as
// a child process the way an operator runs them.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "testkit/dbm_block_builder.h"
#include "testkit/temp_machine.h"

namespace {

struct CliRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<size_t>(n));
  return text;
}

// Runs qz7inst with the arguments; standard output and error are captured separately (the
// outputs here are small enough for the pipes).
CliRun RunCli(const std::vector<std::string>& args) {
  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    close(outPipe[0]);
    close(errPipe[0]);
    std::vector<char*> argv;
    std::string program = QZ7_CLI_PATH;
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (std::string& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  CliRun run;
  run.out = ReadAll(outPipe[0]);
  run.err = ReadAll(errPipe[0]);
  close(outPipe[0]);
  close(errPipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string LastLine(const std::string& text) {
  std::string trimmed = text;
  while (!trimmed.empty() && trimmed.back() == '\n') trimmed.pop_back();
  size_t start = trimmed.rfind('\n');
  return start == std::string::npos ? trimmed : trimmed.substr(start + 1);
}

TEST(CliTest, UsageErrorsExitTwo) {
  qz7::testkit::TempMachine machine;
  struct Row {
    const char* name;
    std::vector<std::string> args;
  } rows[] = {
      {"no_command", {}},
      {"unknown_command", {"frobnicate"}},
      {"machine_without_directory", {"--machine"}},
      {"list_too_many", {"--machine", machine.root(), "list", "C:\\A", "C:\\B"}},
      {"list_without_pointer", {"--machine", machine.root(), "list"}},
      {"demo_too_many", {"demo", "a", "b"}},
      {"create_without_install", {"--machine", machine.root(), "create", "QZ7"}},
      {"create_unknown_part", {"--machine", machine.root(), "create", "--install", "C:\\I", "A:x"}},
      {"delete_stray_word", {"--machine", machine.root(), "delete", "--install", "C:\\I", "A"}},
  };
  for (const Row& row : rows) {
    CliRun run = RunCli(row.args);
    EXPECT_EQ(run.exitCode, 2) << row.name;
    EXPECT_FALSE(run.err.empty()) << row.name;
    EXPECT_EQ(run.out.find("result:"), std::string::npos) << row.name;
  }
}

TEST(CliTest, HelpListsEveryCommand) {
  CliRun run = RunCli({"--help"});
  EXPECT_EQ(run.exitCode, 0);
  for (const char* command : {"list", "demo", "create", "delete"}) {
    EXPECT_NE(run.out.find(command), std::string::npos) << command;
  }
}

TEST(CliTest, DemoBuildsAMachineAndListFindsItsInstances) {
  qz7::testkit::TempMachine scratch;
  const std::string root = scratch.root() + "/demo";
  CliRun demo = RunCli({"demo", root});
  ASSERT_EQ(demo.exitCode, 0) << demo.err;
  EXPECT_EQ(LastLine(demo.out), "result: 0");
  EXPECT_NE(demo.out.find("createInstances returned 0"), std::string::npos);
  // Both instances' node directories (two entries each) are in the current layout now.
  size_t migrated = 0;
  for (size_t at = 0;
       (at = demo.out.find("1264 bytes, 2 entries, current layout", at)) != std::string::npos;
       ++at) {
    ++migrated;
  }
  EXPECT_EQ(migrated, 2u) << demo.out;

  // The instances moved into the installation's profile directory, converted to the release.
  CliRun list = RunCli({"--machine", root, "list", "c:\\qz7", "--json"});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  for (const char* name : {"\"QZ7\"", "\"SALES\"", "\"QZ7DAS00\""}) {
    EXPECT_NE(list.out.find(name), std::string::npos) << name;
  }
  EXPECT_NE(list.out.find("\"priorRelease\": 6"), std::string::npos);
  EXPECT_NE(list.out.find("\"adminServer\": true"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(root + "/drives/c/QZ7PROF/SALES"));

  // The setup program's calls on the same machine, with a log file the library appends to.
  const std::string log = scratch.root() + "/setup.log";
  CliRun create = RunCli({"--machine", root, "create", "--install", "C:\\QZ7", "--current",
                          "C:\\QZ7PROF", "--requested", "C:\\QZ7PROF", "--log", log,
                          "NEW:account=me:password=pw:default", "DAS:admin"});
  EXPECT_EQ(create.exitCode, 0) << create.err;
  EXPECT_EQ(LastLine(create.out), "result: 0");

  // Discovery pointed the profile registry at the directory; list now finds it by itself.
  CliRun again = RunCli({"--machine", root, "list"});
  EXPECT_EQ(again.exitCode, 0) << again.err;
  EXPECT_NE(again.out.find("SALES"), std::string::npos);

  // The migrations run again from the shell find the directories already current, and show
  // decodes the completed backup the demo's migration left.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"migrate-dbdir", "C:\\QZ7\\SALES", "C:\\QZ7"},
        std::vector<std::string>{"migrate-nodedir", "C:\\QZ7\\SALES"}}) {
    std::vector<std::string> full = {"--machine", root};
    full.insert(full.end(), args.begin(), args.end());
    CliRun migrate = RunCli(full);
    EXPECT_EQ(migrate.exitCode, 0) << args[0] << migrate.err;
    EXPECT_EQ(LastLine(migrate.out), "result: 0") << args[0];
  }
  CliRun backup =
      RunCli({"--machine", root, "show", "C:\\QZ7\\SALES\\SQLNODIR\\SQLNDDIR.BAK", "--json"});
  EXPECT_EQ(backup.exitCode, 0) << backup.err;
  EXPECT_NE(backup.out.find("\"C\""), std::string::npos) << backup.out;

  // Uninstalling drops every instance and removes the registry and the profile directory.
  CliRun remove = RunCli(
      {"--machine", root, "delete", "--install", "C:\\QZ7", "--profile", "C:\\QZ7PROF", "--quiet"});
  EXPECT_EQ(remove.exitCode, 0) << remove.err;
  EXPECT_EQ(LastLine(remove.out), "result: 0");
  CliRun after = RunCli({"--machine", root, "list", "c:\\qz7prof"});
  EXPECT_EQ(after.out.find("SALES"), std::string::npos) << after.out;
  EXPECT_FALSE(std::filesystem::exists(root + "/drives/c/QZ7PROF/SALES"));
}

TEST(CliTest, ConvertConfigAndShow) {
  qz7::testkit::TempMachine machine;
  using qz7::testkit::DbmBlockBuilder;
  machine.WriteFile("C:\\I\\OLD",
                    DbmBlockBuilder().Version(0x800).NodeType(1).U32(76, 300).Bytes());
  machine.WriteFile("C:\\I\\qz7systm", DbmBlockBuilder().NodeType(4).Float(3120, 1.25f).Bytes());
  machine.WriteFile("C:\\I\\V700", DbmBlockBuilder().Version(0x700).Bytes());
  machine.WriteFile("C:\\I\\BAD", DbmBlockBuilder().WrongChecksum(5).Bytes());
  machine.WriteFile("C:\\I\\SHORT", DbmBlockBuilder().TruncateTo(100).Bytes());
  struct Row {
    const char* name;
    std::vector<std::string> args;
    int exitCode;
    const char* expected;  // a text the output must hold
  } rows[] = {
      {"show_block", {"show", "C:\\I\\qz7systm"}, 0, "    3120      4  f32   1.25\n"},
      {"show_json", {"show", "--json", "C:\\I\\qz7systm"}, 0, "\"matches\": true"},
      {"show_wrong_checksum", {"show", "C:\\I\\BAD"}, 0, "MISMATCH"},
      {"show_unknown", {"show", "C:\\I\\SHORT"}, 1, "not a file that show recognises"},
      {"show_missing", {"show", "C:\\I\\NONE"}, 1, "cannot read"},
      {"convert_bad_version",
       {"convert-config", "C:\\I\\qz7systm", "C:\\I\\V700"},
       1,
       "result: -101"},
      {"convert", {"convert-config", "C:\\I\\qz7systm", "C:\\I\\OLD"}, 0, "result: 0"},
      {"convert_usage", {"convert-config", "C:\\I\\qz7systm"}, 2, "usage"},
  };
  for (const Row& row : rows) {
    std::vector<std::string> args = {"--machine", machine.root()};
    args.insert(args.end(), row.args.begin(), row.args.end());
    CliRun run = RunCli(args);
    EXPECT_EQ(run.exitCode, row.exitCode) << row.name;
    EXPECT_NE((run.out + run.err).find(row.expected), std::string::npos) << row.name << run.out;
  }
  EXPECT_EQ(qz7::testkit::DbmU32(machine.ReadFile("C:\\I\\qz7systm"), 76), 300u);
}

}  // namespace
