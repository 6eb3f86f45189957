// Stand-in for the product's QZ7ICRT.EXE: creates a partitioned instance
// (see instance_tool_actions.h).
#include "tools/instance/instance_tool_main.h"

int main(int argc, char** argv) {
  return qz7::instance_tools::RunInstanceTool(qz7::instance_tools::InstanceTool::kInstanceCreate,
                                              argc, argv);
}
