#include "testkit/old_directory_entries.h"

#include <algorithm>
#include <stdexcept>

#include "base/coding.h"

namespace qz7::testkit {
namespace {

void PutBytes(sample::DirectoryBytes& bytes, size_t offset, size_t width,
              const std::vector<unsigned char>& value) {
  std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
            bytes.begin() + static_cast<std::ptrdiff_t>(offset + width), 0);
  std::copy_n(value.begin(), std::min(value.size(), width),
              bytes.begin() + static_cast<std::ptrdiff_t>(offset));
}

// Where each field of OldEntryFields lies in one layout; width 0 where the layout has none.
struct OldEntryLayout {
  size_t size;
  size_t pathOffset, pathWidth;
  size_t commentOffset, commentWidth;
  size_t number16Offset, number32Offset, trailer32Offset, trailerByteOffset;
  bool hasFlag;
};

OldEntryLayout OldEntryLayoutOf(int layout, sample::DirectoryHeaderForm form) {
  const bool shortForm = form == sample::DirectoryHeaderForm::kShort;
  switch (layout) {
    case 1:
      return {93, 38, 3, 41, 31, 72, 74, 78, 82, true};
    case 2:
      return {92, 37, 3, 40, 31, 71, 73, 77, 81, false};
    case 3:
      return shortForm ? OldEntryLayout{101, 38, 3, 41, 31, 72, 82, 86, 90, true}
                       : OldEntryLayout{356, 38, 256, 294, 32, 326, 336, 340, 344, true};
    case 4:
      return {700, 38, 256, 294, 32, 326, 336, 684, 688, true};
    default:
      throw std::invalid_argument("earlier layouts are 1 to 4");
  }
}

sample::DirectoryBytes EncodeOldEntry(int layout, sample::DirectoryHeaderForm form,
                                      const OldEntryFields& fields) {
  const OldEntryLayout at = OldEntryLayoutOf(layout, form);
  sample::DirectoryBytes entry(at.size, fields.fill);
  sample::PutDirectoryText(entry, 0, 9, fields.name);
  sample::PutDirectoryText(entry, 9, 9, fields.databaseName);
  entry[18] = static_cast<unsigned char>(fields.type);
  sample::PutDirectoryText(entry, 19, 9, fields.subdirectory);
  sample::PutDirectoryText(entry, 28, 9, fields.nameText);
  if (at.hasFlag) entry[37] = fields.flag;
  sample::PutDirectoryText(entry, at.pathOffset, at.pathWidth, fields.path);
  sample::PutDirectoryText(entry, at.commentOffset, at.commentWidth, fields.comment);
  base::StoreLE16(&entry[at.number16Offset], fields.number16);
  base::StoreLE32(&entry[at.number32Offset], fields.number32);
  base::StoreLE32(&entry[at.trailer32Offset], fields.trailer32);
  entry[at.trailerByteOffset] = fields.trailerByte;
  if (layout == 4) {
    base::StoreLE16(&entry[340], fields.extra340);
    base::StoreLE16(&entry[342], fields.extra342);
    PutBytes(entry, 344, 312, fields.databaseInfo);
    PutBytes(entry, 656, 16, fields.tail);
  }
  return entry;
}

}  // namespace

sample::DirectoryBytes OldDirectoryBytes(sample::DatabaseDirectoryBuilder builder, int layout,
                                         sample::DirectoryHeaderForm form,
                                         const std::vector<OldEntryFields>& entries) {
  for (size_t i = 0; i < entries.size(); ++i) builder.AddEntry({});
  sample::DirectoryBytes bytes = builder.Bytes();
  const bool shortForm = form == sample::DirectoryHeaderForm::kShort;
  size_t offset = shortForm ? 30 + 174 : 32 + 176;
  for (const OldEntryFields& fields : entries) {
    const sample::DirectoryBytes entry = EncodeOldEntry(layout, form, fields);
    const size_t room = offset < bytes.size() ? bytes.size() - offset : 0;  // a truncated file
    std::copy_n(entry.begin(), std::min(entry.size(), room),
                bytes.begin() + static_cast<std::ptrdiff_t>(offset));
    offset += entry.size();
  }
  return bytes;
}

}  // namespace qz7::testkit
