#include "config/config_file.h"

#include <cstring>
#include <string>

#include "platform/file_system.h"
#include "util/multibyte.h"
#include "util/setup_files.h"

namespace qz7::config {
namespace {

// The folder of path, without its last backslash ("" for a bare file name).
std::string FolderOf(const char* path) {
  const char* separator = util::FindLastCharMB(path, '\\');
  return separator == nullptr ? std::string() : std::string(path, separator);
}

// A drive-relative path ("C:NAME") names a folder that a numbered name cannot be put in.
bool IsDriveRelative(const char* path) {
  return path[0] != '\0' && path[1] == ':' && util::FindLastCharMB(path, '\\') == nullptr;
}

// path with its last component spelt as the existing file's name is, so that replacing the
// file keeps the case of its name; path itself when the file cannot be found.
std::string ExistingSpelling(const char* path, const std::string& folder) {
  if (std::strpbrk(path, "*?") != nullptr) return path;  // a pattern, not a name
  platform::FindData found;
  platform::FindHandle search = platform::FindFirst(path, &found);
  if (search == platform::kInvalidFindHandle) return path;
  platform::FindClose(search);
  return folder.empty() ? std::string(found.name) : folder + "\\" + found.name;
}

// A fresh numbered name in folder, or "" when there is none.
std::string FreeNameIn(const std::string& folder) {
  const char* name = util::FindFreeNumberedName(folder.c_str(), util::kTemporaryNamePattern);
  return name == nullptr ? std::string() : std::string(name);
}

// Writes the whole image to an open stream and closes it; false on any reported error.
bool WriteAndClose(platform::FileStream& stream, const ConfigFileImage& image) {
  bool written = stream.Write(image.data(), image.size()) == image.size();
  written = stream.Flush() == 0 && written;
  written = !stream.HasError() && written;
  return stream.Close() == 0 && written;
}

bool RewriteInPlace(const char* path, const ConfigFileImage& image) {
  platform::FileHandle file = platform::OpenFile(path, "wb+");
  if (file == nullptr) return false;
  return WriteAndClose(*file, image);
}

enum class Staging { kReplaced, kFailed, kUnavailable };

// Puts image at path through a new file beside it. kUnavailable: nothing could be staged in the
// folder and nothing changed; kFailed: the old file is still at path.
Staging ReplaceThroughNewFile(const char* path, const ConfigFileImage& image) {
  if (IsDriveRelative(path)) return Staging::kUnavailable;
  const std::string folder = FolderOf(path);
  const std::string target = ExistingSpelling(path, folder);
  const std::string staged = FreeNameIn(folder);
  if (staged.empty()) return Staging::kUnavailable;
  platform::FileHandle file = platform::OpenFile(staged.c_str(), "wb+");
  if (file == nullptr) return Staging::kUnavailable;
  if (!WriteAndClose(*file, image)) {
    platform::RemoveFile(staged.c_str());
    return Staging::kFailed;
  }

  // The staged file now exists, so the next free name differs from it.
  const std::string backup = FreeNameIn(folder);
  if (backup.empty() || platform::RenameFile(target.c_str(), backup.c_str()) != 0) {
    platform::RemoveFile(staged.c_str());
    return Staging::kUnavailable;
  }
  if (platform::RenameFile(staged.c_str(), target.c_str()) != 0) {
    platform::RenameFile(backup.c_str(), target.c_str());
    platform::RemoveFile(staged.c_str());
    return Staging::kFailed;
  }
  // The new content is in place; a backup that cannot be removed is only left behind.
  platform::RemoveFile(backup.c_str());
  return Staging::kReplaced;
}

}  // namespace

bool ReadConfigFile(const char* path, ConfigFileImage& image) {
  image.fill(0);
  if (path == nullptr) return false;
  platform::FileHandle file = platform::OpenFile(path, "rb");
  if (file == nullptr) return false;
  file->Read(image.data(), image.size());
  bool failed = file->HasError();
  file->Close();
  return !failed;
}

bool CommitConfigFile(const char* path, ConfigFileImage& image) {
  util::StampDbmChecksum(image.data());
  // The file must exist and be writable, as an in-place rewrite would need; opening it for
  // update tests both without changing it.
  platform::FileHandle probe = platform::OpenFile(path, "rb+");
  if (probe == nullptr || probe->Close() != 0) return false;

  switch (ReplaceThroughNewFile(path, image)) {
    case Staging::kReplaced:
      return true;
    case Staging::kFailed:
      return false;
    case Staging::kUnavailable:
      return RewriteInPlace(path, image);
  }
  return false;
}

}  // namespace qz7::config
