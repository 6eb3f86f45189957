#include "platform/posix/text_store.h"

#include <errno.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <mutex>
#include <set>

#include "platform/posix/error_mapping.h"
#include "platform/posix/file_helpers.h"
#include "platform/posix/syscalls.h"
#include "platform/win_error.h"

namespace qz7::platform::posix {
namespace {

uint32_t ErrorFromErrno(int error, const std::string& hostPath) {
  return WindowsErrorForPath(error, hostPath.c_str());
}

std::string FolderOf(const std::string& hostPath) {
  size_t slash = hostPath.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : hostPath.substr(0, slash);
}

// Makes the rename itself durable; a folder that cannot be synced is not an error, the
// replacement has already happened.
void SyncFolder(const std::string& folder) {
  int fd = Syscalls().open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd < 0) return;
  Syscalls().fsync(fd);
  Syscalls().close(fd);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

char FoldCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

uint32_t ReadTextStore(const std::string& hostPath, std::string* content) {
  content->clear();
  int fd = Syscalls().open(hostPath.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) return ErrorFromErrno(errno, hostPath);
  char buffer[16384];
  for (;;) {
    ssize_t got = Syscalls().read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      uint32_t error = ErrorFromErrno(errno, hostPath);
      Syscalls().close(fd);
      content->clear();
      return error;
    }
    if (got == 0) break;
    content->append(buffer, static_cast<size_t>(got));
  }
  Syscalls().close(fd);
  return kErrorSuccess;
}

uint32_t ReplaceTextStore(const std::string& hostPath, const std::string& content) {
  static std::atomic<unsigned> counter{0};
  std::string temporary = hostPath + ".tmp." + std::to_string(Syscalls().getpid()) + "." +
                          std::to_string(counter.fetch_add(1));
  int fd = Syscalls().open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return ErrorFromErrno(errno, temporary);
  bool written = WriteAll(fd, content.data(), content.size()) && Syscalls().fsync(fd) == 0;
  int savedErrno = errno;
  if (Syscalls().close(fd) != 0 && written) {
    written = false;
    savedErrno = errno;
  }
  if (written && Syscalls().rename(temporary.c_str(), hostPath.c_str()) == 0) {
    SyncFolder(FolderOf(hostPath));
    return kErrorSuccess;
  }
  if (written) savedErrno = errno;
  Syscalls().unlink(temporary.c_str());
  return WindowsErrorFromErrno(savedErrno, ErrnoContext::kRename);
}

TextStoreLock::TextStoreLock(const std::string& hostPath) {
  std::string lockPath = hostPath + ".lock";
  fd_ = Syscalls().open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    error_ = ErrorFromErrno(errno, lockPath);
    return;
  }
  // An open-file-description lock: it excludes other threads of this process as well as
  // other processes, and it is not dropped when some other descriptor of the file closes.
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  while (Syscalls().fcntlLock(fd_, F_OFD_SETLKW, &lock) != 0) {
    if (errno == EINTR) continue;
    error_ = WindowsErrorFromErrno(errno);
    Syscalls().close(fd_);
    fd_ = -1;
    return;
  }
}

TextStoreLock::~TextStoreLock() {
  if (fd_ >= 0) Syscalls().close(fd_);  // closing the description releases its lock
}

std::vector<StoreLine> SplitStoreLines(std::string_view content) {
  std::vector<StoreLine> lines;
  int number = 0;
  while (!content.empty()) {
    size_t end = content.find('\n');
    std::string_view line = content.substr(0, end);
    content = end == std::string_view::npos ? std::string_view() : content.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back({++number, line});
  }
  return lines;
}

std::string QuoteStoreText(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string quoted = "\"";
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '\\':
        quoted += "\\\\";
        break;
      case '"':
        quoted += "\\\"";
        break;
      case '\n':
        quoted += "\\n";
        break;
      case '\r':
        quoted += "\\r";
        break;
      case '\t':
        quoted += "\\t";
        break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          quoted += "\\x";
          quoted += kHex[byte >> 4];
          quoted += kHex[byte & 0xF];
        } else {
          quoted += c;
        }
    }
  }
  quoted += '"';
  return quoted;
}

bool ParseStoreText(std::string_view* cursor, std::string* text) {
  std::string_view rest = TrimBlanks(*cursor);
  if (rest.empty() || rest.front() != '"') return false;
  std::string result;
  for (size_t i = 1; i < rest.size(); ++i) {
    char c = rest[i];
    if (c == '"') {
      *text = std::move(result);
      *cursor = rest.substr(i + 1);
      return true;
    }
    if (c != '\\') {
      result += c;
      continue;
    }
    if (++i >= rest.size()) return false;
    switch (rest[i]) {
      case '\\':
        result += '\\';
        break;
      case '"':
        result += '"';
        break;
      case 'n':
        result += '\n';
        break;
      case 'r':
        result += '\r';
        break;
      case 't':
        result += '\t';
        break;
      case 'x': {
        if (i + 2 >= rest.size()) return false;
        int high = HexDigit(rest[i + 1]);
        int low = HexDigit(rest[i + 2]);
        if (high < 0 || low < 0) return false;
        result += static_cast<char>(high * 16 + low);
        i += 2;
        break;
      }
      default:
        return false;
    }
  }
  return false;  // no closing quote
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

}  // namespace qz7::platform::posix
