#include "platform/win32/changed_volumes.h"

#include <bitset>
#include <cctype>
#include <mutex>

#include "platform/win32/error_mapping.h"
#include "platform/win32/windows_api.h"

namespace qz7::platform::win32 {
namespace {

std::mutex volumesMutex;
std::bitset<26> changed;  // by drive letter, A to Z

// The drive letter's index (0 for A:) of a path that starts with one, else -1.
int DriveOf(const char* path) {
  const int letter = std::toupper(static_cast<unsigned char>(path[0]));
  return letter >= 'A' && letter <= 'Z' && path[1] == ':' ? letter - 'A' : -1;
}

}  // namespace

void NoteVolumeChanged(const char* path) {
  if (path == nullptr || path[0] == '\0') return;
  // The full path names the drive of a relative one; should it not fit, the path itself or
  // the current directory does.
  char full[MAX_PATH];
  const DWORD length = GetFullPathNameA(path, sizeof full, full, nullptr);
  int drive = length != 0 && length < sizeof full ? DriveOf(full) : DriveOf(path);
  if (drive < 0 && path[0] != '\\') {
    char current[MAX_PATH];
    const DWORD size = GetCurrentDirectoryA(sizeof current, current);
    if (size != 0 && size < sizeof current) drive = DriveOf(current);
  }
  if (drive < 0) return;
  std::lock_guard<std::mutex> lock(volumesMutex);
  changed.set(static_cast<size_t>(drive));
}

int FlushChangedVolumes() {
  std::bitset<26> pending;
  {
    std::lock_guard<std::mutex> lock(volumesMutex);
    pending = changed;
  }
  for (int drive = 0; drive < 26; ++drive) {
    if (!pending.test(drive)) continue;
    char volume[] = "\\\\.\\X:";
    volume[4] = static_cast<char>('A' + drive);
    HANDLE handle = CreateFileA(volume, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      SetLastErrorFromSystem();
      return -1;
    }
    const bool flushed = FlushFileBuffers(handle) || ::GetLastError() == ERROR_INVALID_FUNCTION;
    if (!flushed) SetLastErrorFromSystem();
    CloseHandle(handle);
    if (!flushed) return -1;
    std::lock_guard<std::mutex> lock(volumesMutex);
    changed.reset(drive);
  }
  return 0;
}

}  // namespace qz7::platform::win32
