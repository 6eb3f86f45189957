// The stand-ins for the product's instance tools (tools/instance), and putting them into a
// machine. They are built beside the qz7inst program; a machine gets copies of them in its
// installation's BIN directory under the product's names, so that a set-up run finds
// <installDir>\BIN\QZ7ICRT.EXE and so on, and a tool finds its machine from where it lies.
// (Copies, not links: a link that leads out of the machine's drive is refused.)
//
//   SampleMachine plan;
//   plan.templates.push_back("qz7sysmp");
//   plan.binPrograms = InstanceToolPrograms(InstanceToolDirectoryBeside(QZ7_CLI_PATH));
//   BuildSampleMachine(root, plan);
#ifndef QZ7_TOOLS_SAMPLE_INSTANCE_TOOLS_H_
#define QZ7_TOOLS_SAMPLE_INSTANCE_TOOLS_H_

#include <string>
#include <utility>
#include <vector>

namespace qz7::sample {

struct InstanceToolProgram {
  const char* machineName;  // its name in the installation's BIN directory
  const char* builtName;    // the program's file name in the build
};

constexpr InstanceToolProgram kInstanceTools[] = {
    {"QZ7NCRT.EXE", "qz7ncrt"},
    {"QZ7ICRT.EXE", "qz7icrt"},
    {"QZ7IUPDT.EXE", "qz7iupdt"},
};

// The host directory of a program path (where the instance tools are built beside it).
std::string InstanceToolDirectoryBeside(const std::string& hostProgramPath);

// (name in BIN, host path) for every tool, as SampleMachine::binPrograms takes them.
// builtSuffix picks other builds of them ("_test": the tests' builds).
std::vector<std::pair<std::string, std::string>> InstanceToolPrograms(
    const std::string& toolDirectory, const std::string& builtSuffix = "");

}  // namespace qz7::sample

#endif  // QZ7_TOOLS_SAMPLE_INSTANCE_TOOLS_H_
