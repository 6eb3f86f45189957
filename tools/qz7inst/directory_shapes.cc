#include "tools/qz7inst/directory_shapes.h"

#include <cstring>
#include <iterator>

#include "base/coding.h"
#include "base/layout_recognition.h"
#include "migrate/intention_file_conversion.h"
#include "migrate/node_directory_conversion.h"

namespace qz7::cli {
namespace {

using base::DirectoryLayoutType;
using base::NodeDirectoryLayoutType;

size_t EntrySizeOf(DirectoryLayoutType type, bool shortHeader) {
  if (type == DirectoryLayoutType::kCurrent) return base::kCurrentEntrySize;
  for (const base::DirectoryEntrySizes& sizes : base::kDirectoryEntrySizes) {
    if (sizes.type == type) return shortHeader ? sizes.shortHeader : sizes.longHeader;
  }
  return 0;
}

// Fills the entry size and the size the header's counts give for the type found.
void CompleteShape(const base::DirectoryHeader& header, size_t fileSize,
                   DatabaseDirectoryShape* shape) {
  if (shape->type == DirectoryLayoutType::kUnrecognised) return;
  shape->entrySize = EntrySizeOf(shape->type, shape->shortHeader);
  const size_t fixed = shape->shortHeader ? base::kShortFixedSize : base::kLongFixedSize;
  shape->expectedSize = fixed + base::kSlotSize * header.slotCount +
                        shape->entrySize * static_cast<size_t>(header.entryCount);
  shape->exact = fileSize == shape->expectedSize &&
                 (shape->type != DirectoryLayoutType::kEmpty || header.entryCount == 0);
}

bool IntentionFits(FileBytes bytes) {
  const DirectoryLayoutType layout = IntentionLayoutOfSize(bytes.size());
  if (layout == DirectoryLayoutType::kUnrecognised) return false;
  if (layout == DirectoryLayoutType::kCurrent) {
    for (const base::IntentionField& field : base::kIntentionFields) {
      if (!field.number && !IsPlainTerminatedText(bytes, field.offset, field.width)) return false;
    }
    const base::IntentionField& last =
        base::kIntentionFields[std::size(base::kIntentionFields) - 1];
    for (size_t i = last.offset + last.width; i < bytes.size(); ++i) {
      if (bytes[i] != 0) return false;
    }
    return true;
  }
  // An earlier file holds the current fields at the offsets its rows give, each at most as
  // wide as the row.
  for (const migrate::IntentionFieldCopy& row : migrate::IntentionFieldCopies(layout)) {
    if (row.newOffset != 0 && !IsPlainTerminatedText(bytes, row.oldOffset, row.width)) {
      return false;
    }
  }
  return true;
}

}  // namespace

DatabaseDirectoryShape ShapeOfDatabaseDirectory(FileBytes bytes) {
  DatabaseDirectoryShape shape;
  if (bytes.size() < base::kLongHeaderSize) return shape;
  shape.headerRead = true;
  const base::DirectoryLayoutRecognition layout =
      base::RecogniseDirectoryLayout(bytes.data(), static_cast<int64_t>(bytes.size()));
  shape.type = layout.type;
  shape.shortHeader = layout.shortHeader;
  CompleteShape(base::DecodeDirectoryHeader(bytes.data(), false), bytes.size(), &shape);
  return shape;
}

NodeDirectoryShape ShapeOfNodeDirectory(FileBytes bytes) {
  NodeDirectoryShape shape;
  if (bytes.size() < base::kNodeHeaderSize) return shape;
  shape.headerRead = true;
  const uint16_t count = base::LoadLE16(bytes.data() + base::kNodeEntryCountOffset);
  shape.type = base::RecogniseNodeDirectoryLayout(bytes.data(), static_cast<int64_t>(bytes.size()));
  if (shape.type == NodeDirectoryLayoutType::kCurrent) {
    shape.entrySize = base::kNodeEntrySize;
  } else if (const base::NodeLayoutSpec* spec = base::FindNodeLayout(shape.type)) {
    shape.entrySize = spec->entrySize;
  }
  if (shape.type == NodeDirectoryLayoutType::kUnrecognised) return shape;
  shape.expectedSize = base::kNodeFrameSize + shape.entrySize * count;
  shape.exact = bytes.size() == shape.expectedSize &&
                (shape.type != NodeDirectoryLayoutType::kEmpty || count == 0);
  return shape;
}

DirectoryLayoutType IntentionLayoutOfSize(size_t size) {
  if (size == base::kIntentionFileSize) return DirectoryLayoutType::kCurrent;
  for (DirectoryLayoutType layout : {DirectoryLayoutType::kLayout2, DirectoryLayoutType::kLayout3,
                                     DirectoryLayoutType::kLayout4}) {
    if (migrate::OldIntentionSize(layout) == size) return layout;
  }
  return DirectoryLayoutType::kUnrecognised;
}

bool DcsDirectoryFits(FileBytes bytes) {
  if (bytes.size() < base::kDcsDirectoryHeaderSize) return false;
  const size_t count = base::LoadLE16(bytes.data() + base::kDcsDirectoryCountOffset);
  return bytes.size() == base::kDcsDirectoryHeaderSize + count * base::kDcsDirectoryEntrySize;
}

DirectoryKind ClassifyDirectoryFile(const DecodedFile& file) {
  const FileBytes bytes(file.bytes);
  const DatabaseDirectoryShape database = ShapeOfDatabaseDirectory(bytes);
  const NodeDirectoryShape node = ShapeOfNodeDirectory(bytes);
  const bool databaseSignature = database.type == DirectoryLayoutType::kCurrent &&
                                 FieldText(bytes, 0, 18) == base::kCurrentDirectorySignature;
  const bool nodeSignature = node.headerRead && FieldText(bytes, 0, base::kNodeSignatureWidth) ==
                                                    base::kNodeCurrentSignature;
  // An empty DCS directory is a bare 24-byte header; only its name tells it.
  const bool dcsFits = DcsDirectoryFits(bytes) &&
                       (bytes.size() > base::kDcsDirectoryHeaderSize || NameIs(file, {"SQLGWDIR"}));
  struct Candidate {
    DirectoryKind kind;
    int score;
  } candidates[] = {
      {DirectoryKind::kDatabaseDirectory, (database.exact ? 4 : 0) + (databaseSignature ? 2 : 0) +
                                              (NameIs(file, {"SQLDBDIR", "SQLDBBAK"}) ? 1 : 0)},
      {DirectoryKind::kNodeDirectory, (node.exact ? 4 : 0) + (nodeSignature ? 2 : 0) +
                                          (NameIs(file, {"SQLNODIR", "SQLNOBAK"}) ? 1 : 0)},
      {DirectoryKind::kIntentionFile,
       (IntentionFits(bytes) ? 4 : 0) + (NameIs(file, {"SQLDBINS"}) ? 1 : 0)},
      {DirectoryKind::kDcsDirectory, (dcsFits ? 4 : 0) + (NameIs(file, {"SQLGWDIR"}) ? 1 : 0)},
  };
  DirectoryKind best = DirectoryKind::kNone;
  int bestScore = 1;  // a name alone claims nothing
  for (const Candidate& candidate : candidates) {
    if (candidate.score > bestScore) {
      best = candidate.kind;
      bestScore = candidate.score;
    }
  }
  return best;
}

}  // namespace qz7::cli
