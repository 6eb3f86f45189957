#include "platform/posix/text_store.h"

#include <errno.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <map>
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

// Makes the rename itself durable. 0 or the errno of the failing open or sync.
int SyncFolder(const std::string& folder) {
  int fd = Syscalls().open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd < 0) return errno;
  int error = Syscalls().fsync(fd) == 0 ? 0 : errno;
  Syscalls().close(fd);
  return error;
}

// The clock tick within which a file system may give two writes the same time: the kernel's
// coarse clock moves in steps of one scheduler tick (at most 10 ms); twice that to be sure.
constexpr long kRacyNanoseconds = 20 * 1000 * 1000;

bool SameTime(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool Before(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

struct timespec OneAfter(struct timespec time) {
  if (++time.tv_nsec >= 1000000000L) {
    time.tv_nsec = 0;
    ++time.tv_sec;
  }
  return time;
}

std::mutex damageMutex;
std::map<std::string, std::vector<std::string>> damageByStore;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

char FoldCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool SameStoreStamp(const StoreStamp& a, const StoreStamp& b) {
  if (a.exists != b.exists) return false;
  if (!a.exists) return true;
  return a.device == b.device && a.inode == b.inode && a.size == b.size &&
         SameTime(a.modified, b.modified) && SameTime(a.changed, b.changed);
}

StoreStamp StoreStampOf(const struct stat& status) {
  StoreStamp stamp;
  stamp.exists = true;
  stamp.device = status.st_dev;
  stamp.inode = status.st_ino;
  stamp.size = status.st_size;
  stamp.modified = status.st_mtim;
  stamp.changed = status.st_ctim;
  return stamp;
}

uint32_t StatTextStore(const std::string& hostPath, StoreStamp* stamp) {
  struct stat status;
  if (Syscalls().stat(hostPath.c_str(), &status) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      *stamp = StoreStamp();
      return kErrorSuccess;
    }
    return ErrorFromErrno(errno, hostPath);
  }
  *stamp = StoreStampOf(status);
  return kErrorSuccess;
}

bool IsRacyStamp(const StoreStamp& stamp) {
  struct timespec now;
  if (Syscalls().clockGettime(CLOCK_REALTIME, &now) != 0) return true;
  const long long ahead =
      (static_cast<long long>(now.tv_sec) - stamp.modified.tv_sec) * 1000000000LL +
      (now.tv_nsec - stamp.modified.tv_nsec);
  return ahead < kRacyNanoseconds;
}

uint32_t ReadTextStore(const std::string& hostPath, std::string* content, StoreStamp* stamp) {
  content->clear();
  int fd = Syscalls().open(hostPath.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) return ErrorFromErrno(errno, hostPath);
  struct stat status;
  size_t expected = 0;
  if (Syscalls().fstat(fd, &status) == 0) {
    if (stamp != nullptr) *stamp = StoreStampOf(status);
    expected = static_cast<size_t>(status.st_size);
  } else if (stamp != nullptr) {
    *stamp = StoreStamp();  // never the same as a stamp taken later: read again next time
    stamp->exists = true;
    stamp->size = -1;
  }
  // One read for the whole file as its status gives it, one more to see its end.
  content->resize(expected + 1);
  size_t have = 0;
  for (;;) {
    if (have == content->size()) content->resize(content->size() * 2 + 4096);
    ssize_t got = Syscalls().read(fd, content->data() + have, content->size() - have);
    if (got < 0) {
      if (errno == EINTR) continue;
      uint32_t error = ErrorFromErrno(errno, hostPath);
      Syscalls().close(fd);
      content->clear();
      return error;
    }
    if (got == 0) break;
    have += static_cast<size_t>(got);
  }
  content->resize(have);
  Syscalls().close(fd);
  return kErrorSuccess;
}

uint32_t SyncStoreFolder(const std::string& hostPath) {
  if (int error = SyncFolder(FolderOf(hostPath)); error != 0) {
    return WindowsErrorFromErrno(error, ErrnoContext::kDirectory);
  }
  return kErrorSuccess;
}

uint32_t ReplaceTextStore(const std::string& hostPath, const std::string& content,
                          StoreStamp* written, const StoreStamp* replaced) {
  static std::atomic<unsigned> counter{0};
  std::string temporary = hostPath + ".tmp." + std::to_string(Syscalls().getpid()) + "." +
                          std::to_string(counter.fetch_add(1));
  // The new file's time of last write goes past that of the file it replaces, so that a
  // reader that kept the old content sees a new stamp even if the new file gets the old one's
  // inode number back and the same size within one tick of the clock.
  struct timespec times[2];
  times[0].tv_nsec = UTIME_OMIT;
  times[0].tv_sec = 0;
  if (Syscalls().clockGettime(CLOCK_REALTIME, &times[1]) != 0) times[1].tv_nsec = UTIME_NOW;
  StoreStamp previous;
  if (replaced != nullptr && replaced->size >= 0) {  // a stamp that matches no file says nothing
    previous = *replaced;
  } else if (struct stat status; Syscalls().stat(hostPath.c_str(), &status) == 0) {
    previous = StoreStampOf(status);
  }
  if (times[1].tv_nsec != UTIME_NOW && previous.exists && !Before(previous.modified, times[1])) {
    times[1] = OneAfter(previous.modified);
  }
  int fd = Syscalls().open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return ErrorFromErrno(errno, temporary);
  bool done = WriteAll(fd, content.data(), content.size());
  // Best effort: without it the stamp is only as fine as the file system's clock.
  if (done) static_cast<void>(Syscalls().futimens(fd, times));
  done = done && Syscalls().fsync(fd) == 0;
  int savedErrno = errno;
  if (done && Syscalls().rename(temporary.c_str(), hostPath.c_str()) == 0) {
    // The stamp as a reader will see it: the rename has changed the time of last change.
    struct stat status;
    const bool stamped = written != nullptr && Syscalls().fstat(fd, &status) == 0;
    const int closed = Syscalls().close(fd);
    if (written != nullptr) {
      *written = stamped ? StoreStampOf(status) : StoreStamp();
      if (!stamped) written->size = -1;  // matches no file: read again at the next use
    }
    if (closed != 0) return WindowsErrorFromErrno(errno);
    return kErrorSuccess;
  }
  if (done) savedErrno = errno;
  Syscalls().close(fd);
  Syscalls().unlink(temporary.c_str());
  return WindowsErrorFromErrno(savedErrno, ErrnoContext::kRename);
}

void SetStoreDamage(const std::string& hostPath, std::vector<std::string> lines) {
  std::lock_guard<std::mutex> guard(damageMutex);
  if (lines.empty()) {
    damageByStore.erase(hostPath);
  } else {
    damageByStore[hostPath] = std::move(lines);
  }
}

uint32_t RefuseBinaryStore(const std::string& hostPath, std::string_view content) {
  const size_t nul = content.find('\0');
  if (nul == std::string_view::npos) return kErrorSuccess;
  const auto line = std::count(content.begin(), content.begin() + static_cast<long>(nul), '\n') + 1;
  SetStoreDamage(hostPath,
                 {hostPath + ":" + std::to_string(line) + ": a NUL byte: this is no text file"});
  return kErrorRegistryCorrupt;
}

uint32_t FinishStoreLoad(const std::string& hostPath, const StoreDamageTexts& texts, bool anyText,
                         int readable, std::vector<std::string> damage) {
  uint32_t result = kErrorSuccess;
  if (!anyText) {
    damage.push_back(hostPath + ":1: " + std::string(texts.emptyFile));
    result = kErrorRegistryCorrupt;
  } else if (readable == 0 && !damage.empty()) {
    damage.push_back(hostPath + ": " + std::string(texts.nothingReadable));
    result = kErrorRegistryCorrupt;
  }
  SetStoreDamage(hostPath, std::move(damage));
  return result;
}

std::string StoreDamageReport() {
  std::lock_guard<std::mutex> guard(damageMutex);
  std::string report;
  for (const auto& [path, lines] : damageByStore) {
    for (const auto& line : lines) report += line + "\n";
  }
  return report;
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
