// Builds a whole sample machine root in a host directory: drives, the computer's name, an
// installation of the current release (CFG templates, BIN, message files) and instances of an
// earlier release (directories with their qz7systm, profile-registry entries, services, and
// optionally the old instance index file). Every part is chosen by a named field.
//
//   SampleMachine plan;
//   plan.instances.push_back({.name = "QZ7", .version = 0x800});
//   plan.instances.push_back({.name = "QZ7DAS", .version = 0x800});
//   plan.adminServer = "QZ7DAS";
//   BuiltMachine machine = BuildSampleMachine(root, plan);  // root now in force
#ifndef QZ7_TOOLS_SAMPLE_SAMPLE_MACHINE_H_
#define QZ7_TOOLS_SAMPLE_SAMPLE_MACHINE_H_

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tools/sample/profile_registry_builder.h"

namespace qz7::sample {

// One instance of the earlier release.
struct SampleInstance {
  std::string name;
  uint16_t version = 0x800;  // layout version of its qz7systm; 0 writes no qz7systm
  uint16_t level = 0;        // level number at offset 20
  uint16_t nodeType = 1;
  bool inRegistry = true;          // defined in the profile registry (with QZ7INSTPROF)
  bool service = true;             // registers its service(s): <name>, or <name>-<node> per node
  std::string account;             // the services' logon account ("" = default)
  std::vector<std::string> nodes;  // NODES of a partitioned instance
  std::string portRange;           // QZ7PORTRANGE ("" = not set)
  std::string owner;               // QZ7INSTOWNER ("" = not set)
  std::vector<ProfileVariable> variables;  // any further instance variables
};

struct SampleMachine {
  std::vector<char> drives = {'C'};        // drives/<letter>/ folders
  std::map<char, std::string> driveTypes;  // drivetypes.txt: 'D' -> "removable"
  std::string computerName = "SAMPLEPC";   // computer.txt; "" writes none
  std::string installDir = "C:\\QZ7";      // the current release's installation
  // CFG templates to write, each a valid 4096-byte qz7systm of the current release (0x900,
  // level 7100) whose node type follows its kind. The names are the server marker files:
  // "qz7syssv", "qz7syssr", "qz7sysst", "qz7sysrq", "qz7sysmp", "qz7syssv.das", "qz7syssr.das".
  std::vector<std::string> templates = {"qz7syssv", "qz7syssv.das"};
  // Programs copied into installDir\BIN: (name there, host path of the program).
  std::vector<std::pair<std::string, std::string>> binPrograms;
  bool migrationMessages = true;           // installDir\msg\prime\QZ7DBMIG.TXT
  bool setupMessages = true;               // installDir\msg\prime\QZ7SETUP.MSG, the caller's module
  std::string profileDir = "C:\\QZ7PROF";  // the earlier release's instance-profile directory
  std::string oldInstallDir = "C:\\QZ7OLD";  // its services' program is <this>\bin\qz7syscs.exe
  std::vector<SampleInstance> instances;
  std::string adminServer;      // QZ7ADMINSERVER in the global profile ("" = not set)
  std::string defaultInstance;  // QZ7INSTDEF in the global profile ("" = not set)
  bool indexFile = false;       // QZ7IDIR in profileDir naming every instance, in order
  // Any further files, by Windows path (directories are created), written last: an
  // instance's old database or node directory, say.
  std::vector<std::pair<std::string, std::vector<unsigned char>>> files;
};

struct BuiltMachine {
  std::string root;                   // the host directory now in force as machine root
  std::string setupMessagesHostPath;  // for qz7LoadMessageModule ("" when not written)
  std::string migrationMessagesPath;  // Windows path of QZ7DBMIG.TXT ("" when not written)
};

// Builds plan into hostRoot (created when missing; what it holds already stays) and makes it
// the machine root with SetMachineRoot. Throws std::runtime_error naming the step that failed.
BuiltMachine BuildSampleMachine(const std::string& hostRoot, const SampleMachine& plan);

// The node type a template of the given file name carries.
uint16_t TemplateNodeType(const std::string& templateName);

// The English texts of the caller's message module, by message number, as written to
// QZ7SETUP.MSG; placeholders %1.. in the order the library passes the parameters.
const std::map<uint32_t, std::string>& SetupMessageTexts();

// Line n of QZ7DBMIG.TXT (68 lines; 47 to 51 take the database name as %1).
std::vector<std::string> MigrationMessageLines();

}  // namespace qz7::sample

#endif  // QZ7_TOOLS_SAMPLE_SAMPLE_MACHINE_H_
