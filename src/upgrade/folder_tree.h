// Copying, moving and clearing folder trees: how an instance directory (a folder with
// everything below it) is carried to a new profile directory and how stale index files are
// removed.
#ifndef QZ7_UPGRADE_FOLDER_TREE_H_
#define QZ7_UPGRADE_FOLDER_TREE_H_

namespace qz7::upgrade {

constexpr int kFolderTreeOk = 0;
constexpr int kFolderTreeBadSource = -1;          // the source path cannot be normalised
constexpr int kFolderTreeBadDestination = -2;     // the destination path cannot be normalised
constexpr int kFolderTreeDestinationInside = -3;  // the destination lies inside the source

// Copies the tree at source to destination (both may be quoted). With move, each file is
// deleted after its copy and the emptied source folders are removed, upwards to the
// first ancestor that still holds something. A null or empty destination copies nothing and
// forces move: the source tree is deleted. Copying a tree onto itself does nothing; copying
// it into itself returns kFolderTreeDestinationInside before anything is changed. Failures to
// create folders or copy files are not reported, but a file whose copy failed is never
// deleted from the source, so a move never loses a file.
//
// A move with a destination is done so that a failure or a stop at any point never leaves
// an instance's files split between two places that a later run would mix: when the
// destination does not exist yet, the source folder is renamed to it in one step; else the
// whole tree is first copied and synced to the disk, and only when every file was copied
// (and the sync succeeded; else *failure is 999) is the source renamed
// aside (source + ".MOVED", a name no later move reads) and deleted; a later move of the same
// source first finishes deleting such a folder. When a copy fails the source stays whole, and
// *failure (when given) receives the CopySetupFile result of the first file that could not be
// copied (999 for a folder that could not be searched), else 0; a later move copies it over
// again.
//
// With keepAncestors, a move removes the emptied source directory itself but none of its
// ancestors: the set-up driver removes an emptied old profile directory only once every
// instance that lived there points elsewhere (RemoveEmptiedFolders).
[[nodiscard]] int CopyDirectoryTree(const char* source, const char* destination, bool move,
                                    int* failure = nullptr, bool keepAncestors = false);

// Removes directory (quoted or not) when it is empty, and each ancestor that becomes empty,
// as a move does; stops at the first one that cannot be removed.
void RemoveEmptiedFolders(const char* directory);

// Deletes the files in folderPath that match pattern ('*' and '?'), then removes the
// folders left empty, upwards. Nothing happens for a null or empty pattern.
void DeleteMatchingFiles(const char* pattern, const char* folderPath);

}  // namespace qz7::upgrade

#endif  // QZ7_UPGRADE_FOLDER_TREE_H_
