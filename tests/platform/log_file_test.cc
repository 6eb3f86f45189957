#include "platform/log_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/platform/machine_fixture.h"

namespace qz7::platform {
namespace {

constexpr int kLinesPerWriter = 200;

std::string LineText(char tag, int number) {
  return std::string(1, tag) + " " + std::to_string(number) + " " + std::string(40, tag);
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
      writers[w] = StartChild([&, w] {
        int fd = row.sharedDescriptor ? shared : OpenLog();
        for (int i = 0; i < kLinesPerWriter; ++i) {
          if (!AppendLockedLine(fd, LineText(static_cast<char>('A' + w), i))) return false;
        }
        return true;
      });
    }
    for (pid_t writer : writers) EXPECT_EQ(WaitChild(writer), 0) << row.name;
    close(shared);

    std::string log = ReadHostFile(LogPath());
    int next[2] = {0, 0};  // each writer's lines arrive whole and in order
    for (size_t start = 0, end = 0; start < log.size(); start = end + 2) {
      end = log.find("\r\n", start);
      ASSERT_NE(end, std::string::npos) << row.name << ": unterminated tail";
      std::string line = log.substr(start, end - start);
      int writer = line[0] == 'B' ? 1 : 0;
      ASSERT_EQ(line, LineText(static_cast<char>('A' + writer), next[writer]++)) << row.name;
    }
    EXPECT_EQ(next[0], kLinesPerWriter) << row.name;
    EXPECT_EQ(next[1], kLinesPerWriter) << row.name;
  }
}

}  // namespace
}  // namespace qz7::platform
