// Message modules are the caller's HMODULEs, whose string tables hold the texts (LoadStringA);
// message boxes are MessageBoxA on the caller's HWND.
#include "platform/messages.h"
#include "platform/win32/error_mapping.h"
#include "platform/win32/windows_api.h"
#include "platform/win_error.h"

namespace qz7::platform {

QZ7_MODULE LoadMessageModule(const std::string& hostPath) {
  // A module of messages is only read, never run.
  HMODULE module = LoadLibraryExA(hostPath.c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (module == nullptr) win32::SetLastErrorFromSystem();
  return module;
}

void FreeMessageModule(QZ7_MODULE module) {
  if (module != nullptr) FreeLibrary(module);
}

int LoadStringA(QZ7_MODULE module, uint32_t id, char* buffer, int bufferMax) {
  // A null module would name the program itself; the library's caller gives none then.
  if (module == nullptr || buffer == nullptr || bufferMax <= 0) return 0;
  int length = ::LoadStringA(module, id, buffer, bufferMax);
  if (length == 0) buffer[0] = '\0';
  return length;
}

int MessageBoxA(QZ7_OWNER owner, const char* text, const char* caption, uint32_t style) {
  if (owner == nullptr) return 0;
  return ::MessageBoxA(owner, text, caption, style);
}

}  // namespace qz7::platform
