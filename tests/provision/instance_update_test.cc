// Creating or updating one instance against the recording host, shell scripts standing in for
// the instance tools: the way each record takes, how failures are shown and logged, and the
// configuration kept safe around the work; the edges of the tools' command lines; creating an
// instance through the host services and stamping its qz7systm with the installed components
// and the machine facts (a failed stamping drops the instance again); and the default node name
// derived from the computer's name and the number of instances.
#include "provision/instance_update.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "host/host_services.h"
#include "host/instance_lifecycle.h"
#include "host/profile_registry.h"
#include "host/registry_access.h"
#include "platform/win_error.h"
#include "provision/admin_server.h"
#include "provision/instance_creation.h"
#include "provision/instance_tool_commands.h"
#include "provision/node_name.h"
#include "testkit/fault_injection.h"
#include "testkit/fault_points.h"
#include "testkit/host_os.h"
#include "testkit/message_recorder.h"
#include "testkit/recording_host.h"
#include "testkit/temp_machine.h"
#include "tools/sample/caller_host.h"
#include "tools/sample/dbm_block_builder.h"
#include "upgrade/saved_configuration.h"

namespace qz7::provision {
namespace {

using Bytes = std::vector<unsigned char>;
using Lines = std::vector<std::string>;

constexpr const char* kConfig = "C:\\PROF\\INST1\\qz7systm";

Bytes Config(uint16_t level) { return sample::DbmBlockBuilder().Level(level).Bytes(); }

class InstanceUpdateTest : public ::testing::Test {
 protected:
  // Target C:\PROF, server kind 1.
  ProvisionContext Context(std::span<const ExistingInstance> existing = {},
                           const char* current = "\"C:\\PROF\"",
                           const char* requested = "\"C:\\PROF\"",
                           const char* install = "\"C:\\QZ7\"") {
    return {.currentProfileDir = current,
            .requestedProfileDir = requested,
            .targetProfileDir = "\"C:\\PROF\"",
            .installDir = install,
            .serverType = 1,
            .existingInstances = existing,
            .logFile = messages_->logFile(),
            .messageModule = messages_->module(),
            .ownerWindow = messages_->owner()};
  }

  // An empty C:\PROF, fresh messages and a fresh recording host; the installation's templates
  // are configuration files of level 7.
  testkit::RecordingHost& NewHost() {
    std::filesystem::remove_all(machine_.HostPath("C:\\PROF"));
    machine_.MakeDirectory("C:\\PROF");
    machine_.MakeDirectory("C:\\QZ7\\BIN");
    messages_ = std::make_unique<testkit::MessageRecorder>();
    scoped_.reset();
    for (const char* file : {"qz7syssv", "qz7sysmp", "qz7syssv.das"})
      machine_.WriteFile(std::string("C:\\QZ7\\CFG\\") + file, Config(7));
    host_ = std::make_unique<testkit::RecordingHost>();
    // Wine has no file server (NetShareAdd answers 50): there the share a partitioned instance
    // needs is made by the recording host, which records the call and answers 0.
    if (testkit::RunningUnderWine()) host_->ScriptResult("CreateNetworkShare", 0);
    scoped_.emplace(host_.get());
    return *host_;
  }

  // The test helper under the tools' names in C:\QZ7\BIN (none with says null), taking its
  // steps from the environment: each overwrites C:\PROF\MPP\qz7systm if there is one, writes
  // says to its standard error and ends with exit code 7.
  void InstallScriptTools(const char* says) {
    const std::string steps =
        "--overwrite\n" + machine_.HostPath("C:\\PROF\\MPP\\qz7systm") +
        (says != nullptr && *says != '\0' ? "\n--say-error\n" + std::string(says) : std::string()) +
        "\n--exit\n7";
    SetHelperSteps(steps.c_str());
    for (const char* tool : {"QZ7NCRT.EXE", "QZ7ICRT.EXE", "QZ7IUPDT.EXE"}) {
      const std::string path = machine_.HostPath(std::string("C:\\QZ7\\BIN\\") + tool);
      std::filesystem::remove(path);
      if (says == nullptr) continue;
      std::filesystem::copy_file(
          std::string(QZ7_TEST_HELPER_DIR) + "/" + sample::ProgramFileName("qz7_test_helper"),
          path);
    }
  }
  // The tools' steps end with the test: the helper under another name takes them no more.
  void TearDown() override { SetHelperSteps(nullptr); }
  static void SetHelperSteps(const char* steps) {
#if defined(_WIN32)
    ASSERT_EQ(_putenv_s("QZ7_HELPER_OPTIONS", steps != nullptr ? steps : ""), 0);
#else
    ASSERT_EQ(
        steps != nullptr ? setenv("QZ7_HELPER_OPTIONS", steps, 1) : unsetenv("QZ7_HELPER_OPTIONS"),
        0);
#endif
  }

  testkit::TempMachine machine_;
  std::unique_ptr<testkit::MessageRecorder> messages_;
  std::unique_ptr<testkit::RecordingHost> host_;
  std::optional<testkit::ScopedHost> scoped_;
};

// Which way each record takes: the host calls it makes, and what it shows and logs when a
// tool (failing with 7) or the host fails. A qz7systm that was there comes out as it went in
// whatever the host or a tool wrote; one the host made without it is stamped; no numbered
// copy is left. A new partitioned instance whose tool fails, its output logged, is the new
// instances scenario's (its command line with a host the command line edges'); an instance
// that a stopped run made partitioned, and one listed only by the old index file made
// partitioned (set up first, so that the tool finds it defined), are the upgrade scenarios'
// instance-tools machine's, whose uninterrupted runs and reruns need both.
TEST_F(InstanceUpdateTest, EachRecordTakesItsWay) {
  machine_.NameComputer("TESTPC");
  for (const char* node : {"0", "11"}) {
    host::ScopedKey key;
    ASSERT_EQ(host::CreateKey(std::string(R"(SOFTWARE\ZAV\QZ7\PROFILES\MPP\NODES\)") + node, &key),
              0);
  }
  // clang-format off
  const std::string create = "InstanceCreateExtended(";
  const std::string admin = create + R"("QZ7DAS", ""C:\PROF"", ""C:\QZ7"", 1, )";
  const std::string adminNull = admin + "null, null, 1, -1, null)";
  const std::string mppCreate = create + R"("MPP", "C:\PROF", "C:\QZ7", 0, null, null, 0, )";
  const std::string record = R"(PRegValuePE(4, 32, null, "QZ7DAS", null, -1))";
  const std::string drop = R"(InstanceDrop("QZ7DAS", ""C:\PROF\QZ7DAS""))";
  const std::string del = R"(DeleteNetworkShare("QZ7-MPP", "TESTPC"))";
  const std::string share = R"(CreateNetworkShare("C:\PROF", "QZ7-MPP", "Everyone", "TESTPC"))";
  const auto change = [](const char* node, const char* program) { return std::string(
      "ChangeNTServiceConfig(\"MPP-") + node + "\", 0, -1, -1, -1, " + program +
      ", null, null, null, null, null, 0, <out:512>)"; };
  const char* quoted = R"(""C:\QZ7\bin\qz7syscs.exe"")";
  const char* unquoted = R"("C:\QZ7\bin\qz7syscs.exe")";
  const Lines services = {change("0", quoted), change("11", quoted)};
  const char* says = "no room for node 0";
  const std::string said = std::string(says) + "\n";
  const char* moved = "\"C:\\OLD\"";  // the current profile directory of a moved instance
  const std::vector<ExistingInstance> here = {{"MPP", 4}};
  const InstanceRequest mpp = {.name = "MPP", .nodeType = 4};
  const InstanceRequest remote = {.name = "MPP", .account = "svc", .password = "2", .nodeType = 4,
                                  .ownedElsewhere = 1, .nodeNumber = "2", .ownerComputer = "O"};
  // clang-format on
  const struct {
    const char* name;
    InstanceRequest request;
    std::vector<ExistingInstance> existing = {};
    // configBefore: C:\PROF\<name>\qz7systm exists before; logged: the context has a log.
    bool isAdminServer = false, configBefore = false, logged = true;
    const char* failing = nullptr;  // a host call that fails with -1006
    const char *current = "\"C:\\PROF\"", *requested = "\"C:\\PROF\"", *install = "\"C:\\QZ7\"";
    const char* says = "";  // what the failing tools write; null: there are none
    Lines calls = {};       // instance creations and drops, registry writes, shares, services
    Lines boxes = {};       // "id parameters", each also a line of the log
    Lines toolLog = {};     // logged after the message: command line, output
    int32_t result = 0;
  } cases[] = {
      // clang-format off
      // First, while no QZ7DAS is defined: only one this call made is dropped.
      {.name = "administration server not recorded: dropped", .request = {.name = "QZ7DAS"},
       .isAdminServer = true, .failing = "PRegValuePE", .calls = {adminNull, record, drop},
       .boxes = {"3598 -1974"}, .result = kAdminServerNotRecorded},
      {.name = "administration server, even a partitioned one", .request = {.name = "QZ7DAS",
       .account = "NT AUTHORITY\\LocalService", .nodeType = 4}, .isAdminServer = true,
       .calls = {admin + R"("NT AUTHORITY\LocalService", null, 1, -1, null))", record}},
      {.name = "administration server not created", .request = {.name = "QZ7DAS"},
       .isAdminServer = true, .failing = "InstanceCreateExtended", .calls = {adminNull},
       .boxes = {"3598 -1006"}, .result = -1006},
      {.name = "administration server there before, not recorded: kept",
       .request = {.name = "QZ7DAS"}, .isAdminServer = true, .configBefore = true,
       .failing = "PRegValuePE", .calls = {adminNull, record}, .boxes = {"3598 -1974"},
       .result = kAdminServerNotRecorded},
      {.name = "node of a remote instance that is here, unquoted installation", .request = remote,
       .existing = {{"mpp", 4}}, .install = "C:\\QZ7",
       .calls = {change("0", unquoted), change("11", unquoted)}},
      {.name = "account with a comma: refused, no tool run", .request = {.name = "MPP",
       .account = "a,b", .nodeType = 4}, .says = says, .boxes = {"5178 87"}, .result = 87},
      {.name = "node tool missing", .request = remote, .says = nullptr, .boxes = {"5202 2"},
       .result = 2},
      // What a failing tool says goes into the log with the password hidden as in its
      // command line.
      {.name = "tool repeats the password: hidden in its output too", .request = remote,
       .says = "logon svc,2 refused", .boxes = {"5206 7"},
       .toolLog = {R"("C:\QZ7\BIN\QZ7NCRT.EXE" /i:MPP /n:* "/u:svc,*" "/O:O")",
                   "logon svc,* refused\n"}, .result = 7},
      {.name = "tool fails without a log", .request = mpp, .logged = false, .says = says,
       .boxes = {"5182 7"}, .result = 7},
      {.name = "instance tool missing", .request = mpp, .says = nullptr, .boxes = {"5178 2"},
       .result = 2},
      {.name = "ordinary instance made partitioned: tool fails, services follow",
       .request = {.name = "MPP", .account = "svc", .nodeType = 4, .portRangeStart = "1",
       .portRangeEnd = "2"}, .existing = {{"MPP", 2}}, .configBefore = true, .says = says,
       .calls = services, .boxes = {"5294 7"},
       .toolLog = {R"("C:\QZ7\BIN\QZ7IUPDT.EXE" MPP  "/u:svc,," /r:1,2)", said}, .result = 7},
      // The first match counts, without regard to case; an old share may be missing.
      {.name = "moved partitioned instance: shared, services follow", .request = mpp,
       .existing = {{"Mpp", 4}, {"MPP", 1}}, .failing = "DeleteNetworkShare", .current = moved,
       .calls = {mppCreate + "4, null)", del, share, services[0], services[1]}},
      {.name = "share fails, services still follow", .request = mpp, .existing = here,
       .failing = "CreateNetworkShare", .current = moved,
       .calls = {mppCreate + "4, null)", del, share, services[0], services[1]},
       .boxes = {"3914 QZ7-MPP -1006"}, .result = -1006},
      {.name = "creation fails", .request = mpp, .existing = here, .configBefore = true,
       .failing = "InstanceCreateExtended", .current = moved,
       .calls = {mppCreate + "4, null)", services[0], services[1]},
       .boxes = {"3594 -1006 MPP"}, .result = -1006},
      {.name = "requested directory is the installation", .request = mpp, .existing = here,
       .requested = "\"C:\\QZ7\"", .calls = {mppCreate + "4, null)"}},
      {.name = "ordinary instance: the server kind, no share, no services",
       .request = {.name = "MPP"}, .existing = here, .current = moved,
       .calls = {mppCreate + "1, null)"}},
      {.name = "own profile directory", .request = {.name = "INST1", .profileDir = "\"C:\\OWN\""},
       .calls = {create + R"("INST1", "C:\OWN", "C:\QZ7", 0, null, null, 0, 1, null))"}},
      {.name = "two quotes: no profile directory of its own", .request = {.name = "INST1",
       .account = "NT AUTHORITY\\LocalService", .profileDir = "\"\""}, .configBefore = true,
       .calls = {create + R"("INST1", "C:\PROF", "C:\QZ7", 0, "NT AUTHORITY\LocalService", null, 0, 1, null))"}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testkit::RecordingHost& host = NewHost();
    if (c.failing != nullptr) host.ScriptResult(c.failing, -1006);
    InstallScriptTools(c.says);
    const std::string config = std::string("C:\\PROF\\") + c.request.name.c_str() + "\\qz7systm";
    if (c.configBefore) machine_.WriteFile(config, Config(1234));
    machine_.WriteText("C:\\PROF\\00000000.000", "mine");  // the first numbered name is taken
    ProvisionContext context = Context(c.existing, c.current, c.requested, c.install);
    if (!c.logged) context.logFile = nullptr;
    EXPECT_EQ(CreateOrUpdateInstance(context, c.request, c.isAdminServer), c.result);
    EXPECT_EQ(host.CallsTo({"InstanceCreateExtended", "InstanceDrop", "PRegValuePE",
                            "CreateNetworkShare", "DeleteNetworkShare", "ChangeNTServiceConfig"}),
              c.calls);
    Lines boxes, log;
    for (const testkit::MessageRecorder::Box& box : messages_->boxes()) {
      std::string shown = std::to_string(box.id) + (box.style == 0x10 ? "" : " not a stop");
      for (const std::string& param : box.params) shown += " " + param;
      boxes.push_back(shown);
      log.push_back(box.text);
    }
    EXPECT_EQ(boxes, c.boxes);
    log.insert(log.end(), c.toolLog.begin(), c.toolLog.end());
    EXPECT_EQ(messages_->LogLines(), c.logged ? log : Lines{});
    if (c.configBefore) {
      EXPECT_TRUE(machine_.ReadFile(config) == Config(1234));
    } else if (c.result == 0 && !c.isAdminServer && machine_.Exists(config)) {
      EXPECT_EQ(sample::DbmText(machine_.ReadFile(config), 1968, 9), "TESTPC");  // stamped
    }
    EXPECT_EQ(machine_.ReadFile("C:\\PROF\\00000000.000"), Bytes({'m', 'i', 'n', 'e'}));
    for (const std::string& entry : machine_.Entries("C:\\PROF"))
      EXPECT_TRUE(entry == "00000000.000" || entry == c.request.name.c_str()) << entry;
    if (machine_.Exists(std::string("C:\\PROF\\") + c.request.name.c_str())) {
      EXPECT_EQ(machine_.Entries(std::string("C:\\PROF\\") + c.request.name.c_str()),
                c.configBefore || machine_.Exists(config) ? Lines{"qz7systm"} : Lines{});
    }
  }
}

// Every file operation failing in turn: the record is left alone, with result 0, exactly when
// saving its configuration fails (putting back a copy an earlier run left, or the copy
// itself), and a saved copy left behind always holds the whole configuration. A qz7systm whose
// status cannot be read is saved all the same and the work goes on. What the next run makes of
// such a copy is the upgrade scenarios' failure loop's to check.
TEST_F(InstanceUpdateTest, FailingEachFileOperation) {
  const testkit::PointFault failing =
      testkit::Failing(platform::kErrorDiskFull, platform::kFileOperationKinds);
  const auto prepare = [&] {
    NewHost();
    machine_.WriteFile(kConfig, Config(1234));
  };
  // How many of the save's own operations, each failing in turn, make it fail.
  const auto failingPoints = [&](const std::function<bool()>& save) {
    bool saved = false;
    const auto run = [&] { saved = save(); };
    int failures = 0;
    testkit::FaultAtEveryPoint(
        testkit::CountOperations(prepare, run, platform::kFileOperationKinds), failing,
        {prepare, run, [&](uint64_t) { failures += saved ? 0 : 1; }});
    return failures;
  };
  const int savingFails =
      failingPoints([] { return upgrade::FinishSavedConfiguration("\"C:\\PROF\\INST1\""); }) +
      failingPoints([] { return !upgrade::SaveConfiguration("\"C:\\PROF\\INST1\"").empty(); });
  ASSERT_GE(savingFails, 2);  // at least the search for a free name and the copy itself

  bool untouched = false;
  int32_t result = 0;
  const auto run = [&] {
    untouched = false;
    result = CreateOrUpdateInstance(Context(), {.name = "INST1"}, false, &untouched);
  };
  int leftAlone = 0;
  const auto check = [&](uint64_t) {
    // Left alone exactly when the host was not asked: the caller is told it is not done.
    EXPECT_EQ(untouched, host_->calls().empty());
    if (host_->calls().empty()) {
      ++leftAlone;
      EXPECT_EQ(result, 0);
      EXPECT_EQ(machine_.Entries("C:\\PROF\\INST1"), Lines{"qz7systm"});
    }
    bool kept = machine_.ReadFile(kConfig) == Config(1234);
    for (const std::string& entry : machine_.Entries("C:\\PROF\\INST1"))
      kept |= entry != "qz7systm" && machine_.ReadFile("C:\\PROF\\INST1\\" + entry) == Config(1234);
    EXPECT_TRUE(kept);
  };
  const uint64_t operations = testkit::CountOperations(prepare, run, platform::kFileOperationKinds);
  check(0);  // the run without a fault
  testkit::FaultAtEveryPoint(operations, failing, {prepare, run, check});
  EXPECT_EQ(leftAlone, savingFails);
}

// The edges of the tools' command lines and of the password hidden in the logged copy.
TEST(InstanceToolCommandsTest, Edges) {
  const auto masked = [](std::string line, const char* password) {
    MaskPassword(line, password);
    return line;
  };
  const std::string longHost(1200, 'h');
  const struct {
    const char* name;
    std::string actual, expected;
  } cases[] = {
      // clang-format off
      {"null texts are empty", PartitionedCommandLine("T", "MPP", "", nullptr, nullptr, nullptr,
       nullptr, nullptr), "\"T\" MPP  \"/u:,,\" /r:,"},
      {"cut to the buffer", PartitionedCommandLine("T", "MPP", "/mpp", "a", "b", "1", "2",
       longHost.c_str()), ("\"T\" MPP /mpp \"/u:a,b\" /r:1,2 /h:" + longHost).substr(0, 1023)},
      {"quotes and backslashes escaped", NodeCreateCommandLine("T", "N", "1", "D\\a\"b",
       "p\\\"w\\", "O\\"), R"("T" /i:N /n:1 "/u:D\a\"b,p\\\"w\\" "/O:O\\")"},
      // Every place, after a comma or not, as given and as escaped.
      {"every place", masked("\"T\" /r:1,6000 \"/u:6000,6000\"", "6000"),
       "\"T\" /r:1,**** \"/u:****,****\""},
      {"escaped", masked(R"("T" "/u:a,p\"w\\")", "p\"w\\"), R"("T" "/u:a,******")"},
      {"a prefix is enough", masked("\"T\" /u:a,pwd\"", "pw"), "\"T\" /u:a,**d\""},
      {"longer than what follows", masked("\"T\" /u:a,pw", "pwd"), "\"T\" /u:a,pw"},
  };
  // clang-format on
  for (const auto& c : cases) EXPECT_EQ(c.actual, c.expected) << c.name;

  EXPECT_TRUE(CanCarryAccount("D\\a \"b\""));
  EXPECT_FALSE(CanCarryAccount("a,b"));
}

// A template as the installation ships it: its own values at every field the stamping writes.
Bytes Template(uint16_t nodeType, size_t size = 4096) {
  auto builder = sample::DbmBlockBuilder().NodeType(nodeType).Float(808, 0.5f).U32(3124, 512);
  return builder.Float(3120, 7.0f).Text(1968, 9, "TPLNODE").TruncateTo(size).Bytes();
}

// The stamped fields as "86 3124 808 3120 1968", "unchanged", or "dropped" when the instance
// directory went with the instance.
std::string Stamped(const testkit::TempMachine& machine, const Bytes& before) {
  if (!machine.Exists(kConfig)) return "dropped";
  const Bytes after = machine.ReadFile(kConfig);
  if (after == before) return "unchanged";
  if (!sample::DbmChecksumMatches(after)) return "wrong checksum";
  std::ostringstream text;
  text << sample::DbmU16(after, 86) << " " << sample::DbmU32(after, 3124) << " "
       << sample::DbmFloat(after, 808) << " " << sample::DbmFloat(after, 3120) << " "
       << sample::DbmText(after, 1968, 9);
  return text.str();
}

// CreateInstance on the stand-in runtime, whose templates are the file the test wrote: the
// stamped fields, and an instance that this call made but could not stamp dropped again.
TEST(StampingTest, ComponentsMachineFactsAndFailures) {
  const struct {
    const char* name;
    uint16_t nodeType;
    const char *join, *sentry;  // the component values, or null when absent
    const char* failing;        // a host call that fails with -31
    size_t size;
    int result;
    const char* stamped;
    bool definedBefore = false;
  } cases[] = {
      // clang-format off
      {"server, both components", 1, "1", "1", nullptr, 4096, 0, "1 2048 4e-06 7 TESTHOST"},
      {"partitioned: bandwidth too", 4, "1", "1", nullptr, 4096, 0, "1 2048 4e-06 100 TESTHOST"},
      {"type 5 never takes the join", 5, "1", nullptr, nullptr, 4096, 0, "0 512 4e-06 7 TESTHOST"},
      {"client with the join only", 2, "1", nullptr, nullptr, 4096, 0, "unchanged"},
      {"client with query sentry", 2, nullptr, "1", nullptr, 4096, 0, "0 2048 0.5 7 TPLNODE"},
      {"node name fails", 1, nullptr, nullptr, "ProIfInit", 4096, 0, "0 512 4e-06 7 TPLNODE"},
      {"creation fails: nothing to undo", 1, nullptr, nullptr, "InstanceCreateExtended", 4096, -31,
       "unchanged"},
      {"processor speed fails", 1, nullptr, "1", "Cpum", 4096, -31, "dropped"},
      {"bandwidth fails", 4, nullptr, "1", "GetCommBandwidth", 4096, -31, "dropped"},
      {"file one byte short", 1, nullptr, "1", nullptr, 4095, kConfigFileError, "dropped"},
      {"existing instance kept", 1, nullptr, "1", nullptr, 2000, kConfigFileError, "unchanged",
       true},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testkit::RecordedMachine recorded;  // a fresh registry for each case
    auto& [machine, host, scoped] = recorded;
    host.processorSpeed = 4e-6f;
    host.bandwidth = 100;
    machine.NameComputer("TESTHOST");
    const Bytes before = Template(c.nodeType, c.size);
    machine.WriteFile(kConfig, before);
    for (const host::InstanceTemplate& t : host::kInstanceTemplates)
      machine.WriteFile(std::string("C:\\QZ7\\CFG\\") + t.fileName, before);
    host::ScopedKey key;
    ASSERT_EQ(host::CreateKey(kComponentsKey, &key), 0);
    ASSERT_TRUE(!c.join || host::WriteText(key.get(), kDistributedJoinValue, c.join) == 0);
    ASSERT_TRUE(!c.sentry || host::WriteText(key.get(), kQuerySentryValue, c.sentry) == 0);
    if (c.definedBefore) {
      EXPECT_EQ(host::DefineInstance("INST1"), 0);
    }
    if (c.failing != nullptr) host.ScriptResult(c.failing, -31);
    EXPECT_EQ(CreateInstance("INST1", "\"C:\\PROF\"", "C:\\QZ7", "svc", "pw", 4), c.result);
    EXPECT_EQ(Stamped(machine, before), c.stamped);
    const bool created = std::string(c.failing ? c.failing : "") != "InstanceCreateExtended";
    EXPECT_EQ(host::IsInstanceDefined("INST1"), c.definedBefore || (created && c.result == 0));
    EXPECT_EQ(host.CountOf("InstanceDrop"), created && c.result != 0 && !c.definedBefore);
    const Lines putEnv = {"PutEnv(57, \"INST1\")", "PutEnv(59, \"\"C:\\PROF\"\")"};
    EXPECT_EQ(host.CallsTo("PutEnv"), created ? putEnv : Lines{});
  }
}

TEST(StampingTest, FailingEachFileOperation) {
  testkit::RecordedMachine recorded;
  const auto prepare = [&] { recorded.machine.WriteFile(kConfig, Template(1)); };
  int result = 0;
  const auto run = [&] { result = InitInstanceConfiguration(kConfig); };
  const uint64_t operations = testkit::CountOperations(prepare, run, platform::kFileOperationKinds);
  ASSERT_EQ(result, 0);
  ASSERT_GE(operations, 5u);  // open, read, seek, write, close
  testkit::FaultAtEveryPoint(
      operations, testkit::Failing(platform::kErrorDiskFull, platform::kFileOperationKinds),
      {prepare, run, [&](uint64_t) { EXPECT_EQ(result, kConfigFileError); }});
}

TEST(MakeDefaultNodeName, Table) {
  const std::string noDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_";
  const std::string noLowerD = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_";
  const struct {
    const char* name;
    int instances;            // defined as I1, I2, ...
    const char* adminServer;  // null: QZ7ADMINSERVER unset
    const char* computer;
    const std::string* charset;  // null: the host's own
    const char* expected;
    const char* failing = nullptr;  // a product query call that fails with -77
  } cases[] = {
      // clang-format off
      {"one instance: no suffix", 1, nullptr, "WORKSTATION1", nullptr, "WORKSTAT"},
      {"three besides the admin server", 4, "i2", "WORKSTATION1", nullptr, "WORKSTA2"},
      {"admin server name only a prefix", 4, "I", "WORKSTATION1", nullptr, "WORKSTA3"},
      {"eleven instances: two-digit suffix", 11, nullptr, "WORKSTATION1", nullptr, "WORKST10"},
      // At most 15 characters: Windows keeps no longer computer name.
      {"first label, outside characters", 0, nullptr, "a-b+c.example", nullptr, "A_B_C"},
      {"first character is never replaced", 0, nullptr, "1x", &noLowerD, "dX"},
      {"suffix digit outside the set", 2, nullptr, "HOST", &noDigits, "HOST_"},
      {"name that is only a point", 0, nullptr, ".lan", nullptr, "d"},
      // A failed product query leaves the name alone and ends the query if it was begun.
      {"init fails", 0, nullptr, "HOST", nullptr, "unset", "ProIfInit"},
      {"query fails", 0, nullptr, "HOST", nullptr, "unset", "ProIfQuery"},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testkit::RecordedMachine recorded;
    auto& [machine, host, scoped] = recorded;
    for (int i = 1; i <= c.instances; ++i)
      EXPECT_EQ(host::DefineInstance("I" + std::to_string(i)), 0);
    if (c.adminServer) {
      EXPECT_EQ(host::WriteProfileVariable(host::kGlobalProfile, "QZ7ADMINSERVER", c.adminServer),
                0);
    }
    machine.NameComputer(c.computer);
    if (c.charset) host.permittedCharset = *c.charset;
    if (c.failing) host.ScriptResult(c.failing, -77);
    char out[kNodeNameSize] = "unset";
    EXPECT_EQ(MakeDefaultNodeName(out), c.failing ? -77 : 0);
    EXPECT_STREQ(out, c.expected);
    EXPECT_EQ(host.CallsTo("ProIfInit"), Lines{"ProIfInit(3)"});
    EXPECT_EQ(host.CountOf("ProIfTerm"), host.CountOf("ProIfQuery"));  // ended if begun
  }
}

}  // namespace
}  // namespace qz7::provision
