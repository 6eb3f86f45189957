// A throw-away machine root for platform tests (the test kit's, with drive C:), with the code
// page and the fault plan reset around each test.
#ifndef QZ7_TESTS_PLATFORM_MACHINE_FIXTURE_H_
#define QZ7_TESTS_PLATFORM_MACHINE_FIXTURE_H_

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "platform/codepage.h"
#include "platform/services.h"
#include "platform/win_error.h"
#include "testkit/fault_injection.h"
#include "testkit/temp_machine.h"

namespace qz7::platform {

using testkit::ReadHostFile;
using testkit::WriteHostFile;

class MachineFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    SetActiveCodePage(0);
    ClearFaultPlan();
  }
  void TearDown() override {
    ClearFaultPlan();
    SetActiveCodePage(0);
  }

  // The last error when a call failed, 0 when it did not.
  static uint32_t ErrorIf(bool failed) { return failed ? GetLastError() : 0; }

  // Registers the service name running program under the local system's account, through a
  // service manager of its own: whether it was made.
  static bool MakeService(const std::string& name, const char* program) {
    ScHandle manager = OpenSCManagerA(nullptr, nullptr, kScManagerAllAccess);
    ScHandle service = CreateServiceA(manager, name.c_str(), nullptr, program, nullptr, nullptr);
    const bool made = service != nullptr && CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return made;
  }

  // The host path of a name below drive C: ("Dir/File.txt").
  std::string OnC(const std::string& relative) const { return root_ + "/drives/c/" + relative; }

  // Runs body in a forked child that ends with exit code 0 when body returns true, 1 otherwise.
  static pid_t StartChild(const std::function<bool()>& body) {
    pid_t child = fork();
    if (child == 0) _exit(body() ? 0 : 1);
    return child;
  }
  // The exit code of a child, or -1 when it did not end normally.
  static int WaitChild(pid_t child) {
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
  }
  static int RunInChild(const std::function<bool()>& body) { return WaitChild(StartChild(body)); }

  // What body wrote to standard error.
  static std::string StderrOf(const std::function<void()>& body) {
    ::testing::internal::CaptureStderr();
    body();
    return ::testing::internal::GetCapturedStderr();
  }

  testkit::TempMachine machine_;
  const std::string root_ = machine_.root();
};

}  // namespace qz7::platform

#endif  // QZ7_TESTS_PLATFORM_MACHINE_FIXTURE_H_
