#include "platform/services.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/win_error.h"
#include "tests/platform/machine_fixture.h"

namespace qz7::platform {
namespace {

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
    return service != nullptr && CloseServiceHandle(service);
  }
  // Opens name afresh and queries it with the two-call protocol: "program|account|display name",
  // or "<none>".
  std::string Query(const char* name) {
    ScHandle service = OpenServiceA(manager_, name, kServiceQueryConfig);
    if (service == nullptr) return "<none>";
    uint32_t needed = 0;
    EXPECT_FALSE(QueryServiceConfigA(service, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), kErrorInsufficientBuffer);
    std::vector<char> buffer(needed + 16, '\x7f');
    auto* query = reinterpret_cast<QueryServiceConfig*>(buffer.data());
    uint32_t smaller = 0;
    EXPECT_FALSE(QueryServiceConfigA(service, query, needed - 1, &smaller));
    EXPECT_EQ(smaller, needed);
    std::string result = "<query failed>";
    if (QueryServiceConfigA(service, query, needed, &needed)) {
      // Every text lies inside the caller's buffer, within the size asked for.
      for (char* text : {query->binaryPathName, query->serviceStartName, query->displayName,
                         query->loadOrderGroup, query->dependencies}) {
        EXPECT_GE(text, buffer.data() + sizeof(QueryServiceConfig));
        EXPECT_LT(text + std::strlen(text), buffer.data() + needed);
      }
      EXPECT_EQ(buffer[needed], '\x7f');  // nothing written past the size asked for
      result = std::string(query->binaryPathName) + "|" + query->serviceStartName + "|" +
               query->displayName;
    }
    CloseServiceHandle(service);
    return result;
  }

  ScHandle manager_ = nullptr;
};

TEST_F(ServiceTableTest, RegisteredServiceSurvivesReopenWithoutItsPassword) {
  ASSERT_TRUE(Create("QZ7", "C:\\SQLLIB\\BIN\\QZ7SYSCS.EXE"));
  ASSERT_TRUE(Create("QZ7CTL", "\"C:\\Program Files\\QZ7\\ctl.exe\" -s", nullptr, nullptr));
  EXPECT_EQ(Query("qz7"), "C:\\SQLLIB\\BIN\\QZ7SYSCS.EXE|.\\qz7admin|QZ7");
  EXPECT_EQ(Query("QZ7CTL"), "\"C:\\Program Files\\QZ7\\ctl.exe\" -s|LocalSystem|QZ7CTL");
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
  };
  for (const auto& row : rows) {
    SetLastError(0);
    ScHandle handle =
        row.create ? CreateServiceA(manager_, row.service, nullptr, "C:\\B.EXE", nullptr, nullptr)
                   : OpenServiceA(manager_, row.service, kServiceAllAccess);
    EXPECT_EQ(handle, nullptr) << row.name;
    EXPECT_EQ(GetLastError(), row.error) << row.name;
  }
  EXPECT_EQ(Query("QZ7"), "C:\\A.EXE|.\\qz7admin|QZ7");  // the failed create changed nothing
}

TEST_F(ServiceTableTest, SeesWhatAnotherProcessChanged) {
  ASSERT_TRUE(Create("QZ7", "C:\\A.EXE"));
  ASSERT_EQ(RunInChild([this] {
              ScHandle own = OpenServiceA(manager_, "QZ7", kServiceChangeConfig);
              return own != nullptr &&
                     ChangeServiceConfigA(own, nullptr, "OTHER\\user", "pw", nullptr) &&
                     Create("ADDED", "C:\\C.EXE");
            }),
            0);
  EXPECT_EQ(Query("QZ7"), "C:\\A.EXE|OTHER\\user|QZ7");
  EXPECT_EQ(Query("ADDED"), "C:\\C.EXE|.\\qz7admin|ADDED");
}

TEST_F(ServiceTableTest, HandEditedFileIsReadAndDamageKeptSilently) {
  WriteHostFile(ServicesFile(),
                "[QZ7]\n"
                "BinaryPathName=C:\\SQLLIB\\BIN\\QZ7SYSCS.EXE\n"
                "Colour=\"blue\"\n"
                "ServiceStartName=\".\\\\admin\"\n"
                "DisplayName=\"broken\n");
  std::string config;
  std::string report = StderrOf([&] { config = Query("QZ7"); });
  // An unquoted value is taken as it stands; the broken display name falls back to the name.
  EXPECT_EQ(config, "C:\\SQLLIB\\BIN\\QZ7SYSCS.EXE|.\\admin|QZ7");
  EXPECT_EQ(report, "");  // the damaged lines stay in the file, marked; nothing is printed
}

}  // namespace
}  // namespace qz7::platform
