#include "tools/sample/node_directory_builder.h"

#include <algorithm>
#include <stdexcept>

#include "base/coding.h"

// The layouts are written down here on their own, not taken from the library, so that a
// fault in the library's tables shows in the tests instead of being built into their input.
namespace qz7::sample {
namespace {

constexpr size_t kHeaderSize = 28;
constexpr size_t kBackupHeaderSize = 85;
constexpr size_t kDatabaseEntrySize = 720;
constexpr size_t kDcsEntrySize = 622;

void PutText(ByteVector& bytes, size_t offset, size_t width, const std::string& text,
             bool terminated = true) {
  if (offset + width > bytes.size()) {
    throw std::out_of_range("text field at " + std::to_string(offset) + " width " +
                            std::to_string(width) + " lies past " + std::to_string(bytes.size()) +
                            " bytes");
  }
  std::fill(bytes.begin() + offset, bytes.begin() + offset + width, 0);
  const size_t length = std::min(text.size(), terminated ? width - 1 : width);
  std::copy(text.begin(), text.begin() + length, bytes.begin() + offset);
}

}  // namespace

size_t NodeLayoutEntrySize(int layout) {
  switch (layout) {
    case 1:
      return 434;
    case 2:
      return 532;
    case 3:
      return 96;
    case 4:
      return 542;
    case 5:
      return 594;
    case kCurrentNodeLayout:
      return 616;
    default:
      throw std::invalid_argument("no node directory layout " + std::to_string(layout));
  }
}

// ---- NodeEntryBuilder ----

NodeEntryBuilder::NodeEntryBuilder(int layout) : bytes_(NodeLayoutEntrySize(layout), 0) {}

void NodeEntryBuilder::CheckRange(size_t offset, size_t width) const {
  if (offset + width > bytes_.size()) {
    throw std::out_of_range("field at " + std::to_string(offset) + " width " +
                            std::to_string(width) + " lies past a " +
                            std::to_string(bytes_.size()) + "-byte entry");
  }
}

NodeEntryBuilder& NodeEntryBuilder::NodeName(const std::string& name) { return Text(0, 9, name); }

NodeEntryBuilder& NodeEntryBuilder::Text(size_t offset, size_t width, const std::string& text,
                                         bool terminated) {
  CheckRange(offset, width);
  PutText(bytes_, offset, width, text, terminated);
  return *this;
}

NodeEntryBuilder& NodeEntryBuilder::U16(size_t offset, uint16_t value) {
  CheckRange(offset, 2);
  base::StoreLE16(bytes_.data() + offset, value);
  return *this;
}

// ---- NodeDirectoryBuilder ----

NodeDirectoryBuilder::NodeDirectoryBuilder(int layout)
    : layout_(layout), releaseMarker_(layout == kCurrentNodeLayout ? 0x0300 : 0x0200) {
  NodeLayoutEntrySize(layout);  // refuses an unknown layout
}

NodeDirectoryBuilder& NodeDirectoryBuilder::Signature(const std::string& text) {
  signature_ = text;
  return *this;
}

NodeDirectoryBuilder& NodeDirectoryBuilder::HeaderValue(uint32_t value) {
  headerValue_ = value;
  return *this;
}

NodeDirectoryBuilder& NodeDirectoryBuilder::ReleaseMarker(uint16_t value) {
  releaseMarker_ = value;
  return *this;
}

NodeDirectoryBuilder& NodeDirectoryBuilder::EntryCount(uint16_t count) {
  entryCount_ = count;
  return *this;
}

NodeDirectoryBuilder& NodeDirectoryBuilder::Add(const NodeEntryBuilder& entry) {
  if (entry.Bytes().size() != NodeLayoutEntrySize(layout_)) {
    throw std::invalid_argument("entry of " + std::to_string(entry.Bytes().size()) +
                                " bytes added to a directory of layout " + std::to_string(layout_));
  }
  entries_.push_back(entry.Bytes());
  return *this;
}

NodeDirectoryBuilder& NodeDirectoryBuilder::AddRaw(const ByteVector& entry) {
  entries_.push_back(entry);
  return *this;
}

ByteVector NodeDirectoryBuilder::Bytes() const {
  ByteVector bytes(kHeaderSize, 0);
  PutText(bytes, 0, 16, signature_);
  base::StoreLE16(bytes.data() + 16, entryCount_.value_or(static_cast<uint16_t>(entries_.size())));
  base::StoreLE32(bytes.data() + 20, headerValue_);
  base::StoreLE16(bytes.data() + 24, releaseMarker_);
  for (const ByteVector& entry : entries_) bytes.insert(bytes.end(), entry.begin(), entry.end());
  unsigned char closing[4];
  base::StoreLE32(closing, headerValue_);
  bytes.insert(bytes.end(), closing, closing + 4);
  return bytes;
}

// ---- NodeBackupBuilder ----

NodeBackupBuilder::NodeBackupBuilder()
    : signature_("QZ7 NODE DIRECTORY FILE BACKUP"), layoutName_("TYPE1_DECB PACKED") {}

NodeBackupBuilder& NodeBackupBuilder::Signature(const std::string& text) {
  signature_ = text;
  return *this;
}

NodeBackupBuilder& NodeBackupBuilder::LayoutName(const std::string& name) {
  layoutName_ = name;
  return *this;
}

NodeBackupBuilder& NodeBackupBuilder::Status(char status) {
  status_ = status;
  return *this;
}

NodeBackupBuilder& NodeBackupBuilder::Data(const ByteVector& directory) {
  data_ = directory;
  return *this;
}

ByteVector NodeBackupBuilder::Bytes() const {
  ByteVector bytes(kBackupHeaderSize, 0);
  PutText(bytes, 0, 40, signature_);
  PutText(bytes, 40, 22, layoutName_);
  PutText(bytes, 62, 22, "QZ7 V6.x");
  bytes[84] = static_cast<unsigned char>(status_);
  bytes.insert(bytes.end(), data_.begin(), data_.end());
  return bytes;
}

// ---- CurrentDatabaseDirectoryBuilder ----

CurrentDatabaseDirectoryBuilder& CurrentDatabaseDirectoryBuilder::Add(
    const std::string& cataloguedName, const std::string& databaseName, char type,
    const std::string& nameText) {
  ByteVector entry(kDatabaseEntrySize, 0);
  PutText(entry, 0, 9, cataloguedName);
  PutText(entry, 9, 9, databaseName);
  entry[18] = static_cast<unsigned char>(type);
  PutText(entry, 28, 9, nameText);
  PutText(entry, 709, 4, "QZ7");
  base::StoreLE16(entry.data() + 718, 0x0900);
  entries_.push_back(std::move(entry));
  return *this;
}

ByteVector CurrentDatabaseDirectoryBuilder::Bytes() const {
  ByteVector bytes(32 + 176, 0);
  PutText(bytes, 0, 18, "QZ7 DIRECTORY");
  base::StoreLE16(bytes.data() + 18, 0x0400);
  base::StoreLE16(bytes.data() + 20, static_cast<uint16_t>(entries_.size()));
  for (const ByteVector& entry : entries_) bytes.insert(bytes.end(), entry.begin(), entry.end());
  bytes.insert(bytes.end(), 4, 0);
  return bytes;
}

// ---- DcsDirectoryBuilder ----

DcsDirectoryBuilder& DcsDirectoryBuilder::Add(const std::string& databaseName) {
  names_.push_back(databaseName);
  return *this;
}

DcsDirectoryBuilder& DcsDirectoryBuilder::EntryCount(uint16_t count) {
  entryCount_ = count;
  return *this;
}

ByteVector DcsDirectoryBuilder::Bytes() const {
  ByteVector bytes(24, 0);
  base::StoreLE16(bytes.data() + 14, entryCount_.value_or(static_cast<uint16_t>(names_.size())));
  for (const std::string& name : names_) {
    ByteVector entry(kDcsEntrySize, 0);
    PutText(entry, 37, 19, name);
    bytes.insert(bytes.end(), entry.begin(), entry.end());
  }
  return bytes;
}

// ---- Checks ----

std::string NodeFileText(const ByteVector& bytes, size_t offset, size_t width) {
  if (offset + width > bytes.size()) throw std::out_of_range("text past the end of the file");
  std::string text;
  for (size_t i = offset; i < offset + width && bytes[i] != 0; ++i) {
    text.push_back(static_cast<char>(bytes[i]));
  }
  return text;
}

uint16_t NodeFileU16(const ByteVector& bytes, size_t offset) {
  if (offset + 2 > bytes.size()) throw std::out_of_range("number past the end of the file");
  return base::LoadLE16(bytes.data() + offset);
}

}  // namespace qz7::sample
