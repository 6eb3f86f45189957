// The stand-in runtime's machine facts, installed-product query, Windows services and network
// shares.
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "host/machine_facts.h"
#include "host/service_table.h"
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

using ServicesAndSharesTest = HostFixture;

TEST_F(ServicesAndSharesTest, ChangeConfigRepointsTheProgramAndDeRegisterDeletes) {
  ASSERT_EQ(RegisterService("QZ7-0", "QZ7 - QZ7-0", "C:\\OLD\\bin\\qz7syscs.exe", ".\\u1", nullptr),
            0u);
  char work[512] = {};
  EXPECT_EQ(host_.ChangeNTServiceConfig("QZ7-0", 0, -1, -1, -1, "C:\\QZ7\\bin\\qz7syscs.exe",
                                        nullptr, nullptr, nullptr, nullptr, nullptr, 0, work),
            0);
  ServiceConfig config;
  ASSERT_EQ(QueryServiceNamed("QZ7-0", &config), 0u);
  EXPECT_EQ(config.program, "C:\\QZ7\\bin\\qz7syscs.exe");
  EXPECT_EQ(config.account, ".\\u1");                         // zero arguments leave the rest alone
  EXPECT_EQ(host_.DeRegisterNTService("qz7-0", work, 0), 0);  // names in any case
  EXPECT_EQ(host_.DeRegisterNTService("QZ7-0", work, 0), kNotFound);
  EXPECT_NE(std::string(work).find("QZ7-0"), std::string::npos) << work;
}

TEST_F(ServicesAndSharesTest, SharesAreKeptByName) {
  const struct {
    const char* label;
    const char *directory, *share, *computer;  // no directory: delete the share
    int expected;
  } steps[] = {
      {"create", "C:\\PROFILES", "QZ7-MPP", "", 0},
      {"create twice", "C:\\PROFILES", "QZ7-MPP", "", kShareExists},
      {"missing directory", "C:\\NOWHERE", "QZ7-X", "", kNotFound},
      {"another computer", "C:\\PROFILES", "QZ7-Y", "ELSEWHERE", kUnknownComputer},
      {"delete", nullptr, "qz7-mpp", "", 0},
      {"create after delete", "\"C:\\PROFILES\"", "QZ7-MPP", nullptr, 0},
  };
  machine_.MakeDirectory("C:\\PROFILES");
  for (const auto& s : steps) {
    int result = s.directory != nullptr
                     ? host_.CreateNetworkShare(s.directory, s.share, "Everyone", s.computer)
                     : host_.DeleteNetworkShare(s.share, s.computer);
    EXPECT_EQ(result, s.expected) << s.label;
  }
  ShareConfig share;
  ASSERT_EQ(QueryShare("QZ7-MPP", &share), 0);
  EXPECT_EQ(share.path + " " + share.group, "C:\\PROFILES Everyone");
}

}  // namespace
}  // namespace qz7::host
