// Discovery of the instances already on the computer: the old instance index file of an
// earlier release, or else the profile registry; then each instance's configuration file
// and the administration server's service account.
#ifndef QZ7_ENTRY_EXISTING_INSTANCE_SCAN_H_
#define QZ7_ENTRY_EXISTING_INSTANCE_SCAN_H_

#include <cstdint>
#include <memory>

#include "base/fixed_text.h"
#include "entry/instance_record.h"

namespace qz7::entry {

constexpr const char* kConfigFileName = "qz7systm";

// Releases an existing installation can come from.
constexpr int32_t kPriorReleaseUnknown = 0;
constexpr int32_t kPriorReleaseIndexFile = 2;  // also layout version 0x700
constexpr int32_t kPriorRelease800 = 5;
constexpr int32_t kPriorRelease900 = 6;

struct ExistingInstanceScan {
  base::FixedText<262> profileDir;  // without quotes
  InstanceArray records;
  int32_t adminIndex = -1;
  int32_t defaultIndex = -1;
  int32_t priorRelease = kPriorReleaseUnknown;
  bool listGrowthFailed = false;  // an instance found was lost: the list could not grow
  bool fromIndexFile = false;     // the records are the names the index file lists
  // Something the discovery reads could not be read for another reason than its absence:
  // the profile registry could not be pointed at the profile directory, a read or the
  // enumeration of it failed otherwise than on an unset value or the end of the list, the
  // index file or an instance's configuration file could not be opened or read. The scan may
  // lack instances, or know them wrongly, and a run over it could neither carry them over nor
  // tell that it did not.
  bool unreadable = false;
  // Where the set-up moves the instances (without quotes; empty when nowhere else): the
  // configuration file of an instance that an interrupted run moved already is read there.
  base::FixedText<262> movedToDir;
};

// Runs the whole discovery from a (quoted) profile directory. Null only when the scan
// cannot be allocated. Failures on the way end nothing: the scan keeps what was found, and
// marks itself unreadable when something was there that it could not read.
// With movedToDir (quoted or not; null or empty for none), an instance whose directory is
// not in the profile directory but there has its configuration file read there.
std::unique_ptr<ExistingInstanceScan> ScanExistingInstances(const char* currentProfileDir,
                                                            const char* movedToDir = nullptr);

// Appends an empty plain record named name (no deduplication) and, when the instance's
// "QZ7INSTPROF" differs from the scan's profile directory, stores it as the record's profile
// directory. Returns the new index, or -1 (and listGrowthFailed set) when the array could
// not grow.
[[nodiscard]] int32_t AddScanRecord(ExistingInstanceScan& scan, const char* name);

// Reads the index file; records are added for the names it holds.
void ReadInstanceDirectoryFile(ExistingInstanceScan& scan);
// Reads each record's configuration file and the administration server's logon account.
void ReadInstanceConfigs(ExistingInstanceScan& scan);

}  // namespace qz7::entry

#endif  // QZ7_ENTRY_EXISTING_INSTANCE_SCAN_H_
