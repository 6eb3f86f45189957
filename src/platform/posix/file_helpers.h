// Small helpers shared by the file functions of the POSIX backend.
#ifndef QZ7_PLATFORM_POSIX_FILE_HELPERS_H_
#define QZ7_PLATFORM_POSIX_FILE_HELPERS_H_

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/posix/host_path.h"

namespace qz7::platform::posix {

// The read-only attribute of Windows is a file without any write permission bit.
constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;
inline bool IsReadOnlyMode(mode_t mode) { return (mode & kWriteBits) == 0; }

// Sets the last error and returns it.
uint32_t Fail(uint32_t error);

// Writes all of data, retrying short writes and interrupted calls. False with errno set.
bool WriteAll(int fd, const char* data, size_t size);

// Copies the bytes of in to out from their current offsets: size of them (the source's length
// as its open descriptor gave it), or fewer when the source ends sooner; kToTheEnd copies
// until the source ends. In the kernel where the file systems allow it (copy_file_range), else
// through a buffer. 0, or the errno of the failure.
constexpr uint64_t kToTheEnd = ~uint64_t{0};
int CopyDescriptorBytes(int in, int out, uint64_t size);
// A file copy's end: the bytes as above, then the source's attributes (read-only among them)
// and time of last write on out, which is then closed; in stays open. 0, or the errno of the
// first failure.
int CopyContentsAndAttributes(int in, int out, uint64_t size, const struct stat& source);

// Resolves a path and sets the last error when it cannot be mapped.
bool Resolve(const char* path, HostPath* out, ParseOptions options = ParseOptions{});
// Resolves the two paths of one operation (source and destination), looking the drive up once
// when they share it.
bool ResolveBoth(const char* first, HostPath* firstOut, const char* second, HostPath* secondOut);

// stat (or lstat) of a host path; on failure sets the last error (2 or 3) and returns false.
bool StatHost(const std::string& host, struct stat* status, bool followLink = true);

// True when the folder that would hold host exists.
bool ParentExists(const std::string& host);
// The same for the entry of a resolved path, from what the resolution read when it can.
bool ParentExists(const HostPath& path);

// The status of a resolved path's entry (lstat of hostEntry, or with followLink stat of host)
// from the resolution when it was found; else (unless the resolution saw the last name missing
// from an existing folder: 2) asked again, which sets the last error (2 or 3) and returns false
// when it is missing.
bool StatResolved(const HostPath& path, struct stat* status, bool followLink = true);

}  // namespace qz7::platform::posix

#endif  // QZ7_PLATFORM_POSIX_FILE_HELPERS_H_
