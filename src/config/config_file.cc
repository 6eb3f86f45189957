#include "config/config_file.h"

#include <cstring>
#include <string>

#include "base/multibyte.h"
#include "platform/file_system.h"
#include "util/setup_files.h"

namespace qz7::config {
namespace {

// The folder of path, without its last backslash ("" for a bare file name).
std::string FolderOf(const char* path) {
  const char* separator = base::FindLastCharMB(path, '\\');
  return separator == nullptr ? std::string() : std::string(path, separator);
}

// A drive-relative path ("C:NAME") names a folder that a numbered name cannot be put in.
bool IsDriveRelative(const char* path) {
  return path[0] != '\0' && path[1] == ':' && base::FindLastCharMB(path, '\\') == nullptr;
}

// A fresh numbered name in folder, or "" when there is none.
std::string FreeNameIn(const std::string& folder) {
  const char* name = util::FindFreeNumberedName(folder.c_str(), util::kTemporaryNamePattern);
  return name == nullptr ? std::string() : std::string(name);
}

// Writes the whole image to an open stream, syncs it to the disk and closes it; false on any
// reported error.
bool WriteAndClose(platform::FileStream& stream, const ConfigFileImage& image) {
  bool written = stream.Write(image.data(), image.size()) == image.size();
  written = stream.Sync() == 0 && written;
  written = !stream.HasError() && written;
  return stream.Close() == 0 && written;
}

bool RewriteInPlace(const char* path, const ConfigFileImage& image) {
  platform::FileHandle file = platform::OpenFile(path, "wb+");
  if (file == nullptr) return false;
  return WriteAndClose(*file, image);
}

enum class Staging { kReplaced, kFailed, kUnavailable };

// Writes image to a new file beside path and moves it over path in one step, so that path
// holds the old or the new contents at every moment, whatever fails or ends the process.
// kUnavailable: nothing could be staged in the folder and nothing changed; kFailed: the old
// file is still at path.
Staging ReplaceThroughNewFile(const char* path, const ConfigFileImage& image) {
  if (IsDriveRelative(path)) return Staging::kUnavailable;
  const std::string staged = FreeNameIn(FolderOf(path));
  if (staged.empty()) return Staging::kUnavailable;
  platform::FileHandle file = platform::OpenFile(staged.c_str(), "wb+");
  if (file == nullptr) return Staging::kUnavailable;
  if (!WriteAndClose(*file, image) || platform::ReplaceFile(staged.c_str(), path) != 0) {
    // Only a leftover staging copy: the next commit writes it again.
    static_cast<void>(platform::RemoveFile(staged.c_str()));
    return Staging::kFailed;
  }
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
  base::StampDbmChecksum(image.data());
  // The file must exist and be writable, as an in-place rewrite would need; opening it for
  // update tests both without changing it.
  platform::FileHandle probe = platform::OpenFile(path, "rb+");
  if (probe == nullptr || probe->Close() != 0) return false;

  switch (ReplaceThroughNewFile(path, image)) {
    case Staging::kReplaced:
      // The commit is done only once its new name is on the disk: the caller relies on the
      // file from then on, and a power cut before the sync of the folder may bring the old
      // content back. A failed sync is a failed commit, whatever the file holds for now.
      return util::SyncFolderOf(path);
    case Staging::kFailed:
      return false;
    case Staging::kUnavailable:
      return RewriteInPlace(path, image);
  }
  return false;
}

}  // namespace qz7::config
