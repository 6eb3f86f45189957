#include "upgrade/dbm_configuration_conversion.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "base/coding.h"
#include "base/dbm_block.h"
#include "base/dbm_fields.h"
#include "upgrade/dbm_field_tables.h"
#include "upgrade/dbm_parameter_ranges.h"

namespace qz7::upgrade {
namespace {

using base::kDbmBlockSize;
using base::LoadLE16;
using base::LoadLE32;
using base::StoreLE16;
using base::StoreLE32;

using namespace base::dbm;  // the field names
using base::DbmField;
using base::DbmKind;

using Block = std::array<unsigned char, kDbmBlockSize>;

static_assert(base::kDbmBlockBytes == kDbmBlockSize);
static_assert(kVersionWord.offset == base::kDbmVersionOffset);
static_assert(kNodeType.offset == base::kDbmNodeTypeOffset);
static_assert(kChecksum.offset == base::kDbmChecksumOffset);
static_assert(base::kDbmLayoutVersionMask == base::kDbmVersionMask);

// A field's bits read as the number the name says, whatever kind the field has: the rules
// below compare some fields both ways.
uint16_t U16(const unsigned char* block, const DbmField& field) {
  return LoadLE16(block + field.offset);
}
int16_t S16(const unsigned char* block, const DbmField& field) {
  return static_cast<int16_t>(U16(block, field));
}
uint32_t U32(const unsigned char* block, const DbmField& field) {
  return LoadLE32(block + field.offset);
}
int32_t S32(const unsigned char* block, const DbmField& field) {
  return static_cast<int32_t>(U32(block, field));
}
void PutS32(unsigned char* block, const DbmField& field, int64_t value) {
  StoreLE32(block + field.offset, static_cast<uint32_t>(value));
}
void ClearText(unsigned char* block, const DbmField& field) {
  std::memset(block + field.offset, 0, field.width);
}

uint16_t NodeType(const unsigned char* block) { return U16(block, kNodeType); }

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
      return version == kDbmVersion900 && U16(oldBlock, kLevel) >= kDbmLevelWithParam701;
    case CopyWhen::kNewTypeNot5:
      return NodeType(newBlock) != base::kDbmNodeTypeNoLocalCopy;
  }
  return false;
}

bool IsSet(const DbmField& field, const unsigned char* value) {
  if (base::IsText(field)) return value[0] != 0;
  return std::any_of(value, value + field.width, [](unsigned char b) { return b != 0; });
}

void ApplyCopies(std::span<const FieldCopy> rows, unsigned char* newBlock,
                 const unsigned char* oldBlock, uint16_t version) {
  for (const FieldCopy& row : rows) {
    if (!RowApplies(row.when, version, oldBlock, newBlock)) continue;
    const unsigned char* from = oldBlock + row.field.offset;
    bool take = true;
    switch (row.rule) {
      case CopyRule::kCopy:
        break;
      case CopyRule::kCopyIfSet:
        take = IsSet(row.field, from);
        break;
      case CopyRule::kCopyUnlessDigitZero:
        take = from[0] != '0';
        break;
    }
    if (take) std::memcpy(newBlock + row.field.offset, from, row.field.width);
  }
}

// The values each converter computes rather than copies, applied after its rows.
void FixUp(int level, unsigned char* newBlock, const unsigned char* oldBlock, uint16_t version) {
  switch (level) {
    case 1:
      // A 0x600 file had no first-connect name; an empty one gets the product's default.
      if (version == kDbmVersion600 && newBlock[kFirstConnectName.offset] == 0) {
        ClearText(newBlock, kFirstConnectName);
        std::memcpy(newBlock + kFirstConnectName.offset, "1ST_CONN", 8);
      }
      break;
    case 2:
      if (version != kDbmVersion600) break;
      // 0x600 files allowed smaller and differently bounded values than the current layout.
      if (U32(oldBlock, kParam21) < 10000) PutS32(newBlock, kParam21, 10000);
      if (S32(oldBlock, kParam90) < 4 || S32(oldBlock, kParam90) > 1000 ||
          S32(oldBlock, kParam91) < 10 || S32(oldBlock, kParam91) > 256) {
        PutS32(newBlock, kParam90, 256);
        PutS32(newBlock, kParam91, 20);
        ClearText(newBlock, kNodeName);
      }
      if (U16(newBlock, kParam6) > 256) StoreLE16(newBlock + kParam6.offset, 256);
      // The 0x600 layout kept kParam502 elsewhere, narrower and signed (-1: automatic).
      PutS32(newBlock, kParam502, S16(oldBlock, kParam502Layout600));
      if (S32(oldBlock, kParam80) == 0 && U16(oldBlock, kParam81) == 0) {
        PutS32(newBlock, kParam80, -1);
        StoreLE16(newBlock + kParam81.offset, 1);
      }
      break;
    case 5:
      if (U32(oldBlock, kParam12) < 400) PutS32(newBlock, kParam12, 400);
      break;
    default:
      break;
  }
}

// ---- Normalisation ----

// A number field read as its kind says (a text, which no range row names, reads as 0).
double LoadNumber(const unsigned char* block, const DbmField& field) {
  switch (field.kind) {
    case DbmKind::kU16:
      return U16(block, field);
    case DbmKind::kS16:
      return S16(block, field);
    case DbmKind::kU32:
      return U32(block, field);
    case DbmKind::kS32:
      return S32(block, field);
    case DbmKind::kF32:
      return base::LoadLEFloat(block + field.offset);
    case DbmKind::kText:
      break;
  }
  return 0;
}

void StoreNumber(unsigned char* block, const DbmField& field, double value) {
  switch (field.kind) {
    case DbmKind::kU16:
    case DbmKind::kS16:
      StoreLE16(block + field.offset, static_cast<uint16_t>(static_cast<int64_t>(value)));
      break;
    case DbmKind::kU32:
    case DbmKind::kS32:
      PutS32(block, field, static_cast<int64_t>(value));
      break;
    case DbmKind::kF32:
      base::StoreLEFloat(block + field.offset, static_cast<float>(value));
      break;
    case DbmKind::kText:
      break;
  }
}

// Rule 1: the limit of kParam500. Comparisons are unsigned, with wrap-around products and
// differences, as the values are held in 32 bits.
void ApplyLimitParam500(unsigned char* block, uint16_t type) {
  uint32_t a500 = U32(block, kParam500);
  const uint32_t a12 = U32(block, kParam12);
  uint32_t limit;
  if (S32(block, kParam502) != -1) {
    limit = U32(block, kParam502);
  } else {
    if (a500 > a12) a500 = 0;
    const uint32_t a303 = U32(block, kParam303);
    if (type == 1) {
      const uint32_t reserved = S32(block, kParam501) != -1
                                    ? U32(block, kParam501)
                                    : a12 - (S16(block, kParam306) != 0 ? a500 : 0);
      limit = std::max(a303 * (a12 / 50), a12 - reserved);
    } else {
      limit = std::max(a303, a12 / 50);
    }
  }
  if (a500 > limit) a500 = 0;
  PutS32(block, kParam500, a500);
}

// Rules 2 to 5: kParam501, kParam80, kParam13 and kParam601 must fit into what kParam12 and
// kParam500 leave.
int64_t Dependent(const unsigned char* block, const ParameterRange& rule, uint16_t type) {
  const int64_t a12 = U32(block, kParam12);
  const uint32_t free12 = U32(block, kParam12) - U32(block, kParam500);
  const int64_t a500 = U32(block, kParam500);
  const int64_t a501 = S32(block, kParam501);
  switch (rule.check) {
    case RangeCheck::kDependentParam501: {
      int64_t v = a501;
      if (v < 0 && v != -1) v = -1;
      if (v > a12) v = -1;
      if (v != -1 && v + a500 > a12) v = -1;
      if (type != base::kDbmNodeTypePartitioned && S16(block, kParam306) == 0 && v != a12 &&
          v != -1) {
        v = -1;
      }
      return v;
    }
    case RangeCheck::kDependentParam80: {
      int64_t v = S32(block, kParam80);
      if (v < 0 && v != -1) v = -1;
      if (a501 != -1 && v > a501) v = -1;
      if (a501 == -1 && static_cast<uint32_t>(v) > free12) v = -1;
      if (v == 0) v = -1;
      return v;
    }
    case RangeCheck::kDependentParam13: {
      int64_t v = S32(block, kParam13);
      if (v < 1 && v != -1) v = -1;
      if (a501 != -1 && v > a501) v = -1;
      if (a501 == -1 && static_cast<uint32_t>(v) > free12) v = -1;
      return v;
    }
    case RangeCheck::kDependentParam601: {
      int64_t v = S32(block, kParam601);
      const int64_t a80 = S32(block, kParam80);
      if (v < 0) v = 0;
      if (a80 != -1) {
        if (v > a80) v = 0;
      } else if (a501 != -1) {
        if (v > a501) v = 0;
      } else if (static_cast<uint32_t>(v) > free12) {
        v = 0;
      }
      return v;
    }
    default:
      return S32(block, rule.field);  // only the dependent checks come here
  }
}

void ApplyRange(unsigned char* block, const ParameterRange& rule, uint16_t type) {
  const double value = LoadNumber(block, rule.field);
  auto set = [&](double v) { StoreNumber(block, rule.field, v); };
  switch (rule.scope) {
    case RangeScope::kClientZero:
      if (type == base::kDbmNodeTypeClient) return set(0);
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
      if (type == base::kDbmNodeTypeClient) {
        if (value != 0) set(3);
        return;
      }
      break;
    case RangeScope::kTypes1And4:
      if (type != 1 && type != base::kDbmNodeTypePartitioned) return set(0);
      break;
    case RangeScope::kPartitionedOnly:
      if (type != base::kDbmNodeTypePartitioned) return set(0);
      break;
  }
  const double fallback = type == 0 ? rule.fallbackTypeZero : rule.fallback;
  const double high = rule.highFrom.width != 0 ? U32(block, rule.highFrom) : rule.high;
  // Written as "not inside" so that a float that is not a number counts as out of range.
  const bool inside = value >= rule.low && value <= high;
  switch (rule.check) {
    case RangeCheck::kRange:
      if (!inside) set(fallback);
      break;
    case RangeCheck::kRangeUnlessMinusOne:
      if (value != -1 && !inside) set(fallback);
      break;
    case RangeCheck::kOneUnlessParam78IsOne:
      if (U16(block, kParam78) != 1) set(1);
      break;
    case RangeCheck::kLimitParam500:
      ApplyLimitParam500(block, type);
      break;
    case RangeCheck::kDependentParam501:
    case RangeCheck::kDependentParam80:
    case RangeCheck::kDependentParam13:
    case RangeCheck::kDependentParam601:
      PutS32(block, rule.field, Dependent(block, rule, type));
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
  return U16(block, kVersionWord) & base::kDbmLayoutVersionMask;
}

bool IsKnownDbmVersion(uint16_t version) { return base::dbm::IsLayoutVersion(version); }

[[nodiscard]] int ReadDbmConfiguration(platform::FileStream& file, unsigned char* block,
                                       uint16_t* version) {
  std::memset(block, 0, kDbmBlockSize);
  if (file.Read(block, kDbmBlockSize) != kDbmBlockSize) return kDbmFileError;
  *version = DbmLayoutVersion(block);
  if (!IsKnownDbmVersion(*version)) return kDbmVersionError;
  if (U32(block, kChecksum) != base::DbmBlockChecksum(block)) {
    return kDbmChecksumError;
  }
  return 0;
}

[[nodiscard]] int ConvertDbmFields(unsigned char* newBlock, const unsigned char* oldBlock) {
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

[[nodiscard]] int ConvertDbmConfiguration(const char* newPath, const char* oldPath) {
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
      base::StampDbmChecksum(newBlock.data());
      // One 4096-byte write over the 4096 bytes just read: the file neither grows nor shrinks,
      // so the write needs no new space. When the write or the close that completes it fails,
      // part of the block may already be in the file: the template's bytes go back.
      if (newFile->HasError() || newFile->Seek(0, platform::kSeekSet) != 0) {
        newFile->Close();
        return kDbmFileError;
      }
      // Synced before it counts as written: a caller may rename it into place next.
      const bool written = newFile->Write(newBlock.data(), newBlock.size()) == newBlock.size() &&
                           !newFile->HasError() && newFile->Sync() == 0;
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
