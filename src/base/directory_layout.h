// The files of a system database directory as the migration driver sees them: the header of
// a directory file in its long and short forms, the layouts that the entry sizes tell apart,
// the empty directory of the current layout, and the header of the migration backup file.
#ifndef QZ7_BASE_DIRECTORY_LAYOUT_H_
#define QZ7_BASE_DIRECTORY_LAYOUT_H_

#include <cstddef>
#include <cstdint>
#include <tuple>
#include <type_traits>

#include "base/fixed_text.h"

namespace qz7::base {

// ---- Directory file header ----

// A directory file begins with a 32-byte header (the current layout, and earlier layouts with
// the long header) or a 30-byte header (earlier layouts with the short header). It is
// followed by the hash block, the entries, the slots and a closing 32-bit value.
constexpr size_t kLongHeaderSize = 32;
constexpr size_t kShortHeaderSize = 30;
constexpr size_t kLongBlockSize = 176;
constexpr size_t kShortBlockSize = 174;
constexpr size_t kClosingFieldSize = 4;
constexpr size_t kLongFixedSize = kLongHeaderSize + kLongBlockSize + kClosingFieldSize;     // 212
constexpr size_t kShortFixedSize = kShortHeaderSize + kShortBlockSize + kClosingFieldSize;  // 208
constexpr size_t kSlotSize = 2;

constexpr uint16_t kCurrentReleaseMarker = 0x0400;
constexpr const char* kCurrentDirectorySignature = "QZ7 DIRECTORY";

struct DirectoryHeader {
  FixedText<19> signature;     // the 18-byte field, always terminated here
  uint16_t releaseMarker = 0;  // 0x0400 is the current layout
  uint16_t entryCount = 0;
  uint16_t secondCount = 0;  // carried unchanged by the converters
  uint16_t slotCount = 0;    // the number of 2-byte slots
  uint32_t headerValue = 0;  // the header's last field
};

// Where a member of a header record sits in each header form, and how many bytes it has.
template <auto Member>
struct HeaderColumn {
  static constexpr auto member = Member;
  size_t longOffset;
  size_t shortOffset;
  size_t width;
};

// The long header has two zero bytes at 26 and 27 and carries the 32-bit value at 28, where
// the short header has it at 26. A text member is zero-padded to its width.
inline constexpr std::tuple kDirectoryHeaderColumns{
    HeaderColumn<&DirectoryHeader::signature>{0, 0, 18},
    HeaderColumn<&DirectoryHeader::releaseMarker>{18, 18, 2},
    HeaderColumn<&DirectoryHeader::entryCount>{20, 20, 2},
    HeaderColumn<&DirectoryHeader::secondCount>{22, 22, 2},
    HeaderColumn<&DirectoryHeader::slotCount>{24, 24, 2},
    HeaderColumn<&DirectoryHeader::headerValue>{28, 26, 4},
};

// Reads a header of kLongHeaderSize or kShortHeaderSize bytes.
DirectoryHeader DecodeDirectoryHeader(const unsigned char* bytes, bool shortHeader);
// Writes a header of kLongHeaderSize or kShortHeaderSize bytes; bytes no field covers are 0.
void EncodeDirectoryHeader(const DirectoryHeader& header, bool shortHeader, unsigned char* bytes);

// The empty directory file of the current layout: the 32-byte header ("QZ7 DIRECTORY",
// release marker 0x0400, all else zero), a zero block of 176 bytes and a zero 32-bit field,
// 212 bytes in all; its intention file is 540 zero bytes.
constexpr size_t kIntentionFileSize = 540;
// The fields of the current intention file: a 16-bit value, then zero-terminated texts; the
// rest of the file is zero. Earlier layouts hold some of them elsewhere (the conversion's rows).
struct IntentionField {
  const char* name;
  size_t offset;
  size_t width;
  bool number;  // a 16-bit value, else a zero-terminated text
};
inline constexpr IntentionField kIntentionFields[] = {
    {"value", 0, 2, true},           {"name", 2, 9, false},     {"firstPath", 11, 256, false},
    {"secondPath", 267, 256, false}, {"extra", 523, 10, false},
};
static_assert(kIntentionFields[4].offset + kIntentionFields[4].width <= kIntentionFileSize);
void EncodeEmptyCurrentHeader(unsigned char (&header)[kLongHeaderSize]);

// ---- Layouts ----

enum class DirectoryLayoutType : int {
  kLayout1 = 1,
  kLayout2 = 2,
  kLayout3 = 3,
  kLayout4 = 4,
  kCurrent = 97,       // release marker 0x0400, entries of 720 bytes
  kEmpty = 98,         // no entries
  kUnrecognised = 99,  // no known entry size
};

constexpr size_t kCurrentEntrySize = 720;

// The entry size of each earlier layout under each header form; 0 where there is none.
struct DirectoryEntrySizes {
  DirectoryLayoutType type;
  size_t longHeader;
  size_t shortHeader;
};
inline constexpr DirectoryEntrySizes kDirectoryEntrySizes[] = {
    {DirectoryLayoutType::kLayout1, 93, 93},
    {DirectoryLayoutType::kLayout2, 92, 92},
    {DirectoryLayoutType::kLayout3, 356, 101},
    {DirectoryLayoutType::kLayout4, 700, 0},
};

// Byte 18 of every entry, in every layout, is the entry type; "2" marks an entry naming its
// database's own directory, which needs the intention file.
constexpr size_t kEntryTypeOffset = 18;
constexpr char kEntryTypeOwnDirectory = '2';

// ---- Current entry ----

// Fields of the current 720-byte entry (offset, width).
constexpr size_t kEntryCatalogNameOffset = 0;  // name under which the database is catalogued
constexpr size_t kEntryNameSize = 9;
constexpr size_t kEntryDatabaseNameOffset = 9;   // name in the local database directory
constexpr size_t kEntrySubdirectoryOffset = 19;  // the database's subdirectory name
constexpr size_t kEntryNameTextOffset = 28;  // name text; the node a database is reached through
constexpr size_t kEntryFlagOffset = 37;
constexpr size_t kEntryPathOffset = 38;  // drive or directory of the database
constexpr size_t kEntryPathSize = 256;
constexpr size_t kEntryCommentOffset = 294;
constexpr size_t kEntryCommentSize = 32;
constexpr size_t kEntryDatabaseInfoOffset = 344;  // the block a local database supplies
constexpr size_t kEntryDatabaseInfoSize = 312;
constexpr size_t kEntryLocalRangeEnd = 688;  // 344 to 687 come from a local directory entry
constexpr size_t kEntryInfoLengthOffset = 656;
constexpr uint32_t kEntryInfoLengthDefault = 32;
constexpr size_t kEntryCodeSetOffset = 672;
constexpr size_t kEntryTerritoryOffset = 682;
constexpr size_t kEntryProductOffset = 709;
constexpr const char* kEntryProductText = "QZ7";
constexpr size_t kEntryProductSize = 4;
constexpr size_t kEntryReleaseOffset = 718;
constexpr uint16_t kEntryReleaseValue = 0x0900;

// Entry type characters at offset 18.
constexpr char kEntryTypeLocal = '0';  // found through the local database directory of its drive
constexpr char kEntryTypeCarried = '1';

// The fields of the current entry that have a meaning, by name, as a reader shows them; the
// database block at 344 (filled from a local database's files) by the parts the local check
// writes.
enum class EntryFieldKind : uint8_t { kText, kChar, kByte, kU16, kU32, kHex16, kHex32 };
struct EntryField {
  const char* name;
  size_t offset;
  size_t width;
  EntryFieldKind kind;
};
inline constexpr EntryField kCurrentEntryFields[] = {
    {"name", kEntryCatalogNameOffset, kEntryNameSize, EntryFieldKind::kText},
    {"databaseName", kEntryDatabaseNameOffset, kEntryNameSize, EntryFieldKind::kText},
    {"type", kEntryTypeOffset, 1, EntryFieldKind::kChar},
    {"subdirectory", kEntrySubdirectoryOffset, kEntryNameSize, EntryFieldKind::kText},
    {"nameText", kEntryNameTextOffset, kEntryNameSize, EntryFieldKind::kText},
    {"flag", kEntryFlagOffset, 1, EntryFieldKind::kByte},
    {"path", kEntryPathOffset, kEntryPathSize, EntryFieldKind::kText},
    {"comment", kEntryCommentOffset, kEntryCommentSize, EntryFieldKind::kText},
    {"field326", 326, 2, EntryFieldKind::kU16},
    {"field336", 336, 4, EntryFieldKind::kU32},
    {"field340", 340, 2, EntryFieldKind::kU16},
    {"field342", 342, 2, EntryFieldKind::kU16},
    {"infoTag", kEntryDatabaseInfoOffset, 8, EntryFieldKind::kText},  // "SQLDBD02"
    {"codePage", 352, 4, EntryFieldKind::kU32},
    {"field356", 356, 4, EntryFieldKind::kHex32},
    {"field656", kEntryInfoLengthOffset, 4, EntryFieldKind::kU32},
    {"codeSet", kEntryCodeSetOffset, 10, EntryFieldKind::kText},
    {"territory", kEntryTerritoryOffset, 6, EntryFieldKind::kText},
    {"field704", 704, 4, EntryFieldKind::kU32},
    {"field708", 708, 1, EntryFieldKind::kByte},
    {"product", kEntryProductOffset, kEntryProductSize, EntryFieldKind::kText},
    {"release", kEntryReleaseOffset, 2, EntryFieldKind::kHex16},
};

// The layout name that the migration backup records for a type; "" for 97 and 99.
const char* DirectoryLayoutName(DirectoryLayoutType type);

// ---- Migration backup ----

// SQLDDDIR.TMP / SQLDDDIR.BAK: this 96-byte header, a byte-for-byte copy of the directory
// file (or of its copy), then a copy of the intention file (nothing when there was none).
constexpr size_t kBackupHeaderSize = 96;
constexpr const char* kBackupSignature = "QZ7 DATABASE DIRECTORY FILE BACKUP";
constexpr size_t kBackupSignatureCheckLength = 35;  // the signature with its terminating zero
constexpr const char* kBackupReleaseLabel = "QZ7 V3.x";
constexpr size_t kBackupReleaseOffset = 62;
constexpr size_t kBackupReleaseWidth = 22;
constexpr char kBackupStatusIncomplete = 'I';
constexpr char kBackupStatusComplete = 'C';

struct DirectoryBackupHeader {
  FixedText<41> signature;
  FixedText<23> layoutName;
  FixedText<23> releaseLabel;
  char status = 0;              // 'I' or 'C'; 3 zero bytes follow
  uint32_t directoryStart = 0;  // file offset where the directory copy starts (96)
  uint32_t directoryEnd = 0;    // file offset just past the directory copy
  // True when the first 35 bytes were exactly the signature and its terminating zero (set
  // by decoding; encoding ignores it).
  bool signatureMatches = false;
};

template <auto Member>
struct BackupColumn {
  static constexpr auto member = Member;
  size_t offset;
  size_t width;
};

inline constexpr std::tuple kBackupHeaderColumns{
    BackupColumn<&DirectoryBackupHeader::signature>{0, 40},
    BackupColumn<&DirectoryBackupHeader::layoutName>{40, 22},
    BackupColumn<&DirectoryBackupHeader::releaseLabel>{kBackupReleaseOffset, kBackupReleaseWidth},
    BackupColumn<&DirectoryBackupHeader::status>{84, 1},
    BackupColumn<&DirectoryBackupHeader::directoryStart>{88, 4},
    BackupColumn<&DirectoryBackupHeader::directoryEnd>{92, 4},
};

template <auto A, auto B>
constexpr bool SameMember() {
  if constexpr (std::is_same_v<decltype(A), decltype(B)>) {
    return A == B;
  } else {
    return false;
  }
}

// Where a member of the backup header starts.
template <auto Member>
consteval size_t BackupHeaderOffset() {
  size_t offset = kBackupHeaderSize;
  std::apply(
      [&](const auto&... column) {
        ((SameMember<std::remove_cvref_t<decltype(column)>::member, Member>()
              ? offset = column.offset
              : offset),
         ...);
      },
      kBackupHeaderColumns);
  if (offset == kBackupHeaderSize) throw "no column for this member";
  return offset;
}

DirectoryBackupHeader DecodeBackupHeader(const unsigned char (&bytes)[kBackupHeaderSize]);
// Texts are cut to their field width minus one and zero-padded; bytes no field covers are 0.
void EncodeBackupHeader(const DirectoryBackupHeader& header,
                        unsigned char (&bytes)[kBackupHeaderSize]);
// Sets the status byte of an encoded header, leaving every other byte as it is.
void StoreBackupStatus(unsigned char (&bytes)[kBackupHeaderSize], char status);
// A header whose directory copy's length is not 0 and whose signature matches.
[[nodiscard]] bool IsValidBackupHeader(const DirectoryBackupHeader& header);
// The directory copy's length: directoryEnd - directoryStart (negative when damaged).
int64_t BackupDirectoryLength(const DirectoryBackupHeader& header);

}  // namespace qz7::base

#endif  // QZ7_BASE_DIRECTORY_LAYOUT_H_
