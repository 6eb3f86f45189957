// A recorder around the stand-in runtime for tests: every call is forwarded to a StandInHost,
// which works on the machine root in force, and recorded as one text line, the operation's
// name and its arguments ("PRegValuePE(4, 32, null, \"DAS\", null, -1)"), with the result it
// gave. A test can force the result of an operation, for every call or for the next ones; a
// forced call is recorded but not forwarded, so it changes nothing. The facts the stand-in
// measures (processor speed, bandwidth, processor count) and its character set can be fixed,
// which answers those calls with the fixed value instead.
//
//   TempMachine machine;
//   RecordingHost host;
//   ScopedHost scoped(&host);                               // Host() is now the recorder
//   host.ScriptResult("InstanceCreateExtended", -1005);     // every call from now on
//   host.QueueResult("PRegProfilePE", 0);                   // the next call only
//   ... run the code under test ...
//   EXPECT_EQ(host.CountOf("InstanceDrop"), 1);
#ifndef QZ7_TESTKIT_RECORDING_HOST_H_
#define QZ7_TESTKIT_RECORDING_HOST_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/host_services.h"
#include "host/stand_in_host.h"
#include "testkit/temp_machine.h"

namespace qz7::testkit {

class RecordingHost : public qz7::host::HostServices {
 public:
  // --- what was called: one line a call, "Operation(arguments)" ---
  const std::vector<std::string>& calls() const { return calls_; }
  // The recorded lines of one operation, in call order.
  std::vector<std::string> CallsTo(const std::string& operation) const {
    return CallsTo(std::vector<std::string>{operation});
  }
  // The recorded lines of any of several operations, in call order.
  std::vector<std::string> CallsTo(const std::vector<std::string>& operations) const;
  int CountOf(const std::string& operation) const {
    return static_cast<int>(CallsTo(operation).size());
  }
  void ClearCalls() { calls_.clear(); }

  // --- forced results (operation names as in the recorded lines) ---
  // Queued results are used first, one per call.
  void ScriptResult(const std::string& operation, int result) { scripted_[operation] = result; }
  void QueueResult(const std::string& operation, int result) {
    queued_[operation].push_back(result);
  }

  // --- fixed facts (unset: the stand-in measures them) ---
  std::optional<float> processorSpeed;
  std::optional<float> bandwidth;
  std::optional<uint32_t> processorCount;
  std::optional<std::string> permittedCharset;

  // --- HostServices ---
  int PRegProfilePE(int op, char* text, int node) override;
  int PRegValuePE(int op, int variable, const char* variableName, char* value, size_t valueSize,
                  const char* profile, int node) override;
  int PRegProfile(int op, char* name) override;
  int PRegValue(int op, int variable, int reserved, char* value, size_t valueSize,
                const char* profile) override;
  int InstanceCreateExtended(const char* name, const char* profileDir, const char* installDir,
                             int adminFlag, const char* account, const char* password,
                             int serviceFlag, int kindCode, void* reserved) override;
  int InstanceDrop(const char* name, const char* instanceDir) override;
  int PutEnv(int code, const char* value) override;
  int DeRegisterNTService(const char* serviceName, char* work, int flags) override;
  int ChangeNTServiceConfig(const char* serviceName, int serviceType, int startType,
                            int errorControl, int tag, const char* programPath,
                            const char* loadOrderGroup, const char* dependencies,
                            const char* account, const char* password, const char* displayName,
                            int reserved, char* work) override;
  int CreateNetworkShare(const char* directory, const char* shareName, const char* groupName,
                         const char* computerName) override;
  int DeleteNetworkShare(const char* shareName, const char* computerName) override;
  int Cpum(float* speed) override;
  int GetCommBandwidth(float* bandwidth) override;
  int GetCPUInfo(qz7::host::CpuInfo* info) override;
  int CreateInitAppData(uint32_t flags) override;
  unsigned char* ControlBlock() override;
  const char* PermittedCharset() override;
  int ProIfInit(unsigned char* block, unsigned char* context) override;
  int ProIfQuery(unsigned char* block, unsigned char* context) override;
  int ProIfTerm(unsigned char* block, unsigned char* context) override;

 private:
  // Records the call and gives the forced result, or else forward()'s.
  int Record(const std::string& operation, const std::string& arguments,
             const std::function<int()>& forward);

  qz7::host::StandInHost real_;
  std::vector<std::string> calls_;
  std::map<std::string, int> scripted_;
  std::map<std::string, std::deque<int>> queued_;
};

// Puts a host in place for the life of the object and the stand-in runtime back afterwards.
class ScopedHost {
 public:
  explicit ScopedHost(qz7::host::HostServices* host) { qz7::host::SetHost(host); }
  ~ScopedHost() { qz7::host::SetHost(nullptr); }
  ScopedHost(const ScopedHost&) = delete;
  ScopedHost& operator=(const ScopedHost&) = delete;
};

// A throw-away machine whose host calls go through a recording host in force, for one test
// or one row of a table.
struct RecordedMachine {
  TempMachine machine;
  RecordingHost host;
  ScopedHost scoped{&host};
};

}  // namespace qz7::testkit

#endif  // QZ7_TESTKIT_RECORDING_HOST_H_
