// The context's add rules: replacement by name, the default mark and growth.
#include <gtest/gtest.h>

#include <string>

#include "entry/instance_record.h"
#include "entry/setup_context.h"

namespace qz7::entry {
namespace {

InstanceRecord Plain(const char* name) {
  InstanceRecord record;
  FillPlainRecord(record, name, "acct", "pw");
  return record;
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

}  // namespace
}  // namespace qz7::entry
