// Path text work (quoting, normalisation, the multibyte walk), the file helpers against a real
// machine root, message insertion, the fallback texts, the setup log and its lock.
#include "util/setup_files.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <fstream>
#include <string>
#include <vector>

#include "base/quoted_path.h"
#include "platform/codepage.h"
#include "platform/file_system.h"
#include "platform/messages.h"
#include "testkit/fault_injection.h"
#ifndef _WIN32
#include "platform/posix/syscalls.h"
#endif
#include "platform/win_error.h"
#include "testkit/temp_machine.h"
#include "util/path_normalization.h"
#include "util/setup_log.h"
#include "util/setup_messages.h"

namespace qz7::util {
namespace {

class SetupFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine_.WriteText("C:\\INST\\FILE.TXT", "payload");
    machine_.MakeDirectory("C:\\INST\\SUB");
  }
  void TearDown() override {
    platform::SetActiveCodePage(0);
    // Windows does not remove a process's current directory: leave the test's folders first.
    static_cast<void>(platform::SetCurrentDirectoryText("C:\\"));  // the drive root stays
  }
  testkit::TempMachine machine_;
};

// In code page 932, where a trail byte may be a backslash and 0x80 is no character.
TEST_F(SetupFilesTest, NormalizeSetupPath) {
  const struct {
    const char *name, *currentDir, *source, *expected;  // expected null: output not looked at
    unsigned size;
    int result;
  } rows[] = {
      {"trailing_backslash", "C:\\", "c:\\apps\\srv\\", "\"C:\\APPS\\SRV\"", 261, 0},
      {"drive_root", "C:\\", "c:\\", "\"C:\"", 261, 0},
      {"relative", "C:\\INST", "sub\\a", "\"C:\\INST\\SUB\\A\"", 261, 0},
      {"dot_dot_stops_at_root", "C:\\", "c:\\..\\..\\x", "\"C:\\X\"", 261, 0},
      {"null_source", "C:\\", nullptr, "", 261, 0},
      {"no_room", "C:\\", "c:\\a", nullptr, 0, 1},
      {"quoted_form_too_long", "C:\\", "c:\\abc", "", 8, 2},
      {"exactly_fits", "C:\\", "c:\\abc", "\"C:\\ABC\"", 9, 0},
      {"invalid_byte", "C:\\", "c:\\a\x80", "c:\\a\x80", 261, 3},
      {"trail_byte_backslash_kept", "C:\\", "c:\\\x83\x5c", "\"C:\\\x83\x5c\"", 261, 0},
  };
  platform::SetActiveCodePage(932);
  for (const auto& row : rows) {
    ASSERT_EQ(platform::SetCurrentDirectoryText(row.currentDir), 0);
    std::string out(300, 'x');
    EXPECT_EQ(NormalizeSetupPath(row.source, out.data(), row.size), row.result) << row.name;
    if (row.expected != nullptr) {
      EXPECT_STREQ(out.c_str(), row.expected) << row.name;
    }
  }
}

// Each input extended by "\X", joined with "B", cut at its last backslash ("none" when it has
// none) and reduced to its last component (without quotes); in code page 932, where the trail
// byte of a double-byte character may be a backslash.
TEST_F(SetupFilesTest, QuotedPathText) {
  const struct {
    const char *name, *input, *extended, *joined, *cut, *last;
  } rows[] = {
      {"quoted", "\"C:\\A\\B\"", "\"C:\\A\\B\\X\"", "\"C:\\A\\B\\B\"", "\"C:\\A\"", "B"},
      {"drive_root", "C:\\", "C:\\\\X", "C:\\B", "C:", ""},
      {"trail_byte_backslash", "C:\\A\\\x83\x5c", "C:\\A\\\x83\x5c\\X", "C:\\A\\\x83\x5c\\B",
       "C:\\A", "\x83\x5c"},
  };
  platform::SetActiveCodePage(932);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(base::ExtendPath(row.input, "\\X"), row.extended);
    EXPECT_EQ(base::JoinPath(row.input, "B"), row.joined);
    std::string path = row.input;
    EXPECT_EQ(base::CutAtLastBackslash(path) ? path : "none", row.cut);
    EXPECT_EQ(base::LastComponent(row.input), row.last);
  }
  EXPECT_EQ(base::StripQuotes(nullptr), "");
}

TEST_F(SetupFilesTest, KindQueriesWithAndWithoutQuotes) {
  EXPECT_EQ(IsDirectory("\"c:\\inst\\sub\"") + IsRegularFile("\"c:\\inst\\file.txt\""), 2);
  EXPECT_EQ(IsDirectory("C:\\INST\\FILE.TXT") + IsRegularFile("C:\\INST") + IsDirectory("C:\\NONE"),
            0);
  ASSERT_EQ(platform::SetCurrentDirectoryText("C:\\INST"), 0);
  for (const char* directory : {"\"C:\\INST\"", "C:\\INST\\", ""})
    EXPECT_EQ(FileExistsIn(directory, "file.txt"), 1) << directory;
  EXPECT_EQ(FileExistsIn("C:\\INST", "SUB") + FileExistsIn("C:\\INST", nullptr), 0);
}

TEST_F(SetupFilesTest, CopySetupFileMapsErrors) {
  machine_.WriteText("C:\\INST\\LOCKED.TXT", "old");
  ASSERT_EQ(platform::SetFileWritable("C:\\INST\\LOCKED.TXT", false), 0);
  const struct {
    const char *source, *destination;
    int result;
  } rows[] = {
      {"\"C:\\INST\\FILE.TXT\"", "\"C:\\INST\\COPY.TXT\"", 0},
      {"C:\\INST\\NONE.TXT", "C:\\INST\\X.TXT", 1},
      {"C:\\INST\\FILE.TXT", "C:\\NOWHERE\\X.TXT", 2},
      {"C:\\INST\\FILE.TXT", "C:\\INST\\LOCKED.TXT", 3},
  };
  for (const auto& row : rows)
    EXPECT_EQ(CopySetupFile(row.source, row.destination), row.result) << row.destination;
  EXPECT_EQ(MakeWritable("\"C:\\INST\\LOCKED.TXT\""), 1);
  EXPECT_EQ(CopySetupFile("C:\\INST\\FILE.TXT", "C:\\INST\\LOCKED.TXT"), 0);
  EXPECT_EQ(machine_.ReadFile("C:\\INST\\LOCKED.TXT"), machine_.ReadFile("C:\\INST\\FILE.TXT"));
  EXPECT_EQ(MakeWritable("C:\\INST\\NONE.TXT"), 0);
}

TEST_F(SetupFilesTest, FindFreeNumberedName) {
  machine_.WriteText("C:\\PROF\\QZ7DAS00", "");
  machine_.MakeDirectory("C:\\PROF\\QZ7DAS01");
  for (char digit = '0'; digit <= '9'; ++digit)
    machine_.WriteText(std::string("C:\\FULL\\N") + digit, "");
  const struct {
    const char *name, *directory, *pattern, *expected;  // null: nothing free
  } rows[] = {
      {"file_and_directory_skipped", "\"C:\\PROF\"", "QZ7DAS??", "\"C:\\PROF\\QZ7DAS02\""},
      {"temporary_name", "C:\\PROF", "????????.???", "C:\\PROF\\00000000.000"},
      {"runs_out", "C:\\FULL", "N?", nullptr},
      {"no_marks_free", "C:\\FULL", "M5", "C:\\FULL\\M5"},
      {"no_pattern", "C:\\FULL", nullptr, nullptr},
  };
  for (const auto& row : rows)
    EXPECT_STREQ(FindFreeNumberedName(row.directory, row.pattern), row.expected) << row.name;
  // A name whose status query fails (not as "not found") ends the search: it may be taken.
  platform::SetFaultPlan({.triggerAt = 1, .error = platform::kErrorAccessDenied});
  EXPECT_EQ(FindFreeNumberedName("C:\\PROF", "????????.???"), nullptr);
  platform::ClearFaultPlan();
}

TEST(InsertMessageParamsTest, Table) {
  const std::string k1020(1020, 'a'), k1023(1023, 'a');
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

#ifndef _WIN32
// The message box owner, the log descriptor and the second process below are the POSIX build's;
// the Windows build checks the messages through the platform contract.

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
  EXPECT_EQ(box + testkit::ReadHostFile(machine.root() + "/setup.log"), log + "\r\n");
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
    const std::string content = testkit::ReadHostFile(path);
    for (size_t at = 0; at < content.size();) {
      const std::string line = (content[at] == 'A' ? a : b) + "\r\n";
      ASSERT_EQ(content.compare(at, line.size(), line), 0) << "broken line at byte " << at;
      at += line.size();
    }
    EXPECT_EQ(content.size(), kLines * (a.size() + b.size() + 4)) << shared;
  }
}
#endif  // _WIN32

}  // namespace
}  // namespace qz7::util
