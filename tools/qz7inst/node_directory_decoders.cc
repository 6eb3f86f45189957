// The node directory decoders of `qz7inst show`: a node directory file (SQLNODIR, SQLNOBAK)
// of the current layout or of any of the five earlier ones, read through the conversion's
// NodeEntry table, and the DCS directory (SQLGWDIR) that the conversion consults.
#include <string>

#include "base/coding.h"
#include "base/node_directory_layout.h"
#include "migrate/node_directory_conversion.h"
#include "tools/qz7inst/directory_records.h"
#include "tools/qz7inst/directory_shapes.h"
#include "tools/qz7inst/file_decoder.h"

namespace qz7::cli {
namespace {

using base::NodeDirectoryLayoutType;

std::string LayoutName(NodeDirectoryLayoutType type) {
  if (type == NodeDirectoryLayoutType::kCurrent) return "current";
  const base::NodeLayoutSpec* layout = base::FindNodeLayout(type);
  return layout != nullptr ? layout->backupName : "unrecognised";
}

// The name of a NodeEntry field: the node name at 0; the others by their offset.
std::string FieldName(const migrate::NodeFieldSpec& field) {
  return field.offset == migrate::kNodeNameOffset ? "nodeName"
                                                  : "field" + std::to_string(field.offset);
}

// One entry: each field of the current entry, read where the layout keeps it. Texts of an
// earlier layout are read up to their zero, at most as wide as the current field.
ShowRecord DescribeEntry(NodeDirectoryLayoutType type, FileBytes entry, size_t fileOffset) {
  ShowRecord record;
  record.Number("offset", fileOffset);
  const int layout = static_cast<int>(type);
  for (const migrate::NodeFieldSpec& field : migrate::kNodeEntryFields) {
    int source = static_cast<int>(field.offset);
    if (type != NodeDirectoryLayoutType::kCurrent) source = field.source[layout - 1];
    if (source == migrate::kNoSource) continue;
    const size_t at = static_cast<size_t>(source);
    switch (field.kind) {
      case migrate::NodeFieldKind::kText:
        record.Text(FieldName(field), FieldText(entry, at, field.width));
        break;
      case migrate::NodeFieldKind::kByte:
        if (Holds(entry, at, 1)) record.Number(FieldName(field), entry[at]);
        break;
      case migrate::NodeFieldKind::kU16:
        if (Holds(entry, at, 2)) record.Number(FieldName(field), base::LoadLE16(&entry[at]));
        break;
    }
  }
  return record;
}

bool RecognisesNodeDirectory(const DecodedFile& file) {
  return ClassifyDirectoryFile(file) == DirectoryKind::kNodeDirectory;
}

int PrintNodeDirectory(Invocation& invocation, const DecodedFile& file) {
  Problems problems;
  const ShowRecord body = DescribeNodeDirectory(file.bytes, &problems);
  return FinishShow(invocation, file, "node-directory", "node directory (SQLNODIR, SQLNOBAK)", body,
                    problems);
}

bool RecognisesDcsDirectory(const DecodedFile& file) {
  return ClassifyDirectoryFile(file) == DirectoryKind::kDcsDirectory;
}

int PrintDcsDirectory(Invocation& invocation, const DecodedFile& file) {
  const FileBytes bytes(file.bytes);
  const size_t count = base::LoadLE16(bytes.data() + base::kDcsDirectoryCountOffset);
  ShowRecord body;
  body.Number("entryCount", count);
  std::vector<ShowRecord> entries;
  for (size_t i = 0; i < count; ++i) {
    const size_t offset = base::kDcsDirectoryHeaderSize + i * base::kDcsDirectoryEntrySize;
    const FileBytes entry = bytes.subspan(offset, base::kDcsDirectoryEntrySize);
    entries.push_back(
        ShowRecord()
            .Number("offset", offset)
            .Text("databaseName", FieldText(entry, base::kDcsDirectoryNameOffset,
                                            entry.size() - base::kDcsDirectoryNameOffset)));
  }
  body.Children("entries", std::move(entries));
  return FinishShow(invocation, file, "dcs-directory", "DCS gateway directory (SQLGWDIR)", body,
                    {});
}

QZ7_FILE_DECODER("node-directory", "node directory, any layout", 200, RecognisesNodeDirectory,
                 PrintNodeDirectory);
QZ7_FILE_DECODER("dcs-directory", "DCS gateway directory", 200, RecognisesDcsDirectory,
                 PrintDcsDirectory);

}  // namespace

ShowRecord DescribeNodeDirectory(FileBytes bytes, Problems* problems) {
  ShowRecord record;
  const NodeDirectoryShape shape = ShapeOfNodeDirectory(bytes);
  if (!shape.headerRead) {
    problems->push_back("truncated: " + std::to_string(bytes.size()) +
                        " bytes, a node directory header takes " +
                        std::to_string(base::kNodeHeaderSize));
    return record;
  }
  const uint16_t count = base::LoadLE16(bytes.data() + base::kNodeEntryCountOffset);
  const uint32_t headerValue = base::LoadLE32(bytes.data() + base::kNodeHeaderValueOffset);
  record.Number("layoutType", static_cast<uint64_t>(shape.type));
  record.Word("layoutName", LayoutName(shape.type));
  record.Child("header", ShowRecord()
                             .Text("signature", FieldText(bytes, base::kNodeSignatureOffset,
                                                          base::kNodeSignatureWidth))
                             .Number("entryCount", count)
                             .Number("headerValue", headerValue)
                             .Hex("releaseMarker",
                                  base::LoadLE16(bytes.data() + base::kNodeReleaseOffset), 4));
  if (shape.type == NodeDirectoryLayoutType::kUnrecognised) {
    problems->push_back("no layout fits " + std::to_string(bytes.size()) + " bytes with " +
                        std::to_string(count) + " entries (the migration finds it unrecognizable)");
    return record;
  }
  if (!shape.exact) {
    problems->push_back("size " + std::to_string(bytes.size()) + " differs from the " +
                        std::to_string(shape.expectedSize) + " bytes that " +
                        std::to_string(count) + " entries give in layout " +
                        LayoutName(shape.type));
  }
  if (shape.type == NodeDirectoryLayoutType::kEmpty) return record;
  record.Number("entrySize", shape.entrySize);
  std::vector<ShowRecord> entries;
  for (size_t i = 0; i < count; ++i) {
    const size_t offset = base::kNodeHeaderSize + i * shape.entrySize;
    if (!Holds(bytes, offset, shape.entrySize)) break;
    entries.push_back(DescribeEntry(shape.type, bytes.subspan(offset, shape.entrySize), offset));
  }
  if (entries.size() < count) {
    problems->push_back("only " + std::to_string(entries.size()) + " of " + std::to_string(count) +
                        " entries are in the file");
  }
  record.Children("entries", std::move(entries));
  const size_t closingAt = base::kNodeHeaderSize + count * shape.entrySize;
  if (Holds(bytes, closingAt, base::kNodeClosingSize)) {
    const uint32_t closing = base::LoadLE32(bytes.data() + closingAt);
    record.Number("closingValue", closing);
    record.Flag("closingMatchesHeader", closing == headerValue);
  }
  return record;
}

}  // namespace qz7::cli
