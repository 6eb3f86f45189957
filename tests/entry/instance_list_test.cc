// Records, their setters and the context's add rules.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "entry/instance_record.h"
#include "entry/setup_context.h"
#include "testkit/temp_machine.h"

namespace qz7::entry {
namespace {

InstanceRecord Plain(const char* name) {
  InstanceRecord record;
  FillPlainRecord(record, name, "acct", "pw");
  return record;
}

TEST(InstanceRecordTest, SetterCoupling) {
  struct Row {
    const char* name;
    bool setOwned;  // SetOwnedElsewhere(value), else SetNodeType(value)
    int32_t startType, startOwned, value, wantType, wantOwned;
  } rows[] = {
      {"owned_on_partitioned_unsets_type", true, 4, 0, 1, -1, 1},
      {"owned_zero_keeps_type", true, 4, 0, 0, 4, 0},
      {"type_4_keeps_owned", false, -1, 1, 4, 4, 1},
      {"other_type_clears_owned", false, 4, 1, 2, 2, 0},
  };
  for (const Row& row : rows) {
    InstanceRecord record;
    record.nodeType = row.startType;
    record.ownedElsewhere = row.startOwned;
    (row.setOwned ? SetOwnedElsewhere : SetNodeType)(record, row.value);
    EXPECT_EQ(record.nodeType, row.wantType) << row.name;
    EXPECT_EQ(record.ownedElsewhere, row.wantOwned) << row.name;
  }
}

TEST(InstanceRecordTest, ProfileDirQuoting) {
  using Pair = std::pair<const char*, const char*>;
  InstanceRecord record;
  for (auto [in, out] : {Pair{"C:\\P", "\"C:\\P\""}, Pair{"\"C:\\Q\"", "\"C:\\Q\""},
                         Pair{"", "\"\""}, Pair{nullptr, ""}}) {
    SetProfileDir(record, in);
    EXPECT_STREQ(record.profileDir.c_str(), out) << (in == nullptr ? "null" : in);
  }
}

TEST(AddInstanceRecordTest, ReplacesByNameWithoutCaseAndKeepsProfile) {
  SetupContext context;
  InstanceRecord first = Plain("QZ7");
  SetProfileDir(first, "C:\\OLD");
  ASSERT_EQ(AddInstanceRecord(context, Plain("OTHER"), true), 0);
  ASSERT_EQ(AddInstanceRecord(context, first, false), 1);
  EXPECT_EQ(context.defaultIndex, 0);

  InstanceRecord replacement = Plain("qz7");
  replacement.account = "new";
  EXPECT_EQ(AddInstanceRecord(context, replacement, false), 1);
  EXPECT_EQ(context.records.count(), 2);
  EXPECT_STREQ(context.records[1].name.c_str(), "qz7");
  EXPECT_STREQ(context.records[1].account.c_str(), "new");
  EXPECT_STREQ(context.records[1].profileDir.c_str(), "\"C:\\OLD\"");
  EXPECT_EQ(context.defaultIndex, -1) << "replacement without the mark clears the default";

  EXPECT_EQ(AddInstanceRecord(context, Plain("other"), true), 0);
  EXPECT_EQ(context.defaultIndex, 0);
  EXPECT_STREQ(context.records[0].profileDir.c_str(), "\"\"");  // empty comes back as ""
  EXPECT_EQ(AddInstanceRecord(context, Plain(""), true), -1);
  EXPECT_EQ(context.records.count(), 2);
}

TEST(AddInstanceRecordTest, GrowsByTenKeepingIndexes) {
  SetupContext context;
  for (int i = 0; i < 21; ++i) {
    ASSERT_EQ(AddInstanceRecord(context, Plain(("I" + std::to_string(i)).c_str()), false), i);
    EXPECT_EQ(context.records.capacity(), (i / 10 + 1) * 10) << i;
  }
  for (int i = 0; i < 21; ++i) EXPECT_EQ(context.records[i].name.view(), "I" + std::to_string(i));
}

TEST(AddAdminServerRecordTest, NamePreference) {
  testkit::TempMachine machine;
  machine.WriteText("C:\\PROF\\QZ7DAS00", "");
  machine.MakeDirectory("C:\\PROF\\QZ7DAS01");
  SetupContext context;
  context.targetProfileDir = "\"C:\\PROF\"";
  AddAdminServerRecord(context, "", "acct", "pw");
  ASSERT_EQ(context.adminIndex, 0);
  EXPECT_STREQ(context.records[0].name.c_str(), "QZ7DAS02");

  // The current administration server's name wins over a new free name, and the record is
  // overwritten in place.
  AddAdminServerRecord(context, nullptr, "other", nullptr);
  EXPECT_EQ(context.records.count(), 1);
  EXPECT_STREQ(context.records[0].name.c_str(), "QZ7DAS02");
  EXPECT_STREQ(context.records[0].account.c_str(), "other");

  SetupContext scanned;
  scanned.targetProfileDir = "\"C:\\PROF\"";
  scanned.existingScan = std::make_unique<ExistingInstanceScan>();
  scanned.existingScan->records.Append(Plain("DASOLD"));
  scanned.existingScan->adminIndex = 0;
  AddAdminServerRecord(scanned, "", nullptr, nullptr);
  EXPECT_STREQ(scanned.records[scanned.adminIndex].name.c_str(), "DASOLD");
}

}  // namespace
}  // namespace qz7::entry
