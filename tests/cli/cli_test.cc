// The qz7inst exit-status contract and the commands that need no library operation, run as
// a child process the way an operator runs them.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/dbm_fields.h"
#include "host/profile_registry.h"
#include "platform/file_system.h"
#include "platform/machine_root.h"
#include "testkit/scenario_machines.h"
#include "testkit/temp_machine.h"
#include "tests/cli/cli_run.h"
#include "tools/sample/dbm_block_builder.h"
#include "tools/sample/sample_machine.h"

namespace {

using qz7::cli::Json;
using qz7::cli::ParseJson;
using qz7::cli::RunCli;
using qz7::cli::ToolRun;
using qz7::sample::SampleMachine;
using qz7::testkit::OldInstance;
using qz7::testkit::ReadHostFile;
using qz7::testkit::WriteHostFile;

// Every file below a host directory with its contents, to tell whether anything changed.
std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    files[entry.path().string()] = ReadHostFile(entry.path().string());
  }
  return files;
}

bool WindowsPathExists(const std::string& path, bool directory) {
  qz7::platform::FileStatus status;
  return qz7::platform::GetFileStatus(path.c_str(), &status) == 0 &&
         (directory ? status.isDirectory : status.isRegular);
}

// demo --sample-only builds the sample machine and stops; create sets it up as demo itself
// does, and list then finds what it made.
TEST(CliTest, DemoMachineIsSetUpAndTheCommandsWorkOnIt) {
  qz7::testkit::TempMachine scratch;
  const std::string root = scratch.root() + "/sample";
  const ToolRun sample = RunCli({"demo", "--sample-only", root});
  ASSERT_EQ(sample.exitCode, 0) << sample.err;
  EXPECT_FALSE(std::filesystem::exists(root + "/drives/c/QZ7/QZ7"));
  const ToolRun setUp = RunCli({"--machine", root, "create", "--quiet", "--install", "C:\\QZ7",
                                "--current", "C:\\QZ7PROF", "--requested", "C:\\QZ7PROF"});
  EXPECT_EQ(setUp.out, "result: 0\n");

  // The instances moved into the installation's profile directory, converted to the release;
  // discovery pointed the profile registry at it, so list finds it by itself.
  ToolRun list = RunCli({"--machine", root, "list", "--json"});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  const Json listed = ParseJson(list.out);
  EXPECT_EQ(listed.value("priorRelease", 0), 6);
  std::map<std::string, std::string> roles;
  for (const Json& instance : listed.value("instances", Json::array())) {
    EXPECT_EQ(instance.value("configLayout", ""), "0x900");
    EXPECT_EQ(instance.value("directory", ""), "C:\\QZ7\\" + instance.value("name", ""));
    roles[instance.value("name", "")] = instance.value("adminServer", false) ? "admin"
                                        : instance.value("default", false)   ? "default"
                                                                             : "";
  }
  EXPECT_EQ(roles, (std::map<std::string, std::string>{
                       {"QZ7", "default"}, {"SALES", ""}, {"QZ7DAS00", "admin"}}));
  EXPECT_FALSE(std::filesystem::exists(root + "/drives/c/QZ7PROF/SALES"));

  // Uninstalling, with a log file the library appends to, drops every instance.
  ToolRun remove = RunCli({"--machine", root, "delete", "--install", "C:\\QZ7", "--profile",
                           "C:\\QZ7PROF", "--log", scratch.root() + "/setup.log", "--quiet"});
  EXPECT_EQ(remove.exitCode, 0) << remove.err;
  EXPECT_EQ(remove.LastLine(), "result: 0");
  EXPECT_EQ(RunCli({"--machine", root, "list", "c:\\qz7prof"}).out.find("SALES"),
            std::string::npos);
}

// Usage errors exit 2 with a message and no result; show and convert-config on blocks of
// every sort.
TEST(CliTest, ExitStatusAndMessageOfEachCommand) {
  qz7::testkit::TempMachine machine;
  using qz7::sample::DbmBlockBuilder;
  machine.WriteFile("C:\\I\\OLD",
                    DbmBlockBuilder().Version(0x800).NodeType(1).U32(76, 300).Bytes());
  machine.WriteFile("C:\\I\\qz7systm", DbmBlockBuilder().NodeType(4).Float(3120, 1.25f).Bytes());
  machine.WriteFile("C:\\I\\V700", DbmBlockBuilder().Version(0x700).Bytes());
  machine.WriteFile("C:\\I\\BAD", DbmBlockBuilder().WrongChecksum(5).Bytes());
  const std::string m = machine.root();
  const struct {
    const char* name;
    int exitCode;
    std::vector<const char*> expected;  // texts the output must hold
    std::vector<std::string> args;
  } rows[] = {
      // clang-format off
      {"create_unknown_part", 2, {}, {"--machine", m, "create", "--install", "C:\\I", "A:x"}},
      {"convert_usage", 2, {"usage"}, {"--machine", m, "convert-config", "C:\\I\\qz7systm"}},
      {"help", 0, {"list", "demo", "create", "delete"}, {"--help"}},
      {"show_block", 0, {"    3120      4  f32   1.25\n"},
       {"--machine", m, "show", "C:\\I\\qz7systm"}},
      {"show_wrong_checksum", 0, {"MISMATCH"}, {"--machine", m, "show", "C:\\I\\BAD"}},
      {"show_missing", 1, {"cannot read"}, {"--machine", m, "show", "C:\\I\\NONE"}},
      {"convert_bad_version", 1, {"result: -101"},
       {"--machine", m, "convert-config", "C:\\I\\qz7systm", "C:\\I\\V700"}},
      {"convert", 0, {"result: 0"},
       {"--machine", m, "convert-config", "C:\\I\\qz7systm", "C:\\I\\OLD"}},
      // clang-format on
  };
  for (const auto& row : rows) {
    ToolRun run = RunCli(row.args);
    EXPECT_EQ(run.exitCode, row.exitCode) << row.name;
    for (const char* expected : row.expected) {
      const std::string said = row.exitCode == 0 ? run.out : run.out + run.err;
      EXPECT_NE(said.find(expected), std::string::npos) << row.name << run.out;
    }
    EXPECT_TRUE(row.exitCode != 2 ||
                (!run.err.empty() && run.out.find("result:") == std::string::npos))
        << row.name;
  }
  EXPECT_EQ(qz7::sample::DbmU32(machine.ReadFile("C:\\I\\qz7systm"), 76), 300u);
}

// list writes valid JSON whatever bytes the machine's names and paths hold: texts in the
// machine's code page come out as UTF-8, a byte that is no character of it as U+FFFD. show and
// create --check write their texts through the same JSON values.
TEST(CliTest, JsonOutputsAreValidInTheMachinesCodePage) {
  // The old instances' directory and the instance names in the code page, and as JSON must
  // give them; the names in the order the registry lists them. Instance names are single-byte:
  // double-byte characters come in the paths and files.
  const struct {
    const char *name, *codePage;
    std::string profileDir, profileDirUtf8;
    std::vector<std::string> names, utf8;
  } rows[] = {
      // clang-format off
      {"windows_1252", "1252", "C:\\PROF\xC9", "C:\\PROF\u00C9", {"A'B", "CAF\xC9", "\x80X\x81"},
       {"A'B", "CAF\u00C9", "\u20ACX\uFFFD"}},
      {"shift_jis", "932", "C:\\\x83\x65\x83\x58\xB1", "C:\\\u30C6\u30B9\uFF71", {"QZ7", "SALES"},
       {"QZ7", "SALES"}},
      // clang-format on
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    qz7::testkit::TempMachine scratch;
    SampleMachine plan = qz7::testkit::CurrentInstallation();
    plan.profileDir = row.profileDir;
    for (const std::string& name : row.names) plan.instances.push_back({.name = name});
    const std::string root = scratch.root() + "/machine";
    WriteHostFile(root + "/codepage.txt", std::string(row.codePage) + "\n");
    qz7::sample::BuildSampleMachine(root, plan);

    ToolRun list = RunCli({"--machine", root, "list", row.profileDir, "--json"});
    ASSERT_EQ(list.exitCode, 0) << list.err;
    const Json listed = ParseJson(list.out);
    EXPECT_EQ(listed.value("profileDir", ""), row.profileDirUtf8);
    std::vector<std::string> names, directories;
    for (const Json& instance : listed.value("instances", Json::array())) {
      names.push_back(instance.value("name", ""));
      directories.push_back(instance.value("directory", ""));
      EXPECT_EQ(instance.value("configLayout", ""), "0x800");
    }
    EXPECT_EQ(names, row.utf8);
    EXPECT_EQ(directories.front(), row.profileDirUtf8 + "\\" + row.utf8.front());
  }
}

// create --check on the machines of the scenario suite and on damaged ones: it changes no file
// of the machine root; where nothing stops it, the real create then does what it planned,
// instance for instance; where something does, the check exits 1 naming it and create fails.
struct CheckRow {
  const char* name;
  const char* wantBlocker;  // a text one blocker holds ("": none stops the run)
  std::function<void(SampleMachine&)> prepare;
  std::vector<std::string> instances = {};  // create's INSTANCE arguments
  bool upgrade = true;                      // instances move from C:\QZ7PROF into C:\QZ7
  const char* blockedResult = "result: 1";  // create's last line when the check is blocked
};

void AddOlds(SampleMachine& plan, const std::vector<OldInstance>& olds) {
  for (const OldInstance& old : olds) qz7::testkit::AddOldInstance(plan, old, "C:\\QZ7PROF");
}

// Makes the instance a partitioned one (two nodes) owned by the computer named owner.
void SetOwner(qz7::sample::SampleInstance& instance, const std::string& owner) {
  instance.portRange = "60000-60003";
  instance.owner = owner;
  instance.nodes = {"0", "1"};
}

// The path a file of the plan has once the instance moved.
std::string AfterMove(const std::string& path, const Json& instance) {
  const Json& move = instance["move"];
  if (move.is_null()) return path;
  const std::string from = move.value("from", "");
  return path.rfind(from, 0) == 0 ? move.value("to", "") + path.substr(from.size()) : path;
}

// Names compare without regard to case (a request may name an instance in another case).
std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The node type of the configuration file at a Windows path of the machine in force; 0 when
// it cannot be read.
uint16_t ConfigNodeType(const std::string& path) {
  const std::optional<std::string> host = qz7::platform::HostPathOf(path.c_str());
  if (!host || !std::filesystem::is_regular_file(*host)) return 0;
  const std::string bytes = ReadHostFile(*host);
  const std::vector<unsigned char> block(bytes.begin(), bytes.end());
  return block.size() < 42 ? 0 : qz7::sample::DbmU16(block, 40);
}

// The real run did to one instance what the plan said: the stages ran (the upgrade exactly
// when the plan names a template), the configuration took the kind of the template the plan
// named, the directory is where the plan put it, and each directory the plan migrates has
// its migration backup. What the migrations and the upgrade make of the files is the scenario
// suite's to check.
void ExpectPlanCarriedOut(const Json& instance, const ToolRun& create) {
  const std::string name = Upper(instance.value("name", ""));
  SCOPED_TRACE(name);
  EXPECT_NE(Upper(create.out).find(name + " CREATE OR UPDATE: DONE\n"), std::string::npos);
  const Json& planned = instance["configTemplate"];
  const std::string templateFile = planned.is_string() ? planned.get<std::string>() : "";
  const bool upgraded = Upper(create.out).find(name + " UPGRADE: DONE\n") != std::string::npos;
  EXPECT_EQ(upgraded, !templateFile.empty()) << "planned template: " << templateFile;
  if (!upgraded || templateFile.empty()) return;
  const std::string directory = instance.value("directory", "");
  const std::string base = templateFile.substr(templateFile.rfind('\\') + 1);
  EXPECT_EQ(ConfigNodeType(directory + "\\qz7systm"), qz7::sample::TemplateNodeType(base))
      << "converted into another template than " << templateFile;
  EXPECT_TRUE(WindowsPathExists(directory, true));
  if (!instance["move"].is_null()) {
    EXPECT_EQ(instance["move"].value("to", ""), directory);
    EXPECT_FALSE(WindowsPathExists(instance["move"].value("from", ""), true));
  }
  std::vector<std::pair<Json, const char*>> steps;
  for (const Json& step : instance.value("databaseDirectories", Json::array()))
    steps.emplace_back(step, "\\SQLDDDIR.BAK");
  if (instance["nodeDirectory"].is_object())
    steps.emplace_back(instance["nodeDirectory"], "\\SQLNDDIR.BAK");
  for (const auto& [step, backup] : steps) {
    const std::string path = AfterMove(step.value("path", ""), instance);
    EXPECT_TRUE(WindowsPathExists(path, false)) << path;
    if (step.value("action", "") == "migrate") {
      EXPECT_TRUE(WindowsPathExists(path.substr(0, path.rfind('\\')) + backup, false)) << path;
    }
  }
}

TEST(CliTest, CreateCheckChangesNothingAndPlansWhatCreateDoes) {
  using qz7::testkit::MakeOldInstance;
  const OldInstance sales = MakeOldInstance("SALES", {.seed = 7});
  const CheckRow rows[] = {
      // clang-format off
      {"index_file_release_with_drive_root_directories", "", [](SampleMachine& plan) {
         plan.drives = {'C', 'D', 'E'};
         plan.driveTypes['D'] = "removable";
         plan.indexFile = true;
         OldInstance sales = MakeOldInstance(
             "SALES", {.seed = 1, .version = 0x600, .databaseLayout = 2, .nodeLayout = 1});
         OldInstance hr = MakeOldInstance(
             "HR", {.seed = 2, .version = 0x600, .databaseLayout = 1, .nodeLayout = 0});
         for (const OldInstance& old : {sales, hr}) {
           OldInstance inProfile = old;
           inProfile.databaseDirectory.clear();
           qz7::testkit::AddOldInstance(plan, inProfile, "C:\\QZ7PROF", /*inRegistry=*/false);
         }
         qz7::testkit::AddOldDatabaseDirectory(plan, sales, "C:");
         qz7::testkit::AddOldDatabaseDirectory(plan, hr, "E:");
         qz7::testkit::AddOldDatabaseDirectory(plan, MakeOldInstance("SALES", {.seed = 5}), "D:");
       }},
      // The administration server's template is of another kind than the server's, so that
      // the file the run leaves tells which of the two the check planned for it.
      {"new_instances_and_an_administration_server", "", [](SampleMachine& plan) {
         plan.templates = {"qz7syssv", "qz7syssr.das", "qz7sysmp"};
       }, {"NEW:account=me:password=pw:default", "DAS:admin", "PART:ports=60000-60003"}, false},
      {"requested_again_and_admin_server_dropped", "", [&](SampleMachine& plan) {
         AddOlds(plan, {sales, MakeOldInstance("QZ7DAS00", {.seed = 3})});
         plan.adminServer = "QZ7DAS00";
       }, {"sales:default"}},
      {"configuration_of_an_unknown_layout", "layout 0x500 not recognised",
       [&](SampleMachine& plan) {
         OldInstance unknown = sales;
         unknown.config = qz7::sample::DbmBlockBuilder().Version(0x500).Bytes();
         AddOlds(plan, {unknown});
       }},
      {"no_server_template", "no template configuration", [&](SampleMachine& plan) {
         plan.templates = {"qz7syssv.das"};
         AddOlds(plan, {sales});
       }},
      {"damaged_backup", "damaged node directory migration backup", [&](SampleMachine& plan) {
         AddOlds(plan, {sales});
         plan.files.push_back(
             {"C:\\QZ7PROF\\SALES\\SQLNODIR\\SQLNDDIR.TMP", std::vector<unsigned char>(120, 'x')});
       }},
      // Names the host refuses: the instance fails, with a message.
      {"names_with_a_star_a_question_mark_a_quote_a_tab", "cannot be an instance", nullptr,
       {"A*", "A?", "A\"B", "A\tB"}, false},
      // A node another computer owns is not moved; the upgrade converts it where it is, into
      // the partitioned template, and not at all once the others moved away from it.
      {"node_of_another_computer_in_place", "", [&](SampleMachine& plan) {
         plan.profileDir = "C:\\QZ7";
         qz7::testkit::AddOldInstance(plan, MakeOldInstance("NODE2", {.seed = 6}), "C:\\QZ7");
         SetOwner(plan.instances.back(), "OTHERPC");
       }, {}, false},
      {"node_of_another_computer_left_behind", "", [&](SampleMachine& plan) {
         AddOlds(plan, {sales, MakeOldInstance("NODE2", {.seed = 6})});
         SetOwner(plan.instances.back(), "OTHERPC");
       }},
      // An index file that is there but cannot be read (a folder of that name) would hide the
      // instances it lists: the run changes nothing.
      {"index_file_unreadable", "could not be read", [&](SampleMachine& plan) {
         AddOlds(plan, {sales});
         plan.files.push_back({"C:\\QZ7PROF\\QZ7IDIR\\HELD", {'x'}});
       }, {}, true, "result: -9"},
      // clang-format on
  };
  for (const CheckRow& row : rows) {
    SCOPED_TRACE(row.name);
    qz7::testkit::TempMachine scratch;
    SampleMachine plan = qz7::testkit::CurrentInstallation(QZ7_CLI_PATH);
    if (row.prepare) row.prepare(plan);
    const std::string root = scratch.root() + "/machine";
    qz7::sample::BuildSampleMachine(root, plan);
    std::vector<std::string> args = {"--machine", root, "create", "--install", "C:\\QZ7"};
    if (row.upgrade)
      args.insert(args.end(), {"--current", "C:\\QZ7PROF", "--requested", "C:\\QZ7PROF"});
    args.insert(args.end(), row.instances.begin(), row.instances.end());
    std::vector<std::string> checkArgs = args;
    checkArgs.insert(checkArgs.begin() + 3, "--check");

    const auto before = Snapshot(root);
    ToolRun text = RunCli(checkArgs);
    checkArgs.push_back("--json");
    ToolRun check = RunCli(checkArgs);
    EXPECT_EQ(Snapshot(root), before) << "the check changed the machine";
    const Json planned = ParseJson(check.out);
    const bool blocked = row.wantBlocker[0] != '\0';
    EXPECT_EQ(check.exitCode, blocked ? 1 : 0) << check.out;
    EXPECT_EQ(text.exitCode, check.exitCode);
    EXPECT_EQ(planned.value("wouldRun", blocked), !blocked);
    // Each blocker is named in the text as well; an instance whose name stops the run is
    // not reported done by create.
    std::string blockers;
    std::vector<std::string> namesRefused;
    // True when one of the blockers is the row's; an instance's refused name is noted.
    const auto collect = [&](const Json& list, const std::string& instance) {
      bool hit = false;
      for (const Json& json : list) {
        const std::string blocker = json.get<std::string>();
        blockers += blocker + "\n";
        hit |= blocker.find(row.wantBlocker) != std::string::npos;
        EXPECT_NE(text.out.find(blocker), std::string::npos) << text.out;
        if (blocker.rfind("name ", 0) == 0) namesRefused.push_back(instance);
      }
      return hit ? 1u : 0u;
    };
    size_t blockedInstances = collect(planned.value("blockers", Json::array()), "");
    for (const Json& instance : planned.value("instances", Json::array()))
      blockedInstances +=
          collect(instance.value("blockers", Json::array()), instance.value("name", ""));
    if (blocked) {
      // Every instance a row names for its blocker is stopped by it.
      EXPECT_GE(blockedInstances, row.prepare ? 1 : row.instances.size()) << blockers;
      // What stops the run is not also planned as done.
      EXPECT_EQ(text.out.find("restored and done again"), std::string::npos) << text.out;
    } else {
      EXPECT_EQ(blockers, "");
      EXPECT_NE(text.out.find("check: nothing would stop the run"), std::string::npos);
    }

    ToolRun create = RunCli(args);
    EXPECT_EQ(create.err, "") << "the library wrote to standard error";
    EXPECT_EQ(create.LastLine(), blocked ? row.blockedResult : "result: 0") << create.out;
    for (const std::string& name : namesRefused)
      EXPECT_EQ(create.out.find(name + " create or update: done"), std::string::npos) << create.out;
    if (blocked) continue;
    std::vector<std::string> defined;
    ASSERT_EQ(qz7::host::ListInstances(&defined), 0);
    std::set<std::string> definedNames, plannedNames;
    for (const std::string& name : defined) definedNames.insert(Upper(name));
    for (const Json& instance : planned.value("instances", Json::array())) {
      if (instance.value("action", "") == "drop") continue;
      plannedNames.insert(Upper(instance.value("name", "")));
      ExpectPlanCarriedOut(instance, create);
    }
    EXPECT_EQ(definedNames, plannedNames);
  }
}

// validate prints a verdict per record, in record order, and the result: a rejected record
// refuses the commit, usage errors print nothing, and the file changes only on a commit.
TEST(CliTest, ValidateVerdictsResultAndExitStatus) {
  qz7::testkit::TempMachine machine;
  const std::string config = "C:\\INST\\qz7systm";
  const auto original = qz7::sample::DbmBlockBuilder()
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
  EXPECT_EQ(validate({config, "65536=1"}), "exit 2");  // a usage error: no verdict, no result
  EXPECT_EQ(machine.ReadFile(config), original);
  EXPECT_EQ(validate({config, "12=200", "40=yes", "9999="}),
            "0 12 accepted\n1 40 accepted\n2 9999 accepted\nresult: 0\nexit 0");
  EXPECT_EQ(qz7::sample::DbmU32(machine.ReadFile(config), qz7::base::dbm::kParam12.offset), 200u);
}

}  // namespace
