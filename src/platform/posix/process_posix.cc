// Child processes and anonymous pipes on POSIX.
//
// A pipe is one shared channel with a read descriptor, a write descriptor and a buffer of
// what was drained from it while a child ran; the two handles CreatePipe gives are the two
// ends of that channel. Every descriptor is opened close-on-exec: a child inherits only the
// three standard descriptors set up for it (and whatever the caller itself left inheritable).
//
// CreateProcessA forks a small watcher process, and the watcher forks the child: the child
// moves the chosen descriptors onto 0, 1 and 2, changes to the working directory and calls
// execve with the split command line; the calling process's own descriptors are never
// touched. A close-on-exec report pipe tells the parent whether the child got as far as the
// program (an exec failure comes back as its error).
//
// The watcher waits for the child and writes its wait status into a status pipe, then ends.
// The exit code thus reaches the caller whatever the caller did with SIGCHLD: a caller that
// ignores it (or sets SA_NOCLDWAIT) has its children reaped by the kernel with their status
// lost, and a caller whose handler reaps every child takes the status first. The watcher sets
// SIGCHLD to its default for itself only; the caller's disposition is never changed.
//
// WaitForSingleObject polls the status pipe and the read ends of the child's output pipes, and
// keeps what the output pipes deliver, up to the StartupInfo's keptOutput bytes: the rest is
// read and dropped, so a child that writes more than a pipe holds is never left blocked and
// the caller's memory stays bounded. ReadFile serves the kept bytes before the pipe. A watcher
// whose handle is closed before it ended is reaped later, at the next process call.
#include <errno.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/file_system.h"
#include "platform/machine_root.h"
#include "platform/posix/error_mapping.h"
#include "platform/posix/host_path.h"
#include "platform/posix/syscalls.h"
#include "platform/process.h"
#include "platform/win_error.h"

extern char** environ;

namespace qz7::platform {

using posix::Syscalls;

namespace {

constexpr uint32_t kStillActive = 259;
constexpr size_t kDrainPiece = 65536;

struct PipeChannel {
  int readFd = -1;
  int writeFd = -1;
  std::string drained;      // read from the pipe while a child ran, not yet handed out
  size_t drainedStart = 0;  // how much of drained ReadFile has handed out
  bool endOfData = false;   // the pipe reported end of data (every write end closed)
  bool dropped = false;     // bytes past the kept ones were read and thrown away

  size_t Buffered() const { return drained.size() - drainedStart; }

  // Reads one piece from the pipe, keeping at most *room bytes of it (room shrinks by what
  // is kept). False when nothing more can come now.
  bool DrainPiece(size_t* room) {
    if (readFd < 0 || endOfData) return false;
    char piece[kDrainPiece];
    for (;;) {
      ssize_t got = Syscalls().read(readFd, piece, sizeof piece);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        if (got == 0) endOfData = true;
        return false;
      }
      const size_t keep = std::min(static_cast<size_t>(got), *room);
      drained.append(piece, keep);
      *room -= keep;
      if (keep < static_cast<size_t>(got)) dropped = true;
      return true;
    }
  }

  // Reads whatever the pipe holds right now, without waiting.
  void DrainAvailable(size_t* room) {
    while (readFd >= 0 && !endOfData) {
      struct pollfd ready = {readFd, POLLIN, 0};
      int count = Syscalls().poll(&ready, 1, 0);
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0 || !DrainPiece(room)) return;
    }
  }
};

}  // namespace

struct PipeObject {
  std::shared_ptr<PipeChannel> channel;
  bool isReadEnd;
};

struct ProcessObject {
  pid_t watcher;      // the process that waits for the child and reports its status
  int statusFd = -1;  // read end of the watcher's status pipe (non-blocking)
  bool ended = false;
  bool statusKnown = false;
  int status = 0;                                     // the child's wait status, when known
  std::vector<std::shared_ptr<PipeChannel>> outputs;  // drained while waiting
  size_t outputRoom = SIZE_MAX;  // how many more drained bytes may be kept, all outputs together
};

}  // namespace qz7::platform

namespace qz7::platform::backend {
namespace {

bool Fail(uint32_t error) {
  SetLastError(error);
  return false;
}

bool FailFromErrno(int error, const char* hostPath = nullptr) {
  posix::SetLastErrorFromErrno(error, hostPath);
  return false;
}

// Children whose handles were closed while they still ran; reaped at later process calls.
std::mutex orphanMutex;
std::vector<pid_t> orphans;

void ReapOrphans() {
  std::lock_guard<std::mutex> guard(orphanMutex);
  std::erase_if(orphans, [](pid_t pid) {
    int status = 0;
    pid_t result = Syscalls().waitpid(pid, &status, WNOHANG);
    return result == pid || (result < 0 && errno == ECHILD);
  });
}

// Reaps a watcher that has ended or is about to; one still running is reaped later.
// A watcher closes its status pipe only by ending, so once the pipe has given the status (or
// its end), the watcher is gone or about to be and the wait is short. It ends with ECHILD when
// the caller's disposition or handler took the watcher already.
void ReapWatcher(pid_t watcher) {
  int status = 0;
  while (Syscalls().waitpid(watcher, &status, 0) < 0 && errno == EINTR) {
  }
}

// Collects the child's status from the watcher if the child has ended. True when it has. A
// watcher that ended without reporting (killed) leaves the status unknown.
bool TryReap(ProcessObject* process) {
  if (process->ended) return true;
  int status = 0;
  ssize_t got;
  do {
    got = Syscalls().read(process->statusFd, &status, sizeof status);
  } while (got < 0 && errno == EINTR);
  if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
  process->ended = true;
  if (got == static_cast<ssize_t>(sizeof status)) {
    process->statusKnown = true;
    process->status = status;
  }
  Syscalls().close(process->statusFd);
  process->statusFd = -1;
  ReapWatcher(process->watcher);
  return true;
}

int64_t NowMs() {
  struct timespec now = {};
  Syscalls().clockGettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// What the child reports through the report pipe when it cannot reach the program.
struct ChildFailure {
  int stage;  // kStageDescriptors, kStageDirectory or kStageExec
  int error;  // errno
};
constexpr int kStageDescriptors = 1;
constexpr int kStageDirectory = 2;
constexpr int kStageExec = 3;
constexpr int kStageFork = 4;

[[noreturn]] void ChildFails(int reportFd, int stage) {
  ChildFailure failure{stage, errno};
  Syscalls().write(reportFd, &failure, sizeof failure);
  Syscalls().exitNow(127);
  _exit(127);  // exitNow may be replaced by a test; never return to the caller's code
}

// Runs in the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void RunChild(const int (&sources)[3], const char* directory, const char* program,
                           char* const* argv, char* const* envp, int reportFd) {
  // Lift the sources above 2 first, so that one already sitting on 0..2 is not overwritten
  // by an earlier dup2; dup2 onto 0..2 then clears close-on-exec on the copies.
  int lifted[3];
  for (int i = 0; i < 3; ++i) {
    lifted[i] = Syscalls().fcntlInt(sources[i], F_DUPFD_CLOEXEC, 3);
    if (lifted[i] < 0) ChildFails(reportFd, kStageDescriptors);
  }
  for (int i = 0; i < 3; ++i) {
    if (Syscalls().dup2(lifted[i], i) < 0) ChildFails(reportFd, kStageDescriptors);
  }
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  signal(SIGPIPE, SIG_DFL);
  if (directory != nullptr && Syscalls().chdir(directory) != 0) {
    ChildFails(reportFd, kStageDirectory);
  }
  Syscalls().execve(program, argv, envp);
  ChildFails(reportFd, kStageExec);
}

// Runs in the watcher, a child of the caller: forks the child, waits for it with SIGCHLD at
// its default (so the wait sees the child whatever the caller set) and writes the child's wait
// status to statusFd. Only async-signal-safe calls; never returns.
[[noreturn]] void RunWatcher(const int (&sources)[3], const char* directory, const char* program,
                             char* const* argv, char* const* envp, int reportFd, int statusFd) {
  struct sigaction defaultAction = {};
  defaultAction.sa_handler = SIG_DFL;
  sigemptyset(&defaultAction.sa_mask);
  // The caller's handlers are the caller's business, not the watcher's: a signal that reaches
  // the watcher does what it does by default. SIGCHLD goes back to its default whatever it was.
  for (int number = 1; number < NSIG; ++number) {
    struct sigaction current;
    if (sigaction(number, nullptr, &current) != 0) continue;
    if (number == SIGCHLD || (current.sa_flags & SA_SIGINFO) != 0 ||
        (current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN)) {
      sigaction(number, &defaultAction, nullptr);
    }
  }
  // A caller that stopped waiting closes the status pipe: the write then fails, quietly.
  signal(SIGPIPE, SIG_IGN);
  pid_t child = Syscalls().fork();
  if (child == 0) RunChild(sources, directory, program, argv, envp, reportFd);
  if (child < 0) ChildFails(reportFd, kStageFork);
  // Hold nothing of the caller's while the child runs: a pipe end kept open here would keep
  // the reader of that pipe from seeing its end.
  if (statusFd > 3) Syscalls().closeRange(3, static_cast<unsigned>(statusFd) - 1);
  if (Syscalls().closeRange(static_cast<unsigned>(statusFd) + 1, ~0u) != 0) {
    // A kernel without close_range: one by one, as far as descriptors go.
    const long last = Syscalls().sysconf(_SC_OPEN_MAX);
    for (int fd = 3; fd < (last > 0 && last < 65536 ? last : 65536); ++fd) {
      if (fd != statusFd) Syscalls().close(fd);
    }
  }
  int status = 0;
  pid_t result;
  do {
    result = Syscalls().waitpid(child, &status, 0);
  } while (result < 0 && errno == EINTR);
  if (result == child) Syscalls().write(statusFd, &status, sizeof status);
  Syscalls().exitNow(0);
  _exit(0);
}

// The Windows code for a child that could not reach its program.
uint32_t ErrorOfChildFailure(const ChildFailure& failure, const std::string& program) {
  if (failure.stage == kStageDirectory) return kErrorDirectory;
  if (failure.stage == kStageExec && failure.error == ENOEXEC) return kErrorBadExeFormat;
  return posix::WindowsErrorForPath(failure.error, program.c_str());
}

// The working directory's host path: the given Windows path, or the current directory.
// False (last error set) when a given directory does not exist.
bool ResolveDirectory(const char* currentDirectory, std::string* hostDirectory) {
  hostDirectory->clear();
  std::string windows;
  if (currentDirectory != nullptr && *currentDirectory != '\0') {
    windows = currentDirectory;
  } else {
    char current[kMaxPath * 4];
    if (GetCurrentDirectoryText(current, sizeof current) != 0) return true;  // keep the host's
    windows = current;
  }
  posix::HostPath resolved;
  struct stat status;
  if (posix::ResolveHostPath(windows.c_str(), ParseOptions{}, &resolved) != 0 ||
      Syscalls().stat(resolved.host.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
    return Fail(kErrorDirectory);
  }
  *hostDirectory = resolved.host;
  return true;
}

// Checks that hostProgram is a file that can be run. False with the last error set.
bool CheckProgram(const std::string& hostProgram) {
  struct stat status;
  if (Syscalls().stat(hostProgram.c_str(), &status) != 0) {
    return FailFromErrno(errno, hostProgram.c_str());
  }
  if (!S_ISREG(status.st_mode)) return Fail(kErrorAccessDenied);
  if (Syscalls().access(hostProgram.c_str(), X_OK) != 0) {
    return FailFromErrno(errno, hostProgram.c_str());
  }
  return true;
}

// Descriptors the parent opens only for one start (the empty input, the discarded output).
class OwnedDescriptors {
 public:
  ~OwnedDescriptors() {
    for (int fd : fds_) Syscalls().close(fd);
  }
  int Keep(int fd) {
    if (fd >= 0) fds_.push_back(fd);
    return fd;
  }

 private:
  std::vector<int> fds_;
};

// The descriptor a pipe handle lends the child, or /dev/null for no handle. -1 on failure
// (last error set).
int ChildDescriptor(PipeHandle pipe, bool forInput, OwnedDescriptors* owned) {
  if (pipe == nullptr) {
    int fd =
        owned->Keep(Syscalls().open("/dev/null", (forInput ? O_RDONLY : O_WRONLY) | O_CLOEXEC, 0));
    if (fd < 0) FailFromErrno(errno);
    return fd;
  }
  int fd = pipe->isReadEnd ? pipe->channel->readFd : pipe->channel->writeFd;
  if (fd < 0) Fail(kErrorInvalidHandle);
  return fd;
}

}  // namespace

bool CreatePipe(PipeHandle* readEnd, PipeHandle* writeEnd) {
  if (readEnd == nullptr || writeEnd == nullptr) return Fail(kErrorInvalidParameter);
  *readEnd = nullptr;
  *writeEnd = nullptr;
  int fds[2];
  if (Syscalls().pipe2(fds, O_CLOEXEC) != 0) return FailFromErrno(errno);
  auto channel = std::make_shared<PipeChannel>();
  channel->readFd = fds[0];
  channel->writeFd = fds[1];
  *readEnd = new PipeObject{channel, true};
  *writeEnd = new PipeObject{channel, false};
  return true;
}

bool CreateProcessA(const char* applicationName, const char* commandLine,
                    const char* currentDirectory, const StartupInfo& startup,
                    ProcessHandle* process) {
  if (process == nullptr) return Fail(kErrorInvalidParameter);
  *process = nullptr;
  ReapOrphans();
  std::vector<std::string> arguments = SplitCommandLine(commandLine);
  std::string program;
  if (applicationName != nullptr && *applicationName != '\0') {
    program = applicationName;
  } else if (!arguments.empty()) {
    program = arguments.front();
  }
  if (program.empty()) return Fail(kErrorInvalidParameter);
  if (arguments.empty()) arguments.push_back(program);

  posix::HostPath resolved;
  if (uint32_t error = posix::ResolveHostPath(program.c_str(), ParseOptions{}, &resolved)) {
    return Fail(error);
  }
  const std::string* hostProgram = &resolved.host;
  if (!CheckProgram(*hostProgram)) return false;
  std::string hostDirectory;
  if (!ResolveDirectory(currentDirectory, &hostDirectory)) return false;

  OwnedDescriptors owned;
  int sources[3] = {ChildDescriptor(startup.stdInput, true, &owned),
                    ChildDescriptor(startup.stdOutput, false, &owned),
                    ChildDescriptor(startup.stdError, false, &owned)};
  if (sources[0] < 0 || sources[1] < 0 || sources[2] < 0) return false;

  int report[2];
  if (Syscalls().pipe2(report, O_CLOEXEC) != 0) return FailFromErrno(errno);
  int status[2];
  if (Syscalls().pipe2(status, O_CLOEXEC | O_NONBLOCK) != 0) {
    int error = errno;
    Syscalls().close(report[0]);
    Syscalls().close(report[1]);
    return FailFromErrno(error);
  }
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  // A child runs on the same Windows computer as its parent: it gets the caller's environment
  // with QZ7_MACHINE naming the machine root in force, which SetMachineRoot may have changed.
  std::string machineVariable = "QZ7_MACHINE=" + MachineRoot();
  std::vector<char*> envp;
  for (char** variable = environ; variable != nullptr && *variable != nullptr; ++variable) {
    if (std::strncmp(*variable, "QZ7_MACHINE=", 12) != 0) envp.push_back(*variable);
  }
  envp.push_back(machineVariable.data());
  envp.push_back(nullptr);

  pid_t pid = Syscalls().fork();
  if (pid == 0) {
    Syscalls().close(report[0]);
    Syscalls().close(status[0]);
    RunWatcher(sources, hostDirectory.empty() ? nullptr : hostDirectory.c_str(),
               hostProgram->c_str(), argv.data(), envp.data(), report[1], status[1]);
  }
  int forkErrno = errno;
  Syscalls().close(report[1]);
  Syscalls().close(status[1]);
  if (pid < 0) {
    Syscalls().close(report[0]);
    Syscalls().close(status[0]);
    return FailFromErrno(forkErrno);
  }
  ChildFailure failure{};
  ssize_t got;
  do {
    got = Syscalls().read(report[0], &failure, sizeof failure);
  } while (got < 0 && errno == EINTR);
  Syscalls().close(report[0]);
  if (got == static_cast<ssize_t>(sizeof failure)) {
    // The watcher ends as soon as the child it could not start is gone.
    Syscalls().close(status[0]);
    int watcherStatus = 0;
    while (Syscalls().waitpid(pid, &watcherStatus, 0) < 0 && errno == EINTR) {
    }
    return Fail(ErrorOfChildFailure(failure, *hostProgram));
  }

  auto* started = new ProcessObject{pid};
  started->statusFd = status[0];
  started->outputRoom = startup.keptOutput;
  for (PipeHandle output : {startup.stdOutput, startup.stdError}) {
    if (output == nullptr) continue;
    if (std::find(started->outputs.begin(), started->outputs.end(), output->channel) ==
        started->outputs.end()) {
      started->outputs.push_back(output->channel);
    }
  }
  *process = started;
  return true;
}

uint32_t WaitForSingleObject(ProcessHandle process, uint32_t milliseconds) {
  if (process == nullptr) {
    SetLastError(kErrorInvalidHandle);
    return kWaitFailed;
  }
  const int64_t start = NowMs();
  for (;;) {
    if (TryReap(process)) {
      // Everything the child wrote before it ended is in the pipes now.
      for (auto& output : process->outputs) output->DrainAvailable(&process->outputRoom);
      return kWaitObject0;
    }
    int timeout = -1;
    if (milliseconds != kInfinite) {
      int64_t left = static_cast<int64_t>(milliseconds) - (NowMs() - start);
      if (left <= 0) return kWaitTimeout;
      timeout = static_cast<int>(std::min<int64_t>(left, INT32_MAX));
    }
    // The status pipe becomes readable when the child has ended; the output pipes when it
    // wrote something.
    std::vector<struct pollfd> ready = {{process->statusFd, POLLIN, 0}};
    std::vector<PipeChannel*> channels = {nullptr};
    for (auto& output : process->outputs) {
      if (output->readFd >= 0 && !output->endOfData) {
        ready.push_back({output->readFd, POLLIN, 0});
        channels.push_back(output.get());
      }
    }
    int count = Syscalls().poll(ready.data(), ready.size(), timeout);
    if (count < 0 && errno != EINTR) {
      posix::SetLastErrorFromErrno(errno);
      return kWaitFailed;
    }
    for (size_t i = 1; count > 0 && i < ready.size(); ++i) {
      if (ready[i].revents != 0) channels[i]->DrainPiece(&process->outputRoom);
    }
  }
}

bool GetExitCodeProcess(ProcessHandle process, uint32_t* exitCode) {
  if (process == nullptr) return Fail(kErrorInvalidHandle);
  if (exitCode == nullptr) return Fail(kErrorInvalidParameter);
  if (!TryReap(process)) {
    *exitCode = kStillActive;
    return true;
  }
  if (!process->statusKnown) return Fail(kErrorGenFailure);
  if (WIFEXITED(process->status)) {
    *exitCode = static_cast<uint32_t>(WEXITSTATUS(process->status));
  } else {
    // Ended by a signal: reported the way a POSIX shell does, 128 + the signal number.
    *exitCode = 128u + static_cast<uint32_t>(WTERMSIG(process->status));
  }
  return true;
}

bool ReadFile(PipeHandle pipe, void* buffer, uint32_t size, uint32_t* bytesRead) {
  if (pipe == nullptr) return Fail(kErrorInvalidHandle);
  if (bytesRead == nullptr || (buffer == nullptr && size > 0)) {
    return Fail(kErrorInvalidParameter);
  }
  *bytesRead = 0;
  if (!pipe->isReadEnd) return Fail(kErrorAccessDenied);
  PipeChannel& channel = *pipe->channel;
  auto* out = static_cast<char*>(buffer);
  size_t done = std::min<size_t>(size, channel.Buffered());
  std::memcpy(out, channel.drained.data() + channel.drainedStart, done);
  channel.drainedStart += done;
  if (channel.Buffered() == 0) {
    channel.drained.clear();
    channel.drainedStart = 0;
  }
  // Then the pipe: waiting only when nothing was buffered, as a pipe read waits for data.
  // Output cut short while it was drained ends with the kept bytes.
  while (done < size && channel.readFd >= 0 && !channel.endOfData && !channel.dropped) {
    if (done > 0) {
      struct pollfd ready = {channel.readFd, POLLIN, 0};
      int count = Syscalls().poll(&ready, 1, 0);
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) break;
    }
    ssize_t got = Syscalls().read(channel.readFd, out + done, size - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      if (done > 0) break;
      return FailFromErrno(errno);
    }
    if (got == 0) {
      channel.endOfData = true;
      break;
    }
    done += static_cast<size_t>(got);
    if (done > 0) break;
  }
  *bytesRead = static_cast<uint32_t>(done);
  return true;
}

bool WriteFile(PipeHandle pipe, const void* data, uint32_t size, uint32_t* bytesWritten) {
  if (pipe == nullptr) return Fail(kErrorInvalidHandle);
  if (bytesWritten == nullptr || (data == nullptr && size > 0)) {
    return Fail(kErrorInvalidParameter);
  }
  *bytesWritten = 0;
  if (pipe->isReadEnd || pipe->channel->writeFd < 0) return Fail(kErrorAccessDenied);
  // A write to a pipe nobody reads raises SIGPIPE; hold it back for this thread and report
  // the broken pipe as an error instead.
  sigset_t pipeSignal;
  sigset_t saved;
  sigset_t pending;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  sigpending(&pending);
  bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;
  pthread_sigmask(SIG_BLOCK, &pipeSignal, &saved);
  const auto* bytes = static_cast<const char*>(data);
  int error = 0;
  while (*bytesWritten < size) {
    ssize_t written =
        Syscalls().write(pipe->channel->writeFd, bytes + *bytesWritten, size - *bytesWritten);
    if (written < 0) {
      if (errno == EINTR) continue;
      error = errno;
      break;
    }
    *bytesWritten += static_cast<uint32_t>(written);
  }
  if (error == EPIPE && !alreadyPending) {
    struct timespec now = {0, 0};
    sigtimedwait(&pipeSignal, nullptr, &now);
  }
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  return error == 0 ? true : FailFromErrno(error);
}

bool ClosePipeHandle(PipeHandle pipe) {
  if (pipe == nullptr) return Fail(kErrorInvalidHandle);
  PipeChannel& channel = *pipe->channel;
  int& fd = pipe->isReadEnd ? channel.readFd : channel.writeFd;
  bool closed = true;
  if (fd >= 0) closed = Syscalls().close(fd) == 0 || errno == EINTR;
  fd = -1;
  if (pipe->isReadEnd) {
    channel.drained.clear();
    channel.drainedStart = 0;
  }
  delete pipe;
  return closed ? true : FailFromErrno(errno);
}

bool CloseProcessHandle(ProcessHandle process) {
  if (process == nullptr) return Fail(kErrorInvalidHandle);
  if (!TryReap(process)) {
    Syscalls().close(process->statusFd);
    std::lock_guard<std::mutex> guard(orphanMutex);
    orphans.push_back(process->watcher);
  }
  delete process;
  ReapOrphans();
  return true;
}

}  // namespace qz7::platform::backend
