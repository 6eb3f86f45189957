// The files of an instance's node directory as its migration sees them: the frame that every
// release shares (a 28-byte header, the entries, a closing 32-bit value), the entry layouts
// that the entry sizes tell apart, and the header of the migration backup.
#ifndef QZ7_BASE_NODE_DIRECTORY_LAYOUT_H_
#define QZ7_BASE_NODE_DIRECTORY_LAYOUT_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qz7::base {

// ---- Files ----

constexpr const char* kNodeMigrationErrorFileName = "QZ7MGNDD.ERR";
constexpr const char* kNodeDirectoryFolderName = "SQLNODIR";
constexpr const char* kNodeDirectoryFileName = "SQLNODIR";
constexpr const char* kNodeDirectoryCopyName = "SQLNOBAK";
constexpr const char* kNodeMigrationBackupName = "SQLNDDIR.TMP";
constexpr const char* kNodePermanentBackupName = "SQLNDDIR.BAK";
// The migration backup is written under this name and renamed to SQLNDDIR.TMP only once it
// is whole, so that a backup file that exists always holds the complete old directory.
constexpr const char* kNodeBackupStagingName = "SQLNDDIR.NEW";
// Read by the conversion, relative to the instance directory.
constexpr const char* kNodeSystemDirectorySubpath = "SQLDBDIR\\SQLDBDIR";
constexpr const char* kNodeDcsDirectorySubpath = "SQLGWDIR\\SQLGWDIR";
// The node directory file path ends in this; dropping it leaves the instance directory with
// its trailing backslash.
constexpr const char* kNodeDirectoryFileSubpath = "SQLNODIR\\SQLNODIR";

// Path buffers hold at most 242 characters.
constexpr size_t kNodePathSize = 243;

// ---- The frame of a node directory file ----

constexpr size_t kNodeHeaderSize = 28;
constexpr size_t kNodeClosingSize = 4;
constexpr size_t kNodeFrameSize = kNodeHeaderSize + kNodeClosingSize;  // 32

constexpr size_t kNodeSignatureOffset = 0;
constexpr size_t kNodeSignatureWidth = 16;
constexpr size_t kNodeEntryCountOffset = 16;   // 16-bit, unsigned
constexpr size_t kNodeHeaderValueOffset = 20;  // 32-bit, repeated as the closing value
constexpr size_t kNodeReleaseOffset = 24;      // 16-bit

constexpr const char* kNodeCurrentSignature = "NODE DIRECTORY";
constexpr uint16_t kNodeCurrentRelease = 0x0300;

// ---- Layouts ----

enum class NodeDirectoryLayoutType : int {
  kLayout1 = 1,
  kLayout2 = 2,
  kLayout3 = 3,
  kLayout4 = 4,
  kLayout5 = 5,
  kCurrent = 97,       // entries of 616 bytes
  kEmpty = 98,         // no entries
  kUnrecognised = 99,  // no known entry size
};

constexpr size_t kNodeEntrySize = 616;  // the current entry, NodeEntry
constexpr int kNodeOldLayoutCount = 5;

struct NodeLayoutSpec {
  NodeDirectoryLayoutType type;
  const char* backupName;  // the layout name that the migration backup records
  size_t entrySize;        // 0 for the empty directory
};
inline constexpr NodeLayoutSpec kNodeLayouts[] = {
    {NodeDirectoryLayoutType::kLayout1, "TYPE1_DECB PACKED", 434},
    {NodeDirectoryLayoutType::kLayout2, "TYPE2_DECB", 532},
    {NodeDirectoryLayoutType::kLayout3, "TYPE3_DECB", 96},
    {NodeDirectoryLayoutType::kLayout4, "TYPE4_DECB", 542},
    {NodeDirectoryLayoutType::kLayout5, "TYPE5_DECB", 594},
    {NodeDirectoryLayoutType::kEmpty, "EMPTY DIRECTORY", 0},
};

// The layout's row of kNodeLayouts; null for 97, 99 and any other value.
inline const NodeLayoutSpec* FindNodeLayout(NodeDirectoryLayoutType type) {
  for (const NodeLayoutSpec& layout : kNodeLayouts) {
    if (layout.type == type) return &layout;
  }
  return nullptr;
}

// The earlier layout whose entries have this size; kUnrecognised for any other size.
inline NodeDirectoryLayoutType NodeLayoutOfEntrySize(uint64_t entrySize) {
  for (const NodeLayoutSpec& layout : kNodeLayouts) {
    if (layout.entrySize != 0 && layout.entrySize == entrySize) return layout.type;
  }
  return NodeDirectoryLayoutType::kUnrecognised;
}

// ---- DCS gateway directory ----

// SQLGWDIR: a 24-byte header with the entry count (16-bit) at 14, then 622-byte entries with
// the database name at 37.
constexpr size_t kDcsDirectoryHeaderSize = 24;
constexpr size_t kDcsDirectoryCountOffset = 14;
constexpr size_t kDcsDirectoryEntrySize = 622;
constexpr size_t kDcsDirectoryNameOffset = 37;

// ---- Migration backup ----

// SQLNDDIR.TMP / SQLNDDIR.BAK: this 85-byte header, then a byte-for-byte copy of the node
// directory file (or of its copy); the data is the rest of the file.
constexpr size_t kNodeBackupHeaderSize = 85;
constexpr const char* kNodeBackupSignature = "QZ7 NODE DIRECTORY FILE BACKUP";
constexpr size_t kNodeBackupSignatureCheckLength = 31;  // the signature with its zero
constexpr size_t kNodeBackupSignatureWidth = 40;
constexpr size_t kNodeBackupLayoutNameOffset = 40;
constexpr size_t kNodeBackupLayoutNameWidth = 22;
constexpr size_t kNodeBackupReleaseOffset = 62;
constexpr size_t kNodeBackupReleaseWidth = 22;
constexpr size_t kNodeBackupStatusOffset = 84;
constexpr const char* kNodeBackupReleaseLabel = "QZ7 V6.x";
constexpr char kNodeBackupStatusIncomplete = 'I';
constexpr char kNodeBackupStatusComplete = 'C';

// Copies text into a zero-padded field of width bytes, cut to width - 1 characters.
inline void StoreNodeText(unsigned char* field, size_t width, const char* text) {
  std::memset(field, 0, width);
  const size_t length = text == nullptr ? 0 : strnlen(text, width - 1);
  if (length > 0) std::memcpy(field, text, length);
}

// A zeroed header with the signature, the layout name, the release label and the status.
inline void EncodeNodeBackupHeader(const char* layoutName, char status,
                                   unsigned char (&header)[kNodeBackupHeaderSize]) {
  std::memset(header, 0, sizeof header);
  StoreNodeText(header, kNodeBackupSignatureWidth, kNodeBackupSignature);
  StoreNodeText(header + kNodeBackupLayoutNameOffset, kNodeBackupLayoutNameWidth, layoutName);
  StoreNodeText(header + kNodeBackupReleaseOffset, kNodeBackupReleaseWidth,
                kNodeBackupReleaseLabel);
  header[kNodeBackupStatusOffset] = static_cast<unsigned char>(status);
}

// True when the first 31 bytes are the signature with its terminating zero.
inline bool NodeBackupSignatureMatches(const unsigned char (&header)[kNodeBackupHeaderSize]) {
  return std::memcmp(header, kNodeBackupSignature, kNodeBackupSignatureCheckLength) == 0;
}

}  // namespace qz7::base

#endif  // QZ7_BASE_NODE_DIRECTORY_LAYOUT_H_
