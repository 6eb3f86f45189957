// A throw-away machine root for platform tests: a fresh mkdtemp directory with drive C:,
// installed with SetMachineRoot and removed afterwards.
#ifndef QZ7_TESTS_PLATFORM_MACHINE_FIXTURE_H_
#define QZ7_TESTS_PLATFORM_MACHINE_FIXTURE_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/codepage.h"
#include "platform/fault_injection.h"
#include "platform/machine_root.h"

namespace qz7::platform {

class MachineFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qz7_platform_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    std::filesystem::create_directories(root_ + "/drives/c");
    SetMachineRoot(root_);
    SetActiveCodePage(0);
    ClearFaultPlan();
  }
  void TearDown() override {
    ClearFaultPlan();
    SetMachineRoot("");
    SetActiveCodePage(0);
    std::error_code ignored;
    // Read-only files and folders must not stop the clean-up.
    for (auto& entry : std::filesystem::recursive_directory_iterator(root_, ignored)) {
      std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(root_, ignored);
  }

  // The host path of a name below drive C: ("Dir/File.txt").
  std::string OnC(const std::string& relative) const { return root_ + "/drives/c/" + relative; }

  void WriteHostFile(const std::string& hostPath, const std::string& bytes) const {
    std::filesystem::create_directories(std::filesystem::path(hostPath).parent_path());
    std::ofstream(hostPath, std::ios::binary) << bytes;
  }
  static std::string ReadHostFile(const std::string& hostPath) {
    std::ifstream in(hostPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::string root_;
};

}  // namespace qz7::platform

#endif  // QZ7_TESTS_PLATFORM_MACHINE_FIXTURE_H_
