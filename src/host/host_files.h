// Directory helpers of the stand-in runtime, over the platform layer's file functions. Paths
// are Windows paths (quoted-path texts are in base/quoted_path.h); results are Windows errors.
#ifndef QZ7_HOST_HOST_FILES_H_
#define QZ7_HOST_HOST_FILES_H_

#include <cstdint>
#include <string>
#include <vector>

namespace qz7::host {

[[nodiscard]] bool IsDirectory(const std::string& path);
[[nodiscard]] bool IsRegularFile(const std::string& path);

// Creates path and every missing directory above it. The directories it created are
// appended to created, outermost first, so a caller can take them back. Returns 0 or the
// Windows error of the step that failed (what was created before stays, and is listed).
[[nodiscard]] uint32_t MakeDirectories(const std::string& path, std::vector<std::string>* created);

// Removes the directory path and everything below it, read-only files included. Goes on past
// a failure and returns the first Windows error met, 0 when all is gone.
[[nodiscard]] uint32_t RemoveTree(const std::string& path);

}  // namespace qz7::host

#endif  // QZ7_HOST_HOST_FILES_H_
