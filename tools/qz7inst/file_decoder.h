// The decoders of `qz7inst show`: each binary file kind the library reads registers one, with
// a test of what the file looks like and a printer for text and for JSON. show tries them in
// order of priority (lower first) and uses the first that recognises the file, so decoders
// that check a signature should take a lower priority than those that only check a size.
//
//   QZ7_FILE_DECODER({"qz7systm", "database manager configuration", 100, Recognise, Print});
#ifndef QZ7_TOOLS_QZ7INST_FILE_DECODER_H_
#define QZ7_TOOLS_QZ7INST_FILE_DECODER_H_

#include <string>
#include <vector>

#include "tools/qz7inst/command.h"

namespace qz7::cli {

struct DecodedFile {
  std::string path;                  // the Windows path given
  std::string name;                  // its last component
  std::vector<unsigned char> bytes;  // the whole file
};

struct FileDecoder {
  const char* kind;         // short name, e.g. "qz7systm"
  const char* description;  // for messages and --help
  int priority;
  bool (*recognises)(const DecodedFile& file);
  // Prints the decoded file to invocation.out (as JSON when invocation.json); returns the
  // exit status.
  int (*print)(Invocation& invocation, const DecodedFile& file);
};

struct FileDecoderRegistration {
  explicit FileDecoderRegistration(const FileDecoder& decoder);
};

// The decoders in order of priority.
std::vector<FileDecoder> FileDecoders();

}  // namespace qz7::cli

#define QZ7_FILE_DECODER(...)                                          \
  static const ::qz7::cli::FileDecoderRegistration QZ7_COMMAND_CONCAT( \
      qz7DecoderRegistration, __LINE__)(::qz7::cli::FileDecoder{__VA_ARGS__})

#endif  // QZ7_TOOLS_QZ7INST_FILE_DECODER_H_
