#include "migrate/database_directory_migration.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "base/directory_layout.h"
#include "base/fixed_text.h"
#include "migrate/directory_entry_conversion.h"
#include "migrate/directory_recognition.h"
#include "migrate/migration_steps.h"
#include "migrate/work_buffer.h"
#include "platform/win_error.h"
#include "util/setup_files.h"

namespace qz7::migrate {
namespace {

using platform::FileHandle;
using platform::OpenFile;

constexpr size_t kPathSize = platform::kMaxPath;
constexpr size_t kMessagePathSize = 256;
using PathText = base::FixedText<kPathSize>;

constexpr const char* kDirectoryObject = "Database directory";

// The longest name that follows the instance directory: "\SQLDBDIR\SQLDDDIR.TMP".
constexpr size_t kLongestInstanceSuffix = 22;

// The keys and codes of the steps on SQLDDDIR.TMP that migration_steps.h takes.
constexpr BackupHeaderReadSteps kRestoreReadSteps = {
    .size = {.seekEnd = {"MAIN005", kMigrationAccessError},
             .tell = {"MAIN006", kMigrationAccessError},
             .rewind = {"MAIN007", kMigrationAccessError}},
    .readHeader = {"MAIN008", kMigrationAccessError},
};
constexpr BackupHeaderWriteSteps kRestoreWriteSteps = {
    .rewind = {"MAIN013", kMigrationAccessError},
    .writeHeader = {"MAIN014", kMigrationAccessError},
    .close = {"MAIN015", kMigrationCannotClose},
};
constexpr StagedBackupSteps kStagedBackupSteps = {
    .close = {"MAIN042", kMigrationCannotClose},
    .rename = {"MAIN061", kMigrationRenameFailed},
};
constexpr BackupCompletionSteps kCompletionSteps = {
    .open = {"MAIN052", kMigrationAccessError},
    .readHeader = {"MAIN053", kMigrationAccessError},
    .writeHeader = {.rewind = {"MAIN054", kMigrationAccessError},
                    .writeHeader = {"MAIN055", kMigrationAccessError},
                    .close = {"MAIN056", kMigrationCannotClose}},
    .rename = {"MAIN061", kMigrationRenameFailed},
};
constexpr BackupHeaderForm kBackupForm = {
    .size = base::kBackupHeaderSize,
    .statusOffset = base::BackupHeaderOffset<&base::DirectoryBackupHeader::status>(),
    .completedStatus = base::kBackupStatusComplete,
};
static_assert(base::kBackupHeaderSize <= kMaxBackupHeaderSize);

class DirectoryMigrationRun : private MigrationRun {
 public:
  DirectoryMigrationRun(const char* instanceDir, const char* installDir,
                        const DirectoryConverters& converters)
      : instanceDir_(instanceDir), installDir_(installDir), converters_(converters) {}

  [[nodiscard]] MigrationResult Run() {
    if (!PathsFit()) return kMigrationCannotOpen;
    const std::string errorPath =
        std::string(instanceDir_) + "\\" + kDatabaseMigrationErrorFileName;
    // Without an error file the run goes on as far as telling whether there is a directory.
    CreateErrorFile(errorPath, kPathSize, kDatabaseMigrationErrorFileName, instanceDir_);
    return CleanUp(Migrate());
  }

 private:
  bool PathsFit() const {
    return instanceDir_ != nullptr && installDir_ != nullptr &&
           std::strlen(instanceDir_) + kLongestInstanceSuffix < kPathSize &&
           std::strlen(installDir_) + std::strlen(kMigrationMessageFileSubpath) < kMessagePathSize;
  }

  void BuildPaths() {
    messagePath_ = (std::string(installDir_) + kMigrationMessageFileSubpath).c_str();
    const std::string base = std::string(instanceDir_) + "\\" + kDirectoryFolderName + "\\";
    directoryPath_ = (base + kDirectoryFileName).c_str();
    copyPath_ = (base + kDirectoryCopyName).c_str();
    intentionPath_ = (base + kIntentionFileName).c_str();
    backupPath_ = (base + kMigrationBackupName).c_str();
    permanentPath_ = (base + kPermanentBackupName).c_str();
    stagedPath_ = (base + kStagedBackupName).c_str();
  }

  [[nodiscard]] MigrationResult Migrate() {
    BuildPaths();
    if (LoadMigrationMessages(messagePath_.c_str()) != kMigrationOk) {
      Fail("MAIN001", kMigrationMessageFileObject, kMigrationMessageFileMissing);
      std::printf("Message text file 'qz7dbmig.txt' not found \n");
      std::fflush(stdout);
      return kMigrationCannotClose;
    }

    // An unfinished migration left its backup behind: the directory comes back from it.
    backup_ = OpenFile(backupPath_.c_str(), "rb+");
    if (backup_) {
      if (MigrationResult code = RestoreFromBackup(); code != kMigrationOk) return code;
      restored_ = true;
      directoryExists_ = true;
      copyExists_ = true;
    } else {
      DirectoryCopiesComparison comparison;
      // The bytes read for the comparison serve the backup and the conversion as well.
      const MigrationResult code = CompareDirectoryCopies(directoryPath_.c_str(), copyPath_.c_str(),
                                                          &comparison, &directoryBuffer_);
      if (code != kMigrationOk) return Fail("MAIN022", comparison.object.c_str(), code);
      directoryExists_ = comparison.directoryExists;
      copyExists_ = comparison.copyExists;
      sizeToConvert_ = comparison.sizeToConvert;
    }

    if (!directoryExists_ && !copyExists_) return kMigrationOk;
    if (!errorFile_) return kMigrationErrorFileNotCreated;

    const char* recognisedPath = directoryExists_ ? directoryPath_.c_str() : copyPath_.c_str();
    DirectoryRecognition recognition;
    if (MigrationResult code = RecogniseDirectoryFile(recognisedPath, &recognition);
        code != kMigrationOk) {
      return Fail(directoryExists_ ? "MAIN023" : "MAIN024", recognisedPath, code);
    }
    if (recognition.type == base::DirectoryLayoutType::kCurrent) return kMigrationOk;
    if (recognition.type == base::DirectoryLayoutType::kUnrecognised) {
      return Fail("MAIN025", kDirectoryObject, kMigrationUnrecognizedFile);
    }

    intention_ = OpenFile(intentionPath_.c_str(), "rb+");
    if (!intention_ && !recognition.intentionOptional) {
      return Fail("MAIN026", intentionPath_.c_str(), kMigrationIntentionFileMissing);
    }
    if (!intention_ && !platform::IsMissingError(platform::GetLastError())) {
      return Fail("MAIN026", intentionPath_.c_str(), kMigrationCannotOpen);
    }
    if (!CloseFile(intention_)) {
      return Fail("MAIN027", intentionPath_.c_str(), kMigrationCannotClose);
    }

    if (!restored_) {
      if (MigrationResult code = MakeBackup(recognition); code != kMigrationOk) return code;
    }
    if (recognition.type == base::DirectoryLayoutType::kEmpty) return RebuildEmptyDirectory();
    if (MigrationResult code = Convert(recognition); code != kMigrationOk) return code;
    // The backup, marked complete, becomes SQLDDDIR.BAK in place of an older one.
    return CompleteBackup(backup_, backupPath_.c_str(), permanentPath_.c_str(), kBackupForm,
                          kCompletionSteps,
                          {directoryPath_.c_str(), copyPath_.c_str(), intentionPath_.c_str()});
  }

  // Puts the directory file, its copy and the intention file back as the backup holds them.
  // The backup is read and marked unfinished before any of the three is touched, so that a
  // run stopped in the middle finds the backup intact.
  [[nodiscard]] MigrationResult RestoreFromBackup() {
    const char* backup = backupPath_.c_str();
    int64_t size = 0;
    unsigned char headerBytes[base::kBackupHeaderSize];
    if (MigrationResult code = ReadBackupHeader(*backup_, backup, kRestoreReadSteps, headerBytes,
                                                base::kBackupHeaderSize, &size);
        code != kMigrationOk) {
      return code;
    }
    const base::DirectoryBackupHeader header = base::DecodeBackupHeader(headerBytes);
    if (!base::IsValidBackupHeader(header)) return Fail("MAIN009", backup, kMigrationBadBackup);

    const int64_t directoryLength = base::BackupDirectoryLength(header);
    const int64_t intentionLength =
        size - static_cast<int64_t>(base::kBackupHeaderSize) - directoryLength;
    if (directoryLength > 0 && intentionLength >= 0) {
      directoryBuffer_ = AllocateReadBuffer(static_cast<size_t>(directoryLength));
      intentionBuffer_ = AllocateReadBuffer(static_cast<size_t>(intentionLength));
    }
    if (!directoryBuffer_ || !intentionBuffer_) {
      return Fail("MAIN010", "", kMigrationNoMemory);
    }
    const size_t directorySize = static_cast<size_t>(directoryLength);
    const size_t intentionSize = static_cast<size_t>(intentionLength);
    if (backup_->Read(directoryBuffer_.get(), directorySize) != directorySize) {
      return Fail("MAIN011", backup, kMigrationAccessError);
    }
    if (intentionSize > 0 &&
        backup_->Read(intentionBuffer_.get(), intentionSize) != intentionSize) {
      return Fail("MAIN012", backup, kMigrationAccessError);
    }

    if (header.status == base::kBackupStatusComplete) {
      base::StoreBackupStatus(headerBytes, base::kBackupStatusIncomplete);
    }
    if (MigrationResult code = RewriteBackupHeader(backup_, backup, headerBytes,
                                                   base::kBackupHeaderSize, kRestoreWriteSteps);
        code != kMigrationOk) {
      return code;
    }

    directory_ = OpenFile(directoryPath_.c_str(), "wb+");
    if (!directory_) return Fail("MAIN002", directoryPath_.c_str(), kMigrationCannotOpen);
    copy_ = OpenFile(copyPath_.c_str(), "wb+");
    if (!copy_) return Fail("MAIN003", copyPath_.c_str(), kMigrationCannotOpen);
    intention_ = OpenFile(intentionPath_.c_str(), "wb+");
    if (!intention_) return Fail("MAIN004", intentionPath_.c_str(), kMigrationCannotOpen);
    if (directory_->Write(directoryBuffer_.get(), directorySize) != directorySize) {
      return Fail("MAIN016", directoryPath_.c_str(), kMigrationWriteError);
    }
    if (copy_->Write(directoryBuffer_.get(), directorySize) != directorySize) {
      return Fail("MAIN017", copyPath_.c_str(), kMigrationWriteError);
    }
    if (intentionSize > 0 &&
        intention_->Write(intentionBuffer_.get(), intentionSize) != intentionSize) {
      return Fail("MAIN018", intentionPath_.c_str(), kMigrationWriteError);
    }
    // The directory's bytes stay for the conversion, which then need not read them again.
    sizeToConvert_ = directoryLength;
    intentionBuffer_.reset();
    // The backup still holds everything, so a failed close is recorded and the run goes on.
    if (!CloseFile(directory_)) Fail("MAIN019", directoryPath_.c_str(), kMigrationCannotClose);
    if (!CloseFile(copy_)) Fail("MAIN020", copyPath_.c_str(), kMigrationCannotClose);
    if (!CloseFile(intention_)) Fail("MAIN021", intentionPath_.c_str(), kMigrationCannotClose);
    return kMigrationOk;
  }

  // Writes the migration backup: its header with status "I", the directory file (or the copy
  // when the directory file is missing) and the intention file when there is one. The header
  // is written again at the end with the offsets of the directory copy. It is written under
  // the staged name and becomes SQLDDDIR.TMP in one rename once complete.
  [[nodiscard]] MigrationResult MakeBackup(const DirectoryRecognition& recognition) {
    const char* backup = stagedPath_.c_str();
    backup_ = OpenFile(backup, "wb+");
    if (!backup_) return Fail("MAIN028", backup, kMigrationCannotOpen);
    base::DirectoryBackupHeader header;
    header.signature = base::kBackupSignature;
    header.layoutName = base::DirectoryLayoutName(recognition.type);
    header.releaseLabel = base::kBackupReleaseLabel;
    header.status = base::kBackupStatusIncomplete;
    unsigned char headerBytes[base::kBackupHeaderSize];
    base::EncodeBackupHeader(header, headerBytes);
    if (backup_->Write(headerBytes, base::kBackupHeaderSize) != base::kBackupHeaderSize) {
      return Fail("MAIN029", backup, kMigrationAccessError);
    }

    // The comparison read the file to convert (the directory file, or the copy when there is
    // none) whole; those bytes go into the backup and stay for the conversion.
    const size_t sourceSize = static_cast<size_t>(sizeToConvert_);
    if (!directoryBuffer_) return Fail("MAIN032", "", kMigrationNoMemory);

    const int64_t start = backup_->Tell();
    if (start < 0 || backup_->Write(directoryBuffer_.get(), sourceSize) != sourceSize) {
      return Fail("MAIN034", backup, kMigrationAccessError);
    }
    const int64_t end = backup_->Tell();
    if (end < 0) return Fail("MAIN034", backup, kMigrationAccessError);

    const char* intention = intentionPath_.c_str();
    intention_ = OpenFile(intention, "rb+");
    if (intention_) {
      const int64_t intentionSize = FileSize(*intention_);
      if (intentionSize < 0) return Fail("MAIN036", intention, kMigrationReadError);
      const size_t length = static_cast<size_t>(intentionSize);
      intentionBuffer_ = AllocateReadBuffer(length);
      if (!intentionBuffer_) return Fail("MAIN035", "", kMigrationNoMemory);
      if (intention_->Read(intentionBuffer_.get(), length) != length) {
        return Fail("MAIN036", intention, kMigrationReadError);
      }
      if (length > 0 && backup_->Write(intentionBuffer_.get(), length) != length) {
        return Fail("MAIN037", backup, kMigrationWriteError);
      }
      if (!CloseFile(intention_)) return Fail("MAIN038", intention, kMigrationCannotClose);
      intentionBuffer_.reset();
    } else if (!recognition.intentionOptional ||
               !platform::IsMissingError(platform::GetLastError())) {
      // An optional intention file may be left out of the backup only when it is known not
      // to exist: one that could not be opened for another reason would be converted later
      // without its old contents kept anywhere.
      return Fail("MAIN039", intention, kMigrationCannotOpen);
    }

    if (backup_->Seek(0, platform::kSeekSet) != 0) {
      return Fail("MAIN040", backup, kMigrationFileAccessError);
    }
    header.directoryStart = static_cast<uint32_t>(start);
    header.directoryEnd = static_cast<uint32_t>(end);
    EncodeBackupHeader(header, headerBytes);
    if (backup_->Write(headerBytes, base::kBackupHeaderSize) != base::kBackupHeaderSize) {
      return Fail("MAIN041", backup, kMigrationWriteError);
    }
    return PublishStagedBackup(backup_, backup, backupPath_.c_str(), platform::ReplaceFile,
                               kStagedBackupSteps);
  }

  // An old directory without entries becomes the empty directory of the current layout. Its
  // SQLDDDIR.TMP stays: the next run restores the old files and builds them again.
  [[nodiscard]] MigrationResult RebuildEmptyDirectory() {
    directoryBuffer_.reset();
    const char* directory = directoryPath_.c_str();
    directory_ = OpenFile(directory, "wb+");
    copy_ = OpenFile(copyPath_.c_str(), "wb+");
    if (!directory_ || !copy_) return Fail("MAIN043", directory, kMigrationCannotOpen);

    unsigned char header[base::kLongHeaderSize];
    base::EncodeEmptyCurrentHeader(header);
    const unsigned char block[base::kLongBlockSize] = {};
    const unsigned char closing[base::kClosingFieldSize] = {};
    const struct {
      const char* key;
      const unsigned char* bytes;
      size_t size;
    } pieces[] = {{"MAIN044", header, sizeof header},
                  {"MAIN045", block, sizeof block},
                  {"MAIN046", closing, sizeof closing}};
    for (const auto& piece : pieces) {
      const bool toDirectory = directory_->Write(piece.bytes, piece.size) == piece.size;
      const bool toCopy = copy_->Write(piece.bytes, piece.size) == piece.size;
      if (!toDirectory || !toCopy) return Fail(piece.key, directory, kMigrationWriteError);
    }

    const char* intention = intentionPath_.c_str();
    intention_ = OpenFile(intention, "wb+");
    if (!intention_) return Fail("MAIN047", intention, kMigrationCannotOpen);
    const unsigned char emptyIntention[base::kIntentionFileSize] = {};
    if (intention_->Write(emptyIntention, sizeof emptyIntention) != sizeof emptyIntention) {
      return Fail("MAIN048", intention, kMigrationWriteError);
    }
    // The rebuilt files are on the disk, data and names, when the migration reports success:
    // the caller goes on to rely on them. A file that cannot be synced is reported as the
    // close that could not hand its data over.
    if (intention_->Sync() != 0 || !CloseFile(intention_)) {
      return Fail("MAIN049", intention, kMigrationCannotClose);
    }
    if (directory_->Sync() != 0 || !CloseFile(directory_)) {
      return Fail("MAIN050", directory, kMigrationCannotClose);
    }
    if (copy_->Sync() != 0 || !CloseFile(copy_)) {
      return Fail("MAIN051", copyPath_.c_str(), kMigrationCannotClose);
    }
    if (!util::SyncFolderOf(directory)) return Fail("MAIN050", directory, kMigrationCannotClose);
    return kMigrationOk;
  }

  [[nodiscard]] MigrationResult Convert(const DirectoryRecognition& recognition) {
    ConverterReport report;
    const int shortHeader = recognition.shortHeader ? 1 : 0;
    ShortHeaderDirectoryConverter convert = nullptr;
    switch (recognition.type) {
      case base::DirectoryLayoutType::kLayout1:
        convert = converters_.type1;
        break;
      case base::DirectoryLayoutType::kLayout2:
        convert = converters_.type2;
        break;
      case base::DirectoryLayoutType::kLayout3:
        convert = converters_.type3;
        break;
      default:
        break;
    }
    MigrationResult code;
    if (directoryBuffer_ && UsesOwnConverter(recognition.type)) {
      code = ConvertDirectoryBytes(
          recognition.type, directoryExists_, shortHeader, directoryPath_.c_str(),
          copyPath_.c_str(), intentionPath_.c_str(), directoryBuffer_,
          static_cast<size_t>(sizeToConvert_), report.key, report.object, errorFile_.get());
      directoryBuffer_.reset();
    } else if (recognition.type == base::DirectoryLayoutType::kLayout4 &&
               converters_.type4 != nullptr) {
      code = converters_.type4(directoryExists_, copyExists_, directoryPath_.c_str(),
                               copyPath_.c_str(), intentionPath_.c_str(), report.key, report.object,
                               errorFile_.get());
    } else if (convert != nullptr) {
      code = convert(directoryExists_, copyExists_, shortHeader, directoryPath_.c_str(),
                     copyPath_.c_str(), intentionPath_.c_str(), report.key, report.object,
                     errorFile_.get());
    } else {
      return Fail("MAIN025", kDirectoryObject, kMigrationUnrecognizedFile);
    }
    return ConverterResult(code, report);
  }

  // True when the converter for type is the library's own, which can take the bytes the run
  // has read already; a converter of the caller's choosing is called with the paths alone.
  bool UsesOwnConverter(base::DirectoryLayoutType type) const {
    switch (type) {
      case base::DirectoryLayoutType::kLayout1:
        return converters_.type1 == ConvertDirectoryType1;
      case base::DirectoryLayoutType::kLayout2:
        return converters_.type2 == ConvertDirectoryType2;
      case base::DirectoryLayoutType::kLayout3:
        return converters_.type3 == ConvertDirectoryType3;
      case base::DirectoryLayoutType::kLayout4:
        return converters_.type4 == ConvertDirectoryType4;
      default:
        return false;
    }
  }

  // Closes what is still open on the way out, whatever way that is.
  [[nodiscard]] MigrationResult CleanUp(MigrationResult result) {
    directoryBuffer_.reset();
    intentionBuffer_.reset();
    return CloseLeftOpen(result, {{&intention_, "MAIN057", intentionPath_.c_str()},
                                  {&directory_, "MAIN058", directoryPath_.c_str()},
                                  {&copy_, "MAIN059", copyPath_.c_str()},
                                  {&backup_, "MAIN060", backupPath_.c_str()}});
  }

  const char* instanceDir_;
  const char* installDir_;
  const DirectoryConverters& converters_;

  base::FixedText<kMessagePathSize> messagePath_;
  PathText directoryPath_;
  PathText copyPath_;
  PathText intentionPath_;
  PathText backupPath_;
  PathText permanentPath_;
  PathText stagedPath_;

  FileHandle intention_;
  FileHandle directory_;
  FileHandle copy_;
  FileHandle backup_;
  std::unique_ptr<unsigned char[]> directoryBuffer_;
  std::unique_ptr<unsigned char[]> intentionBuffer_;

  bool directoryExists_ = false;
  bool copyExists_ = false;
  bool restored_ = false;
  int64_t sizeToConvert_ = 0;
};

}  // namespace

[[nodiscard]] MigrationResult MigrateDatabaseDirectory(const char* instanceDir,
                                                       const char* installDir,
                                                       const DirectoryConverters& converters) {
  return DirectoryMigrationRun(instanceDir, installDir, converters).Run();
}

}  // namespace qz7::migrate
