#include "tools/sample/database_directory_builder.h"

#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <utility>

#include "base/coding.h"

namespace qz7::sample {
namespace {

constexpr size_t kLongHeader = 32;
constexpr size_t kShortHeader = 30;
constexpr size_t kLongBlock = 176;
constexpr size_t kShortBlock = 174;
constexpr size_t kBackupHeader = 96;
constexpr uint16_t kEarlierMarker = 0x0300;

void Append16(DirectoryBytes& bytes, uint16_t value) {
  unsigned char field[2];
  base::StoreLE16(field, value);
  bytes.insert(bytes.end(), field, field + 2);
}

void Append32(DirectoryBytes& bytes, uint32_t value) {
  unsigned char field[4];
  base::StoreLE32(field, value);
  bytes.insert(bytes.end(), field, field + 4);
}

// One entry of entrySize bytes. Texts that do not fit the entry are left out.
DirectoryBytes EncodeEntry(const DirectoryEntryFields& fields, int layout, size_t entrySize) {
  DirectoryBytes entry(entrySize, fields.fill);
  auto text = [&](size_t offset, size_t width, const std::string& value) {
    if (offset + width <= entrySize) PutDirectoryText(entry, offset, width, value);
  };
  text(0, 9, fields.name);
  text(9, 9, fields.databaseName);
  if (entrySize > 18) entry[18] = static_cast<unsigned char>(fields.type);
  text(19, 9, fields.subdirectory);
  // The path field reaches to the next field of each layout: 3 bytes in layouts 1, 2 and
  // short 3 (a drive such as "C:"), 256 in long 3, 4 and the current layout.
  const size_t pathOffset = layout == 2 ? 37 : 38;
  const size_t pathWidth = entrySize >= 356 ? 256 : 3;
  text(pathOffset, pathWidth, fields.path);
  if (layout == 97 && entrySize >= 720) {
    PutDirectoryText(entry, 709, 4, "QZ7");
    base::StoreLE16(&entry[718], 0x0900);
  }
  return entry;
}

}  // namespace

void PutDirectoryText(DirectoryBytes& bytes, size_t offset, size_t width, const std::string& text) {
  if (width == 0) return;
  const size_t length = std::min(text.size(), width - 1);
  std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(length),
            bytes.begin() + static_cast<std::ptrdiff_t>(offset));
  std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(offset + length),
            bytes.begin() + static_cast<std::ptrdiff_t>(offset + width), 0);
}

std::string DirectoryText(const DirectoryBytes& bytes, size_t offset, size_t width) {
  std::string text;
  for (size_t i = offset; i < offset + width && i < bytes.size() && bytes[i] != 0; ++i) {
    text.push_back(static_cast<char>(bytes[i]));
  }
  return text;
}

size_t DirectoryEntrySize(int layout, DirectoryHeaderForm form) {
  const bool shortForm = form == DirectoryHeaderForm::kShort;
  switch (layout) {
    case 1:
      return 93;
    case 2:
      return 92;
    case 3:
      return shortForm ? 101 : 356;
    case 4:
      return shortForm ? 0 : 700;
    case kCurrentDirectoryLayout:
      return 720;
    default:
      throw std::invalid_argument("unknown directory layout " + std::to_string(layout));
  }
}

DatabaseDirectoryBuilder::DatabaseDirectoryBuilder(int layout, DirectoryHeaderForm form)
    : layout_(layout),
      form_(form),
      signature_(layout == kCurrentDirectoryLayout ? "QZ7 DIRECTORY" : "SQL DIRECTORY"),
      releaseMarker_(layout == kCurrentDirectoryLayout ? kCurrentDirectoryMarker : kEarlierMarker),
      entrySize_(DirectoryEntrySize(layout, form)) {
  // Layout 4 has no short form; a test that asks for one gets 700-byte entries after it.
  if (entrySize_ == 0) entrySize_ = DirectoryEntrySize(layout, DirectoryHeaderForm::kLong);
}

DatabaseDirectoryBuilder DatabaseDirectoryBuilder::Layout(int layout, DirectoryHeaderForm form) {
  if (layout < 1 || layout > 4) throw std::invalid_argument("earlier layouts are 1 to 4");
  return DatabaseDirectoryBuilder(layout, form);
}

DatabaseDirectoryBuilder DatabaseDirectoryBuilder::Current() {
  return DatabaseDirectoryBuilder(kCurrentDirectoryLayout, DirectoryHeaderForm::kLong);
}

DatabaseDirectoryBuilder& DatabaseDirectoryBuilder::Signature(const std::string& text) {
  signature_ = text;
  return *this;
}
DatabaseDirectoryBuilder& DatabaseDirectoryBuilder::ReleaseMarker(uint16_t marker) {
  releaseMarker_ = marker;
  return *this;
}
DatabaseDirectoryBuilder& DatabaseDirectoryBuilder::SecondCount(uint16_t count) {
  secondCount_ = count;
  return *this;
}
DatabaseDirectoryBuilder& DatabaseDirectoryBuilder::HeaderValue(uint32_t value) {
  headerValue_ = value;
  return *this;
}
DatabaseDirectoryBuilder& DatabaseDirectoryBuilder::BlockValue(uint16_t value) {
  blockValue_ = value;
  return *this;
}
DatabaseDirectoryBuilder& DatabaseDirectoryBuilder::Slots(uint16_t n) {
  slots_ = n;
  return *this;
}
DatabaseDirectoryBuilder& DatabaseDirectoryBuilder::AddEntry(const DirectoryEntryFields& entry) {
  entries_.push_back(entry);
  return *this;
}
DatabaseDirectoryBuilder& DatabaseDirectoryBuilder::EntrySize(size_t size) {
  entrySize_ = size;
  return *this;
}
DatabaseDirectoryBuilder& DatabaseDirectoryBuilder::ClaimedEntryCount(uint16_t count) {
  claimedEntryCount_ = count;
  return *this;
}
DatabaseDirectoryBuilder& DatabaseDirectoryBuilder::TruncateTo(size_t size) {
  truncateTo_ = size;
  return *this;
}
DatabaseDirectoryBuilder& DatabaseDirectoryBuilder::AppendZeros(size_t count) {
  appendZeros_ = count;
  return *this;
}

DirectoryBytes DatabaseDirectoryBuilder::Bytes() const {
  const bool shortForm = form_ == DirectoryHeaderForm::kShort;
  DirectoryBytes bytes(shortForm ? kShortHeader : kLongHeader, 0);
  PutDirectoryText(bytes, 0, 18, signature_);
  base::StoreLE16(&bytes[18], releaseMarker_);
  base::StoreLE16(&bytes[20], claimedEntryCount_.value_or(static_cast<uint16_t>(entries_.size())));
  base::StoreLE16(&bytes[22], secondCount_);
  base::StoreLE16(&bytes[24], slots_);
  base::StoreLE32(&bytes[shortForm ? 26 : 28], headerValue_);

  // The block: the 16-bit value (2 zero bytes after it in the long form), 43 bucket offsets.
  const size_t blockStart = bytes.size();
  Append16(bytes, blockValue_);
  if (!shortForm) Append16(bytes, 0);
  bytes.resize(blockStart + (shortForm ? kShortBlock : kLongBlock), 0);

  for (const DirectoryEntryFields& entry : entries_) {
    const DirectoryBytes encoded = EncodeEntry(entry, layout_, entrySize_);
    bytes.insert(bytes.end(), encoded.begin(), encoded.end());
  }
  for (uint16_t slot = 1; slot <= slots_; ++slot) Append16(bytes, slot);
  Append32(bytes, headerValue_);
  bytes.resize(bytes.size() + appendZeros_, 0);
  if (truncateTo_ && *truncateTo_ < bytes.size()) bytes.resize(*truncateTo_);
  return bytes;
}

DirectoryBytes EmptyCurrentDirectoryBytes() {
  DirectoryBytes bytes(kLongHeader + kLongBlock + 4, 0);
  PutDirectoryText(bytes, 0, 18, "QZ7 DIRECTORY");
  base::StoreLE16(&bytes[18], kCurrentDirectoryMarker);
  return bytes;
}

DirectoryBytes EmptyCurrentIntentionBytes() { return DirectoryBytes(540, 0); }

IntentionFileBuilder::IntentionFileBuilder(int layout) : layout_(layout) {
  if (layout < 1 || layout > 4) throw std::invalid_argument("earlier layouts are 1 to 4");
}
IntentionFileBuilder& IntentionFileBuilder::Value(uint16_t value) {
  value_ = value;
  return *this;
}
IntentionFileBuilder& IntentionFileBuilder::Name(const std::string& text) {
  name_ = text;
  return *this;
}
IntentionFileBuilder& IntentionFileBuilder::FirstPath(const std::string& text) {
  first_ = text;
  return *this;
}
IntentionFileBuilder& IntentionFileBuilder::SecondPath(const std::string& text) {
  second_ = text;
  return *this;
}
IntentionFileBuilder& IntentionFileBuilder::Extra(const std::string& text) {
  extra_ = text;
  return *this;
}

DirectoryBytes IntentionFileBuilder::Bytes() const {
  const bool small = layout_ <= 2;
  const size_t pathWidth = small ? 13 : 256;
  const size_t size = small ? 37 : layout_ == 3 ? 523 : 534;
  DirectoryBytes bytes(size, 0);
  base::StoreLE16(&bytes[0], value_);
  PutDirectoryText(bytes, 2, 9, name_);
  PutDirectoryText(bytes, 11, pathWidth, first_);
  PutDirectoryText(bytes, 11 + pathWidth, pathWidth, second_);
  if (layout_ == 4) PutDirectoryText(bytes, 523, 10, extra_);
  return bytes;
}

DirectoryBackupBuilder::DirectoryBackupBuilder()
    : signature_("QZ7 DATABASE DIRECTORY FILE BACKUP") {}

DirectoryBackupBuilder& DirectoryBackupBuilder::Signature(const std::string& text) {
  signature_ = text;
  return *this;
}
DirectoryBackupBuilder& DirectoryBackupBuilder::LayoutName(const std::string& text) {
  layoutName_ = text;
  return *this;
}
DirectoryBackupBuilder& DirectoryBackupBuilder::Status(char status) {
  status_ = status;
  return *this;
}
DirectoryBackupBuilder& DirectoryBackupBuilder::DirectoryCopy(const DirectoryBytes& bytes) {
  directory_ = bytes;
  return *this;
}
DirectoryBackupBuilder& DirectoryBackupBuilder::IntentionCopy(const DirectoryBytes& bytes) {
  intention_ = bytes;
  return *this;
}
DirectoryBackupBuilder& DirectoryBackupBuilder::TruncateTo(size_t size) {
  truncateTo_ = size;
  return *this;
}

DirectoryBytes DirectoryBackupBuilder::Bytes() const {
  DirectoryBytes bytes(kBackupHeader, 0);
  PutDirectoryText(bytes, 0, 40, signature_);
  PutDirectoryText(bytes, 40, 22, layoutName_);
  PutDirectoryText(bytes, 62, 22, "QZ7 V3.x");
  bytes[84] = static_cast<unsigned char>(status_);
  base::StoreLE32(&bytes[88], static_cast<uint32_t>(kBackupHeader));
  base::StoreLE32(&bytes[92], static_cast<uint32_t>(kBackupHeader + directory_.size()));
  bytes.insert(bytes.end(), directory_.begin(), directory_.end());
  bytes.insert(bytes.end(), intention_.begin(), intention_.end());
  if (truncateTo_ && *truncateTo_ < bytes.size()) bytes.resize(*truncateTo_);
  return bytes;
}

BackupFileView ReadBackupFile(const DirectoryBytes& bytes) {
  BackupFileView view;
  if (bytes.size() < kBackupHeader) return view;
  view.signature = DirectoryText(bytes, 0, 40);
  view.layoutName = DirectoryText(bytes, 40, 22);
  view.releaseLabel = DirectoryText(bytes, 62, 22);
  view.status = static_cast<char>(bytes[84]);
  view.directoryStart = base::LoadLE32(&bytes[88]);
  view.directoryEnd = base::LoadLE32(&bytes[92]);
  if (view.directoryStart != kBackupHeader || view.directoryEnd < view.directoryStart ||
      view.directoryEnd > bytes.size()) {
    return view;
  }
  view.directory.assign(bytes.begin() + view.directoryStart, bytes.begin() + view.directoryEnd);
  view.intention.assign(bytes.begin() + view.directoryEnd, bytes.end());
  view.parsed = true;
  return view;
}

}  // namespace qz7::sample
