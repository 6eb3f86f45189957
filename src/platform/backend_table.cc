// The table of the backend that CMake built in (posix/ or win32/), in force from the start.
#include "platform/backend.h"

namespace qz7::platform {
namespace backend {

// A stream dropped without Close is closed as by StreamClose; the row exists apart so that a
// wrapper can tell it from a Close whose result the caller looks at.
int StreamRelease(FileStream::Native* stream) { return StreamClose(stream); }

}  // namespace backend

namespace {

constexpr PlatformTable kBackendTable = {
#define QZ7_OPERATION(caller, type, name, parameters, arguments, kind, gate, failure) \
  &backend::name,
#include "platform/operations.inc"
#undef QZ7_OPERATION
};

}  // namespace

namespace internal {
const PlatformTable* activeTable = &kBackendTable;
}  // namespace internal

const PlatformTable& BackendTable() { return kBackendTable; }

void InstallPlatformTable(const PlatformTable* table) {
  internal::activeTable = table != nullptr ? table : &kBackendTable;
}

}  // namespace qz7::platform
