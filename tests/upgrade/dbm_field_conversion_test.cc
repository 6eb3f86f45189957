// Which values the field converters carry from an old qz7systm block into a new one, by node
// types and layout version, and the values they compute instead of copying.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "testkit/dbm_block_builder.h"
#include "upgrade/dbm_configuration_conversion.h"

namespace qz7::upgrade {
namespace {

using testkit::DbmBlockBuilder;
using Bytes = std::vector<unsigned char>;

Bytes ToBytes(const std::array<unsigned char, 4096>& block) {
  return Bytes(block.begin(), block.end());
}

// Converts old into new and returns the new block (or the new block unchanged on error).
struct Converted {
  int result;
  Bytes block;
};
Converted Convert(const DbmBlockBuilder& newBuilder, const DbmBlockBuilder& oldBuilder) {
  auto newBlock = newBuilder.Block();
  auto oldBlock = oldBuilder.Block();
  int result = ConvertDbmFields(newBlock.data(), oldBlock.data());
  return {result, ToBytes(newBlock)};
}

// ---- The node-type table ----

// An old 0x800 block with one marker that only converter N and above carry, for N = 1..5.
struct Marker {
  int level;
  size_t offset;
};
constexpr Marker kMarkers[] = {{1, 36}, {2, 62}, {3, 48}, {4, 1940}, {5, 3112}};

int ConverterSeen(uint16_t newType, uint16_t oldType, int* result) {
  DbmBlockBuilder oldBuilder;
  oldBuilder.Version(0x800).NodeType(oldType);
  for (const Marker& marker : kMarkers) oldBuilder.U16(marker.offset, 77);
  // 48 is carried by L3 and, for 0x800 files, by L4 as well: both are at least 3.
  DbmBlockBuilder newBuilder;
  newBuilder.NodeType(newType);
  const Converted converted = Convert(newBuilder, oldBuilder);
  *result = converted.result;
  int seen = 0;
  for (const Marker& marker : kMarkers) {
    if (testkit::DbmU16(converted.block, marker.offset) == 77) seen = marker.level;
  }
  return seen;
}

TEST(DbmNodeTypeTable, EveryCellSelectsItsConverter) {
  // Rows: new node type 0..6; columns: old node type 0..6; 0 means refused with -5065.
  constexpr int kExpected[7][7] = {
      /* new 0 */ {0, 0, 0, 0, 0, 0, 0},
      /* new 1 */ {0, 4, 1, 3, 0, 2, 0},
      /* new 2 */ {0, 1, 1, 1, 0, 1, 0},
      /* new 3 */ {0, 3, 1, 3, 0, 2, 0},
      /* new 4 */ {0, 4, 1, 3, 5, 2, 0},
      /* new 5 */ {0, 2, 1, 2, 0, 2, 0},
      /* new 6 */ {0, 0, 0, 0, 0, 0, 0},
  };
  for (uint16_t newType = 0; newType <= 6; ++newType) {
    for (uint16_t oldType = 0; oldType <= 6; ++oldType) {
      SCOPED_TRACE("new type " + std::to_string(newType) + ", old type " + std::to_string(oldType));
      int result = 0;
      const int seen = ConverterSeen(newType, oldType, &result);
      const int expected = kExpected[newType][oldType];
      EXPECT_EQ(result, expected == 0 ? kDbmNodeTypesError : 0);
      EXPECT_EQ(seen, expected);
    }
  }
}

TEST(DbmNodeTypeTable, RefusedPairLeavesTheNewBlockUnchanged) {
  DbmBlockBuilder newBuilder;
  newBuilder.NodeType(2).U16(36, 5000);
  DbmBlockBuilder oldBuilder;
  oldBuilder.NodeType(4).U16(36, 9000).Fill(0x11).NodeType(4).Version(0x900);
  const Converted converted = Convert(newBuilder, oldBuilder);
  EXPECT_EQ(converted.result, kDbmNodeTypesError);
  EXPECT_EQ(converted.block, newBuilder.Bytes());
}

// ---- What each converter carries, by version ----

// The first converter (1..5) that carries the field from a file of each version; 0: none.
struct Carried {
  size_t offset;
  size_t width;  // 2 or 4: a number; otherwise a text of that width
  int from600;
  int from800;
  int from900;
};

// clang-format off
constexpr Carried kCarried[] = {
    // converter L1
    {36, 2, 1, 1, 1}, {794, 2, 1, 1, 1}, {796, 2, 1, 1, 1}, {18, 2, 1, 1, 1},
    {1128, 2, 1, 1, 1}, {1034, 2, 1, 1, 1},
    {1130, 256, 1, 1, 1}, {1386, 256, 1, 1, 1}, {1642, 256, 1, 1, 1}, {1898, 32, 1, 1, 1},
    {679, 17, 1, 1, 1}, {1040, 17, 1, 1, 1}, {1057, 17, 1, 1, 1}, {396, 26, 1, 1, 1},
    {1076, 20, 1, 1, 1}, {1096, 9, 1, 1, 1}, {818, 216, 1, 1, 1}, {52, 9, 1, 1, 1},
    {1930, 2, 2, 1, 1},
    {22, 2, 0, 1, 1}, {1116, 2, 0, 1, 1}, {46, 2, 0, 1, 1}, {422, 36, 0, 1, 1},
    {86, 2, 0, 0, 1}, {50, 2, 0, 0, 1}, {84, 2, 0, 0, 1},
    {3124, 4, 0, 2, 1}, {3128, 256, 0, 2, 1},
    // converter L2
    {44, 2, 2, 2, 2}, {62, 2, 2, 2, 2}, {98, 2, 2, 2, 2}, {798, 2, 2, 2, 2},
    {1074, 2, 2, 2, 2}, {1106, 2, 2, 2, 2}, {1114, 2, 2, 2, 2}, {1038, 2, 2, 2, 2},
    {816, 2, 2, 2, 2}, {96, 2, 2, 2, 2},
    {76, 4, 2, 2, 2}, {80, 4, 2, 2, 2}, {88, 4, 2, 2, 2}, {68, 4, 2, 2, 2}, {72, 4, 2, 2, 2},
    {812, 4, 2, 2, 2}, {800, 4, 2, 2, 2}, {804, 4, 2, 2, 2}, {1932, 4, 2, 2, 2},
    {1936, 4, 2, 2, 2}, {64, 4, 2, 2, 2}, {92, 4, 2, 2, 2}, {808, 4, 2, 2, 2},
    {3088, 4, 0, 2, 2},  // 0x600: taken from the 16-bit value at 1036 instead
    {180, 216, 2, 2, 2}, {1968, 9, 2, 2, 2}, {100, 15, 2, 2, 2},
    {3104, 4, 0, 2, 2}, {3092, 4, 0, 2, 2}, {3100, 4, 0, 2, 2}, {3096, 4, 0, 2, 2},
    {3084, 4, 0, 2, 2}, {24, 4, 0, 2, 2}, {3080, 4, 0, 2, 2}, {32, 4, 0, 2, 2},
    {38, 2, 0, 2, 2}, {1942, 2, 0, 2, 2}, {1977, 227, 0, 2, 2},
    {1940, 2, 0, 4, 2}, {1126, 2, 0, 0, 2}, {1944, 4, 0, 0, 2}, {3108, 4, 0, 0, 2},
    // converter L3
    {48, 2, 3, 3, 3}, {696, 49, 3, 3, 3}, {1108, 5, 3, 3, 3}, {745, 49, 3, 3, 3},
    {115, 65, 3, 3, 3},
    // converter L5
    {3112, 2, 0, 5, 5}, {3114, 2, 0, 5, 5}, {3116, 2, 0, 5, 5}, {3118, 2, 0, 5, 5},
    {3120, 4, 0, 5, 5},
    // never carried
    {40, 2, 0, 0, 0}, {1036, 2, 0, 0, 0}, {20, 2, 0, 0, 0}, {2300, 4, 0, 0, 0},
};
// clang-format on

// A node-type pair (new, old) for each converter; the new type is never 5, so the text at 52
// is carried wherever L1 runs.
constexpr uint16_t kPairFor[6][2] = {{0, 0}, {2, 1}, {1, 5}, {3, 1}, {1, 1}, {4, 4}};

// An old value that no fix-up changes: in range for the 0x600 rules and at least 400 at 76.
uint32_t OldValue(size_t offset) {
  switch (offset) {
    case 64:
      return 20000;
    case 76:
      return 1000;
    case 1932:
      return 500;
    case 1936:
      return 100;
    default:
      return static_cast<uint32_t>(offset % 200 + 5);
  }
}

std::string OldText(const Carried& field) {
  return ("T" + std::to_string(field.offset)).substr(0, field.width - 1);
}

void SetOld(DbmBlockBuilder& builder, const Carried& field) {
  if (field.width == 2) {
    builder.U16(field.offset, static_cast<uint16_t>(OldValue(field.offset)));
  } else if (field.width == 4) {
    builder.U32(field.offset, OldValue(field.offset));
  } else {
    builder.Text(field.offset, field.width, OldText(field));
  }
}

bool HoldsOldValue(const Bytes& block, const Carried& field) {
  if (field.width == 2) return testkit::DbmU16(block, field.offset) == OldValue(field.offset);
  if (field.width == 4) return testkit::DbmU32(block, field.offset) == OldValue(field.offset);
  return testkit::DbmText(block, field.offset, field.width) == OldText(field);
}

TEST(DbmConverters, EachConverterCarriesItsFieldsForEachVersion) {
  for (uint16_t version : {0x600, 0x800, 0x900}) {
    for (int level = 1; level <= 5; ++level) {
      DbmBlockBuilder oldBuilder;
      oldBuilder.Version(version).Level(7100).NodeType(kPairFor[level][1]);
      for (const Carried& field : kCarried) {
        if (field.offset != 40 && field.offset != 20) SetOld(oldBuilder, field);
      }
      DbmBlockBuilder newBuilder;
      newBuilder.NodeType(kPairFor[level][0]);
      const Converted converted = Convert(newBuilder, oldBuilder);
      ASSERT_EQ(converted.result, 0);
      for (const Carried& field : kCarried) {
        const int from = version == 0x600   ? field.from600
                         : version == 0x800 ? field.from800
                                            : field.from900;
        const bool expected = from != 0 && level >= from;
        EXPECT_EQ(HoldsOldValue(converted.block, field), expected)
            << "converter L" << level << ", version 0x" << std::hex << version << std::dec
            << ", field at " << field.offset;
      }
    }
  }
}

TEST(DbmConverters, CopyIfSetKeepsTheTemplateWhenTheOldValueIsEmpty) {
  struct Case {
    const char* name;
    size_t offset;
    size_t width;
    uint16_t newType;  // with old type 3: 2 selects L1, 1 selects L3
  } cases[] = {{"text 1130 by L1", 1130, 256, 2},
               {"text 1096 by L1", 1096, 9, 2},
               {"text 696 by L3", 696, 49, 1},
               {"number 3124 by L1 from a 0x900 file", 3124, 4, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DbmBlockBuilder newBuilder;
    newBuilder.NodeType(c.newType);
    if (c.width == 4) {
      newBuilder.U32(c.offset, 1234);
    } else {
      newBuilder.Text(c.offset, c.width, "TEMPLATE");
    }
    DbmBlockBuilder oldBuilder;
    oldBuilder.Version(0x900).NodeType(3);
    const Converted converted = Convert(newBuilder, oldBuilder);
    ASSERT_EQ(converted.result, 0);
    if (c.width == 4) {
      EXPECT_EQ(testkit::DbmU32(converted.block, c.offset), 1234u);
    } else {
      EXPECT_EQ(testkit::DbmText(converted.block, c.offset, c.width), "TEMPLATE");
    }
  }
}

TEST(DbmConverters, TextAt1076IsTakenUnlessItStartsWithDigitZero) {
  struct Case {
    const char* name;
    std::string old;
    std::string expected;
  } cases[] = {{"starts with '0'", "0PEN", "TEMPLATE"},
               {"other text", "NEXT", "NEXT"},
               {"empty text is taken too", "", ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DbmBlockBuilder newBuilder;
    newBuilder.NodeType(2).Text(1076, 20, "TEMPLATE");
    DbmBlockBuilder oldBuilder;
    oldBuilder.Version(0x800).Text(1076, 20, c.old);
    EXPECT_EQ(testkit::DbmText(Convert(newBuilder, oldBuilder).block, 1076, 20), c.expected);
  }
}

TEST(DbmConverters, TextAt52IsNotTakenIntoATypeFiveBlock) {
  DbmBlockBuilder oldBuilder;
  oldBuilder.Version(0x900).NodeType(1).Text(52, 9, "OLDNAME");
  DbmBlockBuilder newBuilder;
  newBuilder.NodeType(5).Text(52, 9, "NEWNAME");
  EXPECT_EQ(testkit::DbmText(Convert(newBuilder, oldBuilder).block, 52, 9), "NEWNAME");
  newBuilder.NodeType(3);
  EXPECT_EQ(testkit::DbmText(Convert(newBuilder, oldBuilder).block, 52, 9), "OLDNAME");
}

TEST(DbmConverters, FirstConnectNameOfA600File) {
  struct Case {
    const char* name;
    uint16_t version;
    std::string old;
    std::string templateText;
    std::string expected;
  } cases[] = {
      {"0x600 empty gets the default", 0x600, "", "", "1ST_CONN"},
      {"0x600 empty over a template text keeps the template", 0x600, "", "TPL", "TPL"},
      {"0x600 with a text keeps it", 0x600, "MYCONN", "", "MYCONN"},
      {"0x800 empty stays empty", 0x800, "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DbmBlockBuilder oldBuilder;
    oldBuilder.Version(c.version).Text(1096, 9, c.old);
    DbmBlockBuilder newBuilder;
    newBuilder.NodeType(2).Text(1096, 9, c.templateText);
    EXPECT_EQ(testkit::DbmText(Convert(newBuilder, oldBuilder).block, 1096, 9), c.expected);
  }
}

TEST(DbmConverters, Field3108NeedsLevel7100) {
  for (uint16_t level : {7099, 7100, 8000}) {
    DbmBlockBuilder oldBuilder;
    oldBuilder.Version(0x900).NodeType(1).Level(level).U32(3108, 4242);
    DbmBlockBuilder newBuilder;
    newBuilder.NodeType(5);
    EXPECT_EQ(testkit::DbmU32(Convert(newBuilder, oldBuilder).block, 3108),
              level >= 7100 ? 4242u : 0u)
        << "level " << level;
  }
}

TEST(DbmConverters, VersionBitsOutsideTheMaskAreIgnored) {
  DbmBlockBuilder oldBuilder;
  oldBuilder.Version(0x1803).NodeType(1).U16(22, 99);  // 22 is carried from 0x800 and 0x900
  DbmBlockBuilder newBuilder;
  newBuilder.NodeType(2);
  EXPECT_EQ(testkit::DbmU16(Convert(newBuilder, oldBuilder).block, 22), 99);
}

// ---- Values computed for 0x600 files by L2, and the floor at 76 of L5 ----

struct Setting {
  size_t offset;
  int width;  // 2, 4, or 9 (text)
  int64_t value;
};

struct FixUpCase {
  const char* name;
  uint16_t version;
  uint16_t newType;
  uint16_t oldType;
  std::vector<Setting> old;       // besides in-range defaults
  std::vector<Setting> templ;     // the template's own values
  std::vector<Setting> expected;  // width 9 (1968): 1 = the old text carried, 0 = cleared
};

DbmBlockBuilder& Apply(DbmBlockBuilder& builder, const std::vector<Setting>& settings) {
  for (const Setting& s : settings) {
    if (s.width == 2) builder.U16(s.offset, static_cast<uint16_t>(s.value));
    if (s.width == 4) builder.U32(s.offset, static_cast<uint32_t>(s.value));
  }
  return builder;
}

TEST(DbmConverters, ComputedValues) {
  const std::vector<Setting> inRange = {{64, 4, 20000}, {1932, 4, 500}, {1936, 4, 100},
                                        {92, 4, 7},     {96, 2, 1},     {76, 4, 1000}};
  // clang-format off
  const FixUpCase cases[] = {
      {"600: 64 below 10000 becomes 10000", 0x600, 5, 1, {{64, 4, 9999}}, {}, {{64, 4, 10000}}},
      {"600: 64 of 10000 is kept", 0x600, 5, 1, {{64, 4, 10000}}, {}, {{64, 4, 10000}}},
      {"800: 64 below 10000 is kept", 0x800, 5, 1, {{64, 4, 9999}}, {}, {{64, 4, 9999}}},
      {"600: 1932 below 4 resets 1932, 1936 and 1968", 0x600, 5, 1, {{1932, 4, 3}}, {},
       {{1932, 4, 256}, {1936, 4, 20}, {1968, 9, 0}}},
      {"600: 1932 above 1000", 0x600, 5, 1, {{1932, 4, 1001}}, {},
       {{1932, 4, 256}, {1936, 4, 20}, {1968, 9, 0}}},
      {"600: 1936 below 10", 0x600, 5, 1, {{1936, 4, 9}}, {},
       {{1932, 4, 256}, {1936, 4, 20}, {1968, 9, 0}}},
      {"600: 1936 above 256", 0x600, 5, 1, {{1936, 4, 257}}, {},
       {{1932, 4, 256}, {1936, 4, 20}, {1968, 9, 0}}},
      {"600: 1932 negative (signed)", 0x600, 5, 1, {{1932, 4, -5}}, {},
       {{1932, 4, 256}, {1936, 4, 20}, {1968, 9, 0}}},
      {"600: both in range are kept", 0x600, 5, 1, {{1932, 4, 4}, {1936, 4, 256}}, {},
       {{1932, 4, 4}, {1936, 4, 256}, {1968, 9, 1}}},
      {"800: out of range values are carried", 0x800, 5, 1, {{1932, 4, 3}}, {},
       {{1932, 4, 3}, {1936, 4, 100}, {1968, 9, 1}}},
      {"600: 44 above 256 becomes 256", 0x600, 5, 1, {{44, 2, 300}}, {}, {{44, 2, 256}}},
      {"800: 44 above 256 is carried", 0x800, 5, 1, {{44, 2, 300}}, {}, {{44, 2, 300}}},
      {"600: 3088 from the signed value at 1036", 0x600, 5, 1, {{1036, 2, 0xFFFF}, {3088, 4, 77}},
       {}, {{3088, 4, 0xFFFFFFFF}}},
      {"600: 3088 from a positive value at 1036", 0x600, 5, 1, {{1036, 2, 500}, {3088, 4, 77}},
       {}, {{3088, 4, 500}}},
      {"800: 3088 is carried", 0x800, 5, 1, {{1036, 2, 500}, {3088, 4, 77}}, {}, {{3088, 4, 77}}},
      {"600: 92 and 96 both 0 become -1 and 1", 0x600, 5, 1, {{92, 4, 0}, {96, 2, 0}}, {},
       {{92, 4, 0xFFFFFFFF}, {96, 2, 1}}},
      {"600: only 92 is 0", 0x600, 5, 1, {{92, 4, 0}, {96, 2, 1}}, {}, {{92, 4, 0}, {96, 2, 1}}},
      {"600: only 96 is 0", 0x600, 5, 1, {{92, 4, 5}, {96, 2, 0}}, {}, {{92, 4, 5}, {96, 2, 0}}},
      {"800: 92 and 96 both 0 are carried", 0x800, 5, 1, {{92, 4, 0}, {96, 2, 0}}, {},
       {{92, 4, 0}, {96, 2, 0}}},
      {"L1 computes nothing at 64", 0x600, 2, 1, {{64, 4, 9999}}, {{64, 4, 55}}, {{64, 4, 55}}},
      {"L5: 76 below 400 becomes 400", 0x600, 4, 4, {{76, 4, 399}}, {}, {{76, 4, 400}}},
      {"L5: 76 of 400 is kept", 0x900, 4, 4, {{76, 4, 400}}, {}, {{76, 4, 400}}},
      {"L4: 76 below 400 is carried", 0x900, 4, 1, {{76, 4, 399}}, {}, {{76, 4, 399}}},
  };
  // clang-format on
  for (const FixUpCase& c : cases) {
    SCOPED_TRACE(c.name);
    DbmBlockBuilder oldBuilder;
    oldBuilder.Version(c.version).NodeType(c.oldType);
    Apply(oldBuilder, inRange).Text(1968, 9, "OLDNODE");
    Apply(oldBuilder, c.old);
    DbmBlockBuilder newBuilder;
    newBuilder.NodeType(c.newType).Text(1968, 9, "TPLNODE");
    Apply(newBuilder, c.templ);
    const Converted converted = Convert(newBuilder, oldBuilder);
    ASSERT_EQ(converted.result, 0);
    for (const Setting& e : c.expected) {
      if (e.width == 2) {
        EXPECT_EQ(testkit::DbmU16(converted.block, e.offset), e.value) << e.offset;
      } else if (e.width == 4) {
        EXPECT_EQ(testkit::DbmU32(converted.block, e.offset), e.value) << e.offset;
      } else {
        EXPECT_EQ(testkit::DbmText(converted.block, e.offset, 9), e.value ? "OLDNODE" : "");
      }
    }
  }
}

}  // namespace
}  // namespace qz7::upgrade
