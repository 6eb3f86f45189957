// The platform table: one function pointer per operation of operations.inc, filled by the
// backend that CMake chose (posix/ or win32/, backend_table.cc) and in force for the whole
// process. The library calls the operations by their names (platform::OpenFile,
// platform::RegOpenKeyExA, ...); each goes through the table in force, so that a test can put a
// wrapper in front of the backend (the test kit's fault wrapper) without the library or the
// backend knowing.
#ifndef QZ7_PLATFORM_PLATFORM_TABLE_H_
#define QZ7_PLATFORM_PLATFORM_TABLE_H_

#include <cstddef>
#include <cstdint>

#include "platform/drives.h"
#include "platform/file_system.h"
#include "platform/log_file.h"
#include "platform/network_shares.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/services.h"

namespace qz7::platform {

// What an operation touches, as the fault wrapper counts and numbers operations.
enum class OperationKind : uint8_t {
  kFile,         // open, remove, rename, replace, status, chmod, copy
  kStream,       // read, write, seek, flush, sync, close; the log descriptor's seek/lock/write
  kFolder,       // mkdir, rmdir, find, current directory, folder and file system syncs
  kRegistry,     // open, create, close, enumerate, query, set, delete
  kService,      // open manager, open, create, delete, change, query, close; network shares
  kProcess,      // pipes, create process, wait, exit code, pipe read/write/close
  kEnvironment,  // environment variables, computer name, drives (not the processor count)
};
constexpr int kOperationKindCount = 7;

struct PlatformTable {
#define QZ7_OPERATION(caller, type, name, parameters, arguments, kind, gate, failure) \
  type(*name) parameters;
#include "platform/operations.inc"
#undef QZ7_OPERATION
};

// The backend's own table.
const PlatformTable& BackendTable();

// Puts table in force for every later call (null: the backend's again). For tests, before the
// operations they watch; not safe against calls running at the same time.
void InstallPlatformTable(const PlatformTable* table);

namespace internal {
extern const PlatformTable* activeTable;
}  // namespace internal

// The table in force.
inline const PlatformTable& ActiveTable() { return *internal::activeTable; }

// The operations under their own names, for the library.
#define QZ7_CALLER_Nodiscard(type, name, parameters, arguments) \
  [[nodiscard]] inline type name parameters { return ActiveTable().name arguments; }
#define QZ7_CALLER_Plain(type, name, parameters, arguments) \
  inline type name parameters { return ActiveTable().name arguments; }
#define QZ7_CALLER_Internal(type, name, parameters, arguments)
#define QZ7_OPERATION(caller, type, name, parameters, arguments, kind, gate, failure) \
  QZ7_CALLER_##caller(type, name, parameters, arguments)
#include "platform/operations.inc"
#undef QZ7_OPERATION
#undef QZ7_CALLER_Nodiscard
#undef QZ7_CALLER_Plain
#undef QZ7_CALLER_Internal

}  // namespace qz7::platform

#endif  // QZ7_PLATFORM_PLATFORM_TABLE_H_
