// Streams are the C runtime's own: fopen with the Windows modes, and for a mode without "b"
// the runtime's text mode (CR LF read as LF, LF written as CR LF, and a Ctrl-Z byte ending
// what a read sees, as on every Windows computer).
#include <errno.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>

#include <cstring>

#include "platform/backend.h"
#include "platform/file_system.h"
#include "platform/win32/changed_volumes.h"
#include "platform/win32/error_mapping.h"
#include "platform/win32/windows_api.h"
#include "platform/win_error.h"

namespace qz7::platform {

struct FileStream::Native {
  FILE* file = nullptr;
  // An injected failure of one of the stream's operations; the runtime's FILE keeps its own
  // error indicator out of reach.
  bool injectedError = false;
};

namespace backend {
namespace {

void ClearRuntimeErrors() {
  _doserrno = 0;
  errno = 0;
}

// The modes OpenFile accepts: r, w or a, then any of "+", "b", "t" at most once each.
bool IsValidMode(const char* mode) {
  if (mode == nullptr || (mode[0] != 'r' && mode[0] != 'w' && mode[0] != 'a')) return false;
  bool plus = false, binary = false, text = false;
  for (const char* c = mode + 1; *c != '\0'; ++c) {
    bool* seen = *c == '+' ? &plus : *c == 'b' ? &binary : *c == 't' ? &text : nullptr;
    if (seen == nullptr || *seen) return false;
    *seen = true;
  }
  return !(binary && text);
}

}  // namespace

FileStream::Native* OpenFile(const char* path, const char* mode) {
  if (path == nullptr || path[0] == '\0') {
    win32::Fail(path == nullptr ? kErrorInvalidParameter : kErrorPathNotFound);
    return nullptr;
  }
  if (!IsValidMode(mode)) {
    win32::Fail(kErrorInvalidParameter);
    return nullptr;
  }
  // Every mode but reading may create, truncate or write the file.
  if (std::strcmp(mode, "rb") != 0 && std::strcmp(mode, "r") != 0) win32::NoteVolumeChanged(path);
  ClearRuntimeErrors();
  FILE* file = fopen(path, mode);
  if (file == nullptr) {
    win32::SetLastErrorFromRuntime();
    return nullptr;
  }
  return new FileStream::Native{file, false};
}

size_t StreamRead(FileStream::Native* stream, void* buffer, size_t size) {
  ClearRuntimeErrors();
  size_t read = fread(buffer, 1, size, stream->file);
  if (read < size && ferror(stream->file)) win32::SetLastErrorFromRuntime();
  return read;
}

size_t StreamWrite(FileStream::Native* stream, const void* data, size_t size) {
  ClearRuntimeErrors();
  size_t written = fwrite(data, 1, size, stream->file);
  if (written < size) win32::SetLastErrorFromRuntime();
  return written;
}

char* StreamGetLine(FileStream::Native* stream, char* buffer, int size) {
  ClearRuntimeErrors();
  char* line = fgets(buffer, size, stream->file);
  if (line == nullptr && ferror(stream->file)) win32::SetLastErrorFromRuntime();
  return line;
}

int StreamSeek(FileStream::Native* stream, int64_t offset, int origin) {
  ClearRuntimeErrors();
  if (_fseeki64(stream->file, offset, origin) != 0) {
    win32::SetLastErrorFromRuntime();
    return -1;
  }
  return 0;
}

int64_t StreamTell(FileStream::Native* stream) {
  ClearRuntimeErrors();
  int64_t position = _ftelli64(stream->file);
  if (position < 0) win32::SetLastErrorFromRuntime();
  return position;
}

int StreamFlush(FileStream::Native* stream) {
  ClearRuntimeErrors();
  if (fflush(stream->file) != 0) {
    win32::SetLastErrorFromRuntime();
    return -1;
  }
  return 0;
}

int StreamSync(FileStream::Native* stream) {
  if (StreamFlush(stream) != 0) return -1;
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream->file)));
  if (handle == INVALID_HANDLE_VALUE) {
    win32::Fail(kErrorInvalidHandle);
    return -1;
  }
  if (!FlushFileBuffers(handle)) {
    win32::SetLastErrorFromSystem();
    return -1;
  }
  return 0;
}

bool StreamAtEnd(const FileStream::Native* stream) { return feof(stream->file) != 0; }

bool StreamHasError(const FileStream::Native* stream) {
  return stream->injectedError || ferror(stream->file) != 0;
}

void StreamSetError(FileStream::Native* stream) { stream->injectedError = true; }

int StreamClose(FileStream::Native* stream) {
  ClearRuntimeErrors();
  int result = fclose(stream->file);
  if (result != 0) win32::SetLastErrorFromRuntime();
  delete stream;
  return result == 0 ? 0 : -1;
}

void StreamDiscard(FileStream::Native* stream) {
  // Closing the descriptor first leaves the runtime nothing to write the buffer to.
  uint32_t kept = GetLastError();
  _close(_fileno(stream->file));
  fclose(stream->file);
  delete stream;
  SetLastError(kept);
}

}  // namespace backend
}  // namespace qz7::platform
