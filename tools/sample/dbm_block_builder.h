// Builds database manager configuration files (qz7systm) from named fields: layout version,
// level, node type and any parameter of the field map (base/dbm_fields.h), or any bytes by
// offset, with the checksum stamped, left wrong on purpose, or the file cut short.
//
//   auto bytes = DbmBlockBuilder().Version(0x800).NodeType(4).Set(dbm::kParam12, 300)
//                    .Set(dbm::kNodeName, "NODE1").Bytes();
#ifndef QZ7_TOOLS_SAMPLE_DBM_BLOCK_BUILDER_H_
#define QZ7_TOOLS_SAMPLE_DBM_BLOCK_BUILDER_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/dbm_fields.h"

namespace qz7::sample {

constexpr size_t kDbmFileSize = 4096;

class DbmBlockBuilder {
 public:
  // A zeroed block of layout version 0x900, level 0, node type 1.
  DbmBlockBuilder();

  // The whole version word (the layout bits are 0x0F00 of it; other bits may be
  // set to check that they are ignored).
  DbmBlockBuilder& Version(uint16_t versionWord);
  DbmBlockBuilder& Level(uint16_t level);
  DbmBlockBuilder& NodeType(uint16_t type);

  // A field of the map: a number stored as its kind says (cut to the field's width), or a
  // text cut to the width less one and zero-padded.
  DbmBlockBuilder& Set(const base::DbmField& field, double value);
  DbmBlockBuilder& Set(const base::DbmField& field, const std::string& text);

  DbmBlockBuilder& U16(size_t offset, uint16_t value);
  DbmBlockBuilder& U32(size_t offset, uint32_t value);
  DbmBlockBuilder& S32(size_t offset, int32_t value);
  DbmBlockBuilder& Float(size_t offset, float value);
  // A text in a field of width bytes: cut to width - 1, zero-padded.
  DbmBlockBuilder& Text(size_t offset, size_t width, const std::string& text);
  // Raw bytes (a text without terminator, a pattern).
  DbmBlockBuilder& Bytes(size_t offset, const std::vector<unsigned char>& bytes);

  // The checksum at offset 0: by default the right one; WrongChecksum stores the right one
  // plus delta, Checksum a fixed value.
  DbmBlockBuilder& WrongChecksum(uint32_t delta = 1);
  DbmBlockBuilder& Checksum(uint32_t value);
  // Cut the file to this many bytes (after the checksum is stamped).
  DbmBlockBuilder& TruncateTo(size_t size);

  // The 4096-byte block (before truncation) and the file's bytes.
  std::array<unsigned char, kDbmFileSize> Block() const;
  std::vector<unsigned char> Bytes() const;

  // Writes the file to a Windows path of the machine through the platform layer (the folder
  // must exist). Returns 0 or the Windows error.
  uint32_t WriteTo(const char* windowsPath) const;

 private:
  std::array<unsigned char, kDbmFileSize> block_{};
  std::optional<uint32_t> fixedChecksum_;
  uint32_t checksumDelta_ = 0;
  size_t truncateTo_ = kDbmFileSize;
};

// Reads a whole file of the machine through the platform layer; nullopt when it cannot be
// opened or read.
std::optional<std::vector<unsigned char>> ReadMachineFile(const char* windowsPath);

// Fields of a block, for checks: a field of the map read as its kind says, or by offset.
double DbmNumber(const std::vector<unsigned char>& bytes, const base::DbmField& field);
std::string DbmText(const std::vector<unsigned char>& bytes, const base::DbmField& field);
uint16_t DbmU16(const std::vector<unsigned char>& bytes, size_t offset);
uint32_t DbmU32(const std::vector<unsigned char>& bytes, size_t offset);
float DbmFloat(const std::vector<unsigned char>& bytes, size_t offset);
std::string DbmText(const std::vector<unsigned char>& bytes, size_t offset, size_t width);
// True when the checksum at offset 0 is the sum of the bytes at 4 to 4095.
bool DbmChecksumMatches(const std::vector<unsigned char>& bytes);

}  // namespace qz7::sample

#endif  // QZ7_TOOLS_SAMPLE_DBM_BLOCK_BUILDER_H_
