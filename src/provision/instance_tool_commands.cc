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
  line.append(" \"/u:").append(Text(account)).append(",").append(PasswordText(password));
  line.append("\" \"/O:").append(Text(ownerComputer)).append("\"");
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
  line.append(" \"/u:").append(Text(account)).append(",").append(PasswordText(password));
  line.append("\" /r:").append(Text(portRangeStart)).append(",").append(Text(portRangeEnd));
  CutToBuffer(line);
  if (!Text(hostName).empty()) {
    line.append(" /h:").append(Text(hostName));
    CutToBuffer(line);
  }
  return line;
}

void MaskPassword(std::string& commandLine, const char* password) {
  const std::string_view secret = Text(password);
  if (secret.empty()) return;
  for (size_t comma = commandLine.find(','); comma != std::string::npos;
       comma = commandLine.find(',', comma + 1)) {
    if (std::string_view(commandLine).substr(comma + 1, secret.size()) == secret) {
      commandLine.replace(comma + 1, secret.size(), secret.size(), '*');
      return;
    }
  }
}

}  // namespace qz7::provision
