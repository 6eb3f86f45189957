#include "host/stand_in_host.h"

#include <cstdio>
#include <cstring>

#include "base/quoted_path.h"
#include "host/host_files.h"
#include "host/instance_lifecycle.h"
#include "host/machine_facts.h"
#include "host/profile_registry.h"
#include "host/service_table.h"
#include "platform/computer.h"
#include "platform/environment.h"
#include "platform/win_error.h"
#include "platform/windows_path.h"

namespace qz7::host {

namespace {

constexpr size_t kProfileNameBuffer = 256;   // PRegProfilePE ops 1/2
constexpr size_t kInstanceNameBuffer = 260;  // PRegProfile ops 1/2

// The process's control block; one per process, as the host library's exported data is.
unsigned char control_block[kControlBlockSize];

// Marks a product-query context as opened by ProIfInit.
constexpr unsigned char kContextMagic[4] = {'P', 'I', 'F', 1};

bool CopyOut(const std::string& text, char* out, size_t capacity) {
  if (text.size() >= capacity) {
    if (capacity > 0) out[0] = '\0';
    return false;
  }
  std::memcpy(out, text.c_str(), text.size() + 1);
  return true;
}

void Describe(char* work, const char* what, const char* name, uint32_t error) {
  if (work == nullptr) return;
  std::snprintf(work, 512, "%s %s: Windows error %u", what, name, static_cast<unsigned>(error));
}

int ServiceResult(uint32_t error) {
  if (error == 0) return 0;
  return error == platform::kErrorServiceDoesNotExist ? kNotFound : kSystemError;
}

}  // namespace

int StandInHost::NextName(Cursor* cursor, char* out, size_t capacity) {
  while (cursor->next < cursor->names.size()) {
    const std::string& name = cursor->names[cursor->next++];
    const int defined = InstanceDefinition(name);
    if (defined == kNotFound) continue;  // dropped since the enumeration began
    if (defined != 0) return defined;
    return CopyOut(name, out, capacity) ? 0 : kBufferTooSmall;
  }
  return kEndOfList;
}

int StandInHost::PRegProfilePE(int op, char* text, int node) {
  if (node != kAnyNode) return kBadArgument;
  switch (op) {
    case kProfileFirst:
    case kProfileNext:
      if (text == nullptr) return kBadArgument;
      if (op == kProfileFirst) {
        profileCursor_ = Cursor();
        if (int result = ListInstances(&profileCursor_.names); result != 0) return result;
      }
      return NextName(&profileCursor_, text, kProfileNameBuffer);
    case kProfileIsDefined:
      if (text == nullptr || !IsValidProfileName(text)) return kBadArgument;
      return IsInstanceDefined(text) ? 0 : kNotFound;
    case kProfileRemoveAll:
      profileCursor_ = Cursor();
      instanceCursor_ = Cursor();
      return RemoveProfileRegistry();
    case kProfileSetInstall:
      return PointProfileRegistry(kInstallDirValue, base::StripQuotes(text));
    case kProfileSetInstanceDir:
      return PointProfileRegistry(kInstanceProfileDirValue, base::StripQuotes(text));
    default:
      return kBadArgument;
  }
}

int StandInHost::PRegValuePE(int op, int variable, const char* variableName, char* value,
                             size_t valueSize, const char* profile, int node) {
  // A read always leaves a terminated text, empty when it fails.
  if (op == kValueRead && value != nullptr && valueSize > 0) value[0] = '\0';
  if (node != kAnyNode) return kBadArgument;
  const char* name = variableName != nullptr ? variableName : ProfileVariableName(variable);
  if (name == nullptr || name[0] == '\0') return kBadArgument;
  switch (op) {
    case kValueRead: {
      if (value == nullptr || valueSize == 0) return kBadArgument;
      std::string text;
      int result = ReadProfileVariable(profile, name, &text);
      if (result != 0) return result;
      return CopyOut(text, value, valueSize) ? 0 : kBufferTooSmall;
    }
    case kValueWrite:
      if (value == nullptr) return kBadArgument;
      return WriteProfileVariable(profile, name, value);
    case kValueRemove:
      return RemoveProfileVariable(profile, name);
    default:
      return kBadArgument;
  }
}

int StandInHost::PRegProfile(int op, char* name) {
  if (name == nullptr) return kBadArgument;
  if (op == kProfileFirst) {
    instanceCursor_ = Cursor();
    if (int result = ListInstances(&instanceCursor_.names); result != 0) return result;
  } else if (op != kProfileNext) {
    return kBadArgument;
  }
  return NextName(&instanceCursor_, name, kInstanceNameBuffer);
}

int StandInHost::PRegValue(int op, int variable, int /*reserved*/, char* value, size_t valueSize,
                           const char* profile) {
  return PRegValuePE(op, variable, nullptr, value, valueSize, profile, kAnyNode);
}

int StandInHost::InstanceCreateExtended(const char* name, const char* profileDir,
                                        const char* installDir, int adminFlag, const char* account,
                                        const char* password, int /*serviceFlag*/, int kindCode,
                                        void* /*reserved*/) {
  if (name == nullptr) return kBadArgument;
  InstanceCreateRequest request;
  request.name = name;
  request.profileDir = base::StripQuotes(profileDir);
  request.installDir = base::StripQuotes(installDir);
  request.adminServer = adminFlag == 1;
  request.kindCode = kindCode;
  request.account = account;
  request.password = password;
  return CreateInstance(request);
}

int StandInHost::InstanceDrop(const char* name, const char* instanceDir) {
  if (name == nullptr) return kBadArgument;
  return DropInstance(name, instanceDir);
}

int StandInHost::PutEnv(int code, const char* value) {
  const char* name = ProfileVariableName(code);
  if (name == nullptr || value == nullptr) return kBadArgument;
  return qz7::platform::SetEnvironmentVariableA(name, value) ? 0 : kSystemError;
}

int StandInHost::DeRegisterNTService(const char* serviceName, char* work, int /*flags*/) {
  if (serviceName == nullptr || serviceName[0] == '\0') return kBadArgument;
  uint32_t error = DeleteServiceNamed(serviceName);
  if (error != 0) Describe(work, "DeleteService", serviceName, error);
  return ServiceResult(error);
}

int StandInHost::ChangeNTServiceConfig(const char* serviceName, int /*serviceType*/,
                                       int /*startType*/, int /*errorControl*/, int /*tag*/,
                                       const char* programPath, const char* /*loadOrderGroup*/,
                                       const char* /*dependencies*/, const char* account,
                                       const char* password, const char* /*displayName*/,
                                       int /*reserved*/, char* work) {
  if (serviceName == nullptr || serviceName[0] == '\0') return kBadArgument;
  // Zero or empty texts leave their field as it is, as the service manager's null does.
  auto given = [](const char* text) { return text != nullptr && text[0] != '\0' ? text : nullptr; };
  uint32_t error =
      ChangeServiceNamed(serviceName, given(programPath), given(account), given(password));
  if (error != 0) Describe(work, "ChangeServiceConfig", serviceName, error);
  return ServiceResult(error);
}

int StandInHost::CreateNetworkShare(const char* directory, const char* shareName,
                                    const char* groupName, const char* computerName) {
  if (directory == nullptr || shareName == nullptr) return kBadArgument;
  if (computerName != nullptr && computerName[0] != '\0') {
    std::string self;
    if (ProductComputerName(&self) != 0 || !platform::NamesEqualIgnoreCase(self, computerName)) {
      return kUnknownComputer;
    }
  }
  return CreateShare(base::StripQuotes(directory), shareName,
                     groupName != nullptr ? groupName : "");
}

int StandInHost::DeleteNetworkShare(const char* shareName, const char* computerName) {
  if (shareName == nullptr) return kBadArgument;
  if (computerName != nullptr && computerName[0] != '\0') {
    std::string self;
    if (ProductComputerName(&self) != 0 || !platform::NamesEqualIgnoreCase(self, computerName)) {
      return kUnknownComputer;
    }
  }
  return DeleteShare(shareName);
}

int StandInHost::Cpum(float* speed) { return MeasureProcessorSpeed(speed); }

int StandInHost::GetCommBandwidth(float* bandwidth) { return MeasureCopyBandwidth(bandwidth); }

int StandInHost::GetCPUInfo(CpuInfo* info) {
  if (info == nullptr) return kBadArgument;
  *info = CpuInfo{};
  info->processorCount = qz7::platform::ProcessorCount();
  return 0;
}

int StandInHost::CreateInitAppData(uint32_t flags) {
  for (int i = 0; i < 4; ++i) control_block[i] = static_cast<unsigned char>(flags >> (8 * i));
  return 0;
}

unsigned char* StandInHost::ControlBlock() { return control_block; }

const char* StandInHost::PermittedCharset() { return kPermittedCharset; }

int StandInHost::ProIfInit(unsigned char* block, unsigned char* context) {
  if (block == nullptr || context == nullptr || block[0] != 3) return kBadArgument;
  std::memset(context, 0, kProductContextSize);
  std::memcpy(context, kContextMagic, sizeof kContextMagic);
  return 0;
}

int StandInHost::ProIfQuery(unsigned char* block, unsigned char* context) {
  if (block == nullptr || context == nullptr || block[0] != 3) return kBadArgument;
  if (std::memcmp(context, kContextMagic, sizeof kContextMagic) != 0) return kNotInitialized;
  std::string name;
  if (int result = ProductComputerName(&name); result != 0) return result;
  constexpr size_t kRoom = kProductBlockSize - kProductNameOffset;
  unsigned char* field = block + kProductNameOffset;
  std::memset(field, 0, kRoom);
  std::memcpy(field, name.data(), name.size() < kRoom ? name.size() : kRoom - 1);
  return 0;
}

int StandInHost::ProIfTerm(unsigned char* block, unsigned char* context) {
  if (block == nullptr || context == nullptr) return kBadArgument;
  if (std::memcmp(context, kContextMagic, sizeof kContextMagic) != 0) return kNotInitialized;
  std::memset(context, 0, kProductContextSize);
  return 0;
}

}  // namespace qz7::host
