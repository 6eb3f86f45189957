// Message insertion, the fallback texts, the setup log and its lock.
#include "util/setup_messages.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/messages.h"
#include "testkit/temp_machine.h"
#include "util/setup_log.h"

namespace qz7::util {
namespace {

std::string ReadHostFile(const std::string& path) {
  return {std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {}};
}

TEST(InsertMessageParamsTest, Table) {
  const std::string k1020(1020, 'a'), k1022(1022, 'a'), k1023(1023, 'a');
  struct Row {
    const char* name;
    std::string text, expected;
    std::vector<const char*> params;
    int result;
  } rows[] = {
      {"in_order", "Instance %1 code %2", "Instance QZ7 code 5", {"QZ7", "5"}, 0},
      {"other_markers_stay", "100%% %x %0 %", "100%% %x %0 %", {"p"}, 0},
      {"marker_beyond_count_stays", "%1 %3", "a %3", {"a", "b"}, 0},
      {"null_parameter_stays", "%1/%2", "%1/b", {nullptr, "b"}, 0},
      {"percent_in_parameter_not_expanded", "%1 %2", "%2 x", {"%2", "x"}, 0},
      {"no_parameters", "left %1 alone", "left %1 alone", {}, 0},
      {"1022_fit", k1022, k1022, {}, 0},
      {"1023_too_long", k1023, "", {}, 2},
      {"grows_to_1022", k1020 + "%1", k1020 + "bc", {"bc"}, 0},
      {"grows_past_1022", k1020 + "%1", "", {"bcd"}, 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<char> output(1024, '#');
    int length = -1;
    EXPECT_EQ(InsertMessageParams(row.params.data(), static_cast<int>(row.params.size()),
                                  row.text.c_str(), output.data(), 1023, &length),
              row.result);
    EXPECT_EQ(output.data(), row.expected);
    EXPECT_EQ(length, static_cast<int>(row.expected.size()));
  }
}

// An owner that records every box as "title|text|style".
using Boxes = std::vector<std::string>;
int RecordBox(void* boxes, const char* text, const char* title, unsigned style) {
  static_cast<Boxes*>(boxes)->push_back(std::string(title) + "|" + text + "|" +
                                        std::to_string(style));
  return 7;
}

TEST(ShowSetupMessageTest, RenumbersFallsBackAndLogs) {
  testkit::TempMachine machine;
  const std::string modulePath = machine.root() + "/messages.txt";
  const std::string logPath = machine.root() + "/setup.log";
  std::ofstream(modulePath) << "3616 Instance %s failed with code %d\n3612 Our Title\n"
                               "100 No parameters here %s\n101 %2 before %1\n";
  QZ7_MODULE module = platform::LoadMessageModule(modulePath);
  ASSERT_NE(module, nullptr);
  int logFd = open(logPath.c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_GE(logFd, 0);
  Boxes boxes;
  qz7_owner_window owner{&RecordBox, &boxes};
  const char* params[10] = {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"};
  auto show = [&](int id, int paramCount, QZ7_MODULE from, QZ7_OWNER to) {
    return ShowSetupMessage(id, paramCount, params, kBoxInformation, &logFd, from, to);
  };
  struct Row {
    const char *name, *text;
    int id, style, paramCount;
  } rows[] = {
      {"renumbered", "Instance a failed with code b", 3616, kBoxInformation, 2},
      {"missing_message", "Unable to load message 4242", 4242, kBoxStop, 0},
      {"ten_params", "InsertMessage: Invalid number of parameters 10", 3616, kBoxInformation, 10},
      {"no_parameters_keeps_text", "No parameters here %s", 100, kBoxInformation, 0},
      {"explicit_numbers", "b before a", 101, kBoxInformation, 2},
  };
  std::string log;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    boxes.clear();
    EXPECT_EQ(show(row.id, row.paramCount, module, &owner), 7);
    EXPECT_EQ(boxes, Boxes{"Our Title|" + std::string(row.text) + "|" + std::to_string(row.style)});
    EXPECT_EQ(ReadHostFile(logPath), log += std::string(row.text) + "\r\n");
  }

  // No module: nothing at all. No owner: the line is logged only.
  EXPECT_EQ(show(3616, 2, nullptr, &owner), 0);
  EXPECT_EQ(show(3616, 2, module, nullptr), 0);
  EXPECT_EQ(boxes.size(), 1u) << "a box without a module or an owner";
  EXPECT_EQ(ReadHostFile(logPath), log += "Instance a failed with code b\r\n");
  platform::FreeMessageModule(module);

  // A module without a title gets the fixed one; a text filled past the limit is emptied.
  std::ofstream(modulePath) << "3616 Instance %s failed with code %d\n";
  module = platform::LoadMessageModule(modulePath);
  const std::string longParam(1100, 'x');
  params[0] = longParam.c_str();
  EXPECT_EQ(ShowSetupMessage(3616, 2, params, kBoxStop, nullptr, module, nullptr), kInsertTooLong);
  EXPECT_EQ(show(3616, 2, module, &owner), 7);
  EXPECT_EQ(boxes.back(), "ZAV QZ7 Setup||" + std::to_string(kBoxInformation));
  EXPECT_EQ(ReadHostFile(logPath), log += "\r\n");
  platform::FreeMessageModule(module);
  close(logFd);
}

// Two processes append to one log under the lock, each through its own descriptor; every line
// must come out whole.
TEST(AppendLogLineTest, ProcessesNeverInterleave) {
  testkit::TempMachine machine;
  const std::string path = machine.root() + "/shared.log";
  constexpr int kLines = 200;
  const std::string a(300, 'A'), b(500, 'B');
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  const int fd = open(path.c_str(), O_RDWR | O_CREAT, 0644);
  int failures = 0;
  for (int i = 0; i < kLines; ++i) failures += AppendLogLine(fd, (child == 0 ? a : b).c_str()) != 1;
  close(fd);
  if (child == 0) _exit(failures == 0 ? 0 : 3);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(failures, 0);
  const std::string content = ReadHostFile(path);
  // Each line is one whole payload, so the file cuts into whole lines from the start.
  for (size_t at = 0; at < content.size();) {
    const std::string line = (content[at] == 'A' ? a : b) + "\r\n";
    ASSERT_EQ(content.compare(at, line.size(), line), 0) << "broken line at byte " << at;
    at += line.size();
  }
  EXPECT_EQ(content.size(), kLines * (a.size() + b.size() + 4));
}

}  // namespace
}  // namespace qz7::util
