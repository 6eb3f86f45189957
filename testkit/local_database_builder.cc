#include "testkit/local_database_builder.h"

#include <algorithm>

#include "base/coding.h"

namespace qz7::testkit {

DatabaseConfigurationBuilder::DatabaseConfigurationBuilder()
    : bytes_(kDatabaseConfigurationSize, 0) {
  Release(0x0500);
  CodePage(850);
  Territory(1);
}

DatabaseConfigurationBuilder& DatabaseConfigurationBuilder::Put(size_t offset, uint16_t value) {
  base::StoreLE16(&bytes_[offset], value);
  return *this;
}
DatabaseConfigurationBuilder& DatabaseConfigurationBuilder::Put(size_t offset, uint32_t value) {
  base::StoreLE32(&bytes_[offset], value);
  return *this;
}
DatabaseConfigurationBuilder& DatabaseConfigurationBuilder::Block(
    const std::vector<unsigned char>& bytes) {
  std::fill_n(bytes_.begin() + 600, 256, 0);
  std::copy_n(bytes.begin(), std::min<size_t>(bytes.size(), 256), bytes_.begin() + 600);
  return *this;
}
DatabaseConfigurationBuilder& DatabaseConfigurationBuilder::Size(size_t size, unsigned char fill) {
  bytes_.resize(size, fill);
  return *this;
}

sample::DirectoryBytes DatabaseConfigurationBuilder::Bytes() const {
  sample::DirectoryBytes bytes = bytes_;
  if (bytes.size() >= 4) {
    uint32_t sum = 0;
    for (size_t i = 4; i < bytes.size(); ++i) sum += bytes[i];
    base::StoreLE32(&bytes[0], sum + checksumDelta_);
  }
  if (truncateTo_ && *truncateTo_ < bytes.size()) bytes.resize(*truncateTo_);
  return bytes;
}

sample::DirectoryBytes LocalDatabaseDirectoryBytes(const std::vector<LocalDatabaseEntry>& entries,
                                                   uint16_t slots) {
  sample::DatabaseDirectoryBuilder builder =
      sample::DatabaseDirectoryBuilder::Current().Slots(slots);
  for (const LocalDatabaseEntry& entry : entries) builder.AddEntry({.name = entry.name});
  sample::DirectoryBytes bytes = builder.Bytes();
  constexpr size_t kFirstEntry = 32 + 176;
  constexpr size_t kEntrySize = 720;
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::vector<unsigned char>& info = entries[i].info;
    std::copy_n(info.begin(), std::min(info.size(), kLocalInfoSize),
                bytes.begin() +
                    static_cast<std::ptrdiff_t>(kFirstEntry + i * kEntrySize + kLocalInfoOffset));
  }
  return bytes;
}

std::vector<unsigned char> DatabaseInfoPattern(unsigned char seed) {
  std::vector<unsigned char> bytes(kLocalInfoSize);
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<unsigned char>(seed * 31 + i * 7 + 1);
  return bytes;
}

}  // namespace qz7::testkit
