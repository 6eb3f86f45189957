// The recording fake that the library's suites run against answers the profile-registry and
// instance calls as the stand-in runtime does. (Its call lines and scripted results are
// exercised by those suites.)
#include "testkit/recording_host.h"

#include <string>
#include <vector>

#include "tests/host/host_fixture.h"

namespace qz7::host {
namespace {

// Runs one script of calls and returns one text line per call: the result and, for reads and
// enumeration, the text returned.
std::vector<std::string> RunScript(HostServices& host) {
  std::vector<std::string> out;
  char buffer[260];
  auto note = [&](int result, bool text) {
    out.push_back(std::to_string(result) + (text ? std::string(":") + buffer : ""));
  };
  auto read = [&](int variable, const char* name, const char* profile) {
    buffer[0] = '\x7f';
    note(host.PRegValuePE(kValueRead, variable, name, buffer, sizeof buffer, profile, -1), true);
  };
  auto write = [&](int op, int variable, const char* name, std::string text, const char* profile) {
    note(host.PRegValuePE(op, variable, name, text.data(), 0, profile, -1), false);
  };
  auto create = [&](const char* name, const char* dir, int kind) {
    note(host.InstanceCreateExtended(name, dir, "C:\\I", 0, nullptr, nullptr, 0, kind, nullptr),
         false);
  };
  create("A", "C:\\P", 1);
  create("B", "C:\\P", 4);
  create("a", "C:\\Q", 1);  // an update: A moves to C:\Q
  write(kValueWrite, kVarAdminServer, nullptr, "A", nullptr);
  read(kVarAdminServer, nullptr, kGlobalProfile);
  write(kValueWrite, 0, "QZ7PORTRANGE", "1:4", "b");
  read(0, "qz7portrange", "B");
  read(kVarInstanceProfile, nullptr, "A");
  read(kVarInstanceOwner, nullptr, "A");
  write(kValueWrite, kVarInstanceOwner, nullptr, "X", "NOPE");
  read(999, nullptr, nullptr);
  write(kValueRemove, kVarAdminServer, nullptr, "", "qz7globalpf");
  write(kValueRemove, kVarAdminServer, nullptr, "", nullptr);
  read(kVarAdminServer, nullptr, nullptr);
  for (int op : {kProfileFirst, kProfileNext, kProfileNext, kProfileNext}) {
    const int result = host.PRegProfilePE(op, buffer, -1);
    note(result, result == 0);
  }
  std::string name = "b";
  note(host.PRegProfilePE(kProfileIsDefined, name.data(), -1), false);
  note(host.InstanceDrop("B", "C:\\P\\B"), false);
  note(host.PRegProfilePE(kProfileIsDefined, name.data(), -1), false);
  note(host.PRegProfile(kProfileFirst, buffer), true);  // B was dropped: A first
  note(host.PRegProfile(kProfileNext, buffer), false);
  return out;
}

using FakeMatchesStandInTest = HostFixture;

TEST_F(FakeMatchesStandInTest, SameAnswersToTheSameCalls) {
  machine_.MakeDirectory("C:\\P");
  machine_.WriteFile("C:\\I\\CFG\\qz7syssv", std::vector<unsigned char>(4096, 0));
  machine_.WriteFile("C:\\I\\CFG\\qz7sysmp", std::vector<unsigned char>(4096, 0));
  const std::vector<std::string> standIn = RunScript(host_);
  testkit::RecordingHost fake;
  EXPECT_EQ(RunScript(fake), standIn);
  // Spot checks that the script exercised what it should.
  EXPECT_EQ(standIn[2] + standIn[4] + standIn[6] + standIn[7], "00:A0:1:40:C:\\Q");
}

}  // namespace
}  // namespace qz7::host
