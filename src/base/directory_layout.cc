#include "base/directory_layout.h"

#include <cstring>

#include "base/coding.h"

namespace qz7::migrate {
namespace {

using util::LoadLE16;
using util::LoadLE32;
using util::StoreLE16;
using util::StoreLE32;

// Copies a text into a zero-padded field of width bytes, cut to width - 1 characters.
void StoreText(unsigned char* field, size_t width, const char* text) {
  std::memset(field, 0, width);
  const size_t length = strnlen(text, width - 1);
  std::memcpy(field, text, length);
}

template <size_t N>
void LoadText(const unsigned char* field, size_t width, util::FixedText<N>* text) {
  char buffer[N] = {};
  const size_t length = strnlen(reinterpret_cast<const char*>(field), width < N ? width : N - 1);
  std::memcpy(buffer, field, length);
  *text = buffer;
}

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
  for (const DirectoryHeaderFieldSpec& spec : kDirectoryHeaderFields) {
    const unsigned char* field = bytes + (shortHeader ? spec.shortOffset : spec.longOffset);
    switch (spec.field) {
      case DirectoryHeaderField::kSignature:
        LoadText(field, spec.width, &header.signature);
        break;
      case DirectoryHeaderField::kReleaseMarker:
        header.releaseMarker = LoadLE16(field);
        break;
      case DirectoryHeaderField::kEntryCount:
        header.entryCount = LoadLE16(field);
        break;
      case DirectoryHeaderField::kSecondCount:
        header.secondCount = LoadLE16(field);
        break;
      case DirectoryHeaderField::kSlotCount:
        header.slotCount = LoadLE16(field);
        break;
      case DirectoryHeaderField::kHeaderValue:
        header.headerValue = LoadLE32(field);
        break;
    }
  }
  return header;
}

void EncodeDirectoryHeader(const DirectoryHeader& header, bool shortHeader, unsigned char* bytes) {
  std::memset(bytes, 0, shortHeader ? kShortHeaderSize : kLongHeaderSize);
  for (const DirectoryHeaderFieldSpec& spec : kDirectoryHeaderFields) {
    unsigned char* field = bytes + (shortHeader ? spec.shortOffset : spec.longOffset);
    switch (spec.field) {
      case DirectoryHeaderField::kSignature:
        StoreText(field, spec.width, header.signature.c_str());
        break;
      case DirectoryHeaderField::kReleaseMarker:
        StoreLE16(field, header.releaseMarker);
        break;
      case DirectoryHeaderField::kEntryCount:
        StoreLE16(field, header.entryCount);
        break;
      case DirectoryHeaderField::kSecondCount:
        StoreLE16(field, header.secondCount);
        break;
      case DirectoryHeaderField::kSlotCount:
        StoreLE16(field, header.slotCount);
        break;
      case DirectoryHeaderField::kHeaderValue:
        StoreLE32(field, header.headerValue);
        break;
    }
  }
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
  for (const BackupHeaderFieldSpec& spec : kBackupHeaderFields) {
    const unsigned char* field = bytes + spec.offset;
    switch (spec.field) {
      case BackupHeaderField::kSignature:
        LoadText(field, spec.width, &header.signature);
        break;
      case BackupHeaderField::kLayoutName:
        LoadText(field, spec.width, &header.layoutName);
        break;
      case BackupHeaderField::kReleaseLabel:
        LoadText(field, spec.width, &header.releaseLabel);
        break;
      case BackupHeaderField::kStatus:
        header.status = static_cast<char>(field[0]);
        break;
      case BackupHeaderField::kDirectoryStart:
        header.directoryStart = LoadLE32(field);
        break;
      case BackupHeaderField::kDirectoryEnd:
        header.directoryEnd = LoadLE32(field);
        break;
    }
  }
  header.signatureMatches = std::memcmp(bytes, kBackupSignature, kBackupSignatureCheckLength) == 0;
  return header;
}

void EncodeBackupHeader(const DirectoryBackupHeader& header,
                        unsigned char (&bytes)[kBackupHeaderSize]) {
  std::memset(bytes, 0, kBackupHeaderSize);
  for (const BackupHeaderFieldSpec& spec : kBackupHeaderFields) {
    unsigned char* field = bytes + spec.offset;
    switch (spec.field) {
      case BackupHeaderField::kSignature:
        StoreText(field, spec.width, header.signature.c_str());
        break;
      case BackupHeaderField::kLayoutName:
        StoreText(field, spec.width, header.layoutName.c_str());
        break;
      case BackupHeaderField::kReleaseLabel:
        StoreText(field, spec.width, header.releaseLabel.c_str());
        break;
      case BackupHeaderField::kStatus:
        field[0] = static_cast<unsigned char>(header.status);
        break;
      case BackupHeaderField::kDirectoryStart:
        StoreLE32(field, header.directoryStart);
        break;
      case BackupHeaderField::kDirectoryEnd:
        StoreLE32(field, header.directoryEnd);
        break;
    }
  }
}

void StoreBackupStatus(unsigned char (&bytes)[kBackupHeaderSize], char status) {
  for (const BackupHeaderFieldSpec& spec : kBackupHeaderFields) {
    if (spec.field == BackupHeaderField::kStatus)
      bytes[spec.offset] = static_cast<unsigned char>(status);
  }
}

int64_t BackupDirectoryLength(const DirectoryBackupHeader& header) {
  return static_cast<int64_t>(header.directoryEnd) - static_cast<int64_t>(header.directoryStart);
}

bool IsValidBackupHeader(const DirectoryBackupHeader& header) {
  return header.signatureMatches && BackupDirectoryLength(header) != 0;
}

}  // namespace qz7::migrate
