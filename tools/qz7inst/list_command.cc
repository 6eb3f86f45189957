// qz7inst list [PROFILE_DIR]: the instances that discovery finds in an instance-profile
// directory (by default the one the profile registry points at), as a table or as JSON.
#include <string>

#include "entry/existing_instance_scan.h"
#include "host/profile_registry.h"
#include "tools/qz7inst/command.h"
#include "tools/qz7inst/instance_table.h"
#include "util/path_normalization.h"

namespace qz7::cli {
namespace {

int RunList(Invocation& invocation) {
  const Command& self = *FindCommand("list");
  if (invocation.args.size() > 1) return UsageError(invocation, self, "too many arguments");
  std::string profileDir;
  if (invocation.args.empty()) {
    if (host::ReadProfilePointer(host::kInstanceProfileDirValue, &profileDir) != 0) {
      return UsageError(invocation, self,
                        "no PROFILE_DIR given and the profile registry points at none");
    }
  } else {
    profileDir = invocation.args[0];
  }
  char normalized[261];
  int rc = util::NormalizeSetupPath(profileDir.c_str(), normalized, sizeof normalized);
  if (rc != 0) {
    std::fprintf(invocation.err, "qz7inst: cannot use the path '%s' (code %d)\n",
                 profileDir.c_str(), rc);
    return 2;
  }
  auto scan = entry::ScanExistingInstances(normalized);
  if (!scan) {
    std::fprintf(invocation.err, "qz7inst: out of memory\n");
    return 1;
  }
  if (invocation.json) {
    PrintJson(invocation.out, InstanceJson(*scan));
  } else {
    PrintInstanceTable(invocation.out, *scan);
  }
  return 0;
}

}  // namespace

QZ7_COMMAND("list", "list [PROFILE_DIR] [--json]",
            "the instances that discovery finds (default: where the profile registry points)",
            &RunList);

}  // namespace qz7::cli
