// Stand-in for the product's QZ7NCRT.EXE: adds this computer as a node of a partitioned instance
// that another computer owns (see instance_tool_actions.h).
#include "tools/instance/instance_tool_main.h"

int main(int argc, char** argv) {
  return qz7::instance_tools::RunInstanceTool(qz7::instance_tools::InstanceTool::kNodeCreate, argc,
                                              argv);
}
