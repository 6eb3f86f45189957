// libFuzzer target for the directory migrations: the input becomes an instance's system
// database directory (file, copy and intention file) or its node directory (file and copy),
// possibly with a leftover migration backup, and the migration runs over it. Whatever the
// bytes, a migration must end with a result code, never a crash or a hang.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/memory_machine.h"
#include "migrate/database_directory_migration.h"
#include "migrate/node_directory_migration.h"
#include "testkit/migration_message_file.h"
#include "testkit/temp_machine.h"

namespace {

constexpr const char* kInstance = "C:\\FUZZ\\QZ7";
constexpr const char* kInstall = "C:\\INST";

// The host folders of the two directories the inputs become, made with the machine. Every
// input resets the folder it uses on the host side: a listing and an unlink per file the
// previous input left there, where a removal of each possible name through the platform layer
// (a Windows path resolved name by name, case-blind) cost a sixth of each input's time.
struct Folders {
  std::string database, nodes;
};

const Folders& HostFolders() {
  static const Folders folders = [] {
    qz7::testkit::TempMachine& machine = qz7::fuzz::MemoryMachine();
    qz7::testkit::WriteMigrationMessageFile(kInstall, qz7::testkit::MigrationMessageFileLines());
    const std::string database = std::string(kInstance) + "\\SQLDBDIR";
    const std::string nodes = std::string(kInstance) + "\\SQLNODIR";
    machine.MakeDirectory(database);
    machine.MakeDirectory(nodes);
    return Folders{machine.HostPath(database) + "/", machine.HostPath(nodes) + "/"};
  }();
  return folders;
}

// Removes every file that an earlier input (its own files, or what the migration made of
// them) left in the host folder.
void EmptyFolder(const std::string& folder) {
  DIR* listing = opendir(folder.c_str());
  if (listing == nullptr) return;
  while (const dirent* entry = readdir(listing)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    static_cast<void>(unlinkat(dirfd(listing), entry->d_name, 0));
  }
  closedir(listing);
}

void WriteHostFile(const std::string& path, const uint8_t* data, size_t size) {
  const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (file < 0) return;
  while (size > 0) {
    const ssize_t written = write(file, data, size);
    if (written <= 0) break;
    data += written;
    size -= static_cast<size_t>(written);
  }
  close(file);
}

// The input after its flag byte, split at a point its first two bytes choose: the directory
// file, and the tail (intention file or leftover backup).
struct Parts {
  const uint8_t* directory;
  size_t directorySize;
  const uint8_t* tail;
  size_t tailSize;
};

Parts Split(const uint8_t* input, size_t size) {
  if (size < 2) return {input, size, nullptr, 0};
  const size_t cut = (input[0] | (input[1] << 8)) % (size - 1) + 2;
  return {input + 2, cut - 2, input + cut, size - cut};
}

// flags: bit 0 writes no copy, bit 1 makes the tail a leftover migration backup instead of
// the intention file.
void MigrateDatabase(const uint8_t* input, size_t size, uint8_t flags) {
  const std::string& folder = HostFolders().database;
  EmptyFolder(folder);
  const Parts parts = Split(input, size);
  WriteHostFile(folder + "SQLDBDIR", parts.directory, parts.directorySize);
  if (!(flags & 1)) WriteHostFile(folder + "SQLDBBAK", parts.directory, parts.directorySize);
  WriteHostFile(folder + ((flags & 2) ? "SQLDDDIR.TMP" : "SQLDBINS"), parts.tail, parts.tailSize);
  // Any result is fine here; the target looks for crashes and sanitizer reports only.
  static_cast<void>(qz7::migrate::MigrateDatabaseDirectory(kInstance, kInstall));
}

void MigrateNodes(const uint8_t* input, size_t size, uint8_t flags) {
  const std::string& folder = HostFolders().nodes;
  EmptyFolder(folder);
  const Parts parts = Split(input, size);
  WriteHostFile(folder + "SQLNODIR", parts.directory, parts.directorySize);
  if (!(flags & 1)) WriteHostFile(folder + "SQLNOBAK", parts.directory, parts.directorySize);
  if (flags & 2) WriteHostFile(folder + "SQLNDDIR.TMP", parts.tail, parts.tailSize);
  // Any result is right for arbitrary bytes; only a crash or a sanitizer report is a finding.
  static_cast<void>(qz7::migrate::MigrateNodeDirectory(kInstance));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  if (data[0] & 0x80) {
    MigrateNodes(data + 1, size - 1, data[0]);
  } else {
    MigrateDatabase(data + 1, size - 1, data[0]);
  }
  return 0;
}
