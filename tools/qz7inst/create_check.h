// qz7inst create --check: what `create` with the same arguments would do to each instance and
// what would stop it, found with the library's own discovery and file recognition while the
// host answers read-only (read_only_host.h). Nothing on the machine is changed.
#ifndef QZ7_TOOLS_QZ7INST_CREATE_CHECK_H_
#define QZ7_TOOLS_QZ7INST_CREATE_CHECK_H_

#include <string>
#include <vector>

#include "qz7instm.h"
#include "tools/qz7inst/command.h"

namespace qz7::cli {

// Prints the plan (text, or JSON with --json). Returns 0 when nothing would stop the run,
// 1 otherwise.
int RunCreateCheck(Invocation& invocation, const std::string& current, const std::string& requested,
                   const std::string& install, const std::vector<InstanceDescriptor*>& descriptors);

}  // namespace qz7::cli

#endif  // QZ7_TOOLS_QZ7INST_CREATE_CHECK_H_
