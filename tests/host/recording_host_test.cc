// The recording fake: its call lines, scripted results, and an in-memory profile registry
// that answers like the stand-in runtime does.
#include "testkit/recording_host.h"

#include <gmock/gmock.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/host/host_fixture.h"

namespace qz7::host {
namespace {

using ::testing::ElementsAre;
using testkit::RecordingHost;

// Runs one script of profile-registry calls and returns one text line per call: the result
// and, for reads and enumeration, the text returned.
std::vector<std::string> RunScript(HostServices& host) {
  std::vector<std::string> out;
  char buffer[260];
  auto value = [&](int op, int variable, const char* name, const char* text, const char* profile) {
    std::string copy = text != nullptr ? text : "";
    char* target = op == kValueRead ? buffer : (text != nullptr ? copy.data() : nullptr);
    if (op == kValueRead) buffer[0] = '\x7f';
    int result = host.PRegValuePE(op, variable, name, target, sizeof buffer, profile, -1);
    out.push_back(std::to_string(result) + (op == kValueRead ? std::string(":") + buffer : ""));
  };
  auto profile = [&](int op) {
    int result = host.PRegProfilePE(op, buffer, -1);
    out.push_back(std::to_string(result) + ":" + (result == 0 ? buffer : ""));
  };
  out.push_back(std::to_string(
      host.InstanceCreateExtended("A", "C:\\P", "C:\\I", 0, nullptr, nullptr, 0, 1, nullptr)));
  out.push_back(std::to_string(
      host.InstanceCreateExtended("B", "C:\\P", "C:\\I", 0, nullptr, nullptr, 0, 4, nullptr)));
  out.push_back(std::to_string(  // an update: A moves to C:\Q
      host.InstanceCreateExtended("a", "C:\\Q", "C:\\I", 0, nullptr, nullptr, 0, 1, nullptr)));
  value(kValueWrite, kVarAdminServer, nullptr, "A", nullptr);
  value(kValueRead, kVarAdminServer, nullptr, nullptr, kGlobalProfile);
  value(kValueRead, kVarAdminServer, nullptr, nullptr, nullptr);
  value(kValueWrite, 0, "QZ7PORTRANGE", "1:4", "b");
  value(kValueRead, 0, "qz7portrange", nullptr, "B");
  value(kValueRead, kVarInstanceProfile, nullptr, nullptr, "A");
  value(kValueRead, kVarInstanceOwner, nullptr, nullptr, "A");
  value(kValueWrite, kVarInstanceOwner, nullptr, "X", "NOPE");
  value(kValueRead, 999, nullptr, nullptr, nullptr);
  value(kValueRemove, kVarAdminServer, nullptr, nullptr, "qz7globalpf");
  value(kValueRemove, kVarAdminServer, nullptr, nullptr, nullptr);
  value(kValueRead, kVarAdminServer, nullptr, nullptr, nullptr);
  profile(kProfileFirst);
  profile(kProfileNext);
  profile(kProfileNext);
  profile(kProfileNext);
  std::string name = "b";
  out.push_back(std::to_string(host.PRegProfilePE(kProfileIsDefined, name.data(), -1)));
  out.push_back(std::to_string(host.InstanceDrop("B", "C:\\P\\B")));
  out.push_back(std::to_string(host.PRegProfilePE(kProfileIsDefined, name.data(), -1)));
  out.push_back(std::to_string(host.PRegProfile(kProfileFirst, buffer)) + ":" + buffer);
  out.push_back(std::to_string(host.PRegProfile(kProfileNext, buffer)));
  return out;
}

class FakeMatchesStandInTest : public HostFixture {};

TEST_F(FakeMatchesStandInTest, SameAnswersToTheSameCalls) {
  machine_.MakeDirectory("C:\\P");
  for (const char* file : {"qz7syssv", "qz7sysmp"}) {
    machine_.WriteFile(std::string("C:\\I\\CFG\\") + file, std::vector<unsigned char>(4096, 0));
  }
  std::vector<std::string> standIn = RunScript(host_);
  RecordingHost fake;
  std::vector<std::string> recorded = RunScript(fake);
  EXPECT_EQ(recorded, standIn);
  // Spot checks that the script exercised what it should.
  ASSERT_EQ(standIn.size(), 24u);
  EXPECT_EQ(standIn[2], "0");
  EXPECT_EQ(standIn[8], "0:C:\\Q");
  EXPECT_EQ(standIn[4], "0:A");
  EXPECT_EQ(standIn[13], std::to_string(kNotFound));
  EXPECT_EQ(standIn[18], "-5:");
}

TEST(RecordingHostTest, RecordsCallsAsText) {
  RecordingHost host;
  char buffer[256];
  std::string name = "DAS";
  host.PRegValuePE(kValueWrite, kVarAdminServer, nullptr, name.data(), 0, nullptr, -1);
  host.PRegValuePE(kValueRead, 0, "QZ7INSTPROF", buffer, sizeof buffer, "QZ7", -1);
  host.InstanceDrop("QZ7", "\"C:\\P\\QZ7\"");
  host.ChangeNTServiceConfig("MPP-1", 0, -1, -1, -1, "C:\\Q\\bin\\qz7syscs.exe", nullptr, nullptr,
                             nullptr, nullptr, nullptr, 0, buffer);
  host.CreateInitAppData(0x68211);
  EXPECT_THAT(host.calls(),
              ElementsAre("PRegValuePE(4, 32, null, \"DAS\", null, -1)",
                          "PRegValuePE(3, 0, \"QZ7INSTPROF\", <out:256>, \"QZ7\", -1)",
                          "InstanceDrop(\"QZ7\", \"\"C:\\P\\QZ7\"\")",
                          "ChangeNTServiceConfig(\"MPP-1\", 0, -1, -1, -1, "
                          "\"C:\\Q\\bin\\qz7syscs.exe\", null, null, null, null, null, 0, "
                          "<out:512>)",
                          "CreateInitAppData(0x68211)"));
  EXPECT_EQ(host.CountOf("PRegValuePE"), 2);
  EXPECT_THAT(host.CallsTo("InstanceDrop"),
              ElementsAre("InstanceDrop(\"QZ7\", \"\"C:\\P\\QZ7\"\")"));
}

TEST(RecordingHostTest, ScriptedResultsReplaceTheCall) {
  RecordingHost host;
  host.QueueResult("InstanceCreateExtended", -7);
  EXPECT_EQ(host.InstanceCreateExtended("A", "C:\\P", "C:\\I", 0, nullptr, nullptr, 0, 1, nullptr),
            -7);
  EXPECT_FALSE(host.IsDefined("A"));  // nothing happened
  EXPECT_EQ(host.InstanceCreateExtended("A", "C:\\P", "C:\\I", 0, nullptr, nullptr, 0, 1, nullptr),
            0);  // the queue was used up
  EXPECT_EQ(host.Variable("A", "QZ7INSTPROF").value_or(""), "C:\\P");

  host.ScriptResult("Cpum", -3);
  float speed = 0;
  EXPECT_EQ(host.Cpum(&speed), -3);
  EXPECT_EQ(host.Cpum(&speed), -3);
  EXPECT_EQ(speed, 0.0f);
  host.ClearScripts();
  EXPECT_EQ(host.Cpum(&speed), 0);
  EXPECT_EQ(speed, host.processorSpeed);
}

TEST(RecordingHostTest, MachineFactsAndCreateHook) {
  RecordingHost host;
  host.productComputerName = "WORKSTATION1.EXAMPLE.COM";
  unsigned char block[kProductBlockSize] = {3};
  unsigned char context[kProductContextSize] = {};
  ASSERT_EQ(host.ProIfInit(block, context), 0);
  ASSERT_EQ(host.ProIfQuery(block, context), 0);
  EXPECT_STREQ(reinterpret_cast<char*>(block + kProductNameOffset), "WORKSTATION1.EXAMPLE.COM");

  std::vector<std::string> created;
  host.onInstanceCreate = [&](const std::string& name, const std::string& dir) {
    created.push_back(dir + "\\" + name);
    return name == "BAD" ? -5005 : 0;
  };
  EXPECT_EQ(
      host.InstanceCreateExtended("OK", "\"C:\\P\"", "C:\\I", 0, nullptr, nullptr, 0, 1, nullptr),
      0);
  EXPECT_EQ(
      host.InstanceCreateExtended("BAD", "C:\\P", "C:\\I", 0, nullptr, nullptr, 0, 1, nullptr),
      -5005);
  EXPECT_THAT(created, ElementsAre("C:\\P\\OK", "C:\\P\\BAD"));
  EXPECT_THAT(host.Instances(), ElementsAre("OK"));
}

TEST(RecordingHostTest, CreateOfADefinedInstanceUpdatesIt) {
  struct Case {
    const char* label;
    int kind;
    const char* profileBefore;  // QZ7INSTPROF before, or null
    std::vector<std::string> nodesBefore;
    std::vector<std::string> nodesAfter;
  };
  const Case cases[] = {
      {"ordinary", 1, "C:\\OLD", {}, {}},
      {"partitioned without QZ7INSTPROF, node 0 added", 4, nullptr, {"1"}, {"1", "0"}},
      {"partitioned with node 0", 4, "C:\\OLD", {"0", "1"}, {"0", "1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    RecordingHost host;
    host.SetVariable("I", "QZ7PORTRANGE", "1:4");
    if (c.profileBefore != nullptr) host.SetVariable("I", "QZ7INSTPROF", c.profileBefore);
    for (const std::string& node : c.nodesBefore) host.AddNode("I", node);
    int hookResult = -5005;
    host.onInstanceCreate = [&](const std::string&, const std::string&) { return hookResult; };
    auto create = [&] {
      return host.InstanceCreateExtended("i", "C:\\NEW", "C:\\Q", 0, nullptr, nullptr, 0, c.kind,
                                         nullptr);
    };
    // A failed update puts back exactly what it changed.
    EXPECT_EQ(create(), -5005);
    EXPECT_THAT(host.Instances(), ElementsAre("I"));
    EXPECT_EQ(host.Variable("I", "QZ7INSTPROF"), c.profileBefore != nullptr
                                                     ? std::optional<std::string>(c.profileBefore)
                                                     : std::nullopt);
    EXPECT_EQ(host.Nodes("I"), c.nodesBefore);
    hookResult = 0;
    EXPECT_EQ(create(), 0);
    EXPECT_THAT(host.Instances(), ElementsAre("I"));
    EXPECT_EQ(host.Variable("I", "QZ7INSTPROF").value_or(""), "C:\\NEW");
    EXPECT_EQ(host.Variable("I", "QZ7PORTRANGE").value_or(""), "1:4");
    EXPECT_EQ(host.Nodes("I"), c.nodesAfter);
  }
}

}  // namespace
}  // namespace qz7::host
