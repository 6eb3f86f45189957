#include "base/layout_recognition.h"

#include "base/coding.h"

namespace qz7::base {
namespace {

// The earlier layout whose entries have this size under one header form.
DirectoryLayoutType TypeOfEntrySize(int64_t entrySize, bool shortHeader) {
  for (const DirectoryEntrySizes& sizes : kDirectoryEntrySizes) {
    const size_t size = shortHeader ? sizes.shortHeader : sizes.longHeader;
    if (size != 0 && static_cast<int64_t>(size) == entrySize) return sizes.type;
  }
  return DirectoryLayoutType::kUnrecognised;
}

int64_t SlotAreaSize(uint16_t slotCount) { return static_cast<int64_t>(kSlotSize) * slotCount; }

}  // namespace

DirectoryLayoutRecognition RecogniseByLongHeader(const unsigned char* header, int64_t fileSize) {
  DirectoryLayoutRecognition recognition;
  const DirectoryHeader fields = DecodeDirectoryHeader(header, false);
  if (fields.releaseMarker == kCurrentReleaseMarker) {
    recognition.type = DirectoryLayoutType::kCurrent;
    return recognition;
  }
  const int64_t rest =
      fileSize - (SlotAreaSize(fields.slotCount) + static_cast<int64_t>(kLongFixedSize));
  if (rest == 0) {
    recognition.type = DirectoryLayoutType::kEmpty;
  } else if (rest > 0) {
    // No entries while bytes follow the fixed part matches no long-header layout.
    if (fields.entryCount != 0) recognition.type = TypeOfEntrySize(rest / fields.entryCount, false);
    recognition.needsShortHeaderTest = recognition.type == DirectoryLayoutType::kUnrecognised;
  }
  return recognition;
}

DirectoryLayoutRecognition RecogniseByShortHeader(const unsigned char* header, int64_t fileSize) {
  DirectoryLayoutRecognition recognition;
  const DirectoryHeader fields = DecodeDirectoryHeader(header, true);
  const int64_t rest =
      fileSize - (SlotAreaSize(fields.slotCount) + static_cast<int64_t>(kShortFixedSize));
  if (rest <= 0) {
    recognition.type = DirectoryLayoutType::kEmpty;
  } else if (fields.entryCount != 0) {
    recognition.type = TypeOfEntrySize(rest / fields.entryCount, true);
    recognition.shortHeader = recognition.type == DirectoryLayoutType::kLayout1 ||
                              recognition.type == DirectoryLayoutType::kLayout2 ||
                              recognition.type == DirectoryLayoutType::kLayout3;
  }
  return recognition;
}

DirectoryLayoutRecognition RecogniseDirectoryLayout(const unsigned char* header, int64_t fileSize) {
  const DirectoryLayoutRecognition recognition = RecogniseByLongHeader(header, fileSize);
  return recognition.needsShortHeaderTest ? RecogniseByShortHeader(header, fileSize) : recognition;
}

NodeDirectoryLayoutType RecogniseNodeDirectoryLayout(const unsigned char* header,
                                                     int64_t fileSize) {
  const int64_t rest = fileSize - static_cast<int64_t>(kNodeFrameSize);
  const uint16_t entryCount = LoadLE16(header + kNodeEntryCountOffset);
  constexpr int64_t kCurrentSize = static_cast<int64_t>(kNodeEntrySize);
  if (rest < 0) return NodeDirectoryLayoutType::kUnrecognised;
  if (rest == 0 || entryCount == 0) return NodeDirectoryLayoutType::kEmpty;
  if (rest / entryCount == kCurrentSize || rest % kCurrentSize == 0) {
    return NodeDirectoryLayoutType::kCurrent;
  }
  return NodeLayoutOfEntrySize(static_cast<uint64_t>(rest / entryCount));
}

}  // namespace qz7::base
