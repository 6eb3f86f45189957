#include "migrate/migration_report.h"

#include <cstring>
#include <string>

#include "base/fixed_text.h"
#include "migrate/work_buffer.h"

namespace qz7::migrate {
namespace {

MigrationMessageTable messageTable{};

// The record text needs the object, the key, ": ", the fragment and a terminating zero; keys
// have at most 10 characters and the longest fragment 35, so 63 bytes beyond the object are
// enough. A longer key than promised widens the buffer rather than overrunning it.
constexpr size_t kRecordSlack = 63;
constexpr size_t kPromisedKeyLength = 10;

struct ReportMessage {
  MigrationResult code;
  int number;
};
constexpr ReportMessage kReportMessages[] = {
    {kMigrationDatabaseNotFound, 47},
    {kMigrationLocalDirectoryNotCurrent, 48},
    {kMigrationUnknownTerritory, 49},
    {kMigrationUnknownCodePage, 49},
    {kMigrationBadConfig, 49},
    {kMigrationConfigAccessError, 50},
    {kMigrationLocalDirectoryUnrecognized, 51},
    {kMigrationLocalDirectoryReadError, 51},
    {kMigrationLocalDirectoryOpenError, 51},
};

constexpr int kMaxMessageArguments = 9;
constexpr size_t kMessageTextLimit = kMigrationMessageSize - 1;

}  // namespace

const char* MigrationFragmentOf(MigrationResult code) {
  for (const MigrationFragment& fragment : kMigrationFragments) {
    if (fragment.code == code) return fragment.text;
  }
  return "";
}

void WriteMigrationError(const char* key, const char* object, MigrationResult code,
                         platform::FileStream* errorFile) {
  if (errorFile == nullptr) return;
  if (key == nullptr) key = "";
  if (object == nullptr) object = "";
  const size_t keyLength = std::strlen(key);
  const size_t size = std::strlen(object) + kRecordSlack +
                      (keyLength > kPromisedKeyLength ? keyLength - kPromisedKeyLength : 0);
  std::unique_ptr<char[]> text = AllocateWorkBuffer<char>(size);
  if (!text) {
    errorFile->PutText(kErrorRecordNoMemoryText);
    errorFile->Write("\n\n", 2);
    return;
  }
  // Built in place: the record must not need any memory beyond the one buffer.
  char* end = text.get();
  for (const char* part : {key, ": ", object, MigrationFragmentOf(code)}) {
    const size_t length = std::strlen(part);
    std::memcpy(end, part, length);
    end += length;
  }
  *end = '\0';

  const char* rest = text.get();
  size_t left = std::strlen(rest);
  while (left > 0) {
    const size_t piece = left > kErrorRecordLineLength ? kErrorRecordLineLength : left;
    errorFile->Write(rest, piece);
    errorFile->Write("\n", 1);
    rest += piece;
    left -= piece;
  }
  errorFile->Write("\n", 1);
}

MigrationMessageTable& MigrationMessages() { return messageTable; }

[[nodiscard]] MigrationResult LoadMigrationMessages(const char* path) {
  if (path == nullptr) return kMigrationCannotClose;
  platform::FileHandle file = platform::OpenFile(path, "r");
  if (!file) return kMigrationCannotClose;
  // The line reader clears its buffer even when it finds nothing, so it reads into a scratch
  // line and a slot changes only when a line was read.
  char line[kMigrationMessageSize];
  for (int slot = 0; slot < kMigrationMessageCount; ++slot) {
    if (file->GetLine(line, kMigrationMessageSize) == nullptr) continue;
    std::memcpy(messageTable.slots[slot], line, std::strlen(line) + 1);
  }
  file->Close();
  return kMigrationOk;
}

void FormatMigrationMessage(unsigned number, int16_t argCount, const char* const* arguments,
                            char* out) {
  if (out == nullptr) return;
  std::string work;
  if (number < static_cast<unsigned>(kMigrationMessageCount)) {
    const char* slot = messageTable.slots[number];
    work.assign(slot, strnlen(slot, kMessageTextLimit));
  }
  const int count = argCount > kMaxMessageArguments ? kMaxMessageArguments : argCount;
  for (int i = 1; i <= count; ++i) {
    const char digit = static_cast<char>('0' + i);
    size_t at = work.find('%');
    while (at != std::string::npos && (at + 1 >= work.size() || work[at + 1] != digit)) {
      at = work.find('%', at + 1);
    }
    if (at == std::string::npos) continue;
    const char* argument =
        arguments != nullptr && arguments[i - 1] != nullptr ? arguments[i - 1] : "";
    work = work.substr(0, at) + argument + work.substr(at + 2);
    if (work.size() > kMessageTextLimit) work.resize(kMessageTextLimit);
  }
  if (!work.empty()) work.pop_back();
  std::memcpy(out, work.c_str(), work.size() + 1);
}

int ReportMessageNumber(MigrationResult code) {
  for (const ReportMessage& message : kReportMessages) {
    if (message.code == code) return message.number;
  }
  return -1;
}

void FormatReportMessage(MigrationResult code, int16_t argCount, const char* const* arguments,
                         char* out) {
  const int number = ReportMessageNumber(code);
  if (number < 0) return;
  FormatMigrationMessage(static_cast<unsigned>(number), argCount, arguments, out);
}

void BuildReportFilePath(const char* directoryFilePath, char* out, size_t size) {
  constexpr size_t kDirectoryFileNameLength = 8;  // "SQLDBDIR"
  std::string path = directoryFilePath != nullptr ? directoryFilePath : "";
  path.resize(path.size() > kDirectoryFileNameLength ? path.size() - kDirectoryFileNameLength : 0);
  path += kReportFileName;
  base::CopyBounded(out, path.c_str(), size);
}

ReportRecordWrite WriteReportRecord(platform::FileStream& reportFile, const char* text) {
  ReportRecordWrite result;
  const size_t length = text != nullptr ? std::strlen(text) : 0;
  result.textWritten = length == 0 || reportFile.Write(text, length) == length;
  result.separatorWritten = reportFile.Write("\n\n", 2) == 2;
  return result;
}

}  // namespace qz7::migrate
