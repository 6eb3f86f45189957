// Builds the files of a system database directory from named fields: directory files of the
// four earlier layouts (long or short header) and of the current layout, the empty current
// directory, intention files, and migration backup files (SQLDDDIR.TMP / .BAK) with any
// status and signature, damaged on purpose when a test wants that.
//
//   auto old = DatabaseDirectoryBuilder::Layout(2, DirectoryHeaderForm::kShort)
//                  .AddEntry({.name = "SAMPLE", .type = '1', .path = "C:"})
//                  .Slots(3)
//                  .Bytes();
//   auto backup = DirectoryBackupBuilder().Status('C').DirectoryCopy(old).Bytes();
#ifndef QZ7_TOOLS_SAMPLE_DATABASE_DIRECTORY_BUILDER_H_
#define QZ7_TOOLS_SAMPLE_DATABASE_DIRECTORY_BUILDER_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qz7::sample {

using DirectoryBytes = std::vector<unsigned char>;

enum class DirectoryHeaderForm {
  kLong,   // 32-byte header, 176-byte block
  kShort,  // 30-byte header, 174-byte block
};

// A text field of directory bytes. PutDirectoryText writes text cut to width - 1 characters
// and zero-padded (nothing for width 0); DirectoryText reads up to the first zero, the end of
// the field or the end of the bytes.
void PutDirectoryText(DirectoryBytes& bytes, size_t offset, size_t width, const std::string& text);
std::string DirectoryText(const DirectoryBytes& bytes, size_t offset, size_t width);

// The layout number of the current layout (release marker 0x0400, entries of 720 bytes).
constexpr int kCurrentDirectoryLayout = 97;
constexpr uint16_t kCurrentDirectoryMarker = 0x0400;

// The entry size of a layout (1 to 4, or kCurrentDirectoryLayout) under a header form:
// 93, 92, 356 (101 short), 700 (none short: 0), 720.
size_t DirectoryEntrySize(int layout, DirectoryHeaderForm form);

// One entry by its fields; what no field names stays zero.
struct DirectoryEntryFields {
  std::string name;          // offset 0, 9 bytes: the name the database is catalogued under
  std::string databaseName;  // offset 9, 9 bytes
  char type = '1';           // offset 18: '0', '1' or '2'
  std::string subdirectory;  // offset 19, 9 bytes
  std::string path;          // offset 38 (37 in layout 2): drive or directory of the database
  unsigned char fill = 0;    // every byte that no field covers (to see what a copy carries)
};

class DatabaseDirectoryBuilder {
 public:
  // A directory file of layout 1 to 4 with no entries and no slots: signature "SQL DIRECTORY",
  // release marker 0x0300.
  static DatabaseDirectoryBuilder Layout(int layout,
                                         DirectoryHeaderForm form = DirectoryHeaderForm::kLong);
  // A directory file of the current layout (long header, marker 0x0400, "QZ7 DIRECTORY").
  static DatabaseDirectoryBuilder Current();

  DatabaseDirectoryBuilder& Signature(const std::string& text);  // offset 0, 18 bytes
  DatabaseDirectoryBuilder& ReleaseMarker(uint16_t marker);      // offset 18
  DatabaseDirectoryBuilder& SecondCount(uint16_t count);         // offset 22
  DatabaseDirectoryBuilder& HeaderValue(uint32_t value);  // 28 long / 26 short; also last 4 bytes
  DatabaseDirectoryBuilder& BlockValue(uint16_t value);   // the block's first 16-bit value
  // n slots after the entries, holding 1, 2, ..., n.
  DatabaseDirectoryBuilder& Slots(uint16_t n);
  DatabaseDirectoryBuilder& AddEntry(const DirectoryEntryFields& entry);
  // Entries of another size than the layout's (an unknown layout, or layout 4 after a short
  // header).
  DatabaseDirectoryBuilder& EntrySize(size_t size);
  // The number of entries the header claims, when it must differ from the entries added.
  DatabaseDirectoryBuilder& ClaimedEntryCount(uint16_t count);
  // Cut the file to this many bytes, or append extra zero bytes.
  DatabaseDirectoryBuilder& TruncateTo(size_t size);
  DatabaseDirectoryBuilder& AppendZeros(size_t count);

  DirectoryBytes Bytes() const;

 private:
  DatabaseDirectoryBuilder(int layout, DirectoryHeaderForm form);

  int layout_;
  DirectoryHeaderForm form_;
  std::string signature_;
  uint16_t releaseMarker_;
  uint16_t secondCount_ = 0;
  uint32_t headerValue_ = 0;
  uint16_t blockValue_ = 0;
  uint16_t slots_ = 0;
  size_t entrySize_;
  std::vector<DirectoryEntryFields> entries_;
  std::optional<uint16_t> claimedEntryCount_;
  std::optional<size_t> truncateTo_;
  size_t appendZeros_ = 0;
};

// The empty directory file of the current layout (212 bytes) and its intention file (540
// zero bytes), as the migration writes them for an empty old directory.
DirectoryBytes EmptyCurrentDirectoryBytes();
DirectoryBytes EmptyCurrentIntentionBytes();

// An intention file of an earlier layout by its fields: a 16-bit value at 0, a 9-byte text at
// 2, then two texts and a 10-byte text whose widths follow the layout (layout 2: 13 and 13,
// 37 bytes in all; layout 3: 256 and 256, 523 bytes; layout 4: 256, 256 and 10, 534 bytes;
// layout 1: like layout 2).
class IntentionFileBuilder {
 public:
  explicit IntentionFileBuilder(int layout);
  IntentionFileBuilder& Value(uint16_t value);
  IntentionFileBuilder& Name(const std::string& text);
  IntentionFileBuilder& FirstPath(const std::string& text);
  IntentionFileBuilder& SecondPath(const std::string& text);
  IntentionFileBuilder& Extra(const std::string& text);  // layout 4 only
  DirectoryBytes Bytes() const;

 private:
  int layout_;
  uint16_t value_ = 0;
  std::string name_, first_, second_, extra_;
};

// A migration backup file: the 96-byte header (signature, layout name, release label
// "QZ7 V3.x", status, the offsets of the directory copy), the directory copy and the
// intention copy. By default the offsets are the right ones (96 and 96 + directory size).
class DirectoryBackupBuilder {
 public:
  DirectoryBackupBuilder();
  DirectoryBackupBuilder& Signature(const std::string& text);   // 40 bytes at 0
  DirectoryBackupBuilder& LayoutName(const std::string& text);  // 22 bytes at 40
  DirectoryBackupBuilder& Status(char status);                  // offset 84
  DirectoryBackupBuilder& DirectoryCopy(const DirectoryBytes& bytes);
  DirectoryBackupBuilder& IntentionCopy(const DirectoryBytes& bytes);
  DirectoryBackupBuilder& TruncateTo(size_t size);
  DirectoryBytes Bytes() const;

 private:
  std::string signature_;
  std::string layoutName_ = "TYPE1_DECB";
  char status_ = 'I';
  DirectoryBytes directory_;
  DirectoryBytes intention_;
  std::optional<size_t> truncateTo_;
};

// A backup file read back by its fields, for checks. Parsed is false when the file is shorter
// than its header or its offsets do not fit it.
struct BackupFileView {
  bool parsed = false;
  std::string signature;
  std::string layoutName;
  std::string releaseLabel;
  char status = 0;
  uint32_t directoryStart = 0;
  uint32_t directoryEnd = 0;
  DirectoryBytes directory;
  DirectoryBytes intention;
};
BackupFileView ReadBackupFile(const DirectoryBytes& bytes);

}  // namespace qz7::sample

#endif  // QZ7_TOOLS_SAMPLE_DATABASE_DIRECTORY_BUILDER_H_
