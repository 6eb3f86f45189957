#include "migrate/migration_steps.h"

#include <cstdio>

#include "util/setup_files.h"

namespace qz7::migrate {

using platform::FileHandle;
using platform::FileStream;

bool CloseFile(FileHandle& file) {
  if (!file) return true;
  const bool closed = file->Close() == 0;
  file.reset();
  return closed;
}

bool ReadExactly(FileStream& file, void* buffer, size_t size) {
  return size == 0 || file.Read(buffer, size) == size;
}

bool WriteExactly(FileStream& file, const void* data, size_t size) {
  return size == 0 || file.Write(data, size) == size;
}

const MigrationStep* MeasureFile(FileStream& file, const FileSizeSteps& steps, int64_t* size) {
  if (file.Seek(0, platform::kSeekEnd) != 0) return &steps.seekEnd;
  *size = file.Tell();
  if (*size < 0) return &steps.tell;
  if (file.Seek(0, platform::kSeekSet) != 0) return &steps.rewind;
  return nullptr;
}

int64_t FileSize(FileStream& file) {
  static constexpr FileSizeSteps kUnreported = {};
  int64_t size = -1;
  return MeasureFile(file, kUnreported, &size) == nullptr ? size : -1;
}

bool MigrationRun::CreateErrorFile(const std::string& path, size_t pathSize, const char* fileName,
                                   const char* instanceDir) {
  if (path.size() < pathSize) errorFile_ = platform::OpenFile(path.c_str(), "w+");
  if (errorFile_) return true;
  std::printf("Cannot create %s file on %s \n", fileName, instanceDir);
  std::fflush(stdout);
  return false;
}

MigrationResult MigrationRun::Fail(const char* key, const char* object, MigrationResult code) {
  WriteMigrationError(key, object, code, errorFile_.get());
  return code;
}

MigrationResult MigrationRun::ReadBackupHeader(FileStream& backup, const char* path,
                                               const BackupHeaderReadSteps& steps,
                                               unsigned char* header, size_t headerSize,
                                               int64_t* size) {
  if (const MigrationStep* failed = MeasureFile(backup, steps.size, size)) {
    return Fail(*failed, path);
  }
  if (!ReadExactly(backup, header, headerSize)) return Fail(steps.readHeader, path);
  return kMigrationOk;
}

MigrationResult MigrationRun::RewriteBackupHeader(FileHandle& backup, const char* path,
                                                  const unsigned char* header, size_t headerSize,
                                                  const BackupHeaderWriteSteps& steps) {
  if (backup->Seek(0, platform::kSeekSet) != 0) return Fail(steps.rewind, path);
  if (!WriteExactly(*backup, header, headerSize)) return Fail(steps.writeHeader, path);
  // The status is what the next run trusts: it reaches the disk before the step after it.
  if (backup->Sync() != 0 || !CloseFile(backup)) return Fail(steps.close, path);
  return kMigrationOk;
}

MigrationResult MigrationRun::PublishStagedBackup(FileHandle& staged, const char* stagedPath,
                                                  const char* backupPath,
                                                  int (*move)(const char* from, const char* to),
                                                  const StagedBackupSteps& steps) {
  // Whole on the disk before it takes the name that the next run restores from, and that
  // name on the disk before the files it backs up are rewritten.
  if (staged->Sync() != 0 || !CloseFile(staged)) return Fail(steps.close, stagedPath);
  if (move(stagedPath, backupPath) != 0 || !util::SyncFolderOf(backupPath)) {
    return Fail(steps.rename, kRenameFailedObject);
  }
  return kMigrationOk;
}

MigrationResult MigrationRun::CompleteBackup(FileHandle& backup, const char* backupPath,
                                             const char* permanentPath,
                                             const BackupHeaderForm& form,
                                             const BackupCompletionSteps& steps,
                                             std::initializer_list<const char*> converted) {
  // The converted files reach the disk before the backup stops being the one to restore.
  for (const char* path : converted) {
    if (util::IsKnownAbsent(path) == 0 && !util::SyncSetupFile(path)) {
      return Fail(steps.writeHeader.close, path);
    }
  }
  if (!util::SyncFolderOf(backupPath)) return Fail(steps.writeHeader.close, backupPath);
  backup = platform::OpenFile(backupPath, "rb+");
  if (!backup) return Fail(steps.open, backupPath);
  unsigned char header[kMaxBackupHeaderSize];
  if (!ReadExactly(*backup, header, form.size)) return Fail(steps.readHeader, backupPath);
  header[form.statusOffset] = static_cast<unsigned char>(form.completedStatus);
  if (MigrationResult code =
          RewriteBackupHeader(backup, backupPath, header, form.size, steps.writeHeader);
      code != kMigrationOk) {
    return code;
  }

  // Whatever stands at the permanent name gives way; the rename below tells whether it did.
  static_cast<void>(platform::SetFileWritable(permanentPath, true));
  static_cast<void>(platform::RemoveFile(permanentPath));
  if (platform::RenameFile(backupPath, permanentPath) != 0) {
    return Fail(steps.rename, kRenameFailedObject);
  }
  // The migration is complete; undone by a power cut, the rename leaves a complete backup
  // under the restoring name, from which the next run migrates again.
  static_cast<void>(util::SyncFolderOf(permanentPath));
  return kMigrationOk;
}

MigrationResult MigrationRun::ConverterResult(MigrationResult code, ConverterReport& report) {
  if (code == kMigrationOk) return kMigrationOk;
  report.key[kMigrationKeySize - 1] = '\0';
  report.object[kMigrationObjectSize - 1] = '\0';
  return Fail(report.key, report.object, code);
}

MigrationResult MigrationRun::CloseLeftOpen(MigrationResult result,
                                            std::initializer_list<LeftOpen> files) {
  bool closeFailed = false;
  for (const LeftOpen& file : files) {
    if (!CloseFile(*file.file)) {
      Fail(file.key, file.path, kMigrationCannotClose);
      closeFailed = true;
    }
  }
  // The error file is where failures are recorded; a failure to close it has nowhere to go.
  static_cast<void>(CloseFile(errorFile_));
  return result == kMigrationOk && closeFailed ? kMigrationCannotClose : result;
}

}  // namespace qz7::migrate
