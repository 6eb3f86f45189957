// What the directory entry conversion tests share: the instance of the migration tests
// (directory_migration_fixture.h) with drive D: for local databases and the message texts
// loaded, a converter call that collects its outcome and the error records it wrote, and a
// reader for current-layout files.
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
#include "tests/migrate/directory_migration_fixture.h"

namespace qz7::migrate::conversion_testing {

using testing::Bytes;
using testkit::DatabaseDirectoryBuilder;
using testkit::DirectoryHeaderForm;
using testkit::DirectoryText;
using testkit::IntentionFileBuilder;
using testkit::OldDirectoryBytes;
using testkit::OldEntryFields;

inline constexpr DirectoryHeaderForm kShort = DirectoryHeaderForm::kShort;
inline constexpr DirectoryHeaderForm kLong = DirectoryHeaderForm::kLong;

// The files of the migration tests' instance, and the report file beside the directory.
using testing::kCopy;
using testing::kDirectory;
using testing::kErrorFile;
using testing::kFolder;
using testing::kInstall;
using testing::kInstance;
using testing::kIntention;
inline constexpr const char* kReport = "C:\\QZ7PROF\\QZ7\\SQLDBDIR\\SQLDDDIR.RPT";

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

class DirectoryConversionTest : public testing::DirectoryFolderTest {
 protected:
  void SetUp() override;

  // Runs the converter of layout with the short-header flag (ignored by layout 4), with an
  // error file of its own; fault_, when set, is in force for the converter's operations only.
  ConversionOutcome Convert(int layout, int shortHeader, bool directoryExists = true,
                            bool copyExists = true);

  // The old directory in both the directory file and its copy.
  void PutDirectory(const Bytes& bytes) const {
    Put(kDirectory, bytes);
    Put(kCopy, bytes);
  }

  std::optional<platform::FaultPlan> fault_;
};

}  // namespace qz7::migrate::conversion_testing

#endif  // QZ7_TESTS_MIGRATE_DIRECTORY_CONVERSION_FIXTURE_H_
