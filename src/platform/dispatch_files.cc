// The public file, stream and folder operations: each counts itself at the fault seam, keeps
// the power-cut bookkeeping when a power-cut plan runs, and calls the backend.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/backend.h"
#include "platform/dispatch.h"
#include "platform/file_system.h"
#include "platform/win_error.h"

namespace qz7::platform {
namespace {

using dispatch::Enter;

template <typename T>
T Failed(uint32_t error, T result) {
  SetLastError(error);
  return result;
}

bool OpensForWriting(const char* mode) {
  return mode[0] == 'w' || mode[0] == 'a' || std::strchr(mode, '+') != nullptr;
}

}  // namespace

// ---- Streams -------------------------------------------------------------------------------

FileStream::FileStream(Native* native) : native_(native) {}

FileStream::~FileStream() {
  if (native_ == nullptr) return;
  durability::ForgetStream(this);
  backend::StreamClose(native_);
  native_ = nullptr;
}

size_t FileStream::Read(void* buffer, size_t size) {
  if (native_ == nullptr) return Failed(kErrorInvalidHandle, size_t{0});
  if (Enter(OperationKind::kStream) != 0) return backend::StreamSetError(native_), 0;
  return backend::StreamRead(native_, buffer, size);
}

size_t FileStream::Write(const void* data, size_t size) {
  if (native_ == nullptr) return Failed(kErrorInvalidHandle, size_t{0});
  if (Enter(OperationKind::kStream) != 0) return backend::StreamSetError(native_), 0;
  return backend::StreamWrite(native_, data, size);
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
  if (Enter(OperationKind::kStream) != 0) return backend::StreamSetError(native_), nullptr;
  return backend::StreamGetLine(native_, buffer, size);
}

int FileStream::Seek(int64_t offset, int origin) {
  if (native_ == nullptr) return Failed(kErrorInvalidHandle, -1);
  if (Enter(OperationKind::kStream) != 0) return -1;
  return backend::StreamSeek(native_, offset, origin);
}

// Tell, AtEnd and HasError only look at the stream's own state: not counted.
int64_t FileStream::Tell() {
  if (native_ == nullptr) return Failed(kErrorInvalidHandle, int64_t{-1});
  return backend::StreamTell(native_);
}

int FileStream::Flush() {
  if (native_ == nullptr) return Failed(kErrorInvalidHandle, -1);
  if (Enter(OperationKind::kStream) != 0) return backend::StreamSetError(native_), -1;
  return backend::StreamFlush(native_);
}

int FileStream::Sync() {
  if (native_ == nullptr) return Failed(kErrorInvalidHandle, -1);
  if (Enter(OperationKind::kStream) != 0) return backend::StreamSetError(native_), -1;
  if (backend::StreamSync(native_) != 0) return -1;
  durability::AfterStreamSync(this);
  return 0;
}

bool FileStream::AtEnd() const { return native_ != nullptr && backend::StreamAtEnd(native_); }

bool FileStream::HasError() const { return native_ != nullptr && backend::StreamHasError(native_); }

int FileStream::Close() {
  if (native_ == nullptr) return Failed(kErrorInvalidHandle, -1);
  Native* native = native_;
  native_ = nullptr;
  durability::ForgetStream(this);
  if (Enter(OperationKind::kStream) != 0) {
    // An injected failure loses what was still buffered, as a failing close would.
    backend::StreamDiscard(native);
    return -1;
  }
  return backend::StreamClose(native);
}

FileHandle OpenFile(const char* path, const char* mode) {
  if (Enter(OperationKind::kFile) != 0) return nullptr;
  if (path == nullptr || mode == nullptr) return Failed(kErrorInvalidParameter, nullptr);
  bool writing = OpensForWriting(mode);
  if (writing) durability::BeforeChange(path);
  FileStream::Native* native = backend::OpenFile(path, mode);
  if (native == nullptr) return nullptr;
  auto stream = std::make_unique<FileStream>(native);
  if (writing) {
    durability::AfterOpenForWrite(stream.get(), path);
  } else {
    durability::AfterOpenForRead(stream.get(), path);
  }
  return stream;
}

// ---- Files ---------------------------------------------------------------------------------

int RemoveFile(const char* path) {
  if (Enter(OperationKind::kFile) != 0) return -1;
  if (path != nullptr) durability::BeforeChange(path);
  if (backend::RemoveFile(path) != 0) return -1;
  durability::AfterRemove(path);
  return 0;
}

namespace {

// RenameFile and ReplaceFile: one counted move, its bookkeeping around the backend's move.
int Move(int (*move)(const char*, const char*), const char* from, const char* to) {
  if (Enter(OperationKind::kFile) != 0) return -1;
  if (from != nullptr && to != nullptr) {
    durability::BeforeChange(from);
    durability::BeforeChange(to);
  }
  if (move(from, to) != 0) return -1;
  durability::AfterMove(from, to);
  return 0;
}

}  // namespace

int RenameFile(const char* from, const char* to) { return Move(backend::RenameFile, from, to); }

int ReplaceFile(const char* from, const char* to) { return Move(backend::ReplaceFile, from, to); }

int GetFileStatus(const char* path, FileStatus* status) {
  if (Enter(OperationKind::kFile) != 0) return -1;
  return backend::GetFileStatus(path, status);
}

int SetFileWritable(const char* path, bool writable) {
  if (Enter(OperationKind::kFile) != 0) return -1;
  return backend::SetFileWritable(path, writable);
}

bool CopyFileA(const char* existingFile, const char* newFile, bool failIfExists) {
  if (Enter(OperationKind::kFile) != 0) return false;
  if (newFile != nullptr) durability::BeforeChange(newFile);
  if (!backend::CopyFileA(existingFile, newFile, failIfExists)) return false;
  durability::AfterCopy(newFile);
  return true;
}

FolderCopy::FolderCopy(const char* from, const char* to, bool fresh)
    : from_(from == nullptr ? "" : from), to_(to == nullptr ? "" : to) {
  if (Enter(OperationKind::kFolder) != 0) return;
  native_ = backend::OpenFolderCopy(from_.c_str(), to_.c_str(), fresh);
}

FolderCopy::~FolderCopy() {
  if (native_ != nullptr) backend::CloseFolderCopy(native_);
}

bool FolderCopy::Copy(const char* name) {
  if (name == nullptr) return Failed(kErrorInvalidParameter, false);
  if (Enter(OperationKind::kFile) != 0) return false;
  const std::string fromPath = from_ + name;
  const std::string toPath = to_ + name;
  durability::BeforeChange(toPath.c_str());
  const bool copied =
      native_ != nullptr ? backend::CopyFileBetween(native_, name, fromPath.c_str(), toPath.c_str())
                         : backend::CopyFileA(fromPath.c_str(), toPath.c_str(), false);
  if (!copied) return false;
  durability::AfterCopy(toPath.c_str());
  return true;
}

// Bookkeeping of the copy alone, nothing on disk: not counted.
void FolderCopy::NoteMade(const char* name) {
  if (native_ != nullptr && name != nullptr) backend::NoteMadeInFolderCopy(native_, name);
}

// ---- Folders -------------------------------------------------------------------------------

int MakeDirectory(const char* path) {
  if (Enter(OperationKind::kFolder) != 0) return -1;
  if (path != nullptr) durability::BeforeChange(path);
  if (backend::MakeDirectory(path) != 0) return -1;
  durability::AfterMakeDirectory(path);
  return 0;
}

int RemoveDirectory(const char* path) {
  if (Enter(OperationKind::kFolder) != 0) return -1;
  if (path != nullptr) durability::BeforeChange(path);
  if (backend::RemoveDirectory(path) != 0) return -1;
  durability::AfterRemove(path);
  return 0;
}

// A computation on the path and this process's current directory: not counted.
char* FullPath(char* out, const char* path, size_t size) {
  return backend::FullPath(out, path, size);
}

int GetCurrentDirectoryText(char* out, size_t size) {
  if (Enter(OperationKind::kFolder) != 0) return -1;
  return backend::GetCurrentDirectoryText(out, size);
}

int SetCurrentDirectoryText(const char* path) {
  if (Enter(OperationKind::kFolder) != 0) return -1;
  return backend::SetCurrentDirectoryText(path);
}

FindHandle FindFirst(const char* pattern, FindData* data) {
  if (Enter(OperationKind::kFolder) != 0) return kInvalidFindHandle;
  return backend::FindFirst(pattern, data);
}

int FindNext(FindHandle handle, FindData* data) {
  if (Enter(OperationKind::kFolder) != 0) return -1;
  return backend::FindNext(handle, data);
}

int FindClose(FindHandle handle) {
  // The search is released even when the close is made to fail.
  uint32_t error = Enter(OperationKind::kFolder);
  int result = backend::FindClose(handle);
  return error != 0 ? Failed(error, -1) : result;
}

int SyncDirectory(const char* path) {
  if (Enter(OperationKind::kFolder) != 0) return -1;
  if (backend::SyncDirectory(path) != 0) return -1;
  durability::AfterSyncDirectory(path);
  return 0;
}

int SyncFileSystem() {
  if (Enter(OperationKind::kFolder) != 0) return -1;
  if (backend::SyncFileSystem() != 0) return -1;
  durability::AfterSyncFileSystem();
  return 0;
}

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
