#include "upgrade/dbm_configuration_conversion.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "base/coding.h"
#include "base/dbm_block.h"
#include "upgrade/dbm_field_tables.h"
#include "upgrade/dbm_parameter_ranges.h"

namespace qz7::upgrade {
namespace {

using util::kDbmBlockSize;
using util::LoadLE16;
using util::LoadLE32;
using util::StoreLE16;
using util::StoreLE32;

using Block = std::array<unsigned char, kDbmBlockSize>;

uint16_t U16(const unsigned char* block, size_t offset) { return LoadLE16(block + offset); }
int16_t S16(const unsigned char* block, size_t offset) {
  return static_cast<int16_t>(LoadLE16(block + offset));
}
uint32_t U32(const unsigned char* block, size_t offset) { return LoadLE32(block + offset); }
int32_t S32(const unsigned char* block, size_t offset) {
  return static_cast<int32_t>(LoadLE32(block + offset));
}
void PutS32(unsigned char* block, size_t offset, int64_t value) {
  StoreLE32(block + offset, static_cast<uint32_t>(value));
}

uint16_t NodeType(const unsigned char* block) { return U16(block, util::kDbmNodeTypeOffset); }

// ---- Field converters ----

bool RowApplies(CopyWhen when, uint16_t version, const unsigned char* oldBlock,
                const unsigned char* newBlock) {
  switch (when) {
    case CopyWhen::kAlways:
      return true;
    case CopyWhen::kVersion600:
      return version == kDbmVersion600;
    case CopyWhen::kVersionNot600:
      return version != kDbmVersion600;
    case CopyWhen::kVersion800:
      return version == kDbmVersion800;
    case CopyWhen::kVersion800Or900:
      return version == kDbmVersion800 || version == kDbmVersion900;
    case CopyWhen::kVersion900:
      return version == kDbmVersion900;
    case CopyWhen::kVersion900AtLevel7100:
      return version == kDbmVersion900 && U16(oldBlock, kDbmLevelOffset) >= kDbmLevelWithField3108;
    case CopyWhen::kNewTypeNot5:
      return NodeType(newBlock) != kNodeTypeNoLocalCopy;
  }
  return false;
}

bool IsSet(const FieldCopy& row, const unsigned char* value) {
  if (row.kind == FieldKind::kText) return value[0] != 0;
  return std::any_of(value, value + row.width, [](unsigned char b) { return b != 0; });
}

void ApplyCopies(std::span<const FieldCopy> rows, unsigned char* newBlock,
                 const unsigned char* oldBlock, uint16_t version) {
  for (const FieldCopy& row : rows) {
    if (!RowApplies(row.when, version, oldBlock, newBlock)) continue;
    const unsigned char* from = oldBlock + row.offset;
    bool take = true;
    switch (row.rule) {
      case CopyRule::kCopy:
        break;
      case CopyRule::kCopyIfSet:
        take = IsSet(row, from);
        break;
      case CopyRule::kCopyUnlessDigitZero:
        take = from[0] != '0';
        break;
    }
    if (take) std::memcpy(newBlock + row.offset, from, row.width);
  }
}

// The values each converter computes rather than copies, applied after its rows.
void FixUp(int level, unsigned char* newBlock, const unsigned char* oldBlock, uint16_t version) {
  switch (level) {
    case 1:
      // A 0x600 file had no first-connect name; an empty one gets the product's default.
      if (version == kDbmVersion600 && newBlock[1096] == 0) {
        std::memset(newBlock + 1096, 0, 9);
        std::memcpy(newBlock + 1096, "1ST_CONN", 8);
      }
      break;
    case 2:
      if (version != kDbmVersion600) break;
      // 0x600 files allowed smaller and differently bounded values than the current layout.
      if (U32(oldBlock, 64) < 10000) StoreLE32(newBlock + 64, 10000);
      if (S32(oldBlock, 1932) < 4 || S32(oldBlock, 1932) > 1000 || S32(oldBlock, 1936) < 10 ||
          S32(oldBlock, 1936) > 256) {
        PutS32(newBlock, 1932, 256);
        PutS32(newBlock, 1936, 20);
        std::memset(newBlock + 1968, 0, 9);
      }
      if (U16(newBlock, 44) > 256) StoreLE16(newBlock + 44, 256);
      // The 0x600 layout kept this parameter as a signed 16-bit value at 1036 (-1: automatic).
      PutS32(newBlock, 3088, S16(oldBlock, 1036));
      if (S32(oldBlock, 92) == 0 && U16(oldBlock, 96) == 0) {
        PutS32(newBlock, 92, -1);
        StoreLE16(newBlock + 96, 1);
      }
      break;
    case 5:
      if (U32(oldBlock, 76) < 400) StoreLE32(newBlock + 76, 400);
      break;
    default:
      break;
  }
}

// ---- Normalisation ----

double LoadNumber(const unsigned char* block, uint16_t offset, NumberType type) {
  switch (type) {
    case NumberType::kU16:
      return U16(block, offset);
    case NumberType::kS16:
      return S16(block, offset);
    case NumberType::kU32:
      return U32(block, offset);
    case NumberType::kS32:
      return S32(block, offset);
    case NumberType::kF32:
      return util::LoadLEFloat(block + offset);
  }
  return 0;
}

void StoreNumber(unsigned char* block, uint16_t offset, NumberType type, double value) {
  switch (type) {
    case NumberType::kU16:
    case NumberType::kS16:
      StoreLE16(block + offset, static_cast<uint16_t>(static_cast<int64_t>(value)));
      break;
    case NumberType::kU32:
    case NumberType::kS32:
      PutS32(block, offset, static_cast<int64_t>(value));
      break;
    case NumberType::kF32:
      util::StoreLEFloat(block + offset, static_cast<float>(value));
      break;
  }
}

// Rule 1: the limit of the value at 3080. Comparisons are unsigned, with wrap-around products
// and differences, as the values are held in 32 bits.
void ApplyLimit3080(unsigned char* block, uint16_t type) {
  uint32_t a3080 = U32(block, 3080);
  const uint32_t a76 = U32(block, 76);
  uint32_t limit;
  if (S32(block, 3088) != -1) {
    limit = U32(block, 3088);
  } else {
    if (a3080 > a76) a3080 = 0;
    const uint32_t a24 = U32(block, 24);
    if (type == 1) {
      const uint32_t reserved =
          S32(block, 3084) != -1 ? U32(block, 3084) : a76 - (S16(block, 38) != 0 ? a3080 : 0);
      limit = std::max(a24 * (a76 / 50), a76 - reserved);
    } else {
      limit = std::max(a24, a76 / 50);
    }
  }
  if (a3080 > limit) a3080 = 0;
  StoreLE32(block + 3080, a3080);
}

// Rules 2 to 5: 3084, 92, 80 and 1944 must fit into what 76 and 3080 leave.
int64_t Dependent(const unsigned char* block, const ParameterRange& rule, uint16_t type) {
  const int64_t a76 = U32(block, 76);
  const uint32_t free76 = U32(block, 76) - U32(block, 3080);
  const int64_t a3080 = U32(block, 3080);
  const int64_t a3084 = S32(block, 3084);
  switch (rule.check) {
    case RangeCheck::kDependent3084: {
      int64_t v = a3084;
      if (v < 0 && v != -1) v = -1;
      if (v > a76) v = -1;
      if (v != -1 && v + a3080 > a76) v = -1;
      if (type != kNodeTypePartitioned && S16(block, 38) == 0 && v != a76 && v != -1) v = -1;
      return v;
    }
    case RangeCheck::kDependent92: {
      int64_t v = S32(block, 92);
      if (v < 0 && v != -1) v = -1;
      if (a3084 != -1 && v > a3084) v = -1;
      if (a3084 == -1 && static_cast<uint32_t>(v) > free76) v = -1;
      if (v == 0) v = -1;
      return v;
    }
    case RangeCheck::kDependent80: {
      int64_t v = S32(block, 80);
      if (v < 1 && v != -1) v = -1;
      if (a3084 != -1 && v > a3084) v = -1;
      if (a3084 == -1 && static_cast<uint32_t>(v) > free76) v = -1;
      return v;
    }
    case RangeCheck::kDependent1944: {
      int64_t v = S32(block, 1944);
      const int64_t a92 = S32(block, 92);
      if (v < 0) v = 0;
      if (a92 != -1) {
        if (v > a92) v = 0;
      } else if (a3084 != -1) {
        if (v > a3084) v = 0;
      } else if (static_cast<uint32_t>(v) > free76) {
        v = 0;
      }
      return v;
    }
    default:
      return S32(block, rule.offset);  // only the dependent checks come here
  }
}

void ApplyRange(unsigned char* block, const ParameterRange& rule, uint16_t type) {
  const double value = LoadNumber(block, rule.offset, rule.type);
  auto set = [&](double v) { StoreNumber(block, rule.offset, rule.type, v); };
  switch (rule.scope) {
    case RangeScope::kClientZero:
      if (type == kNodeTypeClient) return set(0);
      break;
    case RangeScope::kEveryType:
      break;
    case RangeScope::kTypeZeroZero:
      if (type == 0) return set(0);
      break;
    case RangeScope::kTypeZeroNonZeroToDefault:
      if (type == 0) {
        if (value != 0) set(rule.fallbackTypeZero);
        return;
      }
      break;
    case RangeScope::kClientNonZeroTo3:
      if (type == kNodeTypeClient) {
        if (value != 0) set(3);
        return;
      }
      break;
    case RangeScope::kTypes1And4:
      if (type != 1 && type != kNodeTypePartitioned) return set(0);
      break;
    case RangeScope::kPartitionedOnly:
      if (type != kNodeTypePartitioned) return set(0);
      break;
  }
  const double fallback = type == 0 ? rule.fallbackTypeZero : rule.fallback;
  const double high = rule.highFrom != 0 ? U32(block, rule.highFrom) : rule.high;
  // Written as "not inside" so that a float that is not a number counts as out of range.
  const bool inside = value >= rule.low && value <= high;
  switch (rule.check) {
    case RangeCheck::kRange:
      if (!inside) set(fallback);
      break;
    case RangeCheck::kRangeUnlessMinusOne:
      if (value != -1 && !inside) set(fallback);
      break;
    case RangeCheck::kOneUnless1930IsOne:
      if (U16(block, 1930) != 1) set(1);
      break;
    case RangeCheck::kLimit3080:
      ApplyLimit3080(block, type);
      break;
    case RangeCheck::kDependent3084:
    case RangeCheck::kDependent92:
    case RangeCheck::kDependent80:
    case RangeCheck::kDependent1944:
      PutS32(block, rule.offset, Dependent(block, rule, type));
      break;
  }
}

// ---- Files ----

// Puts the bytes the new file held before back after a failed write (best effort: the
// result stays a failure whatever happens here).
void RestoreBlock(const char* path, const Block& original) {
  platform::FileHandle file = platform::OpenFile(path, "rb+");
  if (!file) return;
  if (file->Seek(0, platform::kSeekSet) == 0) file->Write(original.data(), original.size());
  file->Close();
}

}  // namespace

uint16_t DbmLayoutVersion(const unsigned char* block) {
  return U16(block, util::kDbmVersionOffset) & util::kDbmVersionMask;
}

bool IsKnownDbmVersion(uint16_t version) {
  return version == kDbmVersion600 || version == kDbmVersion800 || version == kDbmVersion900;
}

int ReadDbmConfiguration(platform::FileStream& file, unsigned char* block, uint16_t* version) {
  std::memset(block, 0, kDbmBlockSize);
  if (file.Read(block, kDbmBlockSize) != kDbmBlockSize) return kDbmFileError;
  *version = DbmLayoutVersion(block);
  if (!IsKnownDbmVersion(*version)) return kDbmVersionError;
  if (U32(block, util::kDbmChecksumOffset) != util::DbmBlockChecksum(block)) {
    return kDbmChecksumError;
  }
  return 0;
}

int ConvertDbmFields(unsigned char* newBlock, const unsigned char* oldBlock) {
  const int converter = ConverterFor(NodeType(newBlock), NodeType(oldBlock));
  if (converter == 0) return kDbmNodeTypesError;
  const uint16_t version = DbmLayoutVersion(oldBlock);
  for (int level = 1; level <= converter; ++level) {
    ApplyCopies(ConverterCopies(level), newBlock, oldBlock, version);
    FixUp(level, newBlock, oldBlock, version);
  }
  return 0;
}

void NormalizeDbmParameters(unsigned char* block) {
  const uint16_t type = NodeType(block);
  for (const ParameterRange& rule : ParameterRanges()) ApplyRange(block, rule, type);
}

int ConvertDbmConfiguration(const char* newPath, const char* oldPath) {
  if (newPath == nullptr || oldPath == nullptr) return kDbmFileError;
  platform::FileHandle oldFile = platform::OpenFile(oldPath, "rb+");
  if (!oldFile) return kDbmFileError;
  platform::FileHandle newFile = platform::OpenFile(newPath, "rb+");
  if (!newFile) {
    oldFile->Close();
    return kDbmFileError;
  }

  Block oldBlock;
  Block newBlock;
  uint16_t version = 0;
  int result = ReadDbmConfiguration(*oldFile, oldBlock.data(), &version);
  if (result == 0) result = ReadDbmConfiguration(*newFile, newBlock.data(), &version);
  // The old file is only read; closing it here means that even a failure to close it stops
  // the conversion before the new file is touched.
  if (oldFile->Close() != 0 && result == 0) result = kDbmFileError;
  if (result == 0) {
    const Block templateBlock = newBlock;
    result = ConvertDbmFields(newBlock.data(), oldBlock.data());
    if (result == 0) {
      NormalizeDbmParameters(newBlock.data());
      util::StampDbmChecksum(newBlock.data());
      // One 4096-byte write over the 4096 bytes just read: the file neither grows nor shrinks,
      // so the write needs no new space. When the write or the close that completes it fails,
      // part of the block may already be in the file: the template's bytes go back.
      if (newFile->HasError() || newFile->Seek(0, platform::kSeekSet) != 0) {
        newFile->Close();
        return kDbmFileError;
      }
      const bool written = newFile->Write(newBlock.data(), newBlock.size()) == newBlock.size() &&
                           !newFile->HasError();
      const bool closed = newFile->Close() == 0;
      if (written && closed) return 0;
      RestoreBlock(newPath, templateBlock);
      return kDbmFileError;
    }
  }
  newFile->Close();
  return result;
}

}  // namespace qz7::upgrade
