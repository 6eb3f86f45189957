// Directory file headers and backup headers against files the test kit builds field by field,
// the layout recognition rule, and the comparison of a directory file with its copy.
#include "migrate/directory_recognition.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "migrate/directory_layout.h"
#include "testkit/database_directory_builder.h"
#include "testkit/temp_machine.h"

namespace qz7::migrate {
namespace {

using testkit::DatabaseDirectoryBuilder;
using testkit::DirectoryBackupBuilder;
using testkit::DirectoryEntryFields;
using Form = testkit::DirectoryHeaderForm;
using Type = DirectoryLayoutType;
using Bytes = std::vector<unsigned char>;

constexpr const char* kDirectory = "C:\\I\\SQLDBDIR\\SQLDBDIR";
constexpr const char* kCopy = "C:\\I\\SQLDBDIR\\SQLDBBAK";

DirectoryEntryFields Entry(const char* name, char type) { return {.name = name, .type = type}; }

DatabaseDirectoryBuilder TwoEntries(int layout, Form form, char firstType = '1') {
  return std::move(DatabaseDirectoryBuilder::Layout(layout, form)
                       .AddEntry(Entry("SAMPLE", firstType))
                       .AddEntry(Entry("PAYROLL", '0'))
                       .Slots(3));
}

TEST(DirectoryLayoutTest, HeadersDecodeAndEncodeTheTestKitsFields) {
  for (Form form : {Form::kLong, Form::kShort}) {
    const bool shortHeader = form == Form::kShort;
    SCOPED_TRACE(shortHeader ? "short header" : "long header");
    const Bytes file = DatabaseDirectoryBuilder::Layout(2, form)
                           .Signature("OLD DIRECTORY")
                           .ReleaseMarker(0x0301)
                           .SecondCount(0xBEEF)
                           .HeaderValue(0xA1B2C3D4)
                           .ClaimedEntryCount(513)
                           .Slots(258)
                           .Bytes();
    const DirectoryHeader header = DecodeDirectoryHeader(file.data(), shortHeader);
    EXPECT_STREQ(header.signature.c_str(), "OLD DIRECTORY");
    EXPECT_EQ(header.releaseMarker, 0x0301);
    EXPECT_EQ(header.entryCount, 513);
    EXPECT_EQ(header.secondCount, 0xBEEF);
    EXPECT_EQ(header.slotCount, 258);
    EXPECT_EQ(header.headerValue, 0xA1B2C3D4u);

    unsigned char encoded[kLongHeaderSize] = {};
    EncodeDirectoryHeader(header, shortHeader, encoded);
    const size_t size = shortHeader ? kShortHeaderSize : kLongHeaderSize;
    EXPECT_EQ(Bytes(encoded, encoded + size), Bytes(file.begin(), file.begin() + size));
  }
  unsigned char empty[kLongHeaderSize];
  EncodeEmptyCurrentHeader(empty);
  const Bytes expected = testkit::EmptyCurrentDirectoryBytes();
  EXPECT_EQ(Bytes(empty, empty + kLongHeaderSize), Bytes(expected.begin(), expected.begin() + 32));
}

TEST(DirectoryLayoutTest, BackupHeadersAndTheirValidity) {
  const Bytes directory(300, 0x5A);
  const Bytes good = DirectoryBackupBuilder()
                         .LayoutName("TYPE3_DECB")
                         .Status('C')
                         .DirectoryCopy(directory)
                         .IntentionCopy(Bytes(37, 1))
                         .Bytes();
  unsigned char bytes[kBackupHeaderSize];
  std::copy(good.begin(), good.begin() + kBackupHeaderSize, bytes);
  const DirectoryBackupHeader header = DecodeBackupHeader(bytes);
  EXPECT_STREQ(header.signature.c_str(), "QZ7 DATABASE DIRECTORY FILE BACKUP");
  EXPECT_STREQ(header.layoutName.c_str(), "TYPE3_DECB");
  EXPECT_STREQ(header.releaseLabel.c_str(), "QZ7 V3.x");
  EXPECT_EQ(header.status, 'C');
  EXPECT_EQ(header.directoryStart, 96u);
  EXPECT_EQ(header.directoryEnd, 396u);
  EXPECT_EQ(BackupDirectoryLength(header), 300);
  EXPECT_TRUE(IsValidBackupHeader(header));

  unsigned char encoded[kBackupHeaderSize];
  EncodeBackupHeader(header, encoded);
  EXPECT_EQ(Bytes(encoded, encoded + kBackupHeaderSize), Bytes(bytes, bytes + kBackupHeaderSize));
  StoreBackupStatus(encoded, 'I');
  bytes[84] = 'I';
  EXPECT_EQ(Bytes(encoded, encoded + kBackupHeaderSize), Bytes(bytes, bytes + kBackupHeaderSize));

  const struct {
    const char* name;
    DirectoryBackupBuilder backup;
    bool valid;
  } cases[] = {
      {"right", std::move(DirectoryBackupBuilder().DirectoryCopy(directory)), true},
      {"first letter changed",
       std::move(DirectoryBackupBuilder()
                     .Signature("RZ7 DATABASE DIRECTORY FILE BACKUP")
                     .DirectoryCopy(directory)),
       false},
      {"text runs on past its terminator",
       std::move(DirectoryBackupBuilder()
                     .Signature("QZ7 DATABASE DIRECTORY FILE BACKUPS")
                     .DirectoryCopy(directory)),
       false},
      {"signature cut short",
       std::move(DirectoryBackupBuilder()
                     .Signature("QZ7 DATABASE DIRECTORY FILE BACKU")
                     .DirectoryCopy(directory)),
       false},
      {"bytes after the signature's field do not matter",
       std::move(DirectoryBackupBuilder().LayoutName("").ReleaseLabel("").Status('X').DirectoryCopy(
           directory)),
       true},
      {"empty directory copy", DirectoryBackupBuilder(), false},
      {"offsets equal", std::move(DirectoryBackupBuilder().DirectoryOffsets(500, 500)), false},
      {"reversed offsets pass here, and fail when allocated",
       std::move(DirectoryBackupBuilder().DirectoryOffsets(500, 96)), true},
  };
  for (const auto& c : cases) {
    const Bytes file = c.backup.Bytes();
    std::copy(file.begin(), file.begin() + kBackupHeaderSize, bytes);
    EXPECT_EQ(IsValidBackupHeader(DecodeBackupHeader(bytes)), c.valid) << c.name;
  }
}

class DirectoryRecognitionTest : public ::testing::Test {
 protected:
  testkit::TempMachine machine_;
};

TEST_F(DirectoryRecognitionTest, LayoutsAreToldApartBySizeAndHeader) {
  const struct {
    const char* name;
    Bytes file;
    Type type;
    bool shortHeader;
    bool intentionOptional;
  } cases[] = {
      {"layout 1, long", TwoEntries(1, Form::kLong).Bytes(), Type::kLayout1, false, true},
      {"layout 2, long", TwoEntries(2, Form::kLong).Bytes(), Type::kLayout2, false, true},
      {"layout 3, long", TwoEntries(3, Form::kLong).Bytes(), Type::kLayout3, false, true},
      {"layout 4, long", TwoEntries(4, Form::kLong).Bytes(), Type::kLayout4, false, true},
      {"layout 1, short", TwoEntries(1, Form::kShort).Bytes(), Type::kLayout1, true, true},
      {"layout 2, short", TwoEntries(2, Form::kShort).Bytes(), Type::kLayout2, true, true},
      {"layout 3, short", TwoEntries(3, Form::kShort).Bytes(), Type::kLayout3, true, true},
      {"one entry, short",
       DatabaseDirectoryBuilder::Layout(1, Form::kShort).AddEntry(Entry("ONE", '1')).Bytes(),
       Type::kLayout1, true, true},
      {"many slots", TwoEntries(3, Form::kLong).Slots(1000).Bytes(), Type::kLayout3, false, true},
      {"700-byte entries after a short header", TwoEntries(4, Form::kShort).Bytes(),
       Type::kUnrecognised, false, false},
      {"current marker", DatabaseDirectoryBuilder::Current().AddEntry(Entry("NEW", '2')).Bytes(),
       Type::kCurrent, false, false},
      {"current marker wins over old sizes",
       TwoEntries(1, Form::kLong).ReleaseMarker(0x0400).Bytes(), Type::kCurrent, false, false},
      {"no entries, long header", DatabaseDirectoryBuilder::Layout(1).Slots(4).Bytes(),
       Type::kEmpty, false, false},
      {"no entries, no slots", DatabaseDirectoryBuilder::Layout(3).Bytes(), Type::kEmpty, false,
       false},
      // 208 + 2n bytes is 4 short of the long fixed part, and the long test comes first.
      {"no entries, short header", DatabaseDirectoryBuilder::Layout(2, Form::kShort).Bytes(),
       Type::kUnrecognised, false, false},
      {"unknown entry size", TwoEntries(1, Form::kLong).EntrySize(50).Bytes(), Type::kUnrecognised,
       false, false},
      {"no entries but bytes follow",
       DatabaseDirectoryBuilder::Layout(1).Slots(2).AppendZeros(93).Bytes(), Type::kUnrecognised,
       false, false},
      {"more entries claimed than fit", TwoEntries(2, Form::kLong).ClaimedEntryCount(3).Bytes(),
       Type::kUnrecognised, false, false},
      // The entry size is the whole-number quotient, so a stray byte does not change it.
      {"one byte too many", TwoEntries(1, Form::kLong).AppendZeros(1).Bytes(), Type::kLayout1,
       false, true},
      {"first entry names its own directory", TwoEntries(3, Form::kLong, '2').Bytes(),
       Type::kLayout3, false, false},
      {"first entry of type 2, short", TwoEntries(2, Form::kShort, '2').Bytes(), Type::kLayout2,
       true, false},
      {"only a later entry of type 2",
       DatabaseDirectoryBuilder::Layout(4)
           .AddEntry(Entry("FIRST", '0'))
           .AddEntry(Entry("SECOND", '2'))
           .Bytes(),
       Type::kLayout4, false, true},
  };
  for (const auto& c : cases) {
    machine_.WriteFile(kDirectory, c.file);
    DirectoryRecognition recognition;
    EXPECT_EQ(RecogniseDirectoryFile(kDirectory, &recognition), 0) << c.name;
    EXPECT_EQ(recognition.type, c.type) << c.name;
    EXPECT_EQ(recognition.shortHeader, c.shortHeader) << c.name;
    EXPECT_EQ(recognition.intentionOptional, c.intentionOptional) << c.name;
    EXPECT_EQ(machine_.ReadFile(kDirectory), c.file) << c.name << ": the file changed";
  }
}

TEST_F(DirectoryRecognitionTest, FilesThatCannotBeReadGiveTheirCodes) {
  DirectoryRecognition recognition;
  EXPECT_EQ(RecogniseDirectoryFile(kDirectory, &recognition), -103) << "missing";

  machine_.WriteFile(kDirectory, TwoEntries(1, Form::kLong).TruncateTo(31).Bytes());
  EXPECT_EQ(RecogniseDirectoryFile(kDirectory, &recognition), -105) << "shorter than a header";

  machine_.MakeDirectory(kCopy);
  EXPECT_EQ(RecogniseDirectoryFile(kCopy, &recognition), -103) << "a folder";
}

TEST_F(DirectoryRecognitionTest, CopiesAreComparedWhole) {
  const Bytes directory = TwoEntries(1, Form::kLong).Bytes();
  Bytes oneByteOff = directory;
  oneByteOff[oneByteOff.size() / 2] ^= 0x01;
  const Bytes longer = TwoEntries(1, Form::kLong).AppendZeros(1).Bytes();
  const std::string both = std::string(kDirectory) + " and " + kCopy;
  const struct {
    const char* name;
    const Bytes* directory;  // null: missing
    const Bytes* copy;
    MigrationResult code;
    bool directoryExists;
    bool copyExists;
    int64_t size;
    std::string object;
  } cases[] = {
      {"equal", &directory, &directory, 0, true, true, static_cast<int64_t>(directory.size()), ""},
      {"one byte differs", &directory, &oneByteOff, -101, true, true,
       static_cast<int64_t>(directory.size()), both},
      {"sizes differ", &directory, &longer, -101, true, true,
       static_cast<int64_t>(directory.size()), both},
      {"only the directory file", &directory, nullptr, 0, true, false,
       static_cast<int64_t>(directory.size()), ""},
      {"only the copy", nullptr, &longer, 0, false, true, static_cast<int64_t>(longer.size()), ""},
      {"neither", nullptr, nullptr, 0, false, false, 0, both},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(machine_.HostPath(kDirectory));
    std::filesystem::remove(machine_.HostPath(kCopy));
    if (c.directory) machine_.WriteFile(kDirectory, *c.directory);
    if (c.copy) machine_.WriteFile(kCopy, *c.copy);
    DirectoryCopiesComparison comparison;
    EXPECT_EQ(CompareDirectoryCopies(kDirectory, kCopy, &comparison), c.code) << c.name;
    EXPECT_EQ(comparison.directoryExists, c.directoryExists) << c.name;
    EXPECT_EQ(comparison.copyExists, c.copyExists) << c.name;
    EXPECT_EQ(comparison.sizeToConvert, c.size) << c.name;
    EXPECT_EQ(comparison.object.c_str(), c.object) << c.name;
    if (c.directory) {
      EXPECT_EQ(machine_.ReadFile(kDirectory), *c.directory) << c.name;
    }
    if (c.copy) {
      EXPECT_EQ(machine_.ReadFile(kCopy), *c.copy) << c.name;
    }
  }
}

}  // namespace
}  // namespace qz7::migrate
