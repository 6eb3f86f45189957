#include "testkit/temp_machine.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>

#if defined(_WIN32)
#include <windows.h>
#include <winioctl.h>

#include "host/service_table.h"
#include "platform/network_shares.h"
#else
#include <unistd.h>
#endif

#include "platform/machine_root.h"
#include "platform/registry.h"
#include "testkit/host_os.h"
#include "tools/sample/caller_host.h"

namespace qz7::testkit {

namespace fs = std::filesystem;

namespace {

// Makes everything below path writable again (tests leave read-only files behind).
void MakeWritable(const fs::path& path) {
  std::error_code ignored;
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);
  for (auto it = fs::recursive_directory_iterator(path, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
}

#if defined(_WIN32)
// Drive C: is the computer's own on Windows: what a test makes there is found by comparing its
// top folder before and after, and removed with the product's registry tree.
constexpr const char* kTestDrive = "C:\\";
constexpr const char* kProductKey = "SOFTWARE\\ZAV";

std::set<std::string> TopEntries() {
  std::set<std::string> names;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(kTestDrive, ignored))
    names.insert(entry.path().filename().string());
  return names;
}

// Drive letters of a test: Wine's mount manager defines a letter on a host folder with a
// drive type when asked as its own configuration program asks. A letter linked through the
// prefix's dosdevices folder alone can be opened, but GetLogicalDriveStrings does not list it
// and GetDriveType takes it for fixed; the mount manager's drive is listed and of its type.
struct WineUnixDrive {
  ULONG size;
  UINT32 type;  // a DRIVE_* type; DRIVE_NO_ROOT_DIR removes the letter
  UINT32 fileSystem;
  DWORD serial;
  ULONGLONG unixDevice;
  WCHAR letter;
  USHORT mountPointOffset;  // the host folder (a NUL-ended POSIX path) follows the header
  USHORT deviceOffset;
  USHORT labelOffset;
};
constexpr DWORD kDefineUnixDrive =
    CTL_CODE('m', 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);

// The host (POSIX) path of a Windows path, from Wine; "" outside Wine.
std::string UnixPathOf(const std::string& windowsPath) {
  using ToUnix = char*(CDECL*)(const WCHAR*);
  const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (toUnix == nullptr) return "";
  std::wstring wide(windowsPath.size() + 1, L'\0');
  const int length = MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide.data(),
                                         static_cast<int>(wide.size()));
  if (length == 0) return "";
  char* converted = toUnix(wide.c_str());
  if (converted == nullptr) return "";
  std::string path = converted;
  HeapFree(GetProcessHeap(), 0, converted);
  return path;
}

// Maps letter to the host folder with the type, or removes it (DRIVE_NO_ROOT_DIR, no
// folder); false when the mount manager cannot be asked or refuses.
bool DefineDrive(char letter, UINT32 type, const std::string& unixFolder) {
  std::vector<char> request(sizeof(WineUnixDrive) + unixFolder.size() + 1, '\0');
  WineUnixDrive header = {};
  header.size = static_cast<ULONG>(request.size());
  header.type = type;
  header.letter = static_cast<WCHAR>(std::tolower(static_cast<unsigned char>(letter)));
  if (!unixFolder.empty()) {
    header.mountPointOffset = static_cast<USHORT>(sizeof header);
    std::copy(unixFolder.begin(), unixFolder.end(), request.begin() + sizeof header);
  }
  std::copy_n(reinterpret_cast<const char*>(&header), sizeof header, request.begin());
  HANDLE manager =
      CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (manager == INVALID_HANDLE_VALUE) return false;
  DWORD returned = 0;
  const BOOL done =
      DeviceIoControl(manager, kDefineUnixDrive, request.data(), static_cast<DWORD>(request.size()),
                      nullptr, 0, &returned, nullptr);
  CloseHandle(manager);
  return done != FALSE;
}

bool ProductKeyExists() {
  platform::RegKey key = nullptr;
  if (platform::RegOpenKeyExA(platform::LocalMachineKey(), kProductKey, 0, platform::kKeyRead,
                              &key) != 0) {
    return false;
  }
  static_cast<void>(platform::RegCloseKey(key));  // only looked at
  return true;
}

// The folder shares of the computer, by name (none where the system keeps none: Wine has no
// file server).
std::vector<std::string> ShareNames() {
  std::vector<std::string> names;
  if (platform::NetShareEnum(&names) != 0) names.clear();
  return names;
}
#endif

#if defined(_WIN32)
const TempMachine* inForce = nullptr;  // one machine at a time: the tests run one by one
#endif

}  // namespace

MemoryTempFolder::MemoryTempFolder() {
#if !defined(_WIN32)
  if (access("/dev/shm", W_OK) != 0) return;
  if (const char* value = std::getenv("TMPDIR")) {
    hadValue_ = true;
    saved_ = value;
  }
  changed_ = setenv("TMPDIR", "/dev/shm", 1) == 0;
#endif
}

MemoryTempFolder::~MemoryTempFolder() {
#if !defined(_WIN32)
  if (!changed_) return;
  hadValue_ ? setenv("TMPDIR", saved_.c_str(), 1) : unsetenv("TMPDIR");
#endif
}

TempMachine::TempMachine() {
  root_ = sample::MakeTempDirectory("qz7-machine-");
#if defined(_WIN32)
  before_ = TopEntries();
  productKeyBefore_ = ProductKeyExists();
  sharesBefore_ = ShareNames();
  if (!ReadActiveComputerName(&nameBefore_) || !ListServiceNames(&servicesBefore_))
    throw std::runtime_error("cannot read the computer's name or services");
  inForce = this;
#else
  fs::create_directories(fs::path(root_) / "drives" / "c");
#endif
  platform::SetMachineRoot(root_);
}

TempMachine::~TempMachine() {
  platform::SetMachineRoot("");
  std::error_code ignored;
#if defined(_WIN32)
  if (inForce == this) inForce = nullptr;
  for (char letter : drives_) {
    if (!DefineDrive(letter, DRIVE_NO_ROOT_DIR, ""))
      std::fprintf(stderr, "test machine: drive %c: stays\n", letter);
  }
  for (const std::string& name : TopEntries()) {
    if (before_.count(name) != 0) continue;
    MakeWritable(fs::path(kTestDrive) / name);
    // What stays would be taken for the computer's own by the next test: say so.
    std::error_code error;
    if (!RemoveTreePatiently((fs::path(kTestDrive) / name).string(), error)) {
      std::fprintf(stderr, "test machine: %s%s stays: %s\n", kTestDrive, name.c_str(),
                   error.message().c_str());
    }
  }
  std::vector<std::string> services;
  if (ListServiceNames(&services)) {
    for (const std::string& service : services) {
      if (std::find(servicesBefore_.begin(), servicesBefore_.end(), service) ==
          servicesBefore_.end()) {
        static_cast<void>(DeleteServiceNamed(service));  // gone either way or left to see
      }
    }
  }
  // A share the test made would make the next test's share of that name exist already.
  for (const std::string& share : ShareNames()) {
    if (std::find(sharesBefore_.begin(), sharesBefore_.end(), share) != sharesBefore_.end())
      continue;
    if (platform::NetShareDel(share.c_str()) != 0)
      std::fprintf(stderr, "test machine: share %s stays\n", share.c_str());
  }
  static_cast<void>(WriteActiveComputerName(nameBefore_));  // as good as it gets here
  if (!productKeyBefore_) {
    // The tree may be gone already; either way it is not there afterwards.
    static_cast<void>(platform::RegDeleteTreeA(platform::LocalMachineKey(), kProductKey));
  }
#endif
  MakeWritable(root_);
  fs::remove_all(root_, ignored);
}

std::string ReadHostFile(const std::string& hostPath) {
  std::ifstream in(hostPath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteHostFile(const std::string& hostPath, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(hostPath).parent_path());
  std::ofstream(hostPath, std::ios::binary) << bytes;
}

std::string TempMachine::HostPath(const std::string& windowsPath) const {
#if defined(_WIN32)
  // No machine root on Windows: the path is the computer's own.
  return windowsPath;
#else
  std::string path = root_ + "/drives/";
  size_t start = 0;
  if (windowsPath.size() >= 2 && windowsPath[1] == ':') {
    path.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(windowsPath[0]))));
    start = 2;
  } else {
    path.push_back('c');
  }
  for (size_t i = start; i < windowsPath.size(); ++i)
    path.push_back(windowsPath[i] == '\\' ? '/' : windowsPath[i]);
  return path;
#endif
}

void TempMachine::WriteFile(const std::string& windowsPath,
                            const std::vector<unsigned char>& bytes) const {
  WriteHostFile(HostPath(windowsPath), std::string(bytes.begin(), bytes.end()));
}

std::vector<unsigned char> TempMachine::ReadFile(const std::string& windowsPath) const {
  std::ifstream in(HostPath(windowsPath), std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> TempMachine::Entries(const std::string& windowsDir) const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(HostPath(windowsDir)))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string TempMachine::Misplaced(const std::vector<std::string>& present,
                                   const std::vector<std::string>& absent) const {
  std::string wrong;
  for (const std::string& path : present) wrong += Exists(path) ? "" : "missing " + path + "\n";
  for (const std::string& path : absent) wrong += Exists(path) ? "still there " + path + "\n" : "";
  return wrong;
}

void TempMachine::AddDrive(char letter, bool removable) const {
  const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
  const fs::path folder = fs::path(root_) / "drives" / std::string(1, lower);
  fs::create_directories(folder);
#if defined(_WIN32)
  const std::string unixFolder = UnixPathOf(folder.string());
  if (unixFolder.empty() ||
      !DefineDrive(lower, removable ? DRIVE_REMOVABLE : DRIVE_FIXED, unixFolder)) {
    throw std::runtime_error("cannot map drive " + std::string(1, letter) +
                             ": (Wine's mount manager maps the drives of a test)");
  }
  drives_.insert(lower);
#else
  if (removable) {
    std::ofstream(fs::path(root_) / "drivetypes.txt", std::ios::app)
        << static_cast<char>(std::toupper(static_cast<unsigned char>(letter))) << ": removable\n";
  }
#endif
}

void TempMachine::NameComputer(const std::string& name) {
#if defined(_WIN32)
  if (!WriteActiveComputerName(name)) throw std::runtime_error("cannot name the computer");
#else
  std::ofstream(fs::path(root_) / "computer.txt") << name << "\n";
#endif
}

#if defined(_WIN32)
std::vector<std::string> TestMachineFolders() {
  std::vector<std::string> folders;
  if (inForce == nullptr) return folders;
  for (const std::string& name : TopEntries())
    if (inForce->before_.count(name) == 0) folders.push_back(kTestDrive + name);
  for (char letter : inForce->drives_)
    folders.push_back(std::string(1, static_cast<char>(std::toupper(letter))) + ":\\");
  return folders;
}

std::vector<std::string> TestMachineServices() {
  std::vector<std::string> made;
  std::vector<std::string> services;
  if (inForce == nullptr || !ListServiceNames(&services)) return made;
  for (const std::string& service : services) {
    const auto& before = inForce->servicesBefore_;
    if (std::find(before.begin(), before.end(), service) == before.end()) made.push_back(service);
  }
  std::sort(made.begin(), made.end());
  return made;
}
#endif

}  // namespace qz7::testkit
