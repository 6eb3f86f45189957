// ConvertDbmConfiguration on files of a machine: the result codes for damaged input, the new
// file written only on success, the old file never changed, and what a failing or crashing
// file operation leaves behind.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/win_error.h"
#include "testkit/dbm_block_builder.h"
#include "testkit/temp_machine.h"
#include "upgrade/dbm_configuration_conversion.h"

namespace qz7::upgrade {
namespace {

using testkit::DbmBlockBuilder;
using Bytes = std::vector<unsigned char>;

constexpr const char* kNew = "C:\\QZ7\\INST1\\qz7systm";
constexpr const char* kOld = "C:\\QZ7\\INST1\\00000001.000";

DbmBlockBuilder OldConfig() {
  return std::move(DbmBlockBuilder().Version(0x800).U32(76, 300).Text(1130, 256, "C:\\DIAG"));
}
DbmBlockBuilder Template() { return std::move(DbmBlockBuilder().U32(76, 200)); }

class DbmConversionFileTest : public ::testing::Test {
 protected:
  // Writes both files; the result of the conversion.
  int Run(const Bytes& old, const Bytes& templ) {
    machine_.WriteFile(kOld, old);
    machine_.WriteFile(kNew, templ);
    return ConvertDbmConfiguration(kNew, kOld);
  }
  Bytes Read(const char* path) { return machine_.ReadFile(path); }
  testkit::TempMachine machine_;
  const Bytes old_ = OldConfig().Bytes();
  const Bytes templ_ = Template().Bytes();
};

TEST_F(DbmConversionFileTest, ConvertsNormalisesAndStampsTheChecksum) {
  ASSERT_EQ(Run(old_, templ_), 0);
  const Bytes converted = Read(kNew);
  ASSERT_EQ(converted.size(), 4096u);
  EXPECT_TRUE(testkit::DbmChecksumMatches(converted));
  EXPECT_EQ(testkit::DbmU16(converted, 16), 0x900);  // the template's own version stays
  EXPECT_EQ(testkit::DbmU32(converted, 76), 300u);
  EXPECT_EQ(testkit::DbmText(converted, 1130, 256), "C:\\DIAG");
  EXPECT_EQ(testkit::DbmU16(converted, 18), 4096);  // put back into range
  EXPECT_EQ(Read(kOld), old_);

  // The checksum is taken after normalisation, over bytes 4 to 4095 of the block.
  ASSERT_EQ(Run(DbmBlockBuilder().Fill(0xEE).Version(0x600).NodeType(2).Bytes(),
                DbmBlockBuilder().Fill(0x99).Version(0x900).NodeType(2).Bytes()),
            0);
  const Bytes client = Read(kNew);
  uint32_t sum = 0;
  for (size_t i = 4; i < client.size(); ++i) sum += client[i];
  EXPECT_EQ(testkit::DbmU32(client, 0), sum);
  EXPECT_EQ(testkit::DbmU32(client, 64), 0u);  // a client field
}

TEST_F(DbmConversionFileTest, BadInputIsRefusedAndNothingIsWritten) {
  using Damage = std::function<void(DbmBlockBuilder & old, DbmBlockBuilder & templ)>;
  auto types = [](uint16_t oldType, uint16_t newType) -> Damage {
    return
        [=](DbmBlockBuilder& o, DbmBlockBuilder& t) { o.NodeType(oldType), t.NodeType(newType); };
  };
  const struct {
    const char* name;
    Damage damage;
    int expected;
  } cases[] = {
      {"old version bits 0x700", [](auto& o, auto&) { o.Version(0x700); }, kDbmVersionError},
      {"old version bits 0", [](auto& o, auto&) { o.Version(0x0012); }, kDbmVersionError},
      {"new version bits 0xA00", [](auto&, auto& t) { t.Version(0xA00); }, kDbmVersionError},
      {"old checksum wrong", [](auto& o, auto&) { o.WrongChecksum(); }, kDbmChecksumError},
      {"new checksum wrong", [](auto&, auto& t) { t.WrongChecksum(256); }, kDbmChecksumError},
      {"old truncated by one byte", [](auto& o, auto&) { o.TruncateTo(4095); }, kDbmFileError},
      {"new truncated", [](auto&, auto& t) { t.TruncateTo(100); }, kDbmFileError},
      {"partitioned into client", types(4, 2), kDbmNodeTypesError},
      {"old node type 0xFFFF", types(0xFFFF, 1), kDbmNodeTypesError},
      // the version check comes before the checksum check
      {"bad version and checksum", [](auto& o, auto&) { o.Version(0x700).WrongChecksum(); },
       kDbmVersionError},
  };
  for (const auto& c : cases) {
    DbmBlockBuilder old = OldConfig();
    DbmBlockBuilder templ = Template();
    c.damage(old, templ);
    EXPECT_EQ(Run(old.Bytes(), templ.Bytes()), c.expected) << c.name;
    EXPECT_EQ(Read(kOld), old.Bytes()) << c.name;
    EXPECT_EQ(Read(kNew), templ.Bytes()) << c.name;
  }
}

// The new file is the installed template; the conversion never creates it.
TEST_F(DbmConversionFileTest, MissingNewFileGivesFileError) {
  machine_.WriteFile(kOld, old_);
  EXPECT_EQ(ConvertDbmConfiguration(kNew, kOld), kDbmFileError);
  EXPECT_FALSE(machine_.Exists(kNew));
  EXPECT_EQ(Read(kOld), old_);
}

// Each file operation of a conversion in turn fails, then ends the process as a crash would.
// A failure gives -100 with the template still in place; after a crash the new file holds the
// whole template or the whole converted block, never a mixture. The old file never changes.
TEST_F(DbmConversionFileTest, FailingOrCrashingAtEachFileOperation) {
  platform::ResetFileOperationCount();
  ASSERT_EQ(Run(old_, templ_), 0);
  const uint64_t operations = platform::FileOperationCount();
  const Bytes converted = Read(kNew);
  ASSERT_GE(operations, 6u);  // two opens, two reads, a seek, a write and closes
  for (uint64_t n = 1; n <= operations; ++n) {
    SCOPED_TRACE("file operation " + std::to_string(n));
    platform::SetFaultPlan({.triggerAt = n, .error = platform::kErrorWriteFault});
    const int result = Run(old_, templ_);
    platform::ClearFaultPlan();
    EXPECT_EQ(result, kDbmFileError);
    EXPECT_EQ(Read(kNew), templ_);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      platform::SetFaultPlan({.triggerAt = n, .crash = true, .crashExitCode = 86});
      ConvertDbmConfiguration(kNew, kOld);
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 86) << status;
    const Bytes after = Read(kNew);
    EXPECT_TRUE(after == templ_ || after == converted) << "new file is a mixture";
    EXPECT_EQ(Read(kOld), old_);
  }
}

}  // namespace
}  // namespace qz7::upgrade
