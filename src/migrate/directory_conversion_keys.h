// The message keys of the four directory converters: every step that can fail has a key of
// its own per layout, so that a reader of the error file can find the failing step. A null key
// marks a step the layout does not have.
#ifndef QZ7_MIGRATE_DIRECTORY_CONVERSION_KEYS_H_
#define QZ7_MIGRATE_DIRECTORY_CONVERSION_KEYS_H_

#include "base/directory_layout.h"

namespace qz7::migrate {

// Reading the old header and block.
struct OldHeaderKeys {
  const char* header;
  const char* block;
};

// One pass of the entry loop, and the local database step inside it.
struct EntryLoopKeys {
  const char* offset;           // noting the target's offset (-121)
  const char* read;             // reading the old entry (-105)
  const char* write;            // writing the converted entry (-106)
  const char* check;            // the local database check failed (its code)
  const char* reportOpen;       // SQLDDDIR.RPT cannot be created (-103)
  const char* reportText;       // the report text cannot be written (-106)
  const char* reportSeparator;  // the two line feeds cannot be written (-106)
};

// Copying the finished target over the source.
struct CopyBackKeys {
  const char* rewind;       // -121
  const char* seekEnd;      // -121
  const char* tell;         // -121
  const char* rewindAgain;  // -121
  const char* allocation;   // -119
  const char* read;         // -105, reading the target
  const char* create;       // -103, creating the source again
  const char* write;        // -106, writing the source
  const char* closeSource;  // -104
  const char* closeTarget;  // -104
};

// Closes made while cleaning up after a failure (-104), by file.
struct CleanupKeys {
  const char* source;
  const char* target;
  const char* rewrittenSource;
  const char* oldIntention;
  const char* newIntention;
  const char* report;  // null: a failing close of the report file is not recorded
};

struct ConversionKeys {
  const char* allocation;
  const char* open;
  OldHeaderKeys shortHeader;  // the 30-byte header and 174-byte block
  OldHeaderKeys longHeader;   // the 32-byte header and 176-byte block
  const char* newHeader;
  const char* newBlock;
  EntryLoopKeys shortEntries;
  EntryLoopKeys longEntries;
  const char* reportNotice;  // layout 2: names SQLDDDIR.RPT after each failed check (-121)
  const char* slotAllocation;
  const char* slotRead;
  const char* slotWrite;
  const char* closingValue;
  const char* rewind;       // back to the start of the target (-121)
  const char* finalHeader;  // writes the header again (-106), or passes over it (-121)
  const char* finalBlock;   // -106
  const char* closeSource;  // -104
  CopyBackKeys copyBack;
  // Intention file. Layout 2 has a key per step; layouts 3 and 4 one key for the old file
  // (open, read, close) and one for the new (create, write); layout 1 writes a new one only.
  const char* intentionOpen;
  const char* intentionRead;
  const char* intentionCloseOld;
  const char* intentionCreate;
  const char* intentionWrite;
  CleanupKeys cleanup;
};

// The keys of layout 1, 2, 3 or 4.
const ConversionKeys& ConversionKeysOf(base::DirectoryLayoutType layout);

// Layout 4: the path of an entry of type "2" could not be made absolute (-125).
constexpr const char* kPathResolutionFirstReadKey = "MTYPE4_997";
constexpr const char* kPathResolutionKey = "MTYPE4_998";

}  // namespace qz7::migrate

#endif  // QZ7_MIGRATE_DIRECTORY_CONVERSION_KEYS_H_
