// The one JSON writer of qz7inst: every --json output is built as a JsonValue and rendered
// here, so that each is valid JSON. Texts of the machine are in its code page (1252 or 932);
// they are converted to UTF-8 on the way out, and a byte that is no character of the code
// page becomes U+FFFD, so that the document stays valid whatever a name or file holds.
#ifndef QZ7_TOOLS_QZ7INST_JSON_VALUE_H_
#define QZ7_TOOLS_QZ7INST_JSON_VALUE_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qz7::cli {

class JsonValue {
 public:
  JsonValue() = default;  // null
  static JsonValue Null() { return JsonValue(); }
  static JsonValue Bool(bool value);
  static JsonValue Signed(int64_t value);
  static JsonValue Unsigned(uint64_t value);
  // A number that is not finite is written as a string ("nan", "inf", "-inf").
  static JsonValue Real(double value);
  // A text in the machine's code page.
  static JsonValue Text(std::string_view codePageText);
  static JsonValue Array();
  static JsonValue Object();

  // Appends to an array / adds a member to an object (in order; keys are ASCII words).
  JsonValue& Push(JsonValue value);
  JsonValue& Set(std::string key, JsonValue value);

  // The document, indented by two spaces per level, without a trailing newline.
  std::string Render() const;

 private:
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  void RenderTo(int indent, std::string* out) const;

  Kind kind_ = Kind::kNull;
  std::string scalar_;  // the rendered number or bool, or the UTF-8 string
  std::vector<std::pair<std::string, JsonValue>> members_;  // array items have empty keys
};

// The text converted from the machine's active code page to UTF-8 (bytes that are no
// character of it become U+FFFD).
std::string CodePageToUtf8(std::string_view text);

// Prints the document and a newline.
void PrintJson(FILE* out, const JsonValue& value);

}  // namespace qz7::cli

#endif  // QZ7_TOOLS_QZ7INST_JSON_VALUE_H_
