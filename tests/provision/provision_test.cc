// Creating an instance through the host services and stamping its qz7systm with the installed
// components and the machine facts (a failed stamping drops the instance again), and the
// default node name derived from the computer's name and the number of instances.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/host_services.h"
#include "host/instance_lifecycle.h"
#include "host/profile_registry.h"
#include "host/registry_access.h"
#include "platform/fault_injection.h"
#include "platform/win_error.h"
#include "provision/instance_creation.h"
#include "provision/node_name.h"
#include "testkit/dbm_block_builder.h"
#include "testkit/recording_host.h"
#include "testkit/temp_machine.h"

namespace qz7::provision {
namespace {

using Bytes = std::vector<unsigned char>;
using Lines = std::vector<std::string>;

constexpr const char* kConfig = "C:\\PROF\\INST1\\qz7systm";

// A template as the installation ships it: its own values at every field the stamping writes.
Bytes Template(uint16_t nodeType, size_t size = 4096) {
  auto builder = testkit::DbmBlockBuilder().NodeType(nodeType).Float(808, 0.5f).U32(3124, 512);
  return builder.Float(3120, 7.0f).Text(1968, 9, "TPLNODE").TruncateTo(size).Bytes();
}

// The stamped fields as "86 3124 808 3120 1968", "unchanged", or "dropped" when the instance
// directory went with the instance.
std::string Stamped(const testkit::TempMachine& machine, const Bytes& before) {
  if (!machine.Exists(kConfig)) return "dropped";
  const Bytes after = machine.ReadFile(kConfig);
  if (after == before) return "unchanged";
  if (!testkit::DbmChecksumMatches(after)) return "wrong checksum";
  std::ostringstream text;
  text << testkit::DbmU16(after, 86) << " " << testkit::DbmU32(after, 3124) << " "
       << testkit::DbmFloat(after, 808) << " " << testkit::DbmFloat(after, 3120) << " "
       << testkit::DbmText(after, 1968, 9);
  return text.str();
}

// CreateInstance on the stand-in runtime, whose templates are the file the test wrote: the
// stamped fields, and an instance that this call made but could not stamp dropped again.
TEST(StampingTest, ComponentsMachineFactsAndFailures) {
  struct Case {
    const char* name;
    uint16_t nodeType;
    const char *join, *sentry;  // the component values, or null when absent
    const char* failing;        // a host call that fails with -31
    size_t size;
    int result;
    const char* stamped;
    bool definedBefore = false;
  };
  // clang-format off
  const Case cases[] = {
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
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testkit::TempMachine machine;  // a fresh registry for each case
    testkit::RecordingHost host;
    testkit::ScopedHost scoped(&host);
    host.processorSpeed = 4e-6f;
    host.bandwidth = 100;
    std::ofstream(machine.root() + "/computer.txt") << "TESTHOST\n";
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
  testkit::TempMachine machine;
  testkit::RecordingHost host;
  testkit::ScopedHost scoped(&host);
  machine.WriteFile(kConfig, Template(1));
  platform::ResetFileOperationCount();
  ASSERT_EQ(InitInstanceConfiguration(kConfig), 0);
  const uint64_t operations = platform::FileOperationCount();
  ASSERT_GE(operations, 5u);  // open, read, seek, write, close
  for (uint64_t n = 1; n <= operations; ++n) {
    machine.WriteFile(kConfig, Template(1));
    platform::SetFaultPlan({.triggerAt = n, .error = platform::kErrorDiskFull});
    EXPECT_EQ(InitInstanceConfiguration(kConfig), kConfigFileError) << "operation " << n;
    platform::ClearFaultPlan();
  }
}

TEST(MakeDefaultNodeName, Table) {
  const std::string noDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_";
  const std::string noLowerD = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_";
  struct Case {
    const char* name;
    int instances;            // defined as I1, I2, ...
    const char* adminServer;  // null: QZ7ADMINSERVER unset
    const char* computer;
    const std::string* charset;  // null: the host's own
    const char* expected;
    const char* failing = nullptr;  // a product query call that fails with -77
  };
  // clang-format off
  const Case cases[] = {
      {"one instance: no suffix", 1, nullptr, "WORKSTATION1", nullptr, "WORKSTAT"},
      {"three besides the admin server", 4, "i2", "WORKSTATION1", nullptr, "WORKSTA2"},
      {"admin server name only a prefix", 4, "I", "WORKSTATION1", nullptr, "WORKSTA3"},
      {"eleven instances: two-digit suffix", 11, nullptr, "WORKSTATION1", nullptr, "WORKST10"},
      {"first label, outside characters", 0, nullptr, "a-b+c.example.com", nullptr, "A_B_C"},
      {"leading digit with suffix", 3, nullptr, "9lives", nullptr, "dLIVES2"},
      {"first character is never replaced", 0, nullptr, "1x", &noLowerD, "dX"},
      {"suffix digit outside the set", 2, nullptr, "HOST", &noDigits, "HOST_"},
      {"name that is only a point", 0, nullptr, ".lan", nullptr, "d"},
      // A failed product query leaves the name alone and ends the query if it was begun.
      {"init fails", 0, nullptr, "HOST", nullptr, "unset", "ProIfInit"},
      {"query fails", 0, nullptr, "HOST", nullptr, "unset", "ProIfQuery"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testkit::TempMachine machine;
    testkit::RecordingHost host;
    testkit::ScopedHost scoped(&host);
    for (int i = 1; i <= c.instances; ++i)
      EXPECT_EQ(host::DefineInstance("I" + std::to_string(i)), 0);
    if (c.adminServer) {
      EXPECT_EQ(host::WriteProfileVariable(host::kGlobalProfile, "QZ7ADMINSERVER", c.adminServer),
                0);
    }
    std::ofstream(machine.root() + "/computer.txt") << c.computer << "\n";
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
