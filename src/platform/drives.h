// Logical drives of the Windows computer: the drives/<letter>/ folders of the machine root.
#ifndef QZ7_PLATFORM_DRIVES_H_
#define QZ7_PLATFORM_DRIVES_H_

#include <cstdint>

namespace qz7::platform {

constexpr uint32_t kDriveUnknown = 0;
constexpr uint32_t kDriveNoRootDir = 1;
constexpr uint32_t kDriveRemovable = 2;
constexpr uint32_t kDriveFixed = 3;
constexpr uint32_t kDriveRemote = 4;
constexpr uint32_t kDriveCdrom = 5;
constexpr uint32_t kDriveRamdisk = 6;

}  // namespace qz7::platform

// The operations themselves are rows of the platform table.
#include "platform/platform_table.h"  // IWYU pragma: export

#endif  // QZ7_PLATFORM_DRIVES_H_
