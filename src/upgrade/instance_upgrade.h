// Carrying one existing instance into the new release: its configuration file is replaced
// by the release's template and filled from the old one.
#ifndef QZ7_UPGRADE_INSTANCE_UPGRADE_H_
#define QZ7_UPGRADE_INSTANCE_UPGRADE_H_

#include "qz7instm.h"

namespace qz7::upgrade {

// Where the messages of an upgrade go: the caller's log, message module and owner window.
struct MessageTarget {
  QZ7_LOG_FILE logFile = nullptr;
  QZ7_MODULE messageModule = nullptr;
  QZ7_OWNER ownerWindow = nullptr;
};

// The old configuration could not be made safe: a saved copy could not be finished, or the
// template could not be staged beside it.
constexpr int kConfigurationNotSaved = -10;

constexpr unsigned kConversionFailedMessage = 3608;
constexpr unsigned kInstanceNotUpgradedMessage = 3573;
constexpr unsigned kDatabaseDirectoryNotMigratedMessage = 3578;
constexpr unsigned kNodeDirectoryNotMigratedMessage = 3574;

// The two directory migrations an instance upgrade runs; tests put their own in place.
struct DirectoryMigrations {
  int (*databaseDirectory)(const char* instanceDir, const char* installDir);
  int (*nodeDirectory)(const char* instanceDir);
};
// The migrations of the database directory and of the node directory.
const DirectoryMigrations& DefaultDirectoryMigrations();

// Shows that the instance at instanceDir was not carried into the new release: message 3608
// with code (no box style, no owner window: a line of the log) and message 3573 with the
// instance's name (the text after the last backslash of instanceDir; information box).
void ReportInstanceNotUpgraded(const MessageTarget& messages, const char* instanceDir, int code);

// Finishes what an earlier run left beside instanceDir\qz7systm (FinishSavedConfiguration),
// fills a copy of templateFile (instanceDir\qz7systm.upg) with the values of qz7systm, and puts
// the filled copy in place of qz7systm in one step. Returns 0, or 1 after showing messages
// 3608 (the code, no owner window) and 3573 (the instance name). When the conversion fails
// (its code), qz7systm ends as the template and the old configuration stays under the first
// free numbered name beside it (qz7systm.NNN), saved to the disk before the template replaced
// it; the next upgrade or creation of the instance puts it back first. When the old
// configuration cannot be saved, or the template not be staged (kConfigurationNotSaved),
// qz7systm keeps its old contents. An instance without a qz7systm gets the template and fails
// with kDbmFileError: there were no values to carry into it.
[[nodiscard]] int UpgradeInstanceConfiguration(const MessageTarget& messages,
                                               const char* instanceDir, const char* templateFile);

// Migrates the instance's system database directory and node directory, and clears the
// files of a directory folder (database, DCS gateway, node) that holds neither its directory
// file nor the copy. A database directory migration ending in neither 0 nor 1 is shown as
// message 3578, a node directory migration ending in non-zero as message 3574 (code and
// instance name, information box); each failure makes the result 1, and every step runs
// whatever the others gave. Returns 0 also for a null instanceDir or one that is not a
// directory.
[[nodiscard]] int UpgradeInstanceDirectories(
    const char* instanceDir, const char* installDir, const MessageTarget& messages,
    const DirectoryMigrations& migrations = DefaultDirectoryMigrations());

}  // namespace qz7::upgrade

#endif  // QZ7_UPGRADE_INSTANCE_UPGRADE_H_
