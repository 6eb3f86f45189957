// The field rules of a qz7systm conversion, at the edges of its tables: which node-type pairs
// convert at all, which fields a file of each layout version gives up (the first and last of
// each layout, every one of them through the field map), the one parameter whose place, width
// and sign changed between layouts, the values computed rather than copied, and the values at
// the limits of their ranges once the block is normalised.
#include "base/dbm_fields.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "tools/sample/dbm_block_builder.h"
#include "upgrade/dbm_configuration_conversion.h"

namespace qz7::upgrade {
namespace {

using namespace base::dbm;  // the field names
using base::DbmField;
using base::kDbmLayout600;
using base::kDbmLayout800;
using base::kDbmLayout900;
using sample::DbmBlockBuilder;
using Bytes = std::vector<unsigned char>;

// Converts old into new; the new block afterwards (unchanged on error). Without result, the
// conversion must succeed.
Bytes Convert(const DbmBlockBuilder& newBuilder, const DbmBlockBuilder& oldBuilder,
              int* result = nullptr) {
  auto newBlock = newBuilder.Block();
  const int code = ConvertDbmFields(newBlock.data(), oldBuilder.Block().data());
  EXPECT_TRUE(result != nullptr || code == 0) << "the conversion failed with " << code;
  if (result != nullptr) *result = code;
  return Bytes(newBlock.begin(), newBlock.end());
}

// A field's value as text, whatever its kind, for comparisons that print well.
std::string Shown(const Bytes& block, const DbmField& field) {
  if (base::IsText(field)) return sample::DbmText(block, field);
  return std::to_string(sample::DbmNumber(block, field));
}

using Value = std::variant<double, std::string>;
struct FieldValue {
  DbmField field;
  Value value;
};
void Put(DbmBlockBuilder& builder, const FieldValue& set) {
  std::visit([&](const auto& value) { builder.Set(set.field, value); }, set.value);
}
std::string Shown(const FieldValue& expected) {
  if (const auto* text = std::get_if<std::string>(&expected.value)) return *text;
  return std::to_string(std::get<double>(expected.value));
}

TEST(DbmNodeTypes, PairsAtTheEdgesOfTheConverterChoice) {
  // One marker per converter: the first field each carries that the ones below it do not.
  const DbmField kMarkers[] = {kParam1, kParam6, kParam308, kParam301And302, kParam508};
  const struct {
    const char* name;
    uint16_t newType, oldType;
    int converter;  // 0: refused with the new block unchanged
  } cases[] = {
      {"node type 0 is outside 1 to 5", 0, 1, 0},
      {"node type 6 is outside 1 to 5", 1, 6, 0},
      {"a partitioned file into a client", 2, 4, 0},
      {"anything into a client takes the least", 2, 3, 1},
      {"a client file gives the least", 4, 2, 1},
      {"type 5 into type 5", 5, 5, 2},
      {"type 3 into type 1", 1, 3, 3},
      {"type 1 into type 1", 1, 1, 4},
      {"partitioned into partitioned takes the most", 4, 4, 5},
  };
  for (const auto& c : cases) {
    auto oldBuilder = DbmBlockBuilder().Version(kDbmLayout800).NodeType(c.oldType);
    for (const DbmField& marker : kMarkers) oldBuilder.Set(marker, 77);
    const auto newBuilder = DbmBlockBuilder().NodeType(c.newType);
    int result = 0;
    const Bytes converted = Convert(newBuilder, oldBuilder, &result);
    int highest = 0;
    for (int level = 1; level <= 5; ++level) {
      if (sample::DbmNumber(converted, kMarkers[level - 1]) == 77) highest = level;
    }
    EXPECT_EQ(result, c.converter == 0 ? kDbmNodeTypesError : 0) << c.name;
    EXPECT_EQ(highest, c.converter) << c.name;
    if (c.converter == 0) {
      EXPECT_EQ(converted, newBuilder.Bytes()) << c.name << ": changed";
    }
  }
}

// An old value that no computed rule of the conversion changes: in range for the 0x600 rules,
// at least 400 for kParam12, and a text that does not start with the digit zero.
Value OldValue(const DbmField& field) {
  if (base::IsText(field)) return ("T" + std::to_string(field.offset)).substr(0, field.width - 1);
  if (field == kParam21 || field == kParam12) return 20000.0;
  return static_cast<double>(field.offset % 200 + 5);
}

TEST(DbmLayouts, EachLayoutGivesUpExactlyTheFieldsItHolds) {
  // Partitioned into partitioned runs every converter; a file of each version gives up every
  // parameter its layout holds and leaves the template's value in every other. The field
  // kParam502Layout600 is no parameter of the new block: it is read, never carried.
  for (uint16_t version : {kDbmLayout600, kDbmLayout800, kDbmLayout900}) {
    auto oldBuilder = DbmBlockBuilder().Version(version).Level(7100).NodeType(4);
    auto newBuilder = DbmBlockBuilder().NodeType(4);
    for (const DbmField& field : kParameters) {
      Put(oldBuilder, {field, OldValue(field)});
      Put(newBuilder, {field, base::IsText(field) ? Value(std::string("TPL")) : Value(3.0)});
    }
    const Bytes converted = Convert(newBuilder, oldBuilder);
    const Bytes oldBytes = oldBuilder.Bytes(), templ = newBuilder.Bytes();
    for (const DbmField& field : kParameters) {
      // A 0x600 file gives kParam502 from its own place, checked below.
      if (field == kParam502Layout600 || (field == kParam502 && version == kDbmLayout600)) continue;
      const bool held = field.since <= version;
      EXPECT_EQ(Shown(converted, field), Shown(held ? oldBytes : templ, field))
          << "layout 0x" << std::hex << version << std::dec << ", field at " << field.offset
          << (held ? " is held but not carried" : " is not held but was carried");
    }
  }
}

// Fields with a rule of their own (taken only when set or under a condition, or given a
// default), the values L2 computes for 0x600 files, with the floor of L5, and the one parameter
// that changed place, width and sign: the 0x600 layout kept kParam502 as a signed 16-bit value
// elsewhere, which the new block's 32-bit field gets sign-extended, while a later layout's own
// field is taken instead.
TEST(DbmConverters, ConditionalAndComputedFields) {
  struct Case {
    const char* name;
    uint16_t version, newType, oldType;
    std::vector<FieldValue> old, templ, expected;
  };
  const std::vector<FieldValue> reset = {{kParam90, 256.0}, {kParam91, 20.0}, {kNodeName, ""}};
  // clang-format off
  const Case cases[] = {
      {"a text starting '0' is not taken", 0x800, 2, 1, {{kParam66, "0PEN"}}, {{kParam66, "T"}},
       {{kParam66, "T"}}},
      {"kParam7 is not taken into type 5", 0x900, 5, 1, {{kParam7, "O"}}, {{kParam7, "N"}},
       {{kParam7, "N"}}},
      {"an empty text is not taken", 0x900, 1, 1, {{kParam74, ""}}, {{kParam74, "TPL"}},
       {{kParam74, "TPL"}}},
      {"0x600: an empty first-connect name gets the default", 0x600, 2, 1, {}, {},
       {{kFirstConnectName, "1ST_CONN"}}},
      {"0x600: a first-connect name is kept", 0x600, 2, 1, {{kFirstConnectName, "MINE"}}, {},
       {{kFirstConnectName, "MINE"}}},
      {"kParam701 below level 7100", 0x900, 5, 1, {{kLevel, 7099.0}, {kParam701, 42.0}}, {},
       {{kParam701, 0.0}}},
      {"kParam701 from level 7100", 0x900, 5, 1, {{kLevel, 7100.0}, {kParam701, 42.0}}, {},
       {{kParam701, 42.0}}},
      {"0x600: kParam21 just below 10000 is raised", 0x600, 5, 1, {{kParam21, 9999.0}}, {},
       {{kParam21, 10000.0}}},
      {"0x600: kParam21 at 10000 is kept", 0x600, 5, 1, {{kParam21, 10000.0}}, {},
       {{kParam21, 10000.0}}},
      {"0x600: kParam90 below 4 resets", 0x600, 5, 1, {{kParam90, 3.0}}, {}, reset},
      {"0x600: kParam91 above 256 resets", 0x600, 5, 1, {{kParam91, 257.0}}, {}, reset},
      {"0x600: both at their limits stay", 0x600, 5, 1, {{kParam90, 1000.0}, {kParam91, 10.0}}, {},
       {{kParam90, 1000.0}, {kParam91, 10.0}, {kNodeName, "OLDNODE"}}},
      {"0x600: kParam6 above 256 is cut", 0x600, 5, 1, {{kParam6, 257.0}}, {}, {{kParam6, 256.0}}},
      {"0x600: kParam80 and 81 both 0", 0x600, 5, 1, {{kParam80, 0.0}, {kParam81, 0.0}}, {},
       {{kParam80, -1.0}, {kParam81, 1.0}}},
      {"L5: kParam12 below 400 becomes 400", 0x600, 4, 4, {{kParam12, 399.0}}, {},
       {{kParam12, 400.0}}},
      {"0x600: kParam502 at the lowest 16-bit value", 0x600, 1, 1,
       {{kParam502Layout600, -32768.0}, {kParam502, 9.0}}, {{kParam502, 123.0}},
       {{kParam502, -32768.0}}},
      {"0x600: kParam502 at the highest 16-bit value", 0x600, 1, 1,
       {{kParam502Layout600, 32767.0}, {kParam502, 9.0}}, {}, {{kParam502, 32767.0}}},
      {"0x600: kParam502's 32-bit place is not read", 0x600, 1, 1,
       {{kParam502Layout600, 0.0}, {kParam502, 70000.0}}, {{kParam502, 123.0}}, {{kParam502, 0.0}}},
      {"0x800: kParam502's old place is not read", 0x800, 1, 1,
       {{kParam502Layout600, 5.0}, {kParam502, 70000.0}}, {{kParam502, 123.0}},
       {{kParam502, 70000.0}}},
  };
  // clang-format on
  for (const Case& c : cases) {
    DbmBlockBuilder oldBuilder, newBuilder;
    oldBuilder.Version(c.version).NodeType(c.oldType).Set(kNodeName, "OLDNODE");
    newBuilder.NodeType(c.newType).Set(kNodeName, "TPLNODE");
    std::vector<FieldValue> old = {{kParam21, 20000.0}, {kParam90, 500.0}, {kParam91, 100.0},
                                   {kParam80, 7.0},     {kParam81, 1.0},   {kParam12, 1000.0}};
    old.insert(old.end(), c.old.begin(), c.old.end());
    for (const FieldValue& f : old) Put(oldBuilder, f);
    for (const FieldValue& f : c.templ) Put(newBuilder, f);
    SCOPED_TRACE(c.name);
    const Bytes converted = Convert(newBuilder, oldBuilder);
    for (const FieldValue& e : c.expected)
      EXPECT_EQ(Shown(converted, e.field), Shown(e)) << c.name << ", at " << e.field.offset;
  }
}

using Values = std::vector<std::pair<DbmField, double>>;

struct Case {
  const char* name;
  uint16_t nodeType;
  Values given, expected;
};

void Check(const std::vector<Case>& cases, const Values& defaults = {}) {
  for (const Case& c : cases) {
    DbmBlockBuilder builder;
    builder.NodeType(c.nodeType);
    for (const auto& [field, value] : defaults) builder.Set(field, value);
    for (const auto& [field, value] : c.given) builder.Set(field, value);
    Bytes block = builder.Bytes();
    NormalizeDbmParameters(block.data());
    for (const auto& [field, value] : c.expected)
      EXPECT_FLOAT_EQ(sample::DbmNumber(block, field), value) << c.name << ", at " << field.offset;
  }
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(DbmNormalization, RangeRules) {
  // clang-format off
  Check({
      {"kParam72 below its range", 1, {{kParam72, 4095}}, {{kParam72, 4096}}},
      {"kParam72 at its top", 1, {{kParam72, 65535}}, {{kParam72, 65535}}},
      {"client block", 2,
       {{kParam6, 7}, {kParam20, 5}, {kParam12, 300}, {kParam502, 9}, {kParam508, 4},
        {kProcessorSpeed, 1}},
       {{kParam6, 3}, {kParam20, 0}, {kParam12, 0}, {kParam502, 0}, {kParam508, 0},
        {kProcessorSpeed, 0}}},
      {"kParam6 at 256 and above", 3, {{kParam6, 257}}, {{kParam6, 8}}},
      {"kParam6 at 256", 3, {{kParam6, 256}}, {{kParam6, 256}}},
      {"kParam21 below 250", 1, {{kParam21, 249}}, {{kParam21, 10000}}},
      {"kParam21 at its top", 1, {{kParam21, 2097152}}, {{kParam21, 2097152}}},
      {"a negative kParam91 is signed", 1, {{kParam91, -5}}, {{kParam91, 20}}},
      {"kParam26 above 6", 1, {{kParam26, 7}}, {{kParam26, -1}}},
      {"kParam26 at 6", 1, {{kParam26, 6}}, {{kParam26, 6}}},
      {"processor speed not a number", 1, {{kProcessorSpeed, kNaN}}, {{kProcessorSpeed, 4e-5}}},
      {"processor speed at 1.0", 1, {{kProcessorSpeed, 1.0}}, {{kProcessorSpeed, 1.0}}},
      {"query-sentry heap above 4096", 1, {{kQuerySentryHeap, 4097}}, {{kQuerySentryHeap, 512}}},
      {"kParam508 at 100 when partitioned", 4, {{kParam508, 100}}, {{kParam508, 100}}},
      {"kParam508 above 100", 4, {{kParam508, 101}}, {{kParam508, 10}}},
      {"bandwidth not partitioned", 1, {{kCommBandwidth, 5}}, {{kCommBandwidth, 0}}},
      {"switch word when kParam78 is 2", 1, {{kParam78, 2}, {kParam301And302, 0}},
       {{kParam301And302, 1}}},
      // Bounds taken from other fields, after those fields were put right.
      {"kParam502 against kParam12 already put right", 1, {{kParam12, 0}, {kParam502, 250}},
       {{kParam12, 200}, {kParam502, -1}}},
      {"kParam506 against kParam504 already put right", 0, {{kParam504, 0}, {kParam506, 1000}},
       {{kParam504, 1024}, {kParam506, 1000}}},
  });
  // clang-format on
}

// The shared-memory rules. Rows name only what they set or check; kParam12 is 1000,
// kParam303, kParam501, kParam502, kParam80 and kParam13 are -1 and kParam306 is 1 unless a
// row sets them.
TEST(DbmNormalization, DependentRules) {
  // clang-format off
  Check({
      {"kParam500 above the limit kParam502", 3, {{kParam502, 100}, {kParam500, 150}},
       {{kParam500, 0}}},
      {"kParam500 over max(kParam303, kParam12 / 50)", 3, {{kParam303, 10}, {kParam500, 21}},
       {{kParam500, 0}}},
      {"type 1: kParam500 over kParam303 * kParam12 / 50", 1,
       {{kParam303, 2}, {kParam501, 990}, {kParam500, 41}}, {{kParam500, 0}}},
      {"kParam501 plus kParam500 above kParam12", 3, {{kParam500, 100}, {kParam501, 901}},
       {{kParam501, -1}}},
      {"kParam501 with kParam306 clear", 3, {{kParam306, 0}, {kParam501, 500}}, {{kParam501, -1}}},
      {"kParam80 above kParam501", 4, {{kParam501, 500}, {kParam80, 501}}, {{kParam80, -1}}},
      {"kParam13 above kParam12 - kParam500", 4, {{kParam500, 100}, {kParam13, 901}},
       {{kParam13, -1}}},
      {"kParam601 above kParam80", 4, {{kParam80, 300}, {kParam601, 301}}, {{kParam601, 0}}},
      // The rules see what the rules before them made of the values.
      {"kParam80 against kParam501 just made -1", 3,
       {{kParam306, 0}, {kParam501, 500}, {kParam500, 0}, {kParam80, 800}},
       {{kParam501, -1}, {kParam80, 800}}},
  }, {{kParam12, 1000}, {kParam502, -1}, {kParam303, -1}, {kParam501, -1}, {kParam306, 1},
      {kParam80, -1}, {kParam13, -1}});
  // clang-format on
}

}  // namespace
}  // namespace qz7::upgrade
