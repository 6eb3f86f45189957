// What the file decoders of `qz7inst show` build: one ordered record of named values, nested
// records and lists of records, rendered either as aligned "key: value" text or as JSON, so
// that the two outputs always hold the same values. Also the small readers the decoders share
// to take fields out of file bytes without reading past their end.
#ifndef QZ7_TOOLS_QZ7INST_SHOW_RECORD_H_
#define QZ7_TOOLS_QZ7INST_SHOW_RECORD_H_

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

#include "tools/qz7inst/file_decoder.h"
#include "tools/qz7inst/json_value.h"

namespace qz7::cli {

using FileBytes = std::span<const unsigned char>;

class ShowRecord {
 public:
  ShowRecord& Number(const std::string& key, uint64_t value);
  // Shown as 0x%0*X in text; a plain number in JSON.
  ShowRecord& Hex(const std::string& key, uint64_t value, int digits);
  ShowRecord& Signed(const std::string& key, int64_t value);
  // A text taken from the file: quoted (with escapes) in both outputs.
  ShowRecord& Text(const std::string& key, const std::string& value);
  // A word of our own (a kind, a layout name): bare in text, a string in JSON.
  ShowRecord& Word(const std::string& key, const std::string& value);
  ShowRecord& Flag(const std::string& key, bool value);
  ShowRecord& Numbers(const std::string& key, std::vector<uint64_t> values);
  ShowRecord& Texts(const std::string& key, std::vector<std::string> values);
  ShowRecord& Child(const std::string& key, ShowRecord record);
  ShowRecord& Children(const std::string& key, std::vector<ShowRecord> records);

  // Appends the fields of other after these.
  ShowRecord& Append(const ShowRecord& other);

  bool empty() const { return fields_.empty(); }
  // Appends the record: as JSON (an object; indent is not used) or as text lines indented by
  // indent spaces.
  void Render(bool json, int indent, std::string* out) const;
  // The record as a JSON object, texts converted from the code page.
  JsonValue ToJson() const;

 private:
  enum class Kind {
    kNumber,
    kHex,
    kSigned,
    kText,
    kWord,
    kFlag,
    kNumbers,
    kTexts,
    kChild,
    kChildren
  };
  struct Field {
    std::string key;
    Kind kind;
    uint64_t number = 0;
    int64_t signedNumber = 0;
    int digits = 0;
    std::string text;
    std::vector<uint64_t> numbers;
    std::vector<std::string> texts;
    std::vector<ShowRecord> records;  // one for kChild
  };
  ShowRecord& Add(Field field);
  std::string ScalarText(const Field& field) const;

  std::vector<Field> fields_;
};

// What a decoder found wrong with a file; any entry makes show exit 1.
using Problems = std::vector<std::string>;

// Prints the file's path, kind, description and size followed by body (text or JSON), then
// each problem on standard error as "qz7inst: PATH: PROBLEM" (JSON output also lists them).
// Returns the exit status: 0 without problems, else 1.
int FinishShow(Invocation& invocation, const DecodedFile& file, const char* kind,
               const char* description, const ShowRecord& body, const Problems& problems);

// ---- Reading fields from file bytes ----

// True when width bytes at offset lie inside bytes.
inline bool Holds(FileBytes bytes, size_t offset, size_t width) {
  return offset <= bytes.size() && width <= bytes.size() - offset;
}
// The text of a zero-padded field: up to its first zero, at most width bytes, cut at the end
// of bytes.
std::string FieldText(FileBytes bytes, size_t offset, size_t width);
// True when the field holds a terminating zero and nothing below a blank before it.
bool IsPlainTerminatedText(FileBytes bytes, size_t offset, size_t width);

// The file's last path component equals one of names, without regard to case.
bool NameIs(const DecodedFile& file, std::initializer_list<const char*> names);

}  // namespace qz7::cli

#endif  // QZ7_TOOLS_QZ7INST_SHOW_RECORD_H_
