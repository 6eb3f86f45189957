// Putting the parameters of a qz7systm block back into their ranges, per node type, with the
// rules that tie the shared-memory parameters to each other.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "testkit/dbm_block_builder.h"
#include "upgrade/dbm_configuration_conversion.h"
#include "util/dbm_block.h"

namespace qz7::upgrade {
namespace {

using testkit::DbmBlockBuilder;

enum Type { kU16, kS16, kU32, kS32, kF32 };

struct Value {
  size_t offset;
  Type type;
  double value;
};

struct Case {
  const char* name;
  uint16_t nodeType;
  std::vector<Value> given;
  std::vector<Value> expected;
};

std::vector<unsigned char> Normalized(uint16_t nodeType, const std::vector<Value>& given) {
  DbmBlockBuilder builder;
  builder.NodeType(nodeType);
  for (const Value& v : given) {
    switch (v.type) {
      case kU16:
        builder.U16(v.offset, static_cast<uint16_t>(v.value));
        break;
      case kS16:
        builder.S16(v.offset, static_cast<int16_t>(v.value));
        break;
      case kU32:
        builder.U32(v.offset, static_cast<uint32_t>(v.value));
        break;
      case kS32:
        builder.S32(v.offset, static_cast<int32_t>(v.value));
        break;
      case kF32:
        builder.Float(v.offset, static_cast<float>(v.value));
        break;
    }
  }
  auto block = builder.Block();
  NormalizeDbmParameters(block.data());
  return std::vector<unsigned char>(block.begin(), block.end());
}

double Read(const std::vector<unsigned char>& block, const Value& v) {
  switch (v.type) {
    case kU16:
      return testkit::DbmU16(block, v.offset);
    case kS16:
      return testkit::DbmS16(block, v.offset);
    case kU32:
      return testkit::DbmU32(block, v.offset);
    case kS32:
      return testkit::DbmS32(block, v.offset);
    case kF32:
      return testkit::DbmFloat(block, v.offset);
  }
  return 0;
}

void Check(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " (node type " + std::to_string(c.nodeType) + ")");
    const auto block = Normalized(c.nodeType, c.given);
    for (const Value& e : c.expected) {
      if (e.type == kF32) {
        EXPECT_FLOAT_EQ(static_cast<float>(Read(block, e)), static_cast<float>(e.value))
            << "at " << e.offset;
      } else {
        EXPECT_EQ(Read(block, e), e.value) << "at " << e.offset;
      }
    }
  }
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(DbmNormalization, RangeRules) {
  // clang-format off
  Check({
      {"18 below its range", 1, {{18, kU16, 100}}, {{18, kU16, 4096}}},
      {"18 in range", 1, {{18, kU16, 5000}}, {{18, kU16, 5000}}},
      {"18 non-zero for type 0", 0, {{18, kU16, 5}}, {{18, kU16, 4096}}},
      {"18 zero for type 0 stays", 0, {{18, kU16, 0}}, {{18, kU16, 0}}},
      {"36 zero for a client is out of range", 2, {{36, kU16, 0}}, {{36, kU16, 4096}}},
      {"44 client non-zero", 2, {{44, kU16, 7}}, {{44, kU16, 3}}},
      {"44 client zero", 2, {{44, kU16, 0}}, {{44, kU16, 0}}},
      {"44 zero", 1, {{44, kU16, 0}}, {{44, kU16, 8}}},
      {"44 above 256", 3, {{44, kU16, 257}}, {{44, kU16, 8}}},
      {"44 at 256", 3, {{44, kU16, 256}}, {{44, kU16, 256}}},
      {"44 type 0", 0, {{44, kU16, 300}}, {{44, kU16, 3}}},
      {"64 below 250", 1, {{64, kU32, 249}}, {{64, kU32, 10000}}},
      {"64 at the top", 1, {{64, kU32, 2097152}}, {{64, kU32, 2097152}}},
      {"64 client", 2, {{64, kU32, 5000}}, {{64, kU32, 0}}},
      {"1074 type 0", 0, {{1074, kU16, 0}}, {{1074, kU16, 12}}},
      {"1074 type 1", 1, {{1074, kU16, 0}}, {{1074, kU16, 32}}},
      {"1936 negative is signed", 1, {{1936, kS32, -5}}, {{1936, kS32, 20}}},
      {"98 above 6", 1, {{98, kS16, 7}}, {{98, kS16, -1}}},
      {"98 negative", 1, {{98, kS16, -2}}, {{98, kS16, -1}}},
      {"98 at 6", 1, {{98, kS16, 6}}, {{98, kS16, 6}}},
      {"796 type 0", 0, {{796, kU16, 100}}, {{796, kU16, 0}}},
      {"796 client below range", 2, {{796, kU16, 5}}, {{796, kU16, 128}}},
      {"796 client in range", 2, {{796, kU16, 100}}, {{796, kU16, 100}}},
      {"794 client above 1", 2, {{794, kU16, 2}}, {{794, kU16, 1}}},
      {"1128 type 1 above 1", 1, {{1128, kU16, 2}}, {{1128, kU16, 0}}},
      {"1128 type 4 kept", 4, {{1128, kU16, 1}}, {{1128, kU16, 1}}},
      {"1128 type 3", 3, {{1128, kU16, 1}}, {{1128, kU16, 0}}},
      {"1034 above 4", 2, {{1034, kU16, 5}}, {{1034, kU16, 3}}},
      {"808 above 1", 1, {{808, kF32, 2.0}}, {{808, kF32, 4e-5}}},
      {"808 zero", 1, {{808, kF32, 0.0}}, {{808, kF32, 4e-5}}},
      {"808 not a number", 1, {{808, kF32, kNaN}}, {{808, kF32, 4e-5}}},
      {"808 in range", 1, {{808, kF32, 0.5}}, {{808, kF32, 0.5}}},
      {"808 client", 2, {{808, kF32, 0.5}}, {{808, kF32, 0.0}}},
      {"804 -1 stays", 1, {{804, kS32, -1}}, {{804, kS32, -1}}},
      {"804 below range", 1, {{804, kS32, 31}}, {{804, kS32, 1296}}},
      {"804 other negative", 1, {{804, kS32, -2}}, {{804, kS32, 1296}}},
      {"1940 when 1930 is 1", 1, {{1930, kU16, 1}, {1940, kU16, 0}}, {{1940, kU16, 0}}},
      {"1940 when 1930 is 2", 1, {{1930, kU16, 2}, {1940, kU16, 0}}, {{1940, kU16, 1}}},
      {"1930 above 8 first becomes 0", 1, {{1930, kU16, 9}, {1940, kU16, 0}},
       {{1930, kU16, 0}, {1940, kU16, 1}}},
      {"24 -1 stays", 1, {{24, kS32, -1}}, {{24, kS32, -1}}},
      {"24 zero", 1, {{24, kS32, 0}}, {{24, kS32, -1}}},
      {"24 above 32767", 1, {{24, kS32, 32768}}, {{24, kS32, -1}}},
      {"3092 type 0", 0, {{3092, kU32, 100}}, {{3092, kU32, 512}}},
      {"3092 type 1", 1, {{3092, kU32, 100}}, {{3092, kU32, 1024}}},
      {"3096 type 0", 0, {{3096, kU32, 0}}, {{3096, kU32, 1024}}},
      {"3112 type 4", 4, {{3112, kU16, 101}}, {{3112, kU16, 10}}},
      {"3112 type 1", 1, {{3112, kU16, 50}}, {{3112, kU16, 0}}},
      {"3114 type 4", 4, {{3114, kU16, 101}}, {{3114, kU16, 5}}},
      {"3116 type 4", 4, {{3116, kU16, 0}}, {{3116, kU16, 60}}},
      {"3118 type 4", 4, {{3118, kU16, 1441}}, {{3118, kU16, 10}}},
      {"3120 type 4", 4, {{3120, kF32, 0.05}}, {{3120, kF32, 1.25}}},
      {"3120 type 3", 3, {{3120, kF32, 5.0}}, {{3120, kF32, 0.0}}},
      {"3124 client keeps a value in range", 2, {{3124, kS32, 2048}}, {{3124, kS32, 2048}}},
      {"3124 above 4096", 1, {{3124, kS32, 5000}}, {{3124, kS32, 512}}},
      {"3124 negative", 2, {{3124, kS32, -1}}, {{3124, kS32, 512}}},
      {"46 client", 2, {{46, kU16, 2}}, {{46, kU16, 1}}},
      {"50 above 1", 1, {{50, kU16, 2}}, {{50, kU16, 0}}},
      {"50 client", 2, {{50, kU16, 1}}, {{50, kU16, 0}}},
      {"86 client keeps 1", 2, {{86, kU16, 1}}, {{86, kU16, 1}}},
      {"86 above 1", 2, {{86, kU16, 3}}, {{86, kU16, 0}}},
      {"32 above 65000", 1, {{32, kS32, 65001}}, {{32, kS32, 0}}},
  });
  // clang-format on
}

TEST(DbmNormalization, BoundsTakenFromOtherFields) {
  // clang-format off
  Check({
      {"3088 negative", 1, {{76, kU32, 300}, {3088, kS32, -5}}, {{3088, kS32, -1}}},
      {"3088 above 76", 1, {{76, kU32, 300}, {3088, kS32, 301}}, {{3088, kS32, -1}}},
      {"3088 at 76", 1, {{76, kU32, 300}, {3088, kS32, 300}}, {{3088, kS32, 300}}},
      {"3088 against 76 already put right", 1, {{76, kU32, 0}, {3088, kS32, 250}},
       {{76, kU32, 200}, {3088, kS32, -1}}},
      {"3100 above 3096", 1, {{3096, kU32, 500}, {3100, kS32, 501}}, {{3100, kS32, -1}}},
      {"3100 below 128", 1, {{3096, kU32, 500}, {3100, kS32, 127}}, {{3100, kS32, -1}}},
      {"3100 -1 stays", 1, {{3096, kU32, 500}, {3100, kS32, -1}}, {{3100, kS32, -1}}},
      {"3104 at 128", 1, {{3096, kU32, 500}, {3104, kS32, 128}}, {{3104, kS32, 128}}},
      {"3104 against 3096 already put right", 0, {{3096, kU32, 0}, {3104, kS32, 1000}},
       {{3096, kU32, 1024}, {3104, kS32, 1000}}},
  });
  // clang-format on
}

// The shared-memory values: 76 = 1000 throughout; 3088 = -1 unless a row sets it.
std::vector<Value> Memory(std::vector<Value> more) {
  std::vector<Value> values = {{76, kU32, 1000}, {3088, kS32, -1}, {24, kS32, -1}, {3084, kS32, -1},
                               {38, kS16, 1},    {92, kS32, -1},   {80, kS32, -1}};
  values.insert(values.end(), more.begin(), more.end());
  return values;
}

TEST(DbmNormalization, DependentRules) {
  // clang-format off
  Check({
      // Rule 1: the limit of 3080.
      {"3080 above the limit 3088", 3, Memory({{3088, kS32, 100}, {3080, kU32, 150}}),
       {{3080, kU32, 0}}},
      {"3080 at the limit 3088", 3, Memory({{3088, kS32, 100}, {3080, kU32, 100}}),
       {{3080, kU32, 100}}},
      {"3080 above 76", 3, Memory({{3080, kU32, 1001}}), {{3080, kU32, 0}}},
      {"3080 over max(24, 76/50)", 3, Memory({{24, kS32, 10}, {3080, kU32, 21}}),
       {{3080, kU32, 0}}},
      {"3080 at max(24, 76/50)", 3, Memory({{24, kS32, 10}, {3080, kU32, 20}}),
       {{3080, kU32, 20}}},
      {"3080 with 24 of -1 has no limit below 76", 3, Memory({{3080, kU32, 999}}),
       {{3080, kU32, 999}}},
      {"type 1: over 76 - 3084", 1, Memory({{24, kS32, 2}, {3084, kS32, 900}, {3080, kU32, 101}}),
       {{3080, kU32, 0}}},
      {"type 1: at 76 - 3084", 1, Memory({{24, kS32, 2}, {3084, kS32, 900}, {3080, kU32, 100}}),
       {{3080, kU32, 100}}},
      {"type 1: over 24 * 76/50", 1,
       Memory({{24, kS32, 2}, {3084, kS32, 990}, {3080, kU32, 41}}), {{3080, kU32, 0}}},
      {"type 1: 3084 -1 and 38 set keep 3080", 1,
       Memory({{24, kS32, 2}, {38, kS16, 1}, {3080, kU32, 41}}), {{3080, kU32, 41}}},
      {"type 1: 3084 -1 and 38 clear", 1,
       Memory({{24, kS32, 2}, {38, kS16, 0}, {3080, kU32, 41}}), {{3080, kU32, 0}}},
      // Rule 2: 3084.
      {"3084 other negative", 3, Memory({{3084, kS32, -5}}), {{3084, kS32, -1}}},
      {"3084 above 76", 3, Memory({{3084, kS32, 1001}}), {{3084, kS32, -1}}},
      {"3084 plus 3080 above 76", 3, Memory({{3080, kU32, 100}, {3084, kS32, 901}}),
       {{3084, kS32, -1}}},
      {"3084 plus 3080 at 76", 3, Memory({{3080, kU32, 100}, {3084, kS32, 900}}),
       {{3084, kS32, 900}}},
      {"3084 with 38 clear", 3, Memory({{38, kS16, 0}, {3084, kS32, 500}}), {{3084, kS32, -1}}},
      {"3084 with 38 clear equal to 76", 3, Memory({{38, kS16, 0}, {3084, kS32, 1000}}),
       {{3084, kS32, 1000}}},
      {"3084 with 38 clear, partitioned", 4, Memory({{38, kS16, 0}, {3084, kS32, 500}}),
       {{3084, kS32, 500}}},
      // Rule 3: 92.
      {"92 above 3084", 4, Memory({{3084, kS32, 500}, {92, kS32, 501}}), {{92, kS32, -1}}},
      {"92 at 3084", 4, Memory({{3084, kS32, 500}, {92, kS32, 500}}), {{92, kS32, 500}}},
      {"92 zero", 4, Memory({{92, kS32, 0}}), {{92, kS32, -1}}},
      {"92 other negative", 4, Memory({{92, kS32, -3}}), {{92, kS32, -1}}},
      {"92 above 76 - 3080", 4, Memory({{3080, kU32, 100}, {92, kS32, 901}}), {{92, kS32, -1}}},
      {"92 at 76 - 3080", 4, Memory({{3080, kU32, 100}, {92, kS32, 900}}), {{92, kS32, 900}}},
      // Rule 4: 80.
      {"80 zero", 4, Memory({{80, kS32, 0}}), {{80, kS32, -1}}},
      {"80 above 3084", 4, Memory({{3084, kS32, 500}, {80, kS32, 501}}), {{80, kS32, -1}}},
      {"80 above 76 - 3080", 4, Memory({{3080, kU32, 100}, {80, kS32, 901}}), {{80, kS32, -1}}},
      {"80 at 76 - 3080", 4, Memory({{3080, kU32, 100}, {80, kS32, 900}}), {{80, kS32, 900}}},
      // Rule 5: 1944.
      {"1944 negative", 4, Memory({{1944, kS32, -1}}), {{1944, kS32, 0}}},
      {"1944 above 92", 4, Memory({{92, kS32, 300}, {1944, kS32, 301}}), {{1944, kS32, 0}}},
      {"1944 at 92", 4, Memory({{92, kS32, 300}, {1944, kS32, 300}}), {{1944, kS32, 300}}},
      {"1944 above 3084", 4, Memory({{3084, kS32, 500}, {1944, kS32, 501}}), {{1944, kS32, 0}}},
      {"1944 above 76 - 3080", 4, Memory({{3080, kU32, 100}, {1944, kS32, 901}}),
       {{1944, kS32, 0}}},
      {"1944 at 76 - 3080", 4, Memory({{3080, kU32, 100}, {1944, kS32, 900}}),
       {{1944, kS32, 900}}},
      // The rules see what the rules before them made of the values.
      {"92 against 3084 just made -1", 3,
       Memory({{38, kS16, 0}, {3084, kS32, 500}, {3080, kU32, 0}, {92, kS32, 800}}),
       {{3084, kS32, -1}, {92, kS32, 800}}},
  });
  // clang-format on
}

TEST(DbmNormalization, ClientBlockHoldsZeroInEveryClientField) {
  struct Field {
    size_t offset;
    Type type;
  };
  const Field clientFields[] = {{62, kU16},
                                {64, kU32},
                                {68, kU32},
                                {72, kU32},
                                {1074, kU16},
                                {1106, kU16},
                                {1936, kS32},
                                {1932, kS32},
                                {88, kU32},
                                {96, kU16},
                                {98, kS16},
                                {812, kS32},
                                {798, kU16},
                                {808, kF32},
                                {800, kU32},
                                {804, kS32},
                                {1038, kU16},
                                {816, kU16},
                                {1114, kU16},
                                {1940, kU16},
                                {24, kS32},
                                {38, kS16},
                                {76, kU32},
                                {3088, kS32},
                                {3080, kU32},
                                {3084, kS32},
                                {92, kS32},
                                {80, kS32},
                                {3092, kU32},
                                {3096, kU32},
                                {3100, kS32},
                                {3104, kS32},
                                {32, kS32},
                                {1944, kS32},
                                {50, kU16},
                                {1126, kU16},
                                // zero for every type but 1 and 4, or but 4
                                {1128, kU16},
                                {3112, kU16},
                                {3114, kU16},
                                {3116, kU16},
                                {3118, kU16},
                                {3120, kF32}};
  for (unsigned char fill : {0x01, 0x7F, 0xFF}) {
    SCOPED_TRACE("block filled with " + std::to_string(fill));
    DbmBlockBuilder builder;
    builder.Fill(fill).Version(0x900).NodeType(2);
    auto block = builder.Block();
    NormalizeDbmParameters(block.data());
    const std::vector<unsigned char> bytes(block.begin(), block.end());
    for (const Field& f : clientFields) {
      EXPECT_EQ(Read(bytes, {f.offset, f.type, 0}), 0.0) << "at " << f.offset;
    }
    EXPECT_EQ(testkit::DbmU16(bytes, 44), 3);  // non-zero becomes 3
  }
}

}  // namespace
}  // namespace qz7::upgrade
