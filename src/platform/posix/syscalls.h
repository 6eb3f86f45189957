// The one table through which the POSIX backend reaches the operating system.
//
// Every system call of the backend is made through Syscalls().name(...). It is the seam of the
// backend's own tests (tests/platform): such a test may replace an entry (to fail it, to count
// it, or to end the process at a chosen call) and must put the table back with
// RestoreDefaultSyscalls() or a ScopedSyscallOverride. Tests of the library fail and count
// operations through the test kit's fault wrapper of the platform table instead. The entries have
// the signatures of the POSIX functions they stand for; variadic calls (open, fcntl) take their
// optional argument explicitly.
#ifndef QZ7_PLATFORM_POSIX_SYSCALLS_H_
#define QZ7_PLATFORM_POSIX_SYSCALLS_H_

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace qz7::platform::posix {

struct SyscallTable {
  // Descriptors.
  int (*open)(const char* path, int flags, mode_t mode);
  // openat: a name relative to an open folder.
  int (*openat)(int folder, const char* path, int flags, mode_t mode);
  int (*close)(int fd);
  int (*closeRange)(unsigned first, unsigned last);  // close_range without flags
  ssize_t (*read)(int fd, void* buffer, size_t size);
  ssize_t (*write)(int fd, const void* data, size_t size);
  off_t (*lseek)(int fd, off_t offset, int whence);
  int (*fsync)(int fd);
  int (*syncfs)(int fd);
  int (*ftruncate)(int fd, off_t length);
  int (*fstat)(int fd, struct stat* status);
  int (*fchmod)(int fd, mode_t mode);
  int (*futimens)(int fd, const struct timespec times[2]);
  // copy_file_range between the current offsets of two descriptors, without flags.
  ssize_t (*copyFileRange)(int in, int out, size_t size);
  // fcntl with a struct flock (F_GETLK, F_SETLK, F_SETLKW, F_OFD_*).
  int (*fcntlLock)(int fd, int command, struct flock* lock);
  // fcntl with an int argument (F_GETFD, F_SETFD, F_GETFL, F_SETFL, ...).
  int (*fcntlInt)(int fd, int command, int argument);
  int (*dup)(int fd);
  int (*dup2)(int fd, int newFd);
  int (*pipe)(int fds[2]);
  int (*pipe2)(int fds[2], int flags);
  int (*poll)(struct pollfd* fds, nfds_t count, int timeoutMs);

  // Names in the file system.
  int (*stat)(const char* path, struct stat* status);
  int (*lstat)(const char* path, struct stat* status);
  // fstatat and unlinkat: a name relative to an open folder.
  int (*fstatat)(int folder, const char* path, struct stat* status, int flags);
  int (*unlinkat)(int folder, const char* path, int flags);
  int (*access)(const char* path, int mode);
  int (*chmod)(const char* path, mode_t mode);
  int (*unlink)(const char* path);
  int (*rename)(const char* from, const char* to);
  int (*mkdir)(const char* path, mode_t mode);
  int (*rmdir)(const char* path);
  ssize_t (*readlink)(const char* path, char* buffer, size_t size);
  char* (*realpath)(const char* path, char* resolved);
  char* (*mkdtemp)(char* pathTemplate);
  DIR* (*opendir)(const char* path);
  struct dirent* (*readdir)(DIR* directory);
  int (*closedir)(DIR* directory);
  char* (*getcwd)(char* buffer, size_t size);
  int (*chdir)(const char* path);

  // Processes.
  pid_t (*fork)();
  int (*execv)(const char* path, char* const argv[]);
  int (*execve)(const char* path, char* const argv[], char* const envp[]);
  pid_t (*waitpid)(pid_t pid, int* status, int options);
  int (*kill)(pid_t pid, int signal);
  pid_t (*getpid)();
  void (*exitNow)(int status);  // _exit
  int (*nanosleep)(const struct timespec* request, struct timespec* remaining);
  int (*clockGettime)(clockid_t clock, struct timespec* time);

  // Environment and machine.
  char* (*getenv)(const char* name);
  int (*setenv)(const char* name, const char* value, int overwrite);
  int (*unsetenv)(const char* name);
  int (*gethostname)(char* name, size_t size);
  long (*sysconf)(int name);
  int (*schedGetaffinity)(pid_t pid, size_t size, cpu_set_t* mask);
};

// The table in force. Entries may be replaced by tests; the backend reads them on every call.
SyscallTable& Syscalls();
// The real functions.
const SyscallTable& DefaultSyscalls();
void RestoreDefaultSyscalls();

// Replaces the whole table for the lifetime of the object and restores the previous one after.
//   ScopedSyscallOverride scope;
//   scope.table().unlink = [](const char*) { errno = EROFS; return -1; };
class ScopedSyscallOverride {
 public:
  ScopedSyscallOverride() : saved_(Syscalls()) {}
  ~ScopedSyscallOverride() { Syscalls() = saved_; }
  ScopedSyscallOverride(const ScopedSyscallOverride&) = delete;
  ScopedSyscallOverride& operator=(const ScopedSyscallOverride&) = delete;
  SyscallTable& table() { return Syscalls(); }

 private:
  SyscallTable saved_;
};

}  // namespace qz7::platform::posix

#endif  // QZ7_PLATFORM_POSIX_SYSCALLS_H_
