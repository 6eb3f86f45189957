// The caller's message module, built from the set-up's English texts: on POSIX the text file
// the installation carries, on Windows the string table of the resource library the build
// makes from the same texts. Both give every text back exactly through LoadStringA.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/messages.h"
#include "platform/win_error.h"
#include "testkit/host_os.h"
#include "testkit/sample_machine.h"

namespace qz7::platform {
namespace {

class MessageContractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    namespace fs = std::filesystem;
#if defined(_WIN32)
    path_ = (fs::path(testkit::OwnProgramPath()).parent_path() / testkit::kMessageLibraryFileName)
                .string();
#else
    folder_ = testkit::MakeTempDirectory("qz7-messages-");
    path_ = folder_ + "/QZ7SETUP.MSG";
    {
      std::ofstream out(path_, std::ios::binary);
      for (const auto& [number, text] : testkit::SetupMessageTexts()) {
        out << number << " " << text << "\n";
      }
    }
#endif
    module_ = LoadMessageModule(path_);
    ASSERT_NE(module_, nullptr) << path_ << ": error " << GetLastError();
  }
  void TearDown() override {
    FreeMessageModule(module_);
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
  }

  std::string folder_, path_;
  QZ7_MODULE module_ = nullptr;
};

TEST_F(MessageContractTest, EveryTextComesBackExactly) {
  ASSERT_FALSE(testkit::SetupMessageTexts().empty());
  for (const auto& [number, text] : testkit::SetupMessageTexts()) {
    char buffer[512];
    EXPECT_EQ(LoadStringA(module_, number, buffer, sizeof buffer), static_cast<int>(text.size()))
        << number;
    EXPECT_EQ(std::string(buffer), text) << number;
  }
}

TEST_F(MessageContractTest, AMissingNumberAndAShortBuffer) {
  char buffer[16] = "untouched";
  EXPECT_EQ(LoadStringA(module_, 1, buffer, sizeof buffer), 0);
  EXPECT_EQ(std::string(buffer), "");
  // 3612 is the title "QZ7 Instance Set-up": cut to the buffer, always terminated.
  EXPECT_EQ(LoadStringA(module_, 3612, buffer, 6), 5);
  EXPECT_EQ(std::string(buffer), "QZ7 I");
}

}  // namespace
}  // namespace qz7::platform
