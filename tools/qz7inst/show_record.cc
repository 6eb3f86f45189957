#include "tools/qz7inst/show_record.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/windows_path.h"

namespace qz7::cli {
namespace {

// File texts may hold any byte. Text output shows every byte outside printable ASCII as \xNN;
// JSON output carries the text itself, converted from the code page (json_value.h).
std::string QuoteFileText(const std::string& value) {
  std::string out = "\"";
  char buffer[8];
  for (unsigned char c : value) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      std::snprintf(buffer, sizeof buffer, "\\x%02X", c);
      out += buffer;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string Spaces(size_t count) { return std::string(count, ' '); }

}  // namespace

ShowRecord& ShowRecord::Add(Field field) {
  fields_.push_back(std::move(field));
  return *this;
}

ShowRecord& ShowRecord::Number(const std::string& key, uint64_t value) {
  return Add({.key = key, .kind = Kind::kNumber, .number = value});
}
ShowRecord& ShowRecord::Hex(const std::string& key, uint64_t value, int digits) {
  return Add({.key = key, .kind = Kind::kHex, .number = value, .digits = digits});
}
ShowRecord& ShowRecord::Signed(const std::string& key, int64_t value) {
  return Add({.key = key, .kind = Kind::kSigned, .signedNumber = value});
}
ShowRecord& ShowRecord::Text(const std::string& key, const std::string& value) {
  return Add({.key = key, .kind = Kind::kText, .text = value});
}
ShowRecord& ShowRecord::Word(const std::string& key, const std::string& value) {
  return Add({.key = key, .kind = Kind::kWord, .text = value});
}
ShowRecord& ShowRecord::Flag(const std::string& key, bool value) {
  return Add({.key = key, .kind = Kind::kFlag, .number = value ? 1u : 0u});
}
ShowRecord& ShowRecord::Numbers(const std::string& key, std::vector<uint64_t> values) {
  return Add({.key = key, .kind = Kind::kNumbers, .numbers = std::move(values)});
}
ShowRecord& ShowRecord::Texts(const std::string& key, std::vector<std::string> values) {
  return Add({.key = key, .kind = Kind::kTexts, .texts = std::move(values)});
}
ShowRecord& ShowRecord::Child(const std::string& key, ShowRecord record) {
  Field field{.key = key, .kind = Kind::kChild};
  field.records.push_back(std::move(record));
  return Add(std::move(field));
}
ShowRecord& ShowRecord::Children(const std::string& key, std::vector<ShowRecord> records) {
  return Add({.key = key, .kind = Kind::kChildren, .records = std::move(records)});
}
ShowRecord& ShowRecord::Append(const ShowRecord& other) {
  fields_.insert(fields_.end(), other.fields_.begin(), other.fields_.end());
  return *this;
}

std::string ShowRecord::ScalarText(const Field& field) const {
  char buffer[32];
  switch (field.kind) {
    case Kind::kNumber:
      return std::to_string(field.number);
    case Kind::kHex:
      std::snprintf(buffer, sizeof buffer, "0x%0*" PRIX64, field.digits, field.number);
      return buffer;
    case Kind::kSigned:
      return std::to_string(field.signedNumber);
    case Kind::kText:
      return QuoteFileText(field.text);
    case Kind::kWord:
      return field.text;
    case Kind::kFlag:
      return field.number != 0 ? "true" : "false";
    case Kind::kNumbers: {
      std::string joined;
      for (uint64_t value : field.numbers) {
        if (!joined.empty()) joined += " ";
        joined += std::to_string(value);
      }
      return joined.empty() ? "none" : joined;
    }
    case Kind::kTexts: {
      std::string joined;
      for (const std::string& value : field.texts) {
        if (!joined.empty()) joined += ", ";
        joined += QuoteFileText(value);
      }
      return joined.empty() ? "none" : joined;
    }
    case Kind::kChild:
    case Kind::kChildren:
      break;
  }
  return "";
}

JsonValue ShowRecord::ToJson() const {
  JsonValue object = JsonValue::Object();
  for (const Field& field : fields_) {
    JsonValue value;
    switch (field.kind) {
      case Kind::kNumber:
      case Kind::kHex:
        value = JsonValue::Unsigned(field.number);
        break;
      case Kind::kSigned:
        value = JsonValue::Signed(field.signedNumber);
        break;
      case Kind::kText:
      case Kind::kWord:
        value = JsonValue::Text(field.text);
        break;
      case Kind::kFlag:
        value = JsonValue::Bool(field.number != 0);
        break;
      case Kind::kNumbers:
        value = JsonValue::Array();
        for (uint64_t number : field.numbers) value.Push(JsonValue::Unsigned(number));
        break;
      case Kind::kTexts:
        value = JsonValue::Array();
        for (const std::string& text : field.texts) value.Push(JsonValue::Text(text));
        break;
      case Kind::kChild:
        value = field.records.front().ToJson();
        break;
      case Kind::kChildren:
        value = JsonValue::Array();
        for (const ShowRecord& record : field.records) value.Push(record.ToJson());
        break;
    }
    object.Set(field.key, std::move(value));
  }
  return object;
}

void ShowRecord::Render(bool json, int indent, std::string* out) const {
  const size_t pad = static_cast<size_t>(indent);
  if (json) {
    *out += ToJson().Render();
    return;
  }

  size_t keyWidth = 0;
  for (const Field& field : fields_) keyWidth = std::max(keyWidth, field.key.size());
  for (const Field& field : fields_) {
    if (field.kind == Kind::kChild) {
      *out += Spaces(pad) + field.key + ":\n";
      field.records.front().Render(false, indent + 2, out);
    } else if (field.kind == Kind::kChildren) {
      if (field.records.empty()) {
        *out += Spaces(pad) + field.key + ": none\n";
        continue;
      }
      *out += Spaces(pad) + field.key + " (" + std::to_string(field.records.size()) + "):\n";
      for (const ShowRecord& record : field.records) {
        // Each element as a "- " item: its first line carries the dash.
        std::string item;
        record.Render(false, indent + 4, &item);
        if (item.size() > pad + 2) item[pad + 2] = '-';
        *out += item;
      }
    } else {
      *out += Spaces(pad) + field.key + ":" + Spaces(keyWidth - field.key.size() + 1) +
              ScalarText(field) + "\n";
    }
  }
}

int FinishShow(Invocation& invocation, const DecodedFile& file, const char* kind,
               const char* description, const ShowRecord& body, const Problems& problems) {
  ShowRecord top;
  top.Word("file", file.path).Word("kind", kind).Word("description", description);
  top.Number("size", file.bytes.size()).Append(body);
  if (invocation.json) top.Texts("problems", problems);
  std::string text;
  top.Render(invocation.json, 0, &text);
  if (invocation.json) text += "\n";
  std::fputs(text.c_str(), invocation.out);
  for (const std::string& problem : problems) {
    std::fprintf(invocation.err, "qz7inst: %s: %s\n", file.path.c_str(), problem.c_str());
  }
  return problems.empty() ? 0 : 1;
}

std::string FieldText(FileBytes bytes, size_t offset, size_t width) {
  if (offset >= bytes.size()) return std::string();
  width = std::min(width, bytes.size() - offset);
  const char* field = reinterpret_cast<const char*>(bytes.data() + offset);
  return std::string(field, strnlen(field, width));
}

bool IsPlainTerminatedText(FileBytes bytes, size_t offset, size_t width) {
  if (!Holds(bytes, offset, width)) return false;
  for (size_t i = offset; i < offset + width; ++i) {
    if (bytes[i] == 0) return true;
    if (bytes[i] < 0x20) return false;
  }
  return false;
}

bool NameIs(const DecodedFile& file, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (platform::NamesEqualIgnoreCase(file.name, name)) return true;
  }
  return false;
}

}  // namespace qz7::cli
