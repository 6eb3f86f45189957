#include "host/host_files.h"

#include "base/quoted_path.h"
#include "platform/file_system.h"
#include "platform/win_error.h"

namespace qz7::host {

namespace p = qz7::platform;

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
  p::FindHandle handle = p::FindFirst(base::JoinPath(path, "*").c_str(), &data);
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
    std::string child = base::JoinPath(path, entry.name);
    if (entry.isDirectory) {
      note(RemoveTree(child));
    } else {
      static_cast<void>(p::SetFileWritable(child.c_str(), true));
      if (p::RemoveFile(child.c_str()) != 0) note(p::GetLastError() ? p::GetLastError() : 5);
    }
  }
  if (p::RemoveDirectory(path.c_str()) != 0) {
    note(p::GetLastError() != 0 ? p::GetLastError() : p::kErrorAccessDenied);
  }
  return first;
}

}  // namespace qz7::host
