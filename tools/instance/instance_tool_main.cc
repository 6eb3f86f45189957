#include "tools/instance/instance_tool_main.h"

#include <cstdio>
#include <string>

#include "host/profile_registry.h"
#include "tools/instance/instance_tool_actions.h"
#include "tools/instance/tool_arguments.h"
#include "tools/instance/tool_environment.h"

namespace qz7::instance_tools {
namespace {

struct ToolInfo {
  const char* name;
  const char* usage;
};

ToolInfo InfoOf(InstanceTool tool) {
  switch (tool) {
    case InstanceTool::kNodeCreate:
      return {"QZ7NCRT", "QZ7NCRT.EXE /i:NAME /n:NODE \"/u:ACCOUNT,PASSWORD\" \"/O:OWNER\""};
    case InstanceTool::kInstanceCreate:
      return {"QZ7ICRT", "QZ7ICRT.EXE NAME /mpp \"/u:ACCOUNT,PASSWORD\" /r:FIRST,LAST [/h:HOST]"};
    case InstanceTool::kInstanceUpdate:
      break;
  }
  return {"QZ7IUPDT", "QZ7IUPDT.EXE NAME \"/u:ACCOUNT,PASSWORD\" /r:FIRST,LAST [/h:HOST]"};
}

ToolOutcome Run(InstanceTool tool, int argc, char** argv) {
  PartitionedArguments partitioned;
  NodeArguments node;
  const std::string error = tool == InstanceTool::kNodeCreate
                                ? ParseNodeArguments(argc, argv, &node)
                                : ParsePartitionedArguments(argc, argv, &partitioned);
  if (!error.empty()) {
    return {kExitUsage, error + "\nusage: " + InfoOf(tool).usage +
                            "\n(an empty password is written as \",\": /u:ACCOUNT,,)"};
  }
  UseMachineOfProgram();
  Installation installation;
  if (std::string missing = FindInstallation(argc > 0 ? argv[0] : nullptr, &installation);
      !missing.empty()) {
    return {kExitFailed, missing};
  }
  ToolOutcome outcome;
  switch (tool) {
    case InstanceTool::kNodeCreate:
      outcome = AddNodeOfRemoteInstance(installation, node);
      break;
    case InstanceTool::kInstanceCreate:
      outcome = CreatePartitionedInstance(installation, partitioned);
      break;
    case InstanceTool::kInstanceUpdate:
      outcome = MakeInstancePartitioned(installation, partitioned);
      break;
  }
  // The caller goes on as if what the tool wrote to the profile registry were there for good:
  // it is made durable before success is reported (the registry writes its changes lazily).
  if (outcome.exitCode == kExitSuccess && !host::FlushProfileRegistry()) {
    return {kExitFailed, "the profile registry could not be made durable"};
  }
  return outcome;
}

}  // namespace

int RunInstanceTool(InstanceTool tool, int argc, char** argv) {
  const ToolOutcome outcome = Run(tool, argc, argv);
  std::FILE* stream = outcome.exitCode == kExitSuccess ? stdout : stderr;
  std::fprintf(stream, "%s: %s\n", InfoOf(tool).name, outcome.message.c_str());
  std::fflush(stream);
  return outcome.exitCode;
}

}  // namespace qz7::instance_tools
