// Drives are the single-letter folders (or links to folders) in <machine root>/drives.
// <machine root>/drivetypes.txt may declare a drive's kind, one "D: removable" per line
// (removable, fixed, remote, cdrom, ramdisk); blank lines and lines starting with '#' are
// skipped, and a line that cannot be read leaves the drive fixed.
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/drives.h"
#include "platform/machine_root.h"
#include "platform/posix/host_path.h"
#include "platform/win_error.h"

namespace qz7::platform::backend {
namespace {

char UpperLetter(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameWord(const std::string& a, const char* b) {
  std::string upper;
  for (char c : a) upper.push_back(UpperLetter(c));
  std::string other;
  for (const char* p = b; *p != '\0'; ++p) other.push_back(UpperLetter(*p));
  return upper == other;
}

// The kind drivetypes.txt declares for a drive, or kDriveFixed.
uint32_t DeclaredDriveType(char drive) {
  std::optional<std::string> text = ReadMachineRootFile("drivetypes.txt");
  if (!text) return kDriveFixed;
  static const struct {
    const char* word;
    uint32_t type;
  } kKinds[] = {{"removable", kDriveRemovable},
                {"fixed", kDriveFixed},
                {"remote", kDriveRemote},
                {"cdrom", kDriveCdrom},
                {"ramdisk", kDriveRamdisk}};
  size_t start = 0;
  while (start < text->size()) {
    size_t end = text->find('\n', start);
    if (end == std::string::npos) end = text->size();
    std::vector<std::string> words;
    std::string word;
    for (size_t i = start; i <= end; ++i) {
      char c = i < end ? (*text)[i] : ' ';
      if (c == ' ' || c == '\t' || c == '\r') {
        if (!word.empty()) words.push_back(word);
        word.clear();
      } else {
        word.push_back(c);
      }
    }
    start = end + 1;
    if (words.size() != 2 || words[0][0] == '#') continue;
    const std::string& name = words[0];
    bool namesDrive =
        (name.size() == 2 || (name.size() == 3 && (name[2] == '\\' || name[2] == '/'))) &&
        name[1] == ':' && UpperLetter(name[0]) == drive;
    if (!namesDrive) continue;
    for (const auto& kind : kKinds) {
      if (SameWord(words[1], kind.word)) return kind.type;
    }
  }
  return kDriveFixed;
}

}  // namespace

uint32_t GetLogicalDriveStringsA(uint32_t bufferLength, char* buffer) {
  std::string strings;
  for (char drive = 'A'; drive <= 'Z'; ++drive) {
    if (posix::DriveHostDirectory(drive).empty()) continue;
    strings.push_back(drive);
    strings += ":\\";
    strings.push_back('\0');
  }
  if (strings.empty()) {
    SetLastError(kErrorPathNotFound);
    return 0;
  }
  uint32_t length = static_cast<uint32_t>(strings.size());
  if (buffer == nullptr || bufferLength < length + 1) return length + 1;
  strings.copy(buffer, strings.size());
  buffer[length] = '\0';
  return length;
}

uint32_t GetDriveTypeA(const char* rootPath) {
  char drive;
  if (rootPath == nullptr) {
    drive = posix::CurrentDirectoriesSnapshot().Current()[0];
  } else {
    std::string root(rootPath);
    bool isRoot = (root.size() == 2 || (root.size() == 3 && (root[2] == '\\' || root[2] == '/'))) &&
                  root[1] == ':';
    if (!isRoot) return kDriveNoRootDir;
    drive = UpperLetter(root[0]);
  }
  if (posix::DriveHostDirectory(drive).empty()) return kDriveNoRootDir;
  return DeclaredDriveType(drive);
}

}  // namespace qz7::platform::backend
