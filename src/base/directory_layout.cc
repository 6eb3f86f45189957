#include "base/directory_layout.h"

#include <cstring>
#include <tuple>

#include "base/coding.h"

namespace qz7::base {
namespace {

// Copies a text into a zero-padded field of width bytes, cut to width - 1 characters.
void StoreText(unsigned char* field, size_t width, const char* text) {
  std::memset(field, 0, width);
  const size_t length = strnlen(text, width - 1);
  std::memcpy(field, text, length);
}

template <size_t N>
void LoadText(const unsigned char* field, size_t width, FixedText<N>* text) {
  char buffer[N] = {};
  const size_t length = strnlen(reinterpret_cast<const char*>(field), width < N ? width : N - 1);
  std::memcpy(buffer, field, length);
  *text = buffer;
}

// One member of a header record to and from its bytes, by the member's type.
void Load(const unsigned char* field, size_t, uint16_t* value) { *value = LoadLE16(field); }
void Load(const unsigned char* field, size_t, uint32_t* value) { *value = LoadLE32(field); }
void Load(const unsigned char* field, size_t, char* value) { *value = static_cast<char>(field[0]); }
template <size_t N>
void Load(const unsigned char* field, size_t width, FixedText<N>* text) {
  LoadText(field, width, text);
}
void Store(unsigned char* field, size_t, uint16_t value) { StoreLE16(field, value); }
void Store(unsigned char* field, size_t, uint32_t value) { StoreLE32(field, value); }
void Store(unsigned char* field, size_t, char value) {
  field[0] = static_cast<unsigned char>(value);
}
template <size_t N>
void Store(unsigned char* field, size_t width, const FixedText<N>& text) {
  StoreText(field, width, text.c_str());
}

// Every column of a record read from or written to bytes; offsetOf picks a column's offset.
template <typename Record, typename Columns, typename OffsetOf>
void DecodeColumns(const Columns& columns, OffsetOf offsetOf, const unsigned char* bytes,
                   Record* record) {
  std::apply(
      [&](const auto&... column) {
        (Load(bytes + offsetOf(column), column.width, &(record->*column.member)), ...);
      },
      columns);
}
template <typename Record, typename Columns, typename OffsetOf>
void EncodeColumns(const Columns& columns, OffsetOf offsetOf, const Record& record,
                   unsigned char* bytes) {
  std::apply(
      [&](const auto&... column) {
        (Store(bytes + offsetOf(column), column.width, record.*column.member), ...);
      },
      columns);
}

auto HeaderOffset(bool shortHeader) {
  return [shortHeader](const auto& column) {
    return shortHeader ? column.shortOffset : column.longOffset;
  };
}
constexpr auto kBackupOffset = [](const auto& column) { return column.offset; };

struct LayoutName {
  DirectoryLayoutType type;
  const char* name;
};
constexpr LayoutName kLayoutNames[] = {
    {DirectoryLayoutType::kLayout1, "TYPE1_DECB"},    {DirectoryLayoutType::kLayout2, "TYPE2_DECB"},
    {DirectoryLayoutType::kLayout3, "TYPE3_DECB"},    {DirectoryLayoutType::kLayout4, "TYPE4_DECB"},
    {DirectoryLayoutType::kEmpty, "EMPTY DIRECTORY"},
};

}  // namespace

DirectoryHeader DecodeDirectoryHeader(const unsigned char* bytes, bool shortHeader) {
  DirectoryHeader header;
  DecodeColumns(kDirectoryHeaderColumns, HeaderOffset(shortHeader), bytes, &header);
  return header;
}

void EncodeDirectoryHeader(const DirectoryHeader& header, bool shortHeader, unsigned char* bytes) {
  std::memset(bytes, 0, shortHeader ? kShortHeaderSize : kLongHeaderSize);
  EncodeColumns(kDirectoryHeaderColumns, HeaderOffset(shortHeader), header, bytes);
}

void EncodeEmptyCurrentHeader(unsigned char (&header)[kLongHeaderSize]) {
  DirectoryHeader empty;
  empty.signature = kCurrentDirectorySignature;
  empty.releaseMarker = kCurrentReleaseMarker;
  EncodeDirectoryHeader(empty, false, header);
}

const char* DirectoryLayoutName(DirectoryLayoutType type) {
  for (const LayoutName& entry : kLayoutNames) {
    if (entry.type == type) return entry.name;
  }
  return "";
}

DirectoryBackupHeader DecodeBackupHeader(const unsigned char (&bytes)[kBackupHeaderSize]) {
  DirectoryBackupHeader header;
  DecodeColumns(kBackupHeaderColumns, kBackupOffset, bytes, &header);
  header.signatureMatches = std::memcmp(bytes, kBackupSignature, kBackupSignatureCheckLength) == 0;
  return header;
}

void EncodeBackupHeader(const DirectoryBackupHeader& header,
                        unsigned char (&bytes)[kBackupHeaderSize]) {
  std::memset(bytes, 0, kBackupHeaderSize);
  EncodeColumns(kBackupHeaderColumns, kBackupOffset, header, bytes);
}

void StoreBackupStatus(unsigned char (&bytes)[kBackupHeaderSize], char status) {
  bytes[BackupHeaderOffset<&DirectoryBackupHeader::status>()] = static_cast<unsigned char>(status);
}

int64_t BackupDirectoryLength(const DirectoryBackupHeader& header) {
  return static_cast<int64_t>(header.directoryEnd) - static_cast<int64_t>(header.directoryStart);
}

bool IsValidBackupHeader(const DirectoryBackupHeader& header) {
  return header.signatureMatches && BackupDirectoryLength(header) != 0;
}

}  // namespace qz7::base
