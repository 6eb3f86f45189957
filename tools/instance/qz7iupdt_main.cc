// Stand-in for the product's QZ7IUPDT.EXE: makes an existing instance partitioned
// (see instance_tool_actions.h).
#include "tools/instance/instance_tool_main.h"

int main(int argc, char** argv) {
  return qz7::instance_tools::RunInstanceTool(qz7::instance_tools::InstanceTool::kInstanceUpdate,
                                              argc, argv);
}
