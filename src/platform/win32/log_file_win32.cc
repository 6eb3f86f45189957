// The caller's log HANDLE: end-of-file positioning, byte-range locks (LockFileEx, which other
// processes that lock the same file respect) and writes.
#include "platform/backend.h"
#include "platform/log_file.h"
#include "platform/win32/error_mapping.h"
#include "platform/win32/windows_api.h"
#include "platform/win_error.h"

namespace qz7::platform::backend {
namespace {

bool Usable(LogHandle handle) {
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) return true;
  win32::Fail(kErrorInvalidHandle);
  return false;
}

OVERLAPPED RangeStart(int64_t offset) {
  OVERLAPPED overlapped{};
  overlapped.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset) & 0xFFFFFFFFu);
  overlapped.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
  return overlapped;
}

}  // namespace

int64_t SeekToEnd(LogHandle handle) {
  if (!Usable(handle)) return -1;
  LARGE_INTEGER zero{}, position{};
  if (!SetFilePointerEx(handle, zero, &position, FILE_END)) {
    win32::SetLastErrorFromSystem();
    return -1;
  }
  return position.QuadPart;
}

bool LockFileRange(LogHandle handle, int64_t offset, int64_t length) {
  if (!Usable(handle)) return false;
  if (offset < 0 || length < 0) {
    win32::Fail(kErrorInvalidParameter);
    return false;
  }
  if (length == 0) return true;  // an empty range holds nothing
  OVERLAPPED overlapped = RangeStart(offset);
  auto size = static_cast<uint64_t>(length);
  if (LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, static_cast<DWORD>(size & 0xFFFFFFFFu),
                 static_cast<DWORD>(size >> 32), &overlapped)) {
    return true;
  }
  win32::SetLastErrorFromSystem();
  return false;
}

bool UnlockFileRange(LogHandle handle, int64_t offset, int64_t length) {
  if (!Usable(handle)) return false;
  if (offset < 0 || length < 0) {
    win32::Fail(kErrorInvalidParameter);
    return false;
  }
  if (length == 0) return true;
  OVERLAPPED overlapped = RangeStart(offset);
  auto size = static_cast<uint64_t>(length);
  if (UnlockFileEx(handle, 0, static_cast<DWORD>(size & 0xFFFFFFFFu),
                   static_cast<DWORD>(size >> 32), &overlapped)) {
    return true;
  }
  win32::SetLastErrorFromSystem();
  return false;
}

bool WriteToDescriptor(LogHandle handle, const void* data, uint32_t size, uint32_t* written) {
  if (written != nullptr) *written = 0;
  if (!Usable(handle)) return false;
  DWORD count = 0;
  bool ok = ::WriteFile(handle, data, size, &count, nullptr);
  if (!ok) win32::SetLastErrorFromSystem();
  if (written != nullptr) *written = count;
  return ok && count == size;
}

}  // namespace qz7::platform::backend
