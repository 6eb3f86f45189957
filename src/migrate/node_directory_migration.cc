#include "migrate/node_directory_migration.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "base/coding.h"
#include "base/layout_recognition.h"
#include "migrate/migration_steps.h"
#include "migrate/node_directory_conversion.h"
#include "migrate/work_buffer.h"
#include "platform/file_system.h"

namespace qz7::migrate {
namespace {

using platform::FileHandle;
using platform::OpenFile;

using PathText = base::FixedText<base::kNodePathSize>;
using Buffer = std::unique_ptr<unsigned char[]>;

constexpr const char* kNodeDirectoryObject = "Node directory";

// The longest name that follows the instance directory: "\SQLNODIR\SQLNDDIR.TMP".
constexpr size_t kLongestInstanceSuffix = 22;

// The keys and codes of the steps on SQLNDDIR.TMP that migration_steps.h takes.
constexpr BackupHeaderReadSteps kRestoreReadSteps = {
    .size = {.seekEnd = {"MAIN_003", kMigrationAccessError},
             .tell = {"MAIN_004", kMigrationBadBackup},
             .rewind = {"MAIN_006", kMigrationAccessError}},
    .readHeader = {"MAIN_007", kMigrationReadError},
};
constexpr BackupHeaderWriteSteps kRestoreWriteSteps = {
    .rewind = {"MAIN_009", kMigrationAccessError},
    .writeHeader = {"MAIN_012", kMigrationAccessError},
    .close = {"MAIN_013", kMigrationCannotClose},
};
constexpr StagedBackupSteps kStagedBackupSteps = {
    .close = {"MAIN031", kMigrationCannotClose},
    .rename = {"MAIN031", kNodeMigrationRenameFailed},
};
constexpr BackupCompletionSteps kCompletionSteps = {
    .open = {"MAIN038", kMigrationAccessError},
    .readHeader = {"MAIN039", kMigrationAccessError},
    .writeHeader = {.rewind = {"MAIN040", kMigrationAccessError},
                    .writeHeader = {"MAIN041", kMigrationAccessError},
                    .close = {"MAIN042", kMigrationCannotClose}},
    .rename = {"MAIN046", kNodeMigrationRenameFailed},
};
constexpr BackupHeaderForm kBackupForm = {.size = base::kNodeBackupHeaderSize,
                                          .statusOffset = base::kNodeBackupStatusOffset,
                                          .completedStatus = base::kNodeBackupStatusComplete};
static_assert(base::kNodeBackupHeaderSize <= kMaxBackupHeaderSize);

// One side of the comparison: whether the file is there, and its bytes.
struct WholeFile {
  bool exists = false;
  int64_t size = 0;
  Buffer bytes;
};

// Opens path "rb+" into *file and takes its size: whole->exists tells whether it opened (a
// missing file is no failure); a size that cannot be told or held fails.
[[nodiscard]] MigrationResult OpenAndSize(const char* path, FileHandle* file, WholeFile* whole,
                                          NodeDirectoryComparison* comparison) {
  *file = OpenFile(path, "rb+");
  if (!*file) return kMigrationOk;
  whole->exists = true;
  whole->size = FileSize(**file);
  if (whole->size < 0 || whole->size > static_cast<int64_t>(UINT32_MAX)) {
    comparison->object = path;
    return kMigrationFileAccessError;
  }
  return kMigrationOk;
}

[[nodiscard]] MigrationResult ReadWholeFile(const char* path, WholeFile* whole,
                                            NodeDirectoryComparison* comparison) {
  FileHandle file;
  if (const MigrationResult opened = OpenAndSize(path, &file, whole, comparison);
      opened != kMigrationOk || !file) {
    return opened;
  }
  const size_t size = static_cast<size_t>(whole->size);
  whole->bytes = AllocateReadBuffer(size);
  if (!whole->bytes) {
    comparison->object.clear();
    return kNodeMigrationNoMemory;
  }
  if (!ReadExactly(*file, whole->bytes.get(), size)) {
    comparison->object = path;
    return kMigrationReadError;
  }
  if (!CloseFile(file)) {
    comparison->object = path;
    return kMigrationCannotClose;
  }
  return kMigrationOk;
}

// Opens path "rb+" and compares it, piece by piece, with the bytes of reference: whole->exists
// tells whether it opened, *same whether it holds exactly those bytes. It is read to its end
// even when it differs, so that a copy that cannot be read reports that failure all the same.
[[nodiscard]] MigrationResult CompareWithFile(const char* path, const WholeFile& reference,
                                              WholeFile* whole, bool* same,
                                              NodeDirectoryComparison* comparison) {
  FileHandle file;
  if (const MigrationResult opened = OpenAndSize(path, &file, whole, comparison);
      opened != kMigrationOk || !file) {
    return opened;
  }
  *same = whole->size == reference.size;
  constexpr size_t kPieceSize = 64 * 1024;
  Buffer piece = AllocateReadBuffer(kPieceSize);
  if (!piece) {
    comparison->object.clear();
    return kNodeMigrationNoMemory;
  }
  for (int64_t offset = 0; offset < whole->size;) {
    const size_t length = static_cast<size_t>(std::min<int64_t>(whole->size - offset, kPieceSize));
    if (!ReadExactly(*file, piece.get(), length)) {
      comparison->object = path;
      return kMigrationReadError;
    }
    *same = *same && std::memcmp(piece.get(), reference.bytes.get() + offset, length) == 0;
    offset += static_cast<int64_t>(length);
  }
  if (!CloseFile(file)) {
    comparison->object = path;
    return kMigrationCannotClose;
  }
  return kMigrationOk;
}

std::string Both(const char* filePath, const char* copyPath) {
  return std::string(filePath) + " and " + copyPath;
}

class NodeMigrationRun : private MigrationRun {
 public:
  explicit NodeMigrationRun(const char* instanceDir) : instanceDir_(instanceDir) {}

  [[nodiscard]] MigrationResult Run() {
    const std::string errorPath =
        std::string(instanceDir_) + "\\" + base::kNodeMigrationErrorFileName;
    if (!CreateErrorFile(errorPath, base::kNodePathSize, base::kNodeMigrationErrorFileName,
                         instanceDir_)) {
      return kMigrationErrorFileNotCreated;
    }
    return CleanUp(Migrate());
  }

 private:
  bool BuildPaths() {
    if (std::strlen(instanceDir_) + kLongestInstanceSuffix >= base::kNodePathSize) return false;
    const std::string base =
        std::string(instanceDir_) + "\\" + base::kNodeDirectoryFolderName + "\\";
    filePath_ = (base + base::kNodeDirectoryFileName).c_str();
    copyPath_ = (base + base::kNodeDirectoryCopyName).c_str();
    backupPath_ = (base + base::kNodeMigrationBackupName).c_str();
    permanentPath_ = (base + base::kNodePermanentBackupName).c_str();
    stagingPath_ = (base + base::kNodeBackupStagingName).c_str();
    return true;
  }

  [[nodiscard]] MigrationResult Migrate() {
    if (!BuildPaths()) return Fail("MAIN017", instanceDir_, kMigrationCannotOpen);

    // An unfinished migration left its backup behind: the directory comes back from it.
    backup_ = OpenFile(backupPath_.c_str(), "rb+");
    if (backup_) {
      if (MigrationResult code = RestoreFromBackup(); code != kMigrationOk) return code;
      restored_ = true;
      fileExists_ = true;
      copyExists_ = true;
    } else {
      NodeDirectoryComparison comparison;
      // The bytes read for the comparison serve the backup and the conversion as well.
      const MigrationResult code =
          CompareNodeDirectoryCopies(filePath_.c_str(), copyPath_.c_str(), &comparison, &data_);
      if (code != kMigrationOk) return Fail("MAIN017", comparison.object.c_str(), code);
      fileExists_ = comparison.fileExists;
      copyExists_ = comparison.copyExists;
      sizeToConvert_ = comparison.size;
    }

    const char* recognisedPath = fileExists_ ? filePath_.c_str() : copyPath_.c_str();
    base::NodeDirectoryLayoutType type = base::NodeDirectoryLayoutType::kUnrecognised;
    if (MigrationResult code = RecogniseNodeDirectoryFile(recognisedPath, &type);
        code != kMigrationOk) {
      return Fail(fileExists_ ? "MAIN018" : "MAIN019", recognisedPath, code);
    }
    if (type == base::NodeDirectoryLayoutType::kCurrent) return kMigrationOk;
    const base::NodeLayoutSpec* layout = FindNodeLayout(type);
    if (layout == nullptr) {
      return Fail("MAIN020", kNodeDirectoryObject, kMigrationUnrecognizedFile);
    }

    if (!restored_) {
      if (MigrationResult code = MakeBackup(*layout); code != kMigrationOk) return code;
    }
    const MigrationResult code =
        type == base::NodeDirectoryLayoutType::kEmpty ? RebuildEmptyDirectory() : Convert(type);
    if (code != kMigrationOk) return code;
    // The backup, marked complete, becomes SQLNDDIR.BAK in place of an older one.
    const MigrationResult completed =
        CompleteBackup(backup_, backupPath_.c_str(), permanentPath_.c_str(), kBackupForm,
                       kCompletionSteps, {filePath_.c_str(), copyPath_.c_str()});
    // A run that restored from SQLNDDIR.TMP wrote no staging file; one that an earlier run
    // could not rename (it took an unreadable SQLNDDIR.TMP for missing) is no longer needed.
    if (completed == kMigrationOk && restored_) {
      static_cast<void>(platform::RemoveFile(stagingPath_.c_str()));
    }
    return completed;
  }

  // Puts the file and its copy back as the backup holds them. The backup is read whole and
  // marked unfinished before either is touched, so a run stopped in the middle of this finds
  // the backup intact.
  [[nodiscard]] MigrationResult RestoreFromBackup() {
    const char* backup = backupPath_.c_str();
    int64_t size = 0;
    unsigned char header[base::kNodeBackupHeaderSize];
    if (MigrationResult code =
            ReadBackupHeader(*backup_, backup, kRestoreReadSteps, header, sizeof header, &size);
        code != kMigrationOk) {
      return code;
    }
    const int64_t dataLength = size - static_cast<int64_t>(base::kNodeBackupHeaderSize);
    if (!base::NodeBackupSignatureMatches(header) || dataLength == 0) {
      Fail("MAIN_011", backup, kMigrationBadBackup);
      if (!CloseFile(backup_)) Fail("MAIN_010", backup, kMigrationCannotClose);
      return kMigrationBadBackup;
    }

    const size_t length = static_cast<size_t>(dataLength);
    Buffer data = AllocateReadBuffer(length);
    if (!data) return Fail("MAIN_005", "", kNodeMigrationNoMemory);
    if (!ReadExactly(*backup_, data.get(), length)) {
      return Fail("MAIN_008", backup, kMigrationReadError);
    }
    if (header[base::kNodeBackupStatusOffset] == base::kNodeBackupStatusComplete) {
      header[base::kNodeBackupStatusOffset] = base::kNodeBackupStatusIncomplete;
    }
    if (MigrationResult code =
            RewriteBackupHeader(backup_, backup, header, sizeof header, kRestoreWriteSteps);
        code != kMigrationOk) {
      return code;
    }

    file_ = OpenFile(filePath_.c_str(), "wb+");
    if (!file_) return Fail("MAIN_001", filePath_.c_str(), kMigrationAccessError);
    copy_ = OpenFile(copyPath_.c_str(), "wb+");
    if (!copy_) return Fail("MAIN_002", copyPath_.c_str(), kMigrationAccessError);
    if (!WriteExactly(*file_, data.get(), length)) {
      return Fail("MAIN_014", filePath_.c_str(), kMigrationWriteError);
    }
    if (!WriteExactly(*copy_, data.get(), length)) {
      return Fail("MAIN_015", copyPath_.c_str(), kMigrationWriteError);
    }
    if (!CloseFile(file_)) return Fail("MAIN_016", filePath_.c_str(), kMigrationCannotClose);
    if (!CloseFile(copy_)) return Fail("MAIN_016", copyPath_.c_str(), kMigrationCannotClose);
    // The restored bytes stay for the conversion, which then need not read them again.
    data_ = std::move(data);
    sizeToConvert_ = static_cast<uint32_t>(length);
    return kMigrationOk;
  }

  // Writes the backup: its header with status "I", then the file (or the copy when the file
  // is missing). It is written under the staging name and renamed to SQLNDDIR.TMP only
  // when it is whole and closed: a backup cut short by a crash or a failed write would
  // otherwise be restored over the directory by the next run.
  [[nodiscard]] MigrationResult MakeBackup(const base::NodeLayoutSpec& layout) {
    const char* staging = stagingPath_.c_str();
    // A staging file left by an interrupted run is simply written again.
    static_cast<void>(platform::SetFileWritable(staging, true));
    staging_ = OpenFile(staging, "wb+");
    if (!staging_) return Fail("MAIN021", staging, kMigrationCannotOpen);
    unsigned char header[base::kNodeBackupHeaderSize];
    base::EncodeNodeBackupHeader(layout.backupName, base::kNodeBackupStatusIncomplete, header);
    if (!WriteExactly(*staging_, header, sizeof header)) {
      return Fail("MAIN022", staging, kMigrationAccessError);
    }

    // The comparison read the file to convert (the file, or the copy when there is none)
    // whole; those bytes go into the backup and stay for the conversion.
    const size_t size = sizeToConvert_;
    if (!data_) return Fail("MAIN025", "", kNodeMigrationNoMemory);
    if (!WriteExactly(*staging_, data_.get(), size)) {
      return Fail("MAIN030", staging, kMigrationAccessError);
    }
    return PublishStagedBackup(staging_, staging, backupPath_.c_str(), platform::RenameFile,
                               kStagedBackupSteps);
  }

  // A directory without entries becomes the empty directory of the current layout.
  [[nodiscard]] MigrationResult RebuildEmptyDirectory() {
    data_.reset();
    const char* file = filePath_.c_str();
    file_ = OpenFile(file, "wb+");
    if (!file_) return Fail("MAIN032", file, kMigrationCannotOpen);
    copy_ = OpenFile(copyPath_.c_str(), "wb+");
    if (!copy_) return Fail("MAIN033", copyPath_.c_str(), kMigrationCannotOpen);

    unsigned char header[base::kNodeHeaderSize] = {};
    base::StoreNodeText(header + base::kNodeSignatureOffset, base::kNodeSignatureWidth,
                        base::kNodeCurrentSignature);
    base::StoreLE16(header + base::kNodeReleaseOffset, base::kNodeCurrentRelease);
    const unsigned char closing[base::kNodeClosingSize] = {};
    const bool headerToFile = WriteExactly(*file_, header, sizeof header);
    if (!headerToFile || !WriteExactly(*copy_, header, sizeof header)) {
      return Fail("MAIN034", file, kMigrationWriteError);
    }
    const bool closingToFile = WriteExactly(*file_, closing, sizeof closing);
    if (!closingToFile || !WriteExactly(*copy_, closing, sizeof closing)) {
      return Fail("MAIN035", file, kMigrationWriteError);
    }
    if (!CloseFile(file_)) return Fail("MAIN036", file, kMigrationCannotClose);
    if (!CloseFile(copy_)) return Fail("MAIN037", copyPath_.c_str(), kMigrationCannotClose);
    return kMigrationOk;
  }

  [[nodiscard]] MigrationResult Convert(base::NodeDirectoryLayoutType type) {
    ConverterReport report;
    const MigrationResult code =
        data_ ? ConvertNodeDirectoryBytes(fileExists_, static_cast<int>(type), filePath_.c_str(),
                                          copyPath_.c_str(), data_, sizeToConvert_, report.key,
                                          report.object, errorFile_.get())
              : ConvertNodeDirectory(fileExists_, copyExists_, static_cast<int>(type),
                                     filePath_.c_str(), copyPath_.c_str(), report.key,
                                     report.object, errorFile_.get());
    data_.reset();
    return ConverterResult(code, report);
  }

  // Closes what is still open on the way out, whatever way that is; the error file last.
  [[nodiscard]] MigrationResult CleanUp(MigrationResult result) {
    return CloseLeftOpen(result, {{&file_, "MAIN043", filePath_.c_str()},
                                  {&copy_, "MAIN044", copyPath_.c_str()},
                                  {&backup_, "MAIN045", backupPath_.c_str()},
                                  {&staging_, "MAIN045", stagingPath_.c_str()}});
  }

  const char* const instanceDir_;
  PathText filePath_;
  PathText copyPath_;
  PathText backupPath_;
  PathText permanentPath_;
  PathText stagingPath_;

  FileHandle file_;
  FileHandle copy_;
  FileHandle backup_;
  FileHandle staging_;
  Buffer data_;  // the bytes of the directory to convert, read once

  bool fileExists_ = false;
  bool copyExists_ = false;
  bool restored_ = false;
  uint32_t sizeToConvert_ = 0;
};

}  // namespace

[[nodiscard]] MigrationResult CompareNodeDirectoryCopies(const char* filePath, const char* copyPath,
                                                         NodeDirectoryComparison* comparison,
                                                         std::unique_ptr<unsigned char[]>* bytes) {
  *comparison = NodeDirectoryComparison();
  WholeFile file;
  WholeFile copy;
  if (MigrationResult code = ReadWholeFile(filePath, &file, comparison); code != kMigrationOk) {
    comparison->fileExists = file.exists;
    return code;
  }
  // Only the file to convert is held whole; the copy of an existing file streams past it.
  bool same = true;
  const MigrationResult copyCode = file.exists
                                       ? CompareWithFile(copyPath, file, &copy, &same, comparison)
                                       : ReadWholeFile(copyPath, &copy, comparison);
  comparison->fileExists = file.exists;
  comparison->copyExists = copy.exists;
  if (copyCode != kMigrationOk) return copyCode;
  if (!file.exists && !copy.exists) {
    comparison->object = Both(filePath, copyPath).c_str();
    return kMigrationCannotOpen;
  }
  if (file.exists && copy.exists && !same) {
    comparison->object = Both(filePath, copyPath).c_str();
    return kMigrationCopiesDiffer;
  }
  comparison->size = static_cast<uint32_t>(file.exists ? file.size : copy.size);
  if (bytes != nullptr) *bytes = std::move(file.exists ? file.bytes : copy.bytes);
  return kMigrationOk;
}

[[nodiscard]] MigrationResult RecogniseNodeDirectoryFile(const char* path,
                                                         base::NodeDirectoryLayoutType* type) {
  *type = base::NodeDirectoryLayoutType::kUnrecognised;
  FileHandle file = OpenFile(path, "rb+");
  if (!file) return kMigrationReadError;
  const int64_t size = FileSize(*file);
  unsigned char header[base::kNodeHeaderSize];
  if (size < 0 || !ReadExactly(*file, header, sizeof header)) return kMigrationReadError;
  // Only read: a failing close cannot have changed the file, so it does not stop recognition.
  static_cast<void>(CloseFile(file));

  *type = base::RecogniseNodeDirectoryLayout(header, size);
  return kMigrationOk;
}

MigrationResult MigrateNodeDirectory(const char* instanceDir) {
  if (instanceDir == nullptr) return kMigrationCannotOpen;
  return NodeMigrationRun(instanceDir).Run();
}

}  // namespace qz7::migrate
