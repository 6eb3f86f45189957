// Builds the old instance index file "QZ7IDIR" that an earlier release left in the
// instance-profile directory.
#ifndef QZ7_TOOLS_SAMPLE_INSTANCE_INDEX_BUILDER_H_
#define QZ7_TOOLS_SAMPLE_INSTANCE_INDEX_BUILDER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qz7::sample {

struct InstanceIndex {
  std::string signature = "QZ7 INSTANCE DIRECTORY";  // 23 bytes with its NUL
  std::optional<uint32_t> entryCount;                // default: names.size()
  std::vector<std::string> names;                    // each written in 9 bytes, NUL-padded
  size_t truncateTo = SIZE_MAX;                      // cut the file to this many bytes
};

// The file's bytes: 23-byte signature, 4 unread bytes, the count at offset 27, 9-byte entries.
std::vector<unsigned char> BuildInstanceIndex(const InstanceIndex& index);

}  // namespace qz7::sample

#endif  // QZ7_TOOLS_SAMPLE_INSTANCE_INDEX_BUILDER_H_
