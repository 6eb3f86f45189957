// Network shares through netapi32: NetShareAdd at level 2 (a folder, no security descriptor, so
// everyone may connect), NetShareDel, NetShareGetInfo at level 2 and NetShareEnum at level 1.
// The calls take UTF-16 texts; names and paths are converted from the ANSI code page.
// clang-format off
#include "platform/win32/windows_api.h"
#include <lm.h>
// clang-format on

#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/network_shares.h"
#include "platform/win_error.h"

namespace qz7::platform::backend {
namespace {

bool Widen(const char* text, std::wstring* wide) {
  int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (length <= 0) return false;
  wide->assign(static_cast<size_t>(length), L'\0');
  if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide->data(), length) != length) return false;
  wide->resize(static_cast<size_t>(length - 1));
  return true;
}

bool Narrow(const wchar_t* text, std::string* narrow) {
  int length = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return false;
  narrow->assign(static_cast<size_t>(length), '\0');
  if (WideCharToMultiByte(CP_ACP, 0, text, -1, narrow->data(), length, nullptr, nullptr) !=
      length) {
    return false;
  }
  narrow->resize(static_cast<size_t>(length - 1));
  return true;
}

}  // namespace

uint32_t NetShareAdd(const char* shareName, const char* path) {
  if (shareName == nullptr || shareName[0] == '\0' || path == nullptr || path[0] == '\0') {
    return kErrorInvalidParameter;
  }
  std::wstring name, folder;
  if (!Widen(shareName, &name) || !Widen(path, &folder)) return kErrorInvalidName;
  SHARE_INFO_2 info = {};
  info.shi2_netname = name.data();
  info.shi2_type = STYPE_DISKTREE;
  info.shi2_remark = nullptr;
  info.shi2_permissions = ACCESS_ALL;
  info.shi2_max_uses = static_cast<DWORD>(-1);
  info.shi2_path = folder.data();
  info.shi2_passwd = nullptr;
  DWORD badField = 0;
  return ::NetShareAdd(nullptr, 2, reinterpret_cast<LPBYTE>(&info), &badField);
}

uint32_t NetShareDel(const char* shareName) {
  if (shareName == nullptr || shareName[0] == '\0') return kErrorInvalidParameter;
  std::wstring name;
  if (!Widen(shareName, &name)) return kErrorInvalidName;
  return ::NetShareDel(nullptr, name.data(), 0);
}

uint32_t NetShareGetInfo(const char* shareName, std::string* path) {
  if (shareName == nullptr || shareName[0] == '\0' || path == nullptr) {
    return kErrorInvalidParameter;
  }
  std::wstring name;
  if (!Widen(shareName, &name)) return kErrorInvalidName;
  LPBYTE buffer = nullptr;
  NET_API_STATUS status = ::NetShareGetInfo(nullptr, name.data(), 2, &buffer);
  if (status == NERR_Success) {
    const auto* info = reinterpret_cast<const SHARE_INFO_2*>(buffer);
    if (!Narrow(info->shi2_path != nullptr ? info->shi2_path : L"", path)) {
      status = kErrorInvalidData;
    }
  }
  if (buffer != nullptr) NetApiBufferFree(buffer);
  return status;
}

uint32_t NetShareEnum(std::vector<std::string>* names) {
  if (names == nullptr) return kErrorInvalidParameter;
  names->clear();
  DWORD resume = 0;
  NET_API_STATUS status;
  do {
    LPBYTE buffer = nullptr;
    DWORD read = 0, total = 0;
    status = ::NetShareEnum(nullptr, 1, &buffer, MAX_PREFERRED_LENGTH, &read, &total, &resume);
    if (status == NERR_Success || status == ERROR_MORE_DATA) {
      const auto* shares = reinterpret_cast<const SHARE_INFO_1*>(buffer);
      for (DWORD i = 0; i < read; ++i) {
        std::string name;
        if ((shares[i].shi1_type & 0xFF) == STYPE_DISKTREE &&
            Narrow(shares[i].shi1_netname, &name)) {
          names->push_back(name);
        }
      }
    }
    if (buffer != nullptr) NetApiBufferFree(buffer);
  } while (status == ERROR_MORE_DATA);
  return status;
}

}  // namespace qz7::platform::backend
