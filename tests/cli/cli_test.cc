// The qz7inst exit-status contract and the commands that need no library operation, run as
// a child process the way an operator runs them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "base/dbm_fields.h"
#include "testkit/dbm_block_builder.h"
#include "testkit/temp_machine.h"
#include "testkit/tool_runner.h"

namespace {

using qz7::testkit::ToolRun;
using Json = nlohmann::json;

ToolRun RunCli(const std::vector<std::string>& args) {
  return qz7::testkit::RunTool(QZ7_CLI_PATH, args);
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
    ToolRun run = RunCli(row.args);
    EXPECT_EQ(run.exitCode, 2) << row.name;
    EXPECT_FALSE(run.err.empty()) << row.name;
    EXPECT_EQ(run.out.find("result:"), std::string::npos) << row.name;
  }
}

TEST(CliTest, HelpListsEveryCommand) {
  ToolRun run = RunCli({"--help"});
  EXPECT_EQ(run.exitCode, 0);
  for (const char* command : {"list", "demo", "create", "delete"}) {
    EXPECT_NE(run.out.find(command), std::string::npos) << command;
  }
}

TEST(CliTest, DemoBuildsAMachineAndListFindsItsInstances) {
  qz7::testkit::TempMachine scratch;
  const std::string root = scratch.root() + "/demo";
  ToolRun demo = RunCli({"demo", root});
  ASSERT_EQ(demo.exitCode, 0) << demo.err;
  EXPECT_EQ(demo.LastLine(), "result: 0");
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
  ToolRun list = RunCli({"--machine", root, "list", "c:\\qz7", "--json"});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  const Json found = Json::parse(list.out, nullptr, false);
  ASSERT_FALSE(found.is_discarded()) << list.out;
  EXPECT_EQ(found.value("priorRelease", 0), 6);
  std::vector<std::string> names, admins;
  for (const Json& instance : found.value("instances", Json::array())) {
    names.push_back(instance.value("name", ""));
    if (instance.value("adminServer", false)) admins.push_back(instance.value("name", ""));
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"QZ7", "QZ7DAS00", "SALES"}));
  EXPECT_EQ(admins, std::vector<std::string>{"QZ7DAS00"});
  EXPECT_FALSE(std::filesystem::exists(root + "/drives/c/QZ7PROF/SALES"));

  // The setup program's calls on the same machine, with a log file the library appends to.
  const std::string log = scratch.root() + "/setup.log";
  ToolRun create = RunCli({"--machine", root, "create", "--install", "C:\\QZ7", "--current",
                           "C:\\QZ7PROF", "--requested", "C:\\QZ7PROF", "--log", log,
                           "NEW:account=me:password=pw:default", "DAS:admin"});
  EXPECT_EQ(create.exitCode, 0) << create.err;
  EXPECT_EQ(create.LastLine(), "result: 0");

  // Discovery pointed the profile registry at the directory; list now finds it by itself.
  ToolRun again = RunCli({"--machine", root, "list"});
  EXPECT_EQ(again.exitCode, 0) << again.err;
  EXPECT_NE(again.out.find("SALES"), std::string::npos);

  // The migrations run again from the shell find the directories already current, and show
  // decodes the completed backup the demo's migration left.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"migrate-dbdir", "C:\\QZ7\\SALES", "C:\\QZ7"},
        std::vector<std::string>{"migrate-nodedir", "C:\\QZ7\\SALES"}}) {
    std::vector<std::string> full = {"--machine", root};
    full.insert(full.end(), args.begin(), args.end());
    ToolRun migrate = RunCli(full);
    EXPECT_EQ(migrate.exitCode, 0) << args[0] << migrate.err;
    EXPECT_EQ(migrate.LastLine(), "result: 0") << args[0];
  }
  ToolRun backup =
      RunCli({"--machine", root, "show", "C:\\QZ7\\SALES\\SQLNODIR\\SQLNDDIR.BAK", "--json"});
  EXPECT_EQ(backup.exitCode, 0) << backup.err;
  EXPECT_EQ(Json::parse(backup.out, nullptr, false).value("statusMeaning", ""), "completed")
      << backup.out;

  // Uninstalling drops every instance and removes the registry and the profile directory.
  ToolRun remove = RunCli(
      {"--machine", root, "delete", "--install", "C:\\QZ7", "--profile", "C:\\QZ7PROF", "--quiet"});
  EXPECT_EQ(remove.exitCode, 0) << remove.err;
  EXPECT_EQ(remove.LastLine(), "result: 0");
  ToolRun after = RunCli({"--machine", root, "list", "c:\\qz7prof"});
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
    ToolRun run = RunCli(args);
    EXPECT_EQ(run.exitCode, row.exitCode) << row.name;
    EXPECT_NE((run.out + run.err).find(row.expected), std::string::npos) << row.name << run.out;
  }
  EXPECT_EQ(qz7::testkit::DbmU32(machine.ReadFile("C:\\I\\qz7systm"), 76), 300u);
  const ToolRun json = RunCli({"--machine", machine.root(), "--json", "show", "C:\\I\\qz7systm"});
  const Json block = Json::parse(json.out, nullptr, false);
  ASSERT_TRUE(block.is_object()) << json.out;
  EXPECT_EQ(block.value("/checksum/matches"_json_pointer, false), true) << json.out;
}

// validate prints a verdict per record, in record order, and the result: a rejected record
// refuses the commit, usage errors print nothing, and the file changes only on a commit.
TEST(CliTest, ValidateVerdictsResultAndExitStatus) {
  qz7::testkit::TempMachine machine;
  const std::string config = "C:\\INST\\qz7systm";
  const auto original = qz7::testkit::DbmBlockBuilder()
                            .NodeType(1)
                            .Set(qz7::base::dbm::kParam12, 100)
                            .Set(qz7::base::dbm::kParam501, -1)
                            .Bytes();
  machine.WriteFile(config, original);
  const auto validate = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {"--machine", machine.root(), "validate"});
    const ToolRun run = RunCli(args);
    return run.out + "exit " + std::to_string(run.exitCode);
  };
  EXPECT_EQ(validate({config, "12=200", "4711=1", "7=A=B", "9999="}),
            "0 12 accepted\n1 4711 rejected\n2 7 rejected\n3 9999 accepted\nresult: -104\nexit 1");
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {config, "12"}, {config, "x=1"}, {config, "65536=1"}}) {
    EXPECT_EQ(validate(args), "exit 2") << args.size();
  }
  EXPECT_EQ(machine.ReadFile(config), original);
  EXPECT_EQ(validate({"C:\\INST\\nothere", "12=1"}), "result: -100\nexit 1");
  EXPECT_EQ(validate({config, "12=200", "40=yes", "9999="}),
            "0 12 accepted\n1 40 accepted\n2 9999 accepted\nresult: 0\nexit 0");
  EXPECT_EQ(qz7::testkit::DbmU32(machine.ReadFile(config), qz7::base::dbm::kParam12.offset), 200u);
}

}  // namespace
