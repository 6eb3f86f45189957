// One conversion engine for the four earlier layouts. What differs between them is data: the
// entry field table (converted_entry.h), the intention file table
// (intention_file_conversion.h), the message keys (directory_conversion_keys.h) and the few
// switches of DirectoryConversion::Layout below.
#include "migrate/directory_entry_conversion.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "base/coding.h"
#include "base/directory_layout.h"
#include "base/fixed_text.h"
#include "migrate/converted_entry.h"
#include "migrate/directory_conversion_keys.h"
#include "migrate/directory_hash.h"
#include "migrate/intention_file_conversion.h"
#include "migrate/local_database_check.h"
#include "migrate/migration_steps.h"
#include "migrate/work_buffer.h"
#include "platform/win_error.h"

namespace qz7::migrate {
namespace {

using platform::FileHandle;
using platform::FileStream;
using platform::OpenFile;

constexpr size_t kLargestOldEntry = 700;
constexpr size_t kLargestOldIntention = 534;
// The directory file path ends in "SQLDBDIR\SQLDBDIR"; without it, the instance directory
// with its trailing backslash remains.
constexpr size_t kDirectorySuffixLength = 17;
constexpr size_t kReportPathSize = 243;

// Everything a conversion works in, taken in one allocation.
struct WorkArea {
  unsigned char oldHeader[base::kLongHeaderSize];
  unsigned char oldBlock[base::kLongBlockSize];
  unsigned char newHeader[base::kLongHeaderSize];
  unsigned char newBlock[base::kLongBlockSize];
  unsigned char oldEntry[kLargestOldEntry];
  ConvertedEntry entry;
  unsigned char oldIntention[kLargestOldIntention];
  unsigned char newIntention[base::kIntentionFileSize];
  char checkPath[kLocalPathSize];
  char checkObject[kMigrationObjectSize];
  char reportText[kMigrationMessageSize];
};

struct ConversionRequest {
  base::DirectoryLayoutType layout;
  bool directoryExists;
  bool shortHeader;
  const char* directoryPath;
  const char* copyPath;
  const char* intentionPath;
  char* key;
  char* object;
  FileStream* errorFile;
  // The source's bytes when the caller has them already (let go of once the entries are
  // converted); null to read the source file.
  std::unique_ptr<unsigned char[]>* sourceBytes = nullptr;
  size_t sourceSize = 0;
};

class DirectoryConversion {
 public:
  explicit DirectoryConversion(const ConversionRequest& request)
      : request_(request),
        keys_(ConversionKeysOf(request.layout)),
        loopKeys_(request.shortHeader ? keys_.shortEntries : keys_.longEntries),
        sourcePath_(request.directoryExists ? request.directoryPath : request.copyPath),
        targetPath_(request.directoryExists ? request.copyPath : request.directoryPath),
        hash_(0) {}

  [[nodiscard]] MigrationResult Run() {
    const MigrationResult code = Convert();
    CleanUp();
    return code;
  }

 private:
  bool IsLayout(base::DirectoryLayoutType layout) const { return request_.layout == layout; }
  bool HasLocalDatabases() const {
    return IsLayout(base::DirectoryLayoutType::kLayout2) ||
           IsLayout(base::DirectoryLayoutType::kLayout3);
  }
  // Layout 4 has only the long header; layouts 1 to 3 are read with the header form that
  // recognition found them under. (Long-header files of layouts 1 and 2 are rare, but reading
  // them with the short header would shift every entry and empty the directory without a word.)
  bool ReadsLongHeader() const {
    return IsLayout(base::DirectoryLayoutType::kLayout4) || !request_.shortHeader;
  }
  // Short-header directories of layouts 2 and 3 keep only their entries of type "1".
  bool KeepsOnlyCarriedEntries() const { return HasLocalDatabases() && request_.shortHeader; }
  bool ChecksLocalDatabases() const { return HasLocalDatabases() && !request_.shortHeader; }
  bool RewritesHeader() const { return HasLocalDatabases(); }

  MigrationResult Fail(const char* key, const char* object, MigrationResult code) {
    base::CopyBounded(request_.key, key, kMigrationKeySize);
    base::CopyBounded(request_.object, object, kMigrationObjectSize);
    return code;
  }
  MigrationResult Fail(const char* key, const std::string& object, MigrationResult code) {
    return Fail(key, object.c_str(), code);
  }

  [[nodiscard]] MigrationResult Convert();
  bool ReadSource(void* buffer, size_t size);
  MigrationResult OpenFiles();
  [[nodiscard]] MigrationResult ReadOldHeader();
  MigrationResult WriteNewHeader();
  [[nodiscard]] MigrationResult ConvertEntries();
  MigrationResult CarrySlots();
  [[nodiscard]] MigrationResult FinishTarget();
  MigrationResult CopyTargetOverSource();
  [[nodiscard]] MigrationResult WriteIntentionFile();
  void CheckLocalDatabase(ConvertedEntry& entry);
  void ResolveEntryPath(ConvertedEntry& entry);
  void CleanUp();
  void CloseForCleanUp(FileHandle& file, const char* key, const char* path);

  const ConversionRequest request_;
  const ConversionKeys& keys_;
  const EntryLoopKeys& loopKeys_;
  const char* const sourcePath_;
  const char* const targetPath_;
  std::unique_ptr<WorkArea[]> work_;
  std::string prefix_;
  char reportPath_[kReportPathSize] = {};
  FileHandle source_;
  size_t sourceOffset_ = 0;  // read so far of request_.sourceBytes
  FileHandle target_;
  FileHandle rewrittenSource_;
  FileHandle oldIntention_;
  FileHandle newIntention_;
  FileHandle report_;
  base::DirectoryHeader header_;  // the new header; counts as the old file gave them until step 7
  DirectoryHashBlock hash_;
  LocalDirectoryCache localDirectories_;  // each local database directory read once per run
};

MigrationResult DirectoryConversion::Convert() {
  work_ = AllocateWorkBuffer<WorkArea>(1);
  if (!work_) return Fail(keys_.allocation, "", kMigrationNoMemory);
  if (HasLocalDatabases()) {
    BuildReportFilePath(request_.directoryPath, reportPath_, sizeof reportPath_);
    const std::string directory = request_.directoryPath;
    prefix_ = directory.substr(0, directory.size() > kDirectorySuffixLength
                                      ? directory.size() - kDirectorySuffixLength
                                      : 0);
  }
  for (MigrationResult (DirectoryConversion::*step)() :
       {&DirectoryConversion::OpenFiles, &DirectoryConversion::ReadOldHeader,
        &DirectoryConversion::WriteNewHeader, &DirectoryConversion::ConvertEntries,
        &DirectoryConversion::CarrySlots, &DirectoryConversion::FinishTarget,
        &DirectoryConversion::CopyTargetOverSource, &DirectoryConversion::WriteIntentionFile}) {
    if (const MigrationResult code = (this->*step)(); code != kMigrationOk) return code;
  }
  return kMigrationOk;
}

// The file that exists is read and the other one written. The source is opened first so
// that a missing source never costs the target its contents.
MigrationResult DirectoryConversion::OpenFiles() {
  const bool inMemory = request_.sourceBytes != nullptr;
  if (!inMemory) source_ = OpenFile(sourcePath_, "rb");
  if (inMemory || source_) target_ = OpenFile(targetPath_, "wb+");
  if ((!inMemory && !source_) || !target_) {
    return Fail(keys_.open, std::string(request_.directoryPath) + " or " + request_.copyPath,
                kMigrationCannotOpen);
  }
  return kMigrationOk;
}

// Reads the next size bytes of the source, from memory when the caller handed its bytes in;
// false when fewer remain.
bool DirectoryConversion::ReadSource(void* buffer, size_t size) {
  if (request_.sourceBytes == nullptr) return source_->Read(buffer, size) == size;
  if (!*request_.sourceBytes || request_.sourceSize - sourceOffset_ < size) {
    sourceOffset_ = request_.sourceSize;
    return false;
  }
  std::memcpy(buffer, request_.sourceBytes->get() + sourceOffset_, size);
  sourceOffset_ += size;
  return true;
}

MigrationResult DirectoryConversion::ReadOldHeader() {
  const bool longHeader = ReadsLongHeader();
  const OldHeaderKeys& keys = longHeader ? keys_.longHeader : keys_.shortHeader;
  const size_t headerSize = longHeader ? base::kLongHeaderSize : base::kShortHeaderSize;
  const size_t blockSize = longHeader ? base::kLongBlockSize : base::kShortBlockSize;
  if (!ReadSource(work_[0].oldHeader, headerSize)) {
    return Fail(keys.header, sourcePath_, kMigrationReadError);
  }
  if (!ReadSource(work_[0].oldBlock, blockSize)) {
    return Fail(keys.block, sourcePath_, kMigrationReadError);
  }
  header_ = base::DecodeDirectoryHeader(work_[0].oldHeader, !longHeader);
  header_.signature = base::kCurrentDirectorySignature;
  header_.releaseMarker = base::kCurrentReleaseMarker;
  hash_ = DirectoryHashBlock(base::LoadLE16(work_[0].oldBlock));
  return kMigrationOk;
}

// The header as the old file had it and a block without buckets; both are written again once
// the entries are known.
MigrationResult DirectoryConversion::WriteNewHeader() {
  base::EncodeDirectoryHeader(header_, false, work_[0].newHeader);
  if (target_->Write(work_[0].newHeader, base::kLongHeaderSize) != base::kLongHeaderSize) {
    return Fail(keys_.newHeader, targetPath_, kMigrationWriteError);
  }
  DirectoryHashBlock(base::LoadLE16(work_[0].oldBlock)).Encode(work_[0].newBlock);
  if (target_->Write(work_[0].newBlock, base::kLongBlockSize) != base::kLongBlockSize) {
    return Fail(keys_.newBlock, targetPath_, kMigrationWriteError);
  }
  return kMigrationOk;
}

MigrationResult DirectoryConversion::ConvertEntries() {
  const size_t oldSize = OldEntrySize(request_.layout, request_.shortHeader);
  ConvertedEntry& entry = work_[0].entry;
  uint16_t written = 0;
  for (unsigned i = 0; i < header_.entryCount; ++i) {
    const int64_t offset = target_->Tell();
    if (offset < 0) return Fail(loopKeys_.offset, targetPath_, kMigrationFileAccessError);
    if (!ReadSource(work_[0].oldEntry, oldSize)) {
      return Fail(loopKeys_.read, sourcePath_, kMigrationReadError);
    }
    if (KeepsOnlyCarriedEntries() &&
        work_[0].oldEntry[base::kEntryTypeOffset] != base::kEntryTypeCarried) {
      continue;
    }
    BuildConvertedEntry(request_.layout, request_.shortHeader, work_[0].oldEntry, &entry);
    hash_.NoteEntry(entry.bytes + base::kEntryCatalogNameOffset, base::kEntryNameSize,
                    static_cast<uint32_t>(offset));
    const char type = entry.TypeCharacter();
    if (ChecksLocalDatabases() &&
        (type == base::kEntryTypeLocal || type == base::kEntryTypeOwnDirectory)) {
      CheckLocalDatabase(entry);
    }
    if (IsLayout(base::DirectoryLayoutType::kLayout4) && type == base::kEntryTypeOwnDirectory) {
      ResolveEntryPath(entry);
    }
    if (target_->Write(entry.bytes, kConvertedEntrySize) != kConvertedEntrySize) {
      return Fail(loopKeys_.write, targetPath_, kMigrationWriteError);
    }
    ++written;
    entry.Clear();
  }
  if (HasLocalDatabases()) header_.entryCount = written;
  return kMigrationOk;
}

// Completes an entry of a database on this machine; a failure is recorded, reported in
// SQLDDDIR.RPT, and the entry is written all the same.
void DirectoryConversion::CheckLocalDatabase(ConvertedEntry& entry) {
  WorkArea& work = work_[0];
  base::CopyBounded(work.checkPath, prefix_.c_str(), sizeof work.checkPath);
  work.checkObject[0] = '\0';
  const MigrationResult code =
      LocalDatabaseCheck(&entry, work.checkPath, sizeof work.checkPath, work.checkObject,
                         sizeof work.checkObject, &localDirectories_);
  if (code == kMigrationOk) return;
  WriteMigrationError(loopKeys_.check, work.checkObject, code, request_.errorFile);
  if (!report_) {
    report_ = OpenFile(reportPath_, "wb+");
    if (!report_) {
      WriteMigrationError(loopKeys_.reportOpen, reportPath_, kMigrationCannotOpen,
                          request_.errorFile);
    }
  }
  if (report_) {
    std::string name = entry.Text(base::kEntryCatalogNameOffset, base::kEntryNameSize);
    name = name.substr(0, name.find(' '));
    const char* arguments[] = {name.c_str()};
    work.reportText[0] = '\0';
    FormatReportMessage(code, 1, arguments, work.reportText);
    const ReportRecordWrite written = WriteReportRecord(*report_, work.reportText);
    if (!written.textWritten) {
      WriteMigrationError(loopKeys_.reportText, reportPath_, kMigrationWriteError,
                          request_.errorFile);
    }
    if (!written.separatorWritten) {
      WriteMigrationError(loopKeys_.reportSeparator, reportPath_, kMigrationWriteError,
                          request_.errorFile);
    }
  }
  if (keys_.reportNotice != nullptr) {
    WriteMigrationError(keys_.reportNotice, reportPath_, kMigrationFileAccessError,
                        request_.errorFile);
  }
}

// Makes the path of a layout-4 entry of type "2" absolute by changing into it. A path that
// cannot be resolved is recorded and kept as the old entry had it.
void DirectoryConversion::ResolveEntryPath(ConvertedEntry& entry) {
  const std::string name = entry.Text(base::kEntryCatalogNameOffset, base::kEntryNameSize);
  char saved[kLocalPathSize];
  if (platform::GetCurrentDirectoryText(saved, sizeof saved) != 0) {
    WriteMigrationError(kPathResolutionFirstReadKey, name.c_str(), kMigrationPathNotResolved,
                        request_.errorFile);
    return;
  }
  const std::string path = entry.Text(base::kEntryPathOffset, base::kEntryPathSize);
  if (platform::SetCurrentDirectoryText(path.c_str()) != 0) {
    WriteMigrationError(kPathResolutionKey, name.c_str(), kMigrationPathNotResolved,
                        request_.errorFile);
    return;
  }
  char resolved[base::kEntryPathSize];
  const bool read = platform::GetCurrentDirectoryText(resolved, sizeof resolved) == 0;
  const bool back = platform::SetCurrentDirectoryText(saved) == 0;
  if (!read || !back) {
    WriteMigrationError(kPathResolutionKey, name.c_str(), kMigrationPathNotResolved,
                        request_.errorFile);
  }
  if (!read) return;
  std::memset(entry.bytes + base::kEntryPathOffset, 0, base::kEntryPathSize);
  std::memcpy(entry.bytes + base::kEntryPathOffset, resolved,
              strnlen(resolved, base::kEntryPathSize - 1));
}

// The slots follow the entries in the source; then the closing 32-bit value.
MigrationResult DirectoryConversion::CarrySlots() {
  const bool dropsSlots = IsLayout(base::DirectoryLayoutType::kLayout2) && request_.shortHeader;
  if (dropsSlots) header_.slotCount = 0;
  if (keys_.slotAllocation != nullptr && !dropsSlots && header_.slotCount > 0) {
    const size_t size = base::kSlotSize * header_.slotCount;
    std::unique_ptr<unsigned char[]> slots = AllocateReadBuffer(size);
    if (!slots) return Fail(keys_.slotAllocation, "", kMigrationNoMemory);
    if (!ReadSource(slots.get(), size)) {
      return Fail(keys_.slotRead, sourcePath_, kMigrationReadError);
    }
    if (target_->Write(slots.get(), size) != size) {
      return Fail(keys_.slotWrite, targetPath_, kMigrationWriteError);
    }
  }
  unsigned char closing[base::kClosingFieldSize];
  base::StoreLE32(closing, header_.headerValue);
  if (target_->Write(closing, sizeof closing) != sizeof closing) {
    return Fail(keys_.closingValue, targetPath_, kMigrationWriteError);
  }
  return kMigrationOk;
}

// Puts the final header (layouts 2 and 3) and the filled hash block in place, then lets go of
// the source.
MigrationResult DirectoryConversion::FinishTarget() {
  if (keys_.finalHeader == nullptr) {
    if (target_->Seek(base::kLongHeaderSize, platform::kSeekSet) != 0) {
      return Fail(keys_.rewind, targetPath_, kMigrationFileAccessError);
    }
  } else if (target_->Seek(0, platform::kSeekSet) != 0) {
    return Fail(keys_.rewind, targetPath_, kMigrationFileAccessError);
  } else if (RewritesHeader()) {
    base::EncodeDirectoryHeader(header_, false, work_[0].newHeader);
    if (target_->Write(work_[0].newHeader, base::kLongHeaderSize) != base::kLongHeaderSize) {
      return Fail(keys_.finalHeader, targetPath_, kMigrationWriteError);
    }
  } else if (target_->Seek(base::kLongHeaderSize, platform::kSeekCur) != 0) {
    return Fail(keys_.finalHeader, targetPath_, kMigrationFileAccessError);
  }
  hash_.Encode(work_[0].newBlock);
  if (target_->Write(work_[0].newBlock, base::kLongBlockSize) != base::kLongBlockSize) {
    return Fail(keys_.finalBlock, targetPath_, kMigrationWriteError);
  }
  if (!CloseFile(source_)) return Fail(keys_.closeSource, sourcePath_, kMigrationCannotClose);
  // Held in memory, the old directory goes before the converted one is read back whole.
  if (request_.sourceBytes != nullptr) request_.sourceBytes->reset();
  return kMigrationOk;
}

// Writes the finished target over the source, so that the directory file and its copy end
// identical. The target is copied in pieces of at most kCopyPieceSize, so that the copy costs
// that much memory whatever the directory's size; a file of one piece takes the steps in the
// order of a whole-file copy (allocate, read, create the source, write).
MigrationResult DirectoryConversion::CopyTargetOverSource() {
  const CopyBackKeys& keys = keys_.copyBack;
  if (target_->Seek(0, platform::kSeekSet) != 0) {
    return Fail(keys.rewind, targetPath_, kMigrationFileAccessError);
  }
  const FileSizeSteps sizeSteps = {.seekEnd = {keys.seekEnd, kMigrationFileAccessError},
                                   .tell = {keys.tell, kMigrationFileAccessError},
                                   .rewind = {keys.rewindAgain, kMigrationFileAccessError}};
  int64_t size = 0;
  if (const MigrationStep* failed = MeasureFile(*target_, sizeSteps, &size)) {
    return Fail(failed->key, targetPath_, failed->code);
  }
  const size_t length = static_cast<size_t>(size);
  const size_t pieceSize = std::min(length, kCopyPieceSize);
  std::unique_ptr<unsigned char[]> piece = AllocateReadBuffer(pieceSize);
  if (!piece) return Fail(keys.allocation, "", kMigrationNoMemory);
  size_t done = 0;
  do {
    const size_t take = std::min(length - done, pieceSize);
    if (target_->Read(piece.get(), take) != take) {
      return Fail(keys.read, targetPath_, kMigrationReadError);
    }
    if (!rewrittenSource_) {
      rewrittenSource_ = OpenFile(sourcePath_, "wb+");
      if (!rewrittenSource_) return Fail(keys.create, sourcePath_, kMigrationCannotOpen);
    }
    if (rewrittenSource_->Write(piece.get(), take) != take) {
      return Fail(keys.write, sourcePath_, kMigrationWriteError);
    }
    done += take;
  } while (done < length);
  if (!CloseFile(rewrittenSource_)) {
    return Fail(keys.closeSource, sourcePath_, kMigrationCannotClose);
  }
  if (!CloseFile(target_)) return Fail(keys.closeTarget, targetPath_, kMigrationCannotClose);
  return kMigrationOk;
}

MigrationResult DirectoryConversion::WriteIntentionFile() {
  const char* path = request_.intentionPath;
  const size_t oldSize = OldIntentionSize(request_.layout);
  const unsigned char* old = nullptr;
  if (oldSize > 0) {
    oldIntention_ = OpenFile(path, "rb");
    const uint32_t error = oldIntention_ ? 0 : platform::GetLastError();
    // The driver requires the intention file only for some directories; layouts 3 and 4 build
    // a missing one from zeros, as layout 1 always does.
    const bool missing = platform::IsMissingError(error);
    if (!oldIntention_ && (IsLayout(base::DirectoryLayoutType::kLayout2) || !missing)) {
      return Fail(keys_.intentionOpen, path, kMigrationCannotOpen);
    }
    if (oldIntention_) {
      if (oldIntention_->Read(work_[0].oldIntention, oldSize) != oldSize) {
        return Fail(keys_.intentionRead, path, kMigrationReadError);
      }
      if (!CloseFile(oldIntention_)) {
        return Fail(keys_.intentionCloseOld, path, kMigrationCannotClose);
      }
      old = work_[0].oldIntention;
    }
  }
  BuildIntentionFile(request_.layout, old, work_[0].newIntention);
  newIntention_ = OpenFile(path, "wb+");
  if (!newIntention_) return Fail(keys_.intentionCreate, path, kMigrationCannotOpen);
  if (newIntention_->Write(work_[0].newIntention, base::kIntentionFileSize) !=
      base::kIntentionFileSize) {
    return Fail(keys_.intentionWrite, path, kMigrationWriteError);
  }
  if (!CloseFile(newIntention_)) {
    return Fail(keys_.cleanup.newIntention, path, kMigrationCannotClose);
  }
  return kMigrationOk;
}

void DirectoryConversion::CloseForCleanUp(FileHandle& file, const char* key, const char* path) {
  if (!CloseFile(file) && key != nullptr) {
    WriteMigrationError(key, path, kMigrationCannotClose, request_.errorFile);
  }
}

// Only a failed run leaves directory or intention files open here; the report file stays open
// from the first reported database to the end of every run.
void DirectoryConversion::CleanUp() {
  const CleanupKeys& keys = keys_.cleanup;
  CloseForCleanUp(source_, keys.source, sourcePath_);
  CloseForCleanUp(target_, keys.target, targetPath_);
  CloseForCleanUp(rewrittenSource_, keys.rewrittenSource, sourcePath_);
  CloseForCleanUp(oldIntention_, keys.oldIntention, request_.intentionPath);
  CloseForCleanUp(newIntention_, keys.newIntention, request_.intentionPath);
  // The report is part of what the migration leaves: its data reaches the disk before the
  // backup is made permanent (which syncs its folder, and so its name). A report that cannot
  // be synced is recorded as one that could not be closed, once.
  if (report_ && report_->Sync() != 0) {
    static_cast<void>(CloseFile(report_));
    if (keys.report != nullptr) {
      WriteMigrationError(keys.report, reportPath_, kMigrationCannotClose, request_.errorFile);
    }
  }
  CloseForCleanUp(report_, keys.report, reportPath_);
}

[[nodiscard]] MigrationResult RunConversion(base::DirectoryLayoutType layout, bool directoryExists,
                                            int shortHeader, const char* directoryPath,
                                            const char* copyPath, const char* intentionPath,
                                            char* key, char* object, FileStream* errorFile) {
  const ConversionRequest request{layout,        directoryExists, shortHeader == 1,
                                  directoryPath, copyPath,        intentionPath,
                                  key,           object,          errorFile};
  return DirectoryConversion(request).Run();
}

}  // namespace

[[nodiscard]] MigrationResult ConvertDirectoryBytes(base::DirectoryLayoutType layout,
                                                    bool directoryExists, int shortHeader,
                                                    const char* directoryPath, const char* copyPath,
                                                    const char* intentionPath,
                                                    std::unique_ptr<unsigned char[]>& sourceBytes,
                                                    size_t sourceSize, char* key, char* object,
                                                    FileStream* errorFile) {
  ConversionRequest request{layout,        directoryExists, shortHeader == 1,
                            directoryPath, copyPath,        intentionPath,
                            key,           object,          errorFile};
  request.sourceBytes = &sourceBytes;
  request.sourceSize = sourceSize;
  return DirectoryConversion(request).Run();
}

[[nodiscard]] MigrationResult ConvertDirectoryType1(bool directoryExists, bool /*copyExists*/,
                                                    int shortHeader, const char* directoryPath,
                                                    const char* copyPath, const char* intentionPath,
                                                    char* key, char* object,
                                                    FileStream* errorFile) {
  return RunConversion(base::DirectoryLayoutType::kLayout1, directoryExists, shortHeader,
                       directoryPath, copyPath, intentionPath, key, object, errorFile);
}

[[nodiscard]] MigrationResult ConvertDirectoryType2(bool directoryExists, bool /*copyExists*/,
                                                    int shortHeader, const char* directoryPath,
                                                    const char* copyPath, const char* intentionPath,
                                                    char* key, char* object,
                                                    FileStream* errorFile) {
  return RunConversion(base::DirectoryLayoutType::kLayout2, directoryExists, shortHeader,
                       directoryPath, copyPath, intentionPath, key, object, errorFile);
}

[[nodiscard]] MigrationResult ConvertDirectoryType3(bool directoryExists, bool /*copyExists*/,
                                                    int shortHeader, const char* directoryPath,
                                                    const char* copyPath, const char* intentionPath,
                                                    char* key, char* object,
                                                    FileStream* errorFile) {
  return RunConversion(base::DirectoryLayoutType::kLayout3, directoryExists, shortHeader,
                       directoryPath, copyPath, intentionPath, key, object, errorFile);
}

[[nodiscard]] MigrationResult ConvertDirectoryType4(bool directoryExists, bool /*copyExists*/,
                                                    const char* directoryPath, const char* copyPath,
                                                    const char* intentionPath, char* key,
                                                    char* object, FileStream* errorFile) {
  return RunConversion(base::DirectoryLayoutType::kLayout4, directoryExists, 0, directoryPath,
                       copyPath, intentionPath, key, object, errorFile);
}

}  // namespace qz7::migrate
