// The migration message text file QZ7DBMIG.TXT below an installation: line n is message n,
// written in text mode (CR LF line ends), as the product ships it.
//
//   WriteMigrationMessageFile("C:\\QZ7", MigrationMessageFileLines());
#ifndef QZ7_TESTKIT_MIGRATION_MESSAGE_FILE_H_
#define QZ7_TESTKIT_MIGRATION_MESSAGE_FILE_H_

#include <cstdint>
#include <string>
#include <vector>

namespace qz7::testkit {

// installDir\msg\prime\QZ7DBMIG.TXT
inline std::string MigrationMessageFilePath(const std::string& installDir) {
  return installDir + "\\msg\\prime\\QZ7DBMIG.TXT";
}

// The 68 lines of the sample installation: lines 47 to 51 each hold %1 for a database name.
std::vector<std::string> MigrationMessageFileLines();

// Writes lines, each followed by a line feed (CR LF on disk), through the platform layer,
// creating the folders. finalLineFeed false leaves the last line without one. Returns 0 or
// the Windows error.
uint32_t WriteMigrationMessageFile(const std::string& installDir,
                                   const std::vector<std::string>& lines,
                                   bool finalLineFeed = true);

}  // namespace qz7::testkit

#endif  // QZ7_TESTKIT_MIGRATION_MESSAGE_FILE_H_
