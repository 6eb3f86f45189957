// Copies between two folders on a POSIX host. Both folders are resolved and opened once; a file
// whose name can only mean itself is then copied by name relative to the open folders (openat),
// without walking the machine root for each path. Into a folder the caller has just created,
// a name that no earlier copy of this run made (without regard to case) cannot be there: it is
// created exclusively, without a lookup. Anything else (a folder that existed, a name Windows
// would read differently, a name this run made already in another case, a link, or a failure
// of the short way) goes through CopyFileA with the full paths, which gives every result and
// error of a copy as usual.
#include <errno.h>
#include <fcntl.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <unordered_set>

#include "platform/backend.h"
#include "platform/file_system.h"
#include "platform/posix/error_mapping.h"
#include "platform/posix/file_helpers.h"
#include "platform/posix/host_path.h"
#include "platform/posix/syscalls.h"
#include "platform/win_error.h"
#include "platform/windows_path.h"

struct qz7::platform::FolderCopy::Native {
  int from = -1;
  int to = -1;
  std::string toHost;        // the host folder of to, for errors and its kept listing
  size_t longestFolder = 0;  // the longer Windows form of the two folders, as given or found
  bool fresh = false;        // to was just created by the caller
  std::unordered_set<std::string> made;  // the folded names made in to since it was opened
};

namespace qz7::platform::backend {
namespace {

using posix::Syscalls;

// A name that a Windows path reads back as itself: printable ASCII, none of the characters
// Windows keeps out of names, not closing with a dot or a space (which Windows drops), and
// not a name of a folder itself. Other bytes may belong to double-byte characters of the code
// page: such names take the long way.
bool PlainName(const char* name) {
  const size_t length = strlen(name);
  if (length == 0 || name[length - 1] == '.' || name[length - 1] == ' ') return false;
  for (const char* at = name; *at != '\0'; ++at) {
    const unsigned char c = static_cast<unsigned char>(*at);
    if (c < 0x20 || c > 0x7E || strchr("\\/:*?\"<>|", c) != nullptr) return false;
  }
  return true;
}

// Opens a resolved folder for names relative to it; -1 with the last error set.
int OpenFolder(const char* path, posix::HostPath* resolved) {
  if (!posix::Resolve(path, resolved)) return -1;
  if (!resolved->exists || !S_ISDIR(resolved->status.st_mode)) {
    return posix::Fail(kErrorPathNotFound), -1;
  }
  const int fd = Syscalls().open(resolved->host.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd < 0)
    posix::SetLastErrorFromErrno(errno, resolved->host.c_str(), posix::ErrnoContext::kDirectory);
  return fd;
}

// The copy by name: true when done; false with nothing left behind when it did not happen,
// and *failure set to the errno when it failed after the new file was made (else 0, and the
// caller takes the long way).
bool CopyByName(FolderCopy::Native* copy, const char* name, int* failure) {
  *failure = 0;
  // A link is left to the long way, which keeps it inside its drive.
  const int in = Syscalls().openat(copy->from, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW, 0);
  if (in < 0) return false;
  struct stat source;
  if (Syscalls().fstat(in, &source) != 0 || !S_ISREG(source.st_mode)) {
    Syscalls().close(in);
    return false;
  }
  const int out = Syscalls().openat(copy->to, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (out < 0) {
    Syscalls().close(in);
    return false;
  }
  const int error =
      posix::CopyContentsAndAttributes(in, out, static_cast<uint64_t>(source.st_size), source);
  Syscalls().close(in);
  if (error != 0) {
    Syscalls().unlinkat(copy->to, name, 0);  // no half-written copy is left behind
    *failure = error;
    return false;
  }
  return true;
}

}  // namespace

FolderCopy::Native* OpenFolderCopy(const char* from, const char* to, bool fresh) {
  if (from == nullptr || to == nullptr) return posix::Fail(kErrorInvalidParameter), nullptr;
  posix::HostPath source, destination;
  const int fromFd = OpenFolder(from, &source);
  if (fromFd < 0) return nullptr;
  const int toFd = OpenFolder(to, &destination);
  if (toFd < 0) {
    Syscalls().close(fromFd);
    return nullptr;
  }
  auto* copy = new FolderCopy::Native;
  copy->from = fromFd;
  copy->to = toFd;
  copy->toHost = destination.host;
  copy->fresh = fresh;
  // The folders' Windows forms close with a backslash before the name.
  for (const size_t length : {strlen(from), strlen(to), source.windows.ToString().size() + 1,
                              destination.windows.ToString().size() + 1}) {
    copy->longestFolder = std::max(copy->longestFolder, length);
  }
  return copy;
}

bool CopyFileBetween(FolderCopy::Native* copy, const char* name, const char* fromPath,
                     const char* toPath) {
  const bool byName =
      copy->fresh && PlainName(name) && copy->longestFolder + strlen(name) <= kMaxPathLength;
  std::string folded = byName ? FoldNameCase(name) : std::string();
  if (byName && copy->made.count(folded) == 0) {
    int failure = 0;
    if (CopyByName(copy, name, &failure)) {
      copy->made.insert(std::move(folded));
      posix::ForgetFolderListing(copy->toHost);
      return true;
    }
    if (failure != 0) {
      posix::SetLastErrorFromErrno(failure, (copy->toHost + "/" + name).c_str());
      return false;
    }
  }
  if (!CopyFileA(fromPath, toPath, false)) return false;
  if (copy->fresh) copy->made.insert(FoldNameCase(name));
  return true;
}

void NoteMadeInFolderCopy(FolderCopy::Native* copy, const char* name) {
  copy->made.insert(FoldNameCase(name));
}

void CloseFolderCopy(FolderCopy::Native* copy) {
  Syscalls().close(copy->from);
  Syscalls().close(copy->to);
  delete copy;
}

}  // namespace qz7::platform::backend
