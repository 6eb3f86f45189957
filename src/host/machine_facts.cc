#include "host/machine_facts.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "host/host_services.h"
#include "platform/computer.h"

namespace qz7::host {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kLoopSteps = 200000;
constexpr int kSpeedRuns = 3;
constexpr size_t kCopyBytes = size_t{4} << 20;  // beyond the first- and second-level caches
constexpr int kCopyRuns = 3;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A linear congruential walk the compiler cannot fold away: its result is stored.
volatile uint32_t loop_sink;

double TimeLoop(uint32_t seed) {
  Clock::time_point start = Clock::now();
  uint32_t value = seed;
  for (uint32_t step = 0; step < kLoopSteps; ++step) {
    value = value * 1664525u + 1013904223u;
    value ^= value >> 13;
  }
  loop_sink = value;
  return MillisecondsSince(start);
}

}  // namespace

int MeasureProcessorSpeed(float* millisecondsPerStep) {
  if (millisecondsPerStep == nullptr) return kBadArgument;
  double best = 0.0;
  for (int run = 0; run < kSpeedRuns; ++run) {
    double elapsed = TimeLoop(static_cast<uint32_t>(run) + loop_sink);
    if (elapsed > 0.0 && (best == 0.0 || elapsed < best)) best = elapsed;
  }
  if (best <= 0.0) return kMeasurementFailed;
  *millisecondsPerStep = static_cast<float>(best / kLoopSteps);
  return 0;
}

int MeasureCopyBandwidth(float* megabytesPerSecond) {
  if (megabytesPerSecond == nullptr) return kBadArgument;
  // The buffers are made and touched once per process: the first touch of fresh pages costs
  // far more than the copies being timed.
  auto make = [](unsigned char fill) {
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[kCopyBytes]);
    if (buffer) std::memset(buffer.get(), fill, kCopyBytes);
    return buffer;
  };
  static const std::unique_ptr<unsigned char[]> sourceBuffer = make(0x5A);
  static const std::unique_ptr<unsigned char[]> targetBuffer = make(0);
  if (!sourceBuffer || !targetBuffer) return kSystemError;
  unsigned char* source = sourceBuffer.get();
  unsigned char* target = targetBuffer.get();
  double best = 0.0;
  for (int run = 0; run < kCopyRuns; ++run) {
    source[static_cast<size_t>(run)] ^= 1;  // each run copies different contents
    Clock::time_point start = Clock::now();
    std::memcpy(target, source, kCopyBytes);
    double elapsed = MillisecondsSince(start);
    loop_sink = target[static_cast<size_t>(run)];
    if (elapsed > 0.0 && (best == 0.0 || elapsed < best)) best = elapsed;
  }
  if (best <= 0.0) return kMeasurementFailed;
  *megabytesPerSecond = static_cast<float>(static_cast<double>(kCopyBytes) / best / 1000.0);
  return 0;
}

int ProductComputerName(std::string* name) {
  char buffer[256];
  uint32_t size = sizeof buffer;
  if (!qz7::platform::GetComputerNameA(buffer, &size)) return kSystemError;
  name->assign(buffer, size);
  return 0;
}

}  // namespace qz7::host
