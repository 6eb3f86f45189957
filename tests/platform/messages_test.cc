#include "platform/messages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/win_error.h"
#include "tests/platform/machine_fixture.h"

namespace qz7::platform {
namespace {

class MessageModuleTest : public MachineFixture {
 protected:
  QZ7_MODULE Load(const std::string& text) {
    WriteHostFile(root_ + "/messages.txt", text);
    return LoadMessageModule(root_ + "/messages.txt");
  }
  static std::string String(QZ7_MODULE module, uint32_t id, int bufferMax = 1024) {
    std::vector<char> buffer(static_cast<size_t>(bufferMax) + 1, '#');
    int length = LoadStringA(module, id, buffer.data(), bufferMax);
    EXPECT_EQ(static_cast<size_t>(length), std::strlen(buffer.data())) << "id " << id;
    return buffer.data();
  }
};

TEST_F(MessageModuleTest, ReadsNumberedLinesAndReportsTheRest) {
  ::testing::internal::CaptureStderr();
  QZ7_MODULE module = Load(
      "# setup messages\n"
      "3612 ZAV QZ7 Setup\n"
      "\n"
      "3608 Setup ended with code %1.\\nSee the log.\r\n"
      "not a message\n"
      "3616  two blanks keep the second\n"
      "99999999999 too big\n"
      "42\n"
      "7 first\n"
      "7 second\n"
      "10\tno blank\n");
  std::string report = ::testing::internal::GetCapturedStderr();
  ASSERT_NE(module, nullptr);
  struct Row {
    uint32_t id;
    const char* text;
  };
  const Row rows[] = {
      {3612, "ZAV QZ7 Setup"},
      {3608, "Setup ended with code %1.\nSee the log."},
      {3616, " two blanks keep the second"},
      {42, ""},
      {7, "second"},
      {10, ""},
      {1, ""},
  };
  for (const auto& row : rows) EXPECT_EQ(String(module, row.id), row.text) << "id " << row.id;
  for (int line : {5, 7, 11}) {
    EXPECT_NE(report.find("messages.txt:" + std::to_string(line) + ":"), std::string::npos)
        << "line " << line << " in: " << report;
  }
  EXPECT_EQ(report.find("messages.txt:8:"), std::string::npos) << report;
  FreeMessageModule(module);
}

TEST_F(MessageModuleTest, LoadStringCutsToTheBuffer) {
  QZ7_MODULE module = Load("1 abcdefgh\n2 ab\x82\xa0z\n");
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(String(module, 1, 5), "abcd");
  EXPECT_EQ(String(module, 1, 9), "abcdefgh");
  EXPECT_EQ(String(module, 1, 1), "");
  char untouched = '#';
  EXPECT_EQ(LoadStringA(module, 1, &untouched, 0), 0);
  EXPECT_EQ(untouched, '#');
  EXPECT_EQ(LoadStringA(nullptr, 1, &untouched, 1), 0);
  // A double-byte character is never cut in half.
  SetActiveCodePage(932);
  EXPECT_EQ(String(module, 2, 4), "ab");
  EXPECT_EQ(String(module, 2, 5), "ab\x82\xa0");
  SetActiveCodePage(1252);
  EXPECT_EQ(String(module, 2, 4), "ab\x82");
  FreeMessageModule(module);
}

TEST_F(MessageModuleTest, MissingFileGivesNoModule) {
  SetLastError(0);
  EXPECT_EQ(LoadMessageModule(root_ + "/none.txt"), nullptr);
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
}

struct BoxCall {
  std::string text;
  std::string title;
  unsigned style = 0;
  int calls = 0;
};

int RecordBox(void* userData, const char* text, const char* title, unsigned style) {
  auto* call = static_cast<BoxCall*>(userData);
  *call = {text, title, style, call->calls + 1};
  return 7;
}

TEST(MessageBoxTest, GoesToTheOwnersCallback) {
  BoxCall call;
  qz7_owner_window owner{RecordBox, &call};
  EXPECT_EQ(MessageBoxA(&owner, "Instance QZ7 failed", "ZAV QZ7 Setup", kMbIconStop), 7);
  EXPECT_EQ(call.calls, 1);
  EXPECT_EQ(call.text, "Instance QZ7 failed");
  EXPECT_EQ(call.title, "ZAV QZ7 Setup");
  EXPECT_EQ(call.style, kMbIconStop);
  qz7_owner_window silent{nullptr, nullptr};
  EXPECT_EQ(MessageBoxA(&silent, "x", "y", kMbOk), kIdOk);
  EXPECT_EQ(MessageBoxA(nullptr, "x", "y", kMbOk), 0);
  EXPECT_EQ(call.calls, 1);
}

}  // namespace
}  // namespace qz7::platform
