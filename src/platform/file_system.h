// Files and directories of the Windows computer, in the shape of the Microsoft C runtime and
// Win32 calls the library was written against. Paths are Windows paths ("C:\DIR\FILE" or
// relative to the current directory); quotes must already be stripped. Every failure sets
// the last error (win_error.h) to the Windows code.
#ifndef QZ7_PLATFORM_FILE_SYSTEM_H_
#define QZ7_PLATFORM_FILE_SYSTEM_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace qz7::platform {

constexpr size_t kMaxPath = 260;  // MAX_PATH

constexpr int kSeekSet = 0;
constexpr int kSeekCur = 1;
constexpr int kSeekEnd = 2;

// A buffered byte stream, as returned by fopen. Modes: "r", "rb", "r+", "rb+", "w", "wb",
// "w+", "wb+", "a", "ab", "a+" ("t" may be given). Without "b" the stream is in text mode:
// LF is written as CR LF, and CR LF is read as LF; a byte 0x1A (Ctrl-Z) ends what a read sees.
class FileStream {
 public:
  struct Native;  // defined by the backend
  explicit FileStream(Native* native);
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;
  // Closes the stream if Close was not called (a close failure is then lost).
  ~FileStream();

  // fread(buffer, 1, size): the number of bytes read; less at end of file or on error.
  size_t Read(void* buffer, size_t size);
  // fwrite(data, 1, size): the number of bytes written (buffered).
  size_t Write(const void* data, size_t size);
  // fputs: 0 on success, -1 on error.
  int PutText(const char* text);
  // fprintf.
  int Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // fgets: reads up to size - 1 bytes through the next newline; null at end or on error.
  char* GetLine(char* buffer, int size);
  // fseek / ftell: 0 on success, -1 on error.
  [[nodiscard]] int Seek(int64_t offset, int origin);
  int64_t Tell();
  [[nodiscard]] int Flush();
  // Flush, then make the file's data durable: fsync on POSIX, FlushFileBuffers on Windows.
  // 0 on success, -1 on error. Only the data is made durable: a file just created (or renamed,
  // replaced) needs SyncDirectory of its folder as well before its name survives a power cut.
  [[nodiscard]] int Sync();
  bool AtEnd() const;
  bool HasError() const;
  // fclose: 0 on success, -1 on error (buffered data that cannot be written). The stream is
  // closed afterwards in either case; a second Close returns -1.
  int Close();
  bool IsOpen() const { return native_ != nullptr; }

 private:
  Native* native_;
};

using FileHandle = std::unique_ptr<FileStream>;

// fopen: null on failure, with the last error set.
FileHandle OpenFile(const char* path, const char* mode);

struct FileStatus {
  bool isDirectory = false;
  bool isRegular = false;
  bool readOnly = false;
  uint64_t size = 0;
};
// _findfirst / _findnext / _findclose over one directory with a name pattern of '*' and '?'
// (matched without regard to case). "." and ".." are reported for directories, as Windows does.
struct FindData {
  char name[kMaxPath];
  bool isDirectory;
  bool readOnly;
  uint64_t size;
};
using FindHandle = intptr_t;
constexpr FindHandle kInvalidFindHandle = -1;

// Makes the data of the existing file at path durable: opens it for update, syncs and closes
// it (a read-only file is opened for reading instead, which POSIX can sync and Windows
// cannot). For a file whose writer is gone, such as a copy made by CopyFileA or a file
// another step closed. Its name still needs SyncDirectory. 0 on success, -1 on failure.
[[nodiscard]] int SyncFile(const char* path);

// Copies of many files from one folder into another, each by its name: what a tree copy does
// for the files of a folder. The two folders are found once, when the copy is opened, instead
// of once per file. from and to are Windows paths of existing folders, each ending in a
// backslash; fresh tells that the caller has just created to, so that it holds nothing but what
// this copy puts there and a name to be made there need not be looked up first.
class FolderCopy {
 public:
  struct Native;  // defined by the backend
  // Opens the two folders (one folder operation of the platform table). A copy that
  // could not open them still copies, through the paths.
  FolderCopy(const char* from, const char* to, bool fresh);
  FolderCopy(const FolderCopy&) = delete;
  FolderCopy& operator=(const FolderCopy&) = delete;
  ~FolderCopy();

  // CopyFileA(from + name, to + name, false), with its results and last errors, for name
  // as a folder search of from reported it.
  [[nodiscard]] bool Copy(const char* name);
  // Tells the copy that the caller has made name in to by other means (a folder): a file of a
  // name equal to it but for case is then copied the long way, which finds it.
  void NoteMade(const char* name);
  // Whether the folders were opened.
  bool IsOpen() const { return native_ != nullptr; }

 private:
  std::string from_;
  std::string to_;
  Native* native_ = nullptr;
};

}  // namespace qz7::platform

// The operations themselves are rows of the platform table.
#include "platform/platform_table.h"  // IWYU pragma: export

#endif  // QZ7_PLATFORM_FILE_SYSTEM_H_
