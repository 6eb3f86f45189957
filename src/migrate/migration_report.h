// What the directory migrations tell about their failures: the result codes with their text
// fragments, the error records of the error file, the migration message text file with its
// process-wide table and formatter, and the records of the report file SQLDDDIR.RPT.
#ifndef QZ7_MIGRATE_MIGRATION_REPORT_H_
#define QZ7_MIGRATE_MIGRATION_REPORT_H_

#include <cstddef>
#include <cstdint>

#include "platform/file_system.h"

namespace qz7::migrate {

// The signed result of every migration operation: 0, a negative failure code, or 97.
using MigrationResult = int32_t;

constexpr MigrationResult kMigrationOk = 0;
constexpr MigrationResult kMigrationCopiesDiffer = -101;
constexpr MigrationResult kMigrationUnrecognizedFile = -102;
constexpr MigrationResult kMigrationCannotOpen = -103;
constexpr MigrationResult kMigrationCannotClose = -104;
constexpr MigrationResult kMigrationReadError = -105;
constexpr MigrationResult kMigrationWriteError = -106;
constexpr MigrationResult kMigrationBadBackup = -107;
constexpr MigrationResult kMigrationAccessError = -108;
constexpr MigrationResult kMigrationConfigAccessError = -110;
constexpr MigrationResult kMigrationBadConfig = -111;
constexpr MigrationResult kMigrationUnknownCodePage = -112;
constexpr MigrationResult kMigrationUnknownTerritory = -113;
constexpr MigrationResult kMigrationLocalDirectoryOpenError = -114;
constexpr MigrationResult kMigrationLocalDirectoryReadError = -115;
constexpr MigrationResult kMigrationDatabaseNotFound = -116;
constexpr MigrationResult kMigrationLocalDirectoryNotCurrent = -117;
constexpr MigrationResult kMigrationLocalDirectoryUnrecognized = -118;
constexpr MigrationResult kMigrationNoMemory = -119;
constexpr MigrationResult kMigrationFileAccessError = -121;
constexpr MigrationResult kMigrationMessageFileMissing = -122;
constexpr MigrationResult kMigrationIntentionFileMissing = -123;
constexpr MigrationResult kMigrationErrorFileNotCreated = -124;
constexpr MigrationResult kMigrationPathNotResolved = -125;
constexpr MigrationResult kMigrationRenameFailed = -126;
constexpr MigrationResult kMigrationCurrentLevel = 97;

// The text that an error record appends to its object name for a code. Codes missing from
// this table (-112, -113, -116, -124, -126 and any other value) append nothing.
struct MigrationFragment {
  MigrationResult code;
  const char* text;
};
inline constexpr MigrationFragment kMigrationFragments[] = {
    {kMigrationCopiesDiffer, " are different"},
    {kMigrationUnrecognizedFile, " unrecognizable directory file"},
    {kMigrationCannotOpen, " cannot be opened"},
    {kMigrationCannotClose, " cannot be closed"},
    {kMigrationReadError, " read error"},
    {kMigrationWriteError, " write error"},
    {kMigrationBadBackup, " bad DD File backup"},
    {kMigrationAccessError, " access error"},
    {kMigrationConfigAccessError, " configuration file access error"},
    {kMigrationBadConfig, " bad configuration file"},
    {kMigrationLocalDirectoryOpenError, " cannot be opened"},
    {kMigrationLocalDirectoryReadError, " read error"},
    {kMigrationLocalDirectoryNotCurrent, " directory file not in current level"},
    {kMigrationLocalDirectoryUnrecognized, " unrecognizable directory file"},
    {kMigrationNoMemory, " insufficient memory"},
    {kMigrationFileAccessError, " file access error"},
    {kMigrationMessageFileMissing, " not found or cannot be accessed"},
    {kMigrationIntentionFileMissing, " intention file is missing"},
    {kMigrationPathNotResolved, " cannot resolved its directory path"},
    {kMigrationCurrentLevel, " is in current level"},
};

// The fragment of code, or "" when the code has none.
const char* MigrationFragmentOf(MigrationResult code);

// Room for a message key and an object name, as the steps that fail hand them on.
constexpr size_t kMigrationKeySize = 20;
constexpr size_t kMigrationObjectSize = 612;

// Error records are cut into lines of this many characters.
constexpr size_t kErrorRecordLineLength = 70;
// Written instead of a record when no memory can be had for its text.
constexpr const char* kErrorRecordNoMemoryText = "WRITE_ERR: insufficient memory";

// Appends one error record to errorFile: "KEY: OBJECT" followed by the code's fragment, cut
// into lines of 70 characters, each followed by a line feed, then one more line feed. A null
// key or object counts as empty. When no memory can be had for the text, the record is
// "WRITE_ERR: insufficient memory" and two line feeds. A null errorFile (the error file could
// not be created) writes nothing. Write errors are not checked: the caller goes on either way.
void WriteMigrationError(const char* key, const char* object, MigrationResult code,
                         platform::FileStream* errorFile);

// The migration message text file: line n is message n. Only the first 68 lines are read,
// each of at most 255 characters before its line feed.
constexpr int kMigrationMessageCount = 68;
constexpr int kMigrationMessageSize = 256;

// The process-wide table of migration messages: slot n holds line n as the line reader
// returned it (its text, its line feed and a terminating zero). All zero when the library is
// loaded; only LoadMigrationMessages changes it.
struct MigrationMessageTable {
  char slots[kMigrationMessageCount][kMigrationMessageSize];
};
MigrationMessageTable& MigrationMessages();

// Loads the message text file at path (a Windows path) into the table, opened in text mode.
// Returns 0, or kMigrationCannotClose (-104) when the file cannot be opened, leaving the table
// as it was. A line longer than 255 characters continues in the next slot; slots past the end
// of a short file keep what they held before, so a short file is no error.
[[nodiscard]] MigrationResult LoadMigrationMessages(const char* path);

// Fills message number (0 to 67) with argCount arguments into out (at least 256 bytes): the
// first %1 gets arguments[0], then the first %2 arguments[1], and so on up to %9, each found
// by a search from the start of the text that passes over any other percent sign. The last
// character of the result (the line feed that the line reader kept) is removed. A message
// without the placeholder of an argument stays as it is; a null argument counts as empty; the
// text is cut to 255 characters. A number outside the table gives an empty text.
void FormatMigrationMessage(unsigned number, int16_t argCount, const char* const* arguments,
                            char* out);

// Which message reports a local database that failed its check with code; -1 for a code that
// has no report message.
int ReportMessageNumber(MigrationResult code);

// Formats the report message of code (-116: 47, -117: 48, -111/-112/-113: 49, -110: 50,
// -114/-115/-118: 51) like FormatMigrationMessage. For any other code out is left as it was.
void FormatReportMessage(MigrationResult code, int16_t argCount, const char* const* arguments,
                         char* out);

// The report file's name, which lies beside the system database directory file.
constexpr const char* kReportFileName = "SQLDDDIR.RPT";
// The directory file path without its last 8 characters (the file name "SQLDBDIR") followed
// by SQLDDDIR.RPT, into out of size bytes (cut to size - 1). A path of fewer than 8 characters
// gives just the name.
void BuildReportFilePath(const char* directoryFilePath, char* out, size_t size);

// What writing one report record achieved: the text and the two line feeds that follow it
// are separate writes, and the caller records a failure of each of them on its own.
struct ReportRecordWrite {
  bool textWritten = false;
  bool separatorWritten = false;
};

// Appends one report record to the report file (opened "wb+"): text, then "\n\n", so each
// record ends in two LF bytes. An empty text writes only the separator (and counts as
// written).
ReportRecordWrite WriteReportRecord(platform::FileStream& reportFile, const char* text);

}  // namespace qz7::migrate

#endif  // QZ7_MIGRATE_MIGRATION_REPORT_H_
