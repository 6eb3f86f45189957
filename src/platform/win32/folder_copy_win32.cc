// Copies between two folders on Windows: a folder copy keeps nothing open, and each file is
// copied by CopyFileA with its two full paths.
#include "platform/backend.h"
#include "platform/file_system.h"

struct qz7::platform::FolderCopy::Native {};

namespace qz7::platform::backend {

FolderCopy::Native* OpenFolderCopy(const char*, const char*, bool) {
  return new FolderCopy::Native{};
}

bool CopyFileBetween(FolderCopy::Native*, const char*, const char* fromPath, const char* toPath) {
  return CopyFileA(fromPath, toPath, false);
}

void NoteMadeInFolderCopy(FolderCopy::Native*, const char*) {}

void CloseFolderCopy(FolderCopy::Native* copy) { delete copy; }

}  // namespace qz7::platform::backend
