#include "platform/posix/syscalls.h"

#include <stdlib.h>

namespace qz7::platform::posix {
namespace {

int OpenCall(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int FcntlLockCall(int fd, int command, struct flock* lock) { return ::fcntl(fd, command, lock); }
int FcntlIntCall(int fd, int command, int argument) { return ::fcntl(fd, command, argument); }
pid_t ForkCall() { return ::fork(); }
pid_t GetpidCall() { return ::getpid(); }
void ExitNowCall(int status) { ::_exit(status); }
int CloseRangeCall(unsigned first, unsigned last) { return ::close_range(first, last, 0); }
int SchedGetaffinityCall(pid_t pid, size_t size, cpu_set_t* mask) {
  return ::sched_getaffinity(pid, size, mask);
}

const SyscallTable kDefaultTable = {
    .open = OpenCall,
    .close = ::close,
    .closeRange = CloseRangeCall,
    .read = ::read,
    .write = ::write,
    .lseek = ::lseek,
    .fsync = ::fsync,
    .syncfs = ::syncfs,
    .ftruncate = ::ftruncate,
    .fstat = ::fstat,
    .fchmod = ::fchmod,
    .futimens = ::futimens,
    .fcntlLock = FcntlLockCall,
    .fcntlInt = FcntlIntCall,
    .dup = ::dup,
    .dup2 = ::dup2,
    .pipe = ::pipe,
    .pipe2 = ::pipe2,
    .poll = ::poll,
    .stat = ::stat,
    .lstat = ::lstat,
    .access = ::access,
    .chmod = ::chmod,
    .unlink = ::unlink,
    .rename = ::rename,
    .mkdir = ::mkdir,
    .rmdir = ::rmdir,
    .readlink = ::readlink,
    .realpath = ::realpath,
    .mkdtemp = ::mkdtemp,
    .opendir = ::opendir,
    .readdir = ::readdir,
    .closedir = ::closedir,
    .getcwd = ::getcwd,
    .chdir = ::chdir,
    .fork = ForkCall,
    .execv = ::execv,
    .execve = ::execve,
    .waitpid = ::waitpid,
    .kill = ::kill,
    .getpid = GetpidCall,
    .exitNow = ExitNowCall,
    .nanosleep = ::nanosleep,
    .clockGettime = ::clock_gettime,
    .getenv = ::getenv,
    .setenv = ::setenv,
    .unsetenv = ::unsetenv,
    .gethostname = ::gethostname,
    .sysconf = ::sysconf,
    .schedGetaffinity = SchedGetaffinityCall,
};

SyscallTable liveTable = kDefaultTable;

}  // namespace

SyscallTable& Syscalls() { return liveTable; }
const SyscallTable& DefaultSyscalls() { return kDefaultTable; }
void RestoreDefaultSyscalls() { liveTable = kDefaultTable; }

}  // namespace qz7::platform::posix
