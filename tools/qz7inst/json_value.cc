#include "tools/qz7inst/json_value.h"

#include <cmath>
#include <cstring>

#include "platform/codepage.h"
#include "tools/qz7inst/shift_jis.h"

namespace qz7::cli {
namespace {

constexpr unsigned kCodePageShiftJis = 932;
constexpr uint32_t kReplacementCharacter = 0xFFFD;

// Code page 1252 at 0x80 to 0x9F (0 where the code page has no character); the bytes from
// 0xA0 on are the characters of the same number.
constexpr uint16_t kWindows1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendUtf8(uint32_t code, std::string* out) {
  if (code < 0x80) {
    *out += static_cast<char>(code);
  } else if (code < 0x800) {
    *out += static_cast<char>(0xC0 | (code >> 6));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out += static_cast<char>(0xE0 | (code >> 12));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

std::string ShiftJisToUtf8(std::string_view text) {
  std::string out;
  for (size_t at = 0; at < text.size();) {
    const unsigned char byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x80) {
      out += static_cast<char>(byte);
      ++at;
      continue;
    }
    int length = platform::CharacterLength(text.data() + at, text.size() - at);
    if (length < 1) length = 1;
    if (!AppendShiftJisAsUtf8(text.data() + at, static_cast<size_t>(length), &out)) {
      AppendUtf8(kReplacementCharacter, &out);
    }
    at += static_cast<size_t>(length);
  }
  return out;
}

void AppendQuoted(const std::string& utf8, std::string* out) {
  *out += '"';
  for (unsigned char c : utf8) {
    switch (c) {
      case '"':
        *out += "\\\"";
        break;
      case '\\':
        *out += "\\\\";
        break;
      case '\n':
        *out += "\\n";
        break;
      case '\r':
        *out += "\\r";
        break;
      case '\t':
        *out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
          *out += buffer;
        } else {
          *out += static_cast<char>(c);
        }
    }
  }
  *out += '"';
}

}  // namespace

std::string CodePageToUtf8(std::string_view text) {
  if (platform::ActiveCodePage() == kCodePageShiftJis) return ShiftJisToUtf8(text);
  std::string out;
  for (unsigned char byte : text) {
    uint32_t code = byte;
    if (byte >= 0x80 && byte < 0xA0) {
      code = kWindows1252High[byte - 0x80];
      if (code == 0) code = kReplacementCharacter;
    }
    AppendUtf8(code, &out);
  }
  return out;
}

JsonValue JsonValue::Bool(bool value) {
  JsonValue json;
  json.kind_ = Kind::kBool;
  json.scalar_ = value ? "true" : "false";
  return json;
}

JsonValue JsonValue::Signed(int64_t value) {
  JsonValue json;
  json.kind_ = Kind::kNumber;
  json.scalar_ = std::to_string(value);
  return json;
}

JsonValue JsonValue::Unsigned(uint64_t value) {
  JsonValue json;
  json.kind_ = Kind::kNumber;
  json.scalar_ = std::to_string(value);
  return json;
}

JsonValue JsonValue::Real(double value) {
  if (!std::isfinite(value)) {
    JsonValue json;
    json.kind_ = Kind::kString;
    json.scalar_ = std::isnan(value) ? "nan" : value > 0 ? "inf" : "-inf";
    return json;
  }
  JsonValue json;
  json.kind_ = Kind::kNumber;
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.9g", value);
  json.scalar_ = buffer;
  return json;
}

JsonValue JsonValue::Text(std::string_view codePageText) {
  JsonValue json;
  json.kind_ = Kind::kString;
  json.scalar_ = CodePageToUtf8(codePageText);
  return json;
}

JsonValue JsonValue::Array() {
  JsonValue json;
  json.kind_ = Kind::kArray;
  return json;
}

JsonValue JsonValue::Object() {
  JsonValue json;
  json.kind_ = Kind::kObject;
  return json;
}

JsonValue& JsonValue::Push(JsonValue value) {
  members_.emplace_back(std::string(), std::move(value));
  return *this;
}

JsonValue& JsonValue::Set(std::string key, JsonValue value) {
  members_.emplace_back(std::move(key), std::move(value));
  return *this;
}

void JsonValue::RenderTo(int indent, std::string* out) const {
  switch (kind_) {
    case Kind::kNull:
      *out += "null";
      return;
    case Kind::kBool:
    case Kind::kNumber:
      *out += scalar_;
      return;
    case Kind::kString:
      AppendQuoted(scalar_, out);
      return;
    case Kind::kArray:
    case Kind::kObject:
      break;
  }
  const bool object = kind_ == Kind::kObject;
  if (members_.empty()) {
    *out += object ? "{}" : "[]";
    return;
  }
  *out += object ? "{" : "[";
  const std::string pad(static_cast<size_t>(indent + 2), ' ');
  for (size_t i = 0; i < members_.size(); ++i) {
    *out += i == 0 ? "\n" : ",\n";
    *out += pad;
    if (object) {
      AppendQuoted(CodePageToUtf8(members_[i].first), out);
      *out += ": ";
    }
    members_[i].second.RenderTo(indent + 2, out);
  }
  *out += "\n" + std::string(static_cast<size_t>(indent), ' ') + (object ? "}" : "]");
}

std::string JsonValue::Render() const {
  std::string out;
  RenderTo(0, &out);
  return out;
}

void PrintJson(FILE* out, const JsonValue& value) {
  const std::string text = value.Render();
  std::fprintf(out, "%s\n", text.c_str());
}

}  // namespace qz7::cli
