// What the database directory migration tests share: an instance on a throw-away machine,
// the message text file of its installation, and converters that stand in for the layout
// converters so that the driver can be tested on its own. The test converters turn a
// directory into a recognisable current-layout file (current header, a tag naming the layout
// and header form, then the old bytes) and the intention file likewise, through the platform
// layer, so their file operations count in fault and crash tests like any converter's.
#ifndef QZ7_TESTS_MIGRATE_DIRECTORY_MIGRATION_FIXTURE_H_
#define QZ7_TESTS_MIGRATE_DIRECTORY_MIGRATION_FIXTURE_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "migrate/database_directory_migration.h"
#include "migrate/migration_report.h"
#include "testkit/database_directory_builder.h"
#include "testkit/temp_machine.h"
#include "tests/migrate/error_records.h"

namespace qz7::migrate::testing {

using Bytes = std::vector<unsigned char>;

inline constexpr const char* kInstance = "C:\\QZ7PROF\\QZ7";
inline constexpr const char* kInstall = "C:\\QZ7";
inline constexpr const char* kFolder = "C:\\QZ7PROF\\QZ7\\SQLDBDIR";
inline constexpr const char* kDirectory = "C:\\QZ7PROF\\QZ7\\SQLDBDIR\\SQLDBDIR";
inline constexpr const char* kCopy = "C:\\QZ7PROF\\QZ7\\SQLDBDIR\\SQLDBBAK";
inline constexpr const char* kIntention = "C:\\QZ7PROF\\QZ7\\SQLDBDIR\\SQLDBINS";
inline constexpr const char* kBackup = "C:\\QZ7PROF\\QZ7\\SQLDBDIR\\SQLDDDIR.TMP";
inline constexpr const char* kPermanent = "C:\\QZ7PROF\\QZ7\\SQLDBDIR\\SQLDDDIR.BAK";
inline constexpr const char* kErrorFile = "C:\\QZ7PROF\\QZ7\\QZ7MGDBD.ERR";

// What the test converters do, and what they were called with.
struct ConverterPlan {
  int failLayout = 0;  // the layout whose converter fails (0: none fails)
  std::string key;
  std::string object;
  MigrationResult code = 0;
  bool damageFirst = false;  // cut the directory file to 10 bytes before failing
};
struct ConverterCall {
  int layout = 0;
  bool directoryExists = false;
  bool copyExists = false;
  int shortHeader = -1;  // -1 for layout 4, which takes no flag
  std::string directoryPath;
  std::string copyPath;
  std::string intentionPath;
  bool hadErrorFile = false;
};
ConverterPlan& TestConverterPlan();
std::vector<ConverterCall>& TestConverterCalls();
DirectoryConverters TestConverters();

// What the test converters make of an old directory file and intention file (missing: empty).
Bytes TestConvertedDirectory(int layout, int shortHeader, const Bytes& old);
Bytes TestConvertedIntention(int layout, const Bytes& old);

// An old directory of each layout with two entries, the first of type "2" for layouts 2 and 3.
Bytes SampleOldDirectory(int layout, testkit::DirectoryHeaderForm form);
Bytes SampleOldIntention(int layout);

// The instance's directory folder on a throw-away machine, with the message text file of its
// installation written, no fault planned and every work buffer allowed; and the files in it.
class DirectoryFolderTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  void Put(const char* path, const Bytes& bytes) const { machine_.WriteFile(path, bytes); }
  Bytes Get(const char* path) const { return machine_.ReadFile(path); }
  bool Exists(const char* path) const { return machine_.Exists(path); }
  void Remove(const char* path) const;
  std::vector<std::string> ErrorRecords() const { return ErrorRecordsOf(Get(kErrorFile)); }

  testkit::TempMachine machine_;
};

class DirectoryMigrationTest : public DirectoryFolderTest {
 protected:
  void SetUp() override;

  MigrationResult Migrate() {
    return MigrateDatabaseDirectory(kInstance, kInstall, TestConverters());
  }

  // Removes the directory folder and the error file, leaving an instance without a directory.
  void ClearDirectoryFolder() const;
};

}  // namespace qz7::migrate::testing

#endif  // QZ7_TESTS_MIGRATE_DIRECTORY_MIGRATION_FIXTURE_H_
