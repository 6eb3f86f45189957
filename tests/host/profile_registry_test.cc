// The stand-in's profile registry: variables by number and by name at every level, the
// default-level and global-profile rules, enumeration and its end, pointing, and removal.
#include "host/profile_registry.h"

#include <string>
#include <vector>

#include "host/registry_access.h"
#include "testkit/profile_registry_builder.h"
#include "tests/host/host_fixture.h"

namespace qz7::host {
namespace {

std::string Code(int result) { return std::to_string(result) + ":"; }

class ProfileRegistryTest : public HostFixture {
 protected:
  void SetUp() override {
    HostFixture::SetUp();
    ASSERT_EQ(testkit::WriteProfileRegistry(
                  {.instances = {{"QZ7", {{"QZ7INSTPROF", "C:\\P"}}, {}},
                                 {"QZ7DAS", {}, {}},
                                 {"QZ7MPP", {{"QZ7PORTRANGE", "60000:60003"}}, {"0", "1"}}},
                   .globalProfile = {{"QZ7INSTDEF", "QZ7"}},
                   .defaultLevel = {{"QZ7INSTDEF", "OLDDEF"}, {"QZ7ADMINSERVER", "OLDDAS"}}}),
              0);
  }

  // Every name a first/next enumeration gives, then the code that ended it, as one text;
  // through PRegProfilePE or, with pe false, PRegProfile.
  std::string Enumerate(bool pe = true) {
    std::string names;
    char buffer[260];
    auto call = [&](int op) {
      return pe ? host_.PRegProfilePE(op, buffer, -1) : host_.PRegProfile(op, buffer);
    };
    int result = call(kProfileFirst);
    for (; result == 0; result = call(kProfileNext)) names += std::string(buffer) + " ";
    return names + std::to_string(result);
  }
};

TEST_F(ProfileRegistryTest, ReadsFollowTheLevelRules) {
  const struct {
    const char* label;
    int variable;
    const char *name, *profile;
    std::string expected;  // "RESULT:VALUE"
    size_t size = 256;
  } cases[] = {
      {"global wins over default level", kVarDefaultInstance, nullptr, nullptr, "0:QZ7"},
      {"default level when global lacks it", kVarAdminServer, nullptr, nullptr, "0:OLDDAS"},
      {"global profile never falls back", kVarAdminServer, nullptr, kGlobalProfile,
       Code(kNotFound)},
      {"instance variable by number", kVarInstanceProfile, nullptr, "QZ7", "0:C:\\P"},
      {"variable name in any case", 0, "qz7portrange", "QZ7MPP", "0:60000:60003"},
      {"instance variables stay apart", 0, "QZ7PORTRANGE", "QZ7", Code(kNotFound)},
      {"unknown variable number", 999, nullptr, nullptr, Code(kBadArgument)},
      {"value exactly fits", kVarInstanceProfile, nullptr, "QZ7", "0:C:\\P", 5},
      {"value one byte too long", kVarInstanceProfile, nullptr, "QZ7", Code(kBufferTooSmall), 4},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Read(c.variable, c.name, c.profile, c.size), c.expected) << c.label;
  }
}

// The library writes the administration server at the null profile, reads it back through
// the global profile (PRegValue) and later removes it there.
TEST_F(ProfileRegistryTest, WritesAndRemovesRoundTrip) {
  ASSERT_EQ(Write(kVarAdminServer, nullptr, nullptr, "NEWDAS"), 0);
  char buffer[32];
  ASSERT_EQ(host_.PRegValue(kValueRead, kVarAdminServer, 0, buffer, 32, kGlobalProfile), 0);
  EXPECT_STREQ(buffer, "NEWDAS");

  EXPECT_EQ(Remove(kVarAdminServer, nullptr, kGlobalProfile), 0);
  EXPECT_EQ(Read(kVarAdminServer, nullptr, kGlobalProfile), Code(kNotFound));
  // The default level was never touched and shows through again.
  EXPECT_EQ(Read(kVarAdminServer, nullptr, nullptr), "0:OLDDAS");
  EXPECT_EQ(Remove(kVarAdminServer, nullptr, kGlobalProfile), kNotFound);

  // Instance variables, by number and by name.
  ASSERT_EQ(Write(kVarInstanceOwner, nullptr, "QZ7MPP", "HOSTA"), 0);
  EXPECT_EQ(Read(0, "QZ7INSTOWNER", "QZ7MPP"), "0:HOSTA");
  ASSERT_EQ(Write(0, "QZ7INSTOWNER", "qz7mpp", "HOSTB"), 0);  // overwrites, any case
  EXPECT_EQ(Read(kVarInstanceOwner, nullptr, "QZ7MPP"), "0:HOSTB");
  EXPECT_EQ(Remove(kVarInstanceOwner, nullptr, "QZ7MPP"), 0);
  EXPECT_EQ(Read(kVarInstanceOwner, nullptr, "QZ7MPP"), Code(kNotFound));
  EXPECT_EQ(Read(0, "QZ7PORTRANGE", "QZ7MPP"), "0:60000:60003");  // neighbours stay

  EXPECT_EQ(Write(kVarInstanceOwner, nullptr, "NOPE", "X"), kNotFound);
  EXPECT_EQ(Profile(kProfileIsDefined, "NOPE"), kNotFound);  // a write never defines one
  EXPECT_EQ(Profile(kProfileIsDefined, "qz7das"), 0);
}

TEST_F(ProfileRegistryTest, EnumerationListsInstancesOnlyAndEndsForGood) {
  EXPECT_EQ(Enumerate(), "QZ7 QZ7DAS QZ7MPP " + std::to_string(kEndOfList));
  EXPECT_EQ(Profile(kProfileNext, ""), kEndOfList);  // stays ended
  EXPECT_EQ(Enumerate(false), "QZ7 QZ7DAS QZ7MPP -5");
  // An instance dropped during an enumeration is passed over.
  char buffer[256];
  ASSERT_EQ(host_.PRegProfilePE(kProfileFirst, buffer, -1), 0);
  ASSERT_EQ(UndefineInstance("QZ7DAS"), 0);
  ASSERT_EQ(host_.PRegProfilePE(kProfileNext, buffer, -1), 0);
  EXPECT_STREQ(buffer, "QZ7MPP");
}

TEST_F(ProfileRegistryTest, PointingNeedsAnExistingDirectoryAndRemoveAllClearsIt) {
  machine_.MakeDirectory("C:\\QZ7\\PROFILES");
  machine_.WriteText("C:\\QZ7\\FILE", "x");
  const struct {
    const char* label;
    int op;
    const char* text;
    int expected;
  } cases[] = {
      {"installation", kProfileSetInstall, "C:\\QZ7", 0},
      {"quoted profile directory", kProfileSetInstanceDir, "\"C:\\QZ7\\PROFILES\"", 0},
      {"case differs", kProfileSetInstanceDir, "c:\\qz7\\profiles", 0},
      {"missing directory", kProfileSetInstanceDir, "C:\\NOWHERE", kNotFound},
      {"a file, not a directory", kProfileSetInstall, "C:\\QZ7\\FILE", kNotFound},
  };
  for (const auto& c : cases) EXPECT_EQ(Profile(c.op, c.text), c.expected) << c.label;
  std::string pointed;
  ASSERT_EQ(ReadProfilePointer(kInstanceProfileDirValue, &pointed), 0);
  EXPECT_EQ(pointed, "c:\\qz7\\profiles");  // the last successful pointing
  ASSERT_EQ(ReadProfilePointer(kInstallDirValue, &pointed), 0);
  EXPECT_EQ(pointed, "C:\\QZ7");

  // Removing everything takes the pointers too, but leaves other keys of the product.
  ScopedKey components;
  ASSERT_EQ(CreateKey("SOFTWARE\\ZAV\\QZ7\\Components", &components), 0);
  EXPECT_EQ(Profile(kProfileRemoveAll, nullptr), 0);

  EXPECT_EQ(Enumerate(false), "-5");                                    // ends at once
  EXPECT_EQ(Read(kVarAdminServer, nullptr, nullptr), Code(kNotFound));  // at every level
  EXPECT_EQ(ReadProfilePointer(kInstallDirValue, &pointed), kNotFound);
  EXPECT_EQ(ReadProfilePointer(kInstanceProfileDirValue, &pointed), kNotFound);
  EXPECT_TRUE(KeyExists("SOFTWARE\\ZAV\\QZ7\\Components"));
}

}  // namespace
}  // namespace qz7::host
