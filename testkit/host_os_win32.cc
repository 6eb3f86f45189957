#include <windows.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "testkit/host_os.h"

namespace qz7::testkit {

bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

namespace {
constexpr const char* kActiveComputerNameKey =
    "SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ActiveComputerName";
}  // namespace

bool ReadActiveComputerName(std::string* name) {
  char data[256] = {};
  DWORD size = sizeof data - 1;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, kActiveComputerNameKey, "ComputerName", RRF_RT_REG_SZ,
                   nullptr, data, &size) != ERROR_SUCCESS) {
    return false;
  }
  *name = data;
  return true;
}

bool WriteActiveComputerName(const std::string& name) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kActiveComputerNameKey, 0, nullptr, 0, KEY_SET_VALUE,
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const LONG error =
      RegSetValueExA(key, "ComputerName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                     static_cast<DWORD>(name.size() + 1));
  RegCloseKey(key);
  return error == ERROR_SUCCESS;
}

bool ListServiceNames(std::vector<std::string>* names) {
  names->clear();
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE);
  if (manager == nullptr) return false;
  std::vector<unsigned char> buffer(64 * 1024);
  DWORD needed = 0, count = 0, resume = 0;
  bool ok = true;
  for (;;) {
    const BOOL done =
        EnumServicesStatusA(manager, SERVICE_WIN32 | SERVICE_DRIVER, SERVICE_STATE_ALL,
                            reinterpret_cast<ENUM_SERVICE_STATUSA*>(buffer.data()),
                            static_cast<DWORD>(buffer.size()), &needed, &count, &resume);
    if (!done && GetLastError() != ERROR_MORE_DATA) {
      ok = false;
      break;
    }
    const auto* entries = reinterpret_cast<const ENUM_SERVICE_STATUSA*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) names->push_back(entries[i].lpServiceName);
    if (done) break;
    if (needed > buffer.size()) buffer.resize(needed);
  }
  CloseServiceHandle(manager);
  return ok;
}

bool RemoveTreePatiently(const std::string& path, std::error_code& error) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    error.clear();
    std::filesystem::remove_all(path, error);
    if (!error) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

bool DeleteServiceNamed(const std::string& name) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) return false;
  SC_HANDLE service = OpenServiceA(manager, name.c_str(), DELETE);
  const bool deleted = service != nullptr && DeleteService(service);
  if (service != nullptr) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return deleted;
}

}  // namespace qz7::testkit
