// A fresh machine root with drive C: and a stand-in runtime of its own for each test.
#ifndef QZ7_TESTS_HOST_HOST_FIXTURE_H_
#define QZ7_TESTS_HOST_HOST_FIXTURE_H_

#include <gtest/gtest.h>

#include <string>

#include "host/host_services.h"
#include "host/stand_in_host.h"
#include "platform/fault_injection.h"
#include "testkit/temp_machine.h"

namespace qz7::host {

class HostFixture : public ::testing::Test {
 protected:
  void SetUp() override { platform::ClearFaultPlan(); }
  void TearDown() override { platform::ClearFaultPlan(); }

  // Reads a variable; the result code and the value (empty on failure) as one text
  // "RESULT:VALUE", so that a table row states both.
  std::string Read(int variable, const char* name, const char* profile, size_t size = 256) {
    std::string buffer(size, '\x7f');
    int result = host_.PRegValuePE(kValueRead, variable, name, buffer.data(), size, profile, -1);
    return std::to_string(result) + ":" + std::string(buffer.c_str());
  }
  int Write(int variable, const char* name, const char* profile, const std::string& value) {
    std::string text = value;
    return host_.PRegValuePE(kValueWrite, variable, name, text.data(), 0, profile, -1);
  }
  int Remove(int variable, const char* name, const char* profile) {
    return host_.PRegValuePE(kValueRemove, variable, name, nullptr, 0, profile, -1);
  }
  // PRegProfilePE on a copy of text (null stays null).
  int Profile(int op, const char* text) {
    std::string copy = text != nullptr ? text : "";
    return host_.PRegProfilePE(op, text != nullptr ? copy.data() : nullptr, -1);
  }

  testkit::TempMachine machine_;
  StandInHost host_;
};

}  // namespace qz7::host

#endif  // QZ7_TESTS_HOST_HOST_FIXTURE_H_
