// Creating or updating one instance against the recording host, with shell scripts standing
// in for the instance tools: the way each record takes, the configuration kept safe around
// the work, the messages and log lines of failures, the share and the node services.
#include "provision/instance_update.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "host/registry_access.h"
#include "platform/fault_injection.h"
#include "platform/win_error.h"
#include "provision/admin_server.h"
#include "testkit/dbm_block_builder.h"
#include "testkit/recording_host.h"
#include "tests/provision/provision_fixture.h"

namespace qz7::provision {
namespace {

using Bytes = std::vector<unsigned char>;
using Lines = std::vector<std::string>;

constexpr const char* kConfig = "C:\\PROF\\INST1\\qz7systm";

Bytes Config(uint16_t level) { return testkit::DbmBlockBuilder().Level(level).Bytes(); }

class InstanceUpdateTest : public ProvisionFixture {
 protected:
  // The host writes a configuration file of level 7 for every instance it creates.
  void WriteConfigOnCreate(testkit::RecordingHost& host) {
    host.onInstanceCreate = [this](const std::string& name, const std::string& directory) {
      machine_->WriteFile(directory + "\\" + name + "\\qz7systm", Config(7));
      return 0;
    };
  }

  // Empties C:\PROF and forgets which scripts ran.
  void ResetMachine() {
    std::filesystem::remove_all(machine_->HostPath("C:\\PROF"));
    machine_->MakeDirectory("C:\\PROF");
    for (const char* tool : {"QZ7NCRT.EXE", "QZ7ICRT.EXE", "QZ7IUPDT.EXE"}) {
      std::filesystem::remove(machine_->root() + "/ran-" + tool);
    }
  }
};

TEST_F(InstanceUpdateTest, EachKindOfRecordTakesItsWay) {
  for (const char* tool : {"QZ7NCRT.EXE", "QZ7ICRT.EXE", "QZ7IUPDT.EXE"})
    InstallScriptTool(tool, 0);
  struct Case {
    const char* name;
    RequestSpec request;
    std::vector<ExistingInstance> existing;
    bool isAdminServer;
    Lines creates;  // the host's instance creations
    const char* tool;
    std::string arguments;
  };
  const std::string create = "InstanceCreateExtended(";
  const std::string admin = create + R"("QZ7DAS", ""C:\PROF"", ""C:\QZ7"", 1, )";
  const RequestSpec mpp = {.name = "MPP", .nodeType = 4};
  // clang-format off
  const Case cases[] = {
      {"administration server", {.name = "QZ7DAS", .nodeType = 1}, {}, true,
       {admin + R"("svc", "pw", 1, -1, null))"}, nullptr, ""},
      {"administration server that exists, no account",
       {.name = "QZ7DAS", .account = "", .password = "", .nodeType = 1},
       {Existing("QZ7DAS", 1)}, true, {admin + "null, null, 1, -1, null)"}, nullptr, ""},
      {"partitioned administration server is still one", {.name = "QZ7DAS", .nodeType = 4}, {},
       true, {admin + R"("svc", "pw", 1, -1, null))"}, nullptr, ""},
      {"node of a remote instance", {.name = "MPP", .nodeType = 4, .ownedElsewhere = 1,
       .nodeNumber = "3", .ownerComputer = "OWNERPC"}, {}, false, {},
       "QZ7NCRT.EXE", "/i:MPP|/n:3|/u:svc,pw|/O:OWNERPC"},
      {"node of a remote instance that is here already",
       {.name = "MPP", .nodeType = 4, .ownedElsewhere = 1, .nodeNumber = "3"},
       {Existing("mpp", 4)}, false, {}, nullptr, ""},
      {"new partitioned instance", mpp, {Existing("OTHER", 1)}, false, {},
       "QZ7ICRT.EXE", "MPP|/mpp|/u:svc,pw|/r:60000,60003"},
      {"new partitioned instance with a host, empty password",
       {.name = "MPP", .password = "", .nodeType = 4, .hostName = "node1"}, {}, false, {},
       "QZ7ICRT.EXE", "MPP|/mpp|/u:svc,,|/r:60000,60003|/h:node1"},
      {"ordinary instance becomes partitioned", {.name = "MPP", .nodeType = 4,
       .hostName = "node1"}, {Existing("MPP", 1)}, false, {},
       "QZ7IUPDT.EXE", "MPP|/u:svc,pw|/r:60000,60003|/h:node1"},
      {"partitioned instance that is partitioned already (first match counts)", mpp,
       {Existing("Mpp", 4), Existing("MPP", 1)}, false,
       {create + R"("MPP", "C:\PROF", "C:\QZ7", 0, "svc", "pw", 0, 4, null))"}, nullptr, ""},
      {"ordinary instance: the server kind", {.name = "INST1", .account = "", .password = ""},
       {}, false, {create + R"("INST1", "C:\PROF", "C:\QZ7", 0, null, null, 0, 1, null))"},
       nullptr, ""},
      {"own profile directory", {.name = "INST1", .profileDir = "\"C:\\OWN\""},
       {Existing("INST1", 1)}, false,
       {create + R"("INST1", "C:\OWN", "C:\QZ7", 0, "svc", "pw", 0, 1, null))"}, nullptr, ""},
      {"two quotes: no profile directory of its own", {.name = "INST1", .profileDir = "\"\""},
       {}, false, {create + R"("INST1", "C:\PROF", "C:\QZ7", 0, "svc", "pw", 0, 1, null))"},
       nullptr, ""},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetMachine();
    testkit::RecordingHost host;
    testkit::ScopedHost scoped(&host);
    WriteConfigOnCreate(host);
    existing_ = c.existing;
    EXPECT_EQ(CreateOrUpdateInstance(Context(), MakeRequest(c.request), c.isAdminServer), 0);
    EXPECT_EQ(host.CallsTo("InstanceCreateExtended"), c.creates);
    for (const char* tool : {"QZ7NCRT.EXE", "QZ7ICRT.EXE", "QZ7IUPDT.EXE"}) {
      const bool ran = c.tool != nullptr && std::string(c.tool) == tool;
      EXPECT_EQ(ToolArguments(tool), ran ? c.arguments : "not run") << tool;
    }
    EXPECT_EQ(host.CountOf("PRegValuePE"), c.isAdminServer ? 1 : 0);
    EXPECT_EQ(boxes_, Lines{});
  }
}

// Whatever the host or a tool writes into an existing qz7systm, it comes out as it went in,
// and the saved copy is gone. Without a qz7systm nothing is saved or put back.
TEST_F(InstanceUpdateTest, ConfigurationComesOutAsItWentIn) {
  const std::string clobber = "printf garbage > '" + machine_->HostPath(kConfig) + "'";
  InstallScriptTool("QZ7ICRT.EXE", 0, clobber);
  InstallScriptTool("QZ7IUPDT.EXE", 9, clobber);
  struct Case {
    const char* name;
    bool configBefore;
    RequestSpec request;
    std::vector<ExistingInstance> existing;
    bool isAdminServer;
    int32_t result;
    Lines profileEntries;  // C:\PROF afterwards
    bool stampedAfter;     // qz7systm afterwards: the host's, stamped (else: as before)
  };
  const Case cases[] = {
      {"created by the host", true, {}, {}, false, 0, {"INST1"}, false},
      {"administration server", true, {}, {}, true, 0, {"INST1"}, false},
      {"overwritten by a tool", true, {.nodeType = 4}, {}, false, 0, {"INST1"}, false},
      {"overwritten by a failing tool",
       true,
       {.nodeType = 4},
       {Existing("INST1", 1)},
       false,
       9,
       {"INST1"},
       false},
      {"a numbered name is taken", true, {}, {}, false, 0, {"00000000.000", "INST1"}, false},
      {"no qz7systm: none saved", false, {}, {}, false, 0, {"INST1"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetMachine();
    testkit::RecordingHost host;
    testkit::ScopedHost scoped(&host);
    WriteConfigOnCreate(host);
    existing_ = c.existing;
    if (c.configBefore) machine_->WriteFile(kConfig, Config(1234));
    if (c.profileEntries.size() == 2) machine_->WriteText("C:\\PROF\\00000000.000", "mine");
    EXPECT_EQ(CreateOrUpdateInstance(Context(), MakeRequest(c.request), c.isAdminServer), c.result);
    EXPECT_EQ(Entries("C:\\PROF"), c.profileEntries);
    const Bytes after = machine_->ReadFile(kConfig);
    if (c.stampedAfter) {
      EXPECT_TRUE(testkit::DbmChecksumMatches(after));
      EXPECT_EQ(testkit::DbmText(after, 1968, 9), "TESTHOST");  // stamped by the creation
    } else {
      EXPECT_TRUE(after == Config(1234));
    }
    if (c.profileEntries.size() == 2) {
      EXPECT_EQ(machine_->ReadFile("C:\\PROF\\00000000.000"), Bytes({'m', 'i', 'n', 'e'}));
    }
  }
}

// Every file operation failing in turn: when the copy cannot be made, the record is left
// alone with result 0; and a saved copy left behind always holds the whole configuration.
TEST_F(InstanceUpdateTest, FailingEachFileOperation) {
  uint64_t operations = 0;
  {
    testkit::RecordingHost host;
    testkit::ScopedHost scoped(&host);
    ResetMachine();
    machine_->WriteFile(kConfig, Config(1234));
    WriteConfigOnCreate(host);
    platform::ResetFileOperationCount();
    ASSERT_EQ(CreateOrUpdateInstance(Context(), MakeRequest({}), false), 0);
    operations = platform::FileOperationCount();
  }
  int leftAlone = 0;
  for (uint64_t n = 1; n <= operations; ++n) {
    SCOPED_TRACE("operation " + std::to_string(n));
    testkit::RecordingHost host;
    testkit::ScopedHost scoped(&host);
    ResetMachine();
    machine_->WriteFile(kConfig, Config(1234));
    WriteConfigOnCreate(host);
    platform::SetFaultPlan({.triggerAt = n, .error = platform::kErrorDiskFull});
    const int32_t result = CreateOrUpdateInstance(Context(), MakeRequest({}), false);
    platform::ClearFaultPlan();
    if (host.calls().empty()) {
      ++leftAlone;
      EXPECT_EQ(result, 0);
      EXPECT_TRUE(machine_->ReadFile(kConfig) == Config(1234));
      EXPECT_EQ(Entries("C:\\PROF"), Lines{"INST1"});
    }
    for (const std::string& entry : Entries("C:\\PROF")) {
      if (entry != "INST1") {
        EXPECT_TRUE(machine_->ReadFile("C:\\PROF\\" + entry) == Config(1234)) << entry;
      }
    }
  }
  // At least the search for a free name and the copy itself.
  EXPECT_GE(leftAlone, 2);
}

TEST_F(InstanceUpdateTest, FailingToolIsShownAndLogged) {
  const std::string says = "echo 'no room for node 0' >&2";
  struct Case {
    const char* name;
    RequestSpec request;
    std::vector<ExistingInstance> existing;
    std::string install;  // the installation directory (quoted)
    const char* tool;     // installed as a script failing with 7; null: none installed
    bool quiet;           // the tool prints nothing
    bool logged;          // the context has a log
    int32_t result;
    std::string box;
    std::string log;
  };
  const std::string icrt = R"("C:\QZ7\BIN\QZ7ICRT.EXE")";
  const std::string install = "\"C:\\QZ7\"";
  // clang-format off
  const Case cases[] = {
      {"create fails", {.nodeType = 4}, {}, install, "QZ7ICRT.EXE", false, true, 7,
       "M5182 7|16",
       "M5182 7\r\n" + icrt + " INST1 /mpp \"/u:svc,**\" /r:60000,60003\r\n"
       "no room for node 0\n\r\n"},
      {"update fails", {.password = "", .nodeType = 4}, {Existing("INST1", 2)}, install,
       "QZ7IUPDT.EXE", false, true, 7, "M5294 7|16",
       "M5294 7\r\n\"C:\\QZ7\\BIN\\QZ7IUPDT.EXE\" INST1  \"/u:svc,,\" /r:60000,60003\r\n"
       "no room for node 0\n\r\n"},
      {"node fails without output", {.password = "2", .nodeType = 4, .ownedElsewhere = 1,
       .nodeNumber = "2", .ownerComputer = "O"}, {}, install, "QZ7NCRT.EXE", true, true, 7,
       "M5206 7|16",
       "M5206 7\r\n\"C:\\QZ7\\BIN\\QZ7NCRT.EXE\" /i:INST1 /n:2 \"/u:svc,*\" \"/O:O\"\r\n"},
      {"password after an earlier comma", {.password = "pw", .nodeType = 4}, {},
       "\"C:\\Q,pw\"", "QZ7ICRT.EXE", true, true, 7, "M5182 7|16",
       "M5182 7\r\n\"C:\\Q,**\\BIN\\QZ7ICRT.EXE\" INST1 /mpp \"/u:svc,pw\" /r:60000,60003\r\n"},
      {"no log", {.nodeType = 4}, {}, install, "QZ7ICRT.EXE", false, false, 7, "M5182 7|16", ""},
      {"tool missing", {.nodeType = 4}, {}, install, nullptr, false, true, 2, "M5178 2|16",
       "M5178 2\r\n"},
      {"node tool missing", {.nodeType = 4, .ownedElsewhere = 1}, {}, install, nullptr, false,
       true, 2, "M5202 2|16", "M5202 2\r\n"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetMachine();
    std::filesystem::remove_all(machine_->HostPath("C:\\QZ7"));
    std::filesystem::remove_all(machine_->HostPath("C:\\Q,pw"));
    install_ = c.install;
    installWindows_ = c.install.substr(1, c.install.size() - 2);
    machine_->MakeDirectory(installWindows_ + "\\BIN");
    if (c.tool != nullptr) InstallScriptTool(c.tool, 7, c.quiet ? "" : says);
    ASSERT_EQ(ftruncate(logFd_, 0), 0);
    boxes_.clear();
    testkit::RecordingHost host;
    testkit::ScopedHost scoped(&host);
    existing_ = c.existing;
    ProvisionContext context = Context();
    if (!c.logged) context.logFile = nullptr;
    EXPECT_EQ(CreateOrUpdateInstance(context, MakeRequest(c.request), false), c.result);
    EXPECT_EQ(boxes_, Lines{c.box});
    EXPECT_EQ(Log(), c.log);
  }
}

TEST_F(InstanceUpdateTest, AdministrationServer) {
  struct Case {
    const char* name;
    const char* failing;  // the host call that fails
    int failure;
    int32_t result;
    Lines registryWrites;
    Lines drops;
    bool definedAfter;
  };
  const std::string write = R"(PRegValuePE(4, 32, null, "QZ7DAS", null, -1))";
  const std::string drop = R"(InstanceDrop("QZ7DAS", ""C:\PROF\QZ7DAS""))";
  const Case cases[] = {
      {"created and recorded", nullptr, 0, 0, {write}, {}, true},
      {"creation fails", "InstanceCreateExtended", -1005, -1005, {}, {}, false},
      {"registry write fails",
       "PRegValuePE",
       -1034,
       kAdminServerNotRecorded,
       {write},
       {drop},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testkit::RecordingHost host;
    testkit::ScopedHost scoped(&host);
    if (c.failing != nullptr) host.ScriptResult(c.failing, c.failure);
    EXPECT_EQ(CreateAdminServer("QZ7DAS", install_.c_str(), target_.c_str(), "svc", "pw"),
              c.result);
    EXPECT_EQ(host.CallsTo("PRegValuePE"), c.registryWrites);
    EXPECT_EQ(host.CallsTo("InstanceDrop"), c.drops);
    EXPECT_EQ(host.IsDefined("QZ7DAS"), c.definedAfter);
    if (c.definedAfter) {
      EXPECT_EQ(host.Variable(host::kGlobalProfile, "QZ7ADMINSERVER").value_or(""), "QZ7DAS");
    }
    // Through the record: the failure is shown with its code.
    boxes_.clear();
    EXPECT_EQ(CreateOrUpdateInstance(Context(), MakeRequest({.name = "QZ7DAS"}), true), c.result);
    EXPECT_EQ(boxes_, c.result == 0 ? Lines{} : Lines{"M3598 " + std::to_string(c.result) + "|16"});
  }
}

TEST_F(InstanceUpdateTest, ShareOfAMovedPartitionedInstance) {
  struct Case {
    const char* name;
    std::string current;
    RequestSpec request;
    const char* failing;  // a host call that fails with -1006
    int32_t result;
    Lines shareCalls;
    Lines boxes;
  };
  const std::string del = R"(DeleteNetworkShare("QZ7-MPP", "TESTPC"))";
  const std::string add = R"(CreateNetworkShare("C:\PROF", "QZ7-MPP", "Everyone", "TESTPC"))";
  const RequestSpec mpp = {.name = "MPP", .nodeType = 4};
  const Case cases[] = {
      {"moved: shared", "\"C:\\OLD\"", mpp, nullptr, 0, {del, add}, {}},
      {"old share cannot be deleted", "\"C:\\OLD\"", mpp, "DeleteNetworkShare", 0, {del, add}, {}},
      {"share fails",
       "\"C:\\OLD\"",
       mpp,
       "CreateNetworkShare",
       -1006,
       {del, add},
       {"M3914 QZ7-MPP -1006|16"}},
      {"not moved", "\"C:\\PROF\"", mpp, nullptr, 0, {}, {}},
      {"ordinary instance", "\"C:\\OLD\"", {.name = "MPP"}, nullptr, 0, {}, {}},
      {"creation fails",
       "\"C:\\OLD\"",
       mpp,
       "InstanceCreateExtended",
       -1006,
       {},
       {"M3594 -1006 MPP|16"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetMachine();
    std::ofstream(machine_->root() + "/computer.txt") << "TESTPC\n";
    testkit::RecordingHost host;
    testkit::ScopedHost scoped(&host);
    WriteConfigOnCreate(host);
    if (c.failing != nullptr) host.ScriptResult(c.failing, -1006);
    existing_ = {Existing("MPP", 4)};
    current_ = c.current;
    boxes_.clear();
    EXPECT_EQ(CreateOrUpdateInstance(Context(), MakeRequest(c.request), false), c.result);
    Lines shareCalls = host.CallsTo("DeleteNetworkShare");
    for (const std::string& call : host.CallsTo("CreateNetworkShare")) shareCalls.push_back(call);
    EXPECT_EQ(shareCalls, c.shareCalls);
    EXPECT_EQ(boxes_, c.boxes);
  }
}

TEST_F(InstanceUpdateTest, NodeServicesFollowTheInstallation) {
  InstallScriptTool("QZ7ICRT.EXE", 0);
  const std::string quotedProgram = R"(""C:\QZ7\bin\qz7syscs.exe"")";
  auto change = [](const std::string& service, const std::string& program) {
    return "ChangeNTServiceConfig(\"" + service + "\", 0, -1, -1, -1, " + program +
           ", null, null, null, null, null, 0, <out:512>)";
  };
  struct Case {
    const char* name;
    RequestSpec request;
    std::vector<ExistingInstance> existing;
    std::string requested;
    std::string install;
    bool nodesKey;
    Lines changes;
  };
  const RequestSpec mpp = {.name = "MPP", .nodeType = 4};
  const RequestSpec remote = {.name = "MPP", .nodeType = 4, .ownedElsewhere = 1};
  const Case cases[] = {
      {"existing partitioned instance",
       mpp,
       {Existing("MPP", 4)},
       "\"C:\\PROF\"",
       "\"C:\\QZ7\"",
       true,
       {change("MPP-0", quotedProgram), change("MPP-11", quotedProgram)}},
      {"node of a remote instance that is here",
       remote,
       {Existing("MPP", 4)},
       "\"C:\\PROF\"",
       "\"C:\\QZ7\"",
       true,
       {change("MPP-0", quotedProgram), change("MPP-11", quotedProgram)}},
      {"unquoted installation",
       mpp,
       {Existing("MPP", 4)},
       "C:\\PROF",
       "C:\\QZ7",
       true,
       {change("MPP-0", R"("C:\QZ7\bin\qz7syscs.exe")"),
        change("MPP-11", R"("C:\QZ7\bin\qz7syscs.exe")")}},
      {"requested directory is the installation",
       mpp,
       {Existing("MPP", 4)},
       "\"C:\\QZ7\"",
       "\"C:\\QZ7\"",
       true,
       {}},
      {"new instance", mpp, {}, "\"C:\\PROF\"", "\"C:\\QZ7\"", true, {}},
      {"ordinary instance",
       {.name = "MPP"},
       {Existing("MPP", 4)},
       "\"C:\\PROF\"",
       "\"C:\\QZ7\"",
       true,
       {}},
      {"no nodes key", mpp, {Existing("MPP", 4)}, "\"C:\\PROF\"", "\"C:\\QZ7\"", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetMachine();
    host::DeleteKeyTree("SOFTWARE\\ZAV\\QZ7\\PROFILES\\MPP");
    if (c.nodesKey) {
      for (const char* node : {"0", "11"}) {
        host::ScopedKey key;
        ASSERT_EQ(
            host::CreateKey(std::string("SOFTWARE\\ZAV\\QZ7\\PROFILES\\MPP\\NODES\\") + node, &key),
            0);
      }
    }
    testkit::RecordingHost host;
    testkit::ScopedHost scoped(&host);
    WriteConfigOnCreate(host);
    existing_ = c.existing;
    requested_ = c.requested;
    install_ = c.install;
    EXPECT_EQ(CreateOrUpdateInstance(Context(), MakeRequest(c.request), false), 0);
    EXPECT_EQ(host.CallsTo("ChangeNTServiceConfig"), c.changes);
  }
}

}  // namespace
}  // namespace qz7::provision
