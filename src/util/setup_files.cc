#include "util/setup_files.h"

#include <cstring>
#include <string>

#include "base/multibyte.h"
#include "base/quoted_path.h"
#include "platform/file_system.h"
#include "platform/win_error.h"

namespace qz7::util {
namespace {

constexpr size_t kWorkPathSize = 260;

// Whether a failed status query says that nothing is there: not found, or a name that no
// file can have (Windows refuses it, so it cannot stand on the disk either).
bool StatusSaysAbsent() {
  const uint32_t error = platform::GetLastError();
  return platform::IsMissingError(error) || error == platform::kErrorInvalidName;
}

// The directory without its closing quote, with a backslash unless it ends with one; empty
// for an empty or null directory.
std::string DirectoryPrefix(const char* directory) {
  std::string prefix = base::DropClosingQuote(directory == nullptr ? "" : directory);
  if (!prefix.empty() && prefix != "\"" && prefix.back() != '\\') prefix.push_back('\\');
  return prefix;
}

enum class NameState { kFree, kTaken, kUnknown };

// A name is free only when the status query says that nothing is there. Any other failure
// (access denied, an I/O error) could hide an existing file that the caller would then
// overwrite; the search stops there rather than guess.
NameState QueryName(const char* path) {
  std::string bare = base::StripQuotes(path);
  platform::FileStatus status;
  if (platform::GetFileStatus(bare.c_str(), &status) == 0) {
    return status.isRegular || status.isDirectory ? NameState::kTaken : NameState::kFree;
  }
  return platform::IsMissingError(platform::GetLastError()) ? NameState::kFree
                                                            : NameState::kUnknown;
}

}  // namespace

int PathKindState(const char* path, bool wantDirectory) {
  const std::string bare = base::StripQuotes(path);
  platform::FileStatus status;
  if (platform::GetFileStatus(bare.c_str(), &status) == 0) {
    return (wantDirectory ? status.isDirectory : status.isRegular) ? 1 : 0;
  }
  return StatusSaysAbsent() ? 0 : -1;
}

int IsDirectory(const char* path) { return PathKindState(path, true) == 1 ? 1 : 0; }

int IsRegularFile(const char* path) { return PathKindState(path, false) == 1 ? 1 : 0; }

int IsKnownAbsent(const char* path) {
  const std::string bare = base::StripQuotes(path);
  platform::FileStatus status;
  return platform::GetFileStatus(bare.c_str(), &status) != 0 && StatusSaysAbsent() ? 1 : 0;
}

int FileStateIn(const char* directory, const char* fileName) {
  if (fileName == nullptr) return 0;
  std::string path = DirectoryPrefix(directory) + fileName;
  if (base::StartsWithQuote(path)) path.push_back('"');
  if (path.size() >= kWorkPathSize) return 0;
  return PathKindState(path.c_str(), false);
}

int FileExistsIn(const char* directory, const char* fileName) {
  return FileStateIn(directory, fileName) == 1 ? 1 : 0;
}

namespace {

// The result of a copy that failed, from the last error it set.
int FailedCopyResult() {
  switch (platform::GetLastError()) {
    case platform::kErrorFileNotFound:
      return 1;
    case platform::kErrorPathNotFound:
      return 2;
    case platform::kErrorAccessDenied:
      return 3;
    case platform::kErrorSharingViolation:
      return 4;
    case platform::kErrorInvalidParameter:
      return 5;
    case platform::kErrorDiskFull:
      return 6;
    case platform::kErrorFilenameExcedRange:
      return 7;
    default:
      return 999;
  }
}

}  // namespace

int CopySetupFile(const char* source, const char* destination) {
  std::string from = base::StripQuotes(source);
  std::string to = base::StripQuotes(destination);
  if (platform::CopyFileA(from.c_str(), to.c_str(), false)) return 0;
  return FailedCopyResult();
}

int CopySetupFileBetween(platform::FolderCopy& copy, const char* name) {
  return copy.Copy(name) ? 0 : FailedCopyResult();
}

int MakeWritable(const char* path) {
  std::string bare = base::StripQuotes(path);
  return platform::SetFileWritable(bare.c_str(), true) == 0 ? 1 : 0;
}

bool SyncSetupFile(const char* path) {
  const std::string bare = base::StripQuotes(path);
  return platform::SyncFile(bare.c_str()) == 0;
}

bool SyncFolderOf(const char* path) {
  std::string folder = base::StripQuotes(path);
  const char* separator = base::FindLastCharMB(folder.c_str(), '\\');
  if (separator == nullptr) {
    folder = folder.size() >= 2 && folder[1] == ':' ? folder.substr(0, 2) + "." : ".";
  } else {
    const size_t cut = static_cast<size_t>(separator - folder.c_str());
    // A root keeps its backslash: "C:\" is a folder, "C:" the drive's current one.
    const bool root = cut == 0 || (cut == 2 && folder[1] == ':');
    folder.resize(root ? cut + 1 : cut);
  }
  return platform::SyncDirectory(folder.c_str()) == 0;
}

const char* FindFreeNumberedName(const char* directory, const char* pattern) {
  static char candidate[kWorkPathSize];
  if (pattern == nullptr) return nullptr;
  const std::string prefix = DirectoryPrefix(directory);
  for (unsigned long n = 0;; ++n) {
    std::string filled = pattern;
    unsigned long digits = n;
    for (size_t i = filled.size(); i-- > 0;) {
      if (filled[i] != '?') continue;
      filled[i] = static_cast<char>('0' + digits % 10);
      digits /= 10;
    }
    if (digits != 0) return nullptr;  // every combination of the marks has been tried
    std::string path = prefix + filled;
    if (base::StartsWithQuote(prefix)) path.push_back('"');
    if (path.size() >= sizeof candidate) return nullptr;
    const NameState state = QueryName(path.c_str());
    if (state == NameState::kUnknown) return nullptr;
    if (state == NameState::kFree) {
      std::memcpy(candidate, path.c_str(), path.size() + 1);
      return candidate;
    }
    if (filled == pattern) return nullptr;  // a pattern without marks is tried once
  }
}

}  // namespace qz7::util
