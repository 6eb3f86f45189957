// Files and folders through the Win32 calls themselves (and _fullpath of the C runtime). The
// paths are the computer's own; the system resolves them, with its own rules for case,
// trailing dots and spaces, and short names.
#include <errno.h>
#include <stdlib.h>

#include <cstring>
#include <string>

#include "platform/backend.h"
#include "platform/file_system.h"
#include "platform/win32/changed_volumes.h"
#include "platform/win32/error_mapping.h"
#include "platform/win32/windows_api.h"
#include "platform/win_error.h"

namespace qz7::platform::backend {
namespace {

// A null or empty path names nothing, as the runtime's calls report it.
bool RejectEmpty(const char* path) {
  if (path != nullptr && path[0] != '\0') return false;
  win32::Fail(path == nullptr ? kErrorInvalidParameter : kErrorPathNotFound);
  return true;
}

int FailFromSystem() {
  win32::SetLastErrorFromSystem();
  return -1;
}

void FillFindData(const WIN32_FIND_DATAA& found, FindData* data) {
  std::strncpy(data->name, found.cFileName, kMaxPath - 1);
  data->name[kMaxPath - 1] = '\0';
  data->isDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  data->readOnly = (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  data->size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
}

}  // namespace

int RemoveFile(const char* path) {
  if (RejectEmpty(path)) return -1;
  win32::NoteVolumeChanged(path);
  return DeleteFileA(path) ? 0 : FailFromSystem();
}

int RenameFile(const char* from, const char* to) {
  if (RejectEmpty(from) || RejectEmpty(to)) return -1;
  win32::NoteVolumeChanged(from);
  win32::NoteVolumeChanged(to);
  // Write-through: the move is on the disk when the call returns, as a rename followed by a
  // sync of the folder is on POSIX (the migrations put their backups in place this way).
  return MoveFileExA(from, to, MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH) ? 0
                                                                               : FailFromSystem();
}

int ReplaceFile(const char* from, const char* to) {
  if (RejectEmpty(from) || RejectEmpty(to)) return -1;
  win32::NoteVolumeChanged(from);
  win32::NoteVolumeChanged(to);
  // A folder is never replaced (MoveFileEx would refuse only some of them).
  DWORD target = GetFileAttributesA(to);
  if (target != INVALID_FILE_ATTRIBUTES && (target & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    win32::Fail(kErrorAccessDenied);
    return -1;
  }
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? 0
             : FailFromSystem();
}

int SyncDirectory(const char* path) {
  // The names the library changes are changed by write-through moves and by calls that NTFS
  // logs before they return; a folder has nothing of its own left to flush. It must exist.
  if (RejectEmpty(path)) return -1;
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return FailFromSystem();
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    win32::Fail(kErrorDirectory);
    return -1;
  }
  return 0;
}

int SyncFileSystem() {
  // The volumes this process changed (changed_volumes.h): a volume that cannot be opened for
  // flushing or whose flush fails is reported, not left behind as if it were on the disk.
  return win32::FlushChangedVolumes();
}

int MakeDirectory(const char* path) {
  if (RejectEmpty(path)) return -1;
  win32::NoteVolumeChanged(path);
  return CreateDirectoryA(path, nullptr) ? 0 : FailFromSystem();
}

int RemoveDirectory(const char* path) {
  if (RejectEmpty(path)) return -1;
  win32::NoteVolumeChanged(path);
  return ::RemoveDirectoryA(path) ? 0 : FailFromSystem();
}

int GetFileStatus(const char* path, FileStatus* status) {
  if (RejectEmpty(path) || status == nullptr) return -1;
  // GetFileAttributesEx answers for a folder named with a trailing backslash, as _stat of the
  // newer C runtime (ucrt) does; the old one (msvcrt) fails there.
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return FailFromSystem();
  status->isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  status->isRegular = !status->isDirectory && (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) == 0;
  status->readOnly = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  status->size = status->isDirectory
                     ? 0
                     : (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return 0;
}

int SetFileWritable(const char* path, bool writable) {
  if (RejectEmpty(path)) return -1;
  win32::NoteVolumeChanged(path);
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return FailFromSystem();
  DWORD wanted = writable ? attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)
                          : attributes | FILE_ATTRIBUTE_READONLY;
  if (wanted == attributes) return 0;
  if (wanted == 0) wanted = FILE_ATTRIBUTE_NORMAL;
  return SetFileAttributesA(path, wanted) ? 0 : FailFromSystem();
}

char* FullPath(char* out, const char* path, size_t size) {
  if (out == nullptr || path == nullptr || path[0] == '\0' || size == 0) {
    win32::Fail(kErrorInvalidParameter);
    return nullptr;
  }
  _doserrno = 0;
  errno = 0;
  char* result = _fullpath(out, path, size);
  if (result == nullptr) win32::SetLastErrorFromRuntime();
  return result;
}

int GetCurrentDirectoryText(char* out, size_t size) {
  if (out == nullptr || size == 0) {
    win32::Fail(kErrorInvalidParameter);
    return -1;
  }
  DWORD length = GetCurrentDirectoryA(static_cast<DWORD>(size), out);
  if (length == 0) return FailFromSystem();
  if (length >= size) {
    win32::Fail(kErrorInsufficientBuffer);
    return -1;
  }
  return 0;
}

int SetCurrentDirectoryText(const char* path) {
  if (RejectEmpty(path)) return -1;
  return SetCurrentDirectoryA(path) ? 0 : FailFromSystem();
}

FindHandle FindFirst(const char* pattern, FindData* data) {
  if (RejectEmpty(pattern) || data == nullptr) return kInvalidFindHandle;
  WIN32_FIND_DATAA found;
  HANDLE handle = FindFirstFileA(pattern, &found);
  if (handle == INVALID_HANDLE_VALUE) {
    win32::SetLastErrorFromSystem();
    return kInvalidFindHandle;
  }
  FillFindData(found, data);
  return reinterpret_cast<FindHandle>(handle);
}

int FindNext(FindHandle handle, FindData* data) {
  if (handle == kInvalidFindHandle || data == nullptr) {
    win32::Fail(kErrorInvalidHandle);
    return -1;
  }
  WIN32_FIND_DATAA found;
  if (!FindNextFileA(reinterpret_cast<HANDLE>(handle), &found)) return FailFromSystem();
  FillFindData(found, data);
  return 0;
}

int FindClose(FindHandle handle) {
  if (handle == kInvalidFindHandle) {
    win32::Fail(kErrorInvalidHandle);
    return -1;
  }
  return ::FindClose(reinterpret_cast<HANDLE>(handle)) ? 0 : FailFromSystem();
}

bool CopyFileA(const char* existingFile, const char* newFile, bool failIfExists) {
  if (RejectEmpty(existingFile) || RejectEmpty(newFile)) return false;
  win32::NoteVolumeChanged(newFile);
  if (::CopyFileA(existingFile, newFile, failIfExists ? TRUE : FALSE)) return true;
  win32::SetLastErrorFromSystem();
  return false;
}

}  // namespace qz7::platform::backend
