// The field rules of a qz7systm conversion: which values the converters carry from an old
// block into a new one, by node types and layout version, the values they compute instead of
// copying, and how the parameters are put back into their ranges, per node type, with the
// rules that tie the shared-memory parameters to each other.
#include <gtest/gtest.h>

#include <limits>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "testkit/dbm_block_builder.h"
#include "upgrade/dbm_configuration_conversion.h"

namespace qz7::upgrade {
namespace {

using testkit::DbmBlockBuilder;
using Bytes = std::vector<unsigned char>;

// Converts old into new; the new block afterwards (unchanged on error).
Bytes Convert(const DbmBlockBuilder& newBuilder, const DbmBlockBuilder& oldBuilder,
              int* result = nullptr) {
  auto newBlock = newBuilder.Block();
  const int code = ConvertDbmFields(newBlock.data(), oldBuilder.Block().data());
  if (result != nullptr) *result = code;
  return Bytes(newBlock.begin(), newBlock.end());
}

// A field as text: numbers of width 2 or 4 in decimal, anything wider as a fixed text.
void SetField(DbmBlockBuilder& builder, size_t offset, size_t width, const std::string& value) {
  if (width == 2) builder.U16(offset, static_cast<uint16_t>(std::stoul(value)));
  if (width == 4) builder.U32(offset, static_cast<uint32_t>(std::stoul(value)));
  if (width > 4) builder.Text(offset, width, value);
}
std::string GetField(const Bytes& block, size_t offset, size_t width) {
  if (width == 2) return std::to_string(testkit::DbmU16(block, offset));
  if (width == 4) return std::to_string(testkit::DbmU32(block, offset));
  return testkit::DbmText(block, offset, width);
}

TEST(DbmNodeTypeTable, EveryCellSelectsItsConverter) {
  // Rows: new node type 0..6; columns: old node type 0..6; the converter L1..L5 chosen, or 0
  // for a pair refused with -5065 and the new block left as it was.
  constexpr int kExpected[7][7] = {
      {0, 0, 0, 0, 0, 0, 0}, {0, 4, 1, 3, 0, 2, 0}, {0, 1, 1, 1, 0, 1, 0}, {0, 3, 1, 3, 0, 2, 0},
      {0, 4, 1, 3, 5, 2, 0}, {0, 2, 1, 2, 0, 2, 0}, {0, 0, 0, 0, 0, 0, 0},
  };
  // One marker per converter, at a field only that converter and those above it carry.
  constexpr size_t kMarkerAt[] = {0, 36, 62, 48, 1940, 3112};
  for (uint16_t newType = 0; newType <= 6; ++newType) {
    for (uint16_t oldType = 0; oldType <= 6; ++oldType) {
      SCOPED_TRACE("new type " + std::to_string(newType) + ", old type " + std::to_string(oldType));
      auto oldBuilder = DbmBlockBuilder().Version(0x800).NodeType(oldType);
      for (int level = 1; level <= 5; ++level) oldBuilder.U16(kMarkerAt[level], 77);
      const auto newBuilder = DbmBlockBuilder().NodeType(newType).U16(22, 5000);
      int result = 0;
      const Bytes converted = Convert(newBuilder, oldBuilder, &result);
      int seen = 0;
      for (int level = 1; level <= 5; ++level)
        if (testkit::DbmU16(converted, kMarkerAt[level]) == 77) seen = level;
      const int expected = kExpected[newType][oldType];
      EXPECT_EQ(result, expected == 0 ? kDbmNodeTypesError : 0);
      EXPECT_EQ(seen, expected);
      EXPECT_TRUE(expected != 0 || converted == newBuilder.Bytes()) << "refused, yet changed";
    }
  }
}

// The fields and the first converter (1..5) that carries each from a file of layout version
// 0x600, 0x800 and 0x900; 0: none. Fields are {offset, width}: width 2 or 4 is a number, any
// other width a text.
struct Carried {
  int from[3];
  std::vector<std::pair<size_t, size_t>> fields;
};

// clang-format off
const Carried kCarried[] = {
    {{1, 1, 1}, {{36, 2}, {794, 2}, {796, 2}, {18, 2}, {1128, 2}, {1034, 2}, {1130, 256},
                 {1386, 256}, {1642, 256}, {1898, 32}, {679, 17}, {1040, 17}, {1057, 17},
                 {396, 26}, {1076, 20}, {1096, 9}, {818, 216}, {52, 9}}},
    {{2, 1, 1}, {{1930, 2}}},
    {{0, 1, 1}, {{22, 2}, {1116, 2}, {46, 2}, {422, 36}}},
    {{0, 0, 1}, {{86, 2}, {50, 2}, {84, 2}}},
    {{0, 2, 1}, {{3124, 4}, {3128, 256}}},
    {{2, 2, 2}, {{44, 2}, {62, 2}, {98, 2}, {798, 2}, {1074, 2}, {1106, 2}, {1114, 2}, {1038, 2},
                 {816, 2}, {96, 2}, {76, 4}, {80, 4}, {88, 4}, {68, 4}, {72, 4}, {812, 4},
                 {800, 4}, {804, 4}, {1932, 4}, {1936, 4}, {64, 4}, {92, 4}, {808, 4},
                 {180, 216}, {1968, 9}, {100, 15}}},
    // 3088 of a 0x600 file is taken from the 16-bit value at 1036 instead
    {{0, 2, 2}, {{3088, 4}, {3104, 4}, {3092, 4}, {3100, 4}, {3096, 4}, {3084, 4}, {24, 4},
                 {3080, 4}, {32, 4}, {38, 2}, {1942, 2}, {1977, 227}}},
    {{0, 4, 2}, {{1940, 2}}},
    {{0, 0, 2}, {{1126, 2}, {1944, 4}, {3108, 4}}},
    {{3, 3, 3}, {{48, 2}, {696, 49}, {1108, 5}, {745, 49}, {115, 65}}},
    {{0, 5, 5}, {{3112, 2}, {3114, 2}, {3116, 2}, {3118, 2}, {3120, 4}}},
    {{0, 0, 0}, {{40, 2}, {1036, 2}, {20, 2}, {2300, 4}}},
};
// clang-format on

// An old value that no fix-up changes: in range for the 0x600 rules and at least 400 at 76.
std::string OldValue(size_t offset, size_t width) {
  if (width > 4) return ("T" + std::to_string(offset)).substr(0, width - 1);
  return std::to_string(offset == 64 || offset == 76 ? 20000 : offset % 200 + 5);
}

TEST(DbmConverters, EachConverterCarriesItsFieldsForEachVersion) {
  // A node-type pair (new, old) for each converter; the new type is never 5, so the text at
  // 52 is carried wherever L1 runs.
  constexpr uint16_t kPairFor[6][2] = {{0, 0}, {2, 1}, {1, 5}, {3, 1}, {1, 1}, {4, 4}};
  const uint16_t versions[3] = {0x600, 0x800, 0x900};
  for (int v = 0; v < 3; ++v) {
    for (int level = 1; level <= 5; ++level) {
      DbmBlockBuilder oldBuilder;
      for (const Carried& group : kCarried)
        for (auto [offset, width] : group.fields)
          SetField(oldBuilder, offset, width, OldValue(offset, width));
      oldBuilder.Version(versions[v]).Level(7100).NodeType(kPairFor[level][1]);
      int result = -1;
      const Bytes converted =
          Convert(DbmBlockBuilder().NodeType(kPairFor[level][0]), oldBuilder, &result);
      ASSERT_EQ(result, 0);
      for (const Carried& group : kCarried) {
        for (auto [offset, width] : group.fields) {
          EXPECT_EQ(GetField(converted, offset, width) == OldValue(offset, width),
                    group.from[v] != 0 && level >= group.from[v])
              << "converter L" << level << ", version 0x" << std::hex << versions[v] << std::dec
              << ", field at " << offset;
        }
      }
    }
  }
}

// Fields with a rule of their own (taken only when set or under a condition, or given a
// default) and values computed for 0x600 files by L2, and the floor at 76 of L5. A field is
// {offset, width, value as text}.
struct Field {
  size_t offset, width;
  std::string value;
};

TEST(DbmConverters, ConditionalAndComputedFields) {
  struct Case {
    const char* name;
    uint16_t version, newType, oldType;
    std::vector<Field> old, templ, expected;
  };
  const std::vector<Field> reset = {{1932, 4, "256"}, {1936, 4, "20"}, {1968, 9, ""}};
  // clang-format off
  const Case cases[] = {
      {"1076 starting '0' is not taken", 0x800, 2, 1, {{1076, 20, "0PEN"}}, {{1076, 20, "T"}},
       {{1076, 20, "T"}}},
      {"52 not taken into type 5", 0x900, 5, 1, {{52, 9, "O"}}, {{52, 9, "N"}}, {{52, 9, "N"}}},
      {"0x600 empty 1096 gets the default", 0x600, 2, 1, {}, {}, {{1096, 9, "1ST_CONN"}}},
      {"3108, level 7099", 0x900, 5, 1, {{20, 2, "7099"}, {3108, 4, "42"}}, {}, {{3108, 4, "0"}}},
      {"600: 64 below 10000 raised", 0x600, 5, 1, {{64, 4, "9999"}}, {}, {{64, 4, "10000"}}},
      {"600: 1932 below 4 resets", 0x600, 5, 1, {{1932, 4, "3"}}, {}, reset},
      {"600: 3088 from signed 1036", 0x600, 5, 1, {{1036, 2, "65535"}, {3088, 4, "77"}}, {},
       {{3088, 4, "4294967295"}}},
      {"L5: 76 below 400 becomes 400", 0x600, 4, 4, {{76, 4, "399"}}, {}, {{76, 4, "400"}}},
  };
  // clang-format on
  for (const Case& c : cases) {
    DbmBlockBuilder oldBuilder, newBuilder;
    oldBuilder.Version(c.version).NodeType(c.oldType).Text(1968, 9, "OLDNODE");
    newBuilder.NodeType(c.newType).Text(1968, 9, "TPLNODE");
    std::vector<Field> old = {{64, 4, "20000"}, {1932, 4, "500"}, {1936, 4, "100"},
                              {92, 4, "7"},     {96, 2, "1"},     {76, 4, "1000"}};
    old.insert(old.end(), c.old.begin(), c.old.end());
    for (const Field& f : old) SetField(oldBuilder, f.offset, f.width, f.value);
    for (const Field& f : c.templ) SetField(newBuilder, f.offset, f.width, f.value);
    int result = -1;
    const Bytes converted = Convert(newBuilder, oldBuilder, &result);
    ASSERT_EQ(result, 0) << c.name;
    for (const Field& e : c.expected)
      EXPECT_EQ(GetField(converted, e.offset, e.width), e.value) << c.name << ", at " << e.offset;
  }
}

using Values = std::vector<std::pair<size_t, double>>;  // {offset, value}

// How the block holds the parameter at an offset: 16 or 32 bits, signed or not, or a float.
enum Type { kU16, kS16, kU32, kS32, kF32 };
Type TypeAt(size_t offset) {
  static const std::set<size_t> s16 = {38, 98}, f32 = {808, 3120},
                                u32 = {64, 68, 72, 76, 88, 800, 3080, 3092, 3096},
                                s32 = {24,   32,   80,   92,   804,  812,  1932,
                                       1936, 1944, 3084, 3088, 3100, 3104, 3124};
  return s16.count(offset)   ? kS16
         : f32.count(offset) ? kF32
         : u32.count(offset) ? kU32
         : s32.count(offset) ? kS32
                             : kU16;
}

Bytes Normalized(DbmBlockBuilder builder, const Values& given) {
  for (const auto& [offset, value] : given) {
    const Type type = TypeAt(offset);
    if (type == kU16) builder.U16(offset, static_cast<uint16_t>(value));
    if (type == kS16) builder.S16(offset, static_cast<int16_t>(value));
    if (type == kU32) builder.U32(offset, static_cast<uint32_t>(value));
    if (type == kS32) builder.S32(offset, static_cast<int32_t>(value));
    if (type == kF32) builder.Float(offset, static_cast<float>(value));
  }
  auto block = builder.Block();
  NormalizeDbmParameters(block.data());
  return Bytes(block.begin(), block.end());
}

double Read(const Bytes& block, size_t offset) {
  const Type type = TypeAt(offset);
  if (type == kU16) return testkit::DbmU16(block, offset);
  if (type == kS16) return testkit::DbmS16(block, offset);
  if (type == kU32) return testkit::DbmU32(block, offset);
  if (type == kS32) return testkit::DbmS32(block, offset);
  return testkit::DbmFloat(block, offset);
}

struct Case {
  const char* name;
  uint16_t nodeType;
  Values given, expected;
};

void Check(const std::vector<Case>& cases, const Values& defaults = {}) {
  for (const Case& c : cases) {
    Values given = defaults;
    given.insert(given.end(), c.given.begin(), c.given.end());
    const auto block = Normalized(DbmBlockBuilder().NodeType(c.nodeType), given);
    for (const auto& [offset, value] : c.expected)
      EXPECT_FLOAT_EQ(Read(block, offset), value) << c.name << ", at " << offset;
  }
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(DbmNormalization, RangeRules) {
  Check({
      {"18 below its range", 1, {{18, 100}}, {{18, 4096}}},
      {"client block",
       2,
       {{44, 7}, {62, 5}, {76, 300}, {3088, 9}, {3112, 4}, {808, 1}},
       {{44, 3}, {62, 0}, {76, 0}, {3088, 0}, {3112, 0}, {808, 0}}},
      {"44 above 256", 3, {{44, 257}}, {{44, 8}}},
      {"64 below 250", 1, {{64, 249}}, {{64, 10000}}},
      {"1936 negative is signed", 1, {{1936, -5}}, {{1936, 20}}},
      {"98 above 6", 1, {{98, 7}}, {{98, -1}}},
      {"808 not a number", 1, {{808, kNaN}}, {{808, 4e-5}}},
      {"1940 when 1930 is 2", 1, {{1930, 2}, {1940, 0}}, {{1940, 1}}},
      // Bounds taken from other fields, after those fields were put right.
      {"3088 against 76 already put right", 1, {{76, 0}, {3088, 250}}, {{76, 200}, {3088, -1}}},
      {"3104 against 3096 already put right",
       0,
       {{3096, 0}, {3104, 1000}},
       {{3096, 1024}, {3104, 1000}}},
  });
}

// The shared-memory rules. Rows name only what they set or check; 76 is 1000,
// 24, 3084, 3088, 92 and 80 are -1 and 38 is 1 unless a row sets them.
TEST(DbmNormalization, DependentRules) {
  Check(
      {
          {"3080 above the limit 3088", 3, {{3088, 100}, {3080, 150}}, {{3080, 0}}},
          {"3080 over max(24, 76/50)", 3, {{24, 10}, {3080, 21}}, {{3080, 0}}},
          {"type 1: 3080 over 24 * 76/50", 1, {{24, 2}, {3084, 990}, {3080, 41}}, {{3080, 0}}},
          {"3084 plus 3080 above 76", 3, {{3080, 100}, {3084, 901}}, {{3084, -1}}},
          {"3084 with 38 clear", 3, {{38, 0}, {3084, 500}}, {{3084, -1}}},
          {"92 above 3084", 4, {{3084, 500}, {92, 501}}, {{92, -1}}},
          {"80 above 76 - 3080", 4, {{3080, 100}, {80, 901}}, {{80, -1}}},
          {"1944 above 92", 4, {{92, 300}, {1944, 301}}, {{1944, 0}}},
          // The rules see what the rules before them made of the values.
          {"92 against 3084 just made -1",
           3,
           {{38, 0}, {3084, 500}, {3080, 0}, {92, 800}},
           {{3084, -1}, {92, 800}}},
      },
      {{76, 1000}, {3088, -1}, {24, -1}, {3084, -1}, {38, 1}, {92, -1}, {80, -1}});
}

}  // namespace
}  // namespace qz7::upgrade
