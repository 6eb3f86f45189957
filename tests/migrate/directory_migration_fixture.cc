#include "tests/migrate/directory_migration_fixture.h"

#include <algorithm>
#include <filesystem>
#include <optional>

#include "migrate/work_buffer.h"
#include "platform/fault_injection.h"
#include "platform/file_system.h"
#include "testkit/dbm_block_builder.h"
#include "testkit/migration_message_file.h"
#include "util/coding.h"
#include "util/fixed_text.h"

namespace qz7::migrate::testing {
namespace {

namespace fs = std::filesystem;

ConverterPlan plan;
std::vector<ConverterCall> calls;

bool WriteWhole(const char* path, const Bytes& bytes) {
  platform::FileHandle file = platform::OpenFile(path, "wb+");
  if (!file) return false;
  const bool written = file->Write(bytes.data(), bytes.size()) == bytes.size();
  return file->Close() == 0 && written;
}

MigrationResult Failed(char* key, char* object, const std::string& keyText,
                       const std::string& objectText, MigrationResult code) {
  util::CopyBounded(key, keyText.c_str(), kMigrationKeySize);
  util::CopyBounded(object, objectText.c_str(), kMigrationObjectSize);
  return code;
}

MigrationResult Convert(int layout, bool directoryExists, bool copyExists, int shortHeader,
                        const char* directoryPath, const char* copyPath, const char* intentionPath,
                        char* key, char* object, platform::FileStream* errorFile) {
  calls.push_back({layout, directoryExists, copyExists, shortHeader, directoryPath, copyPath,
                   intentionPath, errorFile != nullptr});
  if (plan.failLayout == layout) {
    if (plan.damageFirst) WriteWhole(directoryPath, Bytes(10, 0xEE));
    return Failed(key, object, plan.key, plan.object, plan.code);
  }
  const char* source = directoryExists ? directoryPath : copyPath;
  const char* target = directoryExists ? copyPath : directoryPath;
  std::optional<Bytes> old = testkit::ReadMachineFile(source);
  if (!old) return Failed(key, object, "TEST_READ", source, kMigrationReadError);
  const Bytes converted = TestConvertedDirectory(layout, shortHeader, *old);
  if (!WriteWhole(target, converted)) {
    return Failed(key, object, "TEST_TARGET", target, kMigrationWriteError);
  }
  if (!WriteWhole(source, converted)) {
    return Failed(key, object, "TEST_SOURCE", source, kMigrationWriteError);
  }
  const Bytes oldIntention = testkit::ReadMachineFile(intentionPath).value_or(Bytes());
  if (!WriteWhole(intentionPath, TestConvertedIntention(layout, oldIntention))) {
    return Failed(key, object, "TEST_INTENT", intentionPath, kMigrationWriteError);
  }
  return kMigrationOk;
}

template <int kLayout>
MigrationResult ConvertShort(bool directoryExists, bool copyExists, int shortHeader,
                             const char* directoryPath, const char* copyPath,
                             const char* intentionPath, char* key, char* object,
                             platform::FileStream* errorFile) {
  return Convert(kLayout, directoryExists, copyExists, shortHeader, directoryPath, copyPath,
                 intentionPath, key, object, errorFile);
}

MigrationResult ConvertLayout4(bool directoryExists, bool copyExists, const char* directoryPath,
                               const char* copyPath, const char* intentionPath, char* key,
                               char* object, platform::FileStream* errorFile) {
  return Convert(4, directoryExists, copyExists, -1, directoryPath, copyPath, intentionPath, key,
                 object, errorFile);
}

}  // namespace

ConverterPlan& TestConverterPlan() { return plan; }
std::vector<ConverterCall>& TestConverterCalls() { return calls; }

DirectoryConverters TestConverters() {
  return {ConvertShort<1>, ConvertShort<2>, ConvertShort<3>, ConvertLayout4};
}

Bytes TestConvertedDirectory(int layout, int shortHeader, const Bytes& old) {
  Bytes converted(32, 0);
  const char signature[] = "QZ7 DIRECTORY";
  std::copy(signature, signature + sizeof signature - 1, converted.begin());
  util::StoreLE16(&converted[18], 0x0400);
  if (old.size() >= 26) std::copy(old.begin() + 20, old.begin() + 26, converted.begin() + 20);
  const std::string tag = "LAYOUT" + std::to_string(layout) + (shortHeader == 1 ? "S" : "L");
  converted.insert(converted.end(), tag.begin(), tag.end());
  const size_t headerSize = shortHeader == 1 ? 30 : 32;
  if (old.size() > headerSize)
    converted.insert(converted.end(), old.begin() + headerSize, old.end());
  return converted;
}

Bytes TestConvertedIntention(int layout, const Bytes& old) {
  Bytes converted(540, 0);
  converted[0] = static_cast<unsigned char>('0' + layout);
  std::copy(old.begin(),
            old.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(old.size(), 539)),
            converted.begin() + 1);
  return converted;
}

Bytes SampleOldDirectory(int layout, testkit::DirectoryHeaderForm form) {
  const char firstType = layout == 2 || layout == 3 ? '2' : '1';
  return testkit::DatabaseDirectoryBuilder::Layout(layout, form)
      .SecondCount(7)
      .HeaderValue(0x01020304)
      .BlockValue(0x0506)
      .AddEntry({.name = "SAMPLE",
                 .databaseName = "SAMPLE",
                 .type = firstType,
                 .subdirectory = "SQL00001",
                 .path = "C:",
                 .fill = 0x11})
      .AddEntry({.name = "PAYROLL", .databaseName = "PAY", .type = '0', .path = "D:", .fill = 0x22})
      .Slots(3)
      .Bytes();
}

Bytes SampleOldIntention(int layout) {
  return testkit::IntentionFileBuilder(layout)
      .Value(0x0102)
      .Name("SAMPLE")
      .FirstPath("C:\\OLD")
      .SecondPath("C:\\NEW")
      .Bytes();
}

void DirectoryFolderTest::SetUp() {
  platform::ClearFaultPlan();
  FailWorkBufferAllocationAt(0);
  ASSERT_EQ(testkit::WriteMigrationMessageFile(kInstall, testkit::MigrationMessageFileLines()), 0u);
  machine_.MakeDirectory(kFolder);
}

void DirectoryFolderTest::TearDown() {
  platform::ClearFaultPlan();
  FailWorkBufferAllocationAt(0);
}

void DirectoryFolderTest::Remove(const char* path) const {
  std::error_code ignored;
  fs::remove_all(machine_.HostPath(path), ignored);
}

void DirectoryMigrationTest::SetUp() {
  plan = ConverterPlan();
  calls.clear();
  DirectoryFolderTest::SetUp();
}

void DirectoryMigrationTest::ClearDirectoryFolder() const {
  Remove(kFolder);
  Remove(kErrorFile);
  machine_.MakeDirectory(kFolder);
}

}  // namespace qz7::migrate::testing
