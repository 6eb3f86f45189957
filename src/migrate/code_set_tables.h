// The two tables that turn the numbers a database configuration file holds into the names the
// current directory entry carries: code page to code-set name, territory number to territory
// text. Both are fixed arrays of 16-byte slots (a zero-terminated text of up to 12 bytes, then
// the number as a 32-bit value); unused slots are empty (empty text, number 0). A lookup
// returns the text of the first slot whose number matches, so the alternative spellings that
// follow a first name are never returned, and the number 0 finds the first empty slot.
#ifndef QZ7_MIGRATE_CODE_SET_TABLES_H_
#define QZ7_MIGRATE_CODE_SET_TABLES_H_

#include <cstddef>
#include <cstdint>
#include <span>

#include "migrate/migration_report.h"

namespace qz7::migrate {

struct NamedNumberSlot {
  char text[12];
  uint32_t number;
};

constexpr size_t kCodeSetTableSlots = 116;
constexpr size_t kTerritoryTableSlots = 80;

// Field widths of the results in a converted directory entry.
constexpr size_t kCodeSetNameSize = 10;
constexpr size_t kTerritoryNameSize = 6;

// The whole tables, empty slots included.
std::span<const NamedNumberSlot, kCodeSetTableSlots> CodeSetTable();
std::span<const NamedNumberSlot, kTerritoryTableSlots> TerritoryTable();

// Writes the code-set name of codePage into name (kCodeSetNameSize bytes, zero-padded, cut to
// 9 characters). Returns 0, or -112 when no slot holds the code page (name is then empty).
[[nodiscard]] MigrationResult CodePageToCodeSetName(uint16_t codePage, char* name);

// Writes the territory text of territory into name (kTerritoryNameSize bytes, zero-padded,
// cut to 5 characters). Returns 0, or -113 when no slot holds the number (name is then empty).
[[nodiscard]] MigrationResult TerritoryCodeToName(uint16_t territory, char* name);

}  // namespace qz7::migrate

#endif  // QZ7_MIGRATE_CODE_SET_TABLES_H_
