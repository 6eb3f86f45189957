#include "testkit/recording_host.h"

#include <cstdio>

namespace qz7::testkit {

namespace h = qz7::host;

namespace {

std::string Text(const char* text) {
  return text == nullptr ? std::string("null") : std::string("\"") + text + "\"";
}

std::string Out(size_t size) { return "<out:" + std::to_string(size) + ">"; }

// The arguments of a call as its line shows them: numbers as they are, texts quoted (or null),
// a pointer the host does not read as null or ptr, and texts made here (outputs) as given.
std::string Arg(int number) { return std::to_string(number); }
std::string Arg(const char* text) { return Text(text); }
std::string Arg(const void* pointer) { return pointer == nullptr ? "null" : "ptr"; }
std::string Arg(const std::string& made) { return made; }
template <typename... Arguments>
std::string Args(const Arguments&... arguments) {
  std::string joined;
  for (const std::string& part : {Arg(arguments)...}) joined += (joined.empty() ? "" : ", ") + part;
  return joined;
}

std::string First(const unsigned char* block) {
  return block == nullptr ? "null" : std::to_string(block[0]);
}

}  // namespace

std::vector<std::string> RecordingHost::CallsTo(const std::vector<std::string>& operations) const {
  std::vector<std::string> lines;
  for (const std::string& call : calls_) {
    for (const std::string& operation : operations)
      if (call.rfind(operation + "(", 0) == 0) lines.push_back(call);
  }
  return lines;
}

int RecordingHost::Record(const std::string& operation, const std::string& arguments,
                          const std::function<int()>& forward) {
  std::optional<int> forced;
  auto queue = queued_.find(operation);
  if (queue != queued_.end() && !queue->second.empty()) {
    forced = queue->second.front();
    queue->second.pop_front();
  } else if (auto fixed = scripted_.find(operation); fixed != scripted_.end()) {
    forced = fixed->second;
  }
  const int result = forced ? *forced : forward();
  calls_.push_back(operation + "(" + arguments + ")");
  return result;
}

// A call whose line shows its arguments as they are given, forwarded to the real host.
#define QZ7_FORWARD(name, ...) \
  Record(#name, Args(__VA_ARGS__), [&] { return real_.name(__VA_ARGS__); })

int RecordingHost::PRegProfilePE(int op, char* text, int node) {
  const bool output = op == h::kProfileFirst || op == h::kProfileNext;
  return Record("PRegProfilePE", Args(op, output ? Out(256) : Text(text), node),
                [&] { return real_.PRegProfilePE(op, text, node); });
}

int RecordingHost::PRegValuePE(int op, int variable, const char* variableName, char* value,
                               size_t valueSize, const char* profile, int node) {
  const std::string shown = op == h::kValueRead ? Out(valueSize) : Text(value);
  return Record("PRegValuePE", Args(op, variable, variableName, shown, profile, node), [&] {
    return real_.PRegValuePE(op, variable, variableName, value, valueSize, profile, node);
  });
}

int RecordingHost::PRegProfile(int op, char* name) {
  return Record("PRegProfile", Args(op, Out(260)), [&] { return real_.PRegProfile(op, name); });
}

int RecordingHost::PRegValue(int op, int variable, int reserved, char* value, size_t valueSize,
                             const char* profile) {
  const std::string shown = op == h::kValueRead ? Out(valueSize) : Text(value);
  return Record("PRegValue", Args(op, variable, reserved, shown, profile),
                [&] { return real_.PRegValue(op, variable, reserved, value, valueSize, profile); });
}

int RecordingHost::InstanceCreateExtended(const char* name, const char* profileDir,
                                          const char* installDir, int adminFlag,
                                          const char* account, const char* password,
                                          int serviceFlag, int kindCode, void* reserved) {
  return QZ7_FORWARD(InstanceCreateExtended, name, profileDir, installDir, adminFlag, account,
                     password, serviceFlag, kindCode, reserved);
}

int RecordingHost::InstanceDrop(const char* name, const char* instanceDir) {
  return QZ7_FORWARD(InstanceDrop, name, instanceDir);
}

int RecordingHost::PutEnv(int code, const char* value) { return QZ7_FORWARD(PutEnv, code, value); }

int RecordingHost::DeRegisterNTService(const char* serviceName, char* work, int flags) {
  return Record("DeRegisterNTService",
                Args(serviceName, work == nullptr ? "null" : Out(512), flags),
                [&] { return real_.DeRegisterNTService(serviceName, work, flags); });
}

int RecordingHost::ChangeNTServiceConfig(const char* serviceName, int serviceType, int startType,
                                         int errorControl, int tag, const char* programPath,
                                         const char* loadOrderGroup, const char* dependencies,
                                         const char* account, const char* password,
                                         const char* displayName, int reserved, char* work) {
  return Record("ChangeNTServiceConfig",
                Args(serviceName, serviceType, startType, errorControl, tag, programPath,
                     loadOrderGroup, dependencies, account, password, displayName, reserved,
                     work == nullptr ? "null" : Out(512)),
                [&] {
                  return real_.ChangeNTServiceConfig(
                      serviceName, serviceType, startType, errorControl, tag, programPath,
                      loadOrderGroup, dependencies, account, password, displayName, reserved, work);
                });
}

int RecordingHost::CreateNetworkShare(const char* directory, const char* shareName,
                                      const char* groupName, const char* computerName) {
  return QZ7_FORWARD(CreateNetworkShare, directory, shareName, groupName, computerName);
}

int RecordingHost::DeleteNetworkShare(const char* shareName, const char* computerName) {
  return QZ7_FORWARD(DeleteNetworkShare, shareName, computerName);
}

// A measurement: the value the test gave, else the real host's.
#define QZ7_MEASURE(name, given, value)                       \
  Record(#name, "", [&] {                                     \
    if (!given || value == nullptr) return real_.name(value); \
    *value = *given;                                          \
    return 0;                                                 \
  })

int RecordingHost::Cpum(float* speed) { return QZ7_MEASURE(Cpum, processorSpeed, speed); }

int RecordingHost::GetCommBandwidth(float* value) {
  return QZ7_MEASURE(GetCommBandwidth, bandwidth, value);
}

int RecordingHost::GetCPUInfo(h::CpuInfo* info) {
  return Record("GetCPUInfo", "", [&] {
    const int result = real_.GetCPUInfo(info);
    if (result == 0 && processorCount) info->processorCount = *processorCount;
    return result;
  });
}

int RecordingHost::CreateInitAppData(uint32_t flags) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%X", static_cast<unsigned>(flags));
  return Record("CreateInitAppData", hex, [&] { return real_.CreateInitAppData(flags); });
}

unsigned char* RecordingHost::ControlBlock() {
  Record("ControlBlock", "", [] { return 0; });
  return real_.ControlBlock();
}

const char* RecordingHost::PermittedCharset() {
  Record("PermittedCharset", "", [] { return 0; });
  return permittedCharset ? permittedCharset->c_str() : real_.PermittedCharset();
}

// The product-interface calls show the first byte of their block only.
#define QZ7_PRODUCT_INTERFACE(name)                                                 \
  int RecordingHost::name(unsigned char* block, unsigned char* context) {           \
    return Record(#name, First(block), [&] { return real_.name(block, context); }); \
  }
QZ7_PRODUCT_INTERFACE(ProIfInit)
QZ7_PRODUCT_INTERFACE(ProIfQuery)
QZ7_PRODUCT_INTERFACE(ProIfTerm)

}  // namespace qz7::testkit
