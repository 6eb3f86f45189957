// Entries of the four earlier database directory layouts with every field the migration
// carries, from named fields, and old directory files holding them. The file around the
// entries (header, block, slots, closing value) comes from DatabaseDirectoryBuilder; these
// entries take the places of its own.
//
//   OldEntryFields entry{.name = "SAMPLE", .type = '2', .path = "D:\\DBS", .comment = "main"};
//   auto bytes = OldDirectoryBytes(
//       DatabaseDirectoryBuilder::Layout(4).Slots(2), 4, DirectoryHeaderForm::kLong, {entry});
#ifndef QZ7_TESTKIT_OLD_DIRECTORY_ENTRIES_H_
#define QZ7_TESTKIT_OLD_DIRECTORY_ENTRIES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/sample/database_directory_builder.h"

namespace qz7::testkit {

struct OldEntryFields {
  std::string name;          // catalogued name (9 bytes at 0)
  std::string databaseName;  // 9 bytes at 9
  char type = '1';           // at 18
  std::string subdirectory;  // 9 bytes at 19
  std::string nameText;      // 9 bytes at 28
  uint8_t flag = 0;          // one byte at 37 (layouts 1, 3, 4)
  std::string path;          // drive (3 bytes) or directory (256 bytes)
  std::string comment;       // 31 bytes, 32 in long layout 3 and layout 4
  uint16_t number16 = 0;
  uint32_t number32 = 0;
  uint32_t trailer32 = 0;   // goes to offset 704 of the current entry
  uint8_t trailerByte = 0;  // goes to offset 708
  // Layout 4 only.
  uint16_t extra340 = 0;
  uint16_t extra342 = 0;
  std::vector<unsigned char> databaseInfo;  // up to 312 bytes at 344
  std::vector<unsigned char> tail;          // up to 16 bytes at 656
  // Every byte that no field covers, so that a test can see what a conversion drops.
  unsigned char fill = 0;
};

// The directory file that builder makes with entries in place of its own: builder must have
// been given no entries (its header counts these, unless it claims another count).
sample::DirectoryBytes OldDirectoryBytes(sample::DatabaseDirectoryBuilder builder, int layout,
                                         sample::DirectoryHeaderForm form,
                                         const std::vector<OldEntryFields>& entries);

}  // namespace qz7::testkit

#endif  // QZ7_TESTKIT_OLD_DIRECTORY_ENTRIES_H_
