// A machine, a message module whose texts show their number and parameters ("M5182 7"), a
// setup log, an owner that records every message box, and a set-up context over them, for the
// tests of creating and updating instances.
#ifndef QZ7_TESTS_PROVISION_PROVISION_FIXTURE_H_
#define QZ7_TESTS_PROVISION_PROVISION_FIXTURE_H_

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/messages.h"
#include "provision/provision_request.h"
#include "testkit/temp_machine.h"

namespace qz7::provision {

// The fields of a request by name; unset texts are empty.
struct RequestSpec {
  const char* name = "INST1";
  const char* account = "svc";
  const char* password = "pw";
  int32_t nodeType = -1;
  int32_t ownedElsewhere = 0;
  const char* profileDir = "";
  const char* portRangeStart = "60000";
  const char* portRangeEnd = "60003";
  const char* hostName = "";
  const char* nodeNumber = "";
  const char* ownerComputer = "";
};

inline InstanceRequest MakeRequest(const RequestSpec& spec) {
  InstanceRequest request;
  request.name = spec.name;
  request.account = spec.account;
  request.password = spec.password;
  request.nodeType = spec.nodeType;
  request.ownedElsewhere = spec.ownedElsewhere;
  request.profileDir = spec.profileDir;
  request.portRangeStart = spec.portRangeStart;
  request.portRangeEnd = spec.portRangeEnd;
  request.hostName = spec.hostName;
  request.nodeNumber = spec.nodeNumber;
  request.ownerComputer = spec.ownerComputer;
  return request;
}

inline ExistingInstance Existing(const char* name, int32_t nodeType) {
  ExistingInstance existing;
  existing.name = name;
  existing.nodeType = nodeType;
  return existing;
}

inline std::string ReadHostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class ProvisionFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    machine_ = std::make_unique<testkit::TempMachine>();
    // A tool started from the tests runs on this machine too.
    if (const char* old = std::getenv("QZ7_MACHINE")) savedMachineVariable_ = old;
    setenv("QZ7_MACHINE", machine_->root().c_str(), 1);
    const std::string modulePath = machine_->root() + "/messages.txt";
    std::ofstream(modulePath) << "3612 Title\n3598 M3598 %1\n5202 M5202 %1\n5206 M5206 %1\n"
                                 "5178 M5178 %1\n5182 M5182 %1\n5294 M5294 %1\n"
                                 "3594 M3594 %1 %2\n3914 M3914 %1 %2\n";
    module_ = platform::LoadMessageModule(modulePath);
    ASSERT_NE(module_, nullptr);
    logPath_ = machine_->root() + "/setup.log";
    logFd_ = open(logPath_.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(logFd_, 0);
    owner_ = {&RecordBox, &boxes_};
    machine_->MakeDirectory("C:\\PROF");
    machine_->MakeDirectory("C:\\QZ7\\BIN");
  }

  void TearDown() override {
    if (logFd_ >= 0) close(logFd_);
    platform::FreeMessageModule(module_);
    if (savedMachineVariable_) {
      setenv("QZ7_MACHINE", savedMachineVariable_->c_str(), 1);
    } else {
      unsetenv("QZ7_MACHINE");
    }
    machine_.reset();
  }

  // current = requested = target = C:\PROF, installation C:\QZ7, server kind 1.
  ProvisionContext Context() {
    ProvisionContext context;
    context.currentProfileDir = current_.c_str();
    context.requestedProfileDir = requested_.c_str();
    context.targetProfileDir = target_.c_str();
    context.installDir = install_.c_str();
    context.serverType = 1;
    context.existingInstances = existing_;
    context.logFile = &logFd_;
    context.messageModule = module_;
    context.ownerWindow = &owner_;
    return context;
  }

  std::string Log() const { return ReadHostFile(logPath_); }

  // The names in a directory of the machine, sorted.
  std::vector<std::string> Entries(const std::string& windowsDir) const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(machine_->HostPath(windowsDir)))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  // Writes a shell script under a tool's name in C:\QZ7\BIN: it records its arguments, one per
  // line, in <root>/ran-<tool>, runs extra, and ends with exitCode.
  void InstallScriptTool(const std::string& tool, int exitCode, const std::string& extra = "") {
    const std::string path = machine_->HostPath(installWindows_ + "\\BIN\\" + tool);
    std::ofstream(path) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" << machine_->root() << "/ran-"
                        << tool << "'\n"
                        << extra << "\nexit " << exitCode << "\n";
    chmod(path.c_str(), 0755);
  }

  // The arguments a script tool was run with, joined by '|'; "not run" when it was not.
  std::string ToolArguments(const std::string& tool) const {
    const std::string path = machine_->root() + "/ran-" + tool;
    if (!std::filesystem::exists(path)) return "not run";
    std::string text = ReadHostFile(path);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    for (char& c : text) c = c == '\n' ? '|' : c;
    return text;
  }

  std::unique_ptr<testkit::TempMachine> machine_;
  std::string current_ = "\"C:\\PROF\"";
  std::string requested_ = "\"C:\\PROF\"";
  std::string target_ = "\"C:\\PROF\"";
  std::string install_ = "\"C:\\QZ7\"";
  std::string installWindows_ = "C:\\QZ7";
  std::vector<ExistingInstance> existing_;
  std::vector<std::string> boxes_;  // "text|style"
  int logFd_ = -1;

 private:
  static int RecordBox(void* boxes, const char* text, const char*, unsigned style) {
    static_cast<std::vector<std::string>*>(boxes)->push_back(std::string(text) + "|" +
                                                             std::to_string(style));
    return 1;
  }

  std::optional<std::string> savedMachineVariable_;
  std::string logPath_;
  QZ7_MODULE module_ = nullptr;
  qz7_owner_window owner_{};
};

}  // namespace qz7::provision

#endif  // QZ7_TESTS_PROVISION_PROVISION_FIXTURE_H_
