// Child processes through CreateProcess, with anonymous pipes. The child gets the command line
// exactly as given, a hidden window and its working directory; its standard handles are the
// pipes the caller gave (or the NUL device). While the caller waits, the child's output pipes
// are drained into the read ends' buffers, so a child that writes more than a pipe holds
// never blocks. Of what is drained, at most the StartupInfo's keptOutput bytes (all output
// pipes together) are kept; the rest is read and dropped, so the caller's memory stays bounded
// whatever the child writes, and ReadFile then ends with the kept bytes.
#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/process.h"
#include "platform/win32/changed_volumes.h"
#include "platform/win32/error_mapping.h"
#include "platform/win32/windows_api.h"
#include "platform/win_error.h"

namespace qz7::platform {

// What both ends of one pipe share: the read end's handle (while it is open) and the bytes
// drained from it that the caller has not read yet.
struct PipeState {
  HANDLE readHandle = nullptr;
  std::string drained;
  bool dropped = false;  // bytes past the kept ones were read and thrown away
};

struct PipeObject {
  HANDLE handle;
  bool readEnd;
  std::shared_ptr<PipeState> state;
};

struct ProcessObject {
  HANDLE process;
  std::vector<std::shared_ptr<PipeState>> outputs;  // drained while waiting
  size_t outputRoom;  // how many more drained bytes may be kept, all outputs together
};

namespace backend {
namespace {

// Handles are made inheritable only for the moment a child is created, so that no other
// child started meanwhile inherits them.
std::mutex creationMutex;

bool Fail() {
  win32::SetLastErrorFromSystem();
  return false;
}

// Reads what is waiting in the pipe without blocking, keeping at most *room bytes of it (room
// shrinks by what is kept) and dropping the rest. At most kDrainPieces pieces a call, so that
// a child that writes without end still lets the wait look at the clock and at the child.
// True when it stopped at that limit, with more perhaps waiting.
constexpr int kDrainPieces = 64;
bool Drain(PipeState* state, size_t* room) {
  if (state->readHandle == nullptr) return false;
  for (int piece = 0; piece < kDrainPieces; ++piece) {
    DWORD available = 0;
    if (!PeekNamedPipe(state->readHandle, nullptr, 0, nullptr, &available, nullptr) ||
        available == 0) {
      return false;
    }
    char chunk[4096];
    DWORD read = 0;
    DWORD wanted = std::min<DWORD>(available, sizeof chunk);
    if (!::ReadFile(state->readHandle, chunk, wanted, &read, nullptr) || read == 0) return false;
    const size_t keep = std::min<size_t>(read, *room);
    state->drained.append(chunk, keep);
    *room -= keep;
    if (keep < read) state->dropped = true;
  }
  return true;
}

// An inheritable copy of handle for the child (or of the NUL device when handle is null).
HANDLE ChildHandle(PipeHandle pipe, bool forWriting) {
  HANDLE copy = nullptr;
  if (pipe == nullptr) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    copy = CreateFileA("NUL", forWriting ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    return copy == INVALID_HANDLE_VALUE ? nullptr : copy;
  }
  HANDLE self = GetCurrentProcess();
  if (!DuplicateHandle(self, pipe->handle, self, &copy, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
    return nullptr;
  }
  return copy;
}

}  // namespace

bool CreatePipe(PipeHandle* readEnd, PipeHandle* writeEnd) {
  if (readEnd == nullptr || writeEnd == nullptr) {
    win32::Fail(kErrorInvalidParameter);
    return false;
  }
  HANDLE readHandle = nullptr, writeHandle = nullptr;
  if (!::CreatePipe(&readHandle, &writeHandle, nullptr, 0)) return Fail();
  auto state = std::make_shared<PipeState>();
  state->readHandle = readHandle;
  *readEnd = new PipeObject{readHandle, true, state};
  *writeEnd = new PipeObject{writeHandle, false, state};
  return true;
}

bool CreateProcessA(const char* applicationName, const char* commandLine,
                    const char* currentDirectory, const StartupInfo& startup,
                    ProcessHandle* process) {
  if (process == nullptr || applicationName == nullptr || applicationName[0] == '\0') {
    win32::Fail(process == nullptr ? kErrorInvalidParameter : kErrorFileNotFound);
    return false;
  }
  *process = nullptr;
  // A tool writes where it runs: its working folder's volume is flushed with the library's.
  win32::NoteVolumeChanged(currentDirectory != nullptr ? currentDirectory : ".");
  std::string line = commandLine != nullptr ? commandLine : applicationName;
  std::lock_guard<std::mutex> lock(creationMutex);
  HANDLE handles[3] = {ChildHandle(startup.stdInput, false), ChildHandle(startup.stdOutput, true),
                       ChildHandle(startup.stdError, true)};
  auto closeHandles = [&handles] {
    for (HANDLE handle : handles) {
      if (handle != nullptr) CloseHandle(handle);
    }
  };
  if (handles[0] == nullptr || handles[1] == nullptr || handles[2] == nullptr) {
    win32::SetLastErrorFromSystem();
    closeHandles();
    return false;
  }
  STARTUPINFOA info;
  std::memset(&info, 0, sizeof info);
  info.cb = sizeof info;
  info.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  info.wShowWindow = startup.hideWindow ? SW_HIDE : SW_SHOWNORMAL;
  info.hStdInput = handles[0];
  info.hStdOutput = handles[1];
  info.hStdError = handles[2];
  PROCESS_INFORMATION started;
  std::memset(&started, 0, sizeof started);
  BOOL ok = ::CreateProcessA(applicationName, line.data(), nullptr, nullptr, TRUE,
                             startup.hideWindow ? CREATE_NO_WINDOW : 0, nullptr, currentDirectory,
                             &info, &started);
  if (!ok) win32::SetLastErrorFromSystem();
  closeHandles();
  if (!ok) return false;
  CloseHandle(started.hThread);
  auto* object = new ProcessObject{started.hProcess, {}, startup.keptOutput};
  for (PipeHandle pipe : {startup.stdOutput, startup.stdError}) {
    if (pipe != nullptr && pipe->state->readHandle != nullptr &&
        std::find(object->outputs.begin(), object->outputs.end(), pipe->state) ==
            object->outputs.end()) {
      object->outputs.push_back(pipe->state);
    }
  }
  *process = object;
  return true;
}

uint32_t WaitForSingleObject(ProcessHandle process, uint32_t milliseconds) {
  if (process == nullptr) {
    win32::Fail(kErrorInvalidHandle);
    return kWaitFailed;
  }
  // Short waits with a drain between them; the last drain takes what the child wrote just
  // before it ended.
  constexpr DWORD kSlice = 10;
  ULONGLONG start = GetTickCount64();
  for (;;) {
    for (auto& output : process->outputs) Drain(output.get(), &process->outputRoom);
    DWORD slice = kSlice;
    if (milliseconds != kInfinite) {
      ULONGLONG elapsed = GetTickCount64() - start;
      if (elapsed >= milliseconds)
        slice = 0;
      else
        slice = static_cast<DWORD>(std::min<ULONGLONG>(kSlice, milliseconds - elapsed));
    }
    DWORD result = ::WaitForSingleObject(process->process, slice);
    if (result == WAIT_OBJECT_0) {
      for (auto& output : process->outputs) {
        while (Drain(output.get(), &process->outputRoom)) {
        }
      }
      return kWaitObject0;
    }
    if (result == WAIT_FAILED) {
      win32::SetLastErrorFromSystem();
      return kWaitFailed;
    }
    if (slice == 0) return kWaitTimeout;
  }
}

bool GetExitCodeProcess(ProcessHandle process, uint32_t* exitCode) {
  if (process == nullptr || exitCode == nullptr) {
    win32::Fail(kErrorInvalidHandle);
    return false;
  }
  DWORD code = 0;
  if (!::GetExitCodeProcess(process->process, &code)) return Fail();
  *exitCode = code;
  return true;
}

bool ReadFile(PipeHandle pipe, void* buffer, uint32_t size, uint32_t* bytesRead) {
  if (pipe == nullptr || !pipe->readEnd || bytesRead == nullptr) {
    win32::Fail(kErrorInvalidHandle);
    return false;
  }
  *bytesRead = 0;
  std::string& drained = pipe->state->drained;
  if (!drained.empty()) {
    uint32_t count = static_cast<uint32_t>(std::min<size_t>(size, drained.size()));
    std::memcpy(buffer, drained.data(), count);
    drained.erase(0, count);
    *bytesRead = count;
    return true;
  }
  // Output cut short while it was drained ends with the kept bytes.
  if (pipe->state->dropped) return true;
  DWORD read = 0;
  if (::ReadFile(pipe->handle, buffer, size, &read, nullptr)) {
    *bytesRead = read;
    return true;
  }
  // Every write end closed: the end of the pipe, not a failure.
  if (::GetLastError() == ERROR_BROKEN_PIPE) return true;
  return Fail();
}

bool WriteFile(PipeHandle pipe, const void* data, uint32_t size, uint32_t* bytesWritten) {
  if (pipe == nullptr || pipe->readEnd || bytesWritten == nullptr) {
    win32::Fail(kErrorInvalidHandle);
    return false;
  }
  DWORD written = 0;
  bool ok = ::WriteFile(pipe->handle, data, size, &written, nullptr);
  *bytesWritten = written;
  return ok || Fail();
}

bool ClosePipeHandle(PipeHandle pipe) {
  if (pipe == nullptr) {
    win32::Fail(kErrorInvalidHandle);
    return false;
  }
  if (pipe->readEnd) pipe->state->readHandle = nullptr;
  bool ok = CloseHandle(pipe->handle) || Fail();
  delete pipe;
  return ok;
}

bool CloseProcessHandle(ProcessHandle process) {
  if (process == nullptr) {
    win32::Fail(kErrorInvalidHandle);
    return false;
  }
  bool ok = CloseHandle(process->process) || Fail();
  delete process;
  return ok;
}

}  // namespace backend
}  // namespace qz7::platform
