#include "testkit/recording_host.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "host/host_files.h"

namespace qz7::testkit {

namespace h = qz7::host;

namespace {

std::string Text(const char* text) {
  return text == nullptr ? std::string("null") : std::string("\"") + text + "\"";
}

std::string Out(size_t size) { return "<out:" + std::to_string(size) + ">"; }

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string Join(std::initializer_list<std::string> parts) {
  std::string joined;
  for (const std::string& part : parts) {
    if (!joined.empty()) joined += ", ";
    joined += part;
  }
  return joined;
}

bool CopyOut(const std::string& text, char* out, size_t capacity) {
  if (text.size() >= capacity) {
    if (capacity > 0) out[0] = '\0';
    return false;
  }
  std::memcpy(out, text.c_str(), text.size() + 1);
  return true;
}

bool IsInstanceName(const std::string& name, const std::string& charset) {
  if (name.empty() || name.size() > 8) return false;
  return std::all_of(name.begin(), name.end(),
                     [&](char c) { return charset.find(c) != std::string::npos; });
}

}  // namespace

RecordingHost::RecordingHost() = default;

std::vector<std::string> RecordingHost::CallsTo(const std::string& operation) const {
  std::vector<std::string> lines;
  std::string prefix = operation + "(";
  for (const std::string& line : calls_) {
    if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
  }
  return lines;
}

int RecordingHost::CountOf(const std::string& operation) const {
  return static_cast<int>(CallsTo(operation).size());
}

void RecordingHost::ScriptResult(const std::string& operation, int result) {
  scripted_[operation] = result;
}

void RecordingHost::QueueResult(const std::string& operation, int result) {
  queued_[operation].push_back(result);
}

void RecordingHost::ClearScripts() {
  scripted_.clear();
  queued_.clear();
}

std::optional<int> RecordingHost::Record(const std::string& operation,
                                         const std::string& arguments) {
  calls_.push_back(operation + "(" + arguments + ")");
  auto queue = queued_.find(operation);
  if (queue != queued_.end() && !queue->second.empty()) {
    int result = queue->second.front();
    queue->second.pop_front();
    return result;
  }
  auto fixed = scripted_.find(operation);
  if (fixed != scripted_.end()) return fixed->second;
  return std::nullopt;
}

// --- the in-memory profile registry ---

RecordingHost::Profile* RecordingHost::FindProfile(const std::string& name) {
  for (Profile& profile : profiles_) {
    if (h::EqualsNoCase(profile.name, name)) return &profile;
  }
  return nullptr;
}

const RecordingHost::Profile* RecordingHost::FindProfile(const std::string& name) const {
  return const_cast<RecordingHost*>(this)->FindProfile(name);
}

void RecordingHost::DefineInstance(const std::string& name) {
  if (FindProfile(name) == nullptr) profiles_.push_back(Profile{name, {}, {}});
}

void RecordingHost::UndefineInstance(const std::string& name) {
  profiles_.erase(std::remove_if(profiles_.begin(), profiles_.end(),
                                 [&](const Profile& p) { return h::EqualsNoCase(p.name, name); }),
                  profiles_.end());
}

bool RecordingHost::IsDefined(const std::string& name) const {
  return FindProfile(name) != nullptr;
}

std::vector<std::string> RecordingHost::Instances() const {
  std::vector<std::string> names;
  for (const Profile& profile : profiles_) names.push_back(profile.name);
  return names;
}

void RecordingHost::AddNode(const std::string& instance, const std::string& node) {
  DefineInstance(instance);
  FindProfile(instance)->nodes.push_back(node);
}

std::vector<std::string> RecordingHost::Nodes(const std::string& instance) const {
  const Profile* profile = FindProfile(instance);
  return profile != nullptr ? profile->nodes : std::vector<std::string>();
}

void RecordingHost::SetVariable(const char* profile, const std::string& variable,
                                const std::string& value) {
  if (profile == nullptr) {
    defaultLevel_[Upper(variable)] = value;
    return;
  }
  Variables* level = WritableLevel(profile);
  if (level == nullptr) {
    DefineInstance(profile);
    level = WritableLevel(profile);
  }
  (*level)[Upper(variable)] = value;
}

std::optional<std::string> RecordingHost::Variable(const char* profile,
                                                   const std::string& variable) const {
  std::string key = Upper(variable);
  std::vector<const Variables*> levels;
  if (profile == nullptr) {
    levels = {&global_, &defaultLevel_};
  } else if (h::EqualsNoCase(profile, h::kGlobalProfile)) {
    levels = {&global_};
  } else if (const Profile* instance = FindProfile(profile)) {
    levels = {&instance->variables};
  }
  for (const Variables* level : levels) {
    auto found = level->find(key);
    if (found != level->end()) return found->second;
  }
  return std::nullopt;
}

RecordingHost::Variables* RecordingHost::WritableLevel(const char* profile) {
  if (profile == nullptr || h::EqualsNoCase(profile, h::kGlobalProfile)) return &global_;
  Profile* instance = FindProfile(profile);
  return instance != nullptr ? &instance->variables : nullptr;
}

int RecordingHost::NextName(size_t* cursor, char* out, size_t capacity) const {
  if (*cursor >= profiles_.size()) return h::kEndOfList;
  const std::string& name = profiles_[(*cursor)++].name;
  return CopyOut(name, out, capacity) ? 0 : h::kBufferTooSmall;
}

// --- HostServices ---

int RecordingHost::PRegProfilePE(int op, char* text, int node) {
  bool output = op == h::kProfileFirst || op == h::kProfileNext;
  std::string argument = output ? Out(256) : Text(text);
  if (auto result =
          Record("PRegProfilePE", Join({std::to_string(op), argument, std::to_string(node)}))) {
    return *result;
  }
  if (node != -1) return h::kBadArgument;
  switch (op) {
    case h::kProfileFirst:
    case h::kProfileNext:
      if (text == nullptr) return h::kBadArgument;
      if (op == h::kProfileFirst) profileCursor_ = 0;
      return NextName(&profileCursor_, text, 256);
    case h::kProfileIsDefined:
      if (text == nullptr) return h::kBadArgument;
      return IsDefined(text) ? 0 : h::kNotFound;
    case h::kProfileRemoveAll:
      profiles_.clear();
      global_.clear();
      defaultLevel_.clear();
      installDir_.clear();
      instanceProfileDir_.clear();
      registryRemoved_ = true;
      return 0;
    case h::kProfileSetInstall:
    case h::kProfileSetInstanceDir: {
      std::string directory = h::StripQuotes(text);
      if (directory.empty()) return h::kBadArgument;
      (op == h::kProfileSetInstall ? installDir_ : instanceProfileDir_) = directory;
      return 0;
    }
    default:
      return h::kBadArgument;
  }
}

int RecordingHost::PRegValuePE(int op, int variable, const char* variableName, char* value,
                               size_t valueSize, const char* profile, int node) {
  std::string valueText = op == h::kValueRead ? Out(valueSize) : Text(value);
  if (auto result = Record("PRegValuePE",
                           Join({std::to_string(op), std::to_string(variable), Text(variableName),
                                 valueText, Text(profile), std::to_string(node)}))) {
    return *result;
  }
  if (op == h::kValueRead && value != nullptr && valueSize > 0) value[0] = '\0';
  if (node != -1) return h::kBadArgument;
  return ApplyValue(op, variableName != nullptr ? variableName : h::ProfileVariableName(variable),
                    value, valueSize, profile);
}

int RecordingHost::ApplyValue(int op, const char* name, char* value, size_t valueSize,
                              const char* profile) {
  if (name == nullptr || name[0] == '\0') return h::kBadArgument;
  switch (op) {
    case h::kValueRead: {
      if (value == nullptr || valueSize == 0) return h::kBadArgument;
      if (profile != nullptr && !h::EqualsNoCase(profile, h::kGlobalProfile) &&
          !IsDefined(profile)) {
        value[0] = '\0';
        return h::kNotFound;
      }
      std::optional<std::string> text = Variable(profile, name);
      if (!text) {
        value[0] = '\0';
        return h::kNotFound;
      }
      return CopyOut(*text, value, valueSize) ? 0 : h::kBufferTooSmall;
    }
    case h::kValueWrite: {
      if (value == nullptr) return h::kBadArgument;
      Variables* level = WritableLevel(profile);
      if (level == nullptr) return h::kNotFound;
      (*level)[Upper(name)] = value;
      return 0;
    }
    case h::kValueRemove: {
      Variables* level = WritableLevel(profile);
      if (level == nullptr) return h::kNotFound;
      return level->erase(Upper(name)) == 1 ? 0 : h::kNotFound;
    }
    default:
      return h::kBadArgument;
  }
}

int RecordingHost::PRegProfile(int op, char* name) {
  if (auto result = Record("PRegProfile", Join({std::to_string(op), Out(260)}))) return *result;
  if (name == nullptr) return h::kBadArgument;
  if (op == h::kProfileFirst) {
    instanceCursor_ = 0;
  } else if (op != h::kProfileNext) {
    return h::kBadArgument;
  }
  return NextName(&instanceCursor_, name, 260);
}

int RecordingHost::PRegValue(int op, int variable, int reserved, char* value, size_t valueSize,
                             const char* profile) {
  std::string valueText = op == h::kValueRead ? Out(valueSize) : Text(value);
  if (auto result =
          Record("PRegValue", Join({std::to_string(op), std::to_string(variable),
                                    std::to_string(reserved), valueText, Text(profile)}))) {
    return *result;
  }
  if (op == h::kValueRead && value != nullptr && valueSize > 0) value[0] = '\0';
  return ApplyValue(op, h::ProfileVariableName(variable), value, valueSize, profile);
}

int RecordingHost::InstanceCreateExtended(const char* name, const char* profileDir,
                                          const char* installDir, int adminFlag,
                                          const char* account, const char* password,
                                          int serviceFlag, int kindCode, void* reserved) {
  if (auto result =
          Record("InstanceCreateExtended",
                 Join({Text(name), Text(profileDir), Text(installDir), std::to_string(adminFlag),
                       Text(account), Text(password), std::to_string(serviceFlag),
                       std::to_string(kindCode), reserved == nullptr ? "null" : "ptr"}))) {
    return *result;
  }
  if (name == nullptr || !IsInstanceName(name, permittedCharset)) return h::kBadArgument;
  std::string directory = h::StripQuotes(profileDir);
  // A defined instance is updated as the stand-in runtime does: its entry stays, QZ7INSTPROF
  // is set and node "0" added when missing; a failed hook takes back just that.
  bool update = IsDefined(name);
  std::optional<std::string> previous = Variable(name, "QZ7INSTPROF");
  DefineInstance(name);
  FindProfile(name)->variables["QZ7INSTPROF"] = directory;
  bool addNode = kindCode == 4 && adminFlag != 1;
  for (const std::string& node : Nodes(name)) addNode = addNode && !h::EqualsNoCase(node, "0");
  if (addNode) FindProfile(name)->nodes.push_back("0");
  if (onInstanceCreate) {
    int result = onInstanceCreate(name, directory);
    if (result != 0) {
      Profile* profile = FindProfile(name);
      if (!update) {
        UndefineInstance(name);
      } else if (profile != nullptr) {
        if (previous) {
          profile->variables["QZ7INSTPROF"] = *previous;
        } else {
          profile->variables.erase("QZ7INSTPROF");
        }
        auto& nodes = profile->nodes;
        auto added = std::find(nodes.begin(), nodes.end(), "0");
        if (addNode && added != nodes.end()) nodes.erase(added);
      }
      return result;
    }
  }
  return 0;
}

int RecordingHost::InstanceDrop(const char* name, const char* instanceDir) {
  if (auto result = Record("InstanceDrop", Join({Text(name), Text(instanceDir)}))) return *result;
  if (name == nullptr) return h::kBadArgument;
  if (!IsDefined(name)) return h::kNotFound;
  UndefineInstance(name);
  return 0;
}

int RecordingHost::PutEnv(int code, const char* value) {
  if (auto result = Record("PutEnv", Join({std::to_string(code), Text(value)}))) return *result;
  const char* name = h::ProfileVariableName(code);
  if (name == nullptr || value == nullptr) return h::kBadArgument;
  environment[name] = value;
  return 0;
}

int RecordingHost::DeRegisterNTService(const char* serviceName, char* work, int flags) {
  if (auto result = Record(
          "DeRegisterNTService",
          Join({Text(serviceName), work == nullptr ? "null" : Out(512), std::to_string(flags)}))) {
    return *result;
  }
  return serviceName == nullptr ? h::kBadArgument : 0;
}

int RecordingHost::ChangeNTServiceConfig(const char* serviceName, int serviceType, int startType,
                                         int errorControl, int tag, const char* programPath,
                                         const char* loadOrderGroup, const char* dependencies,
                                         const char* account, const char* password,
                                         const char* displayName, int reserved, char* work) {
  if (auto result =
          Record("ChangeNTServiceConfig",
                 Join({Text(serviceName), std::to_string(serviceType), std::to_string(startType),
                       std::to_string(errorControl), std::to_string(tag), Text(programPath),
                       Text(loadOrderGroup), Text(dependencies), Text(account), Text(password),
                       Text(displayName), std::to_string(reserved),
                       work == nullptr ? "null" : Out(512)}))) {
    return *result;
  }
  return serviceName == nullptr ? h::kBadArgument : 0;
}

int RecordingHost::CreateNetworkShare(const char* directory, const char* shareName,
                                      const char* groupName, const char* computerName) {
  if (auto result = Record("CreateNetworkShare", Join({Text(directory), Text(shareName),
                                                       Text(groupName), Text(computerName)}))) {
    return *result;
  }
  if (directory == nullptr || shareName == nullptr) return h::kBadArgument;
  if (shares.count(shareName) != 0) return h::kShareExists;
  shares[shareName] = Share{directory, groupName != nullptr ? groupName : ""};
  return 0;
}

int RecordingHost::DeleteNetworkShare(const char* shareName, const char* computerName) {
  if (auto result = Record("DeleteNetworkShare", Join({Text(shareName), Text(computerName)}))) {
    return *result;
  }
  if (shareName == nullptr) return h::kBadArgument;
  return shares.erase(shareName) == 1 ? 0 : h::kNotFound;
}

int RecordingHost::Cpum(float* speed) {
  if (auto result = Record("Cpum", "")) return *result;
  if (speed == nullptr) return h::kBadArgument;
  *speed = processorSpeed;
  return 0;
}

int RecordingHost::GetCommBandwidth(float* value) {
  if (auto result = Record("GetCommBandwidth", "")) return *result;
  if (value == nullptr) return h::kBadArgument;
  *value = bandwidth;
  return 0;
}

int RecordingHost::GetCPUInfo(h::CpuInfo* info) {
  if (auto result = Record("GetCPUInfo", "")) return *result;
  if (info == nullptr) return h::kBadArgument;
  *info = h::CpuInfo{};
  info->processorCount = processorCount;
  return 0;
}

int RecordingHost::CreateInitAppData(uint32_t flags) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%X", static_cast<unsigned>(flags));
  if (auto result = Record("CreateInitAppData", hex)) return *result;
  initAppDataFlags.push_back(flags);
  return 0;
}

unsigned char* RecordingHost::ControlBlock() {
  Record("ControlBlock", "");
  return controlBlock_.data();
}

const char* RecordingHost::PermittedCharset() {
  Record("PermittedCharset", "");
  return permittedCharset.c_str();
}

int RecordingHost::ProIfInit(unsigned char* block, unsigned char* context) {
  std::string first = block == nullptr ? "null" : std::to_string(block[0]);
  if (auto result = Record("ProIfInit", first)) return *result;
  if (block == nullptr || context == nullptr || block[0] != 3) return h::kBadArgument;
  return 0;
}

int RecordingHost::ProIfQuery(unsigned char* block, unsigned char* context) {
  std::string first = block == nullptr ? "null" : std::to_string(block[0]);
  if (auto result = Record("ProIfQuery", first)) return *result;
  if (block == nullptr || context == nullptr || block[0] != 3) return h::kBadArgument;
  size_t room = h::kProductBlockSize - h::kProductNameOffset;
  std::memset(block + h::kProductNameOffset, 0, room);
  std::memcpy(block + h::kProductNameOffset, productComputerName.data(),
              std::min(productComputerName.size(), room - 1));
  return 0;
}

int RecordingHost::ProIfTerm(unsigned char* block, unsigned char* context) {
  std::string first = block == nullptr ? "null" : std::to_string(block[0]);
  if (auto result = Record("ProIfTerm", first)) return *result;
  return block == nullptr || context == nullptr ? h::kBadArgument : 0;
}

}  // namespace qz7::testkit
