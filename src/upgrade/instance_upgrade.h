// Carrying one existing instance into the new release: its configuration file is replaced
// by the release's template and filled from the old one.
#ifndef QZ7_UPGRADE_INSTANCE_UPGRADE_H_
#define QZ7_UPGRADE_INSTANCE_UPGRADE_H_

#include "qz7instm.h"

namespace qz7::upgrade {

// Where the messages of an upgrade go: the caller's log, message module and owner window.
struct MessageTarget {
  QZ7_LOG_FILE logFile = nullptr;
  QZ7_MODULE messageModule = nullptr;
  QZ7_OWNER ownerWindow = nullptr;
};

// The old configuration could not be put aside under a free temporary name.
constexpr int kConfigurationNotSaved = -10;

constexpr unsigned kConversionFailedMessage = 3608;
constexpr unsigned kInstanceNotUpgradedMessage = 3573;

// Saves instanceDir\qz7systm under a free temporary name in instanceDir, copies templateFile
// over it and converts the saved values into it. Returns 0 (the temporary file is deleted),
// or 1 after showing messages 3608 (the code, no owner window) and 3573 (the instance name).
// The old configuration is never lost: when it exists but cannot be saved, nothing is
// changed (code kConfigurationNotSaved); when the conversion fails, the saved copy stays
// beside the configuration file.
int UpgradeInstanceConfiguration(const MessageTarget& messages, const char* instanceDir,
                                 const char* templateFile);

}  // namespace qz7::upgrade

#endif  // QZ7_UPGRADE_INSTANCE_UPGRADE_H_
