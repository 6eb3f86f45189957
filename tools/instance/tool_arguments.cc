#include "tools/instance/tool_arguments.h"

#include <cctype>
#include <string_view>

#include "host/instance_lifecycle.h"
#include "platform/windows_path.h"

namespace qz7::instance_tools {
namespace {

constexpr size_t kMaxNodeDigits = 3;
constexpr size_t kMaxComputerName = 15;
constexpr size_t kMaxHostName = 255;
constexpr int kMaxPort = 65535;

// The value of an option "/x:VALUE" when word starts with prefix (letters compared without
// regard to case).
bool TakeOption(std::string_view word, std::string_view prefix, std::string* value) {
  if (word.size() < prefix.size() ||
      !platform::NamesEqualIgnoreCase(std::string(word.substr(0, prefix.size())),
                                      std::string(prefix))) {
    return false;
  }
  *value = std::string(word.substr(prefix.size()));
  return true;
}

bool IsDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

std::string ParseLogon(const std::string& value, ServiceLogon* logon) {
  const size_t comma = value.find(',');
  if (comma == std::string::npos) return "/u: needs ACCOUNT,PASSWORD";
  logon->account = value.substr(0, comma);
  logon->password = value.substr(comma + 1);
  if (logon->password == ",") logon->password.clear();
  return "";
}

std::string ParsePort(const std::string& text, int* port) {
  if (!IsDigits(text) || text.size() > 5 || std::stoi(text) < 1 || std::stoi(text) > kMaxPort) {
    return "'" + text + "' is not a port number (1 to 65535)";
  }
  *port = std::stoi(text);
  return "";
}

std::string ParsePortRange(const std::string& value, PartitionedArguments* arguments) {
  const size_t comma = value.find(',');
  if (comma == std::string::npos) return "/r: needs FIRST,LAST";
  if (std::string error = ParsePort(value.substr(0, comma), &arguments->firstPort);
      !error.empty()) {
    return error;
  }
  if (std::string error = ParsePort(value.substr(comma + 1), &arguments->lastPort);
      !error.empty()) {
    return error;
  }
  if (arguments->firstPort > arguments->lastPort) return "the port range ends before it starts";
  return "";
}

std::string CheckName(const std::string& name) {
  if (!host::IsValidInstanceName(name)) {
    return "'" + name + "' is not an instance name (1 to 8 letters, digits, @, #, $ or _)";
  }
  return "";
}

// Marks an option as seen; false when it was seen before.
bool FirstTime(bool* seen) {
  if (*seen) return false;
  *seen = true;
  return true;
}

}  // namespace

std::string ParsePartitionedArguments(int argc, const char* const* argv,
                                      PartitionedArguments* arguments) {
  bool haveName = false, haveLogon = false, haveRange = false, haveHost = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view word = argv[i];
    std::string value;
    if (word.empty()) continue;  // an empty text between options is no argument
    if (TakeOption(word, "/mpp", &value) && value.empty()) {
      if (!FirstTime(&arguments->partitionedOption)) return "/mpp given twice";
    } else if (TakeOption(word, "/u:", &value)) {
      if (!FirstTime(&haveLogon)) return "/u: given twice";
      if (std::string error = ParseLogon(value, &arguments->logon); !error.empty()) return error;
    } else if (TakeOption(word, "/r:", &value)) {
      if (!FirstTime(&haveRange)) return "/r: given twice";
      if (std::string error = ParsePortRange(value, arguments); !error.empty()) return error;
    } else if (TakeOption(word, "/h:", &value)) {
      if (!FirstTime(&haveHost)) return "/h: given twice";
      if (value.empty() || value.size() > kMaxHostName) return "/h: needs a host name";
      arguments->hostName = value;
    } else if (word[0] == '/') {
      return "unknown option '" + std::string(word) + "'";
    } else {
      if (!FirstTime(&haveName)) return "more than one instance name";
      arguments->name = std::string(word);
      if (std::string error = CheckName(arguments->name); !error.empty()) return error;
    }
  }
  if (!haveName) return "the instance name is missing";
  if (!haveLogon) return "/u:ACCOUNT,PASSWORD is missing";
  if (!haveRange) return "/r:FIRST,LAST is missing";
  return "";
}

std::string ParseNodeArguments(int argc, const char* const* argv, NodeArguments* arguments) {
  bool haveName = false, haveNode = false, haveLogon = false, haveOwner = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view word = argv[i];
    std::string value;
    if (TakeOption(word, "/i:", &value)) {
      if (!FirstTime(&haveName)) return "/i: given twice";
      if (std::string error = CheckName(value); !error.empty()) return error;
      arguments->name = value;
    } else if (TakeOption(word, "/n:", &value)) {
      if (!FirstTime(&haveNode)) return "/n: given twice";
      if (!IsDigits(value) || value.size() > kMaxNodeDigits) {
        return "'" + value + "' is not a node number (0 to 999)";
      }
      arguments->node = value;
    } else if (TakeOption(word, "/u:", &value)) {
      if (!FirstTime(&haveLogon)) return "/u: given twice";
      if (std::string error = ParseLogon(value, &arguments->logon); !error.empty()) return error;
    } else if (TakeOption(word, "/o:", &value)) {
      if (!FirstTime(&haveOwner)) return "/O: given twice";
      if (value.empty() || value.size() > kMaxComputerName || value.find('\\') != value.npos) {
        return "/O: needs the owner's computer name (1 to 15 characters)";
      }
      arguments->owner = value;
    } else {
      return "unexpected argument '" + std::string(word) + "'";
    }
  }
  if (!haveName) return "/i:NAME is missing";
  if (!haveNode) return "/n:NODE is missing";
  if (!haveLogon) return "/u:ACCOUNT,PASSWORD is missing";
  if (!haveOwner) return "/O:OWNER is missing";
  return "";
}

}  // namespace qz7::instance_tools
