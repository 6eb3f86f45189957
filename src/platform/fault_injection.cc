#include "platform/fault_injection.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dispatch.h"
#include "platform/win_error.h"

namespace qz7::platform {
namespace {

std::mutex planMutex;
FaultPlan activePlan;
std::atomic<bool> planActive{false};
std::atomic<uint64_t> kindCounts[kOperationKindCount];
std::atomic<uint64_t> plannedCount{0};  // operations of the plan's kinds

void ResetCounts() {
  for (auto& count : kindCounts) count = 0;
  plannedCount = 0;
}

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

std::string countsFile;

void AppendCountsAtExit() {
  std::FILE* out = std::fopen(countsFile.c_str(), "a");
  if (out == nullptr) return;
  OperationCounts counts = CurrentOperationCounts();
  for (int kind = 0; kind < kOperationKindCount; ++kind) {
    std::fprintf(out, "%s%s=%llu", kind == 0 ? "" : " ",
                 OperationKindName(static_cast<OperationKind>(kind)),
                 static_cast<unsigned long long>(counts.byKind[kind]));
  }
  std::fputc('\n', out);
  std::fclose(out);
}

}  // namespace

const char* OperationKindName(OperationKind kind) {
  static const char* const kNames[kOperationKindCount] = {
      "file", "stream", "folder", "registry", "service", "process", "environment"};
  int index = static_cast<int>(kind);
  return index >= 0 && index < kOperationKindCount ? kNames[index] : "?";
}

uint64_t OperationCounts::Total() const {
  uint64_t total = 0;
  for (uint64_t count : byKind) total += count;
  return total;
}

void SetFaultPlan(const FaultPlan& plan) {
  std::lock_guard<std::mutex> lock(planMutex);
  activePlan = plan;
  ResetCounts();
  planActive = plan.triggerAt != 0;
  if (planActive && plan.powerLoss) {
    durability::Start();
  } else {
    durability::Stop();
  }
}

void ClearFaultPlan() { SetFaultPlan(FaultPlan{}); }

OperationCounts CurrentOperationCounts() {
  OperationCounts counts;
  for (int kind = 0; kind < kOperationKindCount; ++kind) counts.byKind[kind] = kindCounts[kind];
  return counts;
}

uint64_t FileOperationCount() {
  OperationCounts counts = CurrentOperationCounts();
  return counts.Of(OperationKind::kFile) + counts.Of(OperationKind::kStream) +
         counts.Of(OperationKind::kFolder);
}

void ResetFileOperationCount() { ResetCounts(); }

bool InstallFaultPlanFromEnvironment() {
  const char* counts = std::getenv("QZ7_OPERATION_COUNTS");
  if (counts != nullptr && *counts != '\0' && countsFile.empty()) {
    countsFile = counts;
    std::atexit(AppendCountsAtExit);
  }
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
  plan.kinds = kAllOperationKinds;
  if (!ParseNumber(fields[0], &plan.triggerAt) || plan.triggerAt == 0) return false;
  if (fields[1] == "crash" || fields[1] == "powerloss") {
    if (fields.size() != 2) return false;
    (fields[1] == "crash" ? plan.crash : plan.powerLoss) = true;
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

namespace dispatch {

uint32_t Enter(OperationKind kind) {
  ++kindCounts[static_cast<int>(kind)];
  if (!planActive) return 0;
  FaultPlan plan;
  {
    std::lock_guard<std::mutex> lock(planMutex);
    plan = activePlan;
  }
  if ((plan.kinds & KindBit(kind)) == 0) return 0;
  uint64_t number = ++plannedCount;
  bool hit = plan.repeat ? number >= plan.triggerAt : number == plan.triggerAt;
  if (!hit) return 0;
  // A crash leaves no trace: no destructors, no atexit handlers, no buffered data written.
  if (plan.crash) std::_Exit(plan.crashExitCode);
  if (plan.powerLoss) {
    durability::CutPower();
    std::_Exit(plan.crashExitCode);
  }
  uint32_t error = plan.error != 0 ? plan.error : kErrorGenFailure;
  SetLastError(error);
  return error;
}

}  // namespace dispatch
}  // namespace qz7::platform
