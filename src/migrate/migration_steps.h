// The file steps that the two directory migrations share: the system database directory and
// the node directory drivers keep their old files in a migration backup of the same scheme (a
// header with a status byte, then the old bytes), restore from it after an interrupted run,
// write it under a staging name before moving it into place, and complete it once the
// conversion has succeeded. The drivers report the same step under different message keys and
// result codes, so every step that can fail is handed in as a MigrationStep.
#ifndef QZ7_MIGRATE_MIGRATION_STEPS_H_
#define QZ7_MIGRATE_MIGRATION_STEPS_H_

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "migrate/migration_report.h"
#include "platform/file_system.h"

namespace qz7::migrate {

// A step that can fail: the key of the error record it writes and the code it returns.
struct MigrationStep {
  const char* key;
  MigrationResult code;
};

// The object of the error record of a migration backup that cannot be moved into place.
constexpr const char* kRenameFailedObject = "Rename file failed";

// Closes a file that a run opened, once; false when the close failed. A file that is not open
// counts as closed.
[[nodiscard]] bool CloseFile(platform::FileHandle& file);

// Read or write exactly size bytes; for size 0 nothing is done (no file operation) and the
// result is true.
[[nodiscard]] bool ReadExactly(platform::FileStream& file, void* buffer, size_t size);
[[nodiscard]] bool WriteExactly(platform::FileStream& file, const void* data, size_t size);

// Finding the size of an open file: seek to its end, tell the position, rewind to the start.
struct FileSizeSteps {
  MigrationStep seekEnd;
  MigrationStep tell;
  MigrationStep rewind;
};

// Takes the three steps in order and stops at the first that fails. Returns that step, or null
// when the size was found. *size gets the told position once the tell has been made (negative
// when the tell failed) and is left as it was before that.
[[nodiscard]] const MigrationStep* MeasureFile(platform::FileStream& file,
                                               const FileSizeSteps& steps, int64_t* size);

// The size of an open file by the same three steps, the file left at its start; -1 when any of
// them fails.
int64_t FileSize(platform::FileStream& file);

// The header of a migration backup: its size, where its status byte lies and the status that
// marks the conversion completed.
struct BackupHeaderForm {
  size_t size;
  size_t statusOffset;
  char completedStatus;
};
constexpr size_t kMaxBackupHeaderSize = 96;

// Reading a migration backup's size and header before restoring from it.
struct BackupHeaderReadSteps {
  FileSizeSteps size;
  MigrationStep readHeader;
};

// Writing a changed header back over the old one and closing the backup.
struct BackupHeaderWriteSteps {
  MigrationStep rewind;
  MigrationStep writeHeader;
  MigrationStep close;
};

// Moving a staged backup, once whole, to the name of the migration backup.
struct StagedBackupSteps {
  MigrationStep close;
  MigrationStep rename;  // object kRenameFailedObject
};

// Marking the migration backup complete and keeping it as the permanent backup.
struct BackupCompletionSteps {
  MigrationStep open;
  MigrationStep readHeader;
  BackupHeaderWriteSteps writeHeader;
  MigrationStep rename;  // object kRenameFailedObject
};

// The key and object that a converter leaves for its failure.
struct ConverterReport {
  char key[kMigrationKeySize] = {};
  char object[kMigrationObjectSize] = {};
};

// What a migration driver's run is built on: its error file, and the shared steps. Each step
// that fails writes one error record (key, object, code) to the error file and returns the
// code; files stay open in the handles the caller passed, so that its clean-up closes them.
class MigrationRun {
 protected:
  // Creates (or truncates) the error file at path, "w+"; a path of pathSize characters or
  // more is not tried. When the file cannot be had, writes "Cannot create FILENAME file on
  // INSTANCEDIR \n" to standard output and returns false.
  bool CreateErrorFile(const std::string& path, size_t pathSize, const char* fileName,
                       const char* instanceDir);

  MigrationResult Fail(const char* key, const char* object, MigrationResult code);
  MigrationResult Fail(const MigrationStep& step, const char* object) {
    return Fail(step.key, object, step.code);
  }

  // Finds the size of the open backup at path into *size, rewinds and reads its header of
  // headerSize bytes. Object of every failure: path.
  [[nodiscard]] MigrationResult ReadBackupHeader(platform::FileStream& backup, const char* path,
                                                 const BackupHeaderReadSteps& steps,
                                                 unsigned char* header, size_t headerSize,
                                                 int64_t* size);

  // Writes header over the first headerSize bytes of the backup at path and closes it.
  // Object of every failure: path.
  [[nodiscard]] MigrationResult RewriteBackupHeader(platform::FileHandle& backup, const char* path,
                                                    const unsigned char* header, size_t headerSize,
                                                    const BackupHeaderWriteSteps& steps);

  // Syncs and closes the staged backup (object stagedPath) and moves it to backupPath with
  // move (a rename, which fails when backupPath exists, or a replace of it), then syncs the
  // folder, so that the backup is whole on the disk under its name before anything it backs
  // up is rewritten.
  [[nodiscard]] MigrationResult PublishStagedBackup(platform::FileHandle& staged,
                                                    const char* stagedPath, const char* backupPath,
                                                    int (*move)(const char* from, const char* to),
                                                    const StagedBackupSteps& steps);

  // Makes the converted files (those of converted that exist) and the names of their folder
  // durable first: until the backup is complete they can be had again from it. Then marks the
  // migration backup at backupPath complete and keeps it as permanentPath: opens it
  // "rb+" into backup, reads its header, sets the completed status, writes the header back and
  // closes it; then removes an older permanentPath (a failure is not reported: the rename that
  // follows fails instead), renames the backup and syncs the folder (a failure of that sync is
  // not reported: the migration is complete). Object of the failures: backupPath (a converted
  // file that cannot be synced: its path, under the key of the close), but kRenameFailedObject
  // for the rename. After a failure the backup stays where it is.
  [[nodiscard]] MigrationResult CompleteBackup(platform::FileHandle& backup, const char* backupPath,
                                               const char* permanentPath,
                                               const BackupHeaderForm& form,
                                               const BackupCompletionSteps& steps,
                                               std::initializer_list<const char*> converted);

  // A converter's result: 0 as it is; a failure is recorded with the key and object the
  // converter left, each cut to its buffer.
  [[nodiscard]] MigrationResult ConverterResult(MigrationResult code, ConverterReport& report);

  // A file that may still be open on the way out, and the key its failing close is recorded
  // under (code -104, object path).
  struct LeftOpen {
    platform::FileHandle* file;
    const char* key;
    const char* path;
  };
  // Closes every file still open, in order, recording each failing close without stopping,
  // then the error file. Returns result, or -104 when result is 0 and a close failed.
  [[nodiscard]] MigrationResult CloseLeftOpen(MigrationResult result,
                                              std::initializer_list<LeftOpen> files);

  platform::FileHandle errorFile_;
};

}  // namespace qz7::migrate

#endif  // QZ7_MIGRATE_MIGRATION_STEPS_H_
