// Buffered byte streams over file descriptors, with the Windows modes and text mode. The
// buffer is the stream's own, so a process that ends abruptly leaves unwritten data unwritten.
#include <errno.h>
#include <string.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/backend.h"
#include "platform/file_system.h"
#include "platform/posix/error_mapping.h"
#include "platform/posix/file_helpers.h"
#include "platform/posix/host_path.h"
#include "platform/posix/syscalls.h"
#include "platform/win_error.h"

namespace qz7::platform {

using posix::Fail;
using posix::HostPath;
using posix::IsReadOnlyMode;
using posix::Resolve;
using posix::Syscalls;
using posix::WriteAll;

namespace {
// Large enough that a file written entry by entry (a converted directory of tens of MB) costs
// one system call per 64 KiB rather than per few entries.
constexpr size_t kStreamBufferSize = 64 * 1024;
constexpr int kCtrlZ = 0x1A;
}  // namespace

// The stream's state. One buffer serves reading and writing: while reading it holds raw file
// bytes not yet handed out (readPos..readEnd); while writing, bytes not yet written
// (0..writeLength). It is never both at once. Text-mode translation happens between the
// caller and the buffer, so the buffer always mirrors the bytes on disk.
struct FileStream::Native {
  int fd = -1;
  bool readable = false;
  bool writable = false;
  bool append = false;
  bool text = false;
  bool atEnd = false;
  bool error = false;
  size_t readPos = 0;
  size_t readEnd = 0;
  size_t writeLength = 0;
  // The descriptor's file offset, followed through every read, write and seek so that telling
  // the position asks the kernel nothing; unknown after a failed or partial write, and after
  // any write in append mode, which goes to wherever the end is.
  int64_t offset = 0;
  bool offsetKnown = true;
  char buffer[kStreamBufferSize];

  void Wrote(bool ok, size_t size) {
    if (ok && offsetKnown && !append) {
      offset += static_cast<int64_t>(size);
    } else {
      offsetKnown = false;
    }
  }
  void Moved(off_t to) {
    offsetKnown = to >= 0;
    offset = to;
  }

  void Failed(int errnoValue) {
    error = true;
    posix::SetLastErrorFromErrno(errnoValue);
  }

  bool FlushWrites() {
    if (writeLength == 0) return true;
    bool ok = WriteAll(fd, buffer, writeLength);
    Wrote(ok, writeLength);
    writeLength = 0;
    if (!ok) Failed(errno);
    return ok;
  }

  // Gives back read-ahead bytes, so the file offset is the logical position again.
  bool DropReadAhead() {
    size_t unread = readEnd - readPos;
    readPos = readEnd = 0;
    if (unread == 0) return true;
    const off_t to = Syscalls().lseek(fd, -static_cast<off_t>(unread), SEEK_CUR);
    Moved(to);
    if (to < 0) {
      Failed(errno);
      return false;
    }
    return true;
  }

  bool PrepareRead() {
    if (!readable) {
      error = true;
      Fail(kErrorAccessDenied);
      return false;
    }
    return FlushWrites();
  }

  bool PrepareWrite() {
    if (!writable) {
      error = true;
      Fail(kErrorAccessDenied);
      return false;
    }
    return DropReadAhead();
  }

  // Refills the read buffer. False at end of file or on error (flags set).
  bool Fill() {
    readPos = readEnd = 0;
    for (;;) {
      ssize_t got = Syscalls().read(fd, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        Failed(errno);
        return false;
      }
      if (got == 0) {
        atEnd = true;
        return false;
      }
      readEnd = static_cast<size_t>(got);
      offset += got;
      return true;
    }
  }

  int RawGet() {
    if (readPos == readEnd && !Fill()) return EOF;
    return static_cast<unsigned char>(buffer[readPos++]);
  }

  int RawPeek() {
    if (readPos == readEnd && !Fill()) return EOF;
    return static_cast<unsigned char>(buffer[readPos]);
  }

  // The next character as the caller sees it. In text mode CR LF is read as LF, and byte
  // 0x1A (Ctrl-Z) ends the file, as the C runtime's text mode has it: it is left unread, so
  // every later read stops there too and the position stays in front of it.
  int GetChar() {
    if (text && RawPeek() == kCtrlZ) {
      atEnd = true;
      return EOF;
    }
    int c = RawGet();
    if (c == '\r' && text && RawPeek() == '\n') c = RawGet();
    return c;
  }

  bool PutRaw(const char* data, size_t size) {
    if (writeLength + size > sizeof buffer && !FlushWrites()) return false;
    if (size >= sizeof buffer) {
      const bool ok = WriteAll(fd, data, size);
      Wrote(ok, size);
      if (!ok) {
        Failed(errno);
        return false;
      }
      return true;
    }
    memcpy(buffer + writeLength, data, size);
    writeLength += size;
    return true;
  }

  // Writes the caller's bytes; the number of them accepted.
  size_t Put(const char* data, size_t size) {
    if (!text) return PutRaw(data, size) ? size : 0;
    size_t done = 0;
    while (done < size) {
      // Copy a run without LF in one piece, then the LF as CR LF.
      const void* found = memchr(data + done, '\n', size - done);
      size_t run = found ? static_cast<const char*>(found) - (data + done) : size - done;
      if (run > 0 && !PutRaw(data + done, run)) return done;
      done += run;
      if (done < size) {
        if (!PutRaw("\r\n", 2)) return done;
        ++done;
      }
    }
    return done;
  }

  bool CloseDescriptor() {
    bool ok = true;
    if (Syscalls().close(fd) != 0 && errno != EINTR) {
      posix::SetLastErrorFromErrno(errno);
      ok = false;
    }
    fd = -1;
    return ok;
  }
};

namespace backend {

using Native = FileStream::Native;

size_t StreamRead(Native* stream, void* buffer, size_t size) {
  if (size == 0 || !stream->PrepareRead()) return 0;
  char* out = static_cast<char*>(buffer);
  size_t done = 0;
  if (stream->text) {
    while (done < size) {
      int c = stream->GetChar();
      if (c == EOF) break;
      out[done++] = static_cast<char>(c);
    }
    return done;
  }
  while (done < size) {
    size_t available = stream->readEnd - stream->readPos;
    if (available == 0) {
      if (size - done >= kStreamBufferSize) {
        ssize_t got = Syscalls().read(stream->fd, out + done, size - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
          stream->Failed(errno);
          break;
        }
        if (got == 0) {
          stream->atEnd = true;
          break;
        }
        done += static_cast<size_t>(got);
        stream->offset += got;
        continue;
      }
      if (!stream->Fill()) break;
      available = stream->readEnd;
    }
    size_t take = std::min(available, size - done);
    memcpy(out + done, stream->buffer + stream->readPos, take);
    stream->readPos += take;
    done += take;
  }
  return done;
}

size_t StreamWrite(Native* stream, const void* data, size_t size) {
  if (size == 0 || !stream->PrepareWrite()) return 0;
  return stream->Put(static_cast<const char*>(data), size);
}

char* StreamGetLine(Native* stream, char* buffer, int size) {
  if (buffer == nullptr || size <= 0) return Fail(kErrorInvalidParameter), nullptr;
  if (!stream->PrepareRead()) return nullptr;
  int done = 0;
  while (done < size - 1) {
    int c = stream->GetChar();
    if (c == EOF) break;
    buffer[done++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buffer[done] = '\0';
  if (stream->error || (done == 0 && size > 1)) return nullptr;
  return buffer;
}

int StreamSeek(Native* stream, int64_t offset, int origin) {
  int whence = origin == kSeekSet   ? SEEK_SET
               : origin == kSeekCur ? SEEK_CUR
               : origin == kSeekEnd ? SEEK_END
                                    : -1;
  if (whence < 0) return Fail(kErrorInvalidParameter), -1;
  if (!stream->FlushWrites() || !stream->DropReadAhead()) return -1;
  const off_t to = Syscalls().lseek(stream->fd, static_cast<off_t>(offset), whence);
  stream->Moved(to);
  if (to < 0) {
    posix::SetLastErrorFromErrno(errno);
    return -1;
  }
  stream->atEnd = false;
  return 0;
}

int64_t StreamTell(Native* stream) {
  // In append mode the bytes go to wherever the end is when they are written.
  if (stream->append && stream->writeLength > 0 && !stream->FlushWrites()) return -1;
  const off_t position = stream->offsetKnown && !stream->append
                             ? static_cast<off_t>(stream->offset)
                             : Syscalls().lseek(stream->fd, 0, SEEK_CUR);
  if (position < 0) {
    posix::SetLastErrorFromErrno(errno);
    return -1;
  }
  return static_cast<int64_t>(position) - static_cast<int64_t>(stream->readEnd - stream->readPos) +
         static_cast<int64_t>(stream->writeLength);
}

int StreamFlush(Native* native) {
  if (!native->FlushWrites()) return -1;
  return native->DropReadAhead() ? 0 : -1;
}

int StreamSync(Native* native) {
  if (StreamFlush(native) != 0) return -1;
  int result;
  do {
    result = Syscalls().fsync(native->fd);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    native->Failed(errno);
    return -1;
  }
  return 0;
}

bool StreamAtEnd(const Native* native) { return native->atEnd; }

bool StreamHasError(const Native* native) { return native->error; }

void StreamSetError(Native* native) { native->error = true; }

int StreamClose(Native* native) {
  bool ok = native->FlushWrites();
  uint32_t error = GetLastError();
  ok = native->CloseDescriptor() && ok;
  if (!ok && error != 0) SetLastError(error);
  delete native;
  return ok ? 0 : -1;
}

void StreamDiscard(Native* native) {
  uint32_t error = GetLastError();
  native->CloseDescriptor();
  SetLastError(error);
  delete native;
}

Native* OpenFile(const char* path, const char* mode) {
  if (path == nullptr || mode == nullptr) return Fail(kErrorInvalidParameter), nullptr;
  bool readable = false, writable = false, append = false, create = false, truncate = false;
  bool text = true;
  switch (mode[0]) {
    case 'r':
      readable = true;
      break;
    case 'w':
      writable = create = truncate = true;
      break;
    case 'a':
      writable = create = append = true;
      break;
    default:
      return Fail(kErrorInvalidParameter), nullptr;
  }
  bool plusSeen = false, kindSeen = false;
  for (const char* m = mode + 1; *m != '\0'; ++m) {
    if (*m == '+' && !plusSeen) {
      plusSeen = readable = writable = true;
    } else if ((*m == 'b' || *m == 't') && !kindSeen) {
      kindSeen = true;
      text = *m == 't';
    } else {
      return Fail(kErrorInvalidParameter), nullptr;
    }
  }
  HostPath target;
  if (!Resolve(path, &target)) return nullptr;
  struct stat status = target.status;
  bool exists = target.exists || Syscalls().stat(target.host.c_str(), &status) == 0;
  if (exists && S_ISDIR(status.st_mode)) return Fail(kErrorAccessDenied), nullptr;
  if (target.windows.trailingSeparator) return Fail(kErrorInvalidName), nullptr;
  if (exists && writable && IsReadOnlyMode(status.st_mode)) {
    return Fail(kErrorAccessDenied), nullptr;
  }
  int flags = O_CLOEXEC | (readable && writable ? O_RDWR : writable ? O_WRONLY : O_RDONLY);
  if (create) flags |= O_CREAT;
  if (truncate) flags |= O_TRUNC;
  if (append) flags |= O_APPEND;
  int fd;
  do {
    fd = Syscalls().open(target.host.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    posix::SetLastErrorFromErrno(errno, target.host.c_str());
    return nullptr;
  }
  if (!exists) posix::NoteFolderChange(target, std::string(), target.host);
  auto* native = new FileStream::Native;
  native->fd = fd;
  native->readable = readable;
  native->writable = writable;
  native->append = append;
  native->offsetKnown = !append;
  native->text = text;
  return native;
}

}  // namespace backend
}  // namespace qz7::platform
