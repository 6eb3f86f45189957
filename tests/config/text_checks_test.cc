// The check step's text rules (names, DCE texts, protocol lists) and its record loop.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/name_syntax.h"
#include "tests/config/check_test_support.h"

namespace qz7::config {
namespace {

struct TextCase {
  const char* name;
  uint16_t kind;
  uint16_t token;
  std::vector<FieldValue> fields;
  bool accepted;
};

class TextRuleTest : public testing::TestWithParam<TextCase> {};

TEST_P(TextRuleTest, Verdict) {
  const TextCase& c = GetParam();
  EXPECT_EQ(Judge(ImageOf(c.kind, c.fields), c.token), c.accepted)
      << "token " << c.token << " under kind " << c.kind;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TextRuleTest,
    testing::Values(
        // Token 7: a name of up to 8 characters, trailing blanks dropped; empty under kind 0.
        TextCase{"T7EmptyKind0", 0, 7, {Text(7, "")}, true},
        TextCase{"T7SetKind0", 0, 7, {Text(7, "A")}, false},
        TextCase{"T7TrailingBlanks", 1, 7, {Text(7, "AB#1  ")}, true},
        TextCase{"T7DigitFirst", 1, 7, {Text(7, "1ABC")}, false},
        TextCase{"T7UnderscoreFirst", 1, 7, {Text(7, "_ABC")}, false},
        TextCase{"T7InnerBlank", 1, 7, {Text(7, "A B")}, false},
        TextCase{"T7LeadingBlank", 1, 7, {Text(7, " AB")}, false},
        TextCase{"T7OnlyBlanks", 3, 7, {Text(7, "   ")}, true},
        TextCase{"T7FullSet", 4, 7, {Text(7, "$x_9@#zZ")}, true},
        TextCase{"T7Punctuation", 4, 7, {Text(7, "AB.C")}, false},
        // Kinds that may hold the text.
        TextCase{"T24Kind0", 0, 24, {Text(24, "X")}, false},
        TextCase{"T24Kind2", 2, 24, {Text(24, "X")}, false},
        TextCase{"T24Kind5", 5, 24, {Text(24, "any text!")}, true},
        TextCase{"T24Kind6", 6, 24, {Text(24, "X")}, false},
        TextCase{"T27Kind2", 2, 27, {Text(27, "X")}, false},
        TextCase{"T27Kind0", 0, 27, {Text(27, "X")}, true},
        TextCase{"T28Kind0", 0, 28, {Text(28, "X")}, false},
        TextCase{"T47Kind5", 5, 47, {Text(47, "X")}, false},
        TextCase{"T48Kind4", 4, 48, {Text(48, "X")}, true},
        TextCase{"T76Kind0", 0, 76, {Text(76, "X")}, false},
        TextCase{"T76Kind2", 2, 76, {Text(76, "X")}, true},
        TextCase{"T65Long", 2, 65, {Text(65, std::string(215, 'x'))}, true},
        // Token 25: letters, digits, $ # @ and the full stop; only under kinds 1, 3 and 4.
        TextCase{"T25Allowed", 1, 25, {Text(25, "node.name$#@9")}, true},
        TextCase{"T25Hyphen", 1, 25, {Text(25, "a-b")}, false},
        TextCase{"T25Blank", 3, 25, {Text(25, "a b")}, false},
        TextCase{"T25Kind5", 5, 25, {Text(25, "AB")}, false},
        TextCase{"T25EmptyKind5", 5, 25, {}, true},
        // Token 74: a DCE cell name when field 73 is 1.
        TextCase{"T74Kind0", 0, 74, {Text(74, "/.:/cell")}, false},
        TextCase{"T74LocalPrefix", 1, 74, {Int(73, 1), Text(74, "/.:/cell")}, true},
        TextCase{"T74GlobalPrefix", 1, 74, {Int(73, 1), Text(74, "/.../cell")}, true},
        TextCase{"T74CellAlone", 1, 74, {Int(73, 1), Text(74, "cell")}, false},
        TextCase{"T74ShortPrefix", 1, 74, {Int(73, 1), Text(74, "/..")}, false},
        TextCase{"T74EmptyWithDce", 1, 74, {Int(73, 1)}, false},
        TextCase{"T74NoDce", 1, 74, {Int(73, 0), Text(74, "cell")}, true},
        TextCase{"T74Field73Two", 1, 74, {Int(73, 2), Text(74, "cell")}, true},
        // Token 75: with DCE both texts set, and together at most 255 characters.
        TextCase{"T75Kind0", 0, 75, {Text(75, "p")}, false},
        TextCase{"T75BothSet", 1, 75, {Int(73, 1), Text(74, "/.:/c"), Text(75, "p")}, true},
        TextCase{"T75CellMissing", 1, 75, {Int(73, 1), Text(75, "p")}, false},
        TextCase{"T75PrincipalMissing", 1, 75, {Int(73, 1), Text(74, "/.:/c")}, false},
        TextCase{"T75Field73Two", 1, 75, {Int(73, 2), Text(74, "/.:/c")}, false},
        TextCase{"T75NoDce", 1, 75, {}, true},
        TextCase{"T75Length255",
                 1,
                 75,
                 {Text(74, std::string(200, 'c')), Text(75, std::string(55, 'p'))},
                 true},
        TextCase{"T75Length256",
                 1,
                 75,
                 {Text(74, std::string(200, 'c')), Text(75, std::string(56, 'p'))},
                 false},
        // Token 77: a protocol list compared with case; empty under kind 0.
        TextCase{"T77Kind0", 0, 77, {Text(77, "TCPIP")}, false},
        TextCase{"T77CommaBlank", 1, 77, {Text(77, "TCPIP, NETBIOS")}, true},
        TextCase{"T77LowerCase", 1, 77, {Text(77, "tcpip")}, false},
        TextCase{"T77CommasAround", 1, 77, {Text(77, ",APPC,")}, true},
        TextCase{"T77LongerThanName", 1, 77, {Text(77, "TCPIPX")}, false},
        TextCase{"T77Abbreviated", 1, 77, {Text(77, "TCP\tIPX NET")}, true},
        TextCase{"T77OnlySeparators", 1, 77, {Text(77, " \t, ,")}, true},
        TextCase{"T77OneBadItem", 1, 77, {Text(77, "APPC,FOO,TCPIP")}, false},
        TextCase{"T77Empty", 4, 77, {}, true},
        // Token 305: field 304 and an upper-cased list without APPC.
        TextCase{"T305Kind0Empty", 0, 305, {}, true},
        TextCase{"T305Kind0Set", 0, 305, {Text(305, "TCPIP")}, false},
        TextCase{"T305Kind0Search", 0, 305, {Int(304, 1)}, false},
        TextCase{"T305BadSearch", 1, 305, {Int(304, 3)}, false},
        TextCase{"T305LowerCase", 1, 305, {Int(304, 2), Text(305, "tcpip")}, true},
        TextCase{"T305Appc", 1, 305, {Text(305, "APPC")}, false},
        TextCase{"T305Mixed", 3, 305, {Text(305, "netbios,Ipx  tcp")}, true},
        TextCase{"T305Empty", 5, 305, {Int(304, 2)}, true}),
    [](const testing::TestParamInfo<TextCase>& info) { return std::string(info.param.name); });

TEST(TextRuleTest, UnterminatedFieldsCountTheirWholeWidth) {
  // A file may carry a text field without its zero; the rules then see a too-long text.
  auto image = [](uint16_t offset, size_t width) {
    testkit::DbmBlockBuilder builder;
    builder.NodeType(1).Bytes(offset, std::vector<unsigned char>(width, 'A'));
    return builder.Block();
  };
  EXPECT_FALSE(Judge(image(0x34, 9), 7));
  EXPECT_FALSE(Judge(image(0x332, 216), 65));
  EXPECT_FALSE(Judge(image(0x56A, 256), 75));
  EXPECT_TRUE(Judge(image(0x64, 15), 24));  // any text: the length is not looked at
}

// Token 92: when its field is set, each record is judged on its own value string.
struct ValueNameCase {
  const char* name;
  uint16_t kind;
  const char* field;
  const char* value;
  bool accepted;
};

class ValueNameTest : public testing::TestWithParam<ValueNameCase> {};

TEST_P(ValueNameTest, Verdict) {
  const ValueNameCase& c = GetParam();
  EXPECT_EQ(Judge(ImageOf(c.kind, {Text(92, c.field)}), 92, c.value), c.accepted);
}

INSTANTIATE_TEST_SUITE_P(
    Token92, ValueNameTest,
    testing::Values(ValueNameCase{"EmptyFieldKind2", 2, "", "1 BAD", true},
                    ValueNameCase{"SetFieldKind2", 2, "ABC", "ABC", false},
                    ValueNameCase{"EmptyFieldAnyValue", 1, "", "1 BAD", true},
                    ValueNameCase{"GoodName", 1, "ABC", "ABC", true},
                    ValueNameCase{"EightCharacters", 1, "X", "ABCDEFGH", true},
                    ValueNameCase{"NineCharacters", 1, "X", "ABCDEFGHI", false},
                    ValueNameCase{"DigitFirst", 1, "X", "1BC", false},
                    ValueNameCase{"TrailingBlank", 1, "X", "AB ", false},
                    ValueNameCase{"InnerBlank", 1, "X", "A B", false},
                    ValueNameCase{"FullSet", 5, "X", "#_09az", true},
                    ValueNameCase{"ValueNotField", 1, "1BAD", "GOOD", true}),
    [](const testing::TestParamInfo<ValueNameCase>& info) { return std::string(info.param.name); });

struct NameCase {
  const char* name;
  const char* text;
  int length;
  const char* allowed;
  int expected;
};

class IsValidNameTest : public testing::TestWithParam<NameCase> {};

TEST_P(IsValidNameTest, Result) {
  const NameCase& c = GetParam();
  EXPECT_EQ(IsValidName(c.text, c.length, c.allowed), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IsValidNameTest,
    testing::Values(NameCase{"Plain", "ABC", 3, kNameCharacters, 1},
                    NameCase{"DigitFirst", "9BC", 3, kNameCharacters, 0},
                    NameCase{"UnderscoreLater", "A_9", 3, kNameCharacters, 1},
                    NameCase{"BadLater", "A-C", 3, kNameCharacters, 0},
                    NameCase{"LengthOneTestsFirstOnly", "A-C", 1, kNameCharacters, 1},
                    NameCase{"LengthZeroTestsFirstOnly", "A-C", 0, kNameCharacters, 1},
                    NameCase{"ZeroByteFirstIsFound", "", 1, kNameCharacters, 1},
                    NameCase{"LengthPastTerminatorMeetsZero", "AB", 3, kNameCharacters, 1},
                    NameCase{"AllowedSetIsTheArgument", "AB", 2, "B", 1},
                    NameCase{"NotInAllowedSet", "AC", 2, "B", 0}),
    [](const testing::TestParamInfo<NameCase>& info) { return std::string(info.param.name); });

TEST(UppercaseInPlaceTest, StopsAtZeroOrAfter500Characters) {
  char short_text[] = "tcp/ip, net-bios";
  UppercaseInPlace(short_text);
  EXPECT_STREQ(short_text, "TCP/IP, NET-BIOS");

  std::string long_text(600, 'a');
  UppercaseInPlace(long_text.data());
  EXPECT_EQ(long_text, std::string(500, 'A') + std::string(100, 'a'));
}

// The record loop: every record is judged, and allValid follows the verdicts.
TEST(RecordLoopTest, JudgesEveryRecordOnTheFinalImage) {
  ConfigFileImage image = ImageOf(1, {Int(12, 100), Int(40, 1), Text(92, "LATER")});
  std::vector<sqlf_cfg_parameter> records = {
      {12, const_cast<char*>(""), 1},   {40, const_cast<char*>(""), 1},
      {9998, const_cast<char*>(""), 0},  // rejected by the apply step: not judged again
      {40, const_cast<char*>(""), 1},   {92, const_cast<char*>("1ST"), 1},
      {313, const_cast<char*>(""), 1},  {4711, const_cast<char*>(""), 1},
      {29, const_cast<char*>(""), 1},   {92, const_cast<char*>("LATER"), 1},
  };
  unsigned char allValid = 1;
  CheckConfigParameters(image, records.data(), static_cast<int>(records.size()), &allValid);
  std::vector<int> verdicts;
  for (const sqlf_cfg_parameter& record : records) verdicts.push_back(record.valid);
  EXPECT_EQ(verdicts, (std::vector<int>{1, 1, 0, 1, 0, 0, 0, 1, 1}));
  EXPECT_EQ(allValid, 0);
}

TEST(RecordLoopTest, AllValidStaysSetWhenEveryRecordPasses) {
  ConfigFileImage image = ImageOf(2, {Int(20, 1)});
  std::vector<sqlf_cfg_parameter> records;
  for (uint16_t token : {39, 62, 63, 66, 67, 71, 301, 302, 309, 311, 605, 9998, 9999, 20}) {
    records.push_back({token, const_cast<char*>(""), 1});
  }
  unsigned char allValid = 1;
  CheckConfigParameters(image, records.data(), static_cast<int>(records.size()), &allValid);
  for (const sqlf_cfg_parameter& record : records) EXPECT_EQ(record.valid, 1) << record.token;
  EXPECT_EQ(allValid, 1);
}

TEST(RecordLoopTest, RejectedTokensUnderEveryKind) {
  for (uint16_t kind = 0; kind <= 5; ++kind) {
    ConfigFileImage image = ImageOf(kind);
    EXPECT_FALSE(Judge(image, 313)) << kind;
    EXPECT_FALSE(Judge(image, 507)) << kind;
    EXPECT_FALSE(Judge(image, 0)) << kind;
    EXPECT_FALSE(Judge(image, 65535)) << kind;
  }
}

TEST(RecordLoopTest, CountZeroOrNegativeJudgesNothing) {
  sqlf_cfg_parameter record{4711, const_cast<char*>(""), 1};
  unsigned char allValid = 1;
  CheckConfigParameters(ImageOf(1), &record, 0, &allValid);
  CheckConfigParameters(ImageOf(1), &record, -3, &allValid);
  EXPECT_EQ(record.valid, 1);
  EXPECT_EQ(allValid, 1);
}

}  // namespace
}  // namespace qz7::config
