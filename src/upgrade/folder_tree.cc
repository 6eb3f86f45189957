#include "upgrade/folder_tree.h"

#include <cstring>
#include <optional>
#include <string>

#include "base/multibyte.h"
#include "base/quoted_path.h"
#include "platform/file_system.h"
#include "platform/win_error.h"
#include "util/path_normalization.h"
#include "util/setup_files.h"

namespace qz7::upgrade {
namespace {

constexpr size_t kFolderPathSize = 261;

// The normalised form of path (given quoted or not) with its closing quote dropped and a
// backslash appended, or false when it cannot be normalised.
bool NormalisedFolder(const char* path, std::string* folder) {
  char buffer[kFolderPathSize];
  const std::string bare = base::StripQuotes(path);
  if (util::NormalizeSetupPath(bare.c_str(), buffer, sizeof buffer) != util::kNormalizeOk) {
    return false;
  }
  *folder = base::DropClosingQuote(buffer) + "\\";
  return true;
}

// The same text with the closing quote it needs when it opens with one.
std::string Closed(const std::string& open) {
  return base::StartsWithQuote(open) ? open + "\"" : open;
}

// Removes the folder at path and each ancestor that becomes empty; stops at the first
// one that cannot be removed, and at a path without a backslash (a drive, "C:").
void RemoveEmptiedUpwards(std::string path) {
  while (base::FindCharMB(path.c_str(), '\\') != nullptr) {
    if (platform::RemoveDirectory(base::StripQuotes(path.c_str()).c_str()) != 0) return;
    if (!base::CutAtLastBackslash(path)) return;
  }
}

// Creates the folder at bare (an unquoted path), removing a file that stands where it must
// go. True when this call created it: it is then empty.
bool MakeFolder(const std::string& bare) {
  if (util::IsRegularFile(bare.c_str())) {
    util::MakeWritable(bare.c_str());
    static_cast<void>(platform::RemoveFile(bare.c_str()));
  }
  return platform::MakeDirectory(bare.c_str()) == 0;
}

// Creates each folder of destination (an open folder text ending in a backslash) from the
// top down, removing a file that stands where a folder must go. True when the last one was
// created by this call.
bool MakeDestinationFolders(const std::string& destination) {
  bool created = false;
  for (const char* at = base::FindCharMB(destination.c_str(), '\\'); at != nullptr;
       at = base::FindCharMB(at + 1, '\\')) {
    const std::string cut(destination.c_str(), static_cast<size_t>(at - destination.c_str()));
    const std::string bare = base::StripQuotes(cut.c_str());
    if (bare.size() == 2 && bare[1] == ':') continue;
    created = MakeFolder(bare);
  }
  return created;
}

// How TransferTree finds its destination folder.
enum class Destination {
  kUnknown,     // make every missing folder of the path
  kParentMade,  // the folder above exists: make only the last one
};

// The suffix of a moved source folder while it is being deleted.
constexpr const char* kMovedAsideSuffix = ".MOVED";

// A folder that could not be searched: nothing below it is known to be copied.
constexpr int kFolderNotSearched = 999;
// A copied tree that could not be synced to the disk: CopySetupFile's "any other failure".
constexpr int kCopyNotDurable = 999;

// Copies (and with move, deletes file by file) the tree below the open folder texts from and
// to (each ending in a backslash; to empty deletes) in one pass: each folder is searched once,
// and each file costs its copy (and its deletion), plus the removal of an older copy only where
// the destination folder existed before. Returns 0, or the CopySetupFile result of the first
// file that could not be copied (kFolderNotSearched for a folder that could not be searched);
// such a file is never deleted.
int TransferTree(const std::string& from, const std::string& to, bool move,
                 Destination destination = Destination::kUnknown, bool keepAncestors = false) {
  const bool toGiven = !to.empty();
  // A folder made here holds no older copies to clear out of the way.
  bool madeHere = false;
  if (toGiven && util::IsDirectory(Closed(from).c_str())) {
    madeHere = destination == Destination::kParentMade
                   ? MakeFolder(base::StripQuotes(Closed(to.substr(0, to.size() - 1)).c_str()))
                   : MakeDestinationFolders(to);
  }
  int failure = 0;
  const auto note = [&failure](int code) {
    if (failure == 0) failure = code;
  };
  platform::FindData entry;
  const std::string pattern = base::StripQuotes((from + "*").c_str());
  platform::FindHandle search = platform::FindFirst(pattern.c_str(), &entry);
  // Into a folder made here, files are copied by name between the two open folders.
  std::optional<platform::FolderCopy> between;
  if (toGiven && madeHere && search != platform::kInvalidFindHandle) {
    between.emplace(base::StripQuotes(from.c_str()).c_str(), base::StripQuotes(to.c_str()).c_str(),
                    /*fresh=*/true);
  }
  if (search != platform::kInvalidFindHandle) {
    do {
      if (std::strcmp(entry.name, ".") == 0 || std::strcmp(entry.name, "..") == 0) continue;
      if (entry.isDirectory) {
        // The folder made there takes its name: a file that differs from it only in case
        // must find it, as Windows would. An emptied subfolder removes itself only; this
        // folder removes itself (and, unless kept, its ancestors) once it is done.
        if (between) between->NoteMade(entry.name);
        note(TransferTree(from + entry.name + "\\",
                          toGiven ? to + entry.name + "\\" : std::string(), move,
                          Destination::kParentMade, /*keepAncestors=*/true));
        continue;
      }
      const std::string sourceEntry = Closed(from + entry.name);
      bool copied = true;
      if (toGiven) {
        const std::string destinationEntry = Closed(to + entry.name);
        if (!madeHere) {
          const std::string target = base::StripQuotes(destinationEntry.c_str());
          util::MakeWritable(target.c_str());
          static_cast<void>(platform::RemoveFile(target.c_str()));
        }
        const int copy = between
                             ? util::CopySetupFileBetween(*between, entry.name)
                             : util::CopySetupFile(sourceEntry.c_str(), destinationEntry.c_str());
        copied = copy == 0;
        note(copy);
      }
      // A file whose copy failed stays where it is: the move must not lose it.
      if (move && copied) {
        const std::string bare = base::StripQuotes(sourceEntry.c_str());
        if (entry.readOnly) util::MakeWritable(bare.c_str());
        static_cast<void>(platform::RemoveFile(bare.c_str()));
      }
    } while (platform::FindNext(search, &entry) == 0);
    // A search that ended on an error has not seen every entry.
    if (platform::GetLastError() != platform::kErrorNoMoreFiles) note(kFolderNotSearched);
    platform::FindClose(search);
  } else if (platform::GetLastError() != platform::kErrorFileNotFound &&
             platform::GetLastError() != platform::kErrorPathNotFound &&
             platform::GetLastError() != platform::kErrorNoMoreFiles) {
    note(kFolderNotSearched);
  }
  if (move) {
    const std::string emptied = Closed(from.substr(0, from.size() - 1));
    if (keepAncestors) {
      static_cast<void>(platform::RemoveDirectory(base::StripQuotes(emptied.c_str()).c_str()));
    } else {
      RemoveEmptiedUpwards(emptied);
    }
  }
  return failure;
}

// Moves the tree at from (an open folder text ending in a backslash) to to, as the header
// describes. Returns 0, or TransferTree's failure when the source stays because a file could
// not be copied.
int MoveTree(const std::string& from, const std::string& to, bool keepAncestors) {
  const std::string source = base::StripQuotes(Closed(from.substr(0, from.size() - 1)).c_str());
  const std::string destination = base::StripQuotes(Closed(to.substr(0, to.size() - 1)).c_str());
  // A source put aside is renamed only once all of it was copied: one that an interrupted
  // move left holds nothing the destination lacks, and its deletion is finished first.
  const std::string aside = source + kMovedAsideSuffix;
  if (util::IsDirectory(aside.c_str())) {
    static_cast<void>(TransferTree(aside + "\\", std::string(), /*move=*/true,
                                   Destination::kUnknown, keepAncestors));
  }
  if (!util::IsDirectory(source.c_str())) {
    return TransferTree(from, to, /*move=*/true, Destination::kUnknown, keepAncestors);
  }

  if (util::IsKnownAbsent(destination.c_str())) {
    std::string parent = Closed(to.substr(0, to.size() - 1));
    if (base::CutAtLastBackslash(parent))
      MakeDestinationFolders(base::DropClosingQuote(parent) + "\\");
    if (platform::RenameFile(source.c_str(), destination.c_str()) == 0) {
      // The tree has one name at every moment; the call's closing sync of the file system
      // makes the new one durable, and nothing before it deletes anything of the tree.
      std::string emptied = Closed(from.substr(0, from.size() - 1));
      if (!keepAncestors && base::CutAtLastBackslash(emptied)) RemoveEmptiedUpwards(emptied);
      return 0;
    }
  }
  if (const int failure = TransferTree(from, to, /*move=*/false); failure != 0) return failure;
  // Everything is at the destination, and is made durable before the source goes: otherwise
  // a power cut could leave neither. Unsynced, the source stays whole.
  if (platform::SyncFileSystem() != 0) return kCopyNotDurable;
  // The source goes, first out of the way of later moves.
  if (util::IsKnownAbsent(aside.c_str()) &&
      platform::RenameFile(source.c_str(), aside.c_str()) == 0) {
    static_cast<void>(TransferTree(aside + "\\", std::string(), /*move=*/true,
                                   Destination::kUnknown, keepAncestors));
  } else {
    static_cast<void>(
        TransferTree(from, std::string(), /*move=*/true, Destination::kUnknown, keepAncestors));
  }
  return 0;
}

}  // namespace

int CopyDirectoryTree(const char* source, const char* destination, bool move, int* failure,
                      bool keepAncestors) {
  if (failure != nullptr) *failure = 0;
  std::string from;
  if (!NormalisedFolder(source, &from)) return kFolderTreeBadSource;
  std::string to;
  const bool toGiven = destination != nullptr && destination[0] != '\0';
  if (!toGiven) {
    move = true;
  } else {
    if (!NormalisedFolder(destination, &to)) return kFolderTreeBadDestination;
    if (from == to) return kFolderTreeOk;
    if (from.size() < to.size() && to.compare(0, from.size(), from) == 0) {
      return kFolderTreeDestinationInside;
    }
  }
  const int copied = move && toGiven
                         ? MoveTree(from, to, keepAncestors)
                         : TransferTree(from, to, move, Destination::kUnknown, keepAncestors);
  if (failure != nullptr) *failure = copied;
  return kFolderTreeOk;
}

void DeleteMatchingFiles(const char* pattern, const char* folderPath) {
  if (pattern == nullptr || pattern[0] == '\0') return;
  std::string folder;
  if (folderPath != nullptr && folderPath[0] != '\0') {
    folder = base::DropClosingQuote(folderPath);
    if (folder.back() != '\\') folder += '\\';
  }
  std::string path = folder + pattern;
  platform::FindData entry;
  const std::string bareFolder = base::StripQuotes(folder.c_str());
  platform::FindHandle search =
      platform::FindFirst(base::StripQuotes(path.c_str()).c_str(), &entry);
  if (search != platform::kInvalidFindHandle) {
    do {
      // "." and ".." name the folder and its parent, not entries to delete.
      if (std::strcmp(entry.name, ".") == 0 || std::strcmp(entry.name, "..") == 0) continue;
      path = folder + entry.name;
      const std::string bare = bareFolder + entry.name;
      util::MakeWritable(bare.c_str());
      static_cast<void>(platform::RemoveFile(bare.c_str()));  // fails quietly for folders
    } while (platform::FindNext(search, &entry) == 0);
    platform::FindClose(search);
  }
  RemoveEmptiedUpwards(Closed(path));
}

void RemoveEmptiedFolders(const char* directory) {
  if (directory == nullptr || directory[0] == '\0') return;
  RemoveEmptiedUpwards(Closed(base::DropClosingQuote(directory)));
}

}  // namespace qz7::upgrade
