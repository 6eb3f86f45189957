// File helpers of the setup: existence tests, copying, unprotecting and free numbered names.
// Every path may be given quoted or not; quotes are stripped before the file-system call.
#ifndef QZ7_UTIL_SETUP_FILES_H_
#define QZ7_UTIL_SETUP_FILES_H_

#include "platform/file_system.h"

namespace qz7::util {

// The pattern of the temporary names a file is saved under before it is replaced:
// eight digits, a point, three digits.
constexpr const char* kTemporaryNamePattern = "????????.???";

// 1 when the path names an existing directory (respectively regular file), else 0.
[[nodiscard]] int IsDirectory(const char* path);
[[nodiscard]] int IsRegularFile(const char* path);
// 1 only when the path is known not to exist (the status query reports file or path not
// found, or a name that no file can have); 0 when it exists or its status cannot be read. A file
// about to be overwritten is taken for absent only on this answer, never because a query failed.
[[nodiscard]] int IsKnownAbsent(const char* path);
// 1 when the path names a directory (wantDirectory) or a regular file; 0 when it is known to
// name something else or nothing; -1 when its status could not be read for another reason than
// its absence, so that it may be one.
[[nodiscard]] int PathKindState(const char* path, bool wantDirectory);

// 0 for a null file name; otherwise IsRegularFile of directory + "\" + fileName (no backslash
// is added when the directory ends with one; an empty directory gives just the name).
[[nodiscard]] int FileExistsIn(const char* directory, const char* fileName);
// The same as a PathKindState of the regular file: -1 when it may be there.
[[nodiscard]] int FileStateIn(const char* directory, const char* fileName);

// Copies source over destination (overwriting allowed). Results: 0 success, 1 file not found,
// 2 path not found, 3 access denied, 4 sharing violation, 5 invalid parameter, 6 disk full,
// 7 file name too long, 999 any other failure.
[[nodiscard]] int CopySetupFile(const char* source, const char* destination);
// The same for the file named name of a folder copy's source folder, with the same results.
[[nodiscard]] int CopySetupFileBetween(platform::FolderCopy& copy, const char* name);

// Gives the owner read and write permission: 1 on success, 0 on failure.
int MakeWritable(const char* path);

// Makes the data of the existing file at path durable (a copy, or a file whose writer has
// closed it). True on success.
[[nodiscard]] bool SyncSetupFile(const char* path);
// Makes the change of the name path in its folder durable (a file created, replaced, renamed
// onto or removed there): syncs the folder holding path ("C:\" for "C:\NAME", the current
// directory for a bare name). True on success.
[[nodiscard]] bool SyncFolderOf(const char* path);

// The first candidate directory + "\" + pattern (its ? marks filled with the digits of 0, 1,
// 2, ... from the right) that is neither a regular file nor a directory, quoted when the
// directory is. Null when the digits run out, the candidate would not fit in 260 bytes, or a
// candidate's status cannot be queried (an unreadable name is never taken for a free one).
// The result lives in one static buffer that the next call overwrites.
const char* FindFreeNumberedName(const char* directory, const char* pattern);

}  // namespace qz7::util

#endif  // QZ7_UTIL_SETUP_FILES_H_
