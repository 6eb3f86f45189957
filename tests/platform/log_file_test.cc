#include "platform/log_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/platform/machine_fixture.h"

namespace qz7::platform {
namespace {

constexpr int kLinesPerWriter = 200;

std::string LineText(char tag, int number) {
  char text[64];
  std::snprintf(text, sizeof text, "%c %03d ", tag, number);
  return text + std::string(40, tag);
}

// Appends one line the way a setup log line is appended: the range from the end is locked,
// the end is checked again under the lock (another writer may have appended while we
// waited), and the text and its line end go out as two writes.
bool AppendLockedLine(int fd, const std::string& text) {
  const int64_t length = static_cast<int64_t>(text.size()) + 2;
  int64_t offset = SeekToEnd(fd);
  for (;;) {
    if (offset < 0 || !LockFileRange(fd, offset, length)) return false;
    int64_t end = SeekToEnd(fd);
    if (end == offset) break;
    UnlockFileRange(fd, offset, length);
    offset = end;
  }
  uint32_t written = 0;
  bool ok = WriteToDescriptor(fd, text.data(), static_cast<uint32_t>(text.size()), &written);
  usleep(50);  // widen the window in which an unlocked writer would slip in
  ok = WriteToDescriptor(fd, "\r\n", 2, &written) && ok;
  return UnlockFileRange(fd, offset, length) && ok;
}

class LogFileTest : public MachineFixture {
 protected:
  std::string LogPath() const { return root_ + "/setup.log"; }
  int OpenLog() const { return open(LogPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644); }
};

TEST_F(LogFileTest, TwoProcessesAppendWholeLines) {
  struct Row {
    const char* name;
    bool sharedDescriptor;  // one descriptor inherited by both, or one each
  };
  for (const Row& row : {Row{"SharedDescriptor", true}, Row{"OwnDescriptors", false}}) {
    unlink(LogPath().c_str());
    int shared = OpenLog();
    ASSERT_GE(shared, 0);
    pid_t writers[2];
    for (int w = 0; w < 2; ++w) {
      writers[w] = fork();
      ASSERT_GE(writers[w], 0);
      if (writers[w] == 0) {
        int fd = row.sharedDescriptor ? shared : OpenLog();
        for (int i = 0; i < kLinesPerWriter; ++i) {
          if (!AppendLockedLine(fd, LineText(static_cast<char>('A' + w), i))) _exit(1);
        }
        _exit(0);
      }
    }
    for (pid_t writer : writers) {
      int status = 0;
      ASSERT_EQ(waitpid(writer, &status, 0), writer);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << row.name;
    }
    close(shared);

    std::string log = ReadHostFile(LogPath());
    int next[2] = {0, 0};
    size_t start = 0;
    int lines = 0;
    while (start < log.size()) {
      size_t end = log.find("\r\n", start);
      ASSERT_NE(end, std::string::npos) << row.name << ": unterminated tail";
      std::string line = log.substr(start, end - start);
      int writer = line.empty() ? -1 : line[0] - 'A';
      ASSERT_TRUE(writer == 0 || writer == 1) << row.name << ": line " << lines << ": " << line;
      ASSERT_EQ(line, LineText(line[0], next[writer])) << row.name << ": line " << lines;
      ++next[writer];
      ++lines;
      start = end + 2;
    }
    EXPECT_EQ(next[0], kLinesPerWriter) << row.name;
    EXPECT_EQ(next[1], kLinesPerWriter) << row.name;
  }
}

TEST_F(LogFileTest, LockedRangeHoldsOffOverlappingLockers) {
  struct Row {
    const char* name;
    int64_t offset;
    int64_t length;
    bool waits;
  };
  const Row rows[] = {
      {"SameRange", 10, 10, true}, {"Overlapping", 15, 100, true}, {"LastByte", 19, 1, true},
      {"Adjacent", 20, 5, false},  {"Before", 0, 10, false},
  };
  int fd = OpenLog();
  ASSERT_GE(fd, 0);
  for (const auto& row : rows) {
    ASSERT_TRUE(LockFileRange(fd, 10, 10)) << row.name;
    int signal[2];
    ASSERT_EQ(pipe(signal), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      bool locked = LockFileRange(fd, row.offset, row.length);
      (void)!write(signal[1], locked ? "L" : "F", 1);
      _exit(0);
    }
    close(signal[1]);
    struct pollfd ready = {signal[0], POLLIN, 0};
    EXPECT_EQ(poll(&ready, 1, row.waits ? 300 : 5000), row.waits ? 0 : 1) << row.name;
    ASSERT_TRUE(UnlockFileRange(fd, 10, 10)) << row.name;
    char answer = 0;
    ASSERT_EQ(poll(&ready, 1, 5000), 1) << row.name;
    ASSERT_EQ(read(signal[0], &answer, 1), 1) << row.name;
    EXPECT_EQ(answer, 'L') << row.name;
    close(signal[0]);
    int status = 0;
    waitpid(child, &status, 0);
  }
  close(fd);
}

}  // namespace
}  // namespace qz7::platform
