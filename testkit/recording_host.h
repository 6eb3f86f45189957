// A recording fake of the host services for tests. Every call is recorded as one text line,
// the operation's name and its arguments ("PRegValuePE(4, 32, null, \"DAS\", null, -1)");
// results can be scripted per operation; without a script the fake behaves like a small host
// of its own: an in-memory profile registry (instances with variables and nodes, the global
// profile, the default level, the same level rules as the stand-in runtime), instances,
// shares and environment kept in memory, and machine facts set by the test.
//
//   RecordingHost host;
//   ScopedHost scoped(&host);                 // Host() is now the fake
//   host.DefineInstance("QZ7");
//   host.SetVariable("QZ7", "QZ7PORTRANGE", "60000:60003");
//   host.ScriptResult("InstanceCreateExtended", -1005);   // every call from now on
//   host.QueueResult("PRegProfilePE", 0);                  // the next call only
//   ... run the code under test ...
//   EXPECT_THAT(host.CallsTo("InstanceDrop"), ElementsAre("InstanceDrop(\"QZ7\",
//   \"C:\\P\\QZ7\")"));
#ifndef QZ7_TESTKIT_RECORDING_HOST_H_
#define QZ7_TESTKIT_RECORDING_HOST_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/host_services.h"

namespace qz7::testkit {

class RecordingHost : public qz7::host::HostServices {
 public:
  RecordingHost();

  // --- what was called ---
  const std::vector<std::string>& calls() const { return calls_; }
  // The recorded lines of one operation, in call order.
  std::vector<std::string> CallsTo(const std::string& operation) const;
  int CountOf(const std::string& operation) const;
  void ClearCalls() { calls_.clear(); }

  // --- scripted results (operation names as in the recorded lines) ---
  // A scripted result replaces the call: it is returned and nothing else happens (no state
  // changes, no output written). Queued results are used first, one per call.
  void ScriptResult(const std::string& operation, int result);
  void QueueResult(const std::string& operation, int result);
  void ClearScripts();

  // --- the in-memory profile registry ---
  void DefineInstance(const std::string& name);
  void UndefineInstance(const std::string& name);
  bool IsDefined(const std::string& name) const;
  std::vector<std::string> Instances() const;  // in definition order
  void AddNode(const std::string& instance, const std::string& node);
  std::vector<std::string> Nodes(const std::string& instance) const;
  // profile: an instance name, "QZ7GLOBALPF", or null for the default level (writing the
  // default level directly, which the host operations never do).
  void SetVariable(const char* profile, const std::string& variable, const std::string& value);
  std::optional<std::string> Variable(const char* profile, const std::string& variable) const;
  const std::string& installDir() const { return installDir_; }
  const std::string& instanceProfileDir() const { return instanceProfileDir_; }
  bool registryRemoved() const { return registryRemoved_; }

  // Called after an unscripted InstanceCreateExtended has defined or updated the instance,
  // with the name and the profile directory; a test can write the instance's files here. Its
  // return value becomes the call's result (non-zero undefines a new instance again, or puts
  // back an updated one's QZ7INSTPROF and removes the node "0" the call added).
  std::function<int(const std::string& name, const std::string& profileDir)> onInstanceCreate;

  // --- other in-memory state ---
  std::map<std::string, std::string> environment;  // PutEnv: variable name -> value
  struct Share {
    std::string directory;
    std::string group;
  };
  std::map<std::string, Share> shares;  // by share name

  // --- machine facts ---
  float processorSpeed = 4e-6f;
  float bandwidth = 100.0f;
  uint32_t processorCount = 2;
  std::string productComputerName = "TESTHOST";
  std::string permittedCharset =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789@#$_";
  std::vector<uint32_t> initAppDataFlags;  // one entry per CreateInitAppData call

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
  using Variables = std::map<std::string, std::string>;  // upper-cased name -> value
  struct Profile {
    std::string name;
    Variables variables;
    std::vector<std::string> nodes;
  };

  // Records the call; returns the scripted result if there is one.
  std::optional<int> Record(const std::string& operation, const std::string& arguments);
  Profile* FindProfile(const std::string& name);
  const Profile* FindProfile(const std::string& name) const;
  // The variable table a write or remove reaches (null profile = global), or null.
  Variables* WritableLevel(const char* profile);
  int NextName(size_t* cursor, char* out, size_t capacity) const;
  // Variable read (3), write (4) and remove (5) by name, unrecorded.
  int ApplyValue(int op, const char* name, char* value, size_t valueSize, const char* profile);

  std::vector<std::string> calls_;
  std::map<std::string, int> scripted_;
  std::map<std::string, std::deque<int>> queued_;

  std::vector<Profile> profiles_;
  Variables global_;
  Variables defaultLevel_;
  std::string installDir_;
  std::string instanceProfileDir_;
  bool registryRemoved_ = false;
  size_t profileCursor_ = 0;
  size_t instanceCursor_ = 0;
  std::array<unsigned char, 0x1400> controlBlock_{};
};

// Puts a host in place for the life of the object and the stand-in runtime back afterwards.
class ScopedHost {
 public:
  explicit ScopedHost(qz7::host::HostServices* host) { qz7::host::SetHost(host); }
  ~ScopedHost() { qz7::host::SetHost(nullptr); }
  ScopedHost(const ScopedHost&) = delete;
  ScopedHost& operator=(const ScopedHost&) = delete;
};

}  // namespace qz7::testkit

#endif  // QZ7_TESTKIT_RECORDING_HOST_H_
