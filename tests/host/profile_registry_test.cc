// The stand-in's profile registry: variables by number and by name at every level, the
// default-level and global-profile rules, enumeration and its end, pointing, and removal.
#include "host/profile_registry.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "host/registry_access.h"
#include "platform/posix/syscalls.h"
#include "platform/registry.h"
#include "testkit/profile_registry_builder.h"
#include "tests/host/host_fixture.h"

namespace qz7::host {
namespace {

using testkit::ProfileRegistryContents;
using testkit::WriteProfileRegistry;

const std::string kOk = "0:";
std::string Code(int result) { return std::to_string(result) + ":"; }

class ProfileRegistryTest : public HostFixture {
 protected:
  void SetUp() override {
    HostFixture::SetUp();
    ProfileRegistryContents contents;
    contents.instances = {{"QZ7", {{"QZ7INSTPROF", "C:\\P"}}, {}},
                          {"QZ7DAS", {}, {}},
                          {"QZ7MPP", {{"QZ7PORTRANGE", "60000:60003"}}, {"0", "1"}}};
    contents.globalProfile = {{"QZ7INSTDEF", "QZ7"}};
    contents.defaultLevel = {{"QZ7INSTDEF", "OLDDEF"}, {"QZ7ADMINSERVER", "OLDDAS"}};
    ASSERT_EQ(WriteProfileRegistry(contents), 0);
  }

  // Every name the first/next enumeration gives, and the code that ended it.
  std::vector<std::string> EnumeratePE(int* end) {
    std::vector<std::string> names;
    char buffer[256];
    int result = host_.PRegProfilePE(kProfileFirst, buffer, -1);
    while (result == 0) {
      names.push_back(buffer);
      result = host_.PRegProfilePE(kProfileNext, buffer, -1);
    }
    *end = result;
    return names;
  }
};

struct ReadCase {
  const char* label;
  int variable;
  const char* name;
  const char* profile;
  size_t size;
  std::string expected;  // "RESULT:VALUE"
};

TEST_F(ProfileRegistryTest, ReadsFollowTheLevelRules) {
  const ReadCase cases[] = {
      {"global wins over default level", kVarDefaultInstance, nullptr, nullptr, 256, "0:QZ7"},
      {"default level when global lacks it", kVarAdminServer, nullptr, nullptr, 256, "0:OLDDAS"},
      {"global profile never falls back", kVarAdminServer, nullptr, kGlobalProfile, 256,
       Code(kNotFound)},
      {"global profile name in any case", kVarDefaultInstance, nullptr, "qz7globalpf", 256,
       "0:QZ7"},
      {"instance variable by name", 0, "QZ7INSTPROF", "QZ7", 256, "0:C:\\P"},
      {"instance variable by number", kVarInstanceProfile, nullptr, "QZ7", 256, "0:C:\\P"},
      {"instance name in any case", kVarInstanceProfile, nullptr, "qz7", 256, "0:C:\\P"},
      {"variable name in any case", 0, "qz7portrange", "QZ7MPP", 256, "0:60000:60003"},
      {"instance without the variable", kVarInstanceProfile, nullptr, "QZ7DAS", 256,
       Code(kNotFound)},
      {"instance variables stay apart", 0, "QZ7PORTRANGE", "QZ7", 256, Code(kNotFound)},
      {"undefined instance", kVarInstanceProfile, nullptr, "NOPE", 256, Code(kNotFound)},
      {"unknown variable number", 999, nullptr, nullptr, 256, Code(kBadArgument)},
      {"empty variable name", 0, "", "QZ7", 256, Code(kBadArgument)},
      {"profile name with a backslash", kVarInstanceProfile, nullptr, "QZ7\\NODES", 256,
       Code(kBadArgument)},
      {"value exactly fits", kVarInstanceProfile, nullptr, "QZ7", 5, "0:C:\\P"},
      {"value one byte too long", kVarInstanceProfile, nullptr, "QZ7", 4, Code(kBufferTooSmall)},
  };
  for (const ReadCase& c : cases) {
    EXPECT_EQ(Read(c.variable, c.name, c.profile, c.size), c.expected) << c.label;
  }
}

TEST_F(ProfileRegistryTest, NodeOtherThanMinusOneIsRefused) {
  char buffer[256];
  EXPECT_EQ(host_.PRegValuePE(kValueRead, kVarDefaultInstance, nullptr, buffer, 256, nullptr, 0),
            kBadArgument);
  EXPECT_EQ(host_.PRegProfilePE(kProfileFirst, buffer, 0), kBadArgument);
}

// The library writes the administration server at the null profile, reads it back through
// the global profile (PRegValue) and later removes it there.
TEST_F(ProfileRegistryTest, NullProfileWritesReachTheGlobalProfile) {
  ASSERT_EQ(Write(kVarAdminServer, nullptr, nullptr, "NEWDAS"), 0);
  char buffer[32];
  ASSERT_EQ(host_.PRegValue(kValueRead, kVarAdminServer, 0, buffer, sizeof buffer, kGlobalProfile),
            0);
  EXPECT_STREQ(buffer, "NEWDAS");
  EXPECT_EQ(Read(kVarAdminServer, nullptr, nullptr), "0:NEWDAS");

  EXPECT_EQ(Remove(kVarAdminServer, nullptr, kGlobalProfile), 0);
  EXPECT_EQ(Read(kVarAdminServer, nullptr, kGlobalProfile), Code(kNotFound));
  // The default level was never touched and shows through again.
  EXPECT_EQ(Read(kVarAdminServer, nullptr, nullptr), "0:OLDDAS");
  EXPECT_EQ(Remove(kVarAdminServer, nullptr, kGlobalProfile), kNotFound);
}

TEST_F(ProfileRegistryTest, InstanceWritesAndRemovesRoundTrip) {
  ASSERT_EQ(Write(kVarInstanceOwner, nullptr, "QZ7MPP", "HOSTA"), 0);
  EXPECT_EQ(Read(0, "QZ7INSTOWNER", "QZ7MPP"), "0:HOSTA");
  ASSERT_EQ(Write(0, "QZ7INSTOWNER", "qz7mpp", "HOSTB"), 0);  // overwrites, any case
  EXPECT_EQ(Read(kVarInstanceOwner, nullptr, "QZ7MPP"), "0:HOSTB");
  EXPECT_EQ(Remove(kVarInstanceOwner, nullptr, "QZ7MPP"), 0);
  EXPECT_EQ(Read(kVarInstanceOwner, nullptr, "QZ7MPP"), Code(kNotFound));
  EXPECT_EQ(Read(0, "QZ7PORTRANGE", "QZ7MPP"), "0:60000:60003");  // neighbours stay

  EXPECT_EQ(Write(kVarInstanceOwner, nullptr, "NOPE", "X"), kNotFound);
  EXPECT_FALSE(IsInstanceDefined("NOPE"));  // a write never defines an instance
  EXPECT_EQ(Remove(kVarInstanceOwner, nullptr, "NOPE"), kNotFound);
}

TEST_F(ProfileRegistryTest, EnumerationListsInstancesOnlyAndEndsForGood) {
  int end = 0;
  EXPECT_EQ(EnumeratePE(&end), (std::vector<std::string>{"QZ7", "QZ7DAS", "QZ7MPP"}));
  EXPECT_EQ(end, kEndOfList);
  char buffer[256];
  EXPECT_EQ(host_.PRegProfilePE(kProfileNext, buffer, -1), kEndOfList);  // stays ended

  std::vector<std::string> names;
  char name[260];
  int result = host_.PRegProfile(kProfileFirst, name);
  while (result == 0) {
    names.push_back(name);
    result = host_.PRegProfile(kProfileNext, name);
  }
  EXPECT_EQ(result, -5);
  EXPECT_EQ(names, (std::vector<std::string>{"QZ7", "QZ7DAS", "QZ7MPP"}));
}

TEST_F(ProfileRegistryTest, EnumerationPassesOverAnInstanceDroppedMeanwhile) {
  char buffer[256];
  ASSERT_EQ(host_.PRegProfilePE(kProfileFirst, buffer, -1), 0);
  EXPECT_STREQ(buffer, "QZ7");
  ASSERT_EQ(UndefineInstance("QZ7DAS"), 0);
  ASSERT_EQ(host_.PRegProfilePE(kProfileNext, buffer, -1), 0);
  EXPECT_STREQ(buffer, "QZ7MPP");
  EXPECT_EQ(host_.PRegProfilePE(kProfileNext, buffer, -1), kEndOfList);
}

TEST_F(ProfileRegistryTest, EmptyRegistryEndsAtOnce) {
  ASSERT_EQ(host_.PRegProfilePE(kProfileRemoveAll, nullptr, -1), 0);
  char buffer[260];
  EXPECT_EQ(host_.PRegProfilePE(kProfileFirst, buffer, -1), kEndOfList);
  EXPECT_EQ(host_.PRegProfile(kProfileFirst, buffer), -5);
}

TEST_F(ProfileRegistryTest, IsDefinedTest) {
  std::string qz7 = "qz7das";
  std::string nope = "NOPE";
  EXPECT_EQ(host_.PRegProfilePE(kProfileIsDefined, qz7.data(), -1), 0);
  EXPECT_EQ(host_.PRegProfilePE(kProfileIsDefined, nope.data(), -1), kNotFound);
  EXPECT_EQ(host_.PRegProfilePE(kProfileIsDefined, nullptr, -1), kBadArgument);
}

TEST_F(ProfileRegistryTest, PointingNeedsAnExistingDirectory) {
  machine_.MakeDirectory("C:\\QZ7\\PROFILES");
  machine_.WriteText("C:\\QZ7\\FILE", "x");
  struct Case {
    const char* label;
    int op;
    const char* text;
    int expected;
  };
  const Case cases[] = {
      {"installation", kProfileSetInstall, "C:\\QZ7", 0},
      {"quoted profile directory", kProfileSetInstanceDir, "\"C:\\QZ7\\PROFILES\"", 0},
      {"case differs", kProfileSetInstanceDir, "c:\\qz7\\profiles", 0},
      {"empty installation", kProfileSetInstall, "", kBadArgument},
      {"two quotes only", kProfileSetInstall, "\"\"", kBadArgument},
      {"null installation", kProfileSetInstall, nullptr, kBadArgument},
      {"missing directory", kProfileSetInstanceDir, "C:\\NOWHERE", kNotFound},
      {"a file, not a directory", kProfileSetInstall, "C:\\QZ7\\FILE", kNotFound},
      {"unknown drive", kProfileSetInstall, "Q:\\QZ7", kNotFound},
  };
  for (const Case& c : cases) {
    std::string text = c.text != nullptr ? c.text : "";
    EXPECT_EQ(host_.PRegProfilePE(c.op, c.text != nullptr ? text.data() : nullptr, -1), c.expected)
        << c.label;
  }
  std::string pointed;
  ASSERT_EQ(ReadProfilePointer(kInstanceProfileDirValue, &pointed), 0);
  EXPECT_EQ(pointed, "c:\\qz7\\profiles");  // the last successful pointing
  ASSERT_EQ(ReadProfilePointer(kInstallDirValue, &pointed), 0);
  EXPECT_EQ(pointed, "C:\\QZ7");
}

TEST_F(ProfileRegistryTest, RemoveAllLeavesOtherProductKeys) {
  {
    ScopedKey components;
    ASSERT_EQ(CreateKey("SOFTWARE\\ZAV\\QZ7\\Components", &components), 0);
    ASSERT_EQ(WriteText(components.get(), "QZ7 Query Sentry Client", "1"), 0);
  }
  machine_.MakeDirectory("C:\\QZ7");
  std::string install = "C:\\QZ7";
  ASSERT_EQ(host_.PRegProfilePE(kProfileSetInstall, install.data(), -1), 0);

  EXPECT_EQ(host_.PRegProfilePE(kProfileRemoveAll, nullptr, -1), 0);

  int end = 0;
  EXPECT_TRUE(EnumeratePE(&end).empty());
  EXPECT_EQ(Read(kVarAdminServer, nullptr, nullptr), Code(kNotFound));
  EXPECT_EQ(Read(kVarDefaultInstance, nullptr, nullptr), Code(kNotFound));
  std::string pointed;
  EXPECT_EQ(ReadProfilePointer(kInstallDirValue, &pointed), kNotFound);
  EXPECT_TRUE(KeyExists("SOFTWARE\\ZAV\\QZ7\\Components"));
  EXPECT_EQ(host_.PRegProfilePE(kProfileRemoveAll, nullptr, -1), 0);  // nothing left: still 0
}

// A registry that cannot be replaced must fail the write and keep the value it had.
TEST_F(ProfileRegistryTest, FailedRegistryWriteKeepsTheOldValue) {
  ASSERT_EQ(Write(kVarInstanceOwner, nullptr, "QZ7MPP", "HOSTA"), 0);
  {
    platform::posix::ScopedSyscallOverride scope;
    scope.table().rename = [](const char*, const char*) {
      errno = ENOSPC;
      return -1;
    };
    EXPECT_EQ(Write(kVarInstanceOwner, nullptr, "QZ7MPP", "HOSTB"), kRegistryUnreachable);
    EXPECT_EQ(Remove(kVarInstanceOwner, nullptr, "QZ7MPP"), kRegistryUnreachable);
  }
  EXPECT_EQ(Read(kVarInstanceOwner, nullptr, "QZ7MPP"), "0:HOSTA");
}

TEST_F(ProfileRegistryTest, NonTextValueIsReportedNotMisread) {
  ScopedKey key;
  ASSERT_EQ(OpenKey(InstanceProfileKey("QZ7"), platform::kKeyAllAccess, &key), 0);
  const unsigned char dword[4] = {1, 0, 0, 0};
  ASSERT_EQ(platform::RegSetValueExA(key.get(), "QZ7INSTOWNER", platform::kRegDword, dword, 4), 0);
  EXPECT_EQ(Read(kVarInstanceOwner, nullptr, "QZ7"), Code(kSystemError));
}

}  // namespace
}  // namespace qz7::host
