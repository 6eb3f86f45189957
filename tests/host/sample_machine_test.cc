// A sample machine built by the test kit is one the stand-in runtime and the platform layer
// read back as intended: registry, services, templates, instance files, message files.
#include "testkit/sample_machine.h"

#include <cstring>
#include <string>
#include <vector>

#include "host/service_table.h"
#include "platform/computer.h"
#include "platform/drives.h"
#include "platform/file_system.h"
#include "platform/messages.h"
#include "testkit/dbm_block_builder.h"
#include "tests/host/host_fixture.h"
#include "util/coding.h"
#include "util/dbm_block.h"

namespace qz7::host {
namespace {

using testkit::BuildSampleMachine;
using testkit::BuiltMachine;
using testkit::SampleMachine;

class SampleMachineTest : public HostFixture {
 protected:
  void SetUp() override {
    HostFixture::SetUp();
    SampleMachine plan;
    plan.drives = {'C', 'D'};
    plan.driveTypes = {{'D', "removable"}};
    plan.computerName = "SAMPLEPC";
    plan.templates = {"qz7syssv", "qz7syssr",     "qz7sysst",    "qz7sysrq",
                      "qz7sysmp", "qz7syssv.das", "qz7syssr.das"};
    plan.instances = {
        {.name = "QZ7", .version = 0x800, .nodeType = 1, .account = ".\\db2admin"},
        {.name = "QZ7DAS", .version = 0x800, .nodeType = 1},
        {.name = "MPP",
         .version = 0x800,
         .nodeType = 4,
         .nodes = {"0", "1"},
         .portRange = "60000:60003",
         .owner = "OTHERPC"},
        {.name = "OLDIDX", .version = 0x700, .inRegistry = false, .service = false},
    };
    plan.adminServer = "QZ7DAS";
    plan.defaultInstance = "QZ7";
    plan.indexFile = true;
    built_ = BuildSampleMachine(machine_.root(), plan);
  }

  static std::vector<unsigned char> Bytes(const std::string& path) {
    return testkit::ReadMachineFile(path.c_str()).value_or(std::vector<unsigned char>());
  }

  BuiltMachine built_;
};

TEST_F(SampleMachineTest, ProfileRegistryReadsBack) {
  std::string install = "C:\\QZ7";
  std::string profiles = "C:\\QZ7PROF";
  ASSERT_EQ(host_.PRegProfilePE(kProfileSetInstall, install.data(), -1), 0);
  ASSERT_EQ(host_.PRegProfilePE(kProfileSetInstanceDir, profiles.data(), -1), 0);

  std::vector<std::string> names;
  char buffer[256];
  for (int r = host_.PRegProfilePE(kProfileFirst, buffer, -1); r == 0;
       r = host_.PRegProfilePE(kProfileNext, buffer, -1)) {
    names.push_back(buffer);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"QZ7", "QZ7DAS", "MPP"}));

  EXPECT_EQ(Read(kVarAdminServer, nullptr, nullptr), "0:QZ7DAS");
  EXPECT_EQ(Read(kVarDefaultInstance, nullptr, nullptr), "0:QZ7");
  EXPECT_EQ(Read(0, "QZ7INSTPROF", "QZ7"), "0:C:\\QZ7PROF");
  EXPECT_EQ(Read(0, "QZ7PORTRANGE", "MPP"), "0:60000:60003");
  EXPECT_EQ(Read(0, "QZ7INSTOWNER", "MPP"), "0:OTHERPC");
  EXPECT_EQ(Read(0, "QZ7PORTRANGE", "QZ7"), std::to_string(kNotFound) + ":");
}

TEST_F(SampleMachineTest, ServicesOfTheEarlierReleaseExist) {
  const char* services[] = {"QZ7", "QZ7DAS", "MPP-0", "MPP-1"};
  for (const char* name : services) {
    ServiceConfig config;
    ASSERT_EQ(QueryServiceNamed(name, &config), 0u) << name;
    EXPECT_EQ(config.program, "C:\\QZ7OLD\\bin\\qz7syscs.exe") << name;
  }
  ServiceConfig config;
  ASSERT_EQ(QueryServiceNamed("QZ7", &config), 0u);
  EXPECT_EQ(config.account, ".\\db2admin");
  EXPECT_EQ(QueryServiceNamed("MPP", &config), 1060u);
  EXPECT_EQ(QueryServiceNamed("OLDIDX", &config), 1060u);
}

TEST_F(SampleMachineTest, TemplatesAreValidBlocksOfTheCurrentRelease) {
  struct Case {
    const char* file;
    uint16_t nodeType;
  };
  const Case cases[] = {{"qz7syssv", 1}, {"qz7syssr", 3},     {"qz7sysst", 5},    {"qz7sysrq", 2},
                        {"qz7sysmp", 4}, {"qz7syssv.das", 1}, {"qz7syssr.das", 3}};
  for (const Case& c : cases) {
    std::vector<unsigned char> block = Bytes(std::string("C:\\QZ7\\CFG\\") + c.file);
    ASSERT_EQ(block.size(), util::kDbmBlockSize) << c.file;
    EXPECT_EQ(util::LoadLE32(block.data()), util::DbmBlockChecksum(block.data())) << c.file;
    EXPECT_EQ(util::LoadLE16(block.data() + 16) & util::kDbmVersionMask, 0x900) << c.file;
    EXPECT_EQ(util::LoadLE16(block.data() + 40), c.nodeType) << c.file;
  }
}

TEST_F(SampleMachineTest, InstanceFilesAndIndexFile) {
  struct Case {
    const char* name;
    uint16_t version;
    uint16_t nodeType;
  };
  const Case cases[] = {{"QZ7", 0x800, 1}, {"MPP", 0x800, 4}, {"OLDIDX", 0x700, 1}};
  for (const Case& c : cases) {
    std::vector<unsigned char> block = Bytes(std::string("C:\\QZ7PROF\\") + c.name + "\\qz7systm");
    ASSERT_EQ(block.size(), 4096u) << c.name;
    EXPECT_EQ(util::LoadLE16(block.data() + 16), c.version) << c.name;
    EXPECT_EQ(util::LoadLE16(block.data() + 40), c.nodeType) << c.name;
    EXPECT_EQ(util::LoadLE32(block.data()), util::DbmBlockChecksum(block.data())) << c.name;
  }
  std::vector<unsigned char> index = Bytes("C:\\QZ7PROF\\QZ7IDIR");
  ASSERT_EQ(index.size(), 31u + 4 * 9);
  EXPECT_STREQ(reinterpret_cast<const char*>(index.data()), "QZ7 INSTANCE DIRECTORY");
  EXPECT_EQ(util::LoadLE32(index.data() + 27), 4u);
  EXPECT_STREQ(reinterpret_cast<const char*>(index.data() + 31 + 3 * 9), "OLDIDX");
}

TEST_F(SampleMachineTest, DrivesAndComputer) {
  char drives[64];
  uint32_t length = platform::GetLogicalDriveStringsA(sizeof drives, drives);
  EXPECT_EQ(std::string(drives, length), std::string("C:\\\0D:\\\0", 8));
  EXPECT_EQ(platform::GetDriveTypeA("C:\\"), platform::kDriveFixed);
  EXPECT_EQ(platform::GetDriveTypeA("D:\\"), platform::kDriveRemovable);
  char name[32];
  uint32_t size = sizeof name;
  ASSERT_TRUE(platform::GetComputerNameA(name, &size));
  EXPECT_STREQ(name, "SAMPLEPC");
}

TEST_F(SampleMachineTest, SetupMessageModuleHoldsEveryMessage) {
  ASSERT_FALSE(built_.setupMessagesHostPath.empty());
  QZ7_MODULE module = platform::LoadMessageModule(built_.setupMessagesHostPath);
  ASSERT_NE(module, nullptr);
  const uint32_t used[] = {3573, 3574, 3578, 3594, 3598, 3608, 3612,
                           3616, 3914, 5178, 5182, 5202, 5206, 5294};
  for (uint32_t id : used) {
    char text[1024];
    ASSERT_GT(platform::LoadStringA(module, id, text, sizeof text), 0) << id;
    EXPECT_EQ(text, testkit::SetupMessageTexts().at(id)) << id;
  }
  platform::FreeMessageModule(module);
}

TEST_F(SampleMachineTest, MigrationMessageFileHas68TextLines) {
  ASSERT_EQ(built_.migrationMessagesPath, "C:\\QZ7\\msg\\prime\\QZ7DBMIG.TXT");
  std::vector<unsigned char> raw = Bytes(built_.migrationMessagesPath);
  ASSERT_GT(raw.size(), 2u);
  EXPECT_EQ(raw[raw.size() - 2], '\r');  // written as a Windows text file

  platform::FileHandle file = platform::OpenFile(built_.migrationMessagesPath.c_str(), "r");
  ASSERT_TRUE(file);
  std::vector<std::string> lines;
  char line[256];
  while (file->GetLine(line, sizeof line) != nullptr) lines.push_back(line);
  ASSERT_EQ(lines.size(), 68u);
  for (int n = 47; n <= 51; ++n) {
    EXPECT_NE(lines[n].find("%1"), std::string::npos) << n;
    EXPECT_EQ(lines[n].back(), '\n') << n;
    EXPECT_LT(lines[n].size(), 256u) << n;
  }
}

TEST_F(SampleMachineTest, StandInCreatesAndDropsOnTheSampleInstallation) {
  ASSERT_EQ(host_.InstanceCreateExtended("NEWINST", "C:\\QZ7PROF", "C:\\QZ7", 0, nullptr, nullptr,
                                         0, 5, nullptr),
            0);
  EXPECT_EQ(Bytes("C:\\QZ7PROF\\NEWINST\\qz7systm"), Bytes("C:\\QZ7\\CFG\\qz7sysst"));
  EXPECT_EQ(host_.InstanceDrop("MPP", "C:\\QZ7PROF\\MPP"), 0);
  ServiceConfig config;
  EXPECT_EQ(QueryServiceNamed("MPP-1", &config), 1060u);
  EXPECT_FALSE(machine_.Exists("C:\\QZ7PROF\\MPP"));
}

}  // namespace
}  // namespace qz7::host
