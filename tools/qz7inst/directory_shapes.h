// How `qz7inst show` tells the directory files of an instance apart when no signature settles
// it: the layout that each migration recognises from a file's header and size (the
// migrations' own recognition, applied to bytes in memory), whether the size is exactly what the
// header's counts give, and one classifier that all decoders of these kinds share so that a
// file is never claimed by two of them.
#ifndef QZ7_TOOLS_QZ7INST_DIRECTORY_SHAPES_H_
#define QZ7_TOOLS_QZ7INST_DIRECTORY_SHAPES_H_

#include <cstddef>
#include <cstdint>

#include "base/directory_layout.h"
#include "base/node_directory_layout.h"
#include "tools/qz7inst/show_record.h"

namespace qz7::cli {

// ---- System (or local) database directory ----

struct DatabaseDirectoryShape {
  bool headerRead = false;  // the file holds the 32 bytes the recognition reads
  base::DirectoryLayoutType type = base::DirectoryLayoutType::kUnrecognised;
  bool shortHeader = false;
  size_t entrySize = 0;     // of types 1 to 4 and 97
  size_t expectedSize = 0;  // what the header's counts give for that type and form
  bool exact = false;       // the file has exactly expectedSize bytes
};
// The layout as the database directory migration recognises it (release marker 0x0400 first,
// then the long header's arithmetic, then the short header's).
DatabaseDirectoryShape ShapeOfDatabaseDirectory(FileBytes bytes);

// ---- Node directory ----

struct NodeDirectoryShape {
  bool headerRead = false;  // the 28-byte header is there
  base::NodeDirectoryLayoutType type = base::NodeDirectoryLayoutType::kUnrecognised;
  size_t entrySize = 0;
  size_t expectedSize = 0;
  bool exact = false;
};
NodeDirectoryShape ShapeOfNodeDirectory(FileBytes bytes);

// ---- Intention file ----

// The layout whose intention file has this size: 540 the current one (97), 37 layout 2 (and
// layout 1, which writes the same record), 523 layout 3, 534 layout 4; else kUnrecognised.
base::DirectoryLayoutType IntentionLayoutOfSize(size_t size);

// ---- DCS directory ----

// True when the size is what the header's entry count gives (base::kDcsDirectory*).
bool DcsDirectoryFits(FileBytes bytes);

// ---- The classifier ----

enum class DirectoryKind {
  kNone,
  kDatabaseDirectory,
  kNodeDirectory,
  kIntentionFile,
  kDcsDirectory
};

// The kind that fits the file best: a size that is exactly what a kind's header gives (or, for
// an intention file, a known size with plausible texts) counts most, a signature of the
// current layout next, the usual file name least (it only breaks ties). A file that fits no
// kind's arithmetic and carries no signature is kNone whatever its name.
DirectoryKind ClassifyDirectoryFile(const DecodedFile& file);

}  // namespace qz7::cli

#endif  // QZ7_TOOLS_QZ7INST_DIRECTORY_SHAPES_H_
