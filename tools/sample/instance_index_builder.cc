#include "tools/sample/instance_index_builder.h"

#include <algorithm>
#include <cstring>

#include "base/coding.h"

namespace qz7::sample {

std::vector<unsigned char> BuildInstanceIndex(const InstanceIndex& index) {
  std::vector<unsigned char> bytes(31 + 9 * index.names.size(), 0);
  std::memcpy(bytes.data(), index.signature.data(), std::min<size_t>(index.signature.size(), 22));
  base::StoreLE32(bytes.data() + 27,
                  index.entryCount.value_or(static_cast<uint32_t>(index.names.size())));
  for (size_t i = 0; i < index.names.size(); ++i) {
    std::memcpy(bytes.data() + 31 + 9 * i, index.names[i].data(),
                std::min<size_t>(index.names[i].size(), 9));
  }
  if (index.truncateTo < bytes.size()) bytes.resize(index.truncateTo);
  return bytes;
}

}  // namespace qz7::sample
