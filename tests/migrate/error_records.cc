#include "tests/migrate/error_records.h"

namespace qz7::migrate::testing {

std::vector<std::string> ErrorRecordsOf(const std::vector<unsigned char>& errorFileBytes) {
  std::vector<std::string> records;
  std::string record;
  std::string line;
  for (size_t i = 0; i < errorFileBytes.size(); ++i) {
    const char c = static_cast<char>(errorFileBytes[i]);
    if (c == '\r' && i + 1 < errorFileBytes.size() && errorFileBytes[i + 1] == '\n') continue;
    if (c != '\n') {
      line.push_back(c);
      continue;
    }
    if (line.empty()) {
      records.push_back(record);
      record.clear();
    } else {
      record += line;
    }
    line.clear();
  }
  record += line;
  if (!record.empty()) records.push_back(record + "<unterminated>");
  return records;
}

}  // namespace qz7::migrate::testing
