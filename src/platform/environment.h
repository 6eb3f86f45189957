// The process environment, as SetEnvironmentVariableA / GetEnvironmentVariableA see it.
#ifndef QZ7_PLATFORM_ENVIRONMENT_H_
#define QZ7_PLATFORM_ENVIRONMENT_H_

#include <cstdint>

namespace qz7::platform {

// A null value removes the variable. True on success.
[[nodiscard]] bool SetEnvironmentVariableA(const char* name, const char* value);
// The value's length without the NUL when it fits (copied, terminated); the size needed
// including the NUL when it does not; 0 when the variable is not set (last error 203).
[[nodiscard]] uint32_t GetEnvironmentVariableA(const char* name, char* buffer, uint32_t size);

}  // namespace qz7::platform

#endif  // QZ7_PLATFORM_ENVIRONMENT_H_
