// What the directory entry conversion tests share: an instance directory on a throw-away
// machine with drive D: for local databases, the message texts loaded, a converter call that
// collects its outcome and the error records it wrote, and a reader for current-layout files.
#ifndef QZ7_TESTS_MIGRATE_DIRECTORY_CONVERSION_FIXTURE_H_
#define QZ7_TESTS_MIGRATE_DIRECTORY_CONVERSION_FIXTURE_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "migrate/migration_report.h"
#include "platform/fault_injection.h"
#include "testkit/database_directory_builder.h"
#include "testkit/old_directory_entries.h"
#include "testkit/temp_machine.h"

namespace qz7::migrate::conversion_testing {

using Bytes = std::vector<unsigned char>;
using testkit::DirectoryHeaderForm;

inline constexpr const char* kInstance = "C:\\QZ7PROF\\QZ7";
inline constexpr const char* kInstall = "C:\\QZ7";
inline constexpr const char* kFolder = "C:\\QZ7PROF\\QZ7\\SQLDBDIR";
inline constexpr const char* kDirectory = "C:\\QZ7PROF\\QZ7\\SQLDBDIR\\SQLDBDIR";
inline constexpr const char* kCopy = "C:\\QZ7PROF\\QZ7\\SQLDBDIR\\SQLDBBAK";
inline constexpr const char* kIntention = "C:\\QZ7PROF\\QZ7\\SQLDBDIR\\SQLDBINS";
inline constexpr const char* kReport = "C:\\QZ7PROF\\QZ7\\SQLDBDIR\\SQLDDDIR.RPT";
inline constexpr const char* kErrorFile = "C:\\QZ7PROF\\QZ7\\QZ7MGDBD.ERR";

struct ConversionOutcome {
  MigrationResult code = 0;
  std::string key;
  std::string object;
  std::vector<std::string> records;  // what the converter wrote to the error file itself
  uint64_t operations = 0;           // file operations the converter counted
};

// A current-layout directory file read back by its fields.
struct CurrentFileView {
  bool sizeMatches = false;  // 212 + 2 x slots + 720 x entries bytes
  std::string signature;
  uint16_t marker = 0, entryCount = 0, secondCount = 0, slotCount = 0;
  uint32_t headerValue = 0;
  uint16_t blockValue = 0;
  std::vector<uint32_t> buckets;
  std::vector<Bytes> entries;
  std::vector<uint16_t> slots;
  uint32_t closingValue = 0;
};
CurrentFileView ReadCurrentFile(const Bytes& bytes);

// The 720 bytes a converted entry must have for old fields of a layout (type '1' entries,
// nothing completed from local databases).
Bytes ExpectedConvertedEntry(int layout, DirectoryHeaderForm form,
                             const testkit::OldEntryFields& fields);

std::string TextAt(const Bytes& bytes, size_t offset, size_t width);

class DirectoryConversionTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs the converter of layout with the short-header flag (ignored by layout 4), with an
  // error file of its own; fault_, when set, is in force for the converter's operations only.
  ConversionOutcome Convert(int layout, int shortHeader, bool directoryExists = true,
                            bool copyExists = true);

  void Put(const char* path, const Bytes& bytes) const { machine_.WriteFile(path, bytes); }
  Bytes Get(const char* path) const { return machine_.ReadFile(path); }
  bool Exists(const char* path) const { return machine_.Exists(path); }
  void Remove(const char* path) const;
  // The old directory in both the directory file and its copy.
  void PutDirectory(const Bytes& bytes) const {
    Put(kDirectory, bytes);
    Put(kCopy, bytes);
  }

  testkit::TempMachine machine_;
  std::optional<platform::FaultPlan> fault_;
};

}  // namespace qz7::migrate::conversion_testing

#endif  // QZ7_TESTS_MIGRATE_DIRECTORY_CONVERSION_FIXTURE_H_
