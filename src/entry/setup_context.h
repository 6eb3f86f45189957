// The setup context: what one call of createInstances or deleteInstances builds on its
// stack — the normalised directories, the installed server kind, the caller's log, module
// and owner, the list of instances to set up and the scan of those already installed.
#ifndef QZ7_ENTRY_SETUP_CONTEXT_H_
#define QZ7_ENTRY_SETUP_CONTEXT_H_

#include <cstdint>
#include <memory>

#include "base/fixed_text.h"
#include "entry/existing_instance_scan.h"
#include "entry/instance_record.h"
#include "qz7instm.h"

namespace qz7::entry {

constexpr size_t kContextPathSize = 261;
constexpr size_t kDescriptorReadSize = 0x196;
constexpr int32_t kDescriptorKindPartitioned = 4;
constexpr uint32_t kInitAppDataFlags = 0x68211;
constexpr const char* kAdminServerNamePattern = "QZ7DAS??";
constexpr const char* kAdminServerFallbackName = "QZ7DAS00";

struct SetupContext {
  base::FixedText<kContextPathSize> currentProfileDir;
  base::FixedText<kContextPathSize> requestedProfileDir;
  base::FixedText<kContextPathSize> targetProfileDir;
  base::FixedText<kContextPathSize> installDir;
  base::FixedText<kContextPathSize> serverMarkerFile;
  base::FixedText<kContextPathSize> adminMarkerFile;
  base::FixedText<kContextPathSize> partitionedMarkerFile;
  QZ7_LOG_FILE logFile = nullptr;
  QZ7_MODULE messageModule = nullptr;
  QZ7_OWNER ownerWindow = nullptr;
  int32_t serverType = -1;
  std::unique_ptr<ExistingInstanceScan> existingScan;
  InstanceArray records;
  int32_t adminIndex = -1;
  int32_t defaultIndex = -1;
  // A record was lost because a list could not grow (this list or the scan's); the set-up
  // then reports a failed step.
  bool listGrowthFailed = false;
  // A marker file's status could not be read: which server kinds are installed is unknown,
  // and a run on a guess could drop the administration server or set up a partitioned
  // instance as an ordinary one.
  bool markerUnknown = false;
};

// Builds the context in place: normalises the three paths (a failure, or an empty
// installation directory, ends construction silently with the remaining fields at their
// initial values), fills the defaults, scans the existing instances, finds the marker
// files, merges the existing instances, applies the default rule and, once per process,
// initialises the host libraries.
void BuildSetupContext(SetupContext& context, const char* currentProfilePath,
                       const char* requestedProfilePath, const char* installPath,
                       QZ7_LOG_FILE logFile, QZ7_MODULE messageModule, QZ7_OWNER ownerWindow);

// Adds a record, replacing one of the same name (without regard to case) and keeping that
// record's profile directory. Returns its index, or -1 for an empty name, or -1 with
// listGrowthFailed set when the list cannot grow. defaultIndex follows the isDefault mark as
// the add rule says.
[[nodiscard]] int32_t AddInstanceRecord(SetupContext& context, const InstanceRecord& record,
                                        bool isDefault);

// Adds or replaces the administration-server record; an empty name takes the current one,
// the scanned one, the first free "QZ7DAS??" name in the target directory, or "QZ7DAS00".
void AddAdminServerRecord(SetupContext& context, const char* name, const char* account,
                          const char* password);

// Adds one caller descriptor (at most its first 0x196 bytes are read) in its form:
// administration server, added node, partitioned or plain.
void AddDescriptor(SetupContext& context, const InstanceDescriptor* descriptor);

// True once the process-wide host initialisation has run.
bool HostInitialised();

}  // namespace qz7::entry

#endif  // QZ7_ENTRY_SETUP_CONTEXT_H_
