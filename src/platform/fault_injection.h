// The fault seam. Every file operation of the platform layer (open, read, write, seek, flush,
// close, remove, rename, mkdir, rmdir, status, chmod, find, copy) first counts itself here.
// A plan can make the N-th counted operation fail with a chosen Windows error, or end the
// process at it the way a crash would: _exit, no destructors, buffered data not flushed.
#ifndef QZ7_PLATFORM_FAULT_INJECTION_H_
#define QZ7_PLATFORM_FAULT_INJECTION_H_

#include <cstdint>

namespace qz7::platform {

struct FaultPlan {
  uint64_t triggerAt = 0;   // 1-based number of the operation to hit; 0 = no fault
  uint32_t error = 0;       // Windows error to report when failing
  bool crash = false;       // end the process instead of failing
  bool repeat = false;      // keep failing every operation from triggerAt on
  int crashExitCode = 86;   // the exit status a crash leaves
};

void SetFaultPlan(const FaultPlan& plan);
void ClearFaultPlan();
// Operations counted since the last SetFaultPlan/ClearFaultPlan/ResetFileOperationCount.
uint64_t FileOperationCount();
void ResetFileOperationCount();

// Reads QZ7_FAULT from the environment: "N:crash", "N:ERROR" (fail once with ERROR) or
// "N:ERROR:repeat". Lets end-to-end tests drive the CLI the same way. False when unset.
bool InstallFaultPlanFromEnvironment();

// Called by the backend before each file operation. Returns 0 to go on, or the Windows
// error the operation must report (the last error is already set).
uint32_t CheckFault(const char* operation);

}  // namespace qz7::platform

#endif  // QZ7_PLATFORM_FAULT_INJECTION_H_
