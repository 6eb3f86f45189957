// The classes around the platform table's stream and folder-copy rows (FileStream, FolderCopy,
// OpenFile) and SyncFile: argument checks and object lifetime here, the operations themselves
// through the table in force.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/file_system.h"
#include "platform/win_error.h"

namespace qz7::platform {
namespace {

template <typename T>
T Failed(uint32_t error, T result) {
  SetLastError(error);
  return result;
}

const PlatformTable& Table() { return ActiveTable(); }

}  // namespace

// ---- Streams -------------------------------------------------------------------------------

FileStream::FileStream(Native* native) : native_(native) {}

FileStream::~FileStream() {
  if (native_ == nullptr) return;
  Table().StreamRelease(native_);
  native_ = nullptr;
}

size_t FileStream::Read(void* buffer, size_t size) {
  if (native_ == nullptr) return Failed(kErrorInvalidHandle, size_t{0});
  return Table().StreamRead(native_, buffer, size);
}

size_t FileStream::Write(const void* data, size_t size) {
  if (native_ == nullptr) return Failed(kErrorInvalidHandle, size_t{0});
  return Table().StreamWrite(native_, data, size);
}

int FileStream::PutText(const char* text) {
  if (text == nullptr) return Failed(kErrorInvalidParameter, -1);
  size_t length = std::strlen(text);
  return Write(text, length) == length ? 0 : -1;
}

int FileStream::Printf(const char* format, ...) {
  if (format == nullptr) return Failed(kErrorInvalidParameter, -1);
  va_list arguments;
  va_start(arguments, format);
  va_list copy;
  va_copy(copy, arguments);
  int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length < 0) {
    va_end(arguments);
    return Failed(kErrorInvalidParameter, -1);
  }
  std::string text(static_cast<size_t>(length) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, arguments);
  va_end(arguments);
  if (length == 0) return 0;
  size_t size = static_cast<size_t>(length);
  return Write(text.data(), size) == size ? length : -1;
}

char* FileStream::GetLine(char* buffer, int size) {
  if (native_ == nullptr) return Failed(kErrorInvalidHandle, static_cast<char*>(nullptr));
  return Table().StreamGetLine(native_, buffer, size);
}

int FileStream::Seek(int64_t offset, int origin) {
  if (native_ == nullptr) return Failed(kErrorInvalidHandle, -1);
  return Table().StreamSeek(native_, offset, origin);
}

int64_t FileStream::Tell() {
  if (native_ == nullptr) return Failed(kErrorInvalidHandle, int64_t{-1});
  return Table().StreamTell(native_);
}

int FileStream::Flush() {
  if (native_ == nullptr) return Failed(kErrorInvalidHandle, -1);
  return Table().StreamFlush(native_);
}

int FileStream::Sync() {
  if (native_ == nullptr) return Failed(kErrorInvalidHandle, -1);
  return Table().StreamSync(native_);
}

bool FileStream::AtEnd() const { return native_ != nullptr && Table().StreamAtEnd(native_); }

bool FileStream::HasError() const { return native_ != nullptr && Table().StreamHasError(native_); }

int FileStream::Close() {
  if (native_ == nullptr) return Failed(kErrorInvalidHandle, -1);
  Native* native = native_;
  native_ = nullptr;
  return Table().StreamClose(native);
}

FileHandle OpenFile(const char* path, const char* mode) {
  if (path == nullptr || mode == nullptr) return Failed(kErrorInvalidParameter, nullptr);
  FileStream::Native* native = Table().OpenFile(path, mode);
  if (native == nullptr) return nullptr;
  return std::make_unique<FileStream>(native);
}

// ---- Folder copies -------------------------------------------------------------------------

FolderCopy::FolderCopy(const char* from, const char* to, bool fresh)
    : from_(from == nullptr ? "" : from), to_(to == nullptr ? "" : to) {
  native_ = Table().OpenFolderCopy(from_.c_str(), to_.c_str(), fresh);
}

FolderCopy::~FolderCopy() {
  if (native_ != nullptr) Table().CloseFolderCopy(native_);
}

bool FolderCopy::Copy(const char* name) {
  if (name == nullptr) return Failed(kErrorInvalidParameter, false);
  const std::string fromPath = from_ + name;
  const std::string toPath = to_ + name;
  return native_ != nullptr
             ? Table().CopyFileBetween(native_, name, fromPath.c_str(), toPath.c_str())
             : Table().CopyFileA(fromPath.c_str(), toPath.c_str(), false);
}

void FolderCopy::NoteMade(const char* name) {
  if (native_ != nullptr && name != nullptr) Table().NoteMadeInFolderCopy(native_, name);
}

// ---- Files ---------------------------------------------------------------------------------

int SyncFile(const char* path) {
  FileHandle file = OpenFile(path, "rb+");
  if (file) {
    const bool synced = file->Sync() == 0;
    return file->Close() == 0 && synced ? 0 : -1;
  }
  if (GetLastError() != kErrorAccessDenied) return -1;
#ifdef _WIN32
  // A read-only file: Windows flushes only through a handle that may write, so the attribute
  // is lifted for the flush and put back after it. Any other denial is the sync's failure:
  // putting the attribute "back" on a file that never had it would leave that file read-only.
  FileStatus status;
  if (GetFileStatus(path, &status) != 0 || !status.readOnly) {
    SetLastError(kErrorAccessDenied);
    return -1;
  }
  if (SetFileWritable(path, true) != 0) return -1;
  file = OpenFile(path, "rb+");
  const bool synced = file && file->Sync() == 0;
  const bool closed = file && file->Close() == 0;
  const bool restored = SetFileWritable(path, false) == 0;
  return synced && closed && restored ? 0 : -1;
#else
  // fsync works through a descriptor open only for reading.
  file = OpenFile(path, "rb");
  if (!file) return -1;
  const bool synced = file->Sync() == 0;
  return file->Close() == 0 && synced ? 0 : -1;
#endif
}

}  // namespace qz7::platform
