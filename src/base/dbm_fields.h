// The named fields of the database manager configuration file qz7systm: one 4096-byte
// little-endian block per instance. Every part of the library that reads or writes a field of
// the block (sqlfvald's apply and check tables, the conversion's copy and range tables, the
// stamping at instance creation, the tool's decoder) names it here, so each offset, width and
// kind is written once.
//
// The layout versions 0x600, 0x800 and 0x900 share one map: a field has the same offset and
// width in every layout that holds it. A layout holds a field from the version given in
// `since` on; the one value an older layout kept elsewhere has a field of its own
// (kParam502Layout600).
//
// Parameters are named after what they do where this library knows it (the stamping, the
// protocol lists, the first-connect name), and otherwise after the sqlfvald token that sets
// them (kParam12 is the field token 12 writes).
#ifndef QZ7_BASE_DBM_FIELDS_H_
#define QZ7_BASE_DBM_FIELDS_H_

#include <cstddef>
#include <cstdint>

namespace qz7::base {

inline constexpr size_t kDbmBlockBytes = 4096;

// Layout versions: bits 0x0F00 of the version word.
inline constexpr uint16_t kDbmLayoutVersionMask = 0x0F00;
inline constexpr uint16_t kDbmLayout600 = 0x600;
inline constexpr uint16_t kDbmLayout800 = 0x800;
inline constexpr uint16_t kDbmLayout900 = 0x900;

// Node types of the instance (kNodeType): 1 to 5; 0 appears in templates.
inline constexpr uint16_t kDbmNodeTypeClient = 2;
inline constexpr uint16_t kDbmNodeTypePartitioned = 4;
inline constexpr uint16_t kDbmNodeTypeNoLocalCopy = 5;  // keeps its own kParam7

// How a field's bytes are read. Numbers are little-endian; a text is NUL-terminated and
// zero-padded to its width.
enum class DbmKind : uint8_t { kU16, kS16, kU32, kS32, kF32, kText };

struct DbmField {
  uint16_t offset;
  uint16_t width;  // bytes
  DbmKind kind;
  uint16_t since;  // the first layout version that holds the field
};

constexpr bool IsText(const DbmField& field) { return field.kind == DbmKind::kText; }
constexpr bool IsFloat(const DbmField& field) { return field.kind == DbmKind::kF32; }
constexpr bool IsInteger(const DbmField& field) { return !IsText(field) && !IsFloat(field); }
constexpr bool IsSigned(const DbmField& field) {
  return field.kind == DbmKind::kS16 || field.kind == DbmKind::kS32;
}
constexpr bool operator==(const DbmField& a, const DbmField& b) {
  return a.offset == b.offset && a.width == b.width && a.kind == b.kind && a.since == b.since;
}

namespace dbm {

constexpr DbmField U16(uint16_t offset, uint16_t since = kDbmLayout600) {
  return {offset, 2, DbmKind::kU16, since};
}
constexpr DbmField S16(uint16_t offset, uint16_t since = kDbmLayout600) {
  return {offset, 2, DbmKind::kS16, since};
}
constexpr DbmField U32(uint16_t offset, uint16_t since = kDbmLayout600) {
  return {offset, 4, DbmKind::kU32, since};
}
constexpr DbmField S32(uint16_t offset, uint16_t since = kDbmLayout600) {
  return {offset, 4, DbmKind::kS32, since};
}
constexpr DbmField F32(uint16_t offset, uint16_t since = kDbmLayout600) {
  return {offset, 4, DbmKind::kF32, since};
}
constexpr DbmField Text(uint16_t offset, uint16_t width, uint16_t since = kDbmLayout600) {
  return {offset, width, DbmKind::kText, since};
}

// ---- The block's own fields ----

// The 32-bit sum of the unsigned bytes at offsets 4 to 4095.
inline constexpr DbmField kChecksum = U32(0);
// The layout version sits in bits 0x0F00; the other bits are not looked at.
inline constexpr DbmField kVersionWord = U16(16);
// The level of the release that wrote the file.
inline constexpr DbmField kLevel = U16(20);
inline constexpr DbmField kNodeType = U16(40);

// ---- Parameters, by offset ----

inline constexpr DbmField kParam72 = U16(18);
inline constexpr DbmField kParam304 = U16(22, kDbmLayout800);
inline constexpr DbmField kParam303 = S32(24, kDbmLayout800);
inline constexpr DbmField kParam312 = S32(32, kDbmLayout800);
inline constexpr DbmField kParam1 = U16(36);
inline constexpr DbmField kParam306 = S16(38, kDbmLayout800);
inline constexpr DbmField kParam6 = U16(44);
inline constexpr DbmField kParam314 = U16(46, kDbmLayout800);
inline constexpr DbmField kParam308 = U16(48);
inline constexpr DbmField kParam602 = U16(50, kDbmLayout900);
inline constexpr DbmField kParam7 = Text(52, 9);
inline constexpr DbmField kParam20 = U16(62);
inline constexpr DbmField kParam21 = U32(64);
inline constexpr DbmField kParam18 = U32(68);
inline constexpr DbmField kParam19 = U32(72);
inline constexpr DbmField kParam12 = U32(76);
inline constexpr DbmField kParam13 = S32(80);
inline constexpr DbmField kParam605 = U16(84, kDbmLayout900);
// 1 when the distributed-join component is installed (token 604 sets it too).
inline constexpr DbmField kDistributedJoin = U16(86, kDbmLayout900);
inline constexpr DbmField kParam15 = U32(88);
inline constexpr DbmField kParam80 = S32(92);
inline constexpr DbmField kParam81 = U16(96);
inline constexpr DbmField kParam26 = S16(98);
inline constexpr DbmField kParam24 = Text(100, 15);
inline constexpr DbmField kParam25 = Text(115, 65);
inline constexpr DbmField kParam27 = Text(180, 216);
inline constexpr DbmField kParam28 = Text(396, 26);
// The protocols the server starts (token 305).
inline constexpr DbmField kServerProtocolText = Text(422, 36, kDbmLayout800);
inline constexpr DbmField kParam39 = Text(679, 17);
inline constexpr DbmField kParam47 = Text(696, 49);
inline constexpr DbmField kParam48 = Text(745, 49);
inline constexpr DbmField kParam40 = U16(794);
inline constexpr DbmField kParam41 = U16(796);
// One word of six switches: tokens 30 to 35 set its bits, token 29 judges the whole word.
inline constexpr DbmField kParam30To35 = U16(798);
inline constexpr DbmField kParam43 = U32(800);
inline constexpr DbmField kParam44 = S32(804);
// Measured at instance creation (token 42 measures it too, for a value of about -1).
inline constexpr DbmField kProcessorSpeed = F32(808);
inline constexpr DbmField kParam49 = S32(812);
inline constexpr DbmField kParam45 = U16(816);
inline constexpr DbmField kParam65 = Text(818, 216);
inline constexpr DbmField kParam64 = U16(1034);
// Where the 0x600 layout kept the value that later layouts hold in kParam502, as a signed
// 16-bit number (-1: automatic). Read only from 0x600 files.
inline constexpr DbmField kParam502Layout600 = S16(1036);
inline constexpr DbmField kParam61 = U16(1038);
inline constexpr DbmField kParam62 = Text(1040, 17);
inline constexpr DbmField kParam63 = Text(1057, 17);
inline constexpr DbmField kParam79 = U16(1074);
inline constexpr DbmField kParam66 = Text(1076, 20);
// The first-connect name; a 0x600 file had none (token 67).
inline constexpr DbmField kFirstConnectName = Text(1096, 9);
inline constexpr DbmField kParam68 = U16(1106);
// Four characters and a zero byte (token 71).
inline constexpr DbmField kParam71 = Text(1108, 5);
inline constexpr DbmField kParam69 = U16(1114);
inline constexpr DbmField kParam82 = U16(1116, kDbmLayout800);
inline constexpr DbmField kParam603 = U16(1126, kDbmLayout900);
inline constexpr DbmField kParam73 = U16(1128);
inline constexpr DbmField kParam74 = Text(1130, 256);
inline constexpr DbmField kParam75 = Text(1386, 256);
inline constexpr DbmField kParam76 = Text(1642, 256);
// The protocols a node may be reached by (token 77).
inline constexpr DbmField kNodeProtocolText = Text(1898, 32);
inline constexpr DbmField kParam78 = U16(1930);
inline constexpr DbmField kParam90 = S32(1932);
inline constexpr DbmField kParam91 = S32(1936);
// One word of switches that tokens 301 and 302 set bits of.
inline constexpr DbmField kParam301And302 = U16(1940, kDbmLayout800);
inline constexpr DbmField kParam309 = U16(1942, kDbmLayout800);
inline constexpr DbmField kParam601 = S32(1944, kDbmLayout900);
// The instance's node name, derived from the computer's name at creation (token 92).
inline constexpr DbmField kNodeName = Text(1968, 9);
inline constexpr DbmField kParam313 = Text(1977, 227, kDbmLayout800);
inline constexpr DbmField kParam500 = U32(3080, kDbmLayout800);
inline constexpr DbmField kParam501 = S32(3084, kDbmLayout800);
inline constexpr DbmField kParam502 = S32(3088, kDbmLayout800);
inline constexpr DbmField kParam503 = U32(3092, kDbmLayout800);
inline constexpr DbmField kParam504 = U32(3096, kDbmLayout800);
inline constexpr DbmField kParam505 = S32(3100, kDbmLayout800);
inline constexpr DbmField kParam506 = S32(3104, kDbmLayout800);
inline constexpr DbmField kParam701 = U32(3108, kDbmLayout900);
inline constexpr DbmField kParam508 = U16(3112, kDbmLayout800);
inline constexpr DbmField kParam509 = U16(3114, kDbmLayout800);
inline constexpr DbmField kParam510 = U16(3116, kDbmLayout800);
inline constexpr DbmField kParam511 = U16(3118, kDbmLayout800);
// Measured at creation of a partitioned instance (token 307).
inline constexpr DbmField kCommBandwidth = F32(3120, kDbmLayout800);
// Set when the query-sentry client is installed (token 310).
inline constexpr DbmField kQuerySentryHeap = S32(3124, kDbmLayout800);
inline constexpr DbmField kParam311 = Text(3128, 256, kDbmLayout800);

// Every parameter, in offset order (the block's own fields are not parameters).
inline constexpr DbmField kParameters[] = {
    kParam72,        kParam304,          kParam303,        kParam312,
    kParam1,         kParam306,          kParam6,          kParam314,
    kParam308,       kParam602,          kParam7,          kParam20,
    kParam21,        kParam18,           kParam19,         kParam12,
    kParam13,        kParam605,          kDistributedJoin, kParam15,
    kParam80,        kParam81,           kParam26,         kParam24,
    kParam25,        kParam27,           kParam28,         kServerProtocolText,
    kParam39,        kParam47,           kParam48,         kParam40,
    kParam41,        kParam30To35,       kParam43,         kParam44,
    kProcessorSpeed, kParam49,           kParam45,         kParam65,
    kParam64,        kParam502Layout600, kParam61,         kParam62,
    kParam63,        kParam79,           kParam66,         kFirstConnectName,
    kParam68,        kParam71,           kParam69,         kParam82,
    kParam603,       kParam73,           kParam74,         kParam75,
    kParam76,        kNodeProtocolText,  kParam78,         kParam90,
    kParam91,        kParam301And302,    kParam309,        kParam601,
    kNodeName,       kParam313,          kParam500,        kParam501,
    kParam502,       kParam503,          kParam504,        kParam505,
    kParam506,       kParam701,          kParam508,        kParam509,
    kParam510,       kParam511,          kCommBandwidth,   kQuerySentryHeap,
    kParam311,
};

// ---- The map holds together ----

constexpr bool WidthFitsKind(const DbmField& field) {
  switch (field.kind) {
    case DbmKind::kU16:
    case DbmKind::kS16:
      return field.width == 2;
    case DbmKind::kU32:
    case DbmKind::kS32:
    case DbmKind::kF32:
      return field.width == 4;
    case DbmKind::kText:
      return field.width >= 2;
  }
  return false;
}

constexpr bool IsLayoutVersion(uint16_t version) {
  return version == kDbmLayout600 || version == kDbmLayout800 || version == kDbmLayout900;
}

inline constexpr DbmField kBlockFields[] = {kChecksum, kVersionWord, kLevel, kNodeType};

constexpr bool Overlap(const DbmField& a, const DbmField& b) {
  return a.offset < b.offset + b.width && b.offset < a.offset + a.width;
}

// Every parameter lies inside the block, clear of the block's own fields and behind the one
// before it in the table; its width fits its kind.
// (Indices, not pointers: the sanitizer build's null checks are not constant expressions.)
constexpr bool MapHoldsTogether() {
  size_t end = 0;  // where the field before ends
  for (const DbmField& field : kParameters) {
    if (!WidthFitsKind(field) || !IsLayoutVersion(field.since)) return false;
    if (field.offset + field.width > kDbmBlockBytes) return false;
    if (end > field.offset) return false;
    for (const DbmField& own : kBlockFields) {
      if (Overlap(own, field)) return false;
    }
    end = size_t{field.offset} + field.width;
  }
  return true;
}

static_assert(MapHoldsTogether(), "qz7systm parameters overlap or are out of order");
static_assert(kChecksum.offset + kChecksum.width <= kVersionWord.offset);

}  // namespace dbm

}  // namespace qz7::base

#endif  // QZ7_BASE_DBM_FIELDS_H_
