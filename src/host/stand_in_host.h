// The stand-in for the product's host runtime libraries, built on the platform layer only:
// the profile registry in the registry (profile_registry.h), instances as directory +
// registry key + service (instance_lifecycle.h), services and shares (service_table.h), and
// measured machine facts (machine_facts.h).
#ifndef QZ7_HOST_STAND_IN_HOST_H_
#define QZ7_HOST_STAND_IN_HOST_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/host_services.h"

namespace qz7::host {

class StandInHost : public HostServices {
 public:
  // Ops 1/2 enumerate the instances defined when op 1 was called (names dropped since are
  // passed over); 3 tests; 6 removes the profile registry; 10/11 record the installation and
  // instance-profile directories (quotes stripped; the directory must exist). The end of the
  // list and an unknown op give kEndOfList and kBadArgument.
  [[nodiscard]] int PRegProfilePE(int op, char* text, int node) override;
  [[nodiscard]] int PRegValuePE(int op, int variable, const char* variableName, char* value,
                                size_t valueSize, const char* profile, int node) override;
  [[nodiscard]] int PRegProfile(int op, char* name) override;
  int PRegValue(int op, int variable, int reserved, char* value, size_t valueSize,
                const char* profile) override;

  // kindCode 1..5 chooses the template (see instance_lifecycle.h); adminFlag 1 makes an
  // administration server from "qz7syssv.das" or "qz7syssr.das". An instance that is defined
  // already is updated, keeping its registry entry and qz7systm (CreateInstance). serviceFlag
  // and reserved are not used.
  [[nodiscard]] int InstanceCreateExtended(const char* name, const char* profileDir,
                                           const char* installDir, int adminFlag,
                                           const char* account, const char* password,
                                           int serviceFlag, int kindCode, void* reserved) override;
  int InstanceDrop(const char* name, const char* instanceDir) override;
  // Codes 32, 57, 58, 59, 169 set the variable of that name in the process environment.
  int PutEnv(int code, const char* value) override;

  // The work buffer, when given, receives a one-line text describing a failure.
  [[nodiscard]] int DeRegisterNTService(const char* serviceName, char* work, int flags) override;
  int ChangeNTServiceConfig(const char* serviceName, int serviceType, int startType,
                            int errorControl, int tag, const char* programPath,
                            const char* loadOrderGroup, const char* dependencies,
                            const char* account, const char* password, const char* displayName,
                            int reserved, char* work) override;
  // The computer name must be empty or this computer's name (any case).
  [[nodiscard]] int CreateNetworkShare(const char* directory, const char* shareName,
                                       const char* groupName, const char* computerName) override;
  int DeleteNetworkShare(const char* shareName, const char* computerName) override;

  [[nodiscard]] int Cpum(float* speed) override;
  [[nodiscard]] int GetCommBandwidth(float* bandwidth) override;
  [[nodiscard]] int GetCPUInfo(CpuInfo* info) override;

  // Records the flags in the first four bytes of the control block (little-endian).
  [[nodiscard]] int CreateInitAppData(uint32_t flags) override;
  unsigned char* ControlBlock() override;
  const char* PermittedCharset() override;

  // Init checks the block (first byte 3) and marks the context open; Query writes this
  // computer's name at kProductNameOffset; Term closes the context. A context that was not
  // opened gives kNotInitialized.
  [[nodiscard]] int ProIfInit(unsigned char* block, unsigned char* context) override;
  [[nodiscard]] int ProIfQuery(unsigned char* block, unsigned char* context) override;
  int ProIfTerm(unsigned char* block, unsigned char* context) override;

 private:
  struct Cursor {
    std::vector<std::string> names;
    size_t next = 0;
  };
  // Fills out (capacity bytes) with the next name of cursor that is still defined.
  static int NextName(Cursor* cursor, char* out, size_t capacity);

  Cursor profileCursor_;   // PRegProfilePE ops 1/2
  Cursor instanceCursor_;  // PRegProfile ops 1/2
};

}  // namespace qz7::host

#endif  // QZ7_HOST_STAND_IN_HOST_H_
