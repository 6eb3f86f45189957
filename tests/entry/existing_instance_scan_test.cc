// Discovery from the old index file and from the profile registry, and the configuration
// files read by bytes.
#include "entry/existing_instance_scan.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "base/coding.h"
#include "host/profile_registry.h"
#include "testkit/instance_index_builder.h"
#include "testkit/recording_host.h"
#include "testkit/temp_machine.h"

namespace qz7::entry {
namespace {

constexpr const char* kProfile = "\"C:\\PROF\"";

class ScanTest : public ::testing::Test {
 protected:
  // A configuration file of size bytes with the release, the node type and a text filled.
  void WriteConfig(const char* instance, size_t size, uint32_t version, uint16_t nodeType) {
    std::vector<unsigned char> bytes(4096, 0);
    util::StoreLE32(bytes.data() + 16, version);
    util::StoreLE16(bytes.data() + 40, nodeType);
    for (size_t i = 0; i < 10; ++i) bytes[100 + i] = static_cast<unsigned char>("CONFIGTEXT"[i]);
    bytes.resize(size);
    machine_.WriteFile(std::string("C:\\PROF\\") + instance + "\\qz7systm", bytes);
  }

  testkit::TempMachine machine_;
  testkit::RecordingHost host_;
  testkit::ScopedHost scoped_{&host_};
};

// A usable index file gives release 2 and no registry read; an unusable one falls back to the
// registry, which here holds FROMREG.
TEST_F(ScanTest, IndexFileVariants) {
  struct Row {
    const char* name;
    testkit::InstanceIndex index;
    int records, defaultIndex, priorRelease;
  } rows[] = {
      {"one_entry", {.names = {"QZ7"}}, 1, 0, 2},
      {"count_2_one_whole", {.entryCount = 2, .names = {"A", "B"}, .truncateTo = 44}, 1, -1, 2},
      {"count_zero", {.entryCount = 0, .names = {"A"}}, 1, 0, 0},
      {"entry_without_terminator", {.names = {"ABCDEFGHIJ"}}, 1, 0, 2},
  };
  EXPECT_EQ(host::DefineInstance("FROMREG"), 0);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    host_.ClearCalls();
    machine_.WriteFile("C:\\PROF\\QZ7IDIR", testkit::BuildInstanceIndex(row.index));
    auto scan = ScanExistingInstances(kProfile);
    ASSERT_EQ(scan->records.count(), row.records);
    EXPECT_EQ(scan->defaultIndex, row.defaultIndex);
    EXPECT_EQ(scan->priorRelease, row.priorRelease);
    EXPECT_EQ(host_.CountOf("PRegProfilePE") > 0, row.priorRelease == 0);
    EXPECT_EQ(scan->records[0].name.view() == "FROMREG", row.priorRelease == 0);
    EXPECT_LE(scan->records[0].name.size(), 8u);
  }
}

TEST_F(ScanTest, RegistryFindsAdminDefaultAndRemoteNodes) {
  for (const char* name : {"A", "DAS", "B", "MINE", "REMOTE", "NOOWNER"}) {
    EXPECT_EQ(host::DefineInstance(name), 0);
    if (name[0] >= 'M') {
      EXPECT_EQ(host::WriteProfileVariable(name, "QZ7PORTRANGE", "6000:6003"), 0);
    }
  }
  EXPECT_EQ(host::WriteProfileVariable(host::kGlobalProfile, "QZ7ADMINSERVER", "das"), 0);
  EXPECT_EQ(host::WriteProfileVariable(host::kGlobalProfile, "QZ7INSTDEF", "b"), 0);
  EXPECT_EQ(host::WriteProfileVariable("MINE", "QZ7INSTOWNER", "testpc"),
            0);  // this computer, other case
  EXPECT_EQ(host::WriteProfileVariable("REMOTE", "QZ7INSTOWNER", "OTHERPC"), 0);
  EXPECT_EQ(host::WriteProfileVariable("B", "QZ7INSTPROF", "c:\\prof"), 0);
  std::ofstream(machine_.root() + "/computer.txt") << "TESTPC\n";
  WriteConfig("MINE", 4096, 0x800, 4);

  auto scan = ScanExistingInstances(kProfile);
  ASSERT_EQ(scan->records.count(), 6);
  EXPECT_EQ(scan->adminIndex, 1);
  EXPECT_EQ(scan->defaultIndex, 2);
  EXPECT_STREQ(scan->records[2].profileDir.c_str(), "") << "same directory in another case";
  const int owned[] = {0, 0, 0, 0, 1, 1}, nodeType[] = {2, 2, 2, 4, 4, 4};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(scan->records[i].ownedElsewhere, owned[i]) << i;
    EXPECT_EQ(scan->records[i].nodeType, nodeType[i]) << i;
  }
  EXPECT_EQ(scan->priorRelease, 5);
}

// Without a default in the registry: the other record of an administration server and one
// instance is the default; a name too long for an instance is no administration server.
TEST_F(ScanTest, DefaultRuleWithAnAdministrationServer) {
  const struct {
    const char *name, *first, *second, *admin;
    int adminIndex, defaultIndex;
  } rows[] = {
      {"admin_first", "DAS", "QZ7", "DAS", 0, 1},
      {"admin_second", "QZ7", "DAS", "DAS", 1, 0},
      {"nine_character_admin_ignored", "DAS", "QZ7", "DAS123456", -1, -1},
  };
  machine_.MakeDirectory("C:\\PROF");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(host::RemoveProfileRegistry(), 0);
    EXPECT_EQ(host::DefineInstance(row.first), 0);
    EXPECT_EQ(host::DefineInstance(row.second), 0);
    EXPECT_EQ(host::WriteProfileVariable(host::kGlobalProfile, "QZ7ADMINSERVER", row.admin), 0);
    auto scan = ScanExistingInstances(kProfile);
    EXPECT_EQ(scan->adminIndex, row.adminIndex);
    EXPECT_EQ(scan->defaultIndex, row.defaultIndex);
  }
}

TEST_F(ScanTest, ConfigurationFileByBytesRead) {
  struct Row {
    const char *name, *configText;
    size_t size;
    uint32_t version;
    int priorRelease, nodeType;
  } rows[] = {
      {"17_bytes", "", 17, 0x900, 0, 2},
      {"41_bytes", "", 41, 0x900, 6, 2},
      {"42_bytes", "", 42, 0x800, 5, 3},
      {"115_bytes", "CONFIGTEXT", 115, 0x900, 6, 3},
  };
  EXPECT_EQ(host::DefineInstance("I"), 0);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    WriteConfig("I", row.size, row.version, 3);
    auto scan = ScanExistingInstances(kProfile);
    ASSERT_EQ(scan->records.count(), 1);
    EXPECT_EQ(scan->priorRelease, row.priorRelease);
    EXPECT_EQ(scan->records[0].nodeType, row.nodeType);
    EXPECT_STREQ(scan->records[0].configText.c_str(), row.configText);
  }
}

}  // namespace
}  // namespace qz7::entry
