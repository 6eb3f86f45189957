// The volumes the library changed and has not flushed yet. SyncFileSystem flushes those
// volumes, not every drive of the computer: a drive the run never wrote to (a network drive, a
// volume this process may not open, Wine's Z: over the host's root) neither costs a flush nor
// fails the call.
#ifndef QZ7_PLATFORM_WIN32_CHANGED_VOLUMES_H_
#define QZ7_PLATFORM_WIN32_CHANGED_VOLUMES_H_

namespace qz7::platform::win32 {

// Marks the volume of path ("X:..." or relative to the current directory) as changed. A path
// of no drive letter (a UNC path) is not marked: a share is flushed by its own server.
void NoteVolumeChanged(const char* path);

// Flushes every marked volume (FlushFileBuffers on \\.\X:, which needs the right to write to
// the volume, as an elevated setup program has): 0, or -1 with the last error set when a marked
// volume cannot be opened or its flush fails. A volume whose driver has no whole-volume flush
// (ERROR_INVALID_FUNCTION, as Wine's volumes answer) is left to the system's lazy writer: best
// effort, counted as flushed. A flushed volume is unmarked; one that failed stays marked.
int FlushChangedVolumes();

}  // namespace qz7::platform::win32

#endif  // QZ7_PLATFORM_WIN32_CHANGED_VOLUMES_H_
