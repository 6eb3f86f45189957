// qz7inst create / delete: the setup program's two calls, createInstances and
// deleteInstances, with the caller's log file, message module and message-box owner.
//
//   create [--check] --install DIR [--current DIR] [--requested DIR] [--log FILE]
//          [--messages FILE] [--quiet] [INSTANCE...]
//
// With --check, create changes nothing: it prints what the run would do and what would stop
// it (create_check.h). Without it, a line is printed as each instance's step starts and ends
// (unless --quiet), so that a long run shows where it is.
//   delete --install DIR [--profile DIR] [--log FILE] [--messages FILE] [--quiet]
//
// An INSTANCE is NAME followed by ":key=value" or ":flag" parts: account=, password=,
// default, admin, ports=START-END and host= (a partitioned instance), node=N and owner=PC
// (this computer joins another computer's partitioned instance).
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "entry/setup_progress.h"
#include "platform/machine_root.h"
#include "platform/messages.h"
#include "qz7instm.h"
#include "tools/qz7inst/command.h"
#include "tools/qz7inst/create_check.h"
#include "tools/sample/caller_host.h"

namespace qz7::cli {
namespace {

struct SetupOptions {
  std::string install, current, requested, profile, log, messages;
  bool quiet = false;
  bool check = false;
  std::vector<std::string> instances;
};

// Message boxes of the library, shown on the terminal.
int PrintMessageBox(void* userData, const char* text, const char* title, unsigned style) {
  FILE* out = static_cast<FILE*>(userData);
  const char* kind = (style & 0x10) != 0 ? "stop" : (style & 0x40) != 0 ? "information" : "note";
  std::fprintf(out, "[%s] %s: %s\n", kind, title, text);
  return 1;
}

void CopyField(char* field, size_t size, const std::string& value) {
  std::memset(field, 0, size);
  std::memcpy(field, value.data(), std::min(value.size(), size - 1));
}

// Fills a descriptor from NAME[:part]...; false with a message for an unknown part.
bool ParseInstance(const std::string& text, InstanceDescriptor* d, std::string* error) {
  std::memset(d, 0, sizeof *d);
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t colon; (colon = text.find(':', start)) != std::string::npos; start = colon + 1) {
    parts.push_back(text.substr(start, colon - start));
  }
  parts.push_back(text.substr(start));
  CopyField(d->name, sizeof d->name, parts[0]);
  for (size_t i = 1; i < parts.size(); ++i) {
    const std::string& part = parts[i];
    const size_t equals = part.find('=');
    const std::string key = part.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : part.substr(equals + 1);
    if (key == "account") {
      CopyField(d->account, sizeof d->account, value);
    } else if (key == "password") {
      CopyField(d->password, sizeof d->password, value);
    } else if (key == "default") {
      d->makeDefault = 1;
    } else if (key == "admin") {
      d->isAdminServer = 1;
    } else if (key == "ports") {
      const size_t dash = value.find('-');
      d->kind = 4;
      CopyField(d->portRangeStart, sizeof d->portRangeStart, value.substr(0, dash));
      CopyField(d->portRangeEnd, sizeof d->portRangeEnd,
                dash == std::string::npos ? "" : value.substr(dash + 1));
    } else if (key == "host") {
      d->kind = 4;
      CopyField(d->hostName, sizeof d->hostName, value);
    } else if (key == "node") {
      d->isAddedNode = 1;
      CopyField(d->nodeNumber, sizeof d->nodeNumber, value);
    } else if (key == "owner") {
      d->isAddedNode = 1;
      CopyField(d->ownerComputer, sizeof d->ownerComputer, value);
    } else {
      *error = "unknown instance part '" + part + "' in '" + text + "'";
      return false;
    }
  }
  return true;
}

// Parses the options shared by create and delete; false with a message on a usage error.
bool ParseSetupOptions(const std::vector<std::string>& args, bool forCreate, SetupOptions* options,
                       std::string* error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    std::string* target = nullptr;
    if (word == "--install") target = &options->install;
    if (word == "--log") target = &options->log;
    if (word == "--messages") target = &options->messages;
    if (forCreate && word == "--current") target = &options->current;
    if (forCreate && word == "--requested") target = &options->requested;
    if (!forCreate && word == "--profile") target = &options->profile;
    if (target != nullptr) {
      if (i + 1 >= args.size()) {
        *error = word + " needs a value";
        return false;
      }
      *target = args[++i];
    } else if (word == "--quiet") {
      options->quiet = true;
    } else if (forCreate && word == "--check") {
      options->check = true;
    } else if (word.rfind("--", 0) == 0 || !forCreate) {
      *error = "unexpected argument '" + word + "'";
      return false;
    } else {
      options->instances.push_back(word);
    }
  }
  if (options->install.empty()) {
    *error = "--install is required";
    return false;
  }
  return true;
}

// One line as an instance's step starts or ends.
void PrintProgress(void* userData, const entry::SetupProgressEvent& event) {
  FILE* out = static_cast<FILE*>(userData);
  const char* stage =
      event.stage == entry::SetupStage::kCreateOrUpdate ? "create or update" : "upgrade";
  if (event.starting) {
    std::fprintf(out, "%s %s ...\n", event.instance, stage);
  } else if (event.result == 0 && event.untouched) {
    // The step's result is 0 by definition, but nothing was done: not "done".
    std::fprintf(out, "%s %s: not done, left as it was (its qz7systm could not be saved first)\n",
                 event.instance, stage);
  } else if (event.result == 0) {
    std::fprintf(out, "%s %s: done\n", event.instance, stage);
  } else {
    std::fprintf(out, "%s %s: failed (%d)\n", event.instance, stage, event.result);
  }
  std::fflush(out);
}

// The caller's handles: log file, message module and terminal owner, released at the end.
class CallerHandles {
 public:
  explicit CallerHandles(Invocation& invocation) : terminal_(&PrintMessageBox, invocation.out) {}
  bool Open(const SetupOptions& options, std::string* error) {
    std::string modulePath = options.messages;
    if (modulePath.empty()) {
      // The installation's own message module, when it has one.
      auto host = platform::HostPathOf(
          (options.install + "\\msg\\prime\\" + sample::SetupMessageModuleName()).c_str());
      std::error_code ignored;
      if (host && std::filesystem::is_regular_file(*host, ignored)) modulePath = *host;
    }
    if (!modulePath.empty()) {
      module_ = platform::LoadMessageModule(modulePath);
      if (module_ == nullptr) {
        *error = "cannot load the message module " + modulePath;
        return false;
      }
    }
    if (!options.log.empty() && !log_.Open(options.log, false)) {
      *error = "cannot open the log file " + options.log;
      return false;
    }
    quiet_ = options.quiet;
    return true;
  }
  ~CallerHandles() { platform::FreeMessageModule(module_); }
  QZ7_LOG_FILE log() { return log_.handle(); }
  QZ7_MODULE module() { return module_; }
  QZ7_OWNER owner() { return quiet_ ? nullptr : terminal_.owner(); }

 private:
  QZ7_MODULE module_ = nullptr;
  sample::CallerLogFile log_;
  sample::TerminalOwner terminal_;
  bool quiet_ = false;
};

int RunCreate(Invocation& invocation) {
  const Command& self = *FindCommand("create");
  SetupOptions options;
  std::string error;
  if (!ParseSetupOptions(invocation.args, true, &options, &error)) {
    return UsageError(invocation, self, error);
  }
  std::vector<InstanceDescriptor> descriptors(options.instances.size());
  std::vector<InstanceDescriptor*> pointers;
  for (size_t i = 0; i < options.instances.size(); ++i) {
    if (!ParseInstance(options.instances[i], &descriptors[i], &error)) {
      return UsageError(invocation, self, error);
    }
    pointers.push_back(&descriptors[i]);
  }
  if (options.check) {
    return RunCreateCheck(invocation, options.current, options.requested, options.install,
                          pointers);
  }
  pointers.push_back(nullptr);
  CallerHandles handles(invocation);
  if (!handles.Open(options, &error)) {
    std::fprintf(invocation.err, "qz7inst: %s\n", error.c_str());
    return 1;
  }
  std::fflush(invocation.out);
  if (!options.quiet) entry::SetSetupProgressObserver(&PrintProgress, invocation.out);
  const int result =
      createInstances(options.current.c_str(), options.requested.c_str(), options.install.c_str(),
                      pointers.data(), handles.log(), handles.module(), handles.owner());
  entry::SetSetupProgressObserver(nullptr, nullptr);
  return FinishWithResult(invocation, result);
}

int RunDelete(Invocation& invocation) {
  const Command& self = *FindCommand("delete");
  SetupOptions options;
  std::string error;
  if (!ParseSetupOptions(invocation.args, false, &options, &error)) {
    return UsageError(invocation, self, error);
  }
  CallerHandles handles(invocation);
  if (!handles.Open(options, &error)) {
    std::fprintf(invocation.err, "qz7inst: %s\n", error.c_str());
    return 1;
  }
  std::fflush(invocation.out);
  deleteInstances(options.profile.c_str(), options.install.c_str(), handles.log(), handles.module(),
                  handles.owner());
  // deleteInstances reports nothing; reaching here is its only outcome.
  return FinishWithResult(invocation, 0);
}

}  // namespace

QZ7_COMMAND("create",
            "create [--check] --install DIR [--current DIR] [--requested DIR] [--log FILE] "
            "[--messages FILE] [--quiet] [NAME[:account=A][:password=P][:default][:admin]"
            "[:ports=S-E][:host=H][:node=N][:owner=PC]...]",
            "createInstances: set up the instances of an installation; --check: what it would do "
            "and what would stop it, changing nothing (exit 1 when something would)",
            &RunCreate);
QZ7_COMMAND("delete",
            "delete --install DIR [--profile DIR] [--log FILE] [--messages FILE] [--quiet]",
            "deleteInstances: remove every instance and the profile registry", &RunDelete);

}  // namespace qz7::cli
