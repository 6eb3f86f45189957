// The decoder of `qz7inst show` for a database's configuration file SQLDBCON: the checksum
// verdict, the release, and the fields that the local database check copies into a converted
// directory entry, with the code-set and territory names it would look up for them.
#include <string>

#include "base/coding.h"
#include "migrate/code_set_tables.h"
#include "migrate/local_database_check.h"
#include "tools/qz7inst/file_decoder.h"
#include "tools/qz7inst/show_record.h"

namespace qz7::cli {
namespace {

using migrate::kConfigField1164Offset;

uint16_t Release(FileBytes bytes) { return base::LoadLE16(&bytes[migrate::kConfigReleaseOffset]); }

// The sum of the bytes from 4 to the end, the whole file (also past the 2048 bytes read).
uint32_t Checksum(FileBytes bytes) {
  return bytes.size() > 4 ? base::ByteSum(bytes.data() + 4, bytes.size() - 4) : 0;
}

// A known release and a checksum that matches; the name SQLDBCON stands in for the checksum
// (a damaged file is still shown) and is needed for a 4096-byte file, which is otherwise
// left to the qz7systm decoder that checks the same kind of sum.
bool Recognises(const DecodedFile& file) {
  const FileBytes bytes(file.bytes);
  if (!Holds(bytes, migrate::kConfigReleaseOffset, 2) ||
      !migrate::IsKnownConfigurationRelease(Release(bytes))) {
    return false;
  }
  const bool named = NameIs(file, {migrate::kDatabaseConfigurationName});
  if (bytes.size() == 4096 && !named) return false;
  return named || Checksum(bytes) == base::LoadLE32(bytes.data());
}

int Print(Invocation& invocation, const DecodedFile& file) {
  const FileBytes bytes(file.bytes);
  Problems problems;
  ShowRecord body;
  const uint32_t stored = base::LoadLE32(bytes.data());
  const uint32_t computed = Checksum(bytes);
  const uint16_t release = Release(bytes);
  body.Child("checksum", ShowRecord()
                             .Hex("stored", stored, 8)
                             .Hex("computed", computed, 8)
                             .Flag("matches", stored == computed));
  body.Hex("release", release, 4);
  // The fields the local check reads; one that lies past the end is read as zero there.
  const bool lateRelease =
      release != migrate::kConfigRelease0400 && release != migrate::kConfigRelease0500;
  const size_t needed =
      lateRelease ? kConfigField1164Offset + 4 : migrate::kConfigField888Offset + 2;
  if (bytes.size() < needed) {
    problems.push_back("truncated: " + std::to_string(bytes.size()) + " bytes, release " +
                       std::to_string(release >> 8) + " keeps fields up to byte " +
                       std::to_string(needed));
  }
  if (Holds(bytes, migrate::kConfigCodePageOffset, 2)) {
    const uint16_t territory = base::LoadLE16(&bytes[migrate::kConfigTerritoryOffset]);
    const uint16_t codePage = base::LoadLE16(&bytes[migrate::kConfigCodePageOffset]);
    char codeSet[migrate::kCodeSetNameSize] = {};
    char territoryName[migrate::kTerritoryNameSize] = {};
    const bool codeSetKnown = migrate::CodePageToCodeSetName(codePage, codeSet) == 0;
    const bool territoryKnown = migrate::TerritoryCodeToName(territory, territoryName) == 0;
    body.Number("territory", territory);
    body.Word("territoryName", territoryKnown ? territoryName : "(not in the territory table)");
    body.Number("codePage", codePage);
    body.Word("codeSetName", codeSetKnown ? codeSet : "(not in the code-set table)");
  }
  if (Holds(bytes, migrate::kConfigField884Offset, 4)) {
    body.Number("field884", base::LoadLE32(&bytes[migrate::kConfigField884Offset]));
  }
  if (Holds(bytes, migrate::kConfigField888Offset, 2)) {
    body.Number("field888", base::LoadLE16(&bytes[migrate::kConfigField888Offset]));
  }
  if (Holds(bytes, kConfigField1164Offset, 4)) {
    body.Number("field1164", base::LoadLE32(&bytes[kConfigField1164Offset]));
  }
  // What the local check stores at offset 656 of the converted entry.
  if (uint32_t length = 0; migrate::EntryInfoLength(bytes.data(), bytes.size(), &length)) {
    body.Number("entryField656", length);
  }
  return FinishShow(invocation, file, "database-configuration",
                    "database configuration file (SQLDBCON)", body, problems);
}

QZ7_FILE_DECODER("database-configuration", "database configuration file SQLDBCON", 90, Recognises,
                 Print);

}  // namespace
}  // namespace qz7::cli
