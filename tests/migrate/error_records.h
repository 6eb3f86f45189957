// The error records of a migration's error file, read back as texts for the tests of both
// directory migrations.
#ifndef QZ7_TESTS_MIGRATE_ERROR_RECORDS_H_
#define QZ7_TESTS_MIGRATE_ERROR_RECORDS_H_

#include <string>
#include <vector>

namespace qz7::migrate::testing {

// The records of an error file's bytes, in file order: CR LF read as LF, records split at the
// empty line, the lines of each record joined again. Text after the last record comes back as
// one more record ending in "<unterminated>".
std::vector<std::string> ErrorRecordsOf(const std::vector<unsigned char>& errorFileBytes);

}  // namespace qz7::migrate::testing

#endif  // QZ7_TESTS_MIGRATE_ERROR_RECORDS_H_
