// A throw-away machine root for one test: a fresh host directory with drive C:, put in force
// with SetMachineRoot, removed again (with everything below it) when the object goes. On
// Windows, with no machine root, the test works on the computer's own drive C: instead, and
// what it made there (the new top folders of C:, the product's registry tree, new services,
// the network shares, the computer's name, the drives it added) is undone when the object goes;
// tests that do so run one after the other.
#ifndef QZ7_TESTKIT_TEMP_MACHINE_H_
#define QZ7_TESTKIT_TEMP_MACHINE_H_

#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace qz7::testkit {

// A host file's bytes ("" when it cannot be read), and a host file written with bytes,
// its parent folders made first.
std::string ReadHostFile(const std::string& hostPath);
void WriteHostFile(const std::string& hostPath, const std::string& bytes);

#if defined(_WIN32)
// What the test machine in force owns on Windows, for taking its state and putting it back:
// its folders (the top folders of C: made since it was made, as "C:\NAME", and the roots of
// the drives it added, as "D:\") and the services made since it was made.
std::vector<std::string> TestMachineFolders();
std::vector<std::string> TestMachineServices();
#endif

// While it lives, machines are made in a folder in memory (/dev/shm) when the host has one, so
// that loops of hundreds of runs pay little for the syncs every run makes; the host's
// temporary folder again when it goes. Nothing changes where there is no such folder
// (Windows).
class MemoryTempFolder {
 public:
  MemoryTempFolder();
  ~MemoryTempFolder();
  MemoryTempFolder(const MemoryTempFolder&) = delete;
  MemoryTempFolder& operator=(const MemoryTempFolder&) = delete;

 private:
  bool changed_ = false;
  bool hadValue_ = false;
  std::string saved_;
};

class TempMachine {
 public:
  TempMachine();
  ~TempMachine();
  TempMachine(const TempMachine&) = delete;
  TempMachine& operator=(const TempMachine&) = delete;

  const std::string& root() const { return root_; }
  // The host path of a Windows path on this machine (case as given; no lookup).
  std::string HostPath(const std::string& windowsPath) const;

  // Helpers that work on Windows paths through the host file system, creating parents.
  void WriteFile(const std::string& windowsPath, const std::vector<unsigned char>& bytes) const;
  void WriteText(const std::string& windowsPath, const std::string& text) const {
    WriteFile(windowsPath, std::vector<unsigned char>(text.begin(), text.end()));
  }
  void MakeDirectory(const std::string& windowsPath) const {
    std::filesystem::create_directories(HostPath(windowsPath));
  }
  std::vector<unsigned char> ReadFile(const std::string& windowsPath) const;
  bool Exists(const std::string& windowsPath) const {
    return std::filesystem::exists(HostPath(windowsPath));
  }
  // The names in a folder, sorted.
  std::vector<std::string> Entries(const std::string& windowsDir) const;
  // The paths of present that are missing and of absent that exist, one a line ("" when
  // every path is where it should be), for one comparison that names what is wrong.
  std::string Misplaced(const std::vector<std::string>& present,
                        const std::vector<std::string>& absent) const;
  // Gives the machine drive letter, a folder of the scratch root; removable makes
  // GetDriveType answer that it is removable. On Windows the letter is mapped to that folder
  // for the test (listed by GetLogicalDriveStrings, of the type asked for) and unmapped when
  // the object goes. Throws std::runtime_error when the drive cannot be made.
  void AddDrive(char letter, bool removable = false) const;
  // Gives the computer the name for the rest of the test: computer.txt of the machine root
  // on POSIX; on Windows the computer's active name in the registry, which GetComputerNameA
  // reads, put back when the object goes.
  void NameComputer(const std::string& name);

 private:
#if defined(_WIN32)
  friend std::vector<std::string> TestMachineFolders();
  friend std::vector<std::string> TestMachineServices();
#endif
  std::string root_;
#if defined(_WIN32)
  std::set<std::string> before_;  // the top folder of C: when the object was made
  bool productKeyBefore_ = false;
  std::string nameBefore_;                   // the computer's active name
  std::vector<std::string> servicesBefore_;  // the services there were
  std::vector<std::string> sharesBefore_;    // and the network shares
  mutable std::set<char> drives_;            // the drive letters AddDrive mapped
#endif
};

}  // namespace qz7::testkit

#endif  // QZ7_TESTKIT_TEMP_MACHINE_H_
