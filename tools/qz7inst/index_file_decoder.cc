// The decoder of `qz7inst show` for the instance index file QZ7IDIR that an earlier release
// left in the instance-profile directory: its signature, the entry count and the instance
// names, read the way discovery reads them (a short entry ends the list).
#include <cstring>
#include <string>

#include "base/coding.h"
#include "entry/existing_instance_scan.h"
#include "tools/qz7inst/file_decoder.h"
#include "tools/qz7inst/show_record.h"

namespace qz7::cli {
namespace {

// The file's layout: the signature with its zero (23 bytes), 4 bytes nobody reads, the entry
// count as an unaligned 32-bit number at 27, then one 9-byte name per entry.
constexpr size_t kSignatureLength = 23;
constexpr size_t kCountOffset = 27;
constexpr size_t kHeaderSize = 31;
constexpr size_t kEntrySize = 9;

bool Recognises(const DecodedFile& file) {
  return file.bytes.size() >= kSignatureLength &&
         std::memcmp(file.bytes.data(), entry::kInstanceIndexSignature, kSignatureLength) == 0;
}

int Print(Invocation& invocation, const DecodedFile& file) {
  const FileBytes bytes(file.bytes);
  Problems problems;
  ShowRecord body;
  body.Text("signature", FieldText(bytes, 0, kSignatureLength));
  if (bytes.size() < kHeaderSize) {
    problems.push_back("truncated: " + std::to_string(bytes.size()) + " bytes, the header takes " +
                       std::to_string(kHeaderSize));
    body.Flag("usedByDiscovery", false);
  } else {
    const uint32_t count = base::LoadLE32(bytes.data() + kCountOffset);
    std::vector<std::string> names;
    for (size_t offset = kHeaderSize; names.size() < count && Holds(bytes, offset, kEntrySize);
         offset += kEntrySize) {
      names.push_back(FieldText(bytes, offset, kEntrySize));
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
