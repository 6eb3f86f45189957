// The qz7systm decoder of `qz7inst show`: checksum verdict, layout version, level, node type
// and every parameter of the field map that the conversion and sqlfvald share, in offset
// order (the conversion holds itself to that map when it is compiled: every parameter there
// is one it carries).
#include <cmath>
#include <cstdio>
#include <string>

#include "base/coding.h"
#include "base/dbm_block.h"
#include "base/dbm_fields.h"
#include "tools/qz7inst/file_decoder.h"
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

std::string ValueText(const unsigned char* block, const DbmField& field, bool json) {
  const unsigned char* at = block + field.offset;
  char buffer[64];
  switch (field.kind) {
    case DbmKind::kU16:
      return std::to_string(util::LoadLE16(at));
    case DbmKind::kS16:
      return std::to_string(static_cast<int16_t>(util::LoadLE16(at)));
    case DbmKind::kU32:
      return std::to_string(util::LoadLE32(at));
    case DbmKind::kS32:
      return std::to_string(static_cast<int32_t>(util::LoadLE32(at)));
    case DbmKind::kF32: {
      const float value = util::LoadLEFloat(at);
      if (!std::isfinite(value)) return json ? JsonString(std::to_string(value)) : "nan/inf";
      std::snprintf(buffer, sizeof buffer, "%.9g", value);
      return buffer;
    }
    case DbmKind::kText: {
      const char* text = reinterpret_cast<const char*>(at);
      return JsonString(std::string(text, strnlen(text, field.width)));
    }
  }
  return "";
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
  if (file.bytes.size() != util::kDbmBlockSize) return false;
  std::string lower = file.name;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const unsigned char* block = file.bytes.data();
  return lower == "qz7systm" || upgrade::IsKnownDbmVersion(upgrade::DbmLayoutVersion(block)) ||
         util::LoadLE32(block) == util::DbmBlockChecksum(block);
}

int Print(Invocation& invocation, const DecodedFile& file) {
  const unsigned char* block = file.bytes.data();
  const uint32_t stored = util::LoadLE32(block);
  const uint32_t computed = util::DbmBlockChecksum(block);
  const uint16_t versionWord = util::LoadLE16(block + base::dbm::kVersionWord.offset);
  const uint16_t version = upgrade::DbmLayoutVersion(block);
  const bool knownVersion = upgrade::IsKnownDbmVersion(version);
  const uint16_t level = util::LoadLE16(block + base::dbm::kLevel.offset);
  const uint16_t nodeType = util::LoadLE16(block + base::dbm::kNodeType.offset);
  FILE* out = invocation.out;

  if (invocation.json) {
    std::fprintf(out,
                 "{\"file\": %s, \"kind\": \"qz7systm\", \"size\": %zu,\n"
                 " \"checksum\": {\"stored\": %u, \"computed\": %u, \"matches\": %s},\n"
                 " \"version\": \"0x%X\", \"versionWord\": %u, \"knownVersion\": %s,\n"
                 " \"level\": %u, \"nodeType\": %u,\n \"fields\": [",
                 JsonString(file.path).c_str(), file.bytes.size(), stored, computed,
                 stored == computed ? "true" : "false", version, versionWord,
                 knownVersion ? "true" : "false", level, nodeType);
    bool first = true;
    for (const DbmField& field : base::dbm::kParameters) {
      std::fprintf(out, "%s\n  {\"offset\": %u, \"width\": %u, \"type\": \"%s\", \"value\": %s}",
                   first ? "" : ",", unsigned{field.offset}, unsigned{field.width},
                   TypeName(field.kind), ValueText(block, field, true).c_str());
      first = false;
    }
    std::fprintf(out, "\n ]}\n");
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
                 TypeName(field.kind), ValueText(block, field, false).c_str());
  }
  return 0;
}

QZ7_FILE_DECODER("qz7systm", "database manager configuration, 4096 bytes", 100, Recognises, Print);

}  // namespace
}  // namespace qz7::cli
