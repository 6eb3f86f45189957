#include "tools/qz7inst/command.h"

#include <cerrno>
#include <cstdlib>

namespace qz7::cli {
namespace {

std::vector<Command>& Table() {
  static std::vector<Command> table;
  return table;
}

}  // namespace

CommandRegistration::CommandRegistration(const Command& command) { Table().push_back(command); }

const std::vector<Command>& Commands() { return Table(); }

const Command* FindCommand(const std::string& name) {
  for (const Command& command : Table()) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

int FinishWithResult(Invocation& invocation, int result) {
  std::fprintf(invocation.out, "result: %d\n", result);
  std::fflush(invocation.out);
  return result == 0 ? 0 : 1;
}

int UsageError(Invocation& invocation, const Command& command, const std::string& message) {
  std::fprintf(invocation.err, "qz7inst: %s\nusage: qz7inst [--machine DIR] %s\n", message.c_str(),
               command.usage);
  return 2;
}

bool ParseInteger(const std::string& text, long long* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long long parsed = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0') return false;
  *value = parsed;
  return true;
}

}  // namespace qz7::cli
