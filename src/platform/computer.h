// The computer's name.
#ifndef QZ7_PLATFORM_COMPUTER_H_
#define QZ7_PLATFORM_COMPUTER_H_

#include <cstdint>

namespace qz7::platform {

// GetComputerNameA: the first line of <machine root>/computer.txt, else the host name, in
// upper case. size in: buffer size; out: length without the NUL. A buffer too small gives
// false with last error 111 (buffer overflow) and size set to the length needed plus one.
[[nodiscard]] bool GetComputerNameA(char* buffer, uint32_t* size);

// Number of processors available to this process (at least 1).
uint32_t ProcessorCount();

}  // namespace qz7::platform

#endif  // QZ7_PLATFORM_COMPUTER_H_
