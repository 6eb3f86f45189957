// The check step: one representative token per rule kind under node kinds 0 to 5 (and a kind
// beyond them), with the boundaries each kind has, on images built from named fields.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/config/check_test_support.h"

namespace qz7::config {
namespace {

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

const RuleCase kNumeric[] = {
    // 0 under kind 2, else an unsigned 32-bit range (-1 is then huge); kinds above 5 ungated.
    {"T12ZeroUnderKind2", 2, 12, "12=0", true},
    {"T12SetUnderKind2", 2, 12, "12=100", false},
    {"T12ZeroUnderKind0", 0, 12, "12=0", false},
    {"T12AboveTop", 3, 12, "12=64001", false},
    {"T12MinusOneIsHuge", 5, 12, "12=-1", false},
    // 0 under kind 0, else at least 4096 in 16 bits.
    {"T1ZeroUnderKind0", 0, 1, "1=0", true},
    {"T1SetUnderKind0", 0, 1, "1=4096", false},
    {"T1BelowBottom", 5, 1, "1=4095", false},
    // 1 under kind 2; 0 under kinds 0 and 2; set only under kind 4; every kind.
    {"T20OneUnderKind2", 2, 20, "20=1", true},
    {"T20TwoUnderKind2", 2, 20, "20=2", false},
    {"T308OneUnderKind0", 0, 308, "308=1", false},
    {"T308OneUnderKind2", 2, 308, "308=1", false},
    {"T508TopUnderKind4", 4, 508, "508=100", true},
    {"T508AboveTopUnderKind4", 4, 508, "508=101", false},
    {"T508SetUnderKind3", 3, 508, "508=1", false},
    // -1 or a signed range, 16 and 32 bits; signed without -1; the word of tokens 29 to 35.
    {"T26MinusOne", 1, 26, "26=-1", true},
    {"T26MinusTwo", 1, 26, "26=-2", false},
    {"T26MinusOneUnderKind2", 2, 26, "26=-1", false},
    {"T306SignedMinusOne", 1, 306, "306=-1", false},
    {"T35WordHighBit", 1, 35, "30=64", false},
    // Bounded by another field.
    {"T49BelowField15", 1, 49, "49=299|15=300", false},
    {"T49Field15MinusOneIsHuge", 1, 49, "49=2|15=-1", false},
    {"T502MinusOne", 3, 502, "502=-1|12=100", true},
    {"T502AboveField12", 3, 502, "502=101|12=100", false},
    // By kind alone.
    {"T604Kind0", 0, 604, "604=1", false},
    {"T604Kind2", 2, 604, "604=1", true},
    // Floats: about -1 or a range; 0.0 under kind 2 (42) or unless kind 4 (307).
    {"T42MinusOneUnderKind2", 2, 42, "42=-1", false},
    {"T42MinusOne", 1, 42, "42=-1", true},
    {"T42Bottom", 0, 42, "42=1e-10", true},  // the float lies just above
    {"T42BelowBottom", 0, 42, "42=9.9e-11", false},
    {"T42NotANumber", 3, 42, "42=nan", false},
    {"T307Kind4BelowBottom", 4, 307, "307=0.05", false},
    {"T307Kind4MinusOne", 4, 307, "307=-1", true},
    {"T307Kind1MinusOne", 1, 307, "307=-1", false},
};
INSTANTIATE_TEST_SUITE_P(Numeric, RuleTest, testing::ValuesIn(kNumeric), RowName<RuleCase>);

const RuleCase kCrossField[] = {
    // Token 13: -1, or 1 up to field 501 (signed) or field 12 minus field 500 (unsigned).
    {"T13MinusOne", 3, 13, "13=-1", true},
    {"T13AnythingUnderKind2", 2, 13, "13=-7", true},
    {"T13Zero", 3, 13, "13=0|12=100|501=-1", false},
    {"T13AboveField501", 3, 13, "13=51|501=50|12=1000", false},
    {"T13AtRemainder", 3, 13, "13=70|501=-1|12=100|500=30", true},
    {"T13AboveRemainder", 3, 13, "13=71|501=-1|12=100|500=30", false},
    {"T13RemainderWraps", 3, 13, "13=5000|501=-1|12=10|500=30", true},
    // Token 80: like 13 but from 0, and 0 under kind 2.
    {"T80Zero", 1, 80, "80=0|501=10", true},
    {"T80MinusTwo", 1, 80, "80=-2|501=10", false},
    {"T80SetUnderKind2", 2, 80, "80=-1", false},
    // Token 500: up to field 502, else a limit by kind, never above field 12.
    {"T500SetUnderKind2", 2, 500, "500=1", false},
    {"T500AtField502", 3, 500, "500=700|502=700|12=10", true},
    {"T500AboveField502", 3, 500, "500=701|502=700|12=5000", false},
    {"T500Kind3AboveLimit", 3, 500, "500=21|502=-1|12=1000|303=5", false},
    {"T500AboveField12", 3, 500, "500=60|502=-1|12=50|303=100", false},
    // Kind 4: the larger of field 12 minus E and (field 12 / 10) * field 303.
    {"T500Kind4ByProduct", 4, 500, "500=800|502=-1|12=1000|501=900|303=8", true},
    {"T500Kind4AboveProduct", 4, 500, "500=801|502=-1|12=1000|501=900|303=8", false},
    {"T500Kind4NoField501", 4, 500, "500=900|502=-1|12=1000|501=-1|303=0", true},
    // Kind 1: E is field 12 minus (field 500 when field 306 is set, else 0).
    {"T500Kind1Without306", 1, 500, "500=21|502=-1|12=1000|501=-1|303=1", false},
    {"T500Kind1With306", 1, 500, "500=300|502=-1|12=1000|501=-1|306=1|303=1", true},
    // Token 501: -1 or all of field 12, a part only under kind 4 or with field 306.
    {"T501MinusOne", 3, 501, "501=-1|12=100", true},
    {"T501Part", 3, 501, "501=50|12=100", false},
    {"T501PartKind4", 4, 501, "501=50|12=100|500=50", true},
    {"T501PartKind4TooMuch", 4, 501, "501=50|12=100|500=51", false},
    {"T501PartWith306", 1, 501, "501=50|12=100|306=1", true},
    {"T501AboveField12", 4, 501, "501=101|12=100", false},
    // Token 601: up to field 80, else field 501, else the remainder.
    {"T601AboveField80", 1, 601, "601=41|80=40", false},
    {"T601ByField501", 1, 601, "601=11|80=-1|501=10", false},
    {"T601ByRemainder", 1, 601, "601=70|80=-1|501=-1|12=100|500=30", true},
    {"T601Negative", 1, 601, "601=-1|80=5", false},
    // Token 701: -1, or at most 64000 and at least field 501, else the remainder.
    {"T701AboveTop", 3, 701, "701=64001|501=100", false},
    {"T701BelowField501", 3, 701, "701=99|501=100", false},
    {"T701BelowRemainder", 3, 701, "701=69|501=-1|12=100|500=30", false},
    {"T701AtRemainder", 3, 701, "701=70|501=-1|12=100|500=30", true},
    {"T701ZeroUnderKind2", 2, 701, "701=0", true},
};
INSTANTIATE_TEST_SUITE_P(CrossField, RuleTest, testing::ValuesIn(kCrossField), RowName<RuleCase>);

const RuleCase kTexts[] = {
    // Token 7: a name of up to 8 characters, trailing blanks dropped; empty under kind 0.
    {"T7SetUnderKind0", 0, 7, "7=A", false},
    {"T7TrailingBlanks", 1, 7, "7=AB#1  ", true},
    {"T7DigitFirst", 1, 7, "7=1ABC", false},
    // The kinds that may hold a text.
    {"T24KindAboveFive", 6, 24, "24=X", false},
    {"T27Kind2", 2, 27, "27=X", false},
    {"T47Kind5", 5, 47, "47=X", false},
    // Token 25: letters, digits, $ # @ and the full stop; only under kinds 1, 3 and 4.
    {"T25Allowed", 1, 25, "25=node.name$#@9", true},
    {"T25Hyphen", 1, 25, "25=a-b", false},
    // Token 74: a DCE cell name when field 73 is 1.
    {"T74LocalPrefix", 1, 74, "73=1|74=/.:/cell", true},
    {"T74CellAlone", 1, 74, "73=1|74=cell", false},
    {"T74EmptyWithDce", 1, 74, "73=1", false},
    {"T74Field73Two", 1, 74, "73=2|74=cell", true},
    // Token 75: when field 73 is not 0 both texts set (lengths: DceNamesTogether below).
    {"T75BothSet", 1, 75, "73=1|74=/.:/c|75=p", true},
    {"T75PrincipalMissing", 1, 75, "73=1|74=/.:/c", false},
    {"T75Field73Two", 1, 75, "73=2|74=/.:/c", false},
    // Token 77: a protocol list compared with case.
    {"T77CommaBlank", 1, 77, "77=TCPIP, NETBIOS", true},
    {"T77LowerCase", 1, 77, "77=tcpip", false},
    {"T77LongerThanName", 1, 77, "77=TCPIPX", false},
    {"T77OneBadItem", 1, 77, "77=APPC,FOO,TCPIP", false},
    // Token 305: field 304 and an upper-cased list without APPC; nothing set under kind 0.
    {"T305Kind0Set", 0, 305, "305=TCPIP", false},
    {"T305BadSearch", 1, 305, "304=3", false},
    {"T305LowerCase", 1, 305, "304=2|305=tcpip", true},
    {"T305Appc", 1, 305, "305=APPC", false},
    {"T305Mixed", 3, 305, "305=netbios,Ipx  tcp", true},
    // Token 92: when its field is set, each record is judged on its own value string.
    {"T92SetUnderKind2", 2, 92, "92=ABC", false, "ABC"},
    {"T92EmptyFieldAnyValue", 1, 92, "", true, "1 BAD"},
    {"T92NineCharacters", 1, 92, "92=X", false, "ABCDEFGHI"},
    {"T92ValueNotField", 1, 92, "92=1BAD", true, "GOOD"},
};
INSTANTIATE_TEST_SUITE_P(Texts, RuleTest, testing::ValuesIn(kTexts), RowName<RuleCase>);

TEST(TextRuleTest, LengthsCountToTheZeroOrTheWholeWidth) {
  const std::string cell = "74=" + std::string(200, 'c');
  EXPECT_TRUE(Judge(ImageOf(1, cell + "|75=" + std::string(55, 'p')), 75));
  EXPECT_FALSE(Judge(ImageOf(1, cell + "|75=" + std::string(56, 'p')), 75));
  EXPECT_TRUE(Judge(ImageOf(2, "65=" + std::string(215, 'x')), 65));
  // A file may carry a text field without its zero; the rules then see a too-long text.
  auto unterminated = [](uint16_t offset, size_t width) {
    return testkit::DbmBlockBuilder()
        .NodeType(1)
        .Bytes(offset, std::vector<unsigned char>(width, 'A'))
        .Block();
  };
  EXPECT_FALSE(Judge(unterminated(0x34, 9), 7));
  EXPECT_FALSE(Judge(unterminated(0x332, 216), 65));
  EXPECT_FALSE(Judge(unterminated(0x56A, 256), 75));
  EXPECT_TRUE(Judge(unterminated(0x64, 15), 24));  // any text: the length is not looked at
}

// The record loop: every record is judged on the final image, and allValid follows.
TEST(RecordLoopTest, JudgesEveryRecordOnTheFinalImage) {
  ConfigFileImage image = ImageOf(1, "12=100|40=1|92=LATER");
  char empty[] = "", first[] = "1ST", later[] = "LATER";
  // 9998 was rejected by the apply step and stays rejected; tokens 39 to 9999 are not tested.
  std::vector<sqlf_cfg_parameter> records = {
      {12, empty, 1},  {9998, empty, 0}, {92, first, 1},  {313, empty, 1}, {4711, empty, 1},
      {507, empty, 1}, {29, empty, 1},   {92, later, 1},  {39, empty, 1},  {71, empty, 1},
      {301, empty, 1}, {605, empty, 1},  {9999, empty, 1}};
  unsigned char allValid = 1;
  CheckConfigParameters(image, records.data(), static_cast<int>(records.size()), &allValid);
  std::vector<int> verdicts;
  for (const sqlf_cfg_parameter& record : records) verdicts.push_back(record.valid);
  EXPECT_EQ(verdicts, (std::vector<int>{1, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1}));
  EXPECT_EQ(allValid, 0);
}

}  // namespace
}  // namespace qz7::config
