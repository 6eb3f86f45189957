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
#include "platform/file_system.h"
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
  return std::move(DbmBlockBuilder()
                       .Version(0x800)
                       .Level(6000)
                       .NodeType(1)
                       .U32(76, 300)
                       .U16(62, 2)
                       .Text(1130, 256, "C:\\DIAG")
                       .Text(1968, 9, "OLDNODE")
                       .U32(3124, 1024));
}

DbmBlockBuilder Template() {
  return std::move(DbmBlockBuilder().Version(0x900).NodeType(1).U32(76, 200).U16(62, 1));
}

class DbmConversionFileTest : public ::testing::Test {
 protected:
  void Write(const char* path, const Bytes& bytes) { machine_.WriteFile(path, bytes); }
  Bytes Read(const char* path) { return machine_.ReadFile(path); }
  testkit::TempMachine machine_;
};

TEST_F(DbmConversionFileTest, ConvertsAndWritesTheNewFile) {
  const Bytes old = OldConfig().Bytes();
  Write(kOld, old);
  Write(kNew, Template().Bytes());
  ASSERT_EQ(ConvertDbmConfiguration(kNew, kOld), 0);

  const Bytes converted = Read(kNew);
  ASSERT_EQ(converted.size(), 4096u);
  EXPECT_TRUE(testkit::DbmChecksumMatches(converted));
  EXPECT_EQ(testkit::DbmU16(converted, 16), 0x900);  // the template's own version stays
  EXPECT_EQ(testkit::DbmU32(converted, 76), 300u);
  EXPECT_EQ(testkit::DbmU16(converted, 62), 2);
  EXPECT_EQ(testkit::DbmText(converted, 1130, 256), "C:\\DIAG");
  EXPECT_EQ(testkit::DbmText(converted, 1968, 9), "OLDNODE");
  EXPECT_EQ(testkit::DbmU32(converted, 3124), 1024u);
  EXPECT_EQ(testkit::DbmU16(converted, 18), 4096);  // put back into range
  EXPECT_EQ(Read(kOld), old);
}

TEST_F(DbmConversionFileTest, ChecksumIsTheByteSumAfterNormalisation) {
  Write(kOld,
        DbmBlockBuilder().Version(0x600).NodeType(2).Fill(0xEE).Version(0x600).NodeType(2).Bytes());
  Write(kNew, DbmBlockBuilder().NodeType(2).Fill(0x99).Version(0x900).NodeType(2).Bytes());
  ASSERT_EQ(ConvertDbmConfiguration(kNew, kOld), 0);
  const Bytes converted = Read(kNew);
  uint32_t sum = 0;
  for (size_t i = 4; i < converted.size(); ++i) sum += converted[i];
  EXPECT_EQ(testkit::DbmU32(converted, 0), sum);
  EXPECT_EQ(testkit::DbmU32(converted, 64), 0u);  // a client field
}

struct BadInput {
  const char* name;
  std::function<void(DbmBlockBuilder& old, DbmBlockBuilder& templ)> damage;
  int expected;
};

TEST_F(DbmConversionFileTest, BadInputIsRefusedAndNothingIsWritten) {
  const BadInput cases[] = {
      {"old version bits 0x700", [](auto& o, auto&) { o.Version(0x700); }, kDbmVersionError},
      {"old version bits 0", [](auto& o, auto&) { o.Version(0x0012); }, kDbmVersionError},
      {"new version bits 0xA00", [](auto&, auto& t) { t.Version(0xA00); }, kDbmVersionError},
      {"old checksum wrong", [](auto& o, auto&) { o.WrongChecksum(); }, kDbmChecksumError},
      {"new checksum wrong", [](auto&, auto& t) { t.WrongChecksum(256); }, kDbmChecksumError},
      {"old checksum zero", [](auto& o, auto&) { o.Checksum(0); }, kDbmChecksumError},
      {"old truncated by one byte", [](auto& o, auto&) { o.TruncateTo(4095); }, kDbmFileError},
      {"old empty", [](auto& o, auto&) { o.TruncateTo(0); }, kDbmFileError},
      {"new truncated", [](auto&, auto& t) { t.TruncateTo(100); }, kDbmFileError},
      {"partitioned into client",
       [](auto& o, auto& t) {
         o.NodeType(4);
         t.NodeType(2);
       },
       kDbmNodeTypesError},
      {"partitioned into type 1",
       [](auto& o, auto& t) {
         o.NodeType(4);
         t.NodeType(1);
       },
       kDbmNodeTypesError},
      {"partitioned into type 3",
       [](auto& o, auto& t) {
         o.NodeType(4);
         t.NodeType(3);
       },
       kDbmNodeTypesError},
      {"partitioned into type 5",
       [](auto& o, auto& t) {
         o.NodeType(4);
         t.NodeType(5);
       },
       kDbmNodeTypesError},
      {"old node type 0", [](auto& o, auto&) { o.NodeType(0); }, kDbmNodeTypesError},
      {"new node type 6", [](auto&, auto& t) { t.NodeType(6); }, kDbmNodeTypesError},
      {"old node type 0xFFFF", [](auto& o, auto&) { o.NodeType(0xFFFF); }, kDbmNodeTypesError},
      // the version check comes before the checksum check
      {"bad version and checksum", [](auto& o, auto&) { o.Version(0x700).WrongChecksum(); },
       kDbmVersionError},
  };
  for (const BadInput& c : cases) {
    SCOPED_TRACE(c.name);
    DbmBlockBuilder old = OldConfig();
    DbmBlockBuilder templ = Template();
    c.damage(old, templ);
    Write(kOld, old.Bytes());
    Write(kNew, templ.Bytes());
    EXPECT_EQ(ConvertDbmConfiguration(kNew, kOld), c.expected);
    EXPECT_EQ(Read(kOld), old.Bytes());
    EXPECT_EQ(Read(kNew), templ.Bytes());
  }
}

TEST_F(DbmConversionFileTest, MissingOrReadOnlyFilesGiveFileError) {
  const Bytes old = OldConfig().Bytes();
  const Bytes templ = Template().Bytes();
  EXPECT_EQ(ConvertDbmConfiguration(kNew, kOld), kDbmFileError) << "neither exists";
  Write(kOld, old);
  EXPECT_EQ(ConvertDbmConfiguration(kNew, kOld), kDbmFileError) << "no new file";
  EXPECT_EQ(Read(kOld), old);
  EXPECT_FALSE(machine_.Exists(kNew));

  Write(kNew, templ);
  ASSERT_EQ(platform::SetFileWritable(kNew, false), 0);
  EXPECT_EQ(ConvertDbmConfiguration(kNew, kOld), kDbmFileError) << "read-only new file";
  EXPECT_EQ(Read(kNew), templ);
  EXPECT_EQ(ConvertDbmConfiguration(nullptr, kOld), kDbmFileError);
}

// Every file operation of a conversion, failed in turn: the result is 0 only when nothing
// failed; otherwise -100 with the template still in place. The old file is never changed.
TEST_F(DbmConversionFileTest, FailingEachFileOperation) {
  const Bytes old = OldConfig().Bytes();
  const Bytes templ = Template().Bytes();
  Write(kOld, old);
  Write(kNew, templ);
  platform::ResetFileOperationCount();
  ASSERT_EQ(ConvertDbmConfiguration(kNew, kOld), 0);
  const uint64_t operations = platform::FileOperationCount();
  const Bytes converted = Read(kNew);
  ASSERT_GE(operations, 6u);  // two opens, two reads, a seek, a write and closes

  for (uint64_t n = 1; n <= operations; ++n) {
    SCOPED_TRACE("operation " + std::to_string(n) + " of " + std::to_string(operations));
    Write(kOld, old);
    Write(kNew, templ);
    platform::SetFaultPlan({.triggerAt = n, .error = platform::kErrorWriteFault});
    const int result = ConvertDbmConfiguration(kNew, kOld);
    platform::ClearFaultPlan();
    EXPECT_EQ(result, kDbmFileError);
    EXPECT_EQ(Read(kNew), templ);
    EXPECT_EQ(Read(kOld), old);
  }
}

// The process ends at each file operation in turn, as in a crash: the new file then holds
// either the whole template or the whole converted block, never a mixture.
TEST_F(DbmConversionFileTest, CrashAtEachFileOperation) {
  const Bytes old = OldConfig().Bytes();
  const Bytes templ = Template().Bytes();
  Write(kOld, old);
  Write(kNew, templ);
  platform::ResetFileOperationCount();
  ASSERT_EQ(ConvertDbmConfiguration(kNew, kOld), 0);
  const uint64_t operations = platform::FileOperationCount();
  const Bytes converted = Read(kNew);

  for (uint64_t n = 1; n <= operations; ++n) {
    SCOPED_TRACE("crash at operation " + std::to_string(n));
    Write(kOld, old);
    Write(kNew, templ);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      platform::SetFaultPlan({.triggerAt = n, .crash = true, .crashExitCode = 86});
      ConvertDbmConfiguration(kNew, kOld);
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 86);
    const Bytes after = Read(kNew);
    EXPECT_TRUE(after == templ || after == converted) << "new file is a mixture";
    EXPECT_EQ(Read(kOld), old);
  }
}

}  // namespace
}  // namespace qz7::upgrade
