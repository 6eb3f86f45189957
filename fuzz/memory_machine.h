// The fuzz targets' machine lies on a memory file system when the host has one (/dev/shm),
// and its syncs stop at the test seam (the fault wrapper, which then only flushes): every
// step the library makes durable syncs, and each input would pay for those syncs, leaving a
// target a tenth of the inputs in the same time. What a sync makes durable is not what the
// targets look for (a crash or a hang on any bytes).
#ifndef QZ7_FUZZ_MEMORY_MACHINE_H_
#define QZ7_FUZZ_MEMORY_MACHINE_H_

#include "testkit/fault_injection.h"
#include "testkit/temp_machine.h"

namespace qz7::fuzz {

// The target's machine, made on the first call and kept for every input.
inline testkit::TempMachine& MemoryMachine() {
  static testkit::MemoryTempFolder inMemory;
  static const bool syncsStopAtTheSeam = [] {
    platform::SetSyncsReachDisk(false);
    return true;
  }();
  static_cast<void>(syncsStopAtTheSeam);
  static testkit::TempMachine machine;
  return machine;
}

}  // namespace qz7::fuzz

#endif  // QZ7_FUZZ_MEMORY_MACHINE_H_
