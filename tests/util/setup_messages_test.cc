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
#include "platform/posix/syscalls.h"
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
      {"1022_fit", k1022, k1022, {}, 0},
      {"1023_too_long", k1023, "", {}, 2},
      {"grows_to_1022", k1020 + "%1", k1020 + "bc", {"bc"}, 0},
      {"grows_past_1022", k1020 + "%1", "", {"bcd"}, 2},
  };
  for (const Row& row : rows) {
    std::vector<char> output(1024, '#');
    int length = -1;
    EXPECT_EQ(InsertMessageParams(row.params.data(), static_cast<int>(row.params.size()),
                                  row.text.c_str(), output.data(), 1023, &length),
              row.result)
        << row.name;
    EXPECT_EQ(output.data() + std::string("|") + std::to_string(length),
              row.expected + "|" + std::to_string(row.expected.size()))
        << row.name;
  }
}

// An owner that keeps the last box as "title|text|style".
int RecordBox(void* box, const char* text, const char* title, unsigned style) {
  *static_cast<std::string*>(box) = std::string(title) + "|" + text + "|" + std::to_string(style);
  return 7;
}

TEST(ShowSetupMessageTest, RenumbersFallsBackAndLogs) {
  testkit::TempMachine machine;
  const std::string titled = machine.root() + "/titled.txt", plain = machine.root() + "/plain.txt";
  std::ofstream(titled) << "3616 Instance %s failed with code %d\n3612 Our Title\n"
                           "100 No parameters here %s\n101 %2 before %1\n";
  std::ofstream(plain) << "3616 Instance %s failed with code %d\n";
  QZ7_MODULE modules[2] = {platform::LoadMessageModule(titled), platform::LoadMessageModule(plain)};
  int logFd = open((machine.root() + "/setup.log").c_str(), O_RDWR | O_CREAT, 0644);
  std::string box, log;
  qz7_owner_window owner{&RecordBox, &box};
  const std::string tooLong(1100, 'x');
  const char* params[10] = {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"};
  const struct {
    const char* name;
    int module, id, paramCount;
    const char* first;  // the first parameter
    std::string box;    // "title|text|style"; the text is also the line logged
  } rows[] = {
      {"renumbered", 0, 3616, 2, "a", "Our Title|Instance a failed with code b|64"},
      {"missing_message", 0, 4242, 0, "a", "Our Title|Unable to load message 4242|16"},
      {"ten_params", 0, 3616, 10, "a",
       "Our Title|InsertMessage: Invalid number of parameters 10|64"},
      {"no_parameters_keeps_text", 0, 100, 0, "a", "Our Title|No parameters here %s|64"},
      {"explicit_numbers", 0, 101, 2, "a", "Our Title|b before a|64"},
      {"too_long_emptied_fixed_title", 1, 3616, 2, tooLong.c_str(), "ZAV QZ7 Setup||64"},
  };
  for (const auto& row : rows) {
    params[0] = row.first;
    EXPECT_EQ(ShowSetupMessage(row.id, row.paramCount, params, kBoxInformation, &logFd,
                               modules[row.module], &owner),
              7);
    EXPECT_EQ(box, row.box) << row.name;
    const size_t text = row.box.find('|') + 1;
    log += row.box.substr(text, row.box.rfind('|') - text) + "\r\n";
  }
  // No module: nothing at all. No owner: the line is logged and the insertion result returned.
  box.clear();
  EXPECT_EQ(ShowSetupMessage(3616, 2, params, kBoxStop, &logFd, nullptr, &owner), 0);
  EXPECT_EQ(ShowSetupMessage(3616, 2, params, kBoxStop, &logFd, modules[0], nullptr),
            kInsertTooLong);
  EXPECT_EQ(box + ReadHostFile(machine.root() + "/setup.log"), log + "\r\n");
  for (QZ7_MODULE module : modules) platform::FreeMessageModule(module);
  close(logFd);
}

// Two processes append to one log under the lock, through one inherited descriptor or one
// each; every line must come out whole. Every write is slowed down through the syscall table,
// so that a writer without the lock would slip in between a line and its line end.
TEST(AppendLogLineTest, ProcessesNeverInterleave) {
  testkit::TempMachine machine;
  const std::string path = machine.root() + "/shared.log", a(300, 'A'), b(500, 'B');
  constexpr int kLines = 150;
  for (bool shared : {true, false}) {
    unlink(path.c_str());
    const int inherited = open(path.c_str(), O_RDWR | O_CREAT, 0644);
    const pid_t child = fork();
    const int fd = shared ? inherited : open(path.c_str(), O_RDWR);
    platform::posix::ScopedSyscallOverride slow;
    slow.table().write = [](int to, const void* data, size_t size) {
      const ssize_t written = platform::posix::DefaultSyscalls().write(to, data, size);
      usleep(20);
      return written;
    };
    int failures = 0;
    for (int i = 0; i < kLines; ++i) failures += AppendLogLine(fd, (child ? b : a).c_str()) != 1;
    if (child == 0) _exit(failures == 0 ? 0 : 3);
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_TRUE(status == 0 && failures == 0) << status;
    close(inherited);
    if (!shared) close(fd);
    const std::string content = ReadHostFile(path);
    for (size_t at = 0; at < content.size();) {
      const std::string line = (content[at] == 'A' ? a : b) + "\r\n";
      ASSERT_EQ(content.compare(at, line.size(), line), 0) << "broken line at byte " << at;
      at += line.size();
    }
    EXPECT_EQ(content.size(), kLines * (a.size() + b.size() + 4)) << shared;
  }
}

}  // namespace
}  // namespace qz7::util
