// What the migration tests share: a throw-away machine with no fault planned and every work
// buffer allowed, helpers for bytes and error records, the files of an instance's database and
// node directories, and a call of a layout converter.
#ifndef QZ7_TESTS_MIGRATE_MIGRATE_FIXTURE_H_
#define QZ7_TESTS_MIGRATE_MIGRATE_FIXTURE_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "migrate/database_directory_migration.h"
#include "testkit/fault_injection.h"
#include "testkit/old_directory_entries.h"
#include "testkit/temp_machine.h"
#include "tools/sample/database_directory_builder.h"

namespace qz7::migrate::testing {

using Bytes = std::vector<unsigned char>;
using Texts = std::vector<std::string>;
using sample::DatabaseDirectoryBuilder;
using sample::DirectoryBackupBuilder;
using sample::DirectoryText;
using sample::IntentionFileBuilder;
using testkit::OldDirectoryBytes;
using testkit::OldEntryFields;
using Form = sample::DirectoryHeaderForm;

// The records of an error file: CR LF read as LF, records split at the empty line, the lines
// of each record joined; text after the last record ends in "<unterminated>".
Texts ErrorRecordsOf(const Bytes& errorFileBytes);

// A step of a migration that a failing file operation stops: the operation, the key and
// object of the record it writes and its code, which the run returns. When runCode is set the
// run returns that instead, and the step's record is the first of the run's records (a step
// that records its failure and goes on, or the message file's). A step without key writes no
// record.
struct FailingStep {
  const char* operation;
  const char* key;
  std::string object;
  MigrationResult code;
  MigrationResult runCode = 0;
};

// Walks a table of steps, in the order a run takes them, along a loop that fails every
// operation in turn: a failing run ends as the next step of the table, which the walk then
// stands at, or as the step it stands at (a step takes one operation or more). A run that ends
// with 0 rode its failure out and is passed over. Done when every step was seen.
class StepWalk {
 public:
  explicit StepWalk(std::vector<FailingStep> steps) : steps_(std::move(steps)) {}
  void Check(MigrationResult result, const Texts& records);
  ::testing::AssertionResult Done() const;

 private:
  std::vector<FailingStep> steps_;
  size_t reached_ = 0;  // the steps seen so far
};

// size bytes from offset on, fewer past the end.
Bytes Slice(const Bytes& bytes, size_t offset, size_t size);
// Equal bytes; a difference is told by the sizes and the first offset that differs.
::testing::AssertionResult SameBytes(const Bytes& got, const Bytes& want);
// Two patterns that together tell every byte of an old record from every other: byte i is
// 1 + (i + 58) % 251 in the first (offset 38, a drive letter, holds a lower-case 'a') and
// 252 + i / 251 in the second. Neither holds a zero, so every text is carried to its width,
// and no byte is the same in both, so a byte taken from the wrong place shows in one of them.
inline Bytes Pattern(size_t size, int which) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<unsigned char>(which == 0 ? 1 + (i + 58) % 251 : 252 + i / 251);
  }
  return bytes;
}

class MachineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  void Put(const std::string& path, const Bytes& bytes) const { machine_.WriteFile(path, bytes); }
  Bytes Get(const std::string& path) const { return machine_.ReadFile(path); }
  bool Exists(const std::string& path) const { return machine_.Exists(path); }
  void Remove(const std::string& path) const;

  // The stopped-anywhere loops run hundreds of migrations: the machine lies in memory where
  // the host allows it.
  testkit::MemoryTempFolder memoryFolder_;
  testkit::TempMachine machine_;
};

// The database directory.
inline constexpr const char* kInstance = "C:\\QZ7PROF\\QZ7";
inline constexpr const char* kInstall = "C:\\QZ7";
inline constexpr const char* kFolder = "C:\\QZ7PROF\\QZ7\\SQLDBDIR";
inline constexpr const char* kDirectory = "C:\\QZ7PROF\\QZ7\\SQLDBDIR\\SQLDBDIR";
inline constexpr const char* kCopy = "C:\\QZ7PROF\\QZ7\\SQLDBDIR\\SQLDBBAK";
inline constexpr const char* kIntention = "C:\\QZ7PROF\\QZ7\\SQLDBDIR\\SQLDBINS";
inline constexpr const char* kBackup = "C:\\QZ7PROF\\QZ7\\SQLDBDIR\\SQLDDDIR.TMP";
inline constexpr const char* kPermanent = "C:\\QZ7PROF\\QZ7\\SQLDBDIR\\SQLDDDIR.BAK";
inline constexpr const char* kReport = "C:\\QZ7PROF\\QZ7\\SQLDBDIR\\SQLDDDIR.RPT";
inline constexpr const char* kErrorFile = "C:\\QZ7PROF\\QZ7\\QZ7MGDBD.ERR";

// The directory folder of the instance, the message text file of its installation with the
// message texts loaded, and drive D: for local databases.
class DirectoryFolderTest : public MachineTest {
 protected:
  void SetUp() override;

  Texts ErrorRecords() const { return ErrorRecordsOf(Get(kErrorFile)); }
  void ClearDirectoryFolder() const;  // and the error file
  void PutDirectory(const Bytes& bytes) const {
    Put(kDirectory, bytes);
    Put(kCopy, bytes);
  }

  // What a layout converter returned, left and wrote to the error file.
  struct Outcome {
    MigrationResult code = 0;
    std::string key, object;
    Texts records;
  };
  // Runs the converter of layout with the short-header flag (ignored by layout 4) on the
  // instance's files.
  Outcome Convert(int layout, int shortHeader, bool directoryExists = true);
};

// The node directory.
namespace node {
inline constexpr const char* kInstance = "C:\\QZ7\\INST1";
inline constexpr const char* kFolder = "C:\\QZ7\\INST1\\SQLNODIR";
inline constexpr const char* kFile = "C:\\QZ7\\INST1\\SQLNODIR\\SQLNODIR";
inline constexpr const char* kCopy = "C:\\QZ7\\INST1\\SQLNODIR\\SQLNOBAK";
inline constexpr const char* kTmp = "C:\\QZ7\\INST1\\SQLNODIR\\SQLNDDIR.TMP";
inline constexpr const char* kBak = "C:\\QZ7\\INST1\\SQLNODIR\\SQLNDDIR.BAK";
inline constexpr const char* kStaging = "C:\\QZ7\\INST1\\SQLNODIR\\SQLNDDIR.NEW";
inline constexpr const char* kErrorFile = "C:\\QZ7\\INST1\\QZ7MGNDD.ERR";
inline constexpr const char* kDatabaseDir = "C:\\QZ7\\INST1\\SQLDBDIR\\SQLDBDIR";
inline constexpr const char* kDcsDir = "C:\\QZ7\\INST1\\SQLGWDIR\\SQLGWDIR";

class NodeDirectoryTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    ClearInstance();
  }
  // No node directory files, no error file, no database directories.
  void ClearInstance() const {
    Remove(kInstance);
    machine_.MakeDirectory(kFolder);
  }
  Texts ErrorRecords() const { return ErrorRecordsOf(Get(kErrorFile)); }
  // The data that a backup file holds after its 85-byte header.
  static Bytes BackupData(const Bytes& backup) { return Slice(backup, 85, backup.size()); }
};

}  // namespace node
}  // namespace qz7::migrate::testing

#endif  // QZ7_TESTS_MIGRATE_MIGRATE_FIXTURE_H_
