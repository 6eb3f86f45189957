#include <windows.h>

#include <cstring>
#include <map>
#include <thread>

#include "testkit/tool_runner.h"

namespace qz7::testkit {
namespace {

// One argument quoted so that the child's C runtime splits it back exactly: backslashes are
// doubled only where a quote follows them.
void AppendQuotedArgument(const std::string& arg, std::string* line) {
  if (!line->empty()) *line += ' ';
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
    *line += arg;
    return;
  }
  *line += '"';
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    line->append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    *line += c;
  }
  line->append(backslashes * 2, '\\');
  *line += '"';
}

// This process's environment with the given variables set, as CreateProcess takes it.
std::string EnvironmentBlock(const std::vector<std::pair<std::string, std::string>>& extra) {
  std::map<std::string, std::string> variables;
  char* strings = GetEnvironmentStringsA();
  for (const char* entry = strings; entry != nullptr && *entry != '\0';
       entry += std::strlen(entry) + 1) {
    const char* equals = std::strchr(entry + 1, '=');  // "=C:=C:\" names start with '='
    if (equals != nullptr) variables[std::string(entry, equals)] = equals + 1;
  }
  if (strings != nullptr) FreeEnvironmentStringsA(strings);
  for (const auto& [name, value] : extra) variables[name] = value;
  std::string block;
  for (const auto& [name, value] : variables) block += name + "=" + value + '\0';
  block += '\0';
  return block;
}

void Drain(HANDLE pipe, std::string* sink) {
  char buffer[4096];
  DWORD count = 0;
  while (ReadFile(pipe, buffer, sizeof buffer, &count, nullptr) && count > 0)
    sink->append(buffer, count);
}

}  // namespace

std::string ToolRun::LastLine() const {
  std::string text = out;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  const size_t start = text.rfind('\n');
  return start == std::string::npos ? text : text.substr(start + 1);
}

ToolRun RunTool(const std::string& program, const std::vector<std::string>& args,
                const std::vector<std::pair<std::string, std::string>>& environment) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
  if (!CreatePipe(&outRead, &outWrite, &inherit, 0)) return {};
  if (!CreatePipe(&errRead, &errWrite, &inherit, 0)) {
    CloseHandle(outRead);
    CloseHandle(outWrite);
    return {};
  }
  // Only the writing ends go to the child.
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  std::string line;
  AppendQuotedArgument(program, &line);
  for (const std::string& arg : args) AppendQuotedArgument(arg, &line);
  std::string block = EnvironmentBlock(environment);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  PROCESS_INFORMATION process{};
  const bool started = CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0,
                                      block.data(), nullptr, &startup, &process);
  CloseHandle(outWrite);
  CloseHandle(errWrite);
  ToolRun run;
  if (started) {
    // Both pipes are read as the child writes, so that neither can fill up and stop it.
    std::thread errReader(Drain, errRead, &run.err);
    Drain(outRead, &run.out);
    errReader.join();
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    if (GetExitCodeProcess(process.hProcess, &code)) run.exitCode = static_cast<int>(code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(outRead);
  CloseHandle(errRead);
  return run;
}

}  // namespace qz7::testkit
