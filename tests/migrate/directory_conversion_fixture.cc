#include "tests/migrate/directory_conversion_fixture.h"

#include <cctype>

#include "migrate/directory_entry_conversion.h"
#include "platform/fault_injection.h"
#include "platform/file_system.h"
#include "testkit/migration_message_file.h"
#include "util/coding.h"

namespace qz7::migrate::conversion_testing {

using testkit::PutDirectoryText;

CurrentFileView ReadCurrentFile(const Bytes& bytes) {
  CurrentFileView view;
  if (bytes.size() < 212) return view;
  view.signature = DirectoryText(bytes, 0, 18);
  view.marker = util::LoadLE16(&bytes[18]);
  view.entryCount = util::LoadLE16(&bytes[20]);
  view.secondCount = util::LoadLE16(&bytes[22]);
  view.slotCount = util::LoadLE16(&bytes[24]);
  view.headerValue = util::LoadLE32(&bytes[28]);
  view.blockValue = util::LoadLE16(&bytes[32]);
  for (size_t i = 0; i < 43; ++i) view.buckets.push_back(util::LoadLE32(&bytes[36 + 4 * i]));
  view.sizeMatches =
      bytes.size() == 212 + 2 * size_t{view.slotCount} + 720 * size_t{view.entryCount};
  if (!view.sizeMatches) return view;
  size_t at = 208;
  for (size_t i = 0; i < view.entryCount; ++i, at += 720) {
    view.entries.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                              bytes.begin() + static_cast<std::ptrdiff_t>(at + 720));
  }
  for (size_t i = 0; i < view.slotCount; ++i, at += 2)
    view.slots.push_back(util::LoadLE16(&bytes[at]));
  view.closingValue = util::LoadLE32(&bytes[at]);
  return view;
}

Bytes ExpectedConvertedEntry(int layout, DirectoryHeaderForm form,
                             const testkit::OldEntryFields& fields) {
  Bytes entry(720, 0);
  PutDirectoryText(entry, 0, 9, fields.name);
  PutDirectoryText(entry, 9, 9, fields.databaseName);
  entry[18] = static_cast<unsigned char>(fields.type);
  PutDirectoryText(entry, 19, 9, fields.subdirectory);
  PutDirectoryText(entry, 28, 9, fields.alias);
  entry[37] = layout == 2 ? 0xFF : fields.flag;
  const bool drive = layout <= 2 || form == DirectoryHeaderForm::kShort;
  std::string path = fields.path.substr(0, drive ? 2 : 255);
  if (layout == 3 && drive && !path.empty()) {
    path[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
  }
  PutDirectoryText(entry, 38, 256, path);
  PutDirectoryText(entry, 294, 32, fields.comment.substr(0, drive ? 30 : 31));
  util::StoreLE16(&entry[326], fields.number16);
  util::StoreLE32(&entry[336], fields.number32);
  if (layout == 4) {
    util::StoreLE16(&entry[340], fields.extra340);
    util::StoreLE16(&entry[342], fields.extra342);
    for (size_t i = 0; i < fields.databaseInfo.size() && i < 312; ++i) {
      entry[344 + i] = fields.databaseInfo[i];
    }
    util::StoreLE32(&entry[656], 32);
    for (size_t i = 0; i < fields.tail.size() && i < 16; ++i) entry[672 + i] = fields.tail[i];
  }
  util::StoreLE32(&entry[704], fields.trailer32);
  entry[708] = fields.trailerByte;
  PutDirectoryText(entry, 709, 4, "QZ7");
  util::StoreLE16(&entry[718], 0x0900);
  return entry;
}

void DirectoryConversionTest::SetUp() {
  ASSERT_NO_FATAL_FAILURE(DirectoryFolderTest::SetUp());
  ASSERT_EQ(LoadMigrationMessages(testkit::MigrationMessageFilePath(kInstall).c_str()), 0);
  machine_.AddDrive('D');
}

ConversionOutcome DirectoryConversionTest::Convert(int layout, int shortHeader,
                                                   bool directoryExists, bool copyExists) {
  ConversionOutcome outcome;
  char key[kMigrationKeySize] = {};
  char object[kMigrationObjectSize] = {};
  {
    platform::FileHandle errorFile = platform::OpenFile(kErrorFile, "w+");
    platform::FileStream* stream = errorFile.get();
    if (fault_) platform::SetFaultPlan(*fault_);
    platform::ResetFileOperationCount();
    switch (layout) {
      case 1:
        outcome.code = ConvertDirectoryType1(directoryExists, copyExists, shortHeader, kDirectory,
                                             kCopy, kIntention, key, object, stream);
        break;
      case 2:
        outcome.code = ConvertDirectoryType2(directoryExists, copyExists, shortHeader, kDirectory,
                                             kCopy, kIntention, key, object, stream);
        break;
      case 3:
        outcome.code = ConvertDirectoryType3(directoryExists, copyExists, shortHeader, kDirectory,
                                             kCopy, kIntention, key, object, stream);
        break;
      default:
        outcome.code = ConvertDirectoryType4(directoryExists, copyExists, kDirectory, kCopy,
                                             kIntention, key, object, stream);
        break;
    }
    outcome.operations = platform::FileOperationCount();
    platform::ClearFaultPlan();
  }
  outcome.key = key;
  outcome.object = object;
  outcome.records = ErrorRecords();
  return outcome;
}

}  // namespace qz7::migrate::conversion_testing
