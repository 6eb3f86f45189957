#include "platform/fault_injection.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win_error.h"

namespace qz7::platform {
namespace {

std::mutex planMutex;
FaultPlan activePlan;
std::atomic<bool> planActive{false};
std::atomic<uint64_t> operationCount{0};

// Parses a field made only of decimal digits. False on an empty or overlong field.
bool ParseNumber(const std::string& text, uint64_t* value) {
  if (text.empty() || text.size() > 19) return false;
  uint64_t result = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + static_cast<uint64_t>(c - '0');
  }
  *value = result;
  return true;
}

}  // namespace

void SetFaultPlan(const FaultPlan& plan) {
  std::lock_guard<std::mutex> lock(planMutex);
  activePlan = plan;
  operationCount = 0;
  planActive = plan.triggerAt != 0;
}

void ClearFaultPlan() { SetFaultPlan(FaultPlan{}); }

uint64_t FileOperationCount() { return operationCount; }

void ResetFileOperationCount() { operationCount = 0; }

bool InstallFaultPlanFromEnvironment() {
  const char* text = std::getenv("QZ7_FAULT");
  if (text == nullptr || *text == '\0') return false;
  std::vector<std::string> fields(1);
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == ':') {
      fields.emplace_back();
    } else {
      fields.back().push_back(*p);
    }
  }
  if (fields.size() < 2 || fields.size() > 3) return false;

  FaultPlan plan;
  if (!ParseNumber(fields[0], &plan.triggerAt) || plan.triggerAt == 0) return false;
  if (fields[1] == "crash") {
    if (fields.size() != 2) return false;
    plan.crash = true;
  } else {
    uint64_t error = 0;
    if (!ParseNumber(fields[1], &error) || error == 0 || error > 0xFFFFFFFFu) return false;
    plan.error = static_cast<uint32_t>(error);
    if (fields.size() == 3) {
      if (fields[2] != "repeat") return false;
      plan.repeat = true;
    }
  }
  SetFaultPlan(plan);
  return true;
}

uint32_t CheckFault(const char* /*operation*/) {
  uint64_t number = ++operationCount;
  if (!planActive) return 0;
  FaultPlan plan;
  {
    std::lock_guard<std::mutex> lock(planMutex);
    plan = activePlan;
  }
  bool hit = plan.repeat ? number >= plan.triggerAt : number == plan.triggerAt;
  if (!hit) return 0;
  // A crash leaves no trace: no destructors, no atexit handlers, no buffered data written.
  if (plan.crash) std::_Exit(plan.crashExitCode);
  uint32_t error = plan.error != 0 ? plan.error : kErrorGenFailure;
  SetLastError(error);
  return error;
}

}  // namespace qz7::platform
