// The migration stopped at every file operation, as a crash would stop it, and then run
// again; and every file operation in turn failing with a Windows error.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "migrate/database_directory_migration.h"
#include "platform/fault_injection.h"
#include "platform/win_error.h"
#include "testkit/database_directory_builder.h"
#include "tests/migrate/directory_migration_fixture.h"

namespace qz7::migrate::testing {
namespace {

using testkit::DirectoryBackupBuilder;
using Form = testkit::DirectoryHeaderForm;

constexpr int kCrashExitCode = 86;

// Where a run starts from: an old directory, or the files an interrupted conversion left
// beside its completed backup.
struct StartingPoint {
  const char* name;
  bool interrupted;
};
constexpr StartingPoint kStartingPoints[] = {{"old directory", false},
                                             {"interrupted after converting", true}};

// Everything the migration leaves in the directory folder.
struct FolderState {
  Bytes directory, copy, intention, backup, permanent;
  bool backupExists = false, permanentExists = false;
  bool operator==(const FolderState&) const = default;
};

class DirectoryMigrationCrashTest : public DirectoryMigrationTest {
 protected:
  void Prepare(const StartingPoint& start) {
    ClearDirectoryFolder();
    if (start.interrupted) {
      Put(kBackup, DirectoryBackupBuilder()
                       .LayoutName("TYPE3_DECB")
                       .Status('C')
                       .DirectoryCopy(old_)
                       .IntentionCopy(oldIntention_)
                       .Bytes());
      const Bytes converted = TestConvertedDirectory(3, 0, old_);
      Put(kDirectory, converted);
      Put(kCopy, Bytes(converted.begin(), converted.begin() + 100));
      Put(kIntention, Bytes(3, 0));
    } else {
      Put(kDirectory, old_);
      Put(kCopy, old_);
      Put(kIntention, oldIntention_);
    }
  }

  FolderState State() const {
    FolderState state;
    state.directory = Get(kDirectory);
    state.copy = Get(kCopy);
    state.intention = Get(kIntention);
    state.backupExists = Exists(kBackup);
    state.backup = Get(kBackup);
    state.permanentExists = Exists(kPermanent);
    state.permanent = Get(kPermanent);
    return state;
  }

  // The old directory can still be had: from the files themselves, the migration backup or
  // the permanent backup.
  bool OldDirectoryRecoverable() const {
    if (Get(kDirectory) == old_ || Get(kCopy) == old_) return true;
    for (const char* path : {kBackup, kPermanent}) {
      const testkit::BackupFileView view = testkit::ReadBackupFile(Get(path));
      if (Exists(path) && view.parsed && view.directory == old_ &&
          view.intention == oldIntention_) {
        return true;
      }
    }
    return false;
  }

  // Runs a migration in a child that ends at file operation n; its exit code.
  int CrashAt(uint64_t n) {
    const pid_t child = fork();
    if (child == 0) {
      platform::SetFaultPlan({.triggerAt = n, .crash = true, .crashExitCode = kCrashExitCode});
      Migrate();
      _exit(0);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
  }

  // The operations of an uninterrupted run and what it leaves behind.
  uint64_t ReferenceRun(const StartingPoint& start, FolderState* reference) {
    Prepare(start);
    platform::ResetFileOperationCount();
    EXPECT_EQ(Migrate(), 0);
    const uint64_t operations = platform::FileOperationCount();
    *reference = State();
    EXPECT_TRUE(reference->permanentExists && !reference->backupExists);
    EXPECT_EQ(reference->directory, TestConvertedDirectory(3, 0, old_));
    return operations;
  }

  const Bytes old_ = SampleOldDirectory(3, Form::kLong);
  const Bytes oldIntention_ = SampleOldIntention(3);
};

// A run stopped at any file operation and then run again ends exactly where an uninterrupted
// run ends, whichever file operation it was stopped at, the writing of the backup included.
TEST_F(DirectoryMigrationCrashTest, ARunStoppedAtAnyFileOperationIsCompletedByTheNext) {
  for (const StartingPoint& start : kStartingPoints) {
    SCOPED_TRACE(start.name);
    FolderState reference;
    const uint64_t operations = ReferenceRun(start, &reference);
    ASSERT_GE(operations, 30u);
    for (uint64_t n = 1; n <= operations; ++n) {
      SCOPED_TRACE("stopped at file operation " + std::to_string(n));
      Prepare(start);
      ASSERT_EQ(CrashAt(n), kCrashExitCode);
      EXPECT_TRUE(OldDirectoryRecoverable());
      EXPECT_EQ(Migrate(), 0);
      EXPECT_TRUE(State() == reference);
    }
  }
}

// Each file operation in turn fails. The run never crashes, ends with 0 or a failure code,
// never loses the old directory, and the next run converts it.
TEST_F(DirectoryMigrationCrashTest, AFailingFileOperationNeverLosesTheOldDirectory) {
  for (const StartingPoint& start : kStartingPoints) {
    SCOPED_TRACE(start.name);
    FolderState reference;
    const uint64_t operations = ReferenceRun(start, &reference);
    for (uint64_t n = 1; n <= operations; ++n) {
      SCOPED_TRACE("file operation " + std::to_string(n) + " fails");
      Prepare(start);
      platform::SetFaultPlan({.triggerAt = n, .error = platform::kErrorDiskFull});
      ::testing::internal::CaptureStdout();
      const MigrationResult result = Migrate();
      ::testing::internal::GetCapturedStdout();
      platform::ClearFaultPlan();
      EXPECT_TRUE(result == 0 || (result <= -101 && result >= -126)) << result;
      EXPECT_TRUE(OldDirectoryRecoverable());

      ASSERT_EQ(Migrate(), 0);
      const FolderState state = State();
      // A restore whose close failed goes on with what it has; the old files are in the
      // backup all the same.
      EXPECT_EQ(state.directory, state.copy);
      EXPECT_EQ(testkit::DirectoryReleaseMarker(state.directory), 0x0400);
      EXPECT_TRUE(OldDirectoryRecoverable());
    }
  }
}

}  // namespace
}  // namespace qz7::migrate::testing
