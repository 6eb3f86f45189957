// sqlfvald on real files of a throw-away machine: reading, the three results, the commit write
// and what a failure or a crash at every file operation of a commit leaves behind.
#include "config/sqlfvald.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/win_error.h"
#include "qz7instm.h"
#include "testkit/dbm_block_builder.h"
#include "testkit/temp_machine.h"

namespace qz7::config {
namespace {

using Bytes = std::vector<unsigned char>;
using testkit::DbmBlockBuilder;

constexpr char kFolder[] = "C:\\INST";
constexpr char kConfig[] = "C:\\INST\\qz7systm";
constexpr unsigned char kU = 7;  // a verdict sqlfvald never writes
constexpr uint16_t kCommit = SQLF_COMMIT_TOKEN;

// Parameter records pointing at literal values (sqlfvald only reads them), verdicts untouched.
using Records = std::vector<sqlf_cfg_parameter>;
Records Make(std::initializer_list<std::pair<uint16_t, const char*>> list) {
  Records records;
  for (auto [token, value] : list) records.push_back({token, const_cast<char*>(value), kU});
  return records;
}
std::vector<int> Verdicts(const Records& records) {
  std::vector<int> verdicts;
  for (const sqlf_cfg_parameter& record : records) verdicts.push_back(record.valid);
  return verdicts;
}

class SqlfvaldTest : public testing::Test {
 protected:
  void SetUp() override {
    machine_.MakeDirectory(kFolder);
    // A valid kind-1 configuration: field 12 is 100, field 501 is -1; the checksum is stale.
    DbmBlockBuilder kind1;
    original_ = kind1.NodeType(1).U32(0x4C, 100).U32(0xC0C, 0xFFFFFFFF).WrongChecksum(5).Bytes();
    WriteConfig(original_);
  }
  void TearDown() override { platform::ClearFaultPlan(); }

  void WriteConfig(const Bytes& bytes) { machine_.WriteFile(kConfig, bytes); }
  Bytes ReadConfig() const { return machine_.ReadFile(kConfig); }
  int Run(Records& records, const char* path = kConfig) {
    return sqlfvald(records.data(), const_cast<char*>(path), static_cast<int>(records.size()));
  }
  // The contents of the files in the folder beside the configuration file.
  std::vector<Bytes> Others() const {
    std::vector<Bytes> others;
    for (const auto& entry : std::filesystem::directory_iterator(machine_.HostPath(kFolder))) {
      std::string name = entry.path().filename().string();
      if (name != "qz7systm")
        others.push_back(machine_.ReadFile(std::string(kFolder) + "\\" + name));
    }
    return others;
  }
  // From a fresh folder holding the original file: a committing call under plan.
  int CommitWith(const platform::FaultPlan& plan) {
    std::filesystem::remove_all(machine_.HostPath(kFolder));
    machine_.MakeDirectory(kFolder);
    WriteConfig(original_);
    Records records = Make({{12, "200"}, {kCommit, ""}});
    platform::ResetFileOperationCount();
    platform::SetFaultPlan(plan);
    int result = Run(records);
    operations_ = platform::FileOperationCount();
    platform::ClearFaultPlan();
    return result;
  }
  // The file holds the old or the committed content in full; if it is absent (between the two
  // renames), the old content waits complete under a numbered name beside it.
  bool AbsentWithOldContentBeside(const Bytes& committed) {
    if (!machine_.Exists(kConfig)) {
      EXPECT_GE(std::ranges::count(Others(), original_), 1);
      return true;
    }
    Bytes atPath = ReadConfig();
    EXPECT_TRUE(atPath == original_ || atPath == committed);
    return false;
  }

  testkit::TempMachine machine_;
  Bytes original_;
  uint64_t operations_ = 0;  // file operations of the last CommitWith
};

TEST_F(SqlfvaldTest, BadInputTouchesNoRecordAndNoFile) {
  Records records = Make({{12, "100"}, {kCommit, ""}});
  EXPECT_EQ(Run(records, "C:\\INST\\missing"), -100);
  EXPECT_EQ(sqlfvald(records.data(), nullptr, 2), -100);
  EXPECT_EQ(Verdicts(records), (std::vector<int>{kU, kU}));
  EXPECT_FALSE(machine_.Exists("C:\\INST\\missing"));
  // Count 0 or negative, or no records: the file is only read.
  for (int count : {0, -5})
    EXPECT_EQ(sqlfvald(records.data(), const_cast<char*>(kConfig), count), 0);
  EXPECT_EQ(sqlfvald(nullptr, const_cast<char*>(kConfig), 3), 0);
  EXPECT_EQ(Verdicts(records), (std::vector<int>{kU, kU}));
  EXPECT_EQ(ReadConfig(), original_);
  // A failing open or read of an existing file.
  for (uint64_t n = 1; n <= 2; ++n) {
    platform::SetFaultPlan({n, platform::kErrorReadFault});
    EXPECT_EQ(Run(records), -100) << n;
    platform::ClearFaultPlan();
    EXPECT_EQ(Verdicts(records), (std::vector<int>{kU, kU})) << n;
  }
}

TEST_F(SqlfvaldTest, WithoutCommitTheFileIsUntouchedAndLaterRecordsDecide) {
  Records records = Make({{12, "200"}, {12, "x"}, {4711, "1"}, {40, "maybe"}});
  EXPECT_EQ(Run(records), 0);
  // Both records of token 12 are judged on the later value, 0.
  EXPECT_EQ(Verdicts(records), (std::vector<int>{0, 0, 0, 0}));
  EXPECT_EQ(ReadConfig(), original_);

  Records accepted = Make({{12, "70000"}, {12, "200"}, {kCommit, ""}});
  EXPECT_EQ(Run(accepted), 0);
  EXPECT_EQ(Verdicts(accepted), (std::vector<int>{1, 1, 1}));
  EXPECT_EQ(testkit::DbmU32(ReadConfig(), 0x4C), 200u);
}

TEST_F(SqlfvaldTest, CommitWritesTheImageWithAFreshChecksum) {
  Records records = Make({{12, "200"}, {40, "yes"}, {7, "NEWNODE"}, {kCommit, ""}});
  EXPECT_EQ(Run(records, "c:\\inst\\QZ7SYSTM"), 0);  // the file keeps its spelling
  EXPECT_EQ(Verdicts(records), (std::vector<int>{1, 1, 1, 1}));
  DbmBlockBuilder expected;
  expected.NodeType(1).U32(0x4C, 200).U32(0xC0C, 0xFFFFFFFF).Text(0x34, 9, "NEWNODE");
  EXPECT_EQ(ReadConfig(), expected.U16(0x31A, 1).Bytes());
  EXPECT_TRUE(Others().empty());
}

// A rejected record refuses the commit (-104): the file is untouched.
TEST_F(SqlfvaldTest, RejectedRecordWithCommitLeavesTheFileUntouched) {
  Records records = Make({{12, "300"}, {4711, "1"}, {kCommit, ""}});
  EXPECT_EQ(Run(records), -104);
  EXPECT_EQ(Verdicts(records), (std::vector<int>{1, 0, 1}));
  Records later = Make({{12, "200"}, {12, "70000"}, {kCommit, ""}});
  EXPECT_EQ(Run(later), -104);
  EXPECT_EQ(Verdicts(later), (std::vector<int>{0, 0, 1}));
  EXPECT_EQ(ReadConfig(), original_);
  EXPECT_TRUE(Others().empty());
}

// Files of 0, 100 and 5000 bytes read as zero-filled or cut images and are written as 4096.
TEST_F(SqlfvaldTest, OtherFileSizesAreWrittenWhole) {
  Bytes block = DbmBlockBuilder().NodeType(3).Fill(0x11).U16(0x28, 3).Bytes();
  for (size_t size : {0, 100, 5000}) {
    Bytes file = block;
    file.resize(size, 0x77);
    WriteConfig(file);
    Records records = Make({{40, "YES"}, {kCommit, ""}});  // field 40 at 0x31A
    EXPECT_EQ(Run(records), 0) << size;
    Bytes written = ReadConfig();
    ASSERT_EQ(written.size(), 4096u) << size;
    EXPECT_TRUE(testkit::DbmChecksumMatches(written)) << size;
    Bytes expected = file;
    expected.resize(4096, 0);
    expected[0x31A] = 1, expected[0x31B] = 0;
    EXPECT_TRUE(std::equal(written.begin() + 4, written.end(), expected.begin() + 4)) << size;
  }
}

// Fails every file operation of a committing call in turn (once, then from there on), then ends
// the process at each: the file at its path is never partly written, and the result says
// which content it holds.
TEST_F(SqlfvaldTest, FailureOrCrashAtAnyOperationLeavesOldOrNewFile) {
  ASSERT_EQ(CommitWith({}), 0);
  const uint64_t operations = operations_;
  const Bytes committed = ReadConfig();
  ASSERT_GE(operations, 6u);
  for (bool repeat : {false, true}) {
    for (uint64_t n = 1; n <= operations; ++n) {
      SCOPED_TRACE(testing::Message() << "operation " << n << (repeat ? " and on" : ""));
      platform::FaultPlan plan;
      plan.triggerAt = n;
      plan.error = platform::kErrorDiskFull;
      plan.repeat = repeat;
      int result = CommitWith(plan);
      ASSERT_TRUE(result == 0 || result == -100) << result;
      if (AbsentWithOldContentBeside(committed)) {
        EXPECT_TRUE(repeat && result == -100);  // the rename and the rename back both failed
      } else {
        EXPECT_EQ(ReadConfig(), result == 0 ? committed : original_);
      }
    }
  }
  GTEST_FLAG_SET(death_test_style, "fast");
  int absentWindows = 0;
  for (uint64_t n = 1; n <= operations; ++n) {
    SCOPED_TRACE(testing::Message() << "crash at operation " << n);
    platform::FaultPlan plan;
    plan.triggerAt = n;
    plan.crash = true;
    EXPECT_EXIT(
        {
          CommitWith(plan);
          _exit(0);
        },
        testing::ExitedWithCode(86), "");
    absentWindows += AbsentWithOldContentBeside(committed);
  }
  EXPECT_LE(absentWindows, 1);
}

}  // namespace
}  // namespace qz7::config
