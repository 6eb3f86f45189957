// qz7inst: runs the operations of the instance-management library from a shell.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/machine_root.h"
#include "tools/qz7inst/command.h"

namespace {

void PrintHelp(FILE* out) {
  std::fprintf(out,
               "usage: qz7inst [--machine DIR] [--json] COMMAND [ARGS...]\n\n"
               "Paths are Windows paths inside the machine (DIR, or $QZ7_MACHINE).\n\n"
               "commands:\n");
  for (const qz7::cli::Command& command : qz7::cli::Commands()) {
    std::fprintf(out, "  %-44s %s\n", command.usage, command.summary);
  }
}

}  // namespace

int main(int argc, char** argv) {
  qz7::cli::Invocation invocation;
  int i = 1;
  for (; i < argc; ++i) {
    std::string word = argv[i];
    if (word == "--machine") {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "qz7inst: --machine needs a directory\n");
        return 2;
      }
      invocation.machine = argv[++i];
      qz7::platform::SetMachineRoot(invocation.machine);
    } else if (word.rfind("--machine=", 0) == 0) {
      invocation.machine = word.substr(std::strlen("--machine="));
      qz7::platform::SetMachineRoot(invocation.machine);
    } else if (word == "--json") {
      invocation.json = true;
    } else if (word == "--help" || word == "-h") {
      PrintHelp(stdout);
      return 0;
    } else {
      break;
    }
  }
  if (i >= argc) {
    PrintHelp(stderr);
    return 2;
  }
  const qz7::cli::Command* command = qz7::cli::FindCommand(argv[i]);
  if (command == nullptr) {
    std::fprintf(stderr, "qz7inst: unknown command '%s' (see qz7inst --help)\n", argv[i]);
    return 2;
  }
  for (++i; i < argc; ++i) {
    std::string word = argv[i];
    if (word == "--json") {
      invocation.json = true;
    } else if (word == "--help") {
      std::fprintf(stdout, "usage: qz7inst [--machine DIR] %s\n  %s\n", command->usage,
                   command->summary);
      return 0;
    } else {
      invocation.args.push_back(word);
    }
  }
  if (invocation.machine.empty()) invocation.machine = qz7::platform::MachineRoot();
  return command->run(invocation);
}
