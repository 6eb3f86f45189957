// Machine facts and the installed-product query of the stand-in runtime.
#include "host/machine_facts.h"

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "platform/computer.h"
#include "tests/host/host_fixture.h"

namespace qz7::host {
namespace {

using MachineFactsTest = HostFixture;

// Speed and bandwidth lie in the ranges the configuration accepts and are measured, not one
// fixed number.
TEST_F(MachineFactsTest, SpeedAndBandwidthAreMeasured) {
  std::set<float> values;
  for (int i = 0; i < 6; ++i) {
    float speed = -1.0f, bandwidth = -1.0f;
    ASSERT_EQ(host_.Cpum(&speed) + host_.GetCommBandwidth(&bandwidth), 0);
    EXPECT_TRUE(speed > 1e-10f && speed < 1.0f && bandwidth >= 0.1f && bandwidth <= 100000.0f);
    values.insert({speed, bandwidth});
  }
  EXPECT_GT(values.size(), 2u) << "the same values six times";
  EXPECT_EQ(host_.Cpum(nullptr) + host_.GetCommBandwidth(nullptr), 2 * kBadArgument);
  CpuInfo info{};
  ASSERT_EQ(host_.GetCPUInfo(&info), 0);
  EXPECT_EQ(info.processorCount, platform::ProcessorCount());
}

TEST_F(MachineFactsTest, ProductQueryGivesThisComputersName) {
  std::vector<unsigned char> block(kProductBlockSize, 0), context(kProductContextSize, 0);
  EXPECT_EQ(host_.ProIfInit(block.data(), context.data()), kBadArgument);  // first byte 0
  block[0] = 3;
  EXPECT_EQ(host_.ProIfQuery(block.data(), context.data()), kNotInitialized);
  std::ofstream(std::filesystem::path(machine_.root()) / "computer.txt") << "node7\n";
  EXPECT_EQ(host_.ProIfInit(block.data(), context.data()) +
                host_.ProIfQuery(block.data(), context.data()) +
                host_.ProIfTerm(block.data(), context.data()),
            0);
  EXPECT_STREQ(reinterpret_cast<const char*>(block.data() + kProductNameOffset), "NODE7");
  EXPECT_EQ(host_.ProIfQuery(block.data(), context.data()), kNotInitialized);  // ended
}

}  // namespace
}  // namespace qz7::host
