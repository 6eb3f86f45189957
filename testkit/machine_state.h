// What a machine root holds, to tell whether an operation changed anything: every file and
// folder on its drives with its contents, the service table, and the instance keys of the
// profile registry (without the comment header a rewrite of a text store adds). And a copy of
// a whole machine root set aside, to put the machine back between the runs of a loop.
//
//   const MachineState before = TakeMachineState(machine.root());
//   ... a call that must change nothing ...
//   EXPECT_EQ(DiffMachineStates(before, TakeMachineState(machine.root())), "");
//
// The registry and the service table are the POSIX stand-in's text files; on Windows, where
// they are the computer's own, only the machine root's folders are compared.
#ifndef QZ7_TESTKIT_MACHINE_STATE_H_
#define QZ7_TESTKIT_MACHINE_STATE_H_

#include <filesystem>
#include <map>
#include <string>

namespace qz7::testkit {

// By name: a path below drives/ ("<dir>" for a folder), "services.txt", "registry.txt".
using MachineState = std::map<std::string, std::string>;

MachineState TakeMachineState(const std::string& machineRoot);

// The names of what differs between two states, one a line; "" when they are equal.
std::string DiffMachineStates(const MachineState& before, const MachineState& after);

// The files of a machine root copied aside (to the root's path with suffix), removed again
// when the object goes.
class MachineCopy {
 public:
  MachineCopy(const std::string& root, const char* suffix);
  ~MachineCopy();
  MachineCopy(const MachineCopy&) = delete;
  MachineCopy& operator=(const MachineCopy&) = delete;
  // Puts the machine root back as it was copied.
  void Restore() const;

 private:
  std::filesystem::path root_, copy_;
};

}  // namespace qz7::testkit

#endif  // QZ7_TESTKIT_MACHINE_STATE_H_
