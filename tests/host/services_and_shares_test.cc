// Windows services and network shares through the stand-in runtime.
#include <string>

#include "host/service_table.h"
#include "tests/host/host_fixture.h"

namespace qz7::host {
namespace {

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
