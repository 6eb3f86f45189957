// Installing over an earlier release: an instance's configuration that must survive whatever
// else goes on in the run. What an uninterrupted upgrade carries over (instances, values,
// database and node directories, the client configuration file, the profile pointers) is
// checked for each machine of the interrupted-run loops before they start; each old layout's
// conversion is tested entry for entry where the migrations are.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/scenarios/scenario_fixture.h"
#include "tools/sample/dbm_block_builder.h"

namespace qz7::scenarios {
namespace {

using testkit::MakeOldInstance;

// An existing instance's configuration comes out of the run with its values, whatever the
// request for it and whatever fails on the way. What a conversion that cannot run leaves (the
// template as qz7systm, the old file under a numbered name beside it, message 3573 and the
// code logged) is the instance upgrade's tests'.
struct SurvivalRow {
  const char* name;
  std::vector<InstanceDescriptor> descriptors;
  std::vector<std::string> templates;  // of the installation (empty: all of them)
  int wantResult;
  std::vector<std::string> wantBoxes;  // "id parameters..."
  uint16_t wantNodeType;               // of the instance's qz7systm afterwards
};

void PrintTo(const SurvivalRow& row, std::ostream* out) { *out << row.name; }

class ConfigurationSurvivalTest : public ScenarioTest,
                                  public ::testing::WithParamInterface<SurvivalRow> {};

TEST_P(ConfigurationSurvivalTest, TheOldValuesAreNeverLost) {
  const SurvivalRow& row = GetParam();
  sample::SampleMachine plan = testkit::CurrentInstallation(QZ7_CLI_PATH);
  if (!row.templates.empty()) plan.templates = row.templates;
  const OldInstance sales = MakeOldInstance("SALES", {.seed = 7});
  testkit::AddOldInstance(plan, sales, kOldProfileDir);
  Build(plan);

  EXPECT_EQ(Upgrade(row.descriptors), row.wantResult);
  std::vector<std::string> boxes;
  for (const MessageRecorder::Box& box : messages_->boxes()) {
    boxes.push_back(std::to_string(box.id));
    for (const std::string& param : box.params) boxes.back() += " " + param;
  }
  EXPECT_EQ(boxes, row.wantBoxes);
  const std::string dir = std::string(kInstallDir) + "\\SALES";
  EXPECT_TRUE(ConfigurationCarried(sales, dir));
  EXPECT_EQ(ConfigField(dir, 40), row.wantNodeType);
  // The instance is whole where it moved: the profile registry points there, and nothing of
  // it was made again in the folder it came from (as an instance tool would that looked for
  // it where the registry still placed it).
  if (row.wantResult == 0) {
    EXPECT_EQ(Variable("SALES", "QZ7INSTPROF"), kInstallDir);
    EXPECT_FALSE(Exists(std::string(kOldProfileDir) + "\\SALES"));
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(WhateverHappens, ConfigurationSurvivalTest, ::testing::Values(
    SurvivalRow{"requested_again_by_name", {testkit::PlainDescriptor("sales", true)}, {}, 0, {},
                1},
    // Registered where it came from, it is first set up where it now lives.
    SurvivalRow{"made_partitioned_by_the_update_tool",
                {testkit::PartitionedDescriptor("SALES", "60000", "60003", "user", "pw")}, {}, 0,
                {}, 4},
    // Without a template the configuration cannot be upgraded either: reported, and the old
    // file stays in place (there is no template to put there).
    SurvivalRow{"no_server_template_so_creation_fails", {}, {"qz7syssv.das"}, 1,
                {"3594 -1033 SALES", "3573 SALES"}, 1}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
}  // namespace qz7::scenarios
