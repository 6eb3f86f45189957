// Windows services and network shares through the stand-in runtime.
#include <cctype>
#include <string>

#include "host/service_table.h"
#include "platform/computer.h"
#include "tests/host/host_fixture.h"

namespace qz7::host {
namespace {

class ServicesAndSharesTest : public HostFixture {
 protected:
  void SetUp() override {
    HostFixture::SetUp();
    ASSERT_EQ(
        RegisterService("QZ7-0", "QZ7 - QZ7-0", "C:\\OLD\\bin\\qz7syscs.exe", ".\\u1", nullptr),
        0u);
    machine_.MakeDirectory("C:\\PROFILES");
  }
  char work_[512] = {};
};

TEST_F(ServicesAndSharesTest, DeRegisterDeletesTheService) {
  EXPECT_EQ(host_.DeRegisterNTService("qz7-0", work_, 0), 0);  // names in any case
  ServiceConfig config;
  EXPECT_EQ(QueryServiceNamed("QZ7-0", &config), 1060u);
  EXPECT_EQ(host_.DeRegisterNTService("QZ7-0", work_, 0), kNotFound);
  EXPECT_NE(std::string(work_).find("QZ7-0"), std::string::npos) << work_;
  EXPECT_EQ(host_.DeRegisterNTService(nullptr, work_, 0), kBadArgument);
}

TEST_F(ServicesAndSharesTest, ChangeConfigRepointsTheProgramOnly) {
  EXPECT_EQ(host_.ChangeNTServiceConfig("QZ7-0", 0, -1, -1, -1, "\"C:\\QZ7\\bin\\qz7syscs.exe\"",
                                        nullptr, nullptr, nullptr, nullptr, nullptr, 0, work_),
            0);
  ServiceConfig config;
  ASSERT_EQ(QueryServiceNamed("QZ7-0", &config), 0u);
  EXPECT_EQ(config.program, "\"C:\\QZ7\\bin\\qz7syscs.exe\"");
  EXPECT_EQ(config.account, ".\\u1");  // zero arguments leave the rest alone
  EXPECT_EQ(host_.ChangeNTServiceConfig("NOSUCH", 0, -1, -1, -1, "C:\\X.exe", nullptr, nullptr,
                                        nullptr, nullptr, nullptr, 0, work_),
            kNotFound);
}

TEST_F(ServicesAndSharesTest, SharesAreKeptByName) {
  struct Step {
    const char* label;
    bool create;
    const char* directory;
    const char* share;
    const char* computer;
    int expected;
  };
  const Step steps[] = {
      {"create", true, "C:\\PROFILES", "QZ7-MPP", "", 0},
      {"create twice", true, "C:\\PROFILES", "QZ7-MPP", "", kShareExists},
      {"missing directory", true, "C:\\NOWHERE", "QZ7-X", "", kNotFound},
      {"another computer", true, "C:\\PROFILES", "QZ7-Y", "ELSEWHERE", kUnknownComputer},
      {"share name with a backslash", true, "C:\\PROFILES", "A\\B", "", kBadArgument},
      {"delete", false, nullptr, "qz7-mpp", "", 0},
      {"delete again", false, nullptr, "QZ7-MPP", "", kNotFound},
      {"create after delete", true, "\"C:\\PROFILES\"", "QZ7-MPP", nullptr, 0},
  };
  for (const Step& s : steps) {
    int result = s.create ? host_.CreateNetworkShare(s.directory, s.share, "Everyone", s.computer)
                          : host_.DeleteNetworkShare(s.share, s.computer);
    EXPECT_EQ(result, s.expected) << s.label;
  }
  ShareConfig share;
  ASSERT_EQ(QueryShare("QZ7-MPP", &share), 0);
  EXPECT_EQ(share.path, "C:\\PROFILES");
  EXPECT_EQ(share.group, "Everyone");
}

TEST_F(ServicesAndSharesTest, ShareOnThisComputerByName) {
  char name[64];
  uint32_t size = sizeof name;
  ASSERT_TRUE(platform::GetComputerNameA(name, &size));
  std::string lower = name;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(host_.CreateNetworkShare("C:\\PROFILES", "QZ7-A", "Everyone", lower.c_str()), 0);
  EXPECT_EQ(host_.DeleteNetworkShare("QZ7-A", name), 0);
}

}  // namespace
}  // namespace qz7::host
