// The common body of the three stand-in instance tools: read the command line, find the
// machine and the installation, act, and report on standard output (success) or standard
// error (anything else) with the tool's exit code.
#ifndef QZ7_TOOLS_INSTANCE_INSTANCE_TOOL_MAIN_H_
#define QZ7_TOOLS_INSTANCE_INSTANCE_TOOL_MAIN_H_

namespace qz7::instance_tools {

enum class InstanceTool { kNodeCreate, kInstanceCreate, kInstanceUpdate };

int RunInstanceTool(InstanceTool tool, int argc, char** argv);

}  // namespace qz7::instance_tools

#endif  // QZ7_TOOLS_INSTANCE_INSTANCE_TOOL_MAIN_H_
