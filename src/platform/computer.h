// The computer's name.
#ifndef QZ7_PLATFORM_COMPUTER_H_
#define QZ7_PLATFORM_COMPUTER_H_

// Its operations are rows of the platform table (operations.inc).
#include "platform/platform_table.h"  // IWYU pragma: export

#endif  // QZ7_PLATFORM_COMPUTER_H_
