// The apply step: how each token family converts and stores a value, what it rejects, and what
// a rejected value leaves in the image.
#include "config/parameter_apply.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>

#include "config/config_image.h"
#include "config/config_tokens.h"
#include "testkit/recording_host.h"

namespace qz7::config {
namespace {

// One record applied to an image whose every byte is 0xAA, so that a store shows in every byte.
// The host measures 0.25 and counts the given processors, or fails when told to.
struct StoreCase {
  const char* name;
  uint16_t token;
  const char* value;
  bool valid;
  const char* changed;  // the bytes that differ from 0xAA afterwards, then "commit" if asked
  int hostCalls = 0;
  uint32_t processors = 4;
  bool hostFails = false;
};

class ApplyStoreTest : public testing::TestWithParam<StoreCase> {};

TEST_P(ApplyStoreTest, StoresExactlyTheseBytes) {
  const StoreCase& c = GetParam();
  testkit::RecordingHost host;
  testkit::ScopedHost scoped(&host);
  host.processorSpeed = 0.25f;
  host.processorCount = c.processors;
  if (c.hostFails) host.ScriptResult(c.token == 42 ? "Cpum" : "GetCPUInfo", -1042);
  ConfigFileImage image;
  image.fill(0xAA);
  sqlf_cfg_parameter record{c.token, const_cast<char*>(c.value), 7};
  unsigned char commit = 0;
  ApplyConfigParameters(image, &record, 1, &commit);
  std::string changed;
  for (size_t i = 0; i < image.size(); ++i) {
    char entry[24];
    std::snprintf(entry, sizeof entry, " %zx=%02x", i, image[i]);
    if (image[i] != 0xAA) changed += entry;
  }
  changed += commit != 0 ? " commit" : "";
  EXPECT_EQ(std::make_pair(int{record.valid}, changed),
            std::make_pair(c.valid ? 1 : 0, c.changed[0] ? std::string(" ") + c.changed : ""));
  EXPECT_EQ(host.CountOf("Cpum") + host.CountOf("GetCPUInfo"), c.hostCalls);
}

const StoreCase kStores[] = {
    // Integers: atoi conversion, saturating, low bits into the field's width.
    {"Int16LowBits", 1, "70000", true, "24=70 25=11"},
    {"Int32Negative", 12, "-5", true, "4c=fb 4d=ff 4e=ff 4f=ff"},
    {"WhiteSpacePlusAndTrailingText", 12, " \t+42abc", true, "4c=2a 4d=00 4e=00 4f=00"},
    {"BlankAndSignGiveZero", 13, " -", true, "50=00 51=00 52=00 53=00"},
    {"OverflowSaturatesHigh", 12, "99999999999", true, "4c=ff 4d=ff 4e=ff 4f=7f"},
    {"OverflowSaturatesLow", 12, "-99999999999", true, "4c=00 4d=00 4e=00 4f=80"},
    // Texts: value and its zero copied; bytes behind the zero keep what they held.
    {"TextAtLimit", 7, "ABCDEFGH", true, "34=41 35=42 36=43 37=44 38=45 39=46 3a=47 3b=48 3c=00"},
    {"TextOverLimitRejectedKeepsField", 7, "ABCDEFGHI", false, ""},
    {"TextOfRejectedTokenStored", 313, "X", true, "7b9=58 7ba=00"},
    // Keywords: whole string, value case ignored, first match in table order.
    {"KeywordLowerCase", 20, "restart", true, "3e=02 3f=00"},
    {"KeywordPrefixOfLonger", 78, "SERVER", true, "78a=00 78b=00"},
    {"KeywordLeadingBlank", 40, " YES", false, ""},
    // Bits: only the named bits of the word change.
    {"BitOnSets", 30, "on", true, "31e=ab"},
    {"BitOffClears", 31, "OFF", true, "31e=a8"},
    // Special tokens.
    {"T26System", 26, "system", true, "62=00 63=00"},
    {"T307OverflowIsInfinite", 307, "1e300", true, "c30=00 c31=00 c32=80 c33=7f"},
    {"T71ZeroFilled", 71, "AB", true, "454=41 455=42 456=00 457=00 458=00"},
    {"T605StoredAndRejected", 605, "7", false, "54=07 55=00"},
    {"T605WrapsIntoRange", 605, "65538", true, "54=02 55=00"},
    {"UnknownToken", 4711, "1", true, ""},
    {"CommitNeedsNoValue", kCommitToken, nullptr, true, "commit"},
    {"NullValue", 1, nullptr, false, ""},
    // Token 42 about -1 asks the host for the processor speed; other values are stored. Token
    // 306 "SYSTEM" stores 1 with more than one processor, 0 with one. A failing host rejects.
    {"T42NearMinusOneMeasured", 42, "-1.00005", true, "328=00 329=00 32a=80 32b=3e", 1},
    {"T42HostFails", 42, "-1", false, "328=00 329=00 32a=80 32b=bf", 1, 4, true},
    {"T42NotAboutMinusOne", 42, "-1.0001", true, "328=47 329=03 32a=80 32b=bf"},
    {"T306Several", 306, "System", true, "26=01 27=00", 1},
    {"T306One", 306, "System", true, "26=00 27=00", 1, 1},
    {"T306HostFails", 306, "System", false, "", 1, 4, true},
};
INSTANTIATE_TEST_SUITE_P(Tokens, ApplyStoreTest, testing::ValuesIn(kStores),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qz7::config
