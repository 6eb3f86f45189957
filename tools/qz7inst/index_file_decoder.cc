// The decoder of `qz7inst show` for the instance index file QZ7IDIR that an earlier release
// left in the instance-profile directory: its signature, the entry count and the instance
// names, read the way discovery reads them (a short entry ends the list).
#include <cstring>
#include <string>

#include "base/coding.h"
#include "base/instance_index_layout.h"
#include "tools/qz7inst/file_decoder.h"
#include "tools/qz7inst/show_record.h"

namespace qz7::cli {
namespace {

using base::kInstanceIndexCountOffset;
using base::kInstanceIndexEntrySize;
using base::kInstanceIndexHeaderSize;
using base::kInstanceIndexSignatureSize;

bool Recognises(const DecodedFile& file) {
  return file.bytes.size() >= kInstanceIndexSignatureSize &&
         std::memcmp(file.bytes.data(), base::kInstanceIndexSignature,
                     kInstanceIndexSignatureSize) == 0;
}

int Print(Invocation& invocation, const DecodedFile& file) {
  const FileBytes bytes(file.bytes);
  Problems problems;
  ShowRecord body;
  body.Text("signature", FieldText(bytes, 0, kInstanceIndexSignatureSize));
  if (bytes.size() < kInstanceIndexHeaderSize) {
    problems.push_back("truncated: " + std::to_string(bytes.size()) + " bytes, the header takes " +
                       std::to_string(kInstanceIndexHeaderSize));
    body.Flag("usedByDiscovery", false);
  } else {
    const uint32_t count = base::LoadLE32(bytes.data() + kInstanceIndexCountOffset);
    std::vector<std::string> names;
    for (size_t offset = kInstanceIndexHeaderSize;
         names.size() < count && Holds(bytes, offset, kInstanceIndexEntrySize);
         offset += kInstanceIndexEntrySize) {
      names.push_back(FieldText(bytes, offset, kInstanceIndexEntrySize));
    }
    // Discovery takes the file only with a count; one name makes that instance the default.
    body.Number("entryCount", count).Flag("usedByDiscovery", count != 0);
    body.Texts("names", names);
    if (names.size() == 1 && count == 1) body.Text("defaultInstance", names.front());
    if (names.size() < count) {
      problems.push_back("only " + std::to_string(names.size()) + " of " + std::to_string(count) +
                         " entries are in the file (discovery stops at the short one)");
    }
  }
  return FinishShow(invocation, file, "instance-index", "old instance index file (QZ7IDIR)", body,
                    problems);
}

QZ7_FILE_DECODER("instance-index", "old instance index file QZ7IDIR", 10, Recognises, Print);

}  // namespace
}  // namespace qz7::cli
