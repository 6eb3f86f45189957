// The qz7systm decoder of `qz7inst show`: checksum verdict, layout version, level, node type
// and every parameter of the field map that the conversion and sqlfvald share, in offset
// order (the conversion holds itself to that map when it is compiled: every parameter there
// is one it carries).
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/coding.h"
#include "base/dbm_block.h"
#include "base/dbm_fields.h"
#include "tools/qz7inst/file_decoder.h"
#include "tools/qz7inst/json_value.h"
#include "upgrade/dbm_configuration_conversion.h"

namespace qz7::cli {
namespace {

using base::DbmField;
using base::DbmKind;

const char* TypeName(DbmKind kind) {
  switch (kind) {
    case DbmKind::kU16:
      return "u16";
    case DbmKind::kS16:
      return "s16";
    case DbmKind::kU32:
      return "u32";
    case DbmKind::kS32:
      return "s32";
    case DbmKind::kF32:
      return "f32";
    case DbmKind::kText:
      return "text";
  }
  return "?";
}

// The field's value as text output shows it (a text field quoted, other bytes as \xNN).
std::string ValueText(const unsigned char* block, const DbmField& field) {
  const unsigned char* at = block + field.offset;
  char buffer[64];
  switch (field.kind) {
    case DbmKind::kU16:
      return std::to_string(base::LoadLE16(at));
    case DbmKind::kS16:
      return std::to_string(static_cast<int16_t>(base::LoadLE16(at)));
    case DbmKind::kU32:
      return std::to_string(base::LoadLE32(at));
    case DbmKind::kS32:
      return std::to_string(static_cast<int32_t>(base::LoadLE32(at)));
    case DbmKind::kF32: {
      const float value = base::LoadLEFloat(at);
      if (!std::isfinite(value)) return "nan/inf";
      std::snprintf(buffer, sizeof buffer, "%.9g", value);
      return buffer;
    }
    case DbmKind::kText: {
      std::string quoted = "\"";
      for (size_t i = 0; i < field.width && at[i] != 0; ++i) {
        if (at[i] < 0x20 || at[i] >= 0x7F || at[i] == '"' || at[i] == '\\') {
          std::snprintf(buffer, sizeof buffer, "\\x%02X", at[i]);
          quoted += buffer;
        } else {
          quoted += static_cast<char>(at[i]);
        }
      }
      return quoted + "\"";
    }
  }
  return "";
}

JsonValue ValueJson(const unsigned char* block, const DbmField& field) {
  const unsigned char* at = block + field.offset;
  switch (field.kind) {
    case DbmKind::kU16:
      return JsonValue::Unsigned(base::LoadLE16(at));
    case DbmKind::kS16:
      return JsonValue::Signed(static_cast<int16_t>(base::LoadLE16(at)));
    case DbmKind::kU32:
      return JsonValue::Unsigned(base::LoadLE32(at));
    case DbmKind::kS32:
      return JsonValue::Signed(static_cast<int32_t>(base::LoadLE32(at)));
    case DbmKind::kF32:
      return JsonValue::Real(base::LoadLEFloat(at));
    case DbmKind::kText: {
      const char* text = reinterpret_cast<const char*>(at);
      return JsonValue::Text(std::string(text, strnlen(text, field.width)));
    }
  }
  return JsonValue::Null();
}

const char* NodeTypeName(uint16_t type) {
  switch (type) {
    case 2:
      return " (client)";
    case 4:
      return " (partitioned)";
    default:
      return type <= 5 ? "" : " (unknown: 0 to 5 expected)";
  }
}

bool Recognises(const DecodedFile& file) {
  if (file.bytes.size() != base::kDbmBlockSize) return false;
  std::string lower = file.name;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const unsigned char* block = file.bytes.data();
  return lower == "qz7systm" || upgrade::IsKnownDbmVersion(upgrade::DbmLayoutVersion(block)) ||
         base::LoadLE32(block) == base::DbmBlockChecksum(block);
}

int Print(Invocation& invocation, const DecodedFile& file) {
  const unsigned char* block = file.bytes.data();
  const uint32_t stored = base::LoadLE32(block);
  const uint32_t computed = base::DbmBlockChecksum(block);
  const uint16_t versionWord = base::LoadLE16(block + base::dbm::kVersionWord.offset);
  const uint16_t version = upgrade::DbmLayoutVersion(block);
  const bool knownVersion = upgrade::IsKnownDbmVersion(version);
  const uint16_t level = base::LoadLE16(block + base::dbm::kLevel.offset);
  const uint16_t nodeType = base::LoadLE16(block + base::dbm::kNodeType.offset);
  FILE* out = invocation.out;

  if (invocation.json) {
    char versionText[16];
    std::snprintf(versionText, sizeof versionText, "0x%X", version);
    JsonValue checksum = JsonValue::Object();
    checksum.Set("stored", JsonValue::Unsigned(stored))
        .Set("computed", JsonValue::Unsigned(computed))
        .Set("matches", JsonValue::Bool(stored == computed));
    JsonValue shown = JsonValue::Array();
    for (const DbmField& field : base::dbm::kParameters) {
      JsonValue row = JsonValue::Object();
      row.Set("offset", JsonValue::Unsigned(field.offset))
          .Set("width", JsonValue::Unsigned(field.width))
          .Set("type", JsonValue::Text(TypeName(field.kind)))
          .Set("value", ValueJson(block, field));
      shown.Push(std::move(row));
    }
    JsonValue document = JsonValue::Object();
    document.Set("file", JsonValue::Text(file.path))
        .Set("kind", JsonValue::Text("qz7systm"))
        .Set("size", JsonValue::Unsigned(file.bytes.size()))
        .Set("checksum", std::move(checksum))
        .Set("version", JsonValue::Text(versionText))
        .Set("versionWord", JsonValue::Unsigned(versionWord))
        .Set("knownVersion", JsonValue::Bool(knownVersion))
        .Set("level", JsonValue::Unsigned(level))
        .Set("nodeType", JsonValue::Unsigned(nodeType))
        .Set("fields", std::move(shown));
    PrintJson(out, document);
    return 0;
  }

  std::fprintf(out, "file:      %s\n", file.path.c_str());
  std::fprintf(out, "kind:      qz7systm (database manager configuration, %zu bytes)\n",
               file.bytes.size());
  std::fprintf(out, "checksum:  stored 0x%08X, computed 0x%08X: %s\n", stored, computed,
               stored == computed ? "matches" : "MISMATCH");
  std::fprintf(out, "version:   0x%X (word 0x%04X)%s\n", version, versionWord,
               knownVersion ? "" : ": UNKNOWN (0x600, 0x800 or 0x900 expected)");
  std::fprintf(out, "level:     %u\n", level);
  std::fprintf(out, "node type: %u%s\n", nodeType, NodeTypeName(nodeType));
  std::fprintf(out, "fields the conversion touches:\n  offset  width  type  value\n");
  for (const DbmField& field : base::dbm::kParameters) {
    std::fprintf(out, "  %6u  %5u  %-4s  %s\n", unsigned{field.offset}, unsigned{field.width},
                 TypeName(field.kind), ValueText(block, field).c_str());
  }
  return 0;
}

QZ7_FILE_DECODER("qz7systm", "database manager configuration, 4096 bytes", 100, Recognises, Print);

}  // namespace
}  // namespace qz7::cli
