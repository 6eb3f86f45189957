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

// The layout name that the migration backup records for a type; "" for 97 and 99.
const char* DirectoryLayoutName(DirectoryLayoutType type);

// ---- Migration backup ----

// SQLDDDIR.TMP / SQLDDDIR.BAK: this 96-byte header, a byte-for-byte copy of the directory
// file (or of its copy), then a copy of the intention file (nothing when there was none).
constexpr size_t kBackupHeaderSize = 96;
constexpr const char* kBackupSignature = "QZ7 DATABASE DIRECTORY FILE BACKUP";
constexpr size_t kBackupSignatureCheckLength = 35;  // the signature with its terminating zero
constexpr const char* kBackupReleaseLabel = "QZ7 V3.x";
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
    BackupColumn<&DirectoryBackupHeader::releaseLabel>{62, 22},
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
