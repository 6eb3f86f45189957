#include "upgrade/dbm_field_tables.h"

namespace qz7::upgrade {
namespace {

constexpr FieldCopy Num16(uint16_t offset, CopyWhen when = CopyWhen::kAlways) {
  return {offset, 2, FieldKind::kNumber, CopyRule::kCopy, when};
}
constexpr FieldCopy Num32(uint16_t offset, CopyWhen when = CopyWhen::kAlways) {
  return {offset, 4, FieldKind::kNumber, CopyRule::kCopy, when};
}
constexpr FieldCopy Num32IfSet(uint16_t offset, CopyWhen when) {
  return {offset, 4, FieldKind::kNumber, CopyRule::kCopyIfSet, when};
}
constexpr FieldCopy Float(uint16_t offset, CopyWhen when = CopyWhen::kAlways) {
  return {offset, 4, FieldKind::kNumber, CopyRule::kCopy, when};
}
constexpr FieldCopy Text(uint16_t offset, uint16_t width) {
  return {offset, width, FieldKind::kText, CopyRule::kCopy, CopyWhen::kAlways};
}
constexpr FieldCopy TextIfSet(uint16_t offset, uint16_t width, CopyWhen when = CopyWhen::kAlways) {
  return {offset, width, FieldKind::kText, CopyRule::kCopyIfSet, when};
}

using enum CopyWhen;

// clang-format off
constexpr FieldCopy kL1[] = {
    Num16(36), Num16(794), Num16(796), Num16(18), Num16(1128), Num16(1034),
    TextIfSet(1130, 256), TextIfSet(1386, 256), TextIfSet(1642, 256),
    TextIfSet(1898, 32),
    TextIfSet(679, 17), TextIfSet(1040, 17), TextIfSet(1057, 17),
    TextIfSet(396, 26),
    {1076, 20, FieldKind::kText, CopyRule::kCopyUnlessDigitZero, kAlways},
    TextIfSet(1096, 9),
    TextIfSet(818, 216),
    TextIfSet(52, 9, kNewTypeNot5),
    // (fix-up: a 0x600 file with an empty text at 1096 gets "1ST_CONN")
    Num16(1930, kVersionNot600),
    Num16(22, kVersion800Or900), Num16(1116, kVersion800Or900), Num16(46, kVersion800Or900),
    TextIfSet(422, 36, kVersion800Or900),
    Num16(86, kVersion900), Num16(50, kVersion900), Num16(84, kVersion900),
    Num32IfSet(3124, kVersion900),
    TextIfSet(3128, 256, kVersion900),
};

constexpr FieldCopy kL2[] = {
    Num16(44), Num16(62), Num16(98), Num16(798), Num16(1074), Num16(1106), Num16(1114),
    Num16(1038), Num16(816), Num16(96),
    Num32(76), Num32(80), Num32(88), Num32(68), Num32(72), Num32(812), Num32(800), Num32(804),
    Num32(1932), Num32(1936), Num32(64), Num32(3088), Num32(92),
    Float(808),
    TextIfSet(180, 216),
    Text(1968, 9),
    TextIfSet(100, 15),
    Num16(1930, kVersion600),
    // (fix-up for 0x600 files: 64, 1932/1936/1968, 44, 3088 from 1036, 92/96)
    Num32(3104, kVersion800Or900), Num32(3092, kVersion800Or900), Num32(3100, kVersion800Or900),
    Num32(3096, kVersion800Or900), Num32(3124, kVersion800Or900), Num32(3084, kVersion800Or900),
    Num32(24, kVersion800Or900), Num32(3080, kVersion800Or900), Num32(32, kVersion800Or900),
    Num16(38, kVersion800Or900), Num16(1942, kVersion800Or900),
    TextIfSet(3128, 256, kVersion800Or900), TextIfSet(1977, 227, kVersion800Or900),
    Num16(1940, kVersion900), Num16(86, kVersion900), Num16(50, kVersion900),
    Num16(1126, kVersion900), Num16(84, kVersion900),
    Num32(1944, kVersion900),
    Num32(3108, kVersion900AtLevel7100),
};

constexpr FieldCopy kL3[] = {
    Num16(48),
    TextIfSet(696, 49), TextIfSet(1108, 5), TextIfSet(745, 49), TextIfSet(115, 65),
};

constexpr FieldCopy kL4[] = {
    Num16(1940, kVersion800),
    Num16(48, kVersion800Or900),
};

constexpr FieldCopy kL5[] = {
    Num32(3084, kVersion800Or900),
    Num16(3112, kVersion800Or900), Num16(3114, kVersion800Or900),
    Num16(3116, kVersion800Or900), Num16(3118, kVersion800Or900),
    Float(3120, kVersion800Or900),
    // (fix-up: an old value below 400 at 76 becomes 400)
};

// Row: new node type 1..5; column: old node type 1..5; 0 = cannot be converted.
constexpr int kConverterByNodeTypes[5][5] = {
    //  old: 1  2  3  4  5
    /* 1 */ {4, 1, 3, 0, 2},
    /* 2 */ {1, 1, 1, 0, 1},
    /* 3 */ {3, 1, 3, 0, 2},
    /* 4 */ {4, 1, 3, 5, 2},
    /* 5 */ {2, 1, 2, 0, 2},
};
// clang-format on

}  // namespace

std::span<const FieldCopy> ConverterCopies(int level) {
  switch (level) {
    case 1:
      return kL1;
    case 2:
      return kL2;
    case 3:
      return kL3;
    case 4:
      return kL4;
    case 5:
      return kL5;
    default:
      return {};
  }
}

int ConverterFor(uint16_t newNodeType, uint16_t oldNodeType) {
  if (newNodeType < 1 || newNodeType > 5 || oldNodeType < 1 || oldNodeType > 5) return 0;
  return kConverterByNodeTypes[newNodeType - 1][oldNodeType - 1];
}

}  // namespace qz7::upgrade
