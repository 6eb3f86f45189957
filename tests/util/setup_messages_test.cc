// Message insertion, the fallback texts, the setup log and its lock.
#include "util/setup_messages.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/messages.h"
#include "testkit/temp_machine.h"
#include "util/setup_log.h"

namespace qz7::util {
namespace {

struct InsertCase {
  const char* name;
  const char* text;
  std::vector<const char*> params;
  int outputSize;
  int result;
  const char* expected;
};

class InsertMessageParamsTest : public ::testing::TestWithParam<InsertCase> {};

TEST_P(InsertMessageParamsTest, Fills) {
  const InsertCase& c = GetParam();
  std::vector<char> output(static_cast<size_t>(c.outputSize) + 1, '#');
  int length = -1;
  EXPECT_EQ(InsertMessageParams(c.params.data(), static_cast<int>(c.params.size()), c.text,
                                output.data(), c.outputSize, &length),
            c.result);
  if (c.result == kInsertOk) {
    EXPECT_STREQ(output.data(), c.expected);
    EXPECT_EQ(length, static_cast<int>(std::string(c.expected).size()));
  } else if (c.result == kInsertTooLong) {
    EXPECT_EQ(length, 0);
  }
}

const std::string k1022(1022, 'a');
const std::string k1023(1023, 'a');
const std::string k1020(1020, 'a');
const std::string k1020Marker = k1020 + "%1";
const std::string k1020Filled = k1020 + "bc";

INSTANTIATE_TEST_SUITE_P(
    Table, InsertMessageParamsTest,
    ::testing::Values(
        InsertCase{"in_order",
                   "Instance %1 failed with code %2",
                   {"QZ7", "5"},
                   1023,
                   0,
                   "Instance QZ7 failed with code 5"},
        InsertCase{"reversed", "%2 then %1", {"one", "two"}, 1023, 0, "two then one"},
        InsertCase{"other_markers_stay", "100%% %x %0 %", {"p"}, 1023, 0, "100%% %x %0 %"},
        InsertCase{"marker_beyond_count_stays", "%1 %3", {"a", "b"}, 1023, 0, "a %3"},
        InsertCase{"null_parameter_stays", "%1/%2", {nullptr, "b"}, 1023, 0, "%1/b"},
        InsertCase{"percent_in_parameter_not_expanded", "%1 %2", {"%2", "x"}, 1023, 0, "%2 x"},
        InsertCase{"no_parameters", "left %1 alone", {}, 1023, 0, "left %1 alone"},
        InsertCase{"ten_parameters",
                   "%1",
                   {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"},
                   1023,
                   1,
                   nullptr},
        InsertCase{"1022_fit", k1022.c_str(), {}, 1023, 0, k1022.c_str()},
        InsertCase{"1023_too_long", k1023.c_str(), {}, 1023, 2, nullptr},
        InsertCase{"grows_to_1022", k1020Marker.c_str(), {"bc"}, 1023, 0, k1020Filled.c_str()},
        InsertCase{"grows_past_1022", k1020Marker.c_str(), {"bcd"}, 1023, 2, nullptr}),
    [](const ::testing::TestParamInfo<InsertCase>& info) { return info.param.name; });

// A message module and an owner that records every box.
class ShowSetupMessageTest : public ::testing::Test {
 protected:
  struct Box {
    std::string text, title;
    unsigned style;
  };

  static int RecordBox(void* userData, const char* text, const char* title, unsigned style) {
    static_cast<std::vector<Box>*>(userData)->push_back({text, title, style});
    return 7;
  }

  void SetUp() override {
    modulePath_ = machine_.root() + "/messages.txt";
    std::ofstream(modulePath_) << "3616 Instance %s failed with code %d\n"
                                  "3612 Our Title\n"
                                  "100 No parameters here %s\n"
                                  "101 %2 before %1\n";
    module_ = platform::LoadMessageModule(modulePath_);
    ASSERT_NE(module_, nullptr);
    logPath_ = machine_.root() + "/setup.log";
    logFd_ = open(logPath_.c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_GE(logFd_, 0);
    owner_.messageBox = &RecordBox;
    owner_.userData = &boxes_;
  }
  void TearDown() override {
    platform::FreeMessageModule(module_);
    close(logFd_);
  }
  std::string Log() const {
    std::ifstream in(logPath_, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }

  testkit::TempMachine machine_;
  std::string modulePath_, logPath_;
  QZ7_MODULE module_ = nullptr;
  int logFd_ = -1;
  qz7_owner_window owner_{};
  std::vector<Box> boxes_;
};

TEST_F(ShowSetupMessageTest, RenumbersFillsLogsAndShows) {
  const char* params[] = {"QZ7", "5"};
  EXPECT_EQ(ShowSetupMessage(3616, 2, params, kBoxInformation, &logFd_, module_, &owner_), 7);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Instance QZ7 failed with code 5");
  EXPECT_EQ(boxes_[0].title, "Our Title");
  EXPECT_EQ(boxes_[0].style, kBoxInformation);
  EXPECT_EQ(Log(), "Instance QZ7 failed with code 5\r\n");
}

TEST_F(ShowSetupMessageTest, FallbacksAndLimits) {
  struct Row {
    const char* name;
    unsigned id;
    int paramCount;
    std::string text;
    unsigned style;
  } rows[] = {
      {"missing_message", 4242, 0, "Unable to load message 4242", kBoxStop},
      {"ten_parameters", 3616, 10, "InsertMessage: Invalid number of parameters 10",
       kBoxInformation},
      {"no_parameters_keeps_text", 100, 0, "No parameters here %s", kBoxInformation},
      {"explicit_numbers", 101, 2, "b before a", kBoxInformation},
  };
  const char* params[10] = {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"};
  for (const Row& row : rows) {
    boxes_.clear();
    ShowSetupMessage(row.id, row.paramCount, params, kBoxInformation, nullptr, module_, &owner_);
    ASSERT_EQ(boxes_.size(), 1u) << row.name;
    EXPECT_EQ(boxes_[0].text, row.text) << row.name;
    EXPECT_EQ(boxes_[0].style, row.style) << row.name;
  }
}

TEST_F(ShowSetupMessageTest, NoOwnerLogsOnlyAndNoModuleDoesNothing) {
  const char* params[] = {"A", "1"};
  EXPECT_EQ(ShowSetupMessage(3616, 2, params, kBoxStop, &logFd_, module_, nullptr), 0);
  EXPECT_EQ(ShowSetupMessage(3616, 2, params, kBoxStop, &logFd_, nullptr, &owner_), 0);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(Log(), "Instance A failed with code 1\r\n");
}

TEST_F(ShowSetupMessageTest, TitleFallsBackAndOverlongTextIsEmptied) {
  std::string longParam(1100, 'x');
  const char* params[] = {longParam.c_str(), "1"};
  std::ofstream(modulePath_) << "3616 Instance %s failed with code %d\n";
  QZ7_MODULE bare = platform::LoadMessageModule(modulePath_);
  ASSERT_NE(bare, nullptr);
  EXPECT_EQ(ShowSetupMessage(3616, 2, params, kBoxStop, &logFd_, bare, nullptr), kInsertTooLong);
  ShowSetupMessage(3616, 2, params, kBoxStop, nullptr, bare, &owner_);
  platform::FreeMessageModule(bare);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].title, "ZAV QZ7 Setup");
  EXPECT_EQ(boxes_[0].text, "");
  EXPECT_EQ(Log(), "\r\n");
}

// Two processes append to one log under the lock; every line must come out whole.
TEST(AppendLogLineTest, ProcessesNeverInterleave) {
  testkit::TempMachine machine;
  const std::string path = machine.root() + "/shared.log";
  close(open(path.c_str(), O_RDWR | O_CREAT, 0644));
  constexpr int kLines = 200;
  const std::string payloadA(300, 'A');
  const std::string payloadB(500, 'B');
  std::vector<pid_t> children;
  for (const std::string* payload : {&payloadA, &payloadB}) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int fd = open(path.c_str(), O_RDWR);
      for (int i = 0; i < kLines; ++i) {
        if (AppendLogLine(fd, payload->c_str()) != 1) _exit(3);
      }
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::ifstream in(path, std::ios::binary);
  std::string content((std::istreambuf_iterator<char>(in)), {});
  std::map<std::string, int> counts;
  size_t start = 0;
  for (size_t end; (end = content.find("\r\n", start)) != std::string::npos; start = end + 2) {
    counts[content.substr(start, end - start)]++;
  }
  EXPECT_EQ(start, content.size()) << "text after the last line end";
  EXPECT_EQ(counts.size(), 2u);
  EXPECT_EQ(counts[payloadA], kLines);
  EXPECT_EQ(counts[payloadB], kLines);
}

}  // namespace
}  // namespace qz7::util
