// What the stand-in instance tools do to the machine, through the stand-in host runtime, the
// way the product's own tools would:
//
//   QZ7ICRT.EXE   creates a partitioned instance: its directory with a qz7systm from the
//                 partitioned template, its profile (QZ7INSTPROF, QZ7PORTRANGE, QZ7INSTOWNER =
//                 this computer) with node 0 in its NODES key, and the service <name>-0.
//   QZ7IUPDT.EXE  makes an existing instance partitioned: the same profile entries and node 0,
//                 the service <name>-0 in place of <name>, node type 4 in its qz7systm.
//   QZ7NCRT.EXE   makes this computer a node of a partitioned instance another computer owns:
//                 the instance's profile (defined when missing, QZ7INSTOWNER = the owner), the
//                 node in its NODES key and the service <name>-<node>. No directory: the
//                 instance's files live with its owner.
//
// Node 0 carries the value "HostName" (the /h: host name, else this computer's name).
#ifndef QZ7_TOOLS_INSTANCE_INSTANCE_TOOL_ACTIONS_H_
#define QZ7_TOOLS_INSTANCE_INSTANCE_TOOL_ACTIONS_H_

#include <string>

#include "tools/instance/tool_arguments.h"
#include "tools/instance/tool_environment.h"

namespace qz7::instance_tools {

// Exit codes of the tools.
constexpr int kExitSuccess = 0;
constexpr int kExitUsage = 1;     // the command line cannot be read
constexpr int kExitConflict = 2;  // the machine is not in a state the tool can act on
constexpr int kExitFailed = 3;    // a step failed; what the tool had done is taken back

// The port range a node of a remote instance is given until its owner's range is known.
constexpr const char* kDefaultPortRange = "60000:60003";
constexpr const char* kNodeHostNameValue = "HostName";

struct ToolOutcome {
  int exitCode = kExitSuccess;
  std::string message;  // what was done, or why not
};

ToolOutcome CreatePartitionedInstance(const Installation& installation,
                                      const PartitionedArguments& arguments);
ToolOutcome MakeInstancePartitioned(const Installation& installation,
                                    const PartitionedArguments& arguments);
ToolOutcome AddNodeOfRemoteInstance(const Installation& installation,
                                    const NodeArguments& arguments);

}  // namespace qz7::instance_tools

#endif  // QZ7_TOOLS_INSTANCE_INSTANCE_TOOL_ACTIONS_H_
