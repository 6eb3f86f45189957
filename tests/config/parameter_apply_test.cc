// The apply step: how each token family converts and stores a value, what it rejects, and what
// a rejected value leaves in the image.
#include "config/parameter_apply.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "config/config_tokens.h"
#include "testkit/recording_host.h"

namespace qz7::config {
namespace {

using testkit::RecordingHost;
using testkit::ScopedHost;

constexpr unsigned char kUntouched = 7;

// An image whose every byte behind the checksum is 0xAA, so a store shows in every byte.
ConfigFileImage PatternImage() {
  ConfigFileImage image;
  image.fill(0xAA);
  return image;
}

struct Applied {
  ConfigFileImage image;
  bool valid;
  bool commit;
};

Applied ApplyOne(uint16_t token, const char* value, ConfigFileImage image = PatternImage()) {
  sqlf_cfg_parameter record{token, const_cast<char*>(value), kUntouched};
  unsigned char commit = 0;
  ApplyConfigParameters(image, &record, 1, &commit);
  EXPECT_TRUE(record.valid == 0 || record.valid == 1) << int{record.valid};
  return {image, record.valid == 1, commit == 1};
}

// The bytes of image that differ from the pattern image, as "offset=byte" pairs.
std::string ChangedBytes(const ConfigFileImage& image) {
  std::string changed;
  for (size_t i = 0; i < image.size(); ++i) {
    if (image[i] == 0xAA) continue;
    char entry[24];
    std::snprintf(entry, sizeof entry, "%s%zx=%02x", changed.empty() ? "" : " ", i, image[i]);
    changed += entry;
  }
  return changed;
}

struct StoreCase {
  const char* name;
  uint16_t token;
  const char* value;
  bool valid;
  const char* changed;  // the bytes that differ from the 0xAA pattern afterwards
};

class ApplyStoreTest : public testing::TestWithParam<StoreCase> {};

TEST_P(ApplyStoreTest, StoresExactlyTheseBytes) {
  const StoreCase& c = GetParam();
  Applied applied = ApplyOne(c.token, c.value);
  EXPECT_EQ(applied.valid, c.valid) << c.value;
  EXPECT_EQ(ChangedBytes(applied.image), c.changed) << c.value;
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, ApplyStoreTest,
    testing::Values(
        // Integers: atoi conversion, low bits into the field's width.
        StoreCase{"Int16LowBits", 1, "70000", true, "24=70 25=11"},
        StoreCase{"Int32Negative", 12, "-5", true, "4c=fb 4d=ff 4e=ff 4f=ff"},
        StoreCase{"LeadingWhiteSpaceAndPlus", 12, " \t+42", true, "4c=2a 4d=00 4e=00 4f=00"},
        StoreCase{"StopsAtFirstNonDigit", 12, "12abc", true, "4c=0c 4d=00 4e=00 4f=00"},
        StoreCase{"InnerBlankEndsNumber", 12, "1 2", true, "4c=01 4d=00 4e=00 4f=00"},
        StoreCase{"NoDigitsGivesZero", 13, "abc", true, "50=00 51=00 52=00 53=00"},
        StoreCase{"EmptyGivesZero", 13, "", true, "50=00 51=00 52=00 53=00"},
        StoreCase{"SignWithoutDigits", 13, "-", true, "50=00 51=00 52=00 53=00"},
        StoreCase{"OverflowSaturatesHigh", 12, "99999999999", true, "4c=ff 4d=ff 4e=ff 4f=7f"},
        StoreCase{"OverflowSaturatesLow", 12, "-99999999999", true, "4c=00 4d=00 4e=00 4f=80"},
        StoreCase{"MinimumExactly", 12, "-2147483648", true, "4c=00 4d=00 4e=00 4f=80"},
        StoreCase{"FieldAtHighOffset", 701, "1", true, "c24=01 c25=00 c26=00 c27=00"},
        // Texts: value and its zero copied; bytes behind the zero keep what they held.
        StoreCase{"TextShort", 7, "AB", true, "34=41 35=42 36=00"},
        StoreCase{"TextAtLimit", 7, "ABCDEFGH", true,
                  "34=41 35=42 36=43 37=44 38=45 39=46 3a=47 3b=48 3c=00"},
        StoreCase{"TextOverLimitRejected", 7, "ABCDEFGHI", false, ""},
        StoreCase{"TextEmpty", 92, "", true, "7b0=00"},
        StoreCase{"TextRejectedTokenStillStores", 313, "X", true, "7b9=58 7ba=00"},
        // Keywords: whole-string, value case ignored, first match in table order.
        StoreCase{"KeywordLowerCase", 20, "restart", true, "3e=02 3f=00"},
        StoreCase{"KeywordZero", 40, "No", true, "31a=00 31b=00"},
        StoreCase{"KeywordLateInList", 78, "dcs_encrypt", true, "78a=05 78b=00"},
        StoreCase{"KeywordPrefixOfLonger", 78, "SERVER", true, "78a=00 78b=00"},
        StoreCase{"KeywordDigit", 314, "1", true, "2e=01 2f=00"},
        StoreCase{"KeywordLeadingBlank", 40, " YES", false, ""},
        StoreCase{"KeywordTrailingBlank", 40, "YES ", false, ""},
        StoreCase{"KeywordUnknown", 304, "SOMETIMES", false, ""},
        StoreCase{"KeywordEmpty", 602, "", false, ""},
        StoreCase{"Keyword306On", 306, "on", true, "26=01 27=00"},
        // Bits: only the named bits of the word change (0xAAAA before).
        StoreCase{"BitOnSets", 30, "on", true, "31e=ab"},
        StoreCase{"BitOffClears", 31, "OFF", true, "31e=a8"},
        StoreCase{"BitOffOfClearBit", 32, "OFF", true, ""},
        StoreCase{"BitOnLeadingBlank", 30, " ON", false, ""},
        StoreCase{"Bit301Yes", 301, "YES", true, "794=ab"},
        StoreCase{"Bit301No", 301, "no", true, ""},
        StoreCase{"Bit301DrdaOnly", 301, "drdaonly", true, "794=ae"},
        StoreCase{"Bit302No", 302, "NO", true, "794=a8"},
        StoreCase{"Bit302Unknown", 302, "DRDAONLY", false, ""},
        // Special tokens.
        StoreCase{"Token26System", 26, "system", true, "62=00 63=00"},
        StoreCase{"Token26Integer", 26, "-1", true, "62=ff 63=ff"},
        StoreCase{"Token307Float", 307, "0.5", true, "c30=00 c31=00 c32=00 c33=3f"},
        StoreCase{"Token307Overflow", 307, "1e300", true, "c30=00 c31=00 c32=80 c33=7f"},
        StoreCase{"Token71Cut", 71, "ABCDEF", true, "454=41 455=42 456=43 457=44 458=00"},
        StoreCase{"Token71ZeroFilled", 71, "AB", true, "454=41 455=42 456=00 457=00 458=00"},
        StoreCase{"Token605InRange", 605, "4", true, "54=04 55=00"},
        StoreCase{"Token605StoredAndRejected", 605, "7", false, "54=07 55=00"},
        StoreCase{"Token605Negative", 605, "-1", false, "54=ff 55=ff"},
        StoreCase{"Token605WrapsIntoRange", 605, "65538", true, "54=02 55=00"},
        StoreCase{"Token507StoresNothing", 507, "5", true, ""},
        StoreCase{"Token9998", 9998, "anything", true, ""},
        StoreCase{"Token29StoresNothing", 29, "ON", true, ""},
        StoreCase{"UnknownToken", 4711, "1", true, ""}),
    [](const testing::TestParamInfo<StoreCase>& info) { return std::string(info.param.name); });

TEST(ApplyTest, CommitTokenRequestsCommitAndStoresNothing) {
  Applied applied = ApplyOne(kCommitToken, "");
  EXPECT_TRUE(applied.valid);
  EXPECT_TRUE(applied.commit);
  EXPECT_EQ(ChangedBytes(applied.image), "");
  EXPECT_FALSE(ApplyOne(9998, "").commit);
}

TEST(ApplyTest, NullValueRejectedWhereTheValueIsRead) {
  for (uint16_t token : {1, 7, 20, 30, 26, 42, 71, 605}) {
    Applied applied = ApplyOne(token, nullptr);
    EXPECT_FALSE(applied.valid) << token;
    EXPECT_EQ(ChangedBytes(applied.image), "") << token;
  }
  Applied commit = ApplyOne(kCommitToken, nullptr);
  EXPECT_TRUE(commit.valid);
  EXPECT_TRUE(commit.commit);
}

// Token 42: about -1 asks the host for the processor speed; other values are stored.
struct SpeedCase {
  const char* name;
  const char* value;
  int hostResult;  // scripted result of Cpum; 0 lets the fake deliver its speed
  bool valid;
  float stored;
  int hostCalls;
};

class ProcessorSpeedTest : public testing::TestWithParam<SpeedCase> {};

TEST_P(ProcessorSpeedTest, StoresValueOrMeasuredSpeed) {
  const SpeedCase& c = GetParam();
  RecordingHost host;
  ScopedHost scoped(&host);
  host.processorSpeed = 0.25f;
  if (c.hostResult != 0) host.ScriptResult("Cpum", c.hostResult);
  Applied applied = ApplyOne(42, c.value);
  EXPECT_EQ(applied.valid, c.valid);
  EXPECT_EQ(LoadFloat(applied.image, 0x328), c.stored);
  EXPECT_EQ(host.CountOf("Cpum"), c.hostCalls);
}

INSTANTIATE_TEST_SUITE_P(
    Token42, ProcessorSpeedTest,
    testing::Values(SpeedCase{"MinusOneMeasured", "-1", 0, true, 0.25f, 1},
                    SpeedCase{"NearMinusOneMeasured", "-1.00005", 0, true, 0.25f, 1},
                    SpeedCase{"MinusOneHostFails", "-1", -1042, false, -1.0f, 1},
                    SpeedCase{"EdgeNotAboutMinusOne", "-1.0001", 0, true, -1.0001f, 0},
                    SpeedCase{"MinusOneAndAHalfStored", "-1.5", 0, true, -1.5f, 0},
                    SpeedCase{"PlainValue", "  0.004xyz", 0, true, 0.004f, 0},
                    SpeedCase{"NotANumberGivesZero", "fast", 0, true, 0.0f, 0}),
    [](const testing::TestParamInfo<SpeedCase>& info) { return std::string(info.param.name); });

// Token 306 "SYSTEM": 1 with more than one processor, 0 with one, rejected when the host fails.
struct ProcessorCountCase {
  const char* name;
  uint32_t processors;
  int hostResult;
  bool valid;
  const char* changed;
};

class ProcessorCountTest : public testing::TestWithParam<ProcessorCountCase> {};

TEST_P(ProcessorCountTest, SystemAsksTheHost) {
  const ProcessorCountCase& c = GetParam();
  RecordingHost host;
  ScopedHost scoped(&host);
  host.processorCount = c.processors;
  if (c.hostResult != 0) host.ScriptResult("GetCPUInfo", c.hostResult);
  Applied applied = ApplyOne(306, "System");
  EXPECT_EQ(applied.valid, c.valid);
  EXPECT_EQ(ChangedBytes(applied.image), c.changed);
  EXPECT_EQ(host.CountOf("GetCPUInfo"), 1);
}

INSTANTIATE_TEST_SUITE_P(Token306, ProcessorCountTest,
                         testing::Values(ProcessorCountCase{"Several", 4, 0, true, "26=01 27=00"},
                                         ProcessorCountCase{"One", 1, 0, true, "26=00 27=00"},
                                         ProcessorCountCase{"HostFails", 4, -1042, false, ""}),
                         [](const testing::TestParamInfo<ProcessorCountCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(ApplyTest, RejectedTextKeepsOldFieldAndLaterRecordOverrides) {
  std::vector<sqlf_cfg_parameter> records = {
      {7, const_cast<char*>("FIRST"), 0},
      {7, const_cast<char*>("TOOLONGNAME"), 0},
      {12, const_cast<char*>("100"), 0},
      {12, const_cast<char*>("200"), 0},
  };
  ConfigFileImage image = PatternImage();
  unsigned char commit = 0;
  ApplyConfigParameters(image, records.data(), static_cast<int>(records.size()), &commit);
  EXPECT_EQ(records[0].valid, 1);
  EXPECT_EQ(records[1].valid, 0);
  EXPECT_STREQ(TextAt(image, 0x34), "FIRST");
  EXPECT_EQ(Load32(image, 0x4C), 200u);
  EXPECT_EQ(commit, 0);
}

TEST(ApplyTest, CountZeroOrNegativeTouchesNoRecord) {
  for (int count : {0, -1, -1000}) {
    sqlf_cfg_parameter record{1, const_cast<char*>("5000"), kUntouched};
    ConfigFileImage image = PatternImage();
    unsigned char commit = 0;
    ApplyConfigParameters(image, &record, count, &commit);
    EXPECT_EQ(record.valid, kUntouched) << count;
    EXPECT_EQ(ChangedBytes(image), "") << count;
  }
}

TEST(ApplyTest, CommitFlagIsNeverCleared) {
  std::vector<sqlf_cfg_parameter> records = {{kCommitToken, const_cast<char*>(""), 0},
                                             {1, const_cast<char*>("x"), 0}};
  ConfigFileImage image = PatternImage();
  unsigned char commit = 0;
  ApplyConfigParameters(image, records.data(), 2, &commit);
  EXPECT_EQ(commit, 1);
}

struct KeywordCase {
  const char* name;
  const char* value;
  const char* keyword;
  int expected;
};

class KeywordEqualsTest : public testing::TestWithParam<KeywordCase> {};

TEST_P(KeywordEqualsTest, ComparesWholeStringIgnoringValueCase) {
  const KeywordCase& c = GetParam();
  EXPECT_EQ(KeywordEquals(c.value, c.keyword), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, KeywordEqualsTest,
                         testing::Values(KeywordCase{"Equal", "ON", "ON", 0},
                                         KeywordCase{"LowerCase", "on", "ON", 0},
                                         KeywordCase{"MixedCase", "dRdAoNlY", "DRDAONLY", 0},
                                         // The value's unconverted character minus the keyword's.
                                         KeywordCase{"ValueLonger", "ONE", "ON", 'E'},
                                         KeywordCase{"ValueShorter", "O", "ON", -'N'},
                                         KeywordCase{"DiffersLowerCase", "ox", "ON", 'x' - 'N'},
                                         KeywordCase{"TrailingBlank", "ON ", "ON", ' '},
                                         KeywordCase{"LeadingBlank", " ON", "ON", ' ' - 'O'},
                                         KeywordCase{"EmptyValue", "", "ON", -'O'}),
                         [](const testing::TestParamInfo<KeywordCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(ConvertTest, FloatBeyondRangeBecomesInfinity) {
  double converted = 0;
  EXPECT_EQ(ConvertFloat("-1e300", &converted), -std::numeric_limits<float>::infinity());
  EXPECT_EQ(converted, -1e300);
  EXPECT_TRUE(std::isnan(ConvertFloat("nan", &converted)));
  EXPECT_EQ(ConvertFloat("1e-50", &converted), 0.0f);
}

}  // namespace
}  // namespace qz7::config
