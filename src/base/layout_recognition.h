// Which layout a directory file has, told from its header bytes and its size alone. The
// migrations read the bytes from disk and call these; `qz7inst show` calls them on bytes in
// memory, so that both always agree on what a file is.
#ifndef QZ7_BASE_LAYOUT_RECOGNITION_H_
#define QZ7_BASE_LAYOUT_RECOGNITION_H_

#include <cstdint>

#include "base/directory_layout.h"
#include "base/node_directory_layout.h"

namespace qz7::base {

// ---- System (or local) database directory ----

struct DirectoryLayoutRecognition {
  DirectoryLayoutType type = DirectoryLayoutType::kUnrecognised;
  bool shortHeader = false;  // types 1 to 3 found under the short header
  // The long-header test matched no layout: the short-header test decides (type is
  // kUnrecognised until it has run).
  bool needsShortHeaderTest = false;
};

// The release marker, then the long-header test: rest = size - (2 x slots + 212) is 0 for an
// empty directory, negative for an unrecognised one, else rest / entries is a long-header
// entry size. header holds kLongHeaderSize bytes.
DirectoryLayoutRecognition RecogniseByLongHeader(const unsigned char* header, int64_t fileSize);

// The short-header test: rest = size - (2 x slots + 208) of 0 or less is an empty directory,
// else rest / entries is a short-header entry size. header holds kShortHeaderSize bytes.
DirectoryLayoutRecognition RecogniseByShortHeader(const unsigned char* header, int64_t fileSize);

// Both tests in order on one buffer of kLongHeaderSize bytes (the short header is its first
// kShortHeaderSize bytes).
DirectoryLayoutRecognition RecogniseDirectoryLayout(const unsigned char* header, int64_t fileSize);

// ---- Node directory ----

// From the kNodeHeaderSize header bytes and the file size, with rest = size - 32: 99 when rest
// is negative; 98 when it is 0 or there are no entries; 97 when rest / entries is 616 or rest
// is a whole multiple of 616; 1 to 5 by an earlier entry size; 99 otherwise.
NodeDirectoryLayoutType RecogniseNodeDirectoryLayout(const unsigned char* header, int64_t fileSize);

}  // namespace qz7::base

#endif  // QZ7_BASE_LAYOUT_RECOGNITION_H_
