// What creating or updating one instance reads from the set-up run: the run's directories,
// server kind, log, message module and owner, the instances that already exist, and the one
// instance to set up. The set-up layer above fills these from its own context and records;
// this layer never sees those types.
#ifndef QZ7_PROVISION_PROVISION_REQUEST_H_
#define QZ7_PROVISION_PROVISION_REQUEST_H_

#include <cstdint>
#include <span>

#include "base/fixed_text.h"
#include "qz7instm.h"

namespace qz7::provision {

constexpr int32_t kNodeTypePartitioned = 4;

// An instance that the discovery found already installed.
struct ExistingInstance {
  base::FixedText<9> name;
  int32_t nodeType = -1;
};

// The set-up run. Every directory may be held in double quotes; a null text counts as empty.
struct ProvisionContext {
  const char* currentProfileDir = "";
  const char* requestedProfileDir = "";
  const char* targetProfileDir = "";
  const char* installDir = "";
  int32_t serverType = -1;  // kind code of the installed server
  std::span<const ExistingInstance> existingInstances;
  QZ7_LOG_FILE logFile = nullptr;  // null: no log lines
  QZ7_MODULE messageModule = nullptr;
  QZ7_OWNER ownerWindow = nullptr;
};

// The instance to create or update; the fields and sizes of the set-up's instance record.
struct InstanceRequest {
  base::FixedText<9> name;
  base::FixedText<46> account;
  base::FixedText<15> password;
  int32_t nodeType = -1;            // 4: partitioned
  int32_t ownedElsewhere = 0;       // 1: a node of a partitioned instance another computer owns
  base::FixedText<261> profileDir;  // quoted; empty or "" (two quotes): none of its own
  base::FixedText<10> portRangeStart;
  base::FixedText<10> portRangeEnd;
  base::FixedText<256> hostName;
  base::FixedText<10> nodeNumber;
  base::FixedText<16> ownerComputer;
};

}  // namespace qz7::provision

#endif  // QZ7_PROVISION_PROVISION_REQUEST_H_
