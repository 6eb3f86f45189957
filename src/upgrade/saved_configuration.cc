#include "upgrade/saved_configuration.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <vector>

#include "base/quoted_path.h"
#include "platform/file_system.h"
#include "platform/win_error.h"
#include "platform/windows_path.h"
#include "util/setup_files.h"

namespace qz7::upgrade {
namespace {

using Bytes = std::vector<unsigned char>;

// The whole file; an empty vector for a file known to be missing; nothing when it cannot be
// read (a configuration that cannot be read must not be taken for a missing one).
std::optional<Bytes> ReadAll(const std::string& path) {
  platform::FileHandle file = platform::OpenFile(path.c_str(), "rb");
  if (!file) {
    if (platform::IsMissingError(platform::GetLastError())) return Bytes{};
    return std::nullopt;
  }
  Bytes bytes;
  unsigned char chunk[4096];
  for (size_t got; (got = file->Read(chunk, sizeof chunk)) > 0;) {
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  const bool failed = file->HasError();
  file->Close();
  if (failed) return std::nullopt;
  return bytes;
}

bool IsSavedName(const char* name) {
  const std::string text = name;
  const std::string stem = std::string(kConfigurationFileName) + ".";
  if (text.size() != stem.size() + 3 ||
      !platform::NamesEqualIgnoreCase(text.substr(0, stem.size()), stem)) {
    return false;
  }
  return std::all_of(text.begin() + static_cast<long>(stem.size()), text.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

void RemoveForced(const std::string& bare) {
  static_cast<void>(platform::SetFileWritable(bare.c_str(), true));
  static_cast<void>(platform::RemoveFile(bare.c_str()));
}

}  // namespace

bool FinishSavedConfiguration(const char* instanceDir) {
  const std::string folder = base::StripQuotes(instanceDir != nullptr ? instanceDir : "");
  const std::string config = base::JoinPath(folder, kConfigurationFileName);
  std::vector<std::string> saved;
  std::string replaced;
  platform::FindData entry;
  const std::string pattern = base::JoinPath(folder, std::string(kConfigurationFileName) + ".*");
  platform::FindHandle search = platform::FindFirst(pattern.c_str(), &entry);
  if (search != platform::kInvalidFindHandle) {
    do {
      if (entry.isDirectory) continue;
      if (IsSavedName(entry.name)) {
        saved.push_back(entry.name);
      } else if (platform::NamesEqualIgnoreCase(entry.name, kReplacedConfigurationName)) {
        replaced = entry.name;
      } else if (platform::NamesEqualIgnoreCase(entry.name, kStagedConfigurationName) ||
                 platform::NamesEqualIgnoreCase(entry.name, kFreshConfigurationName)) {
        // Never more than a template being filled or copied in: qz7systm is replaced only by
        // a rename.
        RemoveForced(base::JoinPath(folder, entry.name));
      }
    } while (platform::FindNext(search, &entry) == 0);
    const bool complete = platform::GetLastError() == platform::kErrorNoMoreFiles;
    platform::FindClose(search);
    if (!complete) return false;
  } else if (platform::GetLastError() != platform::kErrorFileNotFound &&
             platform::GetLastError() != platform::kErrorPathNotFound &&
             platform::GetLastError() != platform::kErrorNoMoreFiles) {
    return false;
  }
  std::sort(saved.begin(), saved.end());
  // The host's copy is looked at last: once a saved copy is back, it is a duplicate of it.
  if (!replaced.empty()) saved.push_back(replaced);
  if (saved.empty()) return true;

  std::optional<Bytes> current = ReadAll(config);
  if (!current) return false;
  for (const std::string& name : saved) {
    const std::string path = base::JoinPath(folder, name);
    const std::optional<Bytes> copy = ReadAll(path);
    if (!copy) return false;
    const bool prefix =
        copy->size() <= current->size() && std::equal(copy->begin(), copy->end(), current->begin());
    if (prefix) {
      RemoveForced(path);  // one that stays is a duplicate, no more
      continue;
    }
    // A read-only qz7systm would refuse the replacement, which then fails and says so.
    static_cast<void>(platform::SetFileWritable(config.c_str(), true));
    if (!util::SyncSetupFile(path.c_str()) ||
        platform::ReplaceFile(path.c_str(), config.c_str()) != 0) {
      return false;
    }
    // Put back whatever the sync of the name says; undone by a power cut, the copy is found
    // again by the next run.
    static_cast<void>(util::SyncFolderOf(config.c_str()));
    current = *copy;
  }
  return true;
}

std::string SaveConfiguration(const char* instanceDir) {
  const char* free = util::FindFreeNumberedName(instanceDir, kSavedConfigurationPattern);
  if (free == nullptr) return "";
  std::string savedPath = free;  // the helper's buffer is shared by every call
  const std::string configPath = base::ExtendPath(instanceDir != nullptr ? instanceDir : "",
                                                  std::string("\\") + kConfigurationFileName);
  // The saved copy is on the disk, data and name, before qz7systm may be overwritten.
  if (util::CopySetupFile(configPath.c_str(), savedPath.c_str()) != 0 ||
      !util::SyncSetupFile(savedPath.c_str()) || !util::SyncFolderOf(savedPath.c_str())) {
    // The name was free before the copy: whatever stands there now is a partial copy.
    if (util::IsRegularFile(savedPath.c_str())) RemoveForced(base::StripQuotes(savedPath.c_str()));
    return "";
  }
  util::MakeWritable(savedPath.c_str());
  return savedPath;
}

bool PutBackConfiguration(const char* instanceDir, const std::string& savedPath) {
  const std::string config = base::JoinPath(
      base::StripQuotes(instanceDir != nullptr ? instanceDir : ""), kConfigurationFileName);
  // A read-only qz7systm would refuse the replacement, which then fails and says so.
  static_cast<void>(platform::SetFileWritable(config.c_str(), true));
  // The copy's data is on the disk since it was saved, so the rename alone puts it back. Its
  // name is not synced here: a power cut that undoes the rename leaves the copy under its
  // numbered name, which the next run finds and puts back, and a later sync of the folder or
  // of the file system (the set-up run ends with one) makes it last.
  return platform::ReplaceFile(base::StripQuotes(savedPath.c_str()).c_str(), config.c_str()) == 0;
}

}  // namespace qz7::upgrade
