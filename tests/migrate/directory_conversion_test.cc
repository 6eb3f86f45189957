// The four directory converters: how each earlier layout's entries, header, hash block, slots
// and intention file reach the current layout, and the key, object and code of the steps
// that fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <iterator>
#include <string>
#include <vector>

#include "base/coding.h"
#include "migrate/converted_entry.h"
#include "migrate/intention_file_conversion.h"
#include "platform/file_system.h"
#include "testkit/local_database_builder.h"
#include "tests/migrate/migrate_fixture.h"

namespace qz7::migrate::testing {
namespace {

constexpr Form kShort = Form::kShort;
constexpr Form kLong = Form::kLong;

// A layout as the converters see it: the file's header form and the flag the driver passes.
struct LayoutCase {
  const char* name;
  int layout;
  Form form;
  int flag;
};
constexpr LayoutCase kLayouts[] = {
    {"layout1_short", 1, kShort, 1}, {"layout1_long", 1, kLong, 0},
    {"layout2_short", 2, kShort, 1}, {"layout2_long", 2, kLong, 0},
    {"layout3_short", 3, kShort, 1}, {"layout3_long", 3, kLong, 0},
    {"layout4", 4, kLong, 0},
};

// An entry told from the others by its name and type, every byte no field covers 0xEE. What
// each field becomes is the field tables' test; here it is where each entry lands.
OldEntryFields FullEntry(const std::string& name, char type) {
  return {.name = name, .type = type, .path = "d:\\DATABASES\\MAIN", .fill = 0xEE};
}

// An old intention file with every field of its layout set (layout 1 reads none).
Bytes OldIntention(int layout) {
  return IntentionFileBuilder(layout)
      .Value(0x0102)
      .Name("SAMPLE")
      .FirstPath(layout == 2 ? "C:\\OLD\\PATH1" : std::string(200, 'F'))
      .SecondPath("C:\\NEW\\PATH2")
      .Extra("EXTRA")
      .Bytes();
}

base::DirectoryLayoutType TypeOf(int layout) {
  return static_cast<base::DirectoryLayoutType>(layout);
}

Bytes ConvertedEntryOf(int layout, Form form, const Bytes& old) {
  ConvertedEntry entry;
  BuildConvertedEntry(TypeOf(layout), form == kShort, old.data(), &entry);
  return Bytes(std::begin(entry.bytes), std::end(entry.bytes));
}
Bytes IntentionOf(int layout, const Bytes& old) {
  unsigned char bytes[base::kIntentionFileSize];
  BuildIntentionFile(TypeOf(layout), old.empty() ? nullptr : old.data(), bytes);
  return Bytes(std::begin(bytes), std::end(bytes));
}

// The fields an old entry carries, as the text's table gives them: where each layout keeps
// the field of the converted entry (-1: not carried). A text takes up to its old width, the
// distance to the next field of its layout, cut to the new width minus one; all other bytes
// of the converted entry are zero but for the constants.
enum class Kind { kText, kBytes };
struct CarriedField {
  size_t offset, width;
  Kind kind;
  int old[5];  // layout 1, layout 2, layout 3 long, layout 3 short, layout 4
};
constexpr CarriedField kCarried[] = {
    {0, 9, Kind::kText, {0, 0, 0, 0, 0}},
    {9, 9, Kind::kText, {9, 9, 9, 9, 9}},
    {18, 1, Kind::kBytes, {18, 18, 18, 18, 18}},
    {19, 9, Kind::kText, {19, 19, 19, 19, 19}},
    {28, 9, Kind::kText, {28, 28, 28, 28, 28}},
    {37, 1, Kind::kBytes, {37, -1, 37, 37, 37}},
    {38, 256, Kind::kText, {38, 37, 38, 38, 38}},
    {294, 32, Kind::kText, {41, 40, 294, 41, 294}},
    {326, 2, Kind::kBytes, {72, 71, 326, 72, 326}},
    {336, 4, Kind::kBytes, {74, 73, 336, 82, 336}},
    {704, 4, Kind::kBytes, {78, 77, 340, 86, 684}},
    {708, 1, Kind::kBytes, {82, 81, 344, 90, 688}},
    {340, 2, Kind::kBytes, {-1, -1, -1, -1, 340}},
    {342, 2, Kind::kBytes, {-1, -1, -1, -1, 342}},
    {344, 312, Kind::kBytes, {-1, -1, -1, -1, 344}},
    {672, 16, Kind::kBytes, {-1, -1, -1, -1, 656}},
};

// The converted entry that the table above and the constants make of old.
Bytes ExpectedEntry(const LayoutCase& c, const Bytes& old) {
  const int column = c.layout == 1     ? 0
                     : c.layout == 2   ? 1
                     : c.layout == 4   ? 4
                     : c.form == kLong ? 2
                                       : 3;
  Bytes entry(720, 0);
  for (const CarriedField& field : kCarried) {
    const int from = field.old[column];
    if (from < 0) continue;
    size_t width = field.width;
    if (field.kind == Kind::kText) {
      size_t next = old.size();
      for (const CarriedField& other : kCarried) {
        if (other.old[column] > from) next = std::min(next, static_cast<size_t>(other.old[column]));
      }
      width = std::min(next - static_cast<size_t>(from), field.width - 1);
    }
    std::copy_n(old.begin() + from, width,
                entry.begin() + static_cast<std::ptrdiff_t>(field.offset));
  }
  if (c.layout == 3 && c.form == kShort)
    entry[38] = static_cast<unsigned char>(std::toupper(entry[38]));
  if (c.layout == 2) entry[37] = 0xFF;
  if (c.layout == 4) base::StoreLE32(&entry[656], 32);
  std::copy_n("QZ7", 3, entry.begin() + 709);
  base::StoreLE16(&entry[718], 0x0900);
  return entry;
}

// The intention file the text's table makes of an old one: (new offset, old offset, width)
// of each field a layout carries, every other byte zero.
Bytes ExpectedIntention(int layout, const Bytes& old) {
  std::vector<std::array<size_t, 3>> fields;
  if (layout == 2) fields = {{0, 0, 2}, {2, 2, 9}, {11, 11, 13}, {267, 24, 13}};
  if (layout >= 3) fields = {{0, 0, 2}, {2, 2, 9}, {11, 11, 256}, {267, 267, 256}};
  if (layout == 4) fields.push_back({523, 523, 10});
  Bytes intention(540, 0);
  for (const auto& [to, from, width] : fields)
    std::copy_n(old.begin() + from, width, intention.begin() + to);
  return intention;
}

// Every layout and header form converts the two patterns (which tell every old byte from every
// other) to what the text's tables make of them, and the old intention files likewise.
TEST(FieldTableTest, EntriesAndIntentionFilesFollowTheTables) {
  for (const LayoutCase& c : kLayouts) {
    SCOPED_TRACE(c.name);
    const size_t size = OldEntrySize(TypeOf(c.layout), c.form == kShort);
    for (int which : {0, 1}) {
      const Bytes old = Pattern(size, which);
      EXPECT_TRUE(SameBytes(ConvertedEntryOf(c.layout, c.form, old), ExpectedEntry(c, old)))
          << "pattern " << which;
    }
  }
  for (int layout = 1; layout <= 4; ++layout) {
    SCOPED_TRACE("intention file of layout " + std::to_string(layout));
    for (int which : {0, 1}) {
      const Bytes old = Pattern(OldIntentionSize(TypeOf(layout)), which);
      EXPECT_TRUE(SameBytes(IntentionOf(layout, old), ExpectedIntention(layout, old)));
    }
  }
}

using ConverterTest = DirectoryFolderTest;

// Each layout and header form, from the directory file or from the copy alone, migrated: the
// driver hands it to its converter with the header form recognition found and keeps the old
// files in the permanent backup. Short-header layouts 2 and 3 keep only the entries of type
// "1". The hash block holds the
// offset of the first written entry of each bucket, the sum of the name's bytes modulo 43:
// "A" and "l" share bucket 22, "X" has 2, "B" 23. A layout-2 directory needs its intention
// file; the others build a missing one from zeros.
TEST_F(ConverterTest, EveryLayoutCarriesItsFieldsAndDropsTheRest) {
  const std::vector<OldEntryFields> entries = {FullEntry("A", '1'), FullEntry("X", '3'),
                                               FullEntry("l", '1'), FullEntry("B", '1')};
  for (const LayoutCase& c : kLayouts) {
    for (bool fromCopy : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (fromCopy ? " from the copy" : ""));
      const Bytes old = OldDirectoryBytes(DatabaseDirectoryBuilder::Layout(c.layout, c.form)
                                              .SecondCount(0x0707)
                                              .HeaderValue(0xCAFEF00D)
                                              .BlockValue(0x0506)
                                              .Slots(3),
                                          c.layout, c.form, entries);
      ClearDirectoryFolder();
      Put(kCopy, old);
      if (!fromCopy) Put(kDirectory, old);
      const bool intention = !fromCopy || c.layout == 2;
      const Bytes oldIntention = intention ? OldIntention(c.layout) : Bytes();
      if (intention) Put(kIntention, oldIntention);
      Put(kPermanent, Bytes(5, 'x'));  // a permanent backup of an earlier migration is replaced
      if (c.layout == 1 && c.form == kShort) {
        // Four short layout-1 entries make the size of a long layout-2 file, which recognition
        // takes it for: this file is the converter's alone.
        ASSERT_EQ(Convert(1, 1, !fromCopy).code, 0);
      } else {
        ASSERT_EQ(MigrateDatabaseDirectory(kInstance, kInstall), 0);
        EXPECT_FALSE(Exists(kBackup));
        const std::string layoutName = "TYPE" + std::to_string(c.layout) + "_DECB";
        EXPECT_TRUE(SameBytes(Get(kPermanent), DirectoryBackupBuilder()
                                                   .LayoutName(layoutName)
                                                   .Status('C')
                                                   .DirectoryCopy(old)
                                                   .IntentionCopy(oldIntention)
                                                   .Bytes()));
      }
      EXPECT_EQ(ErrorRecords(), Texts());
      const Bytes converted = Get(kDirectory);
      EXPECT_EQ(Get(kCopy), converted) << "both directory files end identical";
      const bool onlyType1 = (c.layout == 2 || c.layout == 3) && c.flag == 1;
      std::vector<OldEntryFields> kept;
      for (const OldEntryFields& entry : entries) {
        if (!onlyType1 || entry.type == '1') kept.push_back(entry);
      }
      // Layout 1 keeps the slot count in its header but carries no slots; a short layout-2
      // file drops them and says so; the others carry them.
      const bool dropsSlots = c.layout == 2 && c.flag == 1;
      const size_t slots = c.layout == 1 || dropsSlots ? 0 : 3;
      const Bytes header = DatabaseDirectoryBuilder::Current()
                               .SecondCount(0x0707)
                               .HeaderValue(0xCAFEF00D)
                               .BlockValue(0x0506)
                               .Slots(dropsSlots ? 0 : 3)
                               .ClaimedEntryCount(static_cast<uint16_t>(kept.size()))
                               .Bytes();
      EXPECT_EQ(Slice(converted, 0, 36), Slice(header, 0, 36));
      ASSERT_EQ(converted.size(), 212 + 2 * slots + 720 * kept.size());
      for (size_t i = 0; i < slots; ++i)
        EXPECT_EQ(base::LoadLE16(&converted[208 + 720 * kept.size() + 2 * i]), i + 1);
      EXPECT_EQ(base::LoadLE32(&converted[converted.size() - 4]), 0xCAFEF00Du);
      // Each kept entry is what the field table makes of its old entry, read at its own place.
      const size_t oldSize = OldEntrySize(TypeOf(c.layout), c.form == kShort);
      const size_t oldStart = c.form == kShort ? base::kShortHeaderSize + base::kShortBlockSize
                                               : base::kLongHeaderSize + base::kLongBlockSize;
      for (size_t i = 0, k = 0; i < entries.size(); ++i) {
        if (onlyType1 && entries[i].type != '1') continue;
        const Bytes want =
            ConvertedEntryOf(c.layout, c.form, Slice(old, oldStart + oldSize * i, oldSize));
        EXPECT_TRUE(SameBytes(Slice(converted, 208 + 720 * k++, 720), want)) << "entry " << i;
      }
      std::vector<uint32_t> buckets(43, 0);
      buckets[22] = 208;
      buckets[2] = onlyType1 ? 0 : 928;
      buckets[23] = static_cast<uint32_t>(208 + 720 * (kept.size() - 1));
      for (size_t b = 0; b < 43; ++b)
        EXPECT_EQ(base::LoadLE32(&converted[36 + 4 * b]), buckets[b]) << "bucket " << b;
      const Bytes read = Slice(oldIntention, 0, OldIntentionSize(TypeOf(c.layout)));
      EXPECT_EQ(Get(kIntention), intention ? IntentionOf(c.layout, read) : Bytes(540, 0));
    }
  }
}

// A layout-4 entry of a database in its own directory gets its directory made absolute; one
// that cannot be resolved is recorded and kept. The current directory is given back.
TEST_F(ConverterTest, Layout4ResolvesTheDirectoryOfItsOwnDatabases) {
  machine_.MakeDirectory("D:\\DBS\\MAIN");
  for (auto [path, want] :
       {std::pair{"DBS\\MAIN", "D:\\DBS\\MAIN"}, {"D:\\NOWHERE", "D:\\NOWHERE"}}) {
    SCOPED_TRACE(path);
    ASSERT_EQ(platform::SetCurrentDirectoryText("D:\\"), 0);
    PutDirectory(OldDirectoryBytes(DatabaseDirectoryBuilder::Layout(4), 4, kLong,
                                   {{.name = "OWN", .type = '2', .path = path}}));
    const Outcome out = Convert(4, 0);
    ASSERT_EQ(out.code, 0);
    EXPECT_EQ(out.records, std::string(path) == want
                               ? Texts{"MTYPE4_998: OWN cannot resolved its directory path"}
                               : Texts());
    EXPECT_EQ(DirectoryText(Get(kDirectory), 208 + 38, 256), want);
    char current[260];
    ASSERT_EQ(platform::GetCurrentDirectoryText(current, sizeof current), 0);
    EXPECT_STREQ(current, "D:\\");
  }
  static_cast<void>(platform::SetCurrentDirectoryText("C:\\"));
}

}  // namespace
}  // namespace qz7::migrate::testing
