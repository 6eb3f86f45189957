// The text files the POSIX backend keeps in the machine root (registry.txt, services.txt):
// reading them whole, a tolerant line walk that tells what it cannot read as file:line (kept
// for StoreDamageReport(), never written to the terminal), the quoted-text notation they
// share, the atomic and durable replacement and the lock that make every change one step for
// other processes, and the cache that reads a store again only when its file changed.
#ifndef QZ7_PLATFORM_POSIX_TEXT_STORE_H_
#define QZ7_PLATFORM_POSIX_TEXT_STORE_H_

#include <sys/stat.h>
#include <time.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qz7::platform::posix {

// What tells one content of a store file from another without reading it: the file's device,
// inode, size and times of last write and of last change. A file that does not exist has a
// stamp too (exists false). The replacement below gives every file it puts in place a time of
// last write past that of the file it replaces, so the stamps of the files it writes never
// repeat, even where an inode number is used again.
struct StoreStamp {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  struct timespec modified = {};
  struct timespec changed = {};
};
bool SameStoreStamp(const StoreStamp& a, const StoreStamp& b);
StoreStamp StoreStampOf(const struct stat& status);

// The stamp of the file as it is now. 0 (a missing file or folder gives a stamp that does not
// exist), or the Windows error of the failing status query.
uint32_t StatTextStore(const std::string& hostPath, StoreStamp* stamp);

// Reads the whole host file into content. 0, kErrorFileNotFound when it does not exist, or
// the Windows error of the failing read (content is then empty). stamp, when given, receives
// the stamp of the file that was read (taken from the open file).
uint32_t ReadTextStore(const std::string& hostPath, std::string* content,
                       StoreStamp* stamp = nullptr);

// Replaces hostPath with content in one step: the text goes to a new temporary file in the
// same folder, which is synced to disk and renamed over hostPath. On a failure before the
// rename the old file is untouched and the temporary file removed. The rename is made durable
// by the next SyncStoreFolder, which the store's flush calls (RegFlushKey, SyncFileSystem), as
// Windows writes its registry lazily: a power cut before it leaves the store as one of the
// versions written since the last one (each has its data on the disk). Returns 0 or the
// Windows error; written, when given, receives the stamp of the new file. replaced, when
// given, is the stamp of the file being replaced as the holder of the store's lock read it
// (else its status is asked for).
uint32_t ReplaceTextStore(const std::string& hostPath, const std::string& content,
                          StoreStamp* written = nullptr, const StoreStamp* replaced = nullptr);

// Makes the replacements of the stores in the folder of hostPath durable: syncs the folder.
// 0 or the Windows error.
uint32_t SyncStoreFolder(const std::string& hostPath);

// True when a file read now with this stamp could still change without its stamp showing it:
// its time of last write lies within the clock tick of the file system (a write in place in
// the same tick keeps the same time, and perhaps the same size). Such a file is read again at
// its next use.
bool IsRacyStamp(const StoreStamp& stamp);

// What the stores found damaged when they last loaded their files: one "file:line: reason"
// per line that could not be read, or one "file: reason" for a file that cannot be read at
// all. Each store replaces its own part when it loads its file.
void SetStoreDamage(const std::string& hostPath, std::vector<std::string> lines);
std::string StoreDamageReport();

// What a store calls the two ways its whole file can be damaged, in the damage report.
struct StoreDamageTexts {
  std::string_view emptyFile;        // a file without any text
  std::string_view nothingReadable;  // a file of which not one line could be read
};

// The first step of every store's load: a file with a NUL byte is no text file. Then the
// store's part of the damage report is that line alone and the result kErrorRegistryCorrupt;
// else 0 and nothing recorded.
uint32_t RefuseBinaryStore(const std::string& hostPath, std::string_view content);

// The last step of every store's load, once its lines were walked: the file is damaged as a
// whole (kErrorRegistryCorrupt) when it holds no text at all, or when lines were damaged and
// not one was readable; else 0. damage (one "file:line: reason" per unreadable line), with the
// line that says why the whole file is damaged, becomes the store's part of the damage report.
uint32_t FinishStoreLoad(const std::string& hostPath, const StoreDamageTexts& texts, bool anyText,
                         int readable, std::vector<std::string> damage);

// One store's image (what the file says, parsed), kept between calls while the file keeps the
// stamp it had when the image was made. Every use asks the file's status (one system call) and
// reads and parses the file only when it changed, so a change made by another process is seen
// at the next call. A change takes the image out, changes it and puts it back with the stamp
// of the file it wrote. Image needs a default constructor and a copy constructor; load fills
// an image from the content of an existing file and returns 0 or the error its damage gives
// (that error is kept along with the stamp, so a damaged file is not read again either; a
// failed read is not kept).
template <typename Image>
class StoreCache {
 public:
  using Load = uint32_t (*)(const std::string& hostPath, const std::string& content, Image* image);
  explicit StoreCache(Load load) : load_(load) {}

  // The image of the store at hostPath as its file holds it now. An absent file is an empty
  // image. 0 or the Windows error (of the status query, the read, or the damage load found).
  uint32_t Current(const std::string& hostPath, std::shared_ptr<const Image>* image) {
    std::lock_guard<std::mutex> guard(mutex_);
    uint32_t error = Refresh(hostPath);
    if (error == 0) *image = image_;
    return error;
  }

  // The image to change, for the holder of the store's lock: a copy of the kept image when
  // another caller still uses it, else the kept one itself; the cache keeps nothing until Put.
  // stamp receives the stamp of the file the image was read from, for Put when the change
  // writes nothing.
  uint32_t Take(const std::string& hostPath, std::shared_ptr<Image>* image, StoreStamp* stamp) {
    std::lock_guard<std::mutex> guard(mutex_);
    uint32_t error = Refresh(hostPath);
    if (error != 0) return error;
    *stamp = stamp_;
    takenRacy_ = racy_;
    if (image_.use_count() == 1) {
      *image = std::const_pointer_cast<Image>(image_);
    } else {
      *image = std::make_shared<Image>(*image_);
    }
    image_.reset();
    return 0;
  }

  // Keeps image as what the file at hostPath holds with stamp: the stamp of the file this
  // process has just written (written), or the one Take gave (the image is then as racy as it
  // was). A file this process wrote is never racy: the time of last write the replacement gave
  // it is its own.
  void Put(const std::string& hostPath, std::shared_ptr<Image> image, const StoreStamp& stamp,
           bool written) {
    std::lock_guard<std::mutex> guard(mutex_);
    path_ = hostPath;
    stamp_ = stamp;
    racy_ = !written && takenRacy_;
    error_ = 0;
    image_ = std::move(image);
  }

 private:
  // Makes image_ or error_ current for hostPath. Called with mutex_ held.
  uint32_t Refresh(const std::string& hostPath) {
    StoreStamp now;
    if (uint32_t error = StatTextStore(hostPath, &now); error != 0) return error;
    const bool kept = path_ == hostPath && (image_ != nullptr || error_ != 0);
    if (kept && !racy_ && SameStoreStamp(now, stamp_)) return error_;
    auto fresh = std::make_shared<Image>();
    uint32_t error = 0;
    if (!now.exists) SetStoreDamage(hostPath, {});  // nothing there, nothing damaged
    if (now.exists) {
      std::string content;
      error = ReadTextStore(hostPath, &content, &now);
      if (error == 2 || error == 3) {  // gone since the status query: an empty store
        error = 0;
        now = StoreStamp();
        SetStoreDamage(hostPath, {});
      } else if (error != 0) {
        // A read that failed says nothing about the file; it is read again at the next call.
        path_.clear();
        image_.reset();
        return error;
      } else {
        error = load_(hostPath, content, fresh.get());
      }
    }
    path_ = hostPath;
    stamp_ = now;
    racy_ = now.exists && IsRacyStamp(now);
    error_ = error;
    image_.reset();
    if (error == 0) image_ = std::move(fresh);
    return error;
  }

  Load load_;
  std::mutex mutex_;
  std::string path_;
  StoreStamp stamp_;
  bool racy_ = false;
  bool takenRacy_ = false;  // racy_ when Take handed the image out
  uint32_t error_ = 0;
  std::shared_ptr<const Image> image_;
};

// Holds an exclusive lock on "<hostPath>.lock" for one read-change-write cycle, so that two
// processes changing the same store do not lose each other's change. Readers need no lock
// because a store is only ever replaced whole.
class TextStoreLock {
 public:
  explicit TextStoreLock(const std::string& hostPath);
  ~TextStoreLock();
  TextStoreLock(const TextStoreLock&) = delete;
  TextStoreLock& operator=(const TextStoreLock&) = delete;
  // 0 when the lock is held, else the Windows error (the folder is missing, ...).
  uint32_t error() const { return error_; }

 private:
  int fd_ = -1;
  uint32_t error_ = 0;
};

// One line of a store: its 1-based number and its text without the line end (LF or CR LF).
struct StoreLine {
  int number;
  std::string_view text;
};
std::vector<StoreLine> SplitStoreLines(std::string_view content);

// The quoted notation: "text" with \\ \" \n \r \t and \xHH for other control bytes; bytes
// from 0x80 up stand as they are.
std::string QuoteStoreText(std::string_view text);
// Reads one quoted text at the start of *cursor (after blanks) and advances past it. False
// (cursor unchanged) when there is no well-formed quoted text.
bool ParseStoreText(std::string_view* cursor, std::string* text);

std::string_view TrimBlanks(std::string_view text);
// ASCII letters compared without regard to case, other bytes exactly.
bool EqualNoCase(std::string_view a, std::string_view b);

}  // namespace qz7::platform::posix

#endif  // QZ7_PLATFORM_POSIX_TEXT_STORE_H_
