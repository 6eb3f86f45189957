#include "provision/instance_tool_commands.h"

#include <cstring>
#include <string_view>

namespace qz7::provision {
namespace {

std::string_view Text(const char* text) { return text != nullptr ? text : ""; }

std::string_view PasswordText(const char* password) {
  return (password == nullptr || *password == '\0') ? kEmptyPasswordText : password;
}

void CutToBuffer(std::string& line) {
  if (line.size() > kToolCommandLineSize - 1) line.resize(kToolCommandLineSize - 1);
}

// text as one argument in double quotes, written so that the Windows command-line rules give
// the program exactly text back: a quote is preceded by a backslash, and backslashes are
// doubled where they stand before a quote (one written or the closing one).
std::string Quoted(std::string_view text) {
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : text) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      quoted.append(2 * backslashes + 1, '\\');
    } else {
      quoted.append(backslashes, '\\');
    }
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, '\\');
  quoted += '"';
  return quoted;
}

// The logon option, "/u:ACCOUNT,PASSWORD" in quotes.
std::string LogonOption(const char* account, const char* password) {
  std::string option = "/u:";
  option.append(Text(account)).append(",").append(PasswordText(password));
  return Quoted(option);
}

// "TOOL" with the tool path in double quotes, the start of every command line.
std::string QuotedTool(const char* toolPath) {
  std::string line = "\"";
  line += Text(toolPath);
  line += '"';
  return line;
}

}  // namespace

std::string NodeCreateCommandLine(const char* toolPath, const char* name, const char* nodeNumber,
                                  const char* account, const char* password,
                                  const char* ownerComputer) {
  std::string line = QuotedTool(toolPath);
  line.append(" /i:").append(Text(name));
  line.append(" /n:").append(Text(nodeNumber));
  line.append(" ").append(LogonOption(account, password));
  line.append(" ").append(Quoted(std::string("/O:").append(Text(ownerComputer))));
  CutToBuffer(line);
  return line;
}

std::string PartitionedCommandLine(const char* toolPath, const char* name, const char* modeOption,
                                   const char* account, const char* password,
                                   const char* portRangeStart, const char* portRangeEnd,
                                   const char* hostName) {
  std::string line = QuotedTool(toolPath);
  line.append(" ").append(Text(name));
  line.append(" ").append(Text(modeOption));
  line.append(" ").append(LogonOption(account, password));
  line.append(" /r:").append(Text(portRangeStart)).append(",").append(Text(portRangeEnd));
  CutToBuffer(line);
  if (!Text(hostName).empty()) {
    line.append(" /h:").append(Text(hostName));
    CutToBuffer(line);
  }
  return line;
}

bool CanCarryAccount(const char* account) {
  return Text(account).find(',') == std::string_view::npos;
}

void MaskPassword(std::string& commandLine, const char* password) {
  const std::string_view secret = Text(password);
  if (secret.empty()) return;
  // The password as it stands in the line (escaped, before the closing quote of its option)
  // and as it was given; each found anywhere in the line is hidden.
  std::string written = Quoted(secret);
  written = written.substr(1, written.size() - 2);
  for (const std::string_view hidden : {std::string_view(written), secret}) {
    for (size_t at = commandLine.find(hidden); at != std::string::npos;
         at = commandLine.find(hidden, at + hidden.size())) {
      commandLine.replace(at, hidden.size(), hidden.size(), '*');
    }
  }
}

}  // namespace qz7::provision
