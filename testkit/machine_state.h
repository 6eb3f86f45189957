// What a machine root holds, to tell whether an operation changed anything: every file and
// folder on its drives with its contents, the service table, and the instance keys of the
// profile registry (without the comment header a rewrite of a text store adds). And a copy of
// a whole machine root set aside, to put the machine back between the runs of a loop.
//
//   const MachineState before = TakeMachineState(machine.root());
//   ... a call that must change nothing ...
//   EXPECT_EQ(DiffMachineStates(before, TakeMachineState(machine.root())), "");
//
// The registry and the service table are the POSIX stand-in's text files. On Windows, with no
// machine root, the state is read through the system's own interfaces: the folders the test
// machine in force owns (testkit/temp_machine.h), the instance keys of the registry and the
// services it made; a copy holds those folders, the product's registry tree, the shares and
// those services.
#ifndef QZ7_TESTKIT_MACHINE_STATE_H_
#define QZ7_TESTKIT_MACHINE_STATE_H_

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace qz7::testkit {

// By name: a path below drives/ ("<dir>" for a folder), "services.txt", "registry.txt"
// (on Windows, a line per service: name, program, account, display name).
using MachineState = std::map<std::string, std::string>;

MachineState TakeMachineState(const std::string& machineRoot);

// Calls visit(name, entry) for every folder and file on the machine's drives, by its name
// below drives/ ("c", "c/QZ7/qz7cli.ini"; on Windows the test machine's folders and what is
// below them), but for what is below the folder named skipped.
using DriveEntryVisit =
    std::function<void(const std::string& name, const std::filesystem::directory_entry& entry)>;
void ForEachDriveEntry(const std::string& machineRoot, const std::string& skipped,
                       const DriveEntryVisit& visit);

// The names of what differs between two states, one a line; "" when they are equal.
std::string DiffMachineStates(const MachineState& before, const MachineState& after);

#if defined(_WIN32)
// The registry tree at key (below HKEY_LOCAL_MACHINE) as text: each key as "[KEY]" and a
// "NAME=TYPE:HEX" line per value, keys and values in name order; "" when it is missing.
std::string RegistryTreeText(const std::string& key);
// The services the test machine made, a line each: name, program (its quotes taken off with
// bareProgram), account, display name.
std::string MadeServicesText(bool bareProgram);

// A registry key as a copy of the machine keeps it: its values, each with its type and bytes.
struct SavedKey {
  std::string path;  // below HKEY_LOCAL_MACHINE
  struct Value {
    std::string name;
    uint32_t type;
    std::vector<unsigned char> data;
  };
  std::vector<Value> values;
};
#endif

// The files of a machine root copied aside (to the root's path with suffix), removed again
// when the object goes. On POSIX the files below linked (a folder below the root, as
// "drives/c/BIN": large files that no run writes) are hard links to the machine's own, both
// in the copy and when it is put back.
class MachineCopy {
 public:
  MachineCopy(const std::string& root, const char* suffix, const char* linked = nullptr);
  ~MachineCopy();
  MachineCopy(const MachineCopy&) = delete;
  MachineCopy& operator=(const MachineCopy&) = delete;
  // Puts the machine root back as it was copied.
  void Restore() const;

 private:
  std::filesystem::path root_, copy_;
#if !defined(_WIN32)
  std::string linked_;
#endif
#if defined(_WIN32)
  struct SavedService {
    std::string name, program, account, displayName;
  };
  std::vector<std::string> folders_;  // the machine's folders, as copied
  std::vector<SavedKey> keys_;        // parents before their subkeys
  std::vector<SavedService> services_;
#endif
};

}  // namespace qz7::testkit

#endif  // QZ7_TESTKIT_MACHINE_STATE_H_
