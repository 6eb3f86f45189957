// Sample machines for whole set-up runs: instances of an earlier release that hold real
// configuration values and old database and node directories, and the descriptors a setup
// program passes for new instances. Each old instance keeps the bytes it was built from, so a
// test can tell afterwards whether anything of it was lost.
//
//   SampleMachine plan = UpgradeMachine();
//   OldInstance sales = MakeOldInstance("SALES", {.seed = 2, .databaseLayout = 3});
//   AddOldInstance(plan, sales, plan.profileDir);
//   BuildSampleMachine(root, plan);
#ifndef QZ7_TESTKIT_SCENARIO_MACHINES_H_
#define QZ7_TESTKIT_SCENARIO_MACHINES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "qz7instm.h"
#include "tools/sample/database_directory_builder.h"
#include "tools/sample/sample_machine.h"

namespace qz7::testkit {

using FileBytes = std::vector<unsigned char>;

// Values of a qz7systm that the conversion to the current release carries over for an
// ordinary instance (node type 1 to 1, and 1 to the partitioned type 4) from layouts 0x600,
// 0x800 and 0x900, each inside the range the conversion enforces (and, for 0x600, above the
// values it raises).
struct CarriedValues {
  uint16_t field36 = 0;  // 16-bit, 4096 to 65535
  uint32_t field64 = 0;  // 32-bit, 10000 to 2097152
  std::string text1130;  // 256-byte text
  std::string text1968;  // 9-byte text
  bool operator==(const CarriedValues&) const = default;
};
CarriedValues CarriedValuesOf(const FileBytes& config);

struct OldInstanceShape {
  int seed = 1;              // makes this instance's values and entries its own
  uint16_t version = 0x800;  // layout of its qz7systm
  int databaseLayout = 2;    // 1 to 4 (short header for 1 and 2); 0: no database directory
  int nodeLayout = 1;        // 1 to 5; 0: no node directory
};

// An instance of an earlier release and the bytes of every file it holds.
struct OldInstance {
  std::string name;
  CarriedValues values;
  FileBytes config;                    // qz7systm
  FileBytes databaseDirectory;         // SQLDBDIR\SQLDBDIR, and the same bytes in SQLDBBAK
  FileBytes intention;                 // SQLDBDIR\SQLDBINS
  FileBytes nodeDirectory;             // SQLNODIR\SQLNODIR, and the same bytes in SQLNOBAK
  std::vector<std::string> databases;  // catalogued names, in order
  std::vector<std::string> nodes;      // node names, in order
};

OldInstance MakeOldInstance(const std::string& name, const OldInstanceShape& shape = {});

// Adds the instance to the plan: a SampleInstance (defined in the profile registry, with its
// service) and its files below directory\name. The files replace what the SampleInstance
// would write.
void AddOldInstance(sample::SampleMachine& plan, const OldInstance& instance,
                    const std::string& directory, bool inRegistry = true);
// Only the database directory files of the instance, below directory\name (the old database
// directory an index-file release kept at a drive root).
void AddOldDatabaseDirectory(sample::SampleMachine& plan, const OldInstance& instance,
                             const std::string& directory);

// An installation of the current release (server, administration-server and partitioned
// templates) with nothing of an earlier release yet. Given the host path of a program built
// beside the stand-in instance tools (the qz7inst program), its BIN directory gets the tools.
sample::SampleMachine CurrentInstallation(const std::string& toolProgram = "");

// Descriptors as a setup program fills them.
InstanceDescriptor PlainDescriptor(const std::string& name, bool makeDefault = false,
                                   const std::string& account = "",
                                   const std::string& password = "");
InstanceDescriptor AdminServerDescriptor(const std::string& name);
// A further node of a partitioned instance that ownerComputer owns.
InstanceDescriptor AddedNodeDescriptor(const std::string& name, const std::string& nodeNumber,
                                       const std::string& ownerComputer);
InstanceDescriptor PartitionedDescriptor(const std::string& name, const std::string& firstPort,
                                         const std::string& lastPort,
                                         const std::string& account = "",
                                         const std::string& password = "");

// The catalogued names of a database directory of the current layout, and the node names of
// a node directory of the current layout; empty when the file is not of that layout.
std::vector<std::string> CurrentDatabaseNames(const FileBytes& directory);
std::vector<std::string> CurrentNodeNames(const FileBytes& directory);
// The saved directory a node directory migration backup holds (empty when it is no backup).
FileBytes NodeBackupData(const FileBytes& backup);

}  // namespace qz7::testkit

#endif  // QZ7_TESTKIT_SCENARIO_MACHINES_H_
