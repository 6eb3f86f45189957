// Conversion of an instance's database manager configuration file qz7systm into the new
// release's template: the values that the old and the new kind of instance share are carried
// over by node type and layout version, every parameter is put back into its range and the
// checksum is renewed.
#ifndef QZ7_UPGRADE_DBM_CONFIGURATION_CONVERSION_H_
#define QZ7_UPGRADE_DBM_CONFIGURATION_CONVERSION_H_

#include <cstdint>

#include "platform/file_system.h"

namespace qz7::upgrade {

constexpr int kDbmFileError = -100;        // a file cannot be opened, read or written
constexpr int kDbmVersionError = -101;     // layout version not 0x600, 0x800 or 0x900
constexpr int kDbmChecksumError = -102;    // stored checksum differs from the computed one
constexpr int kDbmNodeTypesError = -5065;  // this pair of node types cannot be converted

// The layout version of a block (the layout bits of its version word), and whether
// it is one that the conversion knows.
uint16_t DbmLayoutVersion(const unsigned char* block);
bool IsKnownDbmVersion(uint16_t version);

// Converts the configuration in oldPath into the template in newPath (both Windows paths).
// Returns 0, kDbmFileError, kDbmVersionError, kDbmChecksumError or kDbmNodeTypesError.
//
// The old file is only read. The new file is written only on success: the converted block is
// written in one 4096-byte write at offset 0 over the template just read from it, so the
// write never changes the file's size, and synced, so that on success the converted data is
// on the disk. When that write, its sync or the close fails, the template's bytes are
// written back (best effort) and the result is kDbmFileError. Both
// files are closed exactly once on every path.
[[nodiscard]] int ConvertDbmConfiguration(const char* newPath, const char* oldPath);

// Reads one 4096-byte block from the start of file into block (cleared first) and checks it:
// kDbmFileError when 4096 bytes cannot be read, kDbmVersionError for an unknown layout
// version, kDbmChecksumError for a wrong checksum, else 0. The version is handed out in
// *version whenever the block was read.
[[nodiscard]] int ReadDbmConfiguration(platform::FileStream& file, unsigned char* block,
                                       uint16_t* version);

// Carries the old block's values into the new block with the converter that the two node
// types (their kNodeType fields) select. Returns 0, or kDbmNodeTypesError (new block unchanged)
// when the pair cannot be converted or a node type is outside 1 to 5.
[[nodiscard]] int ConvertDbmFields(unsigned char* newBlock, const unsigned char* oldBlock);

// Puts every parameter of block back into its range for the block's node type. The checksum
// is not touched.
void NormalizeDbmParameters(unsigned char* block);

}  // namespace qz7::upgrade

#endif  // QZ7_UPGRADE_DBM_CONFIGURATION_CONVERSION_H_
