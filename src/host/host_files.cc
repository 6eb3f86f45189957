#include "host/host_files.h"

#include <cctype>
#include "platform/file_system.h"
#include "platform/win_error.h"

namespace qz7::host {

namespace p = qz7::platform;

std::string StripQuotes(const char* path) {
  if (path == nullptr) return std::string();
  std::string text(path);
  if (!text.empty() && text.front() == '"') text.erase(0, 1);
  if (!text.empty() && text.back() == '"') text.pop_back();
  return text;
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '\\') return dir + name;
  return dir + "\\" + name;
}

std::string LastComponent(const std::string& path) {
  size_t end = path.find_last_not_of('\\');
  if (end == std::string::npos) return std::string();
  size_t start = path.rfind('\\', end);
  start = (start == std::string::npos) ? 0 : start + 1;
  return path.substr(start, end + 1 - start);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

bool IsDirectory(const std::string& path) {
  p::FileStatus status;
  return p::GetFileStatus(path.c_str(), &status) == 0 && status.isDirectory;
}

bool IsRegularFile(const std::string& path) {
  p::FileStatus status;
  return p::GetFileStatus(path.c_str(), &status) == 0 && status.isRegular;
}

uint32_t MakeDirectories(const std::string& path, std::vector<std::string>* created) {
  char full[p::kMaxPath];
  if (p::FullPath(full, path.c_str(), sizeof full) == nullptr) return p::kErrorBadPathname;
  std::string text(full);
  // The drive root "X:\" always exists when the drive does; start after it.
  size_t position = text.find('\\');
  if (position == std::string::npos) return p::kErrorBadPathname;
  while (position != std::string::npos) {
    size_t next = text.find('\\', position + 1);
    std::string prefix = text.substr(0, next == std::string::npos ? text.size() : next);
    if (prefix.size() > position + 1 && !IsDirectory(prefix)) {
      if (p::MakeDirectory(prefix.c_str()) != 0) {
        uint32_t error = p::GetLastError();
        return error != 0 ? error : p::kErrorPathNotFound;
      }
      if (created != nullptr) created->push_back(prefix);
    }
    position = next;
  }
  return 0;
}

uint32_t RemoveTree(const std::string& path) {
  struct Entry {
    std::string name;
    bool isDirectory;
  };
  // Collect first, remove after: the directory is not changed under an open search.
  std::vector<Entry> entries;
  p::FindData data;
  p::FindHandle handle = p::FindFirst(JoinPath(path, "*").c_str(), &data);
  if (handle != p::kInvalidFindHandle) {
    do {
      std::string name(data.name);
      if (name != "." && name != "..") entries.push_back({name, data.isDirectory});
    } while (p::FindNext(handle, &data) == 0);
    p::FindClose(handle);
  }
  uint32_t first = 0;
  auto note = [&first](uint32_t error) {
    if (first == 0 && error != 0) first = error;
  };
  for (const Entry& entry : entries) {
    std::string child = JoinPath(path, entry.name);
    if (entry.isDirectory) {
      note(RemoveTree(child));
    } else {
      p::SetFileWritable(child.c_str(), true);
      if (p::RemoveFile(child.c_str()) != 0) note(p::GetLastError() ? p::GetLastError() : 5);
    }
  }
  if (p::RemoveDirectory(path.c_str()) != 0) {
    note(p::GetLastError() != 0 ? p::GetLastError() : p::kErrorAccessDenied);
  }
  return first;
}

}  // namespace qz7::host
