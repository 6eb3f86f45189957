// qz7inst show FILE: decodes one of the binary files of an instance as readable text (or JSON
// with --json), with the decoder that recognises it (file_decoder.h).
#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/file_system.h"
#include "platform/win_error.h"
#include "tools/qz7inst/command.h"
#include "tools/qz7inst/file_decoder.h"

namespace qz7::cli {
namespace {

std::vector<FileDecoder>& DecoderTable() {
  static std::vector<FileDecoder> table;
  return table;
}

int RunShow(Invocation& invocation);

const Command kShow = {"show", "show FILE",
                       "decode a binary file of an instance (qz7systm, ...) as text; --json",
                       RunShow};

// Reads the whole file; false (with the Windows error) when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::vector<unsigned char>* bytes, uint32_t* error) {
  platform::FileHandle file = platform::OpenFile(path.c_str(), "rb");
  if (!file) {
    *error = platform::GetLastError();
    return false;
  }
  unsigned char chunk[8192];
  for (;;) {
    const size_t got = file->Read(chunk, sizeof chunk);
    bytes->insert(bytes->end(), chunk, chunk + got);
    if (got < sizeof chunk) break;
  }
  const bool failed = file->HasError();
  *error = failed ? platform::GetLastError() : 0;
  file->Close();
  return !failed;
}

int RunShow(Invocation& invocation) {
  if (invocation.args.size() != 1) return UsageError(invocation, kShow, "show needs one FILE");
  DecodedFile file;
  file.path = invocation.args[0];
  const size_t slash = file.path.find_last_of("\\/:");
  file.name = slash == std::string::npos ? file.path : file.path.substr(slash + 1);
  uint32_t error = 0;
  if (!ReadWholeFile(file.path, &file.bytes, &error)) {
    std::fprintf(invocation.err, "qz7inst: cannot read %s (Windows error %u)\n", file.path.c_str(),
                 error);
    return 1;
  }
  for (const FileDecoder& decoder : FileDecoders()) {
    if (decoder.recognises(file)) return decoder.print(invocation, file);
  }
  std::string kinds;
  for (const FileDecoder& decoder : FileDecoders()) {
    kinds +=
        std::string(kinds.empty() ? "" : ", ") + decoder.kind + " (" + decoder.description + ")";
  }
  std::fprintf(invocation.err,
               "qz7inst: %s (%zu bytes) is not a file that show recognises; it decodes: %s\n",
               file.path.c_str(), file.bytes.size(), kinds.c_str());
  return 1;
}

QZ7_COMMAND(kShow);

}  // namespace

FileDecoderRegistration::FileDecoderRegistration(const FileDecoder& decoder) {
  DecoderTable().push_back(decoder);
}

std::vector<FileDecoder> FileDecoders() {
  std::vector<FileDecoder> decoders = DecoderTable();
  std::stable_sort(
      decoders.begin(), decoders.end(),
      [](const FileDecoder& a, const FileDecoder& b) { return a.priority < b.priority; });
  return decoders;
}

}  // namespace qz7::cli
