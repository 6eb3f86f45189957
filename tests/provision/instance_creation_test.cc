// Creating an instance through the host services and stamping its qz7systm with the installed
// components and the machine facts; a failed stamping drops the instance again.
#include "provision/instance_creation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/registry.h"
#include "platform/win_error.h"
#include "testkit/dbm_block_builder.h"
#include "testkit/recording_host.h"
#include "testkit/temp_machine.h"

namespace qz7::provision {
namespace {

using testkit::DbmBlockBuilder;
using Bytes = std::vector<unsigned char>;

constexpr const char* kConfig = "C:\\PROF\\INST1\\qz7systm";

// A template as the installation ships it: its own values at every field the stamping writes.
DbmBlockBuilder Template(uint16_t nodeType) {
  return std::move(DbmBlockBuilder()
                       .NodeType(nodeType)
                       .U16(86, 0)
                       .Float(808, 0.5f)
                       .Text(1968, 9, "TPLNODE")
                       .Float(3120, 7.0f)
                       .U32(3124, 512));
}

void SetComponent(const char* valueName, const std::string& value) {
  platform::RegKey key = nullptr;
  ASSERT_EQ(platform::RegCreateKeyExA(platform::LocalMachineKey(), kComponentsKey, &key), 0);
  ASSERT_EQ(platform::RegSetValueExA(key, valueName, platform::kRegSz,
                                     reinterpret_cast<const unsigned char*>(value.c_str()),
                                     static_cast<uint32_t>(value.size() + 1)),
            0);
  platform::RegCloseKey(key);
}

class StampingTest : public ::testing::Test {
 protected:
  StampingTest() : scoped_(&host_) {
    host_.processorSpeed = 2e-5f;
    host_.bandwidth = 250.0f;
    host_.productComputerName = "buildhost";
  }
  testkit::TempMachine machine_;
  testkit::RecordingHost host_;
  testkit::ScopedHost scoped_;
};

struct StampCase {
  const char* name;
  uint16_t nodeType;
  bool distributedJoin;
  bool querySentry;
  bool written;
  uint16_t at86;
  uint32_t at3124;
  float at808;
  float at3120;
  const char* at1968;
};

TEST_F(StampingTest, ComponentsAndMachineFacts) {
  // clang-format off
  const StampCase cases[] = {
      {"server, no components", 1, false, false, true, 0, 512, 2e-5f, 7.0f, "BUILDHOS"},
      {"server, both components", 1, true, true, true, 1, 2048, 2e-5f, 7.0f, "BUILDHOS"},
      {"type 3 takes the join component", 3, true, false, true, 1, 512, 2e-5f, 7.0f, "BUILDHOS"},
      {"partitioned: bandwidth too", 4, true, true, true, 1, 2048, 2e-5f, 250.0f, "BUILDHOS"},
      {"type 5 never takes the join component", 5, true, false, true, 0, 512, 2e-5f, 7.0f,
       "BUILDHOS"},
      {"type 0 never takes the join component", 0, true, false, true, 0, 512, 2e-5f, 7.0f,
       "BUILDHOS"},
      {"client without components is left alone", 2, false, false, false, 0, 512, 0.5f, 7.0f,
       "TPLNODE"},
      {"client with only the join component is left alone", 2, true, false, false, 0, 512, 0.5f,
       7.0f, "TPLNODE"},
      {"client with the query-sentry component", 2, false, true, true, 0, 2048, 0.5f, 7.0f,
       "TPLNODE"},
  };
  // clang-format on
  for (const StampCase& c : cases) {
    SCOPED_TRACE(c.name);
    testkit::TempMachine machine;  // a fresh registry for each case
    const Bytes before = Template(c.nodeType).Bytes();
    machine.WriteFile(kConfig, before);
    if (c.distributedJoin) SetComponent(kDistributedJoinValue, "1");
    if (c.querySentry) SetComponent(kQuerySentryValue, "1");
    host_.ClearCalls();

    ASSERT_EQ(InitInstanceConfiguration(kConfig), 0);
    const Bytes after = machine.ReadFile(kConfig);
    ASSERT_EQ(after.size(), 4096u);
    if (!c.written) {
      EXPECT_EQ(after, before);
      EXPECT_EQ(host_.CountOf("Cpum"), 0);
      continue;
    }
    EXPECT_TRUE(testkit::DbmChecksumMatches(after));
    EXPECT_EQ(testkit::DbmU16(after, 86), c.at86);
    EXPECT_EQ(testkit::DbmU32(after, 3124), c.at3124);
    EXPECT_FLOAT_EQ(testkit::DbmFloat(after, 808), c.at808);
    EXPECT_FLOAT_EQ(testkit::DbmFloat(after, 3120), c.at3120);
    EXPECT_EQ(testkit::DbmText(after, 1968, 9), c.at1968);
    EXPECT_EQ(host_.CountOf("GetCommBandwidth"), c.nodeType == 4 ? 1 : 0);
  }
}

TEST_F(StampingTest, ComponentValueTooLongForItsBufferCountsAsAbsent) {
  machine_.WriteFile(kConfig, Template(1).Bytes());
  SetComponent(kDistributedJoinValue, std::string(300, 'x'));
  ASSERT_EQ(InitInstanceConfiguration(kConfig), 0);
  EXPECT_EQ(testkit::DbmU16(machine_.ReadFile(kConfig), 86), 0);
}

TEST_F(StampingTest, FailuresLeaveTheFileUnchanged) {
  struct Case {
    const char* name;
    uint16_t nodeType;
    size_t size;
    const char* failingHostCall;
    int expected;
  } cases[] = {
      {"file one byte short", 1, 4095, nullptr, kConfigFileError},
      {"empty file", 1, 0, nullptr, kConfigFileError},
      {"processor speed fails", 1, 4096, "Cpum", -31},
      {"bandwidth fails for a partitioned instance", 4, 4096, "GetCommBandwidth", -31},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testkit::TempMachine machine;
    SetComponent(kQuerySentryValue, "1");  // something to write in every case
    const Bytes before = Template(c.nodeType).TruncateTo(c.size).Bytes();
    machine.WriteFile(kConfig, before);
    host_.ClearScripts();
    if (c.failingHostCall != nullptr) host_.ScriptResult(c.failingHostCall, -31);
    EXPECT_EQ(InitInstanceConfiguration(kConfig), c.expected);
    EXPECT_EQ(machine.ReadFile(kConfig), before);
  }
  host_.ClearScripts();
  EXPECT_EQ(InitInstanceConfiguration("C:\\PROF\\NOPE\\qz7systm"), kConfigFileError);
}

TEST_F(StampingTest, NodeNameFailureStillStampsTheRest) {
  machine_.WriteFile(kConfig, Template(1).Bytes());
  host_.ScriptResult("ProIfInit", -9);
  ASSERT_EQ(InitInstanceConfiguration(kConfig), 0);
  const Bytes after = machine_.ReadFile(kConfig);
  EXPECT_EQ(testkit::DbmText(after, 1968, 9), "TPLNODE");
  EXPECT_FLOAT_EQ(testkit::DbmFloat(after, 808), 2e-5f);
  EXPECT_TRUE(testkit::DbmChecksumMatches(after));
}

TEST_F(StampingTest, FailingEachFileOperation) {
  const Bytes before = Template(1).Bytes();
  machine_.WriteFile(kConfig, before);
  platform::ResetFileOperationCount();
  ASSERT_EQ(InitInstanceConfiguration(kConfig), 0);
  const uint64_t operations = platform::FileOperationCount();
  ASSERT_GE(operations, 5u);  // open, read, seek, write, close
  for (uint64_t n = 1; n <= operations; ++n) {
    SCOPED_TRACE("operation " + std::to_string(n));
    machine_.WriteFile(kConfig, before);
    platform::SetFaultPlan({.triggerAt = n, .error = platform::kErrorDiskFull});
    const int result = InitInstanceConfiguration(kConfig);
    platform::ClearFaultPlan();
    EXPECT_EQ(result, kConfigFileError);
  }
}

// ---- CreateInstance ----

class CreateInstanceTest : public StampingTest {
 protected:
  // The host writes the instance's qz7systm when it creates the instance.
  void CreatesConfig(const Bytes& bytes) {
    host_.onInstanceCreate = [this, bytes](const std::string&, const std::string&) {
      machine_.WriteFile(kConfig, bytes);
      return 0;
    };
  }
};

TEST_F(CreateInstanceTest, CreatesSetsTheEnvironmentAndStamps) {
  CreatesConfig(Template(1).Bytes());
  ASSERT_EQ(CreateInstance("INST1", "C:\\PROF", "C:\\QZ7", "svc", "pw", 1), 0);
  EXPECT_EQ(host_.CallsTo("InstanceCreateExtended"),
            std::vector<std::string>{"InstanceCreateExtended(\"INST1\", \"C:\\PROF\", "
                                     "\"C:\\QZ7\", 0, \"svc\", \"pw\", 0, 1, null)"});
  EXPECT_EQ(host_.CallsTo("PutEnv"),
            (std::vector<std::string>{"PutEnv(57, \"INST1\")", "PutEnv(59, \"C:\\PROF\")"}));
  EXPECT_EQ(host_.CountOf("InstanceDrop"), 0);
  EXPECT_TRUE(host_.IsDefined("INST1"));
  EXPECT_EQ(testkit::DbmText(machine_.ReadFile(kConfig), 1968, 9), "BUILDHOS");
}

TEST_F(CreateInstanceTest, QuotedProfileDirectory) {
  CreatesConfig(Template(4).Bytes());
  ASSERT_EQ(CreateInstance("INST1", "\"C:\\PROF\"", "C:\\QZ7", nullptr, nullptr, 4), 0);
  EXPECT_FLOAT_EQ(testkit::DbmFloat(machine_.ReadFile(kConfig), 3120), 250.0f);
}

TEST_F(CreateInstanceTest, FailedCreationIsReturnedWithNothingToUndo) {
  host_.ScriptResult("InstanceCreateExtended", -1005);
  EXPECT_EQ(CreateInstance("INST1", "C:\\PROF", "C:\\QZ7", nullptr, nullptr, 1), -1005);
  EXPECT_EQ(host_.CountOf("PutEnv"), 0);
  EXPECT_EQ(host_.CountOf("InstanceDrop"), 0);
}

TEST_F(CreateInstanceTest, FailedStampingDropsTheInstance) {
  struct Case {
    const char* name;
    Bytes config;
    const char* failingHostCall;
    bool definedBefore;
    int expected;
  } cases[] = {
      {"short file", Template(1).TruncateTo(2000).Bytes(), nullptr, false, kConfigFileError},
      {"processor speed fails", Template(1).Bytes(), "Cpum", false, -31},
      // An existing instance that the creation updated is never dropped.
      {"existing instance kept", Template(1).TruncateTo(2000).Bytes(), nullptr, true,
       kConfigFileError},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    host_.ClearScripts();
    host_.ClearCalls();
    if (host_.IsDefined("INST1")) host_.UndefineInstance("INST1");
    if (c.definedBefore) host_.DefineInstance("INST1");
    if (c.failingHostCall != nullptr) host_.ScriptResult(c.failingHostCall, -31);
    CreatesConfig(c.config);
    EXPECT_EQ(CreateInstance("INST1", "C:\\PROF", "C:\\QZ7", nullptr, nullptr, 1), c.expected);
    EXPECT_EQ(host_.CountOf("InstanceDrop"), c.definedBefore ? 0 : 1);
    if (!c.definedBefore) {
      EXPECT_EQ(host_.CallsTo("InstanceDrop"),
                std::vector<std::string>{"InstanceDrop(\"INST1\", \"C:\\PROF\\INST1\")"});
    }
    EXPECT_EQ(host_.IsDefined("INST1"), c.definedBefore);
    EXPECT_EQ(machine_.ReadFile(kConfig), c.config);
  }
}

}  // namespace
}  // namespace qz7::provision
