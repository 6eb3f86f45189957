// sqlfvald on real files of a throw-away machine: reading, the three results, the commit write
// and what a failure or a crash at every file operation of a commit leaves behind.
#include "config/sqlfvald.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/file_system.h"
#include "platform/win_error.h"
#include "qz7instm.h"
#include "testkit/dbm_block_builder.h"
#include "testkit/recording_host.h"
#include "testkit/temp_machine.h"

namespace qz7::config {
namespace {

using Bytes = std::vector<unsigned char>;
using testkit::DbmBlockBuilder;
using testkit::DbmChecksumMatches;
using testkit::DbmU16;
using testkit::DbmU32;

constexpr char kFolder[] = "C:\\INST";
constexpr char kConfig[] = "C:\\INST\\qz7systm";
constexpr unsigned char kUntouched = 7;
constexpr uint16_t kCommitToken = SQLF_COMMIT_TOKEN;

// Parameter records with the value strings they point to.
class Records {
 public:
  Records(std::initializer_list<std::pair<uint16_t, const char*>> records) {
    values_.reserve(records.size());
    for (const auto& [token, value] : records) {
      values_.emplace_back(value);
      records_.push_back({token, nullptr, kUntouched});
    }
    for (size_t i = 0; i < records_.size(); ++i) records_[i].value = values_[i].data();
  }
  sqlf_cfg_parameter* data() { return records_.data(); }
  int count() const { return static_cast<int>(records_.size()); }
  std::vector<int> Verdicts() const {
    std::vector<int> verdicts;
    for (const sqlf_cfg_parameter& record : records_) verdicts.push_back(record.valid);
    return verdicts;
  }

 private:
  std::vector<std::string> values_;
  std::vector<sqlf_cfg_parameter> records_;
};

// A valid kind-1 configuration whose checksum is deliberately stale.
DbmBlockBuilder ValidKind1() {
  return DbmBlockBuilder()
      .NodeType(1)
      .U32(0x4C, 100)          // field 12
      .U32(0xC0C, 0xFFFFFFFF)  // field 501: -1
      .Text(0x34, 9, "NODE1")
      .WrongChecksum(5);
}

class SqlfvaldTest : public testing::Test {
 protected:
  void SetUp() override {
    machine_.MakeDirectory(kFolder);
    qz7::host::SetHost(&host_);
  }
  void TearDown() override {
    qz7::host::SetHost(nullptr);
    platform::ClearFaultPlan();
  }

  void WriteConfig(const Bytes& bytes) { machine_.WriteFile(kConfig, bytes); }
  Bytes ReadConfig() const { return machine_.ReadFile(kConfig); }
  int Run(Records& records) {
    return sqlfvald(records.data(), const_cast<char*>(kConfig), records.count());
  }
  // Names in the folder other than the configuration file.
  std::vector<std::string> Leftovers() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(machine_.HostPath(kFolder))) {
      std::string name = entry.path().filename().string();
      if (name != "qz7systm") names.push_back(name);
    }
    return names;
  }

  // True when a numbered file beside the configuration holds content in full.
  bool OldContentKept(const Bytes& content) const {
    for (const std::string& name : Leftovers()) {
      if (machine_.ReadFile(std::string(kFolder) + "\\" + name) == content) return true;
    }
    return false;
  }

  testkit::TempMachine machine_;
  testkit::RecordingHost host_;
};

TEST_F(SqlfvaldTest, MissingFileTouchesNoRecord) {
  Records records = {{12, "100"}, {kCommitToken, ""}};
  EXPECT_EQ(Run(records), -100);
  EXPECT_EQ(records.Verdicts(), (std::vector<int>{kUntouched, kUntouched}));
  EXPECT_FALSE(machine_.Exists(kConfig));

  EXPECT_EQ(sqlfvald(records.data(), const_cast<char*>("C:\\NOWHERE\\qz7systm"), 2), -100);
  EXPECT_EQ(sqlfvald(records.data(), nullptr, 2), -100);
  EXPECT_EQ(records.Verdicts(), (std::vector<int>{kUntouched, kUntouched}));
}

TEST_F(SqlfvaldTest, CountZeroOnlyReads) {
  Bytes original = ValidKind1().Bytes();
  WriteConfig(original);
  Records records = {{kCommitToken, ""}};
  EXPECT_EQ(sqlfvald(records.data(), const_cast<char*>(kConfig), 0), 0);
  EXPECT_EQ(sqlfvald(records.data(), const_cast<char*>(kConfig), -5), 0);
  EXPECT_EQ(sqlfvald(nullptr, const_cast<char*>(kConfig), 3), 0);
  EXPECT_EQ(records.Verdicts(), (std::vector<int>{kUntouched}));
  EXPECT_EQ(ReadConfig(), original);
}

TEST_F(SqlfvaldTest, WithoutCommitTheFileIsUntouchedWhateverTheVerdicts) {
  Bytes original = ValidKind1().Bytes();
  WriteConfig(original);
  Records records = {{12, "200"}, {12, "x"}, {4711, "1"}, {40, "maybe"}};
  EXPECT_EQ(Run(records), 0);
  // Both records of token 12 are judged on the later value, 0.
  EXPECT_EQ(records.Verdicts(), (std::vector<int>{0, 0, 0, 0}));
  EXPECT_EQ(ReadConfig(), original);
}

TEST_F(SqlfvaldTest, CommitWritesTheImageWithAFreshChecksum) {
  Bytes original = ValidKind1().Bytes();
  WriteConfig(original);
  Records records = {{12, "200"}, {40, "yes"}, {7, "NEWNODE"}, {kCommitToken, ""}};
  EXPECT_EQ(Run(records), 0);
  EXPECT_EQ(records.Verdicts(), (std::vector<int>{1, 1, 1, 1}));

  Bytes written = ReadConfig();
  ASSERT_EQ(written.size(), 4096u);
  EXPECT_TRUE(DbmChecksumMatches(written));
  EXPECT_EQ(DbmU32(written, 0x4C), 200u);
  EXPECT_EQ(DbmU16(written, 0x31A), 1u);
  EXPECT_EQ(testkit::DbmText(written, 0x34, 9), "NEWNODE");
  // Everything else is as it was.
  Bytes expected = DbmBlockBuilder()
                       .NodeType(1)
                       .U32(0x4C, 200)
                       .U32(0xC0C, 0xFFFFFFFF)
                       .Text(0x34, 9, "NEWNODE")
                       .U16(0x31A, 1)
                       .Bytes();
  EXPECT_EQ(written, expected);
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(SqlfvaldTest, CommitKeepsTheSpellingOfTheFileName) {
  WriteConfig(ValidKind1().Bytes());
  Records records = {{12, "300"}, {kCommitToken, ""}};
  EXPECT_EQ(sqlfvald(records.data(), const_cast<char*>("c:\\inst\\QZ7SYSTM"), 2), 0);
  EXPECT_EQ(DbmU32(ReadConfig(), 0x4C), 300u);
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(SqlfvaldTest, CommitTokenAloneRewritesWithFreshChecksum) {
  Bytes original = ValidKind1().Bytes();
  ASSERT_FALSE(DbmChecksumMatches(original));
  WriteConfig(original);
  Records records = {{kCommitToken, ""}};
  EXPECT_EQ(Run(records), 0);
  Bytes written = ReadConfig();
  EXPECT_TRUE(DbmChecksumMatches(written));
  EXPECT_TRUE(std::equal(written.begin() + 4, written.end(), original.begin() + 4));
}

TEST_F(SqlfvaldTest, RejectedRecordWithCommitLeavesTheFileUntouched) {
  Bytes original = ValidKind1().Bytes();
  WriteConfig(original);
  Records records = {{12, "300"}, {4711, "1"}, {kCommitToken, ""}};
  platform::ResetFileOperationCount();
  EXPECT_EQ(Run(records), -104);
  EXPECT_EQ(records.Verdicts(), (std::vector<int>{1, 0, 1}));
  EXPECT_EQ(ReadConfig(), original);
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(SqlfvaldTest, LaterRecordDecidesBothVerdicts) {
  WriteConfig(ValidKind1().Bytes());
  Records accepted = {{12, "70000"}, {12, "200"}, {kCommitToken, ""}};
  EXPECT_EQ(Run(accepted), 0);
  EXPECT_EQ(accepted.Verdicts(), (std::vector<int>{1, 1, 1}));
  EXPECT_EQ(DbmU32(ReadConfig(), 0x4C), 200u);

  Bytes before = ReadConfig();
  Records rejected = {{12, "200"}, {12, "70000"}, {kCommitToken, ""}};
  EXPECT_EQ(Run(rejected), -104);
  EXPECT_EQ(rejected.Verdicts(), (std::vector<int>{0, 0, 1}));
  EXPECT_EQ(ReadConfig(), before);
}

TEST_F(SqlfvaldTest, ShortFileIsZeroFilledAndWrittenWhole) {
  Bytes block = DbmBlockBuilder().NodeType(3).Fill(0x11).U16(0x28, 3).Bytes();
  Bytes shortFile(block.begin(), block.begin() + 100);
  WriteConfig(shortFile);
  // Token 40 sits behind the 100 bytes: it reads as 0 and is set to 1.
  Records records = {{40, "YES"}, {kCommitToken, ""}};
  EXPECT_EQ(Run(records), 0);
  Bytes written = ReadConfig();
  ASSERT_EQ(written.size(), 4096u);
  EXPECT_TRUE(DbmChecksumMatches(written));
  EXPECT_TRUE(std::equal(written.begin() + 4, written.begin() + 100, shortFile.begin() + 4));
  Bytes tail(written.begin() + 100, written.end());
  tail[0x31A - 100] ^= 1;  // the one field set
  EXPECT_EQ(tail, Bytes(3996, 0));
}

TEST_F(SqlfvaldTest, EmptyFileGivesAnAllZeroImage) {
  WriteConfig({});
  // Under kind 0 token 12 must be 1..64000, so 0 is rejected; 40 accepts 0.
  Records records = {{12, "0"}, {40, "NO"}};
  EXPECT_EQ(Run(records), 0);
  EXPECT_EQ(records.Verdicts(), (std::vector<int>{0, 1}));
  EXPECT_TRUE(ReadConfig().empty());
}

TEST_F(SqlfvaldTest, LongerFileIsCutTo4096Bytes) {
  Bytes original = ValidKind1().Bytes();
  original.resize(5000, 0x77);
  WriteConfig(original);
  Records records = {{kCommitToken, ""}};
  EXPECT_EQ(Run(records), 0);
  EXPECT_EQ(ReadConfig().size(), 4096u);
}

TEST_F(SqlfvaldTest, ReadOnlyFileIsNotCommitted) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes read-only files";
  Bytes original = ValidKind1().Bytes();
  WriteConfig(original);
  ASSERT_EQ(platform::SetFileWritable(kConfig, false), 0);
  Records records = {{12, "200"}, {kCommitToken, ""}};
  EXPECT_EQ(Run(records), -100);
  EXPECT_EQ(records.Verdicts(), (std::vector<int>{1, 1}));
  EXPECT_EQ(ReadConfig(), original);
}

TEST_F(SqlfvaldTest, ProcessorSpeedComesFromTheHost) {
  WriteConfig(ValidKind1().Bytes());
  host_.processorSpeed = 0.125f;
  Records records = {{42, "-1"}, {kCommitToken, ""}};
  EXPECT_EQ(Run(records), 0);
  EXPECT_EQ(testkit::DbmFloat(ReadConfig(), 0x328), 0.125f);
}

// A failed read: the records are not touched even though the file exists.
TEST_F(SqlfvaldTest, FailingReadTouchesNoRecord) {
  WriteConfig(ValidKind1().Bytes());
  for (uint64_t n = 1; n <= 2; ++n) {  // the open, then the read
    Records records = {{12, "200"}, {kCommitToken, ""}};
    platform::SetFaultPlan({n, platform::kErrorReadFault});
    EXPECT_EQ(Run(records), -100) << n;
    platform::ClearFaultPlan();
    EXPECT_EQ(records.Verdicts(), (std::vector<int>{kUntouched, kUntouched})) << n;
  }
}

// Fails every file operation of a committing call in turn (once, then from there on): the file
// holds either its old or its new content in full, and the result says which.
TEST_F(SqlfvaldTest, FailureAtAnyOperationLeavesOldOrNewFile) {
  Bytes original = ValidKind1().Bytes();
  WriteConfig(original);
  Records clean = {{12, "200"}, {kCommitToken, ""}};
  platform::ResetFileOperationCount();
  ASSERT_EQ(Run(clean), 0);
  const uint64_t operations = platform::FileOperationCount();
  const Bytes committed = ReadConfig();
  ASSERT_GE(operations, 6u);

  for (bool repeat : {false, true}) {
    for (uint64_t n = 1; n <= operations; ++n) {
      SCOPED_TRACE(testing::Message() << "operation " << n << (repeat ? " and on" : ""));
      std::filesystem::remove_all(machine_.HostPath(kFolder));
      machine_.MakeDirectory(kFolder);
      WriteConfig(original);
      Records records = {{12, "200"}, {kCommitToken, ""}};
      platform::FaultPlan plan;
      plan.triggerAt = n;
      plan.error = platform::kErrorDiskFull;
      plan.repeat = repeat;
      platform::SetFaultPlan(plan);
      int result = Run(records);
      platform::ClearFaultPlan();
      ASSERT_TRUE(result == 0 || result == -100) << result;
      if (!repeat || machine_.Exists(kConfig)) {
        EXPECT_EQ(ReadConfig(), result == 0 ? committed : original);
      } else {
        // The final rename and the rename back both failed: the old content waits complete
        // under its numbered name.
        EXPECT_EQ(result, -100);
        EXPECT_TRUE(OldContentKept(original));
      }
    }
  }
}

// Runs a committing call that ends the process at file operation n.
void CommitAndCrashAt(uint64_t n) {
  Records records = {{12, "200"}, {kCommitToken, ""}};
  platform::FaultPlan plan;
  plan.triggerAt = n;
  plan.crash = true;
  platform::SetFaultPlan(plan);
  sqlfvald(records.data(), const_cast<char*>(kConfig), records.count());
  _exit(0);
}

// Ends the process at every file operation of a committing call, as a crash would: the file
// at its path is never partly written. Only between the two renames is it briefly absent, and
// then its old content is complete under a numbered name beside it.
TEST_F(SqlfvaldTest, CrashAtAnyOperationNeverLeavesAPartlyWrittenFile) {
  GTEST_FLAG_SET(death_test_style, "fast");
  Bytes original = ValidKind1().Bytes();
  WriteConfig(original);
  Records clean = {{12, "200"}, {kCommitToken, ""}};
  platform::ResetFileOperationCount();
  ASSERT_EQ(Run(clean), 0);
  const uint64_t operations = platform::FileOperationCount();
  const Bytes committed = ReadConfig();

  int absentWindows = 0;
  for (uint64_t n = 1; n <= operations; ++n) {
    SCOPED_TRACE(testing::Message() << "crash at operation " << n);
    std::filesystem::remove_all(machine_.HostPath(kFolder));
    machine_.MakeDirectory(kFolder);
    WriteConfig(original);
    EXPECT_EXIT(CommitAndCrashAt(n), testing::ExitedWithCode(86), "");
    if (machine_.Exists(kConfig)) {
      Bytes atPath = ReadConfig();
      EXPECT_TRUE(atPath == original || atPath == committed);
    } else {
      ++absentWindows;
      EXPECT_TRUE(OldContentKept(original));
    }
  }
  EXPECT_LE(absentWindows, 1);
}

}  // namespace
}  // namespace qz7::config
