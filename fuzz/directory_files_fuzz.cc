// libFuzzer target for the directory migrations: the input becomes an instance's system
// database directory (file, copy and intention file) or its node directory (file and copy),
// possibly with a leftover migration backup, and the migration runs over it. Whatever the
// bytes, a migration must end with a result code, never a crash or a hang.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/memory_machine.h"
#include "migrate/database_directory_migration.h"
#include "migrate/node_directory_migration.h"
#include "platform/file_system.h"
#include "testkit/migration_message_file.h"
#include "testkit/temp_machine.h"

namespace {

using Bytes = std::vector<unsigned char>;

constexpr const char* kInstance = "C:\\FUZZ\\QZ7";
constexpr const char* kInstall = "C:\\INST";

qz7::testkit::TempMachine& Machine() {
  qz7::testkit::TempMachine& machine = qz7::fuzz::MemoryMachine();
  static const bool ready = [] {
    qz7::testkit::WriteMigrationMessageFile(kInstall, qz7::testkit::MigrationMessageFileLines());
    return true;
  }();
  (void)ready;
  return machine;
}

// Absent files too: whatever an earlier input left goes.
void Remove(const std::string& path) { static_cast<void>(qz7::platform::RemoveFile(path.c_str())); }

// Splits the input at a point its first two bytes choose: (head, tail).
std::pair<Bytes, Bytes> Split(const Bytes& input) {
  if (input.size() < 2) return {input, {}};
  const size_t cut = (input[0] | (input[1] << 8)) % (input.size() - 1) + 2;
  return {Bytes(input.begin() + 2, input.begin() + static_cast<long>(cut)),
          Bytes(input.begin() + static_cast<long>(cut), input.end())};
}

// flags: bit 0 writes no copy, bit 1 makes the tail a leftover migration backup instead of
// the intention file.
void MigrateDatabase(const Bytes& input, uint8_t flags) {
  const std::string base = std::string(kInstance) + "\\SQLDBDIR\\";
  for (const char* name : {"SQLDBDIR", "SQLDBBAK", "SQLDBINS", "SQLDDDIR.TMP", "SQLDDDIR.BAK",
                           "SQLDDDIR.NEW", "SQLDDDIR.RPT"}) {
    Remove(base + name);
  }
  const auto [directory, tail] = Split(input);
  Machine().WriteFile(base + "SQLDBDIR", directory);
  if (!(flags & 1)) Machine().WriteFile(base + "SQLDBBAK", directory);
  Machine().WriteFile(base + ((flags & 2) ? "SQLDDDIR.TMP" : "SQLDBINS"), tail);
  // Any result is fine here; the target looks for crashes and sanitizer reports only.
  static_cast<void>(qz7::migrate::MigrateDatabaseDirectory(kInstance, kInstall));
}

void MigrateNodes(const Bytes& input, uint8_t flags) {
  const std::string base = std::string(kInstance) + "\\SQLNODIR\\";
  for (const char* name :
       {"SQLNODIR", "SQLNOBAK", "SQLNDDIR.TMP", "SQLNDDIR.BAK", "SQLNDDIR.NEW"}) {
    Remove(base + name);
  }
  const auto [directory, tail] = Split(input);
  Machine().WriteFile(base + "SQLNODIR", directory);
  if (!(flags & 1)) Machine().WriteFile(base + "SQLNOBAK", directory);
  if (flags & 2) Machine().WriteFile(base + "SQLNDDIR.TMP", tail);
  // Any result is right for arbitrary bytes; only a crash or a sanitizer report is a finding.
  static_cast<void>(qz7::migrate::MigrateNodeDirectory(kInstance));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Machine();
  const Bytes input(data + 1, data + size);
  if (data[0] & 0x80) {
    MigrateNodes(input, data[0]);
  } else {
    MigrateDatabase(input, data[0]);
  }
  return 0;
}
