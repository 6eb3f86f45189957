// The host services as `create --check` sees them: every read goes to the host in force; the
// profile registry's pointing (operations 10 and 11, which discovery runs) answers as the
// host would, without recording anything; every other operation that would change the
// computer is refused with kSystemError. Put in place for the life of the object.
#ifndef QZ7_TOOLS_QZ7INST_READ_ONLY_HOST_H_
#define QZ7_TOOLS_QZ7INST_READ_ONLY_HOST_H_

#include "host/host_services.h"

namespace qz7::cli {

class ReadOnlyHost : public host::HostServices {
 public:
  ReadOnlyHost();
  ~ReadOnlyHost() override;
  ReadOnlyHost(const ReadOnlyHost&) = delete;
  ReadOnlyHost& operator=(const ReadOnlyHost&) = delete;

  int PRegProfilePE(int op, char* text, int node) override;
  int PRegValuePE(int op, int variable, const char* variableName, char* value, size_t valueSize,
                  const char* profile, int node) override;
  int PRegProfile(int op, char* name) override;
  int PRegValue(int op, int variable, int reserved, char* value, size_t valueSize,
                const char* profile) override;
  int InstanceCreateExtended(const char*, const char*, const char*, int, const char*, const char*,
                             int, int, void*) override;
  int InstanceDrop(const char*, const char*) override;
  int PutEnv(int, const char*) override;
  int DeRegisterNTService(const char*, char*, int) override;
  int ChangeNTServiceConfig(const char*, int, int, int, int, const char*, const char*, const char*,
                            const char*, const char*, const char*, int, char*) override;
  int CreateNetworkShare(const char*, const char*, const char*, const char*) override;
  int DeleteNetworkShare(const char*, const char*) override;
  int Cpum(float* speed) override;
  int GetCommBandwidth(float* bandwidth) override;
  int GetCPUInfo(host::CpuInfo* info) override;
  int CreateInitAppData(uint32_t flags) override;
  unsigned char* ControlBlock() override;
  const char* PermittedCharset() override;
  int ProIfInit(unsigned char* block, unsigned char* context) override;
  int ProIfQuery(unsigned char* block, unsigned char* context) override;
  int ProIfTerm(unsigned char* block, unsigned char* context) override;

 private:
  host::HostServices& inner_;
  unsigned char controlBlock_[host::kControlBlockSize] = {};
};

}  // namespace qz7::cli

#endif  // QZ7_TOOLS_QZ7INST_READ_ONLY_HOST_H_
