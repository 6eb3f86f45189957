#include "migrate/node_directory_conversion.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/coding.h"
#include "base/fixed_text.h"
#include "migrate/converted_entry.h"
#include "migrate/migration_steps.h"
#include "migrate/work_buffer.h"

namespace qz7::migrate {
namespace {

using platform::FileHandle;
using platform::FileStream;
using platform::OpenFile;

// Finding the size of the converted target before it is read back.
constexpr FileSizeSteps kConvertedSizeSteps = {
    .seekEnd = {"MNDIR_015", kMigrationFileAccessError},
    .tell = {"MNDIR_016", kMigrationFileAccessError},
    .rewind = {"MNDIR_017", kMigrationFileAccessError},
};

// Every field of the table lies inside the new entry, and every source inside its old entry.
constexpr bool NodeFieldsFitTheirEntries() {
  for (const NodeFieldSpec& field : kNodeEntryFields) {
    if (field.offset + field.width > base::kNodeEntrySize) return false;
    for (int column = 0; column < base::kNodeOldLayoutCount; ++column) {
      const int source = field.source[column];
      if (source == kNoSource) continue;
      const size_t width = field.kind == NodeFieldKind::kText ? 1 : field.width;
      if (static_cast<size_t>(source) + width > base::kNodeLayouts[column].entrySize) return false;
    }
  }
  return true;
}
static_assert(NodeFieldsFitTheirEntries());

// A text of the DCS rule (a node name, a database name, a DCS entry's name) of at most
// kShortNameLength characters, zero-padded in 16 bytes; the last byte, never part of the text,
// marks a taken slot of a ShortNameSet. Two names are equal exactly when their texts are.
constexpr size_t kShortNameLength = 9;
struct ShortName {
  uint64_t low = 0;
  uint64_t high = 0;
  bool operator==(const ShortName&) const = default;
};
constexpr uint64_t kTakenMark = uint64_t{1} << 56;

// Takes the text at field, up to its terminating zero and at most maxLength characters (at
// most kShortNameLength), and with cutAtBlank also up to its first blank.
ShortName FieldName(const unsigned char* field, size_t maxLength, bool cutAtBlank = false) {
  unsigned char text[16] = {};
  const size_t limit = maxLength < kShortNameLength ? maxLength : kShortNameLength;
  for (size_t i = 0; i < limit && field[i] != 0 && !(cutAtBlank && field[i] == ' '); ++i) {
    text[i] = field[i];
  }
  ShortName name;
  std::memcpy(&name.low, text, 8);
  std::memcpy(&name.high, text + 8, 8);
  return name;
}

// A set of names in one open-addressed table of twice the room it is made for (linear
// probing): a lookup mostly reads one 16-byte slot, where a node-based set follows pointers
// through memory that a directory of tens of thousands of names spreads far apart.
class ShortNameSet {
 public:
  explicit ShortNameSet(size_t room) {
    size_t capacity = 16;
    while (capacity < 2 * room) capacity *= 2;
    slots_.assign(capacity, ShortName());
    mask_ = capacity - 1;
  }

  // Adds name; the set never holds more names than the room it was made for.
  void Insert(const ShortName& name) {
    if (size_ == slots_.size() / 2) return;
    const ShortName taken = Taken(name);
    for (size_t i = Start(name);; i = (i + 1) & mask_) {
      if (slots_[i] == taken) return;
      if (slots_[i].high == 0) {
        slots_[i] = taken;
        ++size_;
        return;
      }
    }
  }

  bool Contains(const ShortName& name) const {
    const ShortName taken = Taken(name);
    for (size_t i = Start(name);; i = (i + 1) & mask_) {
      if (slots_[i] == taken) return true;
      if (slots_[i].high == 0) return false;
    }
  }

 private:
  static ShortName Taken(const ShortName& name) { return {name.low, name.high | kTakenMark}; }
  size_t Start(const ShortName& name) const {
    const uint64_t mixed = (name.low ^ (name.high * 0x9E3779B97F4A7C15u)) * 0xD6E8FEB86659FD93u;
    return static_cast<size_t>(mixed >> 32) & mask_;
  }

  std::vector<ShortName> slots_;
  size_t mask_ = 0;
  size_t size_ = 0;
};

// The DCS rule's files are read in pieces of whole entries of about this size.
constexpr size_t kDcsRulePieceSize = 256 * 1024;

class DcsRule {
 public:
  // Reads both files whole. Any failure leaves the rule disabled and is not reported; only a
  // failing close is recorded, under the file's own key.
  void Load(const std::string& instancePrefix, FileStream* errorFile) {
    const std::string databasePath = instancePrefix + base::kNodeSystemDirectorySubpath;
    const std::string dcsPath = instancePrefix + base::kNodeDcsDirectorySubpath;
    FileHandle database = OpenFile(databasePath.c_str(), "rb");
    FileHandle dcs = OpenFile(dcsPath.c_str(), "rb");
    if (database && dcs) enabled_ = Read(*database, *dcs);
    if (!CloseFile(database)) {
      WriteMigrationError("MNDIR_027", databasePath.c_str(), kMigrationCannotClose, errorFile);
    }
    if (!CloseFile(dcs)) {
      WriteMigrationError("MNDIR_028", dcsPath.c_str(), kMigrationCannotClose, errorFile);
    }
  }

  // True when a catalogued database that names this node is also in the DCS directory.
  bool NodeUsesDcs(const unsigned char* newEntry) const {
    return enabled_ && dcsNodes_ &&
           dcsNodes_->Contains(FieldName(newEntry + kNodeNameOffset, kNodeNameWidth - 1));
  }

 private:
  // Reads count entries of entrySize bytes from file, a piece of whole entries at a time into
  // piece, and hands each to take; false when the file holds fewer.
  template <typename Take>
  static bool ReadEntries(FileStream& file, size_t count, size_t entrySize, unsigned char* piece,
                          Take take) {
    const size_t perPiece = kDcsRulePieceSize / entrySize;
    for (size_t done = 0; done < count;) {
      const size_t entries = std::min(count - done, perPiece);
      if (!ReadExactly(file, piece, entries * entrySize)) return false;
      for (size_t i = 0; i < entries; ++i) take(piece + i * entrySize);
      done += entries;
    }
    return true;
  }

  // Reads both files once and keeps the answer per node: the names of the nodes that some
  // catalogued database of type "1" or "4" names while its database name is in the DCS
  // directory. Names are compared exactly, as the files hold them.
  bool Read(FileStream& database, FileStream& dcs) {
    unsigned char databaseHeader[kDcsRuleDatabaseHeaderSize];
    unsigned char dcsHeader[kDcsRuleDcsHeaderSize];
    if (!ReadExactly(database, databaseHeader, sizeof databaseHeader) ||
        !ReadExactly(dcs, dcsHeader, sizeof dcsHeader)) {
      return false;
    }
    const size_t databaseEntries = base::LoadLE16(databaseHeader + kDcsRuleDatabaseCountOffset);
    const size_t dcsEntries = base::LoadLE16(dcsHeader + kDcsRuleDcsCountOffset);
    if (databaseEntries == 0 || dcsEntries == 0) return false;

    unsigned char block[kDcsRuleDatabaseBlockSize];
    if (!ReadExactly(database, block, sizeof block)) return false;
    auto piece = AllocateReadBuffer(kDcsRulePieceSize);
    if (!piece) return false;
    // The DCS names first, so that each database entry is judged as it is read. A name longer
    // than a database name can hold is kept cut, at 9 characters, so that it never equals one.
    ShortNameSet dcsNames(dcsEntries);
    if (!ReadEntries(dcs, dcsEntries, kDcsRuleDcsEntrySize, piece.get(),
                     [&](const unsigned char* entry) {
                       dcsNames.Insert(FieldName(entry + kDcsRuleDcsNameOffset, 9));
                     })) {
      return false;
    }
    dcsNodes_.emplace(databaseEntries);
    return ReadEntries(
        database, databaseEntries, kDcsRuleDatabaseEntrySize, piece.get(),
        [&](const unsigned char* entry) {
          const char type = static_cast<char>(entry[base::kEntryTypeOffset]);
          if (type != '1' && type != '4') return;
          if (!dcsNames.Contains(
                  FieldName(entry + kEntryDatabaseNameOffset, kDcsRuleDatabaseNameLength, true))) {
            return;
          }
          dcsNodes_->Insert(FieldName(entry + kEntryNameTextOffset, kNodeNameWidth - 1));
        });
  }

  bool enabled_ = false;
  std::optional<ShortNameSet> dcsNodes_;
};

class NodeConversion {
 public:
  NodeConversion(bool fileExists, const char* filePath, const char* copyPath, char* key,
                 char* object, FileStream* errorFile,
                 std::unique_ptr<unsigned char[]>* sourceBytes = nullptr, size_t sourceSize = 0)
      : sourceBytes_(sourceBytes),
        sourceSize_(sourceSize),
        fileExists_(fileExists),
        sourcePath_(fileExists ? filePath : copyPath),
        targetPath_(fileExists ? copyPath : filePath),
        filePath_(filePath),
        key_(key),
        object_(object),
        errorFile_(errorFile) {}

  [[nodiscard]] MigrationResult Run(int layoutType) {
    const MigrationResult result = Convert(layoutType);
    // What is still open was left by a failing step: its close is recorded, the step's code
    // stays the result.
    if (!CloseFile(source_)) {
      WriteMigrationError("MNDIR_025", sourcePath_, kMigrationCannotClose, errorFile_);
    }
    if (!CloseFile(target_)) {
      WriteMigrationError("MNDIR_026", targetPath_, kMigrationCannotClose, errorFile_);
    }
    return result;
  }

 private:
  MigrationResult Fail(const char* key, const char* object, MigrationResult code) {
    base::CopyBounded(key_, key, kNodeConversionKeySize);
    base::CopyBounded(object_, object, kNodeConversionObjectSize);
    return code;
  }

  // Reads the next size bytes of the old directory, from memory when the caller handed its
  // bytes in; false when fewer remain.
  bool ReadSource(unsigned char* buffer, size_t size) {
    if (sourceBytes_ == nullptr) return ReadExactly(*source_, buffer, size);
    if (!*sourceBytes_ || sourceSize_ - sourceOffset_ < size) {
      sourceOffset_ = sourceSize_;
      return false;
    }
    std::memcpy(buffer, sourceBytes_->get() + sourceOffset_, size);
    sourceOffset_ += size;
    return true;
  }

  [[nodiscard]] MigrationResult Convert(int layoutType) {
    const auto layout = static_cast<base::NodeDirectoryLayoutType>(layoutType);
    const base::NodeLayoutSpec* spec = FindNodeLayout(layout);
    if (layoutType < 1 || layoutType > base::kNodeOldLayoutCount || spec == nullptr) {
      return Fail("MNDIR_002", "Node directory", kMigrationUnrecognizedFile);
    }

    const size_t pathLength = std::strlen(filePath_);
    const size_t suffixLength = std::strlen(base::kNodeDirectoryFileSubpath);
    DcsRule dcsRule;
    if (pathLength >= suffixLength) {
      dcsRule.Load(std::string(filePath_, pathLength - suffixLength), errorFile_);
    }

    auto header = AllocateWorkBuffer<unsigned char>(base::kNodeHeaderSize);
    auto newEntry = header ? AllocateWorkBuffer<unsigned char>(base::kNodeEntrySize) : nullptr;
    if (!header || !newEntry) return Fail("MNDIR_001", "", kNodeMigrationNoMemory);
    auto oldEntry = AllocateWorkBuffer<unsigned char>(spec->entrySize);
    if (!oldEntry) return Fail("MNDIR_002", "", kNodeMigrationNoMemory);

    // The old file is only read; the converted directory goes to the other path first.
    const bool inMemory = sourceBytes_ != nullptr;
    if (!inMemory) source_ = OpenFile(sourcePath_, "rb");
    if (inMemory || source_) target_ = OpenFile(targetPath_, "wb+");
    if ((!inMemory && !source_) || !target_) {
      const std::string either = std::string(sourcePath_) + " or " + targetPath_;
      return Fail("MNDIR_003", either.c_str(), kMigrationCannotOpen);
    }

    if (!ReadSource(header.get(), base::kNodeHeaderSize)) {
      return Fail("MNDIR_004", sourcePath_, kMigrationReadError);
    }
    const uint16_t entryCount = base::LoadLE16(header.get() + base::kNodeEntryCountOffset);
    const uint32_t headerValue = base::LoadLE32(header.get() + base::kNodeHeaderValueOffset);
    unsigned char newHeader[base::kNodeHeaderSize] = {};
    base::StoreNodeText(newHeader + base::kNodeSignatureOffset, base::kNodeSignatureWidth,
                        base::kNodeCurrentSignature);
    base::StoreLE16(newHeader + base::kNodeEntryCountOffset, entryCount);
    base::StoreLE32(newHeader + base::kNodeHeaderValueOffset, headerValue);
    base::StoreLE16(newHeader + base::kNodeReleaseOffset, base::kNodeCurrentRelease);
    if (!WriteExactly(*target_, newHeader, sizeof newHeader)) {
      return Fail("MNDIR_005", targetPath_, kMigrationWriteError);
    }

    for (unsigned i = 0; i < entryCount; ++i) {
      if (!ReadSource(oldEntry.get(), spec->entrySize)) {
        return Fail("MNDIR_010", sourcePath_, kMigrationReadError);
      }
      // The layout and the entry size come from the layout's own row, so the entry is built.
      static_cast<void>(BuildNodeEntry(layout, oldEntry.get(), spec->entrySize, newEntry.get()));
      if (dcsRule.NodeUsesDcs(newEntry.get())) {
        base::StoreLE16(newEntry.get() + kNodeDcsFieldOffset, kNodeDcsValue);
      }
      if (!WriteExactly(*target_, newEntry.get(), base::kNodeEntrySize)) {
        return Fail("MNDIR_011", targetPath_, kMigrationWriteError);
      }
      std::memset(newEntry.get(), 0, base::kNodeEntrySize);
    }
    unsigned char closing[base::kNodeClosingSize];
    base::StoreLE32(closing, headerValue);
    if (!WriteExactly(*target_, closing, sizeof closing)) {
      return Fail("MNDIR_012", targetPath_, kMigrationWriteError);
    }
    if (!CloseFile(source_)) return Fail("MNDIR_013", sourcePath_, kMigrationCannotClose);
    // Held in memory, the old directory goes before the converted one is read back whole.
    if (sourceBytes_ != nullptr) sourceBytes_->reset();

    return CopyTargetOverSource();
  }

  // Reads the converted target back and writes it over the old file, so that the node
  // directory file and its copy end identical. It goes in pieces of at most kCopyPieceSize,
  // so that the copy costs that much memory whatever the directory's size; the target is
  // closed once read to its end, so a file of one piece takes the steps in the order of a
  // whole-file copy (allocate, read, close the target, open the source, write).
  [[nodiscard]] MigrationResult CopyTargetOverSource() {
    if (target_->Seek(0, platform::kSeekSet) != 0) {
      return Fail("MNDIR_014", targetPath_, kMigrationFileAccessError);
    }
    int64_t size = 0;
    if (const MigrationStep* failed = MeasureFile(*target_, kConvertedSizeSteps, &size)) {
      return Fail(failed->key, targetPath_, failed->code);
    }
    const size_t length = static_cast<size_t>(size);
    const size_t pieceSize = std::min(length, kCopyPieceSize);
    auto piece = AllocateReadBuffer(pieceSize);
    if (!piece) return Fail("MNDIR_018", "", kNodeMigrationNoMemory);
    size_t done = 0;
    do {
      const size_t take = std::min(length - done, pieceSize);
      if (!ReadExactly(*target_, piece.get(), take)) {
        return Fail("MNDIR_019", targetPath_, kMigrationReadError);
      }
      if (done + take == length && !CloseFile(target_)) {
        return Fail("MNDIR_020", targetPath_, kMigrationCannotClose);
      }
      if (!source_) {
        source_ = OpenFile(sourcePath_, "wb+");
        if (!source_) {
          return Fail(fileExists_ ? "MNDIR_021" : "MNDIR_023", sourcePath_, kMigrationCannotOpen);
        }
      }
      if (!WriteExactly(*source_, piece.get(), take)) {
        return Fail(fileExists_ ? "MNDIR_022" : "MNDIR_024", sourcePath_, kMigrationWriteError);
      }
      done += take;
    } while (done < length);
    // The converted bytes reach the file only with this close, so a failing one fails the
    // conversion rather than leave the two files different behind a completed backup.
    if (!CloseFile(source_)) return Fail("MNDIR_025", sourcePath_, kMigrationCannotClose);
    return kMigrationOk;
  }

  std::unique_ptr<unsigned char[]>* const sourceBytes_;
  const size_t sourceSize_;
  size_t sourceOffset_ = 0;
  const bool fileExists_;
  const char* const sourcePath_;
  const char* const targetPath_;
  const char* const filePath_;
  char* const key_;
  char* const object_;
  FileStream* const errorFile_;
  FileHandle source_;
  FileHandle target_;
};

}  // namespace

bool BuildNodeEntry(base::NodeDirectoryLayoutType layout, const unsigned char* oldEntry,
                    size_t entrySize, unsigned char* newEntry) {
  const int column = static_cast<int>(layout) - 1;
  const base::NodeLayoutSpec* spec = FindNodeLayout(layout);
  if (column < 0 || column >= base::kNodeOldLayoutCount || spec == nullptr ||
      spec->entrySize != entrySize) {
    return false;
  }
  std::memset(newEntry, 0, base::kNodeEntrySize);
  for (const NodeFieldSpec& field : kNodeEntryFields) {
    const int source = field.source[column];
    if (source == kNoSource) continue;
    const size_t from = static_cast<size_t>(source);
    unsigned char* to = newEntry + field.offset;
    switch (field.kind) {
      case NodeFieldKind::kText: {
        // Never past the old entry: a text without its zero ends there.
        const size_t room = entrySize - from;
        const size_t limit = field.width - 1 < room ? field.width - 1 : room;
        size_t length = 0;
        while (length < limit && oldEntry[from + length] != 0) ++length;
        std::memcpy(to, oldEntry + from, length);
        break;
      }
      case NodeFieldKind::kByte:
        to[0] = oldEntry[from];
        break;
      case NodeFieldKind::kU16:
        base::StoreLE16(to, base::LoadLE16(oldEntry + from));
        break;
    }
  }
  return true;
}

[[nodiscard]] MigrationResult ConvertNodeDirectory(bool fileExists, bool /*copyExists*/,
                                                   int layoutType, const char* filePath,
                                                   const char* copyPath, char* key, char* object,
                                                   platform::FileStream* errorFile) {
  if (filePath == nullptr || copyPath == nullptr || key == nullptr || object == nullptr) {
    return kMigrationCannotOpen;
  }
  return NodeConversion(fileExists, filePath, copyPath, key, object, errorFile).Run(layoutType);
}

[[nodiscard]] MigrationResult ConvertNodeDirectoryBytes(
    bool fileExists, int layoutType, const char* filePath, const char* copyPath,
    std::unique_ptr<unsigned char[]>& sourceBytes, size_t sourceSize, char* key, char* object,
    platform::FileStream* errorFile) {
  if (filePath == nullptr || copyPath == nullptr || key == nullptr || object == nullptr) {
    return kMigrationCannotOpen;
  }
  return NodeConversion(fileExists, filePath, copyPath, key, object, errorFile, &sourceBytes,
                        sourceSize)
      .Run(layoutType);
}

}  // namespace qz7::migrate
