// The functions a platform backend (posix/ or win32/) defines: one for each row of
// operations.inc, in namespace backend, with the row's signature and contract. They are
// reached only through the platform table (backend_table.cc), never called by the library.
// Streams are FileStream::Native* owned by the caller until StreamClose, StreamRelease or
// StreamDiscard frees them; the FileStream class around them is built above the table.
#ifndef QZ7_PLATFORM_BACKEND_H_
#define QZ7_PLATFORM_BACKEND_H_

#include "platform/platform_table.h"

namespace qz7::platform::backend {

#define QZ7_OPERATION(caller, type, name, parameters, arguments, kind, gate, failure) \
  type name parameters;
#include "platform/operations.inc"
#undef QZ7_OPERATION

}  // namespace qz7::platform::backend

#endif  // QZ7_PLATFORM_BACKEND_H_
