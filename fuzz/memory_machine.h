// The fuzz targets' machine lies on a memory file system when the host has one (/dev/shm),
// and its syncs stop at the test seam (the fault wrapper, which then only flushes): every
// step the library makes durable syncs, and each input would pay for those syncs, leaving a
// target a tenth of the inputs in the same time. What a sync makes durable is not what the
// targets look for (a crash or a hang on any bytes). Called before the target's TempMachine
// is made (it is made below the temporary folder, TMPDIR).
#ifndef QZ7_FUZZ_MEMORY_MACHINE_H_
#define QZ7_FUZZ_MEMORY_MACHINE_H_

#include <unistd.h>

#include <cstdlib>

#include "testkit/fault_injection.h"

namespace qz7::fuzz {

inline void PreferMemoryFileSystem() {
  if (access("/dev/shm", W_OK) == 0) setenv("TMPDIR", "/dev/shm", 1);
  qz7::platform::SetSyncsReachDisk(false);
}

}  // namespace qz7::fuzz

#endif  // QZ7_FUZZ_MEMORY_MACHINE_H_
