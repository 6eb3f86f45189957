// The caller's side of setup messages for tests: a message module holding the English texts
// of every message the library shows, a log file, and an owner that records each box.
//
//   MessageRecorder messages;             // host files below a fresh temporary directory
//   RunSomething(messages.logFile(), messages.module(), messages.owner());
//   EXPECT_THAT(messages.boxes(), ElementsAre(MessageRecorder::Box{3608, {"-10"}, 0}));
//   EXPECT_EQ(messages.LogLines(), ...);
//
// On POSIX the owner is a callback that gets every box. On Windows the owner is a window, and
// a box on a real window waits for a person (and needs a display, which a test run has not):
// there the owner is a token that no window has, and this program's import of MessageBoxA is
// pointed at the recorder, which records the boxes shown to its token and hands any other on.
#ifndef QZ7_TESTKIT_MESSAGE_RECORDER_H_
#define QZ7_TESTKIT_MESSAGE_RECORDER_H_

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "qz7instm.h"
#include "tools/sample/caller_host.h"

namespace qz7::testkit {

class MessageRecorder {
 public:
  // A shown box, identified by the message number whose text (filled with params) it shows.
  struct Box {
    unsigned id = 0;  // 0 when the text matches no known message
    std::vector<std::string> params;
    unsigned style = 0;
    std::string text;  // as shown; not compared
    bool operator==(const Box& other) const {
      return id == other.id && params == other.params && style == other.style;
    }
  };

  MessageRecorder();
  ~MessageRecorder();
  MessageRecorder(const MessageRecorder&) = delete;
  MessageRecorder& operator=(const MessageRecorder&) = delete;

  QZ7_LOG_FILE logFile() { return log_->handle(); }
  QZ7_MODULE module() const { return module_; }
  QZ7_OWNER owner();

  // Boxes shown so far, with the message each one shows and the parameters it was filled
  // with (found by matching the shown text against every known message).
  const std::vector<Box>& boxes() const { return boxes_; }
  void Clear() { boxes_.clear(); }
  // The log file's lines (CR LF ends removed).
  std::vector<std::string> LogLines() const;

 private:
  static int OnBox(void* self, const char* text, const char* title, unsigned style);

  std::string directory_;
  std::unique_ptr<sample::CallerLogFile> log_;
  QZ7_MODULE module_ = nullptr;
#if !defined(_WIN32)
  qz7_owner_window owner_{};
#endif
  std::vector<Box> boxes_;
};

void PrintTo(const MessageRecorder::Box& box, std::ostream* out);

}  // namespace qz7::testkit

#endif  // QZ7_TESTKIT_MESSAGE_RECORDER_H_
