// A private drive Q: for one test, on either backend. On POSIX it is drive Q: of a fresh
// machine root; on Windows it is the drive letter the test run linked to a folder of its own
// (wine-prefix.sh maps M: to Y: through the prefix's dosdevices; $QZ7_TEST_DRIVE names the one
// of this suite), emptied before and after each test. Everything the contract tests do goes
// through the platform layer, so the same expectations hold the two backends to one contract.
#ifndef QZ7_TESTS_CONTRACT_PRIVATE_DRIVE_H_
#define QZ7_TESTS_CONTRACT_PRIVATE_DRIVE_H_

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/codepage.h"
#include "platform/machine_root.h"
#include "platform/win_error.h"

namespace qz7::platform {

class PrivateDriveTest : public ::testing::Test {
 public:
  // The Windows path of name on the private drive ("Q:\\name").
  std::string At(const std::string& name) const { return drive_ + "\\" + name; }
  // The last error when a call failed, 0 when it did not.
  static uint32_t ErrorIf(bool failed) { return failed ? GetLastError() : 0; }

 protected:
  void SetUp() override {
#if defined(_WIN32)
    const char* letter = std::getenv("QZ7_TEST_DRIVE");
    ASSERT_NE(letter, nullptr) << "QZ7_TEST_DRIVE names the suite's drive letter";
    drive_ = std::string(1, letter[0]) + ":";
    top_ = drive_ + "\\";
#else
    hostRoot_ = std::filesystem::temp_directory_path().string() + "/qz7-contract-" +
                std::to_string(::getpid());
    top_ = hostRoot_ + "/drives/q";
    std::filesystem::create_directories(top_);
    SetMachineRoot(hostRoot_);
    drive_ = "Q:";
#endif
    SetActiveCodePage(1252);
    Empty();
  }
  void TearDown() override {
    Empty();
    SetActiveCodePage(0);
#if !defined(_WIN32)
    SetMachineRoot("");
    std::error_code ignored;
    std::filesystem::remove_all(hostRoot_, ignored);
#endif
  }

 private:
  // Removes everything on the drive, read-only entries included.
  void Empty() {
    namespace fs = std::filesystem;
    std::error_code ignored;
    for (auto& entry : fs::recursive_directory_iterator(top_, ignored))
      fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    for (auto& entry : fs::directory_iterator(top_, ignored)) fs::remove_all(entry.path(), ignored);
  }

  std::string drive_;
  std::string hostRoot_;  // the machine root (POSIX)
  std::string top_;       // the drive's top folder on the host
};

}  // namespace qz7::platform

#endif  // QZ7_TESTS_CONTRACT_PRIVATE_DRIVE_H_
