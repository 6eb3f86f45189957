// Internal to the dispatch layer: the gate every public platform operation passes before it
// reaches the backend, and the power-cut bookkeeping of the file operations.
#ifndef QZ7_PLATFORM_DISPATCH_H_
#define QZ7_PLATFORM_DISPATCH_H_

#include <cstdint>

#include "platform/fault_injection.h"
#include "platform/file_system.h"

namespace qz7::platform::dispatch {

// Counts one operation of the kind and applies the fault plan: 0 to go on, or the Windows
// error the operation must report (the last error is already set). A crash or power-cut plan
// ends the process here instead of returning.
uint32_t Enter(OperationKind kind);

}  // namespace qz7::platform::dispatch

namespace qz7::platform::durability {

// Starts tracking afresh (everything on disk counts as durable) or stops it. Every hook below
// does nothing while no power-cut plan is tracking.
void Start();
void Stop();

// Records the durable state of a path before an operation may change it.
void BeforeChange(const char* path);
// After a successful open for writing: the stream writes to the file now named path.
void AfterOpenForWrite(const FileStream* stream, const char* path);
// After a successful open for reading only: a sync of such a stream (which POSIX allows)
// still makes the file's data durable.
void AfterOpenForRead(const FileStream* stream, const char* path);
void AfterStreamSync(const FileStream* stream);
void ForgetStream(const FileStream* stream);
void AfterRemove(const char* path);
void AfterMove(const char* from, const char* to);
void AfterCopy(const char* to);
void AfterMakeDirectory(const char* path);
void AfterSyncDirectory(const char* path);
void AfterSyncFileSystem();

// Puts every tracked path back to its durable state, through the backend.
void CutPower();

}  // namespace qz7::platform::durability

#endif  // QZ7_PLATFORM_DISPATCH_H_
