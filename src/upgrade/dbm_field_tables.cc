#include "upgrade/dbm_field_tables.h"

namespace qz7::upgrade {
namespace {

using namespace base::dbm;  // the field names
using enum CopyWhen;

constexpr FieldCopy Copy(const DbmField& field, CopyWhen when = kAlways) {
  return {field, CopyRule::kCopy, when};
}
constexpr FieldCopy CopyIfSet(const DbmField& field, CopyWhen when = kAlways) {
  return {field, CopyRule::kCopyIfSet, when};
}

// clang-format off
constexpr FieldCopy kL1[] = {
    Copy(kParam1), Copy(kParam40), Copy(kParam41), Copy(kParam72), Copy(kParam73),
    Copy(kParam64),
    CopyIfSet(kParam74), CopyIfSet(kParam75), CopyIfSet(kParam76),
    CopyIfSet(kNodeProtocolText),
    CopyIfSet(kParam39), CopyIfSet(kParam62), CopyIfSet(kParam63),
    CopyIfSet(kParam28),
    {kParam66, CopyRule::kCopyUnlessDigitZero, kAlways},
    CopyIfSet(kFirstConnectName),
    CopyIfSet(kParam65),
    CopyIfSet(kParam7, kNewTypeNot5),
    // (fix-up: a 0x600 file with an empty first-connect name gets "1ST_CONN")
    Copy(kParam78, kVersionNot600),
    Copy(kParam304, kVersion800Or900), Copy(kParam82, kVersion800Or900),
    Copy(kParam314, kVersion800Or900),
    CopyIfSet(kServerProtocolText, kVersion800Or900),
    Copy(kDistributedJoin, kVersion900), Copy(kParam602, kVersion900), Copy(kParam605, kVersion900),
    CopyIfSet(kQuerySentryHeap, kVersion900),
    CopyIfSet(kParam311, kVersion900),
};

constexpr FieldCopy kL2[] = {
    Copy(kParam6), Copy(kParam20), Copy(kParam26), Copy(kParam30To35), Copy(kParam79),
    Copy(kParam68), Copy(kParam69), Copy(kParam61), Copy(kParam45), Copy(kParam81),
    Copy(kParam12), Copy(kParam13), Copy(kParam15), Copy(kParam18), Copy(kParam19),
    Copy(kParam49), Copy(kParam43), Copy(kParam44), Copy(kParam90), Copy(kParam91),
    Copy(kParam21), Copy(kParam80),
    Copy(kProcessorSpeed),
    CopyIfSet(kParam27),
    Copy(kNodeName),
    CopyIfSet(kParam24),
    Copy(kParam78, kVersion600),
    // (fix-up for 0x600 files: kParam21, kParam90/91 with the node name, kParam6, kParam502
    // from its 0x600 place, kParam80/81)
    Copy(kParam502, kVersion800Or900),
    Copy(kParam506, kVersion800Or900), Copy(kParam503, kVersion800Or900),
    Copy(kParam505, kVersion800Or900), Copy(kParam504, kVersion800Or900),
    Copy(kQuerySentryHeap, kVersion800Or900), Copy(kParam501, kVersion800Or900),
    Copy(kParam303, kVersion800Or900), Copy(kParam500, kVersion800Or900),
    Copy(kParam312, kVersion800Or900),
    Copy(kParam306, kVersion800Or900), Copy(kParam309, kVersion800Or900),
    CopyIfSet(kParam311, kVersion800Or900), CopyIfSet(kParam313, kVersion800Or900),
    Copy(kParam301And302, kVersion900), Copy(kDistributedJoin, kVersion900),
    Copy(kParam602, kVersion900), Copy(kParam603, kVersion900), Copy(kParam605, kVersion900),
    Copy(kParam601, kVersion900),
    Copy(kParam701, kVersion900AtLevel7100),
};

constexpr FieldCopy kL3[] = {
    Copy(kParam308),
    CopyIfSet(kParam47), CopyIfSet(kParam71), CopyIfSet(kParam48), CopyIfSet(kParam25),
};

constexpr FieldCopy kL4[] = {
    Copy(kParam301And302, kVersion800),
    Copy(kParam308, kVersion800Or900),
};

constexpr FieldCopy kL5[] = {
    Copy(kParam501, kVersion800Or900),
    Copy(kParam508, kVersion800Or900), Copy(kParam509, kVersion800Or900),
    Copy(kParam510, kVersion800Or900), Copy(kParam511, kVersion800Or900),
    Copy(kCommBandwidth, kVersion800Or900),
    // (fix-up: an old kParam12 below 400 becomes 400)
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

// The lowest layout version a condition lets a row take its field from.
constexpr uint16_t LowestVersion(CopyWhen when) {
  switch (when) {
    case kVersion800:
    case kVersion800Or900:
    case kVersionNot600:
      return kDbmVersion800;
    case kVersion900:
    case kVersion900AtLevel7100:
      return kDbmVersion900;
    case kAlways:
    case kVersion600:
    case kNewTypeNot5:
      return kDbmVersion600;
  }
  return kDbmVersion600;
}

// No row takes a field from a layout that does not hold it, and the digit-zero rule is only
// for texts.
template <size_t N>
constexpr bool RowsMatchLayouts(const FieldCopy (&rows)[N]) {
  for (const FieldCopy& row : rows) {
    if (LowestVersion(row.when) < row.field.since) return false;
    if (row.rule == CopyRule::kCopyUnlessDigitZero && !base::IsText(row.field)) return false;
  }
  return true;
}
// Every parameter of the map is carried by some converter, but for the one that only the
// 0x600 layout holds (the fix-up reads it): the map names no field the conversion ignores.
constexpr bool CarriedBySomeConverter(const DbmField& field) {
  const std::span<const FieldCopy> converters[] = {kL1, kL2, kL3, kL4, kL5};
  for (std::span<const FieldCopy> rows : converters) {
    for (const FieldCopy& row : rows) {
      if (row.field == field) return true;
    }
  }
  return false;
}
constexpr bool EveryParameterCarried() {
  for (const DbmField& field : kParameters) {
    if (!(field == kParam502Layout600) && !CarriedBySomeConverter(field)) return false;
  }
  return true;
}
static_assert(EveryParameterCarried(), "a qz7systm parameter is carried by no converter");

static_assert(RowsMatchLayouts(kL1) && RowsMatchLayouts(kL2) && RowsMatchLayouts(kL3) &&
                  RowsMatchLayouts(kL4) && RowsMatchLayouts(kL5),
              "a converter row takes a field from a layout that does not hold it");

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
