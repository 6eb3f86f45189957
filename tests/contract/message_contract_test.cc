// The caller's message module, built from the set-up's English texts: on POSIX the text file
// the installation carries, on Windows the string table of the resource library the build
// makes from the same texts. Both give every text back exactly through LoadStringA.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/messages.h"
#include "platform/win_error.h"
#include "testkit/temp_machine.h"
#include "tools/sample/caller_host.h"
#include "tools/sample/sample_machine.h"

namespace qz7::platform {
namespace {

TEST(MessageContractTest, EveryTextComesBackExactlyAndShortBuffersAreCut) {
#if defined(_WIN32)
  const std::string path = (std::filesystem::path(sample::OwnProgramPath()).parent_path() /
                            sample::kMessageLibraryFileName)
                               .string();
#else
  const testkit::TempMachine scratch;
  const std::string path = scratch.root() + "/QZ7SETUP.MSG";
  std::string lines;
  for (const auto& [number, text] : sample::SetupMessageTexts()) {
    lines += std::to_string(number) + " " + text + "\n";
  }
  testkit::WriteHostFile(path, lines);
#endif
  QZ7_MODULE module = LoadMessageModule(path);
  ASSERT_NE(module, nullptr) << path << ": error " << GetLastError();
  ASSERT_FALSE(sample::SetupMessageTexts().empty());
  for (const auto& [number, text] : sample::SetupMessageTexts()) {
    char buffer[512];
    EXPECT_EQ(LoadStringA(module, number, buffer, sizeof buffer), static_cast<int>(text.size()))
        << number;
    EXPECT_EQ(std::string(buffer), text) << number;
  }
  // A number the module does not hold gives an empty text.
  char buffer[16] = "untouched";
  EXPECT_EQ(LoadStringA(module, 1, buffer, sizeof buffer), 0);
  EXPECT_EQ(std::string(buffer), "");
  // 3612 is the title "QZ7 Instance Set-up": cut to the buffer, always terminated.
  EXPECT_EQ(LoadStringA(module, 3612, buffer, 6), 5);
  EXPECT_EQ(std::string(buffer), "QZ7 I");
  FreeMessageModule(module);
}

}  // namespace
}  // namespace qz7::platform
