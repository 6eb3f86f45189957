// The files of databases that live on this machine, from named fields: a database's
// configuration file INSTANCE\SUBDIR\SQLDBCON, and the local database directory
// DRIVE\SQLDBDIR\SQLDBDIR of the current layout whose entries carry each database's block.
//
//   auto config = DatabaseConfigurationBuilder().Release(0x0500).CodePage(943).Territory(81)
//                     .Bytes();
//   auto local = LocalDatabaseDirectoryBytes({{"SAMPLE", DatabaseInfoPattern(7)}});
#ifndef QZ7_TESTKIT_LOCAL_DATABASE_BUILDER_H_
#define QZ7_TESTKIT_LOCAL_DATABASE_BUILDER_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "tools/sample/database_directory_builder.h"

namespace qz7::testkit {

constexpr size_t kDatabaseConfigurationSize = 2048;

class DatabaseConfigurationBuilder {
 public:
  // kDatabaseConfigurationSize zero bytes with release 0x0500, code page 850, territory 1.
  DatabaseConfigurationBuilder();

  DatabaseConfigurationBuilder& Release(uint16_t release) { return Put(16, release); }
  DatabaseConfigurationBuilder& Territory(uint16_t number) { return Put(74, number); }
  DatabaseConfigurationBuilder& CodePage(uint16_t codePage) { return Put(76, codePage); }
  DatabaseConfigurationBuilder& Block(const std::vector<unsigned char>& bytes);  // 256 at 600
  DatabaseConfigurationBuilder& Field884(uint32_t value) { return Put(884, value); }
  DatabaseConfigurationBuilder& Field888(uint16_t value) { return Put(888, value); }
  DatabaseConfigurationBuilder& Field1164(uint32_t value) { return Put(1164, value); }
  // The file's size: shorter files are cut, longer ones continue with `fill` bytes, which the
  // checksum covers.
  DatabaseConfigurationBuilder& Size(size_t size, unsigned char fill = 0);
  // The checksum at offset 0 (the sum of the bytes from 4 to the end) plus delta.
  DatabaseConfigurationBuilder& WrongChecksum(uint32_t delta = 1) {
    checksumDelta_ = delta;
    return *this;
  }
  // Cut the file to this many bytes after the checksum is stamped.
  DatabaseConfigurationBuilder& TruncateTo(size_t size) {
    truncateTo_ = size;
    return *this;
  }

  sample::DirectoryBytes Bytes() const;

 private:
  // Stores a 16- or 32-bit little-endian number at offset.
  DatabaseConfigurationBuilder& Put(size_t offset, uint16_t value);
  DatabaseConfigurationBuilder& Put(size_t offset, uint32_t value);

  sample::DirectoryBytes bytes_;
  uint32_t checksumDelta_ = 0;
  std::optional<size_t> truncateTo_;
};

// One entry of a local database directory: its name (offset 0) and the 344 bytes it holds at
// offsets 344 to 687 (the database block, code set and territory).
struct LocalDatabaseEntry {
  std::string name;
  std::vector<unsigned char> info;
};
constexpr size_t kLocalInfoOffset = 344;
constexpr size_t kLocalInfoSize = 344;

// A current-layout local database directory holding entries, then slots slots.
sample::DirectoryBytes LocalDatabaseDirectoryBytes(const std::vector<LocalDatabaseEntry>& entries,
                                                   uint16_t slots = 0);

// kLocalInfoSize bytes that differ from byte to byte and from seed to seed.
std::vector<unsigned char> DatabaseInfoPattern(unsigned char seed);

}  // namespace qz7::testkit

#endif  // QZ7_TESTKIT_LOCAL_DATABASE_BUILDER_H_
