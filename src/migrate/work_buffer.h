// Work buffers of the migrations. A buffer that cannot be had is an outcome the migrations
// report (-119, or the fixed text of an error record), so every such buffer comes from here,
// where a test can make the N-th allocation fail the way the fault seam fails a file operation.
#ifndef QZ7_MIGRATE_WORK_BUFFER_H_
#define QZ7_MIGRATE_WORK_BUFFER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace qz7::migrate {

// Counts one allocation; false when the plan says this one must fail.
bool WorkBufferAllocationAllowed();

// A zeroed buffer of count elements, or null when it cannot be had.
template <typename T>
std::unique_ptr<T[]> AllocateWorkBuffer(size_t count) {
  if (!WorkBufferAllocationAllowed()) return nullptr;
  return std::unique_ptr<T[]>(new (std::nothrow) T[count == 0 ? 1 : count]());
}

// A buffer of count bytes that a read fills whole before anything looks at it, left as the
// allocator gives it: a directory file of tens of MB is then not written over with zeros
// first. Counted and failed like the buffers above.
inline std::unique_ptr<unsigned char[]> AllocateReadBuffer(size_t count) {
  if (!WorkBufferAllocationAllowed()) return nullptr;
  return std::unique_ptr<unsigned char[]>(new (std::nothrow) unsigned char[count == 0 ? 1 : count]);
}

// The piece in which a converted directory file is copied over the old one: the copy holds
// this much of it in memory, whatever the file's size.
constexpr size_t kCopyPieceSize = 1024 * 1024;

// Tests: the n-th allocation from now on fails (1-based); 0 lets every allocation succeed.
void FailWorkBufferAllocationAt(uint64_t n);
// Allocations counted since the last FailWorkBufferAllocationAt.
uint64_t WorkBufferAllocationCount();

}  // namespace qz7::migrate

#endif  // QZ7_MIGRATE_WORK_BUFFER_H_
