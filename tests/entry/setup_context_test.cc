// Building the setup context: the profile paths, bad paths, and the entry points' bad arguments
// with the one-time initialisation.
#include "entry/setup_context.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/coding.h"
#include "qz7instm.h"
#include "testkit/recording_host.h"
#include "testkit/temp_machine.h"

namespace qz7::entry {
namespace {

// The quoted form of a path; nothing stays nothing.
std::string Quoted(const std::string& path) { return path.empty() ? "" : "\"" + path + "\""; }

class SetupContextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* dir : {"C:\\INST\\CFG", "C:\\A", "C:\\B"}) machine_.MakeDirectory(dir);
  }
  testkit::TempMachine machine_;
  testkit::RecordingHost host_;
  testkit::ScopedHost scoped_{&host_};
};

// Bad paths (the first rows, so nothing has reached the host yet) end construction quietly.
TEST_F(SetupContextTest, ProfileDirectoriesAndBadPaths) {
  const std::string tooLong = "c:\\" + std::string(300, 'x');
  struct Row {
    const char *name, *current, *requested, *install;
    std::string wantCurrent, wantRequested, wantTarget;  // unquoted; empty: left empty
  } rows[] = {
      {"null_install", nullptr, nullptr, nullptr, "", "", ""},
      {"empty_install", "c:\\a", nullptr, "", "C:\\A", "", ""},
      {"overlong_current", tooLong.c_str(), nullptr, "c:\\inst", "", "", ""},
      {"overlong_install", "c:\\a", nullptr, tooLong.c_str(), "C:\\A", "", ""},
      {"both_empty", "", nullptr, "c:\\inst", "C:\\INST", "C:\\INST", "C:\\INST"},
      {"different", "c:\\a", "c:\\b", "c:\\inst", "C:\\A", "C:\\B", "C:\\A"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const bool bad = row.wantTarget.empty();
    SetupContext context;
    BuildSetupContext(context, row.current, row.requested, row.install, nullptr, nullptr, nullptr);
    EXPECT_EQ(context.currentProfileDir.c_str(), Quoted(row.wantCurrent));
    EXPECT_EQ(context.requestedProfileDir.c_str(), Quoted(row.wantRequested));
    EXPECT_EQ(context.targetProfileDir.c_str(), Quoted(row.wantTarget));
    EXPECT_EQ(context.installDir.c_str(), Quoted(bad ? "" : "C:\\INST"));
    EXPECT_EQ(context.existingScan == nullptr, bad);
    if (!bad) continue;
    EXPECT_EQ(context.serverType, -1);
    EXPECT_EQ(context.records.count(), 0);
    EXPECT_TRUE(host_.calls().empty());
  }
}

TEST_F(SetupContextTest, CreateInstancesToleratesBadArgumentsAndInitialisesOnce) {
  InstanceDescriptor plain{};
  std::strcpy(plain.name, "QZ7");
  InstanceDescriptor* onlyNull[] = {nullptr};
  InstanceDescriptor* one[] = {&plain, nullptr};
  // Without an installation the registry cannot be pointed anywhere: -9. The other calls run
  // (the installation has no templates, so creation reports a failure: 1).
  EXPECT_EQ(createInstances(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), -9);
  EXPECT_EQ(createInstances("", "", "c:\\inst", onlyNull, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(createInstances("c:\\a", "c:\\b", "c:\\inst", one, nullptr, nullptr, nullptr), 1);
  deleteInstances(nullptr, nullptr, nullptr, nullptr, nullptr);
  deleteInstances("", "c:\\inst", nullptr, nullptr, nullptr);
  // The host initialisation ran on the first construction that reached it, and only then.
  EXPECT_TRUE(HostInitialised());
  EXPECT_LE(host_.CountOf("CreateInitAppData"), 1);
  if (host_.CountOf("CreateInitAppData") == 0) return;
  EXPECT_EQ(util::LoadLE32(host_.ControlBlock()), 0x68211u);
  EXPECT_EQ(util::LoadLE16(host_.ControlBlock() + 0x136C), 1);
}

}  // namespace
}  // namespace qz7::entry
