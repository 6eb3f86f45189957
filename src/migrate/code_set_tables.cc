#include "migrate/code_set_tables.h"

#include <cstring>

namespace qz7::migrate {
namespace {

// Filled slots first, in lookup order; the rest of each array stays empty. Alternative
// spellings stand right after the first name of their number, so a lookup never sees them.
constexpr NamedNumberSlot kCodeSets[kCodeSetTableSlots] = {
    {"ZAV-850", 850},   {"ZAV-437", 437},   {"TIS620-1", 874},  {"tis620", 874},
    {"ISO8859-1", 819}, {"iso88591", 819},  {"88591", 819},     {"ISO8859-2", 912},
    {"iso88592", 912},  {"ISO8859-5", 915}, {"iso88595", 915},  {"ISO8859-7", 813},
    {"iso88597", 813},  {"ISO8859-8", 916}, {"iso88598", 916},  {"ISO8859-9", 920},
    {"iso88599", 920},  {"ZAV-852", 852},   {"ZAV-855", 855},   {"ZAV-857", 857},
    {"ZAV-862", 862},   {"ZAV-863", 863},   {"ZAV-864", 864},   {"ZAV-866", 866},
    {"ZAV-869", 869},   {"ZAV-932", 932},   {"SJIS", 943},      {"ZAV-943", 943},
    {"ZAV-934", 934},   {"ZAV-938", 938},   {"ZAV-942", 942},   {"ZAV-944", 944},
    {"ZAV-948", 948},   {"ZAV-949", 949},   {"big5", 950},      {"ZAV-eucJP", 954},
    {"eucJP", 954},     {"ZAV-eucTW", 964}, {"eucTW", 964},     {"ZAV-eucKR", 970},
    {"eucKR", 970},     {"ZAV-1046", 1046}, {"roman8", 1051},   {"ISO8859-6", 1089},
    {"iso88596", 1089}, {"1363", 1363},     {"ZAV-1381", 1381}, {"ZAV-eucCN", 1383},
    {"eucCN", 1383},    {"1250", 1250},     {"1251", 1251},     {"1252", 1252},
    {"1253", 1253},     {"1254", 1254},     {"1255", 1255},     {"1256", 1256},
    {"1275", 1275},     {"1280", 1280},     {"1281", 1281},     {"1282", 1282},
    {"1283", 1283},     {"UCS-2", 13488},
};

constexpr NamedNumberSlot kTerritories[kTerritoryTableSlots] = {
    {"US", 1},   {"en", 1},   {"C", 1},    {"BG", 359}, {"DK", 45},  {"CH", 41},  {"DE", 49},
    {"GR", 30},  {"GB", 44},  {"ES", 34},  {"FI", 358}, {"CA", 2},   {"FR", 33},  {"IS", 354},
    {"IT", 39},  {"JP", 81},  {"ja", 81},  {"BE", 32},  {"NL", 31},  {"NO", 47},  {"PT", 351},
    {"SE", 46},  {"sv", 46},  {"TR", 90},  {"HU", 36},  {"IL", 972}, {"iw", 972}, {"PL", 48},
    {"RU", 7},   {"MK", 389}, {"CZ", 421}, {"CS", 42},  {"SK", 422}, {"SP", 381}, {"YU", 381},
    {"HR", 385}, {"SI", 386}, {"YU", 38},  {"TH", 66},  {"RO", 40},  {"AR", 785}, {"AA", 785},
    {"SA", 785}, {"Aus", 61}, {"Au", 61},  {"NZ", 64},  {"BR", 55},  {"Lat", 3},  {"KR", 82},
    {"ko", 82},  {"CN", 86},  {"zh", 86},  {"TW", 88},
};

[[nodiscard]] MigrationResult Lookup(std::span<const NamedNumberSlot> table, uint16_t number,
                                     char* out, size_t outSize, MigrationResult notFound) {
  std::memset(out, 0, outSize);
  for (const NamedNumberSlot& slot : table) {
    if (slot.number != number) continue;
    std::memcpy(out, slot.text, strnlen(slot.text, outSize - 1));
    return kMigrationOk;
  }
  return notFound;
}

}  // namespace

std::span<const NamedNumberSlot, kCodeSetTableSlots> CodeSetTable() { return kCodeSets; }
std::span<const NamedNumberSlot, kTerritoryTableSlots> TerritoryTable() { return kTerritories; }

[[nodiscard]] MigrationResult CodePageToCodeSetName(uint16_t codePage, char* name) {
  return Lookup(kCodeSets, codePage, name, kCodeSetNameSize, kMigrationUnknownCodePage);
}

[[nodiscard]] MigrationResult TerritoryCodeToName(uint16_t territory, char* name) {
  return Lookup(kTerritories, territory, name, kTerritoryNameSize, kMigrationUnknownTerritory);
}

}  // namespace qz7::migrate
