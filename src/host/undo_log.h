// Steps that take back what a multi-step change did, run in reverse order when the log goes
// out of scope unless the change got to its end and committed: a create that fails half-way
// leaves nothing behind.
#ifndef QZ7_HOST_UNDO_LOG_H_
#define QZ7_HOST_UNDO_LOG_H_

#include <functional>
#include <utility>
#include <vector>

namespace qz7::host {

class UndoLog {
 public:
  UndoLog() = default;
  UndoLog(const UndoLog&) = delete;
  UndoLog& operator=(const UndoLog&) = delete;
  ~UndoLog() {
    for (auto step = steps_.rbegin(); step != steps_.rend(); ++step) (*step)();
  }
  void Add(std::function<void()> step) { steps_.push_back(std::move(step)); }
  void Commit() { steps_.clear(); }

 private:
  std::vector<std::function<void()>> steps_;
};

}  // namespace qz7::host

#endif  // QZ7_HOST_UNDO_LOG_H_
