#include <string.h>

#include <string>

#include "platform/backend.h"
#include "platform/codepage.h"
#include "platform/computer.h"
#include "platform/machine_root.h"
#include "platform/posix/syscalls.h"
#include "platform/win_error.h"

namespace qz7::platform::backend {
namespace {

// A NetBIOS computer name holds at most 15 characters (MAX_COMPUTERNAME_LENGTH).
constexpr size_t kMaxComputerName = 15;

std::string FirstLine(const std::string& text) {
  size_t end = text.find_first_of("\r\n");
  std::string line = text.substr(0, end);
  size_t first = line.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  size_t last = line.find_last_not_of(" \t");
  return line.substr(first, last - first + 1);
}

std::string ComputerName() {
  std::string name;
  if (std::optional<std::string> text = ReadMachineRootFile("computer.txt")) {
    name = FirstLine(*text);
  }
  if (name.empty()) {
    char host[256] = {};
    if (posix::Syscalls().gethostname(host, sizeof host - 1) == 0) name = host;
    name = name.substr(0, name.find('.'));  // the host part of a domain name
  }
  if (name.empty()) name = "LOCALHOST";
  // Upper case character by character, and never cut a double-byte character in two.
  size_t end = 0;
  while (end < name.size()) {
    const size_t length =
        IsLeadByte(static_cast<unsigned char>(name[end])) && end + 1 < name.size() ? 2 : 1;
    if (end + length > kMaxComputerName) break;
    if (length == 1 && name[end] >= 'a' && name[end] <= 'z') {
      name[end] = static_cast<char>(name[end] - 'a' + 'A');
    }
    end += length;
  }
  name.resize(end);
  return name;
}

}  // namespace

bool GetComputerNameA(char* buffer, uint32_t* size) {
  if (size == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  std::string name = ComputerName();
  uint32_t needed = static_cast<uint32_t>(name.size()) + 1;
  if (buffer == nullptr || *size < needed) {
    *size = needed;
    SetLastError(kErrorBufferOverflow);
    return false;
  }
  memcpy(buffer, name.c_str(), needed);
  *size = needed - 1;
  return true;
}

uint32_t ProcessorCount() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (posix::Syscalls().schedGetaffinity(0, sizeof set, &set) == 0) {
    int count = CPU_COUNT(&set);
    if (count > 0) return static_cast<uint32_t>(count);
  }
  long online = posix::Syscalls().sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<uint32_t>(online) : 1;
}

}  // namespace qz7::platform::backend
