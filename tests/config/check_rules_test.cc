// The check step: representative tokens of each rule family under node kinds 0 to 5 (and a
// kind beyond them), with the boundaries each has, on images built from named fields.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "config/config_image.h"
#include "config/config_tokens.h"
#include "config/parameter_checks.h"
#include "testkit/dbm_block_builder.h"

namespace qz7::config {
namespace {

// A zeroed image of node kind kind with the fields of list set: "token=value" pairs split by
// '|'. Text tokens take the value as it stands, tokens 42 and 307 as a float, others as an
// integer stored in the field's width (so -1 fills a 16-bit field too).
ConfigFileImage ImageOf(uint16_t kind, const std::string& list) {
  testkit::DbmBlockBuilder builder;
  builder.NodeType(kind);
  std::istringstream fields(list);
  for (std::string field; std::getline(fields, field, '|');) {
    const uint16_t token = static_cast<uint16_t>(std::stoi(field));
    const std::string value = field.substr(field.find('=') + 1);
    DbmField integer = kNoField;
    if (const TextToken* text = FindTextToken(token)) {
      builder.Set(text->field, value);
    } else if (!IntegerFieldOf(token, &integer)) {
      builder.Set(FindSpecialToken(token)->field, std::strtof(value.c_str(), nullptr));
    } else {
      builder.Set(integer, static_cast<double>(std::stoll(value)));
    }
  }
  return builder.Block();
}

// The verdict on one record of token (value only matters for token 92); allValid must agree.
bool Judge(const ConfigFileImage& image, uint16_t token, const char* value = "") {
  sqlf_cfg_parameter record{token, const_cast<char*>(value), 1};
  unsigned char allValid = 1;
  CheckConfigParameters(image, &record, 1, &allValid);
  EXPECT_EQ(record.valid, allValid) << "token " << token;
  return record.valid == 1;
}

struct RuleCase {
  const char* name;
  uint16_t kind;
  uint16_t token;
  const char* fields;  // as ImageOf takes them
  bool accepted;
  const char* value = "";  // the record's own value (read by token 92 only)
};

class RuleTest : public testing::TestWithParam<RuleCase> {};

TEST_P(RuleTest, Verdict) {
  const RuleCase& c = GetParam();
  EXPECT_EQ(Judge(ImageOf(c.kind, c.fields), c.token, c.value), c.accepted)
      << "token " << c.token << " under kind " << c.kind << " with " << c.fields;
}

std::string RowName(const testing::TestParamInfo<RuleCase>& info) { return info.param.name; }

// Ranges of 16 and 32 bits, unsigned (where -1 is huge) or signed, with or without -1, bounded
// by another field, and what each node kind decides before the range is looked at.
const RuleCase kNumeric[] = {
    {"T12ZeroUnderKind2", 2, 12, "12=0", true},
    {"T12SetUnderKind2", 2, 12, "12=100", false},
    {"T12AboveTop", 3, 12, "12=64001", false},
    {"T12MinusOneIsHugeKindAboveFive", 6, 12, "12=-1", false},
    {"T1ZeroUnderKind0", 0, 1, "1=0", true},
    {"T1SetUnderKind0", 0, 1, "1=4096", false},
    {"T1BelowBottom", 5, 1, "1=4095", false},
    {"T20OneUnderKind2", 2, 20, "20=1", true},
    {"T20TwoUnderKind2", 2, 20, "20=2", false},
    {"T308OneUnderKind0", 0, 308, "308=1", false},  // 0 under kinds 0 and 2
    {"T508TopUnderKind4", 4, 508, "508=100", true},
    {"T508AboveTopUnderKind4", 4, 508, "508=101", false},
    {"T508SetUnderKind3", 3, 508, "508=1", false},  // set only under kind 4
    {"T26MinusOne", 1, 26, "26=-1", true},
    {"T26MinusTwo", 1, 26, "26=-2", false},
    {"T306SignedMinusOne", 1, 306, "306=-1", false},
    {"T35WordHighBit", 1, 35, "30=64", false},  // the word the bit tokens 29 to 35 share
    {"T49BelowField15", 1, 49, "49=299|15=300", false},
    {"T49Field15MinusOneIsHuge", 1, 49, "49=2|15=-1", false},
    {"T502MinusOne", 3, 502, "502=-1|12=100", true},
    {"T502AboveField12", 3, 502, "502=101|12=100", false},
    {"T604Kind0", 0, 604, "604=1", false},  // by kind alone
    {"T604Kind2", 2, 604, "604=1", true},
    // Floats: about -1 or a range; 0.0 under kind 2 (42) or unless kind 4 (307).
    {"T42MinusOne", 1, 42, "42=-1", true},
    {"T42Bottom", 0, 42, "42=1e-10", true},  // the float lies just above
    {"T42BelowBottom", 0, 42, "42=9.9e-11", false},
    {"T307Kind4BelowBottom", 4, 307, "307=0.05", false},
    {"T307Kind1MinusOne", 1, 307, "307=-1", false},
};
INSTANTIATE_TEST_SUITE_P(Numeric, RuleTest, testing::ValuesIn(kNumeric), RowName);

// The agent limits: E is field 501 when set, else the remainder of field 12 after field 500.
const RuleCase kCrossField[] = {
    {"T13MinusOne", 3, 13, "13=-1", true},
    {"T13AnythingUnderKind2", 2, 13, "13=-7", true},
    {"T13Zero", 3, 13, "13=0|12=100|501=-1", false},
    {"T13AboveField501", 3, 13, "13=51|501=50|12=1000", false},
    {"T13AtRemainder", 3, 13, "13=70|501=-1|12=100|500=30", true},
    {"T13AboveRemainder", 3, 13, "13=71|501=-1|12=100|500=30", false},
    {"T13RemainderWraps", 3, 13, "13=5000|501=-1|12=10|500=30", true},
    {"T80Zero", 1, 80, "80=0|501=10", true},
    {"T80MinusTwo", 1, 80, "80=-2|501=10", false},
    {"T500AtField502", 3, 500, "500=700|502=700|12=10", true},
    {"T500AboveField502", 3, 500, "500=701|502=700|12=5000", false},
    {"T500Kind3AboveLimit", 3, 500, "500=21|502=-1|12=1000|303=5", false},
    {"T500AboveField12", 3, 500, "500=60|502=-1|12=50|303=100", false},
    {"T500Kind4ByProduct", 4, 500, "500=800|502=-1|12=1000|501=900|303=8", true},
    {"T500Kind4AboveProduct", 4, 500, "500=801|502=-1|12=1000|501=900|303=8", false},
    {"T500Kind4NoField501", 4, 500, "500=900|502=-1|12=1000|501=-1|303=0", true},
    {"T500Kind1Without306", 1, 500, "500=21|502=-1|12=1000|501=-1|303=1", false},
    {"T500Kind1With306", 1, 500, "500=300|502=-1|12=1000|501=-1|306=1|303=1", true},
    {"T501MinusOne", 3, 501, "501=-1|12=100", true},
    {"T501Part", 3, 501, "501=50|12=100", false},
    {"T501PartKind4", 4, 501, "501=50|12=100|500=50", true},
    {"T501PartKind4TooMuch", 4, 501, "501=50|12=100|500=51", false},
    {"T501PartWith306", 1, 501, "501=50|12=100|306=1", true},
    {"T601AboveField80", 1, 601, "601=41|80=40", false},
    {"T601ByField501", 1, 601, "601=11|80=-1|501=10", false},
    {"T601ByRemainder", 1, 601, "601=70|80=-1|501=-1|12=100|500=30", true},
    {"T601Negative", 1, 601, "601=-1|80=5", false},
    {"T701AboveTop", 3, 701, "701=64001|501=100", false},
    {"T701BelowField501", 3, 701, "701=99|501=100", false},
    {"T701BelowRemainder", 3, 701, "701=69|501=-1|12=100|500=30", false},
    {"T701AtRemainder", 3, 701, "701=70|501=-1|12=100|500=30", true},
};
INSTANTIATE_TEST_SUITE_P(CrossField, RuleTest, testing::ValuesIn(kCrossField), RowName);

// Names, the kinds that may hold a text, DCE texts, protocol lists.
const RuleCase kTexts[] = {
    {"T7TrailingBlanks", 1, 7, "7=AB#1  ", true},
    {"T7DigitFirst", 1, 7, "7=1ABC", false},
    {"T24KindAboveFive", 6, 24, "24=X", false},
    {"T27Kind2", 2, 27, "27=X", false},
    {"T25Allowed", 1, 25, "25=node.name$#@9", true},
    {"T25Hyphen", 1, 25, "25=a-b", false},
    {"T74LocalPrefix", 1, 74, "73=1|74=/.:/cell", true},
    {"T74CellAlone", 1, 74, "73=1|74=cell", false},
    {"T74Field73Two", 1, 74, "73=2|74=cell", true},
    {"T75BothSet", 1, 75, "73=1|74=/.:/c|75=p", true},
    {"T75PrincipalMissing", 1, 75, "73=2|74=/.:/c", false},
    {"T77CommaBlank", 1, 77, "77=TCPIP, NETBIOS", true},
    {"T77LowerCase", 1, 77, "77=tcpip", false},
    {"T77LongerThanName", 1, 77, "77=TCPIPX", false},
    {"T77OneBadItem", 1, 77, "77=APPC,FOO,TCPIP", false},
    {"T305Kind0Set", 0, 305, "305=TCPIP", false},
    {"T305BadSearch", 1, 305, "304=3", false},
    {"T305Appc", 1, 305, "305=APPC", false},
    {"T305MixedCase", 3, 305, "305=netbios,Ipx  tcp", true},
    {"T92SetUnderKind2", 2, 92, "92=ABC", false, "ABC"},
    {"T92EmptyFieldAnyValue", 1, 92, "", true, "1 BAD"},
    {"T92NineCharacters", 1, 92, "92=X", false, "ABCDEFGHI"},
    {"T92ValueNotField", 1, 92, "92=1BAD", true, "GOOD"},
};
INSTANTIATE_TEST_SUITE_P(Texts, RuleTest, testing::ValuesIn(kTexts), RowName);

// Lengths count to the zero or, for a file that carries a text without its zero, the whole
// field width.
TEST(TextRuleTest, LengthsCountToTheZeroOrTheWholeWidth) {
  const std::string cell = "74=" + std::string(200, 'c');
  EXPECT_TRUE(Judge(ImageOf(1, cell + "|75=" + std::string(55, 'p')), 75));
  EXPECT_FALSE(Judge(ImageOf(1, cell + "|75=" + std::string(56, 'p')), 75));
  EXPECT_TRUE(Judge(ImageOf(2, "65=" + std::string(215, 'x')), 65));
  auto unterminated = [](const DbmField& field) {
    return testkit::DbmBlockBuilder()
        .Bytes(field.offset, std::vector<unsigned char>(field.width, 'A'))
        .Block();
  };
  EXPECT_FALSE(Judge(unterminated(FindTextToken(7)->field), 7));
  EXPECT_FALSE(Judge(unterminated(FindTextToken(65)->field), 65));
}

}  // namespace
}  // namespace qz7::config
