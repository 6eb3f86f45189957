// The command table of qz7inst. Each command lives in its own source file and registers
// itself with a static QZ7_COMMAND object; main.cc parses the global options and dispatches.
//
// Exit-status contract: a command that calls a library operation prints "result: N" (the
// operation's signed result) as its last line of standard output and exits 0 when N is 0,
// 1 otherwise; a usage error prints a message on standard error and exits 2.
#ifndef QZ7_TOOLS_QZ7INST_COMMAND_H_
#define QZ7_TOOLS_QZ7INST_COMMAND_H_

#include <cstdio>
#include <string>
#include <vector>

namespace qz7::cli {

struct Invocation {
  std::vector<std::string> args;  // the words after the command name
  bool json = false;              // --json was given
  std::string machine;            // the machine root in force (host directory)
  FILE* out = stdout;
  FILE* err = stderr;
};

using CommandFunction = int (*)(Invocation& invocation);

struct Command {
  const char* name;
  const char* usage;    // e.g. "validate CONFIG TOKEN=VALUE..."
  const char* summary;  // one line for --help
  CommandFunction run;
};

// Registers a command at static-initialisation time.
struct CommandRegistration {
  explicit CommandRegistration(const Command& command);
};

const std::vector<Command>& Commands();
const Command* FindCommand(const std::string& name);

// Prints "result: N" and returns the exit status for it (0 when N is 0, else 1).
int FinishWithResult(Invocation& invocation, int result);
// Prints "qz7inst: <message>" and the command's usage on standard error; returns 2.
int UsageError(Invocation& invocation, const Command& command, const std::string& message);

// Parses a decimal integer (optional sign); false when the text is not one.
bool ParseInteger(const std::string& text, long long* value);

}  // namespace qz7::cli

#define QZ7_COMMAND_CONCAT_(a, b) a##b
#define QZ7_COMMAND_CONCAT(a, b) QZ7_COMMAND_CONCAT_(a, b)
#define QZ7_COMMAND(...)                                           \
  static const ::qz7::cli::CommandRegistration QZ7_COMMAND_CONCAT( \
      qz7CommandRegistration, __LINE__)(::qz7::cli::Command{__VA_ARGS__})

#endif  // QZ7_TOOLS_QZ7INST_COMMAND_H_
