#include "platform/services.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/computer.h"
#include "platform/win_error.h"
#include "tests/platform/machine_fixture.h"

namespace qz7::platform {
namespace {

struct Config {
  std::string program;
  std::string account;
  std::string displayName;
};

class ServiceTableTest : public MachineFixture {
 protected:
  void SetUp() override {
    MachineFixture::SetUp();
    manager_ = OpenSCManagerA(nullptr, nullptr, kScManagerAllAccess);
    ASSERT_NE(manager_, nullptr);
  }
  void TearDown() override {
    CloseServiceHandle(manager_);
    MachineFixture::TearDown();
  }
  std::string ServicesFile() const { return root_ + "/services.txt"; }

  bool Create(const char* name, const char* program, const char* account = ".\\qz7admin",
              const char* password = "Secret#1") {
    ScHandle service = CreateServiceA(manager_, name, nullptr, program, account, password);
    if (service == nullptr) return false;
    CloseServiceHandle(service);
    return true;
  }
  // Opens name afresh and queries it with the two-call protocol.
  bool Query(const char* name, Config* config) {
    ScHandle service = OpenServiceA(manager_, name, kServiceQueryConfig);
    if (service == nullptr) return false;
    uint32_t needed = 0;
    EXPECT_FALSE(QueryServiceConfigA(service, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), kErrorInsufficientBuffer);
    EXPECT_GT(needed, sizeof(QueryServiceConfig));
    std::vector<char> buffer(needed + 16, '\x7f');
    auto* query = reinterpret_cast<QueryServiceConfig*>(buffer.data());
    uint32_t smaller = 0;
    EXPECT_FALSE(QueryServiceConfigA(service, query, needed - 1, &smaller));
    EXPECT_EQ(smaller, needed);
    bool ok = QueryServiceConfigA(service, query, needed, &needed);
    EXPECT_TRUE(ok);
    if (ok) {
      // Every text lies inside the caller's buffer, within the size asked for.
      for (char* text : {query->binaryPathName, query->serviceStartName, query->displayName,
                         query->loadOrderGroup, query->dependencies}) {
        EXPECT_GE(text, buffer.data() + sizeof(QueryServiceConfig));
        EXPECT_LT(text + std::strlen(text), buffer.data() + needed);
      }
      EXPECT_EQ(buffer[needed], '\x7f');  // nothing written past the size asked for
      *config = {query->binaryPathName, query->serviceStartName, query->displayName};
    }
    CloseServiceHandle(service);
    return ok;
  }

  ScHandle manager_ = nullptr;
};

TEST_F(ServiceTableTest, RegisteredServiceSurvivesReopenWithoutItsPassword) {
  ASSERT_TRUE(Create("QZ7", "C:\\SQLLIB\\BIN\\QZ7SYSCS.EXE"));
  ASSERT_TRUE(Create("QZ7CTL", "\"C:\\Program Files\\QZ7\\ctl.exe\" -s", nullptr, nullptr));
  Config config;
  ASSERT_TRUE(Query("qz7", &config));
  EXPECT_EQ(config.program, "C:\\SQLLIB\\BIN\\QZ7SYSCS.EXE");
  EXPECT_EQ(config.account, ".\\qz7admin");
  EXPECT_EQ(config.displayName, "QZ7");
  ASSERT_TRUE(Query("QZ7CTL", &config));
  EXPECT_EQ(config.program, "\"C:\\Program Files\\QZ7\\ctl.exe\" -s");
  EXPECT_EQ(config.account, "LocalSystem");
  EXPECT_EQ(ReadHostFile(ServicesFile()).find("Secret#1"), std::string::npos);
}

TEST_F(ServiceTableTest, ErrorsForMissingExistingAndBadNames) {
  ASSERT_TRUE(Create("QZ7", "C:\\A.EXE"));
  struct Row {
    const char* name;
    const char* service;
    bool create;
    uint32_t error;
  };
  const Row rows[] = {
      {"OpenMissing", "NOSUCH", false, kErrorServiceDoesNotExist},
      {"CreateExisting", "qz7", true, kErrorServiceExists},
      {"OpenEmptyName", "", false, kErrorInvalidName},
      {"CreateWithBackslash", "A\\B", true, kErrorInvalidName},
      {"CreateWithLineBreak", "A\nB", true, kErrorInvalidName},
  };
  for (const auto& row : rows) {
    SetLastError(0);
    ScHandle handle =
        row.create ? CreateServiceA(manager_, row.service, nullptr, "C:\\B.EXE", nullptr, nullptr)
                   : OpenServiceA(manager_, row.service, kServiceAllAccess);
    EXPECT_EQ(handle, nullptr) << row.name;
    EXPECT_EQ(GetLastError(), row.error) << row.name;
  }
  Config config;
  ASSERT_TRUE(Query("QZ7", &config));
  EXPECT_EQ(config.program, "C:\\A.EXE");  // the failed create changed nothing
}

TEST_F(ServiceTableTest, DeleteAndChangeConfiguration) {
  ASSERT_TRUE(Create("QZ7", "C:\\A.EXE"));
  ASSERT_TRUE(Create("QZ7B", "C:\\B.EXE"));
  ScHandle service = OpenServiceA(manager_, "QZ7", kServiceAllAccess);
  ASSERT_NE(service, nullptr);
  ASSERT_TRUE(ChangeServiceConfigA(service, "C:\\NEW.EXE", nullptr, nullptr, "New name"));
  Config config;
  ASSERT_TRUE(Query("QZ7", &config));
  EXPECT_EQ(config.program, "C:\\NEW.EXE");
  EXPECT_EQ(config.account, ".\\qz7admin");  // null leaves the field alone
  EXPECT_EQ(config.displayName, "New name");

  ScHandle queryOnly = OpenServiceA(manager_, "QZ7", kServiceQueryConfig);
  EXPECT_FALSE(ChangeServiceConfigA(queryOnly, "C:\\X.EXE", nullptr, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), kErrorAccessDenied);
  EXPECT_FALSE(DeleteService(queryOnly));
  CloseServiceHandle(queryOnly);

  ASSERT_TRUE(DeleteService(service));
  CloseServiceHandle(service);
  EXPECT_EQ(OpenServiceA(manager_, "QZ7", kServiceQueryConfig), nullptr);
  EXPECT_EQ(GetLastError(), kErrorServiceDoesNotExist);
  ASSERT_TRUE(Query("QZ7B", &config));
  EXPECT_EQ(config.program, "C:\\B.EXE");
}

TEST_F(ServiceTableTest, SeesWhatAnotherProcessChanged) {
  ASSERT_TRUE(Create("QZ7", "C:\\A.EXE"));
  ScHandle service = OpenServiceA(manager_, "QZ7", kServiceQueryConfig);
  ASSERT_NE(service, nullptr);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ScHandle manager = OpenSCManagerA(nullptr, nullptr, kScManagerAllAccess);
    ScHandle own = OpenServiceA(manager, "QZ7", kServiceChangeConfig);
    bool ok = own != nullptr && ChangeServiceConfigA(own, nullptr, "OTHER\\user", "pw", nullptr) &&
              Create("ADDED", "C:\\C.EXE");
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  Config config;
  ASSERT_TRUE(Query("QZ7", &config));
  EXPECT_EQ(config.account, "OTHER\\user");
  EXPECT_TRUE(Query("ADDED", &config));
  CloseServiceHandle(service);
}

TEST_F(ServiceTableTest, HandEditedFileIsReadAndDamageReported) {
  WriteHostFile(ServicesFile(),
                "[QZ7]\n"
                "BinaryPathName=C:\\SQLLIB\\BIN\\QZ7SYSCS.EXE\n"
                "Colour=\"blue\"\n"
                "ServiceStartName=\".\\\\admin\"\n"
                "DisplayName=\"broken\n");
  ::testing::internal::CaptureStderr();
  Config config;
  ASSERT_TRUE(Query("QZ7", &config));
  std::string report = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(config.program, "C:\\SQLLIB\\BIN\\QZ7SYSCS.EXE");  // unquoted, taken as it stands
  EXPECT_EQ(config.account, ".\\admin");
  EXPECT_EQ(config.displayName, "QZ7");
  EXPECT_NE(report.find(ServicesFile() + ":3:"), std::string::npos) << report;
  EXPECT_NE(report.find(ServicesFile() + ":5:"), std::string::npos) << report;
  EXPECT_EQ(report.find(ServicesFile() + ":2:"), std::string::npos) << report;
}

TEST_F(ServiceTableTest, ManagerOfThisComputerOnly) {
  char own[64];
  uint32_t size = sizeof own;
  ASSERT_TRUE(GetComputerNameA(own, &size));
  for (std::string name : {std::string(own), "\\\\" + std::string(own), std::string("")}) {
    ScHandle manager = OpenSCManagerA(name.c_str(), nullptr, kScManagerConnect);
    EXPECT_NE(manager, nullptr) << name;
    CloseServiceHandle(manager);
  }
  SetLastError(0);
  EXPECT_EQ(OpenSCManagerA("\\\\SOMEOTHERBOX", nullptr, kScManagerConnect), nullptr);
  EXPECT_NE(GetLastError(), 0u);
}

}  // namespace
}  // namespace qz7::platform
