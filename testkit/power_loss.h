// Internal to the fault wrapper (fault_injection.cc): the power-cut bookkeeping of the file
// operations. The wrapper reports each change of a file's data or of a name here while a
// power-cut plan runs; at the cut, every tracked path is put back to what it would hold after
// a power cut, through the backend's table (never through the counted wrapper).
#ifndef QZ7_TESTKIT_POWER_LOSS_H_
#define QZ7_TESTKIT_POWER_LOSS_H_

#include <string>

#include "platform/platform_table.h"

namespace qz7::platform::durability {

using Stream = const FileStream::Native*;

// Starts tracking afresh (everything on disk counts as durable) or stops it. Every hook below
// does nothing while no power-cut plan is tracking.
void Start();
void Stop();

// Across processes: a child of a tracking process (an instance tool's test build) tracks
// what it changes from its start and appends that to its parent's journal file at its end;
// the parent takes it in before its next tracked step, as if it had made the changes itself.
// TakeChildrenFrom (after Start) makes the journal file and reads it from then on; Stop and
// the cut remove it, so that a child that ends after them appends nothing.
void TakeChildrenFrom(const std::string& journal);
void AppendTo(const std::string& journal);

// Records the durable state of a path before an operation may change it.
void BeforeChange(const char* path);
// After a successful open for writing: the stream writes to the file now named path.
void AfterOpenForWrite(Stream stream, const char* path);
// After a successful open for reading only: a sync of such a stream (which POSIX allows)
// still makes the file's data durable.
void AfterOpenForRead(Stream stream, const char* path);
void AfterStreamSync(Stream stream);
// The stream is closed: its address may come back for another one.
void ForgetStream(Stream stream);
void AfterRemove(const char* path);
void AfterMove(const char* from, const char* to);
void AfterCopy(const char* to);
void AfterMakeDirectory(const char* path);
void AfterSyncDirectory(const char* path);
void AfterSyncFileSystem();

// What a power cut leaves of the changes not made durable.
enum class CutModel {
  // Every one is undone: names, folders and file data go back to their durable state.
  kUndoUnsynced,
  // The file system's journal committed every change of a name (a later sync of any file of
  // the same file system commits an earlier rename, removal or creation with it), but the
  // data of a file not synced since its last write never reached the disk: such a file keeps
  // its name and holds its last synced data, or nothing if it was never synced.
  kNamesKeptDataLost,
};

// Puts every tracked path, and each store changed since the last flush, into what the model
// leaves of it.
void CutPower(CutModel model);

// The stores the POSIX backend keeps beside the drives in the machine root. A change replaces a
// store's file whole, its data synced before the rename; the renames become durable at a flush
// (RegFlushKey, SyncFileSystem). So a power cut that undoes what was not synced gives each store
// changed since the last flush back as it was then; one that keeps every name keeps the last
// version. Tracked from Start to Stop, alongside the paths above.
enum class Store { kRegistry, kServices };
// Before an operation that may change the store: records what it holds durably, unless it
// changed since the last flush already.
void BeforeStoreChange(Store store);
// After a flush of both stores (their folder synced).
void AfterStoresFlushed();

}  // namespace qz7::platform::durability

#endif  // QZ7_TESTKIT_POWER_LOSS_H_
