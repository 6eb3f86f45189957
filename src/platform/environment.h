// The process environment, as SetEnvironmentVariableA / GetEnvironmentVariableA see it.
#ifndef QZ7_PLATFORM_ENVIRONMENT_H_
#define QZ7_PLATFORM_ENVIRONMENT_H_

// Its operations are rows of the platform table (operations.inc).
#include "platform/platform_table.h"  // IWYU pragma: export

#endif  // QZ7_PLATFORM_ENVIRONMENT_H_
