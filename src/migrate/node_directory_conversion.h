// Conversion of a node directory's entries from an earlier layout to the current 616-byte
// NodeEntry, including the DCS rule: a node that a catalogued database reaches through the
// DCS gateway gets the value 8 in its field at 612.
#ifndef QZ7_MIGRATE_NODE_DIRECTORY_CONVERSION_H_
#define QZ7_MIGRATE_NODE_DIRECTORY_CONVERSION_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/node_directory_layout.h"
#include "migrate/migration_report.h"
#include "platform/file_system.h"

namespace qz7::migrate {

// ---- Result codes of the node directory migration ----

// A work buffer of the node directory migration could not be had.
constexpr MigrationResult kNodeMigrationNoMemory = -131;
// The migration backup could not be renamed; the node directory migration reports it with
// this code where the database directory migration uses -126.
constexpr MigrationResult kNodeMigrationRenameFailed = -125;

// ---- NodeEntry ----

enum class NodeFieldKind { kText, kByte, kU16 };

// One field of the current entry and where each earlier layout keeps it (old offsets of
// layouts 1 to 5; kNoSource leaves the field zero).
constexpr int kNoSource = -1;
struct NodeFieldSpec {
  size_t offset;
  size_t width;
  NodeFieldKind kind;
  int source[base::kNodeOldLayoutCount];
};

// Text fields are copied up to and with their terminating zero, cut to the new width minus
// one; numbers are copied as they are. All bytes that no field covers stay zero.
inline constexpr NodeFieldSpec kNodeEntryFields[] = {
    // {new offset, width, kind, {old offset in layouts 1, 2, 3, 4, 5}}
    {0, 9, NodeFieldKind::kText, {0, 0, 0, 0, 0}},  // node name
    {9, 9, NodeFieldKind::kText, {9, 9, 9, 9, 9}},
    {18, 31, NodeFieldKind::kText, {18, 18, 18, 18, 18}},
    {49, 9, NodeFieldKind::kText, {27, 27, 27, 27, 27}},
    {58, 65, NodeFieldKind::kText, {36, 36, 36, 36, 36}},
    {123, 31, NodeFieldKind::kText, {101, 101, 45, 101, 101}},
    {154, 2, NodeFieldKind::kU16, {132, 132, 76, 132, 132}},
    {156, 1, NodeFieldKind::kByte, {134, 134, 78, 134, 134}},
    {157, 1, NodeFieldKind::kByte, {135, 135, 79, 135, 135}},
    {158, 2, NodeFieldKind::kU16, {136, 136, 80, 136, 136}},
    {160, 9, NodeFieldKind::kText, {138, 138, 82, 138, 138}},
    {169, 5, NodeFieldKind::kText, {147, 147, 91, 147, 147}},
    {174, 10, NodeFieldKind::kText, {152, 152, kNoSource, 152, 152}},
    {184, 2, NodeFieldKind::kU16, {161, 161, kNoSource, 162, 162}},
    {186, 256, NodeFieldKind::kText, {163, 163, kNoSource, 164, 164}},
    {442, 15, NodeFieldKind::kText, {419, 419, kNoSource, 420, 420}},
    {457, 49, NodeFieldKind::kText, {kNoSource, 434, kNoSource, 435, 435}},
    {506, 49, NodeFieldKind::kText, {kNoSource, 483, kNoSource, 484, 484}},
    {555, 9, NodeFieldKind::kText, {kNoSource, kNoSource, kNoSource, 533, 533}},
    {564, 16, NodeFieldKind::kText, {kNoSource, kNoSource, kNoSource, kNoSource, 542}},
    {580, 22, NodeFieldKind::kText, {kNoSource, kNoSource, kNoSource, kNoSource, 558}},
    {602, 9, NodeFieldKind::kText, {kNoSource, kNoSource, kNoSource, kNoSource, 580}},
    {611, 1, NodeFieldKind::kByte, {kNoSource, kNoSource, kNoSource, kNoSource, 589}},
    {612, 2, NodeFieldKind::kU16, {kNoSource, kNoSource, kNoSource, kNoSource, 590}},
    {614, 1, NodeFieldKind::kByte, {kNoSource, kNoSource, kNoSource, kNoSource, 592}},
};

constexpr size_t kNodeNameOffset = 0;
constexpr size_t kNodeNameWidth = 9;
// The field that the DCS rule sets, and the value it sets.
constexpr size_t kNodeDcsFieldOffset = 612;
constexpr uint16_t kNodeDcsValue = 8;

// Builds the current entry (kNodeEntrySize bytes) from one old entry of an earlier layout
// (1 to 5), whose entrySize bytes are read by the table above. Every byte of newEntry is
// written. False for a layout outside 1 to 5 or an entry of the wrong size.
[[nodiscard]] bool BuildNodeEntry(base::NodeDirectoryLayoutType layout,
                                  const unsigned char* oldEntry, size_t entrySize,
                                  unsigned char* newEntry);

// ---- Files that the DCS rule reads ----

// The current-layout system database directory: a 32-byte header with the entry count at
// 20, a 176-byte block, then ConvertedEntry's 720-byte entries, of which the rule reads the
// database name (its first 8 characters), the entry type character and the name text.
constexpr size_t kDcsRuleDatabaseHeaderSize = 32;
constexpr size_t kDcsRuleDatabaseCountOffset = 20;
constexpr size_t kDcsRuleDatabaseBlockSize = 176;
constexpr size_t kDcsRuleDatabaseEntrySize = 720;
constexpr size_t kDcsRuleDatabaseNameLength = 8;
// The DCS directory: a 24-byte header with the entry count at 14, then 622-byte entries with
// the database name at 37.
constexpr size_t kDcsRuleDcsHeaderSize = 24;
constexpr size_t kDcsRuleDcsCountOffset = 14;
constexpr size_t kDcsRuleDcsEntrySize = 622;
constexpr size_t kDcsRuleDcsNameOffset = 37;

// ---- ConvertNodeDirectory ----

// The key and object buffers the conversion fills when it fails.
constexpr size_t kNodeConversionKeySize = 10;
constexpr size_t kNodeConversionObjectSize = 256;

// Converts the node directory at filePath (or its copy at copyPath when fileExists is false)
// from the earlier layout (1 to 5) to the current one. The old file is read and the
// converted directory written to the other path; then the converted bytes are written over
// the old file too, so that both end identical. The system database directory and the DCS
// directory of the instance (derived from filePath, which must end in SQLNODIR\SQLNODIR)
// are read for the DCS rule; when either cannot be read, the rule is left out silently.
// copyExists is not read.
//
// Returns 0, or -103 (a file cannot be opened), -105 (read), -106 (write), -104 (close),
// -121 (the converted file's size cannot be found), -131 (no buffer), -102 (a layout
// outside 1 to 5). On failure key (at least 10 bytes) and object (256 bytes) name the
// failing step ("MNDIR_001" to "MNDIR_028") and its file, and the driver records them. A
// failing close on the way out is recorded here in errorFile (which may be null); when
// it was the close of a file this function wrote, the result is -104.
[[nodiscard]] MigrationResult ConvertNodeDirectory(bool fileExists, bool copyExists, int layoutType,
                                                   const char* filePath, const char* copyPath,
                                                   char* key, char* object,
                                                   platform::FileStream* errorFile);

// The same conversion with the old directory's sourceSize bytes already in memory (those of
// filePath, or of copyPath when fileExists is false): the old file is not opened or read
// again, everything else is as above. The bytes are let go of (sourceBytes reset) once the
// entries are converted, so that they and the converted directory are not held at once.
[[nodiscard]] MigrationResult ConvertNodeDirectoryBytes(
    bool fileExists, int layoutType, const char* filePath, const char* copyPath,
    std::unique_ptr<unsigned char[]>& sourceBytes, size_t sourceSize, char* key, char* object,
    platform::FileStream* errorFile);

}  // namespace qz7::migrate

#endif  // QZ7_MIGRATE_NODE_DIRECTORY_CONVERSION_H_
