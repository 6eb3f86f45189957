#include "entry/instance_removal.h"

#include <string>

#include "base/multibyte.h"
#include "base/quoted_path.h"
#include "host/host_services.h"
#include "platform/file_system.h"

namespace qz7::entry {

void RemoveAllInstances(const SetupContext& context) {
  const std::string target = context.targetProfileDir.c_str();

  if (context.existingScan != nullptr) {
    const InstanceArray& records = context.existingScan->records;
    for (int32_t i = 0; i < records.count(); ++i) {
      const std::string instanceDir =
          base::ExtendPath(target, std::string("\\") + records[i].name.c_str());
      host::Host().InstanceDrop(records[i].name.c_str(), instanceDir.c_str());
    }
  }

  // Removal reports nothing to its caller; what could not be removed simply stays.
  static_cast<void>(host::Host().PRegProfilePE(host::kProfileRemoveAll, nullptr, host::kAnyNode));

  std::string path = target;
  bool removed = true;
  while (removed && base::FindCharMB(path.c_str(), '\\') != nullptr) {
    removed = platform::RemoveDirectory(base::StripQuotes(path.c_str()).c_str()) == 0 &&
              base::CutAtLastBackslash(path);
  }
  // The removal is on the disk when the call returns; it reports nothing, so neither does this.
  static_cast<void>(platform::SyncFileSystem());
}

}  // namespace qz7::entry
