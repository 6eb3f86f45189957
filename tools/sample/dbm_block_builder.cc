#include "tools/sample/dbm_block_builder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "base/coding.h"
#include "base/dbm_block.h"
#include "platform/file_system.h"
#include "platform/win_error.h"

namespace qz7::sample {
namespace {

void CheckRange(size_t offset, size_t width) {
  if (offset + width > kDbmFileSize || offset < 4) {
    throw std::out_of_range("qz7systm field at " + std::to_string(offset) + " width " +
                            std::to_string(width) + " is outside offsets 4 to 4095");
  }
}

void CheckRead(const std::vector<unsigned char>& bytes, size_t offset, size_t width) {
  if (offset + width > bytes.size()) {
    throw std::out_of_range("field at " + std::to_string(offset) + " lies past the end of a " +
                            std::to_string(bytes.size()) + "-byte file");
  }
}

}  // namespace

DbmBlockBuilder::DbmBlockBuilder() {
  Version(0x900);
  NodeType(1);
}

DbmBlockBuilder& DbmBlockBuilder::Version(uint16_t versionWord) {
  return U16(base::dbm::kVersionWord.offset, versionWord);
}
DbmBlockBuilder& DbmBlockBuilder::Level(uint16_t level) {
  return U16(base::dbm::kLevel.offset, level);
}
DbmBlockBuilder& DbmBlockBuilder::NodeType(uint16_t type) {
  return U16(base::dbm::kNodeType.offset, type);
}

DbmBlockBuilder& DbmBlockBuilder::Set(const base::DbmField& field, double value) {
  switch (field.kind) {
    case base::DbmKind::kU16:
    case base::DbmKind::kS16:
      return U16(field.offset, static_cast<uint16_t>(static_cast<int64_t>(value)));
    case base::DbmKind::kU32:
    case base::DbmKind::kS32:
      return U32(field.offset, static_cast<uint32_t>(static_cast<int64_t>(value)));
    case base::DbmKind::kF32:
      return Float(field.offset, static_cast<float>(value));
    case base::DbmKind::kText:
      break;
  }
  throw std::invalid_argument("qz7systm field at " + std::to_string(field.offset) +
                              " holds a text, not a number");
}
DbmBlockBuilder& DbmBlockBuilder::Set(const base::DbmField& field, const std::string& text) {
  if (!base::IsText(field)) {
    throw std::invalid_argument("qz7systm field at " + std::to_string(field.offset) +
                                " holds a number, not a text");
  }
  return Text(field.offset, field.width, text);
}

DbmBlockBuilder& DbmBlockBuilder::U16(size_t offset, uint16_t value) {
  CheckRange(offset, 2);
  base::StoreLE16(block_.data() + offset, value);
  return *this;
}
DbmBlockBuilder& DbmBlockBuilder::U32(size_t offset, uint32_t value) {
  CheckRange(offset, 4);
  base::StoreLE32(block_.data() + offset, value);
  return *this;
}
DbmBlockBuilder& DbmBlockBuilder::S32(size_t offset, int32_t value) {
  return U32(offset, static_cast<uint32_t>(value));
}
DbmBlockBuilder& DbmBlockBuilder::Float(size_t offset, float value) {
  CheckRange(offset, 4);
  base::StoreLEFloat(block_.data() + offset, value);
  return *this;
}
DbmBlockBuilder& DbmBlockBuilder::Text(size_t offset, size_t width, const std::string& text) {
  CheckRange(offset, width);
  std::memset(block_.data() + offset, 0, width);
  std::memcpy(block_.data() + offset, text.data(), std::min(text.size(), width - 1));
  return *this;
}
DbmBlockBuilder& DbmBlockBuilder::Bytes(size_t offset, const std::vector<unsigned char>& bytes) {
  CheckRange(offset, bytes.size());
  std::copy(bytes.begin(), bytes.end(), block_.begin() + static_cast<ptrdiff_t>(offset));
  return *this;
}

DbmBlockBuilder& DbmBlockBuilder::WrongChecksum(uint32_t delta) {
  checksumDelta_ = delta == 0 ? 1 : delta;
  fixedChecksum_.reset();
  return *this;
}
DbmBlockBuilder& DbmBlockBuilder::Checksum(uint32_t value) {
  fixedChecksum_ = value;
  return *this;
}
DbmBlockBuilder& DbmBlockBuilder::TruncateTo(size_t size) {
  truncateTo_ = std::min(size, kDbmFileSize);
  return *this;
}

std::array<unsigned char, kDbmFileSize> DbmBlockBuilder::Block() const {
  std::array<unsigned char, kDbmFileSize> block = block_;
  const uint32_t checksum =
      fixedChecksum_.value_or(base::DbmBlockChecksum(block.data()) + checksumDelta_);
  base::StoreLE32(block.data(), checksum);
  return block;
}

std::vector<unsigned char> DbmBlockBuilder::Bytes() const {
  const auto block = Block();
  return std::vector<unsigned char>(block.begin(),
                                    block.begin() + static_cast<ptrdiff_t>(truncateTo_));
}

uint32_t DbmBlockBuilder::WriteTo(const char* windowsPath) const {
  const std::vector<unsigned char> bytes = Bytes();
  platform::FileHandle file = platform::OpenFile(windowsPath, "wb");
  if (!file) return platform::GetLastError();
  const bool written = file->Write(bytes.data(), bytes.size()) == bytes.size();
  const uint32_t writeError = written ? 0 : platform::GetLastError();
  if (file->Close() != 0) return written ? platform::GetLastError() : writeError;
  return written ? 0 : (writeError != 0 ? writeError : platform::kErrorWriteFault);
}

std::optional<std::vector<unsigned char>> ReadMachineFile(const char* windowsPath) {
  platform::FileHandle file = platform::OpenFile(windowsPath, "rb");
  if (!file) return std::nullopt;
  std::vector<unsigned char> bytes;
  unsigned char chunk[4096];
  for (;;) {
    const size_t got = file->Read(chunk, sizeof chunk);
    bytes.insert(bytes.end(), chunk, chunk + got);
    if (got < sizeof chunk) break;
  }
  const bool failed = file->HasError();
  if (file->Close() != 0 || failed) return std::nullopt;
  return bytes;
}

double DbmNumber(const std::vector<unsigned char>& bytes, const base::DbmField& field) {
  switch (field.kind) {
    case base::DbmKind::kU16:
      return DbmU16(bytes, field.offset);
    case base::DbmKind::kS16:
      return static_cast<int16_t>(DbmU16(bytes, field.offset));
    case base::DbmKind::kU32:
      return DbmU32(bytes, field.offset);
    case base::DbmKind::kS32:
      return static_cast<int32_t>(DbmU32(bytes, field.offset));
    case base::DbmKind::kF32:
      return DbmFloat(bytes, field.offset);
    case base::DbmKind::kText:
      break;
  }
  throw std::invalid_argument("qz7systm field at " + std::to_string(field.offset) +
                              " holds a text, not a number");
}
std::string DbmText(const std::vector<unsigned char>& bytes, const base::DbmField& field) {
  return DbmText(bytes, field.offset, field.width);
}

uint16_t DbmU16(const std::vector<unsigned char>& bytes, size_t offset) {
  CheckRead(bytes, offset, 2);
  return base::LoadLE16(bytes.data() + offset);
}
uint32_t DbmU32(const std::vector<unsigned char>& bytes, size_t offset) {
  CheckRead(bytes, offset, 4);
  return base::LoadLE32(bytes.data() + offset);
}
float DbmFloat(const std::vector<unsigned char>& bytes, size_t offset) {
  CheckRead(bytes, offset, 4);
  return base::LoadLEFloat(bytes.data() + offset);
}
std::string DbmText(const std::vector<unsigned char>& bytes, size_t offset, size_t width) {
  CheckRead(bytes, offset, width);
  const char* text = reinterpret_cast<const char*>(bytes.data() + offset);
  return std::string(text, strnlen(text, width));
}
bool DbmChecksumMatches(const std::vector<unsigned char>& bytes) {
  return bytes.size() == kDbmFileSize &&
         base::LoadLE32(bytes.data()) == base::DbmBlockChecksum(bytes.data());
}

}  // namespace qz7::sample
