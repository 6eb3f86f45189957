// The apply step: how each token family converts and stores a value, what it rejects, and what
// a rejected value leaves in the image.
#include "config/parameter_apply.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "config/config_tokens.h"
#include "testkit/recording_host.h"
#include "tests/config/check_test_support.h"

namespace qz7::config {
namespace {

constexpr unsigned char kUntouched = 7;

// An image whose every byte is 0xAA, so a store shows in every byte.
ConfigFileImage PatternImage() {
  ConfigFileImage image;
  image.fill(0xAA);
  return image;
}

// The record's verdict and the bytes that differ from the pattern image, as "offset=byte" pairs.
std::pair<bool, std::string> ApplyOne(uint16_t token, const char* value) {
  ConfigFileImage image = PatternImage();
  sqlf_cfg_parameter record{token, const_cast<char*>(value), kUntouched};
  unsigned char commit = 0;
  ApplyConfigParameters(image, &record, 1, &commit);
  EXPECT_TRUE(record.valid == 0 || record.valid == 1) << int{record.valid};
  EXPECT_EQ(commit, 0);
  std::string changed;
  for (size_t i = 0; i < image.size(); ++i) {
    if (image[i] == 0xAA) continue;
    char entry[24];
    std::snprintf(entry, sizeof entry, "%s%zx=%02x", changed.empty() ? "" : " ", i, image[i]);
    changed += entry;
  }
  return {record.valid == 1, changed};
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
  EXPECT_EQ(ApplyOne(c.token, c.value), std::make_pair(c.valid, std::string(c.changed))) << c.value;
}

const StoreCase kStores[] = {
    // Integers: atoi conversion, saturating, low bits into the field's width.
    {"Int16LowBits", 1, "70000", true, "24=70 25=11"},
    {"Int32Negative", 12, "-5", true, "4c=fb 4d=ff 4e=ff 4f=ff"},
    {"LeadingWhiteSpaceAndPlus", 12, " \t+42", true, "4c=2a 4d=00 4e=00 4f=00"},
    {"StopsAtFirstNonDigit", 12, "12abc", true, "4c=0c 4d=00 4e=00 4f=00"},
    {"BlanksGiveZero", 13, "  ", true, "50=00 51=00 52=00 53=00"},
    {"SignWithoutDigits", 13, "-", true, "50=00 51=00 52=00 53=00"},
    {"OverflowSaturatesHigh", 12, "99999999999", true, "4c=ff 4d=ff 4e=ff 4f=7f"},
    {"OverflowSaturatesLow", 12, "-99999999999", true, "4c=00 4d=00 4e=00 4f=80"},
    // Texts: value and its zero copied; bytes behind the zero keep what they held.
    {"TextAtLimit", 7, "ABCDEFGH", true, "34=41 35=42 36=43 37=44 38=45 39=46 3a=47 3b=48 3c=00"},
    {"TextOverLimitRejected", 7, "ABCDEFGHI", false, ""},
    {"TextOfRejectedTokenStored", 313, "X", true, "7b9=58 7ba=00"},
    // Keywords: whole string, value case ignored, first match in table order.
    {"KeywordLowerCase", 20, "restart", true, "3e=02 3f=00"},
    {"KeywordPrefixOfLonger", 78, "SERVER", true, "78a=00 78b=00"},
    {"KeywordLeadingBlank", 40, " YES", false, ""},
    // Bits: only the named bits of the word change (0xAAAA before).
    {"BitOnSets", 30, "on", true, "31e=ab"},
    {"BitOffClears", 31, "OFF", true, "31e=a8"},
    {"BitsSetAndCleared", 301, "drdaonly", true, "794=ae"},
    // Special tokens.
    {"T26System", 26, "system", true, "62=00 63=00"},
    {"T307OverflowIsInfinite", 307, "1e300", true, "c30=00 c31=00 c32=80 c33=7f"},
    {"T71ZeroFilled", 71, "AB", true, "454=41 455=42 456=00 457=00 458=00"},
    {"T605StoredAndRejected", 605, "7", false, "54=07 55=00"},
    {"T605WrapsIntoRange", 605, "65538", true, "54=02 55=00"},
    {"UnknownToken", 4711, "1", true, ""},
    // A null value is rejected wherever the value is read.
    {"NullInteger", 1, nullptr, false, ""},
    {"NullText", 7, nullptr, false, ""},
    {"NullSpecial", 605, nullptr, false, ""},
};
INSTANTIATE_TEST_SUITE_P(Tokens, ApplyStoreTest, testing::ValuesIn(kStores), RowName<StoreCase>);

TEST(ApplyTest, CommitTokenNeedsNoValueAndIsNeverCleared) {
  char empty[] = "", x[] = "x";
  std::vector<sqlf_cfg_parameter> records = {
      {kCommitToken, nullptr, 0}, {9998, empty, 0}, {1, x, 0}};
  ConfigFileImage image = PatternImage();
  unsigned char commit = 0;
  ApplyConfigParameters(image, records.data(), 3, &commit);
  EXPECT_EQ(records[0].valid + commit, 2);
  commit = 0;
  ApplyConfigParameters(image, records.data() + 1, 2, &commit);  // 9998 is not the commit token
  EXPECT_EQ(commit, 0);
}

TEST(ApplyTest, RejectedTextKeepsOldFieldAndLaterRecordOverrides) {
  char first[] = "FIRST", tooLong[] = "TOOLONGNAME", v100[] = "100", v200[] = "200";
  std::vector<sqlf_cfg_parameter> records = {
      {7, first, 0}, {7, tooLong, 0}, {12, v100, 0}, {12, v200, 0}};
  ConfigFileImage image = PatternImage();
  unsigned char commit = 0;
  ApplyConfigParameters(image, records.data(), 4, &commit);
  EXPECT_EQ(records[1].valid, 0);
  EXPECT_STREQ(TextAt(image, 0x34), "FIRST");
  EXPECT_EQ(Load32(image, 0x4C), 200u);
}

// Token 42 about -1 asks the host for the processor speed; other values are stored. Token 306
// "SYSTEM" stores 1 with more than one processor, 0 with one. Either is rejected when the host
// fails.
struct HostCase {
  const char* name;
  uint16_t token;
  const char* value;
  uint32_t processors;
  bool hostFails;
  bool valid;
  const char* changed;
  int hostCalls;
};

class HostTest : public testing::TestWithParam<HostCase> {};

TEST_P(HostTest, StoresValueOrWhatTheHostSays) {
  const HostCase& c = GetParam();
  testkit::RecordingHost host;
  testkit::ScopedHost scoped(&host);
  host.processorSpeed = 0.25f;
  host.processorCount = c.processors;
  if (c.hostFails) host.ScriptResult(c.token == 42 ? "Cpum" : "GetCPUInfo", -1042);
  EXPECT_EQ(ApplyOne(c.token, c.value), std::make_pair(c.valid, std::string(c.changed)));
  EXPECT_EQ(host.CountOf("Cpum") + host.CountOf("GetCPUInfo"), c.hostCalls);
}

const HostCase kHostCases[] = {
    {"T42MinusOneMeasured", 42, "-1", 4, false, true, "328=00 329=00 32a=80 32b=3e", 1},
    {"T42NearMinusOneMeasured", 42, "-1.00005", 4, false, true, "328=00 329=00 32a=80 32b=3e", 1},
    {"T42HostFails", 42, "-1", 4, true, false, "328=00 329=00 32a=80 32b=bf", 1},
    {"T42NotAboutMinusOne", 42, "-1.0001", 4, false, true, "328=47 329=03 32a=80 32b=bf", 0},
    {"T306Several", 306, "System", 4, false, true, "26=01 27=00", 1},
    {"T306One", 306, "System", 1, false, true, "26=00 27=00", 1},
    {"T306HostFails", 306, "System", 4, true, false, "", 1},
};
INSTANTIATE_TEST_SUITE_P(Host, HostTest, testing::ValuesIn(kHostCases), RowName<HostCase>);

}  // namespace
}  // namespace qz7::config
