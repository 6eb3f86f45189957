// Installing over an earlier release: an instance's configuration that must survive whatever
// else goes on in the run. What an uninterrupted upgrade carries over (instances, values,
// database and node directories, the client configuration file, the profile pointers) is
// checked for each machine of the interrupted-run loops before they start; each old layout's
// conversion is tested entry for entry where the migrations are.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/scenarios/scenario_fixture.h"
#include "tools/sample/dbm_block_builder.h"

namespace qz7::scenarios {
namespace {

using testkit::MakeOldInstance;

// An existing instance's configuration comes out of the run with its values, whatever the
// request for it and whatever fails on the way; where the conversion itself cannot run, the
// template takes the place of qz7systm (its node type shows) and the old file stays under a
// numbered name beside it.
struct SurvivalRow {
  const char* name;
  std::vector<InstanceDescriptor> descriptors;
  std::function<void(sample::SampleMachine&, OldInstance&)> prepare;
  int wantResult;
  std::vector<std::string> wantBoxes;  // "id parameters..."
  const char* wantLogged;              // a line the setup log must hold ("": none)
  ConfigFate wantFate;
  uint16_t wantNodeType;  // of the instance's qz7systm afterwards (0: not checked)
};

void PrintTo(const SurvivalRow& row, std::ostream* out) { *out << row.name; }

class ConfigurationSurvivalTest : public ScenarioTest,
                                  public ::testing::WithParamInterface<SurvivalRow> {};

TEST_P(ConfigurationSurvivalTest, TheOldValuesAreNeverLost) {
  const SurvivalRow& row = GetParam();
  sample::SampleMachine plan = testkit::CurrentInstallation(QZ7_CLI_PATH);
  OldInstance sales = MakeOldInstance("SALES", {.seed = 7});
  if (row.prepare) row.prepare(plan, sales);
  testkit::AddOldInstance(plan, sales, kOldProfileDir);
  Build(plan);

  EXPECT_EQ(Upgrade(row.descriptors), row.wantResult);
  std::vector<std::string> boxes;
  for (const MessageRecorder::Box& box : messages_->boxes()) {
    boxes.push_back(std::to_string(box.id));
    for (const std::string& param : box.params) boxes.back() += " " + param;
  }
  EXPECT_EQ(boxes, row.wantBoxes);
  if (row.wantLogged[0] != '\0') {
    EXPECT_THAT(messages_->LogLines(), ::testing::Contains(row.wantLogged));
  }
  const std::string dir = std::string(kInstallDir) + "\\SALES";
  EXPECT_EQ(ConfigurationFate(sales, dir), row.wantFate);
  EXPECT_TRUE(row.wantNodeType == 0 || ConfigField(dir, 40) == row.wantNodeType);
  // The instance is whole where it moved: the profile registry points there, and nothing of
  // it was made again in the folder it came from (as an instance tool would that looked for
  // it where the registry still placed it).
  if (row.wantResult == 0) {
    EXPECT_EQ(Variable("SALES", "QZ7INSTPROF"), kInstallDir);
    EXPECT_FALSE(Exists(std::string(kOldProfileDir) + "\\SALES"));
  }
}

using Machine = sample::SampleMachine;

// clang-format off
INSTANTIATE_TEST_SUITE_P(WhateverHappens, ConfigurationSurvivalTest, ::testing::Values(
    SurvivalRow{"requested_again_by_name", {testkit::PlainDescriptor("sales", true)}, nullptr, 0,
                {}, "", ConfigFate::kCarried, 1},
    // Registered where it came from, it is first set up where it now lives.
    SurvivalRow{"made_partitioned_by_the_update_tool",
                {testkit::PartitionedDescriptor("SALES", "60000", "60003", "user", "pw")}, nullptr,
                0, {}, "", ConfigFate::kCarried, 4},
    // Without a template the configuration cannot be upgraded either: reported, and the old
    // file stays in place (there is no template to put there).
    SurvivalRow{"no_server_template_so_creation_fails", {},
                [](Machine& plan, OldInstance&) { plan.templates = {"qz7syssv.das"}; }, 1,
                {"3594 -1033 SALES", "3573 SALES"}, "", ConfigFate::kCarried, 1},
    SurvivalRow{"old_file_damaged_so_conversion_fails", {},
                [](Machine&, OldInstance& old) { old.config[0] ^= 0x5A; }, 1, {"3573 SALES"},
                "The instance set-up ended with code -102.", ConfigFate::kCopyOnly, 1},
    SurvivalRow{"layout_0x700_into_a_template_of_another_node_type", {},
                [](Machine& plan, OldInstance& old) {
                  plan.templates = {"qz7sysst", "qz7syssv.das"};
                  old.config = sample::DbmBlockBuilder().Version(0x700).NodeType(1).Bytes();
                }, 1, {"3573 SALES"}, "The instance set-up ended with code -101.",
                ConfigFate::kCopyOnly, 5},
    SurvivalRow{"node_types_the_conversion_refuses", {},
                [](Machine& plan, OldInstance& old) {
                  plan.templates = {"qz7syssv", "qz7syssv.das"};
                  old.config = sample::DbmBlockBuilder().Version(0x800).NodeType(4).Bytes();
                }, 1, {"3573 SALES"}, "The instance set-up ended with code -5065.",
                ConfigFate::kCopyOnly, 1}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
}  // namespace qz7::scenarios
