// sqlfvald on real files of a throw-away machine: reading, the three results, the commit write
// and what a failure or a crash at every file operation of a commit leaves behind.
#include "config/sqlfvald.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
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

// sqlfvald on records "TOKEN=VALUE ..." (9999 is the commit token; no count: all of them):
// its result and each record's verdict ('7' where none was written) as "RESULT VERDICTS".
std::string Validate(const std::string& list, const char* path = kConfig,
                     std::optional<int> count = {}) {
  std::istringstream items(list);
  std::deque<std::string> values;  // stays in place while the records point into it
  std::vector<sqlf_cfg_parameter> records;
  for (std::string item; items >> item;) {
    values.push_back(item.substr(item.find('=') + 1));
    records.push_back({static_cast<uint16_t>(std::stoi(item)), values.back().data(), 7});
  }
  const int result = sqlfvald(records.data(), const_cast<char*>(path),
                              count.value_or(static_cast<int>(records.size())));
  std::string text = std::to_string(result) + " ";
  for (const sqlf_cfg_parameter& record : records) text += std::to_string(record.valid);
  return text;
}

// A valid kind-1 configuration: field 12 is 100, field 501 is -1.
DbmBlockBuilder Kind1() {
  return DbmBlockBuilder().NodeType(1).Set(base::dbm::kParam12, 100).Set(base::dbm::kParam501, -1);
}

class SqlfvaldTest : public testing::Test {
 protected:
  void SetUp() override { Reset(original_); }
  void TearDown() override { platform::ClearFaultPlan(); }

  // A fresh folder holding only the configuration file.
  void Reset(const Bytes& file) {
    std::filesystem::remove_all(machine_.HostPath(kFolder));
    machine_.WriteFile(kConfig, file);
  }
  // The contents of the files in the folder beside the configuration file.
  std::vector<Bytes> Others() const {
    std::vector<Bytes> others;
    for (const auto& entry : std::filesystem::directory_iterator(machine_.HostPath(kFolder))) {
      const std::string name = entry.path().filename().string();
      if (name != "qz7systm") others.push_back(machine_.ReadFile("C:\\INST\\" + name));
    }
    return others;
  }
  // From a fresh folder holding the original: a committing call under plan.
  int CommitWith(const platform::FaultPlan& plan) {
    Reset(original_);
    platform::ResetFileOperationCount();
    platform::SetFaultPlan(plan);
    const std::string result = Validate("12=200 9999=");
    operations_ = platform::FileOperationCount();
    platform::ClearFaultPlan();
    return std::stoi(result);
  }
  // The file holds the old or the committed content in full; if it is absent (between the two
  // renames), the old content waits complete under a numbered name beside it.
  bool AbsentWithOldContentBeside(const Bytes& committed) {
    if (!machine_.Exists(kConfig)) {
      EXPECT_GE(std::ranges::count(Others(), original_), 1);
      return true;
    }
    const Bytes atPath = machine_.ReadFile(kConfig);
    EXPECT_TRUE(atPath == original_ || atPath == committed);
    return false;
  }

  testkit::TempMachine machine_;
  const Bytes original_ = Kind1().WrongChecksum(5).Bytes();  // its checksum stale
  uint64_t operations_ = 0;                                  // of the last CommitWith
};

TEST_F(SqlfvaldTest, BadInputTouchesNoRecordAndNoFile) {
  const std::string records = "12=100 9999=";
  EXPECT_EQ(Validate(records, "C:\\INST\\missing"), "-100 77");
  EXPECT_EQ(Validate(records, nullptr), "-100 77");
  EXPECT_EQ(Validate(records, kConfig, 0), "0 77");  // the file is only read
  EXPECT_EQ(Validate(records, kConfig, -5), "0 77");
  EXPECT_EQ(sqlfvald(nullptr, const_cast<char*>(kConfig), 3), 0);
  for (uint64_t n = 1; n <= 2; ++n) {  // a failing open or read of an existing file
    platform::SetFaultPlan({n, platform::kErrorReadFault});
    EXPECT_EQ(Validate(records), "-100 77") << n;
    platform::ClearFaultPlan();
  }
  EXPECT_EQ(machine_.ReadFile(kConfig), original_);
  EXPECT_TRUE(Others().empty());
}

// Every record is judged on the final image, so a later record of a token decides for the
// earlier ones; a rejected record refuses the commit (-104) and leaves the file untouched. A
// commit writes the whole 4096-byte image with a fresh checksum, whatever size the file had.
TEST_F(SqlfvaldTest, ResultsVerdictsAndTheFileLeft) {
  const DbmBlockBuilder kind3 = DbmBlockBuilder().NodeType(3).Set(base::dbm::kParam12, 100);
  const Bytes kind3Committed =
      DbmBlockBuilder(kind3).Set(base::dbm::kParam40, 1).Bytes();  // 40=YES
  const struct {
    const char* name;
    Bytes before;
    size_t size;  // of the file before, cut or extended with 0x77
    const char *records, *outcome;
    Bytes after;
  } rows[] = {
      {"no_commit_later_record_decides", original_, 4096, "12=200 12=x 4711=1 40=maybe", "0 0000",
       original_},
      {"commit_first_later_record_decides", original_, 4096,
       "9999= 12=70000 12=200 40=yes 7=NEWNODE", "0 11111",
       Kind1()
           .Set(base::dbm::kParam12, 200)
           .Set(base::dbm::kParam7, "NEWNODE")
           .Set(base::dbm::kParam40, 1)
           .Bytes()},
      {"unknown_token_refuses_commit", original_, 4096, "12=300 4711=1 9999=", "-104 101",
       original_},
      {"later_record_refuses_commit", original_, 4096, "12=200 12=70000 9999=", "-104 001",
       original_},
      // 313 and 507 are always rejected, 39 and 71 untested; a record the apply step rejected
      // (a name too long to store) stays rejected.
      {"check_after_apply", original_, 4096,
       "313=X 507= 39=1 71=AB 7=TOOLONGNAME 9999=", "-104 001101", original_},
      {"file_of_100_bytes", kind3.Bytes(), 100, "40=YES 9999=", "0 11", kind3Committed},
      {"file_of_5000_bytes", kind3.Bytes(), 5000, "40=YES 9999=", "0 11", kind3Committed},
  };
  for (const auto& row : rows) {
    Bytes before = row.before;
    before.resize(row.size, 0x77);
    Reset(before);
    EXPECT_EQ(Validate(row.records, "c:\\inst\\QZ7SYSTM"), row.outcome) << row.name;
    EXPECT_EQ(machine_.ReadFile(kConfig), row.after) << row.name;  // its spelling kept
    EXPECT_TRUE(Others().empty()) << row.name;
  }
}

// Fails every file operation of a committing call in turn (once, then from there on), then ends
// the process at each: the file at its path is never partly written, and the result says
// which content it holds.
TEST_F(SqlfvaldTest, FailureOrCrashAtAnyOperationLeavesOldOrNewFile) {
  ASSERT_EQ(CommitWith({}), 0);
  const uint64_t operations = operations_;
  const Bytes committed = machine_.ReadFile(kConfig);
  ASSERT_GE(operations, 6u);
  for (bool repeat : {false, true}) {
    for (uint64_t n = 1; n <= operations; ++n) {
      SCOPED_TRACE(testing::Message() << "operation " << n << (repeat ? " and on" : ""));
      int result =
          CommitWith({.triggerAt = n, .error = platform::kErrorDiskFull, .repeat = repeat});
      ASSERT_TRUE(result == 0 || result == -100) << result;
      if (AbsentWithOldContentBeside(committed)) {
        EXPECT_TRUE(repeat && result == -100);  // the rename and the rename back both failed
      } else {
        EXPECT_EQ(machine_.ReadFile(kConfig), result == 0 ? committed : original_);
      }
    }
  }
  GTEST_FLAG_SET(death_test_style, "fast");
  int absentWindows = 0;
  for (uint64_t n = 1; n <= operations; ++n) {
    SCOPED_TRACE(testing::Message() << "crash at operation " << n);
    EXPECT_EXIT(
        {
          CommitWith({.triggerAt = n, .crash = true});
          _exit(0);
        },
        testing::ExitedWithCode(86), "");
    absentWindows += AbsentWithOldContentBeside(committed);
  }
  EXPECT_LE(absentWindows, 1);
}

}  // namespace
}  // namespace qz7::config
