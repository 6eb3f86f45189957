#include "platform/messages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
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

TEST_F(MessageModuleTest, ReadsNumberedLinesAndSkipsTheRestSilently) {
  QZ7_MODULE module = nullptr;
  std::string report = StderrOf([&] {
    module = Load(
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
  });
  ASSERT_NE(module, nullptr);
  const std::pair<uint32_t, const char*> rows[] = {
      {3612, "ZAV QZ7 Setup"},
      {3608, "Setup ended with code %1.\nSee the log."},
      {3616, " two blanks keep the second"},
      {42, ""},
      {7, "second"},
      {10, ""},
      {1, ""}};
  for (auto [id, text] : rows) EXPECT_EQ(String(module, id), text) << "id " << id;
  EXPECT_EQ(report, "");  // a library never speaks on its caller's terminal
  FreeMessageModule(module);
  SetLastError(0);
  EXPECT_EQ(LoadMessageModule(root_ + "/none.txt"), nullptr);
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
}

TEST_F(MessageModuleTest, LoadStringCutsToTheBuffer) {
  QZ7_MODULE module = Load("1 abcdefgh\n2 ab\x82\xa0z\n");
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(String(module, 1, 5), "abcd");
  EXPECT_EQ(String(module, 1, 1), "");
  char untouched = '#';
  EXPECT_EQ(LoadStringA(module, 1, &untouched, 0) + LoadStringA(nullptr, 1, &untouched, 0), 0);
  EXPECT_EQ(untouched, '#');
  // A double-byte character is never cut in half.
  SetActiveCodePage(932);
  EXPECT_EQ(String(module, 2, 4), "ab");
  EXPECT_EQ(String(module, 2, 5), "ab\x82\xa0");
  SetActiveCodePage(1252);
  EXPECT_EQ(String(module, 2, 4), "ab\x82");
  FreeMessageModule(module);
}

}  // namespace
}  // namespace qz7::platform
