// The operations the library calls in the product's host runtime libraries: the profile
// registry, instances, Windows services, network shares, machine facts, national-language
// data and the installed-product query. Every operation returns a signed 32-bit result,
// 0 meaning success unless said otherwise; a node argument is always -1 here.
//
// The library reaches the host through Host() only, so tests can put a recording fake in
// its place with SetHost(). The default is the stand-in runtime (stand_in_host.h).
#ifndef QZ7_HOST_HOST_SERVICES_H_
#define QZ7_HOST_HOST_SERVICES_H_

#include <cstddef>
#include <cstdint>

namespace qz7::host {

// Profile-registry operation codes.
constexpr int kProfileFirst = 1;            // first defined instance name into a 256-byte buffer
constexpr int kProfileNext = 2;             // next defined instance name
constexpr int kProfileIsDefined = 3;        // 0 when the named instance is defined
constexpr int kProfileRemoveAll = 6;        // remove the installation's profile registry
constexpr int kProfileSetInstall = 10;      // point the registry at an installation directory
constexpr int kProfileSetInstanceDir = 11;  // point it at an instance-profile directory

constexpr int kAnyNode = -1;  // the node argument of every profile-registry call

constexpr int kValueRead = 3;
constexpr int kValueWrite = 4;
constexpr int kValueRemove = 5;

// Profile-registry variable and environment numbers.
constexpr int kVarAdminServer = 32;      // QZ7ADMINSERVER
constexpr int kVarInstance = 57;         // QZ7INSTANCE
constexpr int kVarDefaultInstance = 58;  // QZ7INSTDEF
constexpr int kVarInstanceProfile = 59;  // QZ7INSTPROF
constexpr int kVarInstanceOwner = 169;   // QZ7INSTOWNER

constexpr const char* kGlobalProfile = "QZ7GLOBALPF";

// Variable names that the library passes by name rather than by number.
constexpr const char* kVarNamePortRange = "QZ7PORTRANGE";
constexpr const char* kVarNameInstanceOwner = "QZ7INSTOWNER";
constexpr const char* kVarNameInstanceProfile = "QZ7INSTPROF";

// The name of a profile-registry variable or environment code (32, 57, 58, 59, 169), or null
// for a number this runtime does not know.
const char* ProfileVariableName(int number);

// Result codes of the stand-in runtime. The calling code relies only on 0 versus non-zero, on
// kEndOfList for the instance-profile enumeration, and on kNotFound for a variable that is not
// set (the upgrade tells an instance's unset owner from one it could not read); the other
// codes are for people and tests reading a failure.
constexpr int kEndOfList = -5;       // PRegProfile: no more instance profiles (also ends ops 1/2
                                     // of PRegProfilePE)
constexpr int kNotFound = -1032;     // variable, profile, instance, service or share not defined;
                                     // a directory given to ops 10/11 or a share does not exist
constexpr int kBadArgument = -1033;  // null or malformed argument: empty text, a name with a
                                     // backslash or a character outside PermittedCharset(), an
                                     // unknown operation, variable number or kind code, a node
                                     // other than -1, a product block whose first byte is not 3,
                                     // an instance directory that does not end in the name
constexpr int kRegistryUnreachable = -1034;  // the registry cannot be read or written
constexpr int kInstanceExists = -1005;       // defining an instance that is defined already
                                             // (instance creation updates it instead)
constexpr int kShareExists = -1006;          // a network share of that name exists
constexpr int kSystemError = -1042;          // a file, registry or service operation failed
constexpr int kBufferTooSmall = -1043;       // the value does not fit the caller's buffer (the
                                             // buffer then holds an empty text)
constexpr int kTemplateMissing = -1044;      // the installation's CFG directory has no template
                                             // configuration file for the instance's kind
constexpr int kUnknownComputer = -1045;      // a share was asked for on another computer
constexpr int kNotInitialized = -1046;       // ProIfQuery/ProIfTerm without a ProIfInit on that
                                             // context
constexpr int kMeasurementFailed = -1047;    // the clock did not advance over a timed loop

// Size of the installed-product query block and context, and where the computer name is.
constexpr size_t kProductBlockSize = 1700;
constexpr size_t kProductContextSize = 36;
constexpr size_t kProductNameOffset = 1140;

// The processor-information record filled by GetCPUInfo.
struct CpuInfo {
  uint32_t processorCount;
  uint32_t reserved[7];
};

// The control block that ControlBlock() designates: its size, and the 16-bit field the set-up
// sets to 1 once per process.
constexpr size_t kControlBlockSize = 0x1400;
constexpr size_t kControlBlockInitOffset = 0x136C;
static_assert(kControlBlockInitOffset + 2 <= kControlBlockSize);

class HostServices {
 public:
  virtual ~HostServices() = default;

  // sqloPRegProfilePE (op, text, node). For ops 1 and 2 text is a 256-byte output buffer.
  [[nodiscard]] virtual int PRegProfilePE(int op, char* text, int node) = 0;
  // sqloPRegValuePE (op, variable number or 0, variable name or null, value, profile, node).
  // Variables are named by number when the name is null. op 3 reads into value (valueSize
  // bytes, always terminated), op 4 writes value, op 5 removes. profile null = default level,
  // "QZ7GLOBALPF" = global profile, else an instance name.
  [[nodiscard]] virtual int PRegValuePE(int op, int variable, const char* variableName, char* value,
                                        size_t valueSize, const char* profile, int node) = 0;
  // sqloPRegProfile (op, name): op 1 / 2 enumerate the instance profiles into a 260-byte
  // buffer; kEndOfList ends the enumeration.
  [[nodiscard]] virtual int PRegProfile(int op, char* name) = 0;
  // sqloPRegValue (op, variable, 0, value, profile): op 3 reads into a buffer of valueSize.
  virtual int PRegValue(int op, int variable, int reserved, char* value, size_t valueSize,
                        const char* profile) = 0;

  // sqlo_instance_create_extended.
  [[nodiscard]] virtual int InstanceCreateExtended(const char* name, const char* profileDir,
                                                   const char* installDir, int adminFlag,
                                                   const char* account, const char* password,
                                                   int serviceFlag, int kindCode,
                                                   void* reserved) = 0;
  // sqlo_instance_drop (name, instance directory).
  virtual int InstanceDrop(const char* name, const char* instanceDir) = 0;
  // sqloPutEnv (code, value).
  virtual int PutEnv(int code, const char* value) = 0;

  // sqloDeRegisterNTService (service name, work buffer of 512 bytes, flags).
  [[nodiscard]] virtual int DeRegisterNTService(const char* serviceName, char* work, int flags) = 0;
  // sqloChangeNTServiceConfig (service name, 0, -1, -1, -1, program path, six zeros, work).
  virtual int ChangeNTServiceConfig(const char* serviceName, int serviceType, int startType,
                                    int errorControl, int tag, const char* programPath,
                                    const char* loadOrderGroup, const char* dependencies,
                                    const char* account, const char* password,
                                    const char* displayName, int reserved, char* work) = 0;
  // sqloCreateNetworkShare (directory, share, group, computer) / sqloDeleteNetworkShare.
  [[nodiscard]] virtual int CreateNetworkShare(const char* directory, const char* shareName,
                                               const char* groupName, const char* computerName) = 0;
  virtual int DeleteNetworkShare(const char* shareName, const char* computerName) = 0;

  // sqlocpum: the processor speed in milliseconds per step of a fixed processor loop (the
  // unit of the configuration's processor-speed field, valid 1e-10 to 1.0).
  // sqloGetCommBandwidth: memory-copy throughput in thousands of bytes per millisecond
  // (megabytes per second, the unit of the configuration's bandwidth field, valid 0.1 to
  // 100000). sqloGetCPUInfo: the processor count in the first field.
  [[nodiscard]] virtual int Cpum(float* speed) = 0;
  [[nodiscard]] virtual int GetCommBandwidth(float* bandwidth) = 0;
  [[nodiscard]] virtual int GetCPUInfo(CpuInfo* info) = 0;

  // sqlo_create_init_app_data (flags), and the control block that sqlz_krcbp designates (at
  // least kControlBlockSize bytes; the set-up marks the process initialised in the 16-bit
  // field at kControlBlockInitOffset).
  [[nodiscard]] virtual int CreateInitAppData(uint32_t flags) = 0;
  virtual unsigned char* ControlBlock() = 0;
  // sqlz_charset: the characters permitted in names (terminated text).
  virtual const char* PermittedCharset() = 0;

  // caProIfInit / caProIfQuery / caProIfTerm on a 1700-byte block and a 36-byte context.
  [[nodiscard]] virtual int ProIfInit(unsigned char* block, unsigned char* context) = 0;
  [[nodiscard]] virtual int ProIfQuery(unsigned char* block, unsigned char* context) = 0;
  virtual int ProIfTerm(unsigned char* block, unsigned char* context) = 0;
};

// The host services in force; the stand-in runtime unless a test put another in place.
HostServices& Host();
// Puts services in place (not owned); null returns to the stand-in runtime.
void SetHost(HostServices* services);

}  // namespace qz7::host

#endif  // QZ7_HOST_HOST_SERVICES_H_
