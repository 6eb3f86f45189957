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

// GetLogicalDriveStringsA: writes "C:\<NUL>D:\<NUL><NUL>" in drive-letter order. Returns the
// length written without the final NUL, or the size needed when the buffer is too small,
// or 0 on failure.
[[nodiscard]] uint32_t GetLogicalDriveStringsA(uint32_t bufferLength, char* buffer);

// GetDriveTypeA for a root such as "C:\". Drives are fixed unless the machine root declares
// otherwise; a letter without a drive gives kDriveNoRootDir.
[[nodiscard]] uint32_t GetDriveTypeA(const char* rootPath);

}  // namespace qz7::platform

#endif  // QZ7_PLATFORM_DRIVES_H_
