#include "migrate/work_buffer.h"

#include <atomic>

namespace qz7::migrate {
namespace {

std::atomic<uint64_t> allocationCount{0};
std::atomic<uint64_t> failAt{0};

}  // namespace

bool WorkBufferAllocationAllowed() {
  const uint64_t number = ++allocationCount;
  return failAt == 0 || number != failAt;
}

void FailWorkBufferAllocationAt(uint64_t n) {
  allocationCount = 0;
  failAt = n;
}

uint64_t WorkBufferAllocationCount() { return allocationCount; }

}  // namespace qz7::migrate
