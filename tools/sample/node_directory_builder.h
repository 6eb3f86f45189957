// Builds node directory files of the five earlier entry layouts and of the current one from
// named fields, the migration backups of a node directory with a chosen status and
// signature, and the two files the node directory conversion reads besides: a system
// database directory of the current layout and a DCS directory.
//
//   auto bytes = NodeDirectoryBuilder(1).HeaderValue(7)
//                    .Add(NodeEntryBuilder(1).NodeName("NODE1").Text(27, 9, "TCPIP"))
//                    .Bytes();
#ifndef QZ7_TOOLS_SAMPLE_NODE_DIRECTORY_BUILDER_H_
#define QZ7_TOOLS_SAMPLE_NODE_DIRECTORY_BUILDER_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qz7::sample {

using ByteVector = std::vector<unsigned char>;

// Node directory layouts: 1 to 5 the earlier ones, 97 the current one.
constexpr int kCurrentNodeLayout = 97;
// The entry size of a layout (434, 532, 96, 542, 594, or 616 for the current one).
size_t NodeLayoutEntrySize(int layout);

// One entry of a layout, all bytes zero until set. Offsets are those of that layout.
class NodeEntryBuilder {
 public:
  explicit NodeEntryBuilder(int layout);

  NodeEntryBuilder& NodeName(const std::string& name);  // text at 0, 9 bytes wide
  // A text in a field of width bytes: cut to width - 1 and zero-padded, or, with
  // terminated = false, exactly width bytes of the text without a terminating zero.
  NodeEntryBuilder& Text(size_t offset, size_t width, const std::string& text,
                         bool terminated = true);
  NodeEntryBuilder& U16(size_t offset, uint16_t value);

  const ByteVector& Bytes() const { return bytes_; }

 private:
  void CheckRange(size_t offset, size_t width) const;
  ByteVector bytes_;
};

// A whole node directory file: the 28-byte header, the entries and the closing 32-bit value
// (the header's value at offset 20).
class NodeDirectoryBuilder {
 public:
  // Header "NODE DIRECTORY"; release marker 0x0300 for the current layout, 0x0200 for the
  // earlier ones; value 0.
  explicit NodeDirectoryBuilder(int layout);

  NodeDirectoryBuilder& Signature(const std::string& text);  // 16 bytes wide
  NodeDirectoryBuilder& HeaderValue(uint32_t value);         // offset 20 and the closing value
  NodeDirectoryBuilder& ReleaseMarker(uint16_t value);       // offset 24
  // The count stored at offset 16 instead of the number of entries added.
  NodeDirectoryBuilder& EntryCount(uint16_t count);
  NodeDirectoryBuilder& Add(const NodeEntryBuilder& entry);
  // Any bytes as one more entry (of any size, to build files no layout matches).
  NodeDirectoryBuilder& AddRaw(const ByteVector& entry);

  ByteVector Bytes() const;

 private:
  int layout_;
  std::string signature_ = "NODE DIRECTORY";
  uint32_t headerValue_ = 0;
  uint16_t releaseMarker_;
  std::optional<uint16_t> entryCount_;
  std::vector<ByteVector> entries_;
};

// SQLNDDIR.TMP / SQLNDDIR.BAK: the 85-byte header and the saved directory bytes.
class NodeBackupBuilder {
 public:
  // Signature "QZ7 NODE DIRECTORY FILE BACKUP", layout name "TYPE1_DECB PACKED", release
  // label "QZ7 V6.x", status "I", no data.
  NodeBackupBuilder();

  NodeBackupBuilder& Signature(const std::string& text);  // 40 bytes wide
  NodeBackupBuilder& LayoutName(const std::string& name);
  NodeBackupBuilder& Status(char status);
  NodeBackupBuilder& Data(const ByteVector& directory);

  ByteVector Bytes() const;

 private:
  std::string signature_;
  std::string layoutName_;
  char status_ = 'I';
  ByteVector data_;
};

// A system database directory of the current layout: the 32-byte header ("QZ7 DIRECTORY",
// release marker 0x0400, the entry count at 20), a zero 176-byte block, the 720-byte
// entries and a closing 32-bit zero.
class CurrentDatabaseDirectoryBuilder {
 public:
  // An entry with the catalogued name at 0, the database name at 9, the entry type
  // character at 18 and the name text at 28 (the node the DCS rule looks for).
  CurrentDatabaseDirectoryBuilder& Add(const std::string& cataloguedName,
                                       const std::string& databaseName, char type,
                                       const std::string& nameText);
  ByteVector Bytes() const;

 private:
  std::vector<ByteVector> entries_;
};

// A DCS directory: a 24-byte header with the entry count at 14, then 622-byte entries with
// the database name at 37 (written up to 18 characters).
class DcsDirectoryBuilder {
 public:
  DcsDirectoryBuilder& Add(const std::string& databaseName);
  // The count stored at offset 14 instead of the number of entries added.
  DcsDirectoryBuilder& EntryCount(uint16_t count);
  ByteVector Bytes() const;

 private:
  std::vector<std::string> names_;
  std::optional<uint16_t> entryCount_;
};

// Fields of a file, for checks: a zero-terminated text within width bytes, numbers.
std::string NodeFileText(const ByteVector& bytes, size_t offset, size_t width);
uint16_t NodeFileU16(const ByteVector& bytes, size_t offset);

}  // namespace qz7::sample

#endif  // QZ7_TOOLS_SAMPLE_NODE_DIRECTORY_BUILDER_H_
