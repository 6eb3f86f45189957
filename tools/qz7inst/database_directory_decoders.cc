// The database directory decoders of `qz7inst show`: a system or local database directory
// file (SQLDBDIR, SQLDBBAK) of the current layout or of any of the four earlier ones under
// either header, and its intention file (SQLDBINS). Old entries are shown by the fields that
// the conversion carries, read through the conversion's own row tables, under the names of
// the current entry's fields they become.
#include <algorithm>
#include <string>

#include "base/coding.h"
#include "base/directory_layout.h"
#include "migrate/converted_entry.h"
#include "migrate/directory_hash.h"
#include "migrate/intention_file_conversion.h"
#include "tools/qz7inst/directory_records.h"
#include "tools/qz7inst/directory_shapes.h"
#include "tools/qz7inst/file_decoder.h"

namespace qz7::cli {
namespace {

using base::DirectoryLayoutType;

enum class Shown { kText, kChar, kByte, kU16, kU32, kHex16, kHex32 };

struct EntryField {
  const char* name;
  size_t offset;
  size_t width;
  Shown kind;
};

// The fields of the current 720-byte entry that have a meaning; the database block at 344
// (filled from a local database's files) is shown by the parts that the local check writes.
constexpr EntryField kEntryFields[] = {
    {"name", migrate::kEntryCatalogNameOffset, migrate::kEntryNameSize, Shown::kText},
    {"databaseName", migrate::kEntryDatabaseNameOffset, migrate::kEntryNameSize, Shown::kText},
    {"type", base::kEntryTypeOffset, 1, Shown::kChar},
    {"subdirectory", migrate::kEntrySubdirectoryOffset, migrate::kEntryNameSize, Shown::kText},
    {"nameText", migrate::kEntryNameTextOffset, migrate::kEntryNameSize, Shown::kText},
    {"flag", migrate::kEntryFlagOffset, 1, Shown::kByte},
    {"path", migrate::kEntryPathOffset, migrate::kEntryPathSize, Shown::kText},
    {"comment", migrate::kEntryCommentOffset, migrate::kEntryCommentSize, Shown::kText},
    {"field326", 326, 2, Shown::kU16},
    {"field336", 336, 4, Shown::kU32},
    {"field340", 340, 2, Shown::kU16},
    {"field342", 342, 2, Shown::kU16},
    {"infoTag", migrate::kEntryDatabaseInfoOffset, 8, Shown::kText},  // "SQLDBD02"
    {"codePage", 352, 4, Shown::kU32},
    {"field356", 356, 4, Shown::kHex32},
    {"field656", migrate::kEntryInfoLengthOffset, 4, Shown::kU32},
    {"codeSet", migrate::kEntryCodeSetOffset, 10, Shown::kText},
    {"territory", migrate::kEntryTerritoryOffset, 6, Shown::kText},
    {"field704", 704, 4, Shown::kU32},
    {"field708", 708, 1, Shown::kByte},
    {"product", migrate::kEntryProductOffset, migrate::kEntryProductSize, Shown::kText},
    {"release", migrate::kEntryReleaseOffset, 2, Shown::kHex16},
};

// Adds one field read from at (width bytes; a number only when it is whole).
void AddField(ShowRecord& record, const char* name, Shown kind, const unsigned char* at,
              size_t width, size_t fullWidth) {
  const FileBytes field(at, width);
  switch (kind) {
    case Shown::kText:
      record.Text(name, FieldText(field, 0, width));
      return;
    case Shown::kChar:
      record.Text(name, FieldText(field, 0, 1));
      return;
    default:
      break;
  }
  if (width != fullWidth) return;
  switch (kind) {
    case Shown::kByte:
      record.Number(name, at[0]);
      break;
    case Shown::kU16:
      record.Number(name, base::LoadLE16(at));
      break;
    case Shown::kU32:
      record.Number(name, base::LoadLE32(at));
      break;
    case Shown::kHex16:
      record.Hex(name, base::LoadLE16(at), 4);
      break;
    case Shown::kHex32:
      record.Hex(name, base::LoadLE32(at), 8);
      break;
    default:
      break;
  }
}

// One entry of the layout. An earlier layout's entry is read through the conversion's rows:
// each current field that a row fills is read from where the row takes it, as wide as the old
// field is.
ShowRecord DescribeEntry(DirectoryLayoutType type, bool shortHeader, const unsigned char* entry,
                         size_t fileOffset) {
  ShowRecord record;
  record.Number("offset", fileOffset);
  record.Number("hashBucket", migrate::DirectoryNameHash(entry, migrate::kEntryNameSize));
  if (type == DirectoryLayoutType::kCurrent) {
    for (const EntryField& field : kEntryFields) {
      AddField(record, field.name, field.kind, entry + field.offset, field.width, field.width);
    }
    return record;
  }
  for (const migrate::EntryFieldCopy& row : migrate::EntryFieldCopies(type, shortHeader)) {
    if (row.rule == migrate::EntryCopyRule::kConstantFF ||
        row.rule == migrate::EntryCopyRule::kConstant32LE) {
      continue;
    }
    for (const EntryField& field : kEntryFields) {
      if (field.offset < row.newOffset || field.offset >= row.newOffset + row.newWidth) continue;
      const size_t delta = field.offset - row.newOffset;
      if (delta >= row.oldWidth) continue;
      AddField(record, field.name, field.kind, entry + row.oldOffset + delta,
               std::min<size_t>(field.width, row.oldWidth - delta), field.width);
    }
  }
  return record;
}

std::string LayoutName(DirectoryLayoutType type) {
  switch (type) {
    case DirectoryLayoutType::kCurrent:
      return "current";
    case DirectoryLayoutType::kUnrecognised:
      return "unrecognised";
    default:
      return base::DirectoryLayoutName(type);
  }
}

bool IsEarlierLayout(DirectoryLayoutType type) {
  return type >= DirectoryLayoutType::kLayout1 && type <= DirectoryLayoutType::kLayout4;
}

// The hash block's value and the buckets that hold an offset.
ShowRecord DescribeHashBlock(FileBytes block, bool shortHeader) {
  ShowRecord record;
  record.Number("value", base::LoadLE16(block.data()));
  // The short block has no two zero bytes after the value.
  const size_t first = shortHeader ? 2 : migrate::kHashBucketsOffset;
  std::vector<ShowRecord> buckets;
  for (size_t bucket = 0; bucket < migrate::kHashBucketCount; ++bucket) {
    const uint32_t offset = base::LoadLE32(block.data() + first + 4 * bucket);
    if (offset != 0)
      buckets.push_back(ShowRecord().Number("bucket", bucket).Number("offset", offset));
  }
  record.Children("buckets", std::move(buckets));
  return record;
}

ShowRecord DescribeHeader(const base::DirectoryHeader& header) {
  ShowRecord record;
  record.Text("signature", header.signature.c_str());
  record.Hex("releaseMarker", header.releaseMarker, 4);
  record.Number("entryCount", header.entryCount);
  record.Number("secondCount", header.secondCount);
  record.Number("slotCount", header.slotCount);
  record.Number("headerValue", header.headerValue);
  return record;
}

bool RecognisesDatabaseDirectory(const DecodedFile& file) {
  return ClassifyDirectoryFile(file) == DirectoryKind::kDatabaseDirectory;
}

int PrintDatabaseDirectory(Invocation& invocation, const DecodedFile& file) {
  Problems problems;
  const ShowRecord body = DescribeDatabaseDirectory(file.bytes, &problems);
  return FinishShow(invocation, file, "database-directory",
                    "system or local database directory (SQLDBDIR, SQLDBBAK)", body, problems);
}

bool RecognisesIntentionFile(const DecodedFile& file) {
  return ClassifyDirectoryFile(file) == DirectoryKind::kIntentionFile;
}

int PrintIntentionFile(Invocation& invocation, const DecodedFile& file) {
  Problems problems;
  const ShowRecord body = DescribeIntentionFile(file.bytes, &problems);
  return FinishShow(invocation, file, "intention-file", "database directory intention file", body,
                    problems);
}

QZ7_FILE_DECODER("database-directory", "system or local database directory, any layout", 200,
                 RecognisesDatabaseDirectory, PrintDatabaseDirectory);
QZ7_FILE_DECODER("intention-file", "database directory intention file SQLDBINS", 200,
                 RecognisesIntentionFile, PrintIntentionFile);

}  // namespace

ShowRecord DescribeDatabaseDirectory(FileBytes bytes, Problems* problems) {
  ShowRecord record;
  const DatabaseDirectoryShape shape = ShapeOfDatabaseDirectory(bytes);
  if (!shape.headerRead) {
    problems->push_back("truncated: " + std::to_string(bytes.size()) +
                        " bytes, a database directory header takes " +
                        std::to_string(base::kLongHeaderSize));
    return record;
  }
  const base::DirectoryHeader header = base::DecodeDirectoryHeader(bytes.data(), shape.shortHeader);
  record.Number("layoutType", static_cast<uint64_t>(shape.type));
  record.Word("layoutName", LayoutName(shape.type));
  record.Word("headerForm", shape.shortHeader ? "short (30 bytes)" : "long (32 bytes)");
  record.Child("header", DescribeHeader(header));
  const std::string counts = std::to_string(header.entryCount) + " entries and " +
                             std::to_string(header.slotCount) + " slots";
  if (shape.type == DirectoryLayoutType::kUnrecognised) {
    problems->push_back("no layout fits " + std::to_string(bytes.size()) + " bytes with " + counts +
                        " (the migration finds it unrecognizable)");
    return record;
  }
  if (!shape.exact) {
    problems->push_back("size " + std::to_string(bytes.size()) + " differs from the " +
                        std::to_string(shape.expectedSize) + " bytes that " + counts +
                        " give in layout " + LayoutName(shape.type));
  }
  if (shape.type == DirectoryLayoutType::kEmpty) {
    record.Word("intentionFile", "required");
    return record;
  }
  const size_t headerSize = shape.shortHeader ? base::kShortHeaderSize : base::kLongHeaderSize;
  const size_t blockSize = shape.shortHeader ? base::kShortBlockSize : base::kLongBlockSize;
  if (Holds(bytes, headerSize, blockSize)) {
    record.Child("hashBlock",
                 DescribeHashBlock(bytes.subspan(headerSize, blockSize), shape.shortHeader));
  }
  record.Number("entrySize", shape.entrySize);
  const size_t first = headerSize + blockSize;
  std::vector<ShowRecord> entries;
  for (size_t i = 0; i < header.entryCount; ++i) {
    const size_t offset = first + i * shape.entrySize;
    if (!Holds(bytes, offset, shape.entrySize)) break;
    entries.push_back(DescribeEntry(shape.type, shape.shortHeader, bytes.data() + offset, offset));
  }
  if (IsEarlierLayout(shape.type)) {
    const bool required =
        !entries.empty() && bytes[first + base::kEntryTypeOffset] ==
                                static_cast<unsigned char>(base::kEntryTypeOwnDirectory);
    record.Word("intentionFile", required ? "required" : "optional");
  }
  if (entries.size() < header.entryCount) {
    problems->push_back("only " + std::to_string(entries.size()) + " of " +
                        std::to_string(header.entryCount) + " entries are in the file");
  }
  record.Children("entries", std::move(entries));

  const size_t slotsAt = first + header.entryCount * shape.entrySize;
  std::vector<uint64_t> slots;
  for (size_t i = 0; i < header.slotCount && Holds(bytes, slotsAt + 2 * i, 2); ++i) {
    slots.push_back(base::LoadLE16(bytes.data() + slotsAt + 2 * i));
  }
  record.Numbers("slots", std::move(slots));
  const size_t closingAt = slotsAt + base::kSlotSize * header.slotCount;
  if (Holds(bytes, closingAt, base::kClosingFieldSize)) {
    const uint32_t closing = base::LoadLE32(bytes.data() + closingAt);
    record.Number("closingValue", closing);
    record.Flag("closingMatchesHeader", closing == header.headerValue);
  }
  return record;
}

ShowRecord DescribeIntentionFile(FileBytes bytes, Problems* problems) {
  ShowRecord record;
  const DirectoryLayoutType layout = IntentionLayoutOfSize(bytes.size());
  if (layout == DirectoryLayoutType::kUnrecognised) {
    problems->push_back("no intention file layout has " + std::to_string(bytes.size()) +
                        " bytes (540 current; 37, 523, 534 earlier)");
    return record;
  }
  record.Number("layoutType", static_cast<uint64_t>(layout));
  record.Word("layoutName", layout == DirectoryLayoutType::kLayout2 ? "TYPE2_DECB (or TYPE1_DECB)"
                                                                    : LayoutName(layout));
  for (const IntentionField& field : kIntentionFields) {
    size_t at = field.offset;
    size_t width = field.width;
    if (layout != DirectoryLayoutType::kCurrent) {
      // An earlier file holds the field where the conversion's row takes it from, if at all.
      const auto rows = migrate::IntentionFieldCopies(layout);
      const auto row = std::find_if(rows.begin(), rows.end(), [&](const auto& copy) {
        return copy.newOffset == field.offset;
      });
      if (row == rows.end()) continue;
      at = row->oldOffset;
      width = row->width;
    }
    if (!Holds(bytes, at, width)) continue;
    if (field.number) {
      record.Number(field.name, base::LoadLE16(bytes.data() + at));
    } else {
      record.Text(field.name, FieldText(bytes, at, width));
    }
  }
  return record;
}

}  // namespace qz7::cli
