#include "tests/migrate/directory_conversion_fixture.h"

#include <cctype>
#include <filesystem>

#include "migrate/directory_entry_conversion.h"
#include "migrate/work_buffer.h"
#include "platform/fault_injection.h"
#include "platform/file_system.h"
#include "testkit/migration_message_file.h"
#include "tests/migrate/directory_migration_fixture.h"
#include "util/coding.h"

namespace qz7::migrate::conversion_testing {
namespace {

void PutText(Bytes& bytes, size_t offset, size_t width, const std::string& text) {
  for (size_t i = 0; i < width; ++i) bytes[offset + i] = 0;
  for (size_t i = 0; i < text.size() && i + 1 < width; ++i) {
    bytes[offset + i] = static_cast<unsigned char>(text[i]);
  }
}

}  // namespace

std::string TextAt(const Bytes& bytes, size_t offset, size_t width) {
  std::string text;
  for (size_t i = offset; i < offset + width && i < bytes.size() && bytes[i] != 0; ++i) {
    text.push_back(static_cast<char>(bytes[i]));
  }
  return text;
}

CurrentFileView ReadCurrentFile(const Bytes& bytes) {
  CurrentFileView view;
  if (bytes.size() < 212) return view;
  view.signature = TextAt(bytes, 0, 18);
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
  PutText(entry, 0, 9, fields.name);
  PutText(entry, 9, 9, fields.databaseName);
  entry[18] = static_cast<unsigned char>(fields.type);
  PutText(entry, 19, 9, fields.subdirectory);
  PutText(entry, 28, 9, fields.alias);
  entry[37] = layout == 2 ? 0xFF : fields.flag;
  const bool drive = layout <= 2 || form == DirectoryHeaderForm::kShort;
  std::string path = fields.path.substr(0, drive ? 2 : 255);
  if (layout == 3 && drive && !path.empty()) {
    path[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
  }
  PutText(entry, 38, 256, path);
  PutText(entry, 294, 32, fields.comment.substr(0, drive ? 30 : 31));
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
  PutText(entry, 709, 4, "QZ7");
  util::StoreLE16(&entry[718], 0x0900);
  return entry;
}

void DirectoryConversionTest::SetUp() {
  platform::ClearFaultPlan();
  FailWorkBufferAllocationAt(0);
  ASSERT_EQ(testkit::WriteMigrationMessageFile(kInstall, testkit::MigrationMessageFileLines()), 0u);
  ASSERT_EQ(LoadMigrationMessages(testkit::MigrationMessageFilePath(kInstall).c_str()), 0);
  machine_.MakeDirectory(kFolder);
  machine_.AddDrive('D');
}

void DirectoryConversionTest::TearDown() {
  platform::ClearFaultPlan();
  FailWorkBufferAllocationAt(0);
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
  outcome.records = migrate::testing::ErrorRecordsOf(Get(kErrorFile));
  return outcome;
}

void DirectoryConversionTest::Remove(const char* path) const {
  std::error_code ignored;
  std::filesystem::remove_all(machine_.HostPath(path), ignored);
}

}  // namespace qz7::migrate::conversion_testing
