#include "platform/posix/syscalls.h"

#include <stdlib.h>

namespace qz7::platform::posix {
namespace {

int OpenCall(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int OpenatCall(int folder, const char* path, int flags, mode_t mode) {
  return ::openat(folder, path, flags, mode);
}
ssize_t CopyFileRangeCall(int in, int out, size_t size) {
  return ::copy_file_range(in, nullptr, out, nullptr, size, 0);
}
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
    .openat = OpenatCall,
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
    .copyFileRange = CopyFileRangeCall,
    .fcntlLock = FcntlLockCall,
    .fcntlInt = FcntlIntCall,
    .dup = ::dup,
    .dup2 = ::dup2,
    .pipe = ::pipe,
    .pipe2 = ::pipe2,
    .poll = ::poll,
    .stat = ::stat,
    .lstat = ::lstat,
    .fstatat = ::fstatat,
    .unlinkat = ::unlinkat,
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
