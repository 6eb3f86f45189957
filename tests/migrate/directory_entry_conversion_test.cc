// The four directory converters: how each earlier layout's entries, header, hash block, slots
// and intention file reach the current layout, which entries are carried, and that both
// directory files end identical.
#include "migrate/directory_entry_conversion.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "testkit/database_directory_builder.h"
#include "testkit/old_directory_entries.h"
#include "tests/migrate/directory_conversion_fixture.h"
#include "util/coding.h"

namespace qz7::migrate::conversion_testing {
namespace {

// A layout as the converters see it: the file's header form and the flag the driver passes.
struct LayoutCase {
  const char* name;
  int layout;
  DirectoryHeaderForm form;
  int flag;
};
// Layouts 1 and 2 read the short header whatever the flag says, so their files are short.
constexpr LayoutCase kLayoutCases[] = {
    {"layout1_short", 1, kShort, 1}, {"layout1_long", 1, kLong, 0},
    {"layout2_short", 2, kShort, 1}, {"layout2_long", 2, kLong, 0},
    {"layout3_short", 3, kShort, 1}, {"layout3_long", 3, kLong, 0},
    {"layout4", 4, kLong, 0},
};

Bytes Pattern(size_t size, unsigned char seed) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(seed + i * 3);
  return bytes;
}

// An entry with every field set and every other old byte 0xEE.
OldEntryFields FullEntry(const std::string& name) {
  return {.name = name,
          .databaseName = "DB_" + name,
          .type = '1',
          .subdirectory = "SQL00007",
          .alias = "ALIAS",
          .flag = 0x5C,
          .path = "d:\\DATABASES\\MAIN",
          .comment = "a comment that is long enough to be cut at thirty bytes",
          .number16 = 0xA1B2,
          .number32 = 0xC3D4E5F6,
          .trailer32 = 0x01020304,
          .trailerByte = 0x7E,
          .extra340 = 0x1122,
          .extra342 = 0x3344,
          .databaseInfo = Pattern(312, 9),
          .tail = Pattern(16, 200),
          .fill = 0xEE};
}

DatabaseDirectoryBuilder Builder(const LayoutCase& c) {
  return DatabaseDirectoryBuilder::Layout(c.layout, c.form)
      .SecondCount(0x0707)
      .HeaderValue(0xCAFEF00D)
      .BlockValue(0x0506)
      .Slots(3);
}

class ConverterTest : public DirectoryConversionTest {};

TEST_F(ConverterTest, EveryLayoutCarriesItsFieldsAndDropsTheRest) {
  for (const LayoutCase& c : kLayoutCases) {
    SCOPED_TRACE(c.name);
    const std::vector<OldEntryFields> entries = {FullEntry("FIRST"), FullEntry("SECOND")};
    PutDirectory(OldDirectoryBytes(Builder(c), c.layout, c.form, entries));
    const ConversionOutcome out = Convert(c.layout, c.flag);
    ASSERT_EQ(out.code, 0) << out.key << " " << out.object;
    EXPECT_TRUE(out.records.empty());

    const Bytes converted = Get(kDirectory);
    EXPECT_EQ(Get(kCopy), converted) << "both directory files end identical";
    const CurrentFileView view = ReadCurrentFile(converted);
    ASSERT_TRUE(view.sizeMatches || c.layout == 1);
    EXPECT_EQ(view.signature, "QZ7 DIRECTORY");
    EXPECT_EQ(view.marker, 0x0400);
    EXPECT_EQ(view.entryCount, 2);
    EXPECT_EQ(view.secondCount, 0x0707);
    EXPECT_EQ(view.headerValue, 0xCAFEF00Du);
    EXPECT_EQ(view.blockValue, 0x0506);
    EXPECT_EQ(util::LoadLE16(&converted[26]), 0) << "two zero bytes before the value";
    EXPECT_EQ(util::LoadLE16(&converted[34]), 0) << "two zero bytes after the block value";

    // Layout 1 keeps the slot count in its header but carries no slots; a short layout-2 file
    // drops them and says so; the others carry them.
    const size_t slotsCarried = c.layout == 1 || (c.layout == 2 && c.flag == 1) ? 0 : 3;
    EXPECT_EQ(view.slotCount, c.layout == 2 && c.flag == 1 ? 0 : 3);
    EXPECT_EQ(converted.size(), 212 + 2 * slotsCarried + 2 * 720);
    const size_t slotsAt = 208 + 2 * 720;
    for (size_t i = 0; i < slotsCarried; ++i) {
      EXPECT_EQ(util::LoadLE16(&converted[slotsAt + 2 * i]), i + 1);
    }
    EXPECT_EQ(util::LoadLE32(&converted[converted.size() - 4]), 0xCAFEF00Du);

    for (size_t i = 0; i < entries.size(); ++i) {
      const Bytes got(converted.begin() + 208 + 720 * static_cast<std::ptrdiff_t>(i),
                      converted.begin() + 208 + 720 * static_cast<std::ptrdiff_t>(i + 1));
      const Bytes want = ExpectedConvertedEntry(c.layout, c.form, entries[i]);
      for (size_t b = 0; b < 720; ++b) {
        ASSERT_EQ(got[b], want[b]) << "entry " << i << " byte " << b;
      }
    }
  }
}

TEST_F(ConverterTest, HashBlockHoldsTheFirstEntryOfEachBucket) {
  // "A" (65) and "l" (108) differ by 43 and share bucket 22; "B" has 23; "" has 0.
  const std::vector<OldEntryFields> entries = {
      {.name = "B"}, {.name = "A"}, {.name = "l"}, {.name = ""}, {.name = "B"}};
  for (const LayoutCase& c : kLayoutCases) {
    SCOPED_TRACE(c.name);
    PutDirectory(OldDirectoryBytes(Builder(c), c.layout, c.form, entries));
    ASSERT_EQ(Convert(c.layout, c.flag).code, 0);
    const CurrentFileView view = ReadCurrentFile(Get(kDirectory));
    ASSERT_EQ(view.buckets.size(), 43u);
    for (size_t bucket = 0; bucket < 43; ++bucket) {
      uint32_t want = 0;
      if (bucket == 23) want = 208;
      if (bucket == 22) want = 208 + 720;
      if (bucket == 0) want = 208 + 3 * 720;
      EXPECT_EQ(view.buckets[bucket], want) << "bucket " << bucket;
    }
  }
}

TEST_F(ConverterTest, EmptyDirectoryGetsHeaderBlockAndClosingValue) {
  for (const LayoutCase& c : kLayoutCases) {
    SCOPED_TRACE(c.name);
    PutDirectory(
        DatabaseDirectoryBuilder::Layout(c.layout, c.form).HeaderValue(77).BlockValue(9).Bytes());
    ASSERT_EQ(Convert(c.layout, c.flag).code, 0);
    const Bytes converted = Get(kDirectory);
    ASSERT_EQ(converted.size(), 212u);
    const CurrentFileView view = ReadCurrentFile(converted);
    EXPECT_EQ(view.entryCount, 0);
    EXPECT_EQ(view.blockValue, 9);
    EXPECT_EQ(view.buckets, std::vector<uint32_t>(43, 0));
    EXPECT_EQ(view.closingValue, 77u);
    EXPECT_EQ(Get(kCopy), converted);
  }
}

TEST_F(ConverterTest, ShortHeaderKeepsOnlyCarriedEntries) {
  struct Row {
    const char* name;
    int layout;
    int flag;
    std::vector<std::string> kept;
    size_t slots;
    std::vector<std::pair<size_t, uint32_t>> buckets;
  } rows[] = {
      // Buckets: ZERO 19, ONE_A 42, TWO 35, ONE_B 0.
      {"layout2_short", 2, 1, {"ONE_A", "ONE_B"}, 0, {{42, 208}, {0, 928}}},
      {"layout3_short", 3, 1, {"ONE_A", "ONE_B"}, 3, {{42, 208}, {0, 928}}},
      {"layout1_keeps_all",
       1,
       1,
       {"ZERO", "ONE_A", "TWO", "ONE_B"},
       0,
       {{19, 208}, {42, 928}, {35, 1648}, {0, 2368}}},
  };
  const std::vector<OldEntryFields> entries = {
      {.name = "ZERO", .type = '0', .path = "D:"},
      {.name = "ONE_A", .type = '1'},
      {.name = "TWO", .type = '2', .subdirectory = "SQL00001"},
      {.name = "ONE_B", .type = '1'},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Remove(kReport);
    Put(kIntention, IntentionFileBuilder(row.layout).Bytes());
    const LayoutCase c{row.name, row.layout, kShort, row.flag};
    PutDirectory(OldDirectoryBytes(Builder(c), row.layout, kShort, entries));
    const ConversionOutcome out = Convert(row.layout, row.flag);
    ASSERT_EQ(out.code, 0);
    EXPECT_TRUE(out.records.empty()) << "no local database is checked under a short header";
    EXPECT_FALSE(Exists(kReport));
    const Bytes converted = Get(kDirectory);
    const CurrentFileView view = ReadCurrentFile(converted);
    EXPECT_EQ(view.entryCount, row.kept.size());
    ASSERT_EQ(converted.size(), 212 + 2 * row.slots + 720 * row.kept.size());
    for (size_t i = 0; i < row.kept.size(); ++i) {
      EXPECT_EQ(DirectoryText(converted, 208 + 720 * i, 9), row.kept[i]);
    }
    // The buckets hold the offsets the kept entries were written at.
    std::vector<uint32_t> buckets(43, 0);
    for (const auto& [bucket, offset] : row.buckets) buckets[bucket] = offset;
    EXPECT_EQ(view.buckets, buckets);
  }
}

TEST_F(ConverterTest, OnlyTheCopyExists) {
  for (const LayoutCase& c : kLayoutCases) {
    SCOPED_TRACE(c.name);
    Remove(kDirectory);
    Put(kCopy, OldDirectoryBytes(Builder(c), c.layout, c.form, {FullEntry("ONLY")}));
    const ConversionOutcome out = Convert(c.layout, c.flag, false, true);
    ASSERT_EQ(out.code, 0) << out.key;
    const Bytes converted = Get(kDirectory);
    EXPECT_EQ(Get(kCopy), converted);
    EXPECT_EQ(util::LoadLE16(&converted[18]), 0x0400);
    EXPECT_EQ(DirectoryText(converted, 208, 9), "ONLY");
  }
}

TEST_F(ConverterTest, IntentionFile) {
  const Bytes layout2 = IntentionFileBuilder(2)
                            .Value(0x0102)
                            .Name("SAMPLE")
                            .FirstPath("C:\\OLD\\PATH1")
                            .SecondPath("C:\\NEW\\PATH2")
                            .Bytes();
  const Bytes layout3 = IntentionFileBuilder(3)
                            .Value(0x0304)
                            .Name("PAYROLL")
                            .FirstPath(std::string(200, 'F'))
                            .SecondPath("C:\\SECOND")
                            .Bytes();
  const Bytes layout4 = IntentionFileBuilder(4)
                            .Value(0x0506)
                            .Name("SALES")
                            .FirstPath("D:\\FIRST")
                            .SecondPath("D:\\SECOND")
                            .Extra("EXTRA")
                            .Bytes();
  struct Row {
    const char* name;
    int layout;
    DirectoryHeaderForm form;
    Bytes old;  // empty: no old intention file
    MigrationResult want;
    std::string key;
    uint16_t value;
    std::string text2, text11, text267, text523;
  } rows[] = {
      {"layout1_always_zero", 1, kShort, layout2, 0, "", 0, "", "", "", ""},
      {"layout1_without_old", 1, kShort, {}, 0, "", 0, "", "", "", ""},
      {"layout2", 2, kShort, layout2, 0, "", 0x0102, "SAMPLE", "C:\\OLD\\PATH1", "C:\\NEW\\PATH2",
       ""},
      {"layout3", 3, kLong, layout3, 0, "", 0x0304, "PAYROLL", std::string(200, 'F'), "C:\\SECOND",
       ""},
      {"layout4", 4, kLong, layout4, 0, "", 0x0506, "SALES", "D:\\FIRST", "D:\\SECOND", "EXTRA"},
      {"layout3_missing_is_built_from_zeros", 3, kLong, {}, 0, "", 0, "", "", "", ""},
      {"layout4_missing_is_built_from_zeros", 4, kLong, {}, 0, "", 0, "", "", "", ""},
      {"layout2_missing", 2, kShort, {}, kMigrationCannotOpen, "MTYPE2_033", 0, "", "", "", ""},
      {"layout2_short_file", 2, kShort, Bytes(20, 1), kMigrationReadError, "MTYPE2_034", 0, "", "",
       "", ""},
      {"layout3_short_file", 3, kLong, layout2, kMigrationReadError, "MTYPE3_041", 0, "", "", "",
       ""},
      {"layout4_short_file", 4, kLong, layout3, kMigrationReadError, "MTYPE4_031", 0, "", "", "",
       ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Remove(kIntention);
    if (!row.old.empty()) Put(kIntention, row.old);
    const LayoutCase c{row.name, row.layout, row.form, row.form == kShort ? 1 : 0};
    PutDirectory(OldDirectoryBytes(Builder(c), row.layout, row.form, {FullEntry("X")}));
    const ConversionOutcome out = Convert(row.layout, c.flag);
    EXPECT_EQ(out.code, row.want);
    EXPECT_EQ(out.key, row.key);
    if (row.want != 0) {
      EXPECT_EQ(out.object, kIntention);
      continue;
    }
    const Bytes intention = Get(kIntention);
    ASSERT_EQ(intention.size(), 540u);
    EXPECT_EQ(util::LoadLE16(&intention[0]), row.value);
    EXPECT_EQ(DirectoryText(intention, 2, 9), row.text2);
    EXPECT_EQ(DirectoryText(intention, 11, 256), row.text11);
    EXPECT_EQ(DirectoryText(intention, 267, 256), row.text267);
    EXPECT_EQ(DirectoryText(intention, 523, 10), row.text523);
    EXPECT_EQ(Bytes(intention.begin() + 533, intention.end()), Bytes(7, 0));
  }
}

TEST_F(ConverterTest, Layout4ResolvesTheDirectoryOfItsOwnDatabases) {
  machine_.MakeDirectory("D:\\DBS\\MAIN");
  struct Row {
    const char* name;
    char type;
    const char* path;
    const char* want;
    std::vector<std::string> records;
  } rows[] = {
      {"relative_to_current_directory", '2', "DBS\\MAIN", "D:\\DBS\\MAIN", {}},
      {"dots_removed", '2', "D:\\DBS\\..\\DBS\\MAIN", "D:\\DBS\\MAIN", {}},
      {"missing_directory_kept",
       '2',
       "D:\\NOWHERE",
       "D:\\NOWHERE",
       {"MTYPE4_998: OWN cannot resolved its directory path"}},
      {"other_types_untouched", '1', "DBS\\MAIN", "DBS\\MAIN", {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_EQ(platform::SetCurrentDirectoryText("D:\\"), 0);
    PutDirectory(OldDirectoryBytes(DatabaseDirectoryBuilder::Layout(4), 4, kLong,
                                   {{.name = "OWN", .type = row.type, .path = row.path}}));
    const ConversionOutcome out = Convert(4, 0);
    ASSERT_EQ(out.code, 0);
    EXPECT_EQ(out.records, row.records);
    EXPECT_EQ(DirectoryText(Get(kDirectory), 208 + 38, 256), row.want);
    char current[260];
    ASSERT_EQ(platform::GetCurrentDirectoryText(current, sizeof current), 0);
    EXPECT_STREQ(current, "D:\\") << "the current directory is given back";
  }
  platform::SetCurrentDirectoryText("C:\\");
}

}  // namespace
}  // namespace qz7::migrate::conversion_testing
