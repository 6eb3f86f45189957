// Machine facts, environment, the one-time initialisation block and the installed-product
// query of the stand-in runtime.
#include "host/machine_facts.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "platform/computer.h"
#include "platform/environment.h"
#include "tests/host/host_fixture.h"

namespace qz7::host {
namespace {

using MachineFactsTest = HostFixture;

// The configuration file accepts a processor speed from 1e-10 to 1.0 milliseconds per step;
// a measured speed must lie there, and repeated measurements must not be one fixed number.
TEST_F(MachineFactsTest, ProcessorSpeedIsMeasured) {
  std::set<float> seen;
  for (int i = 0; i < 6; ++i) {
    float speed = -1.0f;
    ASSERT_EQ(host_.Cpum(&speed), 0);
    EXPECT_GT(speed, 1e-10f);
    EXPECT_LT(speed, 1.0f);
    seen.insert(speed);
  }
  EXPECT_GT(seen.size(), 1u) << "six timings gave the same value: not a measurement";
  EXPECT_EQ(host_.Cpum(nullptr), kBadArgument);
}

// The configuration's bandwidth is valid from 0.1 to 100000 (megabytes per second).
TEST_F(MachineFactsTest, CopyBandwidthIsMeasuredInTheConfigurationsRange) {
  std::set<float> seen;
  for (int i = 0; i < 4; ++i) {
    float bandwidth = -1.0f;
    ASSERT_EQ(host_.GetCommBandwidth(&bandwidth), 0);
    EXPECT_GE(bandwidth, 0.1f);
    EXPECT_LE(bandwidth, 100000.0f);
    seen.insert(bandwidth);
  }
  EXPECT_GT(seen.size(), 1u);
  EXPECT_EQ(host_.GetCommBandwidth(nullptr), kBadArgument);
}

TEST_F(MachineFactsTest, CpuInfoGivesTheProcessorCount) {
  CpuInfo info;
  std::memset(&info, 0xAB, sizeof info);
  ASSERT_EQ(host_.GetCPUInfo(&info), 0);
  EXPECT_EQ(info.processorCount, platform::ProcessorCount());
  EXPECT_GE(info.processorCount, 1u);
  EXPECT_EQ(info.reserved[6], 0u);
}

TEST_F(MachineFactsTest, PermittedCharset) {
  std::string charset = host_.PermittedCharset();
  struct Case {
    char c;
    bool permitted;
  };
  const Case cases[] = {{'A', true},  {'z', true},   {'0', true},    {'9', true},  {'@', true},
                        {'#', true},  {'$', true},   {'_', true},    {'-', false}, {'.', false},
                        {' ', false}, {'\\', false}, {'\xE9', false}};
  for (const Case& c : cases) {
    EXPECT_EQ(charset.find(c.c) != std::string::npos, c.permitted) << "character " << c.c;
  }
  EXPECT_EQ(charset.size(), 26u + 26u + 10u + 4u);
}

TEST_F(MachineFactsTest, InitAppDataAndControlBlock) {
  unsigned char* block = host_.ControlBlock();
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(host_.ControlBlock(), block);  // one block per process
  EXPECT_EQ(host_.CreateInitAppData(0x68211), 0);
  EXPECT_EQ(block[0] | block[1] << 8 | block[2] << 16 | block[3] << 24, 0x68211);
  static_assert(kControlBlockSize >= kControlBlockInitOffset + 2);
  StandInHost other;
  EXPECT_EQ(other.ControlBlock(), block);
}

TEST_F(MachineFactsTest, PutEnvSetsTheNamedVariable) {
  struct Case {
    int code;
    const char* name;
    const char* value;
  };
  const Case cases[] = {{kVarInstance, "QZ7INSTANCE", "QZ7"},
                        {kVarInstanceProfile, "QZ7INSTPROF", "C:\\PROFILES"}};
  for (const Case& c : cases) {
    ASSERT_EQ(host_.PutEnv(c.code, c.value), 0) << c.name;
    char buffer[64];
    ASSERT_GT(platform::GetEnvironmentVariableA(c.name, buffer, sizeof buffer), 0u) << c.name;
    EXPECT_STREQ(buffer, c.value);
  }
  EXPECT_EQ(host_.PutEnv(12345, "X"), kBadArgument);
  EXPECT_EQ(host_.PutEnv(kVarInstance, nullptr), kBadArgument);
}

class ProductQueryTest : public HostFixture {
 protected:
  void SetComputerFile(const std::string& text) {
    std::ofstream(std::filesystem::path(machine_.root()) / "computer.txt") << text;
  }
  // Runs init/query/term on a fresh block and returns the name at offset 1140.
  std::string Query() {
    std::vector<unsigned char> block(kProductBlockSize, 0);
    std::vector<unsigned char> context(kProductContextSize, 0);
    block[0] = 3;
    EXPECT_EQ(host_.ProIfInit(block.data(), context.data()), 0);
    EXPECT_EQ(host_.ProIfQuery(block.data(), context.data()), 0);
    EXPECT_EQ(host_.ProIfTerm(block.data(), context.data()), 0);
    return reinterpret_cast<const char*>(block.data() + kProductNameOffset);
  }
};

TEST_F(ProductQueryTest, QueryGivesThisComputersName) {
  SetComputerFile("WORKSTATION1\n");
  EXPECT_EQ(Query(), "WORKSTATION1");
  SetComputerFile("node7\n");
  EXPECT_EQ(Query(), "NODE7");
}

TEST_F(ProductQueryTest, WithoutAComputerFileTheHostsNameIsUsed) {
  char expected[64];
  uint32_t size = sizeof expected;
  ASSERT_TRUE(platform::GetComputerNameA(expected, &size));
  std::string name = Query();
  EXPECT_FALSE(name.empty());
  EXPECT_EQ(name, expected);
}

TEST_F(ProductQueryTest, MalformedCallsAreRefused) {
  std::vector<unsigned char> block(kProductBlockSize, 0);
  std::vector<unsigned char> context(kProductContextSize, 0);
  EXPECT_EQ(host_.ProIfInit(block.data(), context.data()), kBadArgument);  // first byte 0
  block[0] = 3;
  EXPECT_EQ(host_.ProIfQuery(block.data(), context.data()), kNotInitialized);
  EXPECT_EQ(block[kProductNameOffset], 0);
  EXPECT_EQ(host_.ProIfInit(nullptr, context.data()), kBadArgument);
  EXPECT_EQ(host_.ProIfInit(block.data(), nullptr), kBadArgument);
  ASSERT_EQ(host_.ProIfInit(block.data(), context.data()), 0);
  ASSERT_EQ(host_.ProIfTerm(block.data(), context.data()), 0);
  EXPECT_EQ(host_.ProIfQuery(block.data(), context.data()), kNotInitialized);  // closed
}

}  // namespace
}  // namespace qz7::host
