// Exports of the shared library that belong to no single folder: the loader of message
// modules, the POSIX form of the caller's message-module handle.
#include "platform/messages.h"
#include "qz7instm.h"

// On Windows the caller loads its message module itself (LoadLibrary), so there is no loader.
#if !defined(_WIN32)

extern "C" {

QZ7_API QZ7_MODULE qz7LoadMessageModule(const char* hostPath) {
  if (hostPath == nullptr) return nullptr;
  return qz7::platform::LoadMessageModule(hostPath);
}

QZ7_API void qz7FreeMessageModule(QZ7_MODULE module) { qz7::platform::FreeMessageModule(module); }

}  // extern "C"
#endif  // !defined(_WIN32)
