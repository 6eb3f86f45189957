#include "config/config_file.h"

#include <cstring>
#include <string>

#include "base/multibyte.h"
#include "platform/file_system.h"
#include "util/setup_files.h"

namespace qz7::config {
namespace {

// The name the new content is written under before it replaces the file: the file's own
// full name with this ending, so that a copy a stopped commit left behind is known for what
// it is and taken over (written again, then moved or removed) by the next commit of the file.
constexpr const char* kStagedEnding = ".vld";

// The full path of the file to commit: a relative or drive-relative path ("C:NAME") names a
// file in the current directory (of that drive), in whose folder the new content is staged.
std::string FullPathOf(const char* path) {
  char full[platform::kMaxPath] = {};
  return platform::FullPath(full, path, sizeof full) != nullptr ? std::string(full) : path;
}

// The folder of path, without its last backslash ("" for a bare file name).
std::string FolderOf(const std::string& path) {
  const char* separator = base::FindLastCharMB(path.c_str(), '\\');
  return separator == nullptr ? std::string() : std::string(path.c_str(), separator);
}

// The staging name beside path; a fresh numbered name in its folder when the path is too long
// for the ending, or "" when there is none.
std::string StagingNameFor(const std::string& path) {
  if (path.size() + std::strlen(kStagedEnding) < platform::kMaxPath) return path + kStagedEnding;
  const char* name =
      util::FindFreeNumberedName(FolderOf(path).c_str(), util::kTemporaryNamePattern);
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

}  // namespace

Staging ReplaceThroughNewFile(const std::string& path, const std::string& staged,
                              const ConfigFileImage& image) {
  // A copy that a stopped commit left is only that: it is written again from the start.
  static_cast<void>(platform::SetFileWritable(staged.c_str(), true));
  platform::FileHandle file = platform::OpenFile(staged.c_str(), "wb+");
  if (file == nullptr) return Staging::kUnavailable;
  if (!WriteAndClose(*file, image) || platform::ReplaceFile(staged.c_str(), path.c_str()) != 0) {
    // Only a leftover staging copy: the next commit takes it over.
    static_cast<void>(platform::RemoveFile(staged.c_str()));
    return Staging::kFailed;
  }
  // The replacement is done only once its new name is on the disk: the caller relies on the
  // file from then on, and a power cut before the sync of the folder may bring the old
  // content back. A failed sync is a failed replacement, whatever the file holds for now.
  return util::SyncFolderOf(path.c_str()) ? Staging::kReplaced : Staging::kFailed;
}

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

  const std::string fullPath = FullPathOf(path);
  const std::string staged = StagingNameFor(fullPath);
  switch (staged.empty() ? Staging::kUnavailable : ReplaceThroughNewFile(fullPath, staged, image)) {
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
