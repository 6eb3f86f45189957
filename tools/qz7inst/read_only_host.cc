#include "tools/qz7inst/read_only_host.h"

#include <string>

#include "base/quoted_path.h"
#include "platform/file_system.h"

namespace qz7::cli {

ReadOnlyHost::ReadOnlyHost() : inner_(host::Host()) { host::SetHost(this); }

ReadOnlyHost::~ReadOnlyHost() { host::SetHost(&inner_); }

int ReadOnlyHost::PRegProfilePE(int op, char* text, int node) {
  if (op != host::kProfileSetInstall && op != host::kProfileSetInstanceDir) {
    if (op == host::kProfileRemoveAll) return host::kSystemError;
    return inner_.PRegProfilePE(op, text, node);
  }
  // What pointing would answer: the directory must be given and exist.
  if (text == nullptr || node != -1) return host::kBadArgument;
  const std::string directory = base::StripQuotes(text);
  if (directory.empty()) return host::kBadArgument;
  platform::FileStatus status;
  if (platform::GetFileStatus(directory.c_str(), &status) != 0 || !status.isDirectory) {
    return host::kNotFound;
  }
  return 0;
}

int ReadOnlyHost::PRegValuePE(int op, int variable, const char* variableName, char* value,
                              size_t valueSize, const char* profile, int node) {
  if (op != host::kValueRead) return host::kSystemError;
  return inner_.PRegValuePE(op, variable, variableName, value, valueSize, profile, node);
}

int ReadOnlyHost::PRegProfile(int op, char* name) { return inner_.PRegProfile(op, name); }

int ReadOnlyHost::PRegValue(int op, int variable, int reserved, char* value, size_t valueSize,
                            const char* profile) {
  if (op != host::kValueRead) return host::kSystemError;
  return inner_.PRegValue(op, variable, reserved, value, valueSize, profile);
}

int ReadOnlyHost::InstanceCreateExtended(const char*, const char*, const char*, int, const char*,
                                         const char*, int, int, void*) {
  return host::kSystemError;
}
int ReadOnlyHost::InstanceDrop(const char*, const char*) { return host::kSystemError; }
int ReadOnlyHost::PutEnv(int, const char*) { return host::kSystemError; }
int ReadOnlyHost::DeRegisterNTService(const char*, char*, int) { return host::kSystemError; }
int ReadOnlyHost::ChangeNTServiceConfig(const char*, int, int, int, int, const char*, const char*,
                                        const char*, const char*, const char*, const char*, int,
                                        char*) {
  return host::kSystemError;
}
int ReadOnlyHost::CreateNetworkShare(const char*, const char*, const char*, const char*) {
  return host::kSystemError;
}
int ReadOnlyHost::DeleteNetworkShare(const char*, const char*) { return host::kSystemError; }
int ReadOnlyHost::Cpum(float* speed) { return inner_.Cpum(speed); }
int ReadOnlyHost::GetCommBandwidth(float* bandwidth) { return inner_.GetCommBandwidth(bandwidth); }
int ReadOnlyHost::GetCPUInfo(host::CpuInfo* info) { return inner_.GetCPUInfo(info); }
// The process-wide initialisation of the setup context lands in a block of our own.
int ReadOnlyHost::CreateInitAppData(uint32_t) { return 0; }
unsigned char* ReadOnlyHost::ControlBlock() { return controlBlock_; }
const char* ReadOnlyHost::PermittedCharset() { return inner_.PermittedCharset(); }
int ReadOnlyHost::ProIfInit(unsigned char* block, unsigned char* context) {
  return inner_.ProIfInit(block, context);
}
int ReadOnlyHost::ProIfQuery(unsigned char* block, unsigned char* context) {
  return inner_.ProIfQuery(block, context);
}
int ReadOnlyHost::ProIfTerm(unsigned char* block, unsigned char* context) {
  return inner_.ProIfTerm(block, context);
}

}  // namespace qz7::cli
