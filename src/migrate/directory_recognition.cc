#include "migrate/directory_recognition.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "base/layout_recognition.h"
#include "migrate/converted_entry.h"
#include "migrate/migration_steps.h"
#include "migrate/work_buffer.h"
#include "platform/file_system.h"

namespace qz7::migrate {
namespace {

using platform::FileHandle;
using platform::OpenFile;

// Every step of finding a directory file's size fails with -121.
constexpr FileSizeSteps kDirectorySizeSteps = {
    .seekEnd = {nullptr, kMigrationFileAccessError},
    .tell = {nullptr, kMigrationFileAccessError},
    .rewind = {nullptr, kMigrationFileAccessError},
};

// One directory file read whole.
struct WholeFile {
  bool exists = false;
  int64_t size = 0;
  std::unique_ptr<unsigned char[]> bytes;
};

// Opens path "rb+" and reads it whole. A file that does not open simply does not exist (0).
[[nodiscard]] MigrationResult ReadWholeFile(const char* path, WholeFile* file) {
  FileHandle stream = OpenFile(path, "rb+");
  if (!stream) return kMigrationOk;
  file->exists = true;
  const MigrationStep* failed = MeasureFile(*stream, kDirectorySizeSteps, &file->size);
  if (file->size < 0) file->size = 0;
  if (failed != nullptr) return failed->code;
  file->bytes = AllocateReadBuffer(static_cast<size_t>(file->size));
  if (!file->bytes) return kMigrationNoMemory;
  const size_t size = static_cast<size_t>(file->size);
  if (stream->Read(file->bytes.get(), size) != size) return kMigrationReadError;
  if (stream->Close() != 0) return kMigrationCannotClose;
  return kMigrationOk;
}

// Opens path "rb+" and compares it, piece by piece, with the bytes of reference: *exists
// tells whether it opened, *same whether it holds exactly those bytes. The whole file is read
// even when it differs, so that a file that cannot be read reports that failure as before.
[[nodiscard]] MigrationResult CompareWithFile(const char* path, const WholeFile& reference,
                                              bool* exists, bool* same) {
  FileHandle stream = OpenFile(path, "rb+");
  *exists = static_cast<bool>(stream);
  if (!stream) return kMigrationOk;
  int64_t size = 0;
  if (const MigrationStep* failed = MeasureFile(*stream, kDirectorySizeSteps, &size)) {
    return failed->code;
  }
  *same = size == reference.size;
  constexpr size_t kPieceSize = 64 * 1024;
  std::unique_ptr<unsigned char[]> piece = AllocateReadBuffer(kPieceSize);
  if (!piece) return kMigrationNoMemory;
  for (int64_t offset = 0; offset < size;) {
    const size_t length = static_cast<size_t>(std::min<int64_t>(size - offset, kPieceSize));
    if (stream->Read(piece.get(), length) != length) return kMigrationReadError;
    *same = *same && std::memcmp(piece.get(), reference.bytes.get() + offset, length) == 0;
    offset += static_cast<int64_t>(length);
  }
  if (stream->Close() != 0) return kMigrationCannotClose;
  return kMigrationOk;
}

std::string JoinedPaths(const char* first, const char* joint, const char* second) {
  return std::string(first) + joint + second;
}

bool IsEarlierLayout(base::DirectoryLayoutType type) {
  return type == base::DirectoryLayoutType::kLayout1 ||
         type == base::DirectoryLayoutType::kLayout2 ||
         type == base::DirectoryLayoutType::kLayout3 || type == base::DirectoryLayoutType::kLayout4;
}

// Reads headerSize bytes of the header from the current position (the start of the file).
[[nodiscard]] MigrationResult ReadHeader(platform::FileStream& stream, unsigned char* bytes,
                                         size_t headerSize) {
  if (stream.Read(bytes, headerSize) != headerSize) return kMigrationReadError;
  return kMigrationOk;
}

// Everything of the recognition after the file is open; the caller closes it.
[[nodiscard]] MigrationResult Recognise(platform::FileStream& stream,
                                        DirectoryRecognition* recognition) {
  const int64_t size = FileSize(stream);
  if (size < 0) return kMigrationFileAccessError;
  std::unique_ptr<unsigned char[]> header =
      AllocateWorkBuffer<unsigned char>(base::kLongHeaderSize);
  if (!header) return kMigrationNoMemory;
  if (MigrationResult code = ReadHeader(stream, header.get(), base::kLongHeaderSize); code != 0) {
    return code;
  }
  base::DirectoryLayoutRecognition layout = base::RecogniseByLongHeader(header.get(), size);
  if (layout.needsShortHeaderTest) {
    // The short header is read again from the start of the file.
    if (stream.Seek(0, platform::kSeekSet) != 0) return kMigrationFileAccessError;
    if (MigrationResult code = ReadHeader(stream, header.get(), base::kShortHeaderSize);
        code != 0) {
      return code;
    }
    layout = base::RecogniseByShortHeader(header.get(), size);
  }
  const base::DirectoryLayoutType type = layout.type;
  const bool shortHeader = layout.shortHeader;
  recognition->type = type;
  recognition->shortHeader = shortHeader;
  if (!IsEarlierLayout(type)) return kMigrationOk;

  // The first entry follows the block; its type tells whether the intention file is needed.
  const size_t entryOffset = shortHeader ? base::kShortHeaderSize + base::kShortBlockSize
                                         : base::kLongHeaderSize + base::kLongBlockSize;
  if (stream.Seek(static_cast<int64_t>(entryOffset), platform::kSeekSet) != 0) {
    return kMigrationFileAccessError;
  }
  const size_t entrySize = OldEntrySize(type, shortHeader);
  std::unique_ptr<unsigned char[]> entry = AllocateWorkBuffer<unsigned char>(entrySize);
  if (!entry) return kMigrationNoMemory;
  if (stream.Read(entry.get(), entrySize) != entrySize) return kMigrationReadError;
  recognition->intentionOptional = entry[base::kEntryTypeOffset] != base::kEntryTypeOwnDirectory;
  return kMigrationOk;
}

}  // namespace

[[nodiscard]] MigrationResult CompareDirectoryCopies(
    const char* directoryPath, const char* copyPath, DirectoryCopiesComparison* comparison,
    std::unique_ptr<unsigned char[]>* sourceBytes) {
  *comparison = DirectoryCopiesComparison();
  WholeFile directory;
  MigrationResult code = ReadWholeFile(directoryPath, &directory);
  comparison->directoryExists = directory.exists;
  if (code != kMigrationOk) {
    comparison->object = directoryPath;
    comparison->sizeToConvert = directory.size;
    return code;
  }
  bool same = true;
  WholeFile copy;
  if (directory.exists) {
    // Only compared: the copy streams past the directory file's bytes.
    code = CompareWithFile(copyPath, directory, &copy.exists, &same);
  } else {
    code = ReadWholeFile(copyPath, &copy);
  }
  comparison->copyExists = copy.exists;
  if (code != kMigrationOk) {
    comparison->object = copyPath;
  } else if (!directory.exists && !copy.exists) {
    comparison->object = JoinedPaths(directoryPath, " and ", copyPath).c_str();
    code = kMigrationCannotOpen;
  } else if (directory.exists && copy.exists && !same) {
    comparison->object = JoinedPaths(directoryPath, " and ", copyPath).c_str();
    code = kMigrationCopiesDiffer;
  }
  comparison->sizeToConvert = directory.exists ? directory.size : copy.size;
  if (sourceBytes != nullptr && code == kMigrationOk) {
    *sourceBytes = std::move(directory.exists ? directory.bytes : copy.bytes);
  }
  return directory.exists ? code : kMigrationOk;
}

[[nodiscard]] MigrationResult RecogniseDirectoryFile(const char* path,
                                                     DirectoryRecognition* recognition) {
  *recognition = DirectoryRecognition();
  FileHandle stream = OpenFile(path, "rb+");
  if (!stream) return kMigrationCannotOpen;
  const MigrationResult code = Recognise(*stream, recognition);
  // Only read, so a close that fails after an earlier failure changes nothing on disk.
  if (stream->Close() != 0 && code == kMigrationOk) return kMigrationCannotClose;
  return code;
}

}  // namespace qz7::migrate
