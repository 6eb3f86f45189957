// sqlfvald with 200 parameter records on a real 4096-byte configuration file: a checking call,
// and a committing call that writes the file back.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "qz7instm.h"
#include "testkit/dbm_block_builder.h"
#include "testkit/recording_host.h"
#include "testkit/temp_machine.h"

namespace {

constexpr char kConfig[] = "C:\\INST\\qz7systm";
constexpr int kRecords = 200;

// Values every one of which a kind-1 configuration accepts, cycled to make up the records.
struct Setting {
  uint16_t token;
  const char* value;
};
constexpr Setting kSettings[] = {
    {12, "200"},    {13, "-1"},     {15, "1000"},
    {18, "64"},     {19, "64"},     {20, "restart"},
    {21, "1000"},   {26, "SYSTEM"}, {30, "ON"},
    {40, "YES"},    {41, "60"},     {43, "256"},
    {44, "-1"},     {45, "1000"},   {49, "2000"},
    {61, "100"},    {7, "NODE1  "}, {77, "TCPIP, NETBIOS"},
    {305, "tcpip"}, {304, "KNOWN"}, {71, "ABCD"},
    {92, "MYDB"},   {303, "-1"},    {502, "-1"},
};

std::vector<sqlf_cfg_parameter> MakeRecords(bool commit) {
  std::vector<sqlf_cfg_parameter> records;
  for (int i = 0; records.size() < kRecords - (commit ? 1 : 0); ++i) {
    const Setting& setting = kSettings[i % std::size(kSettings)];
    records.push_back({setting.token, const_cast<char*>(setting.value), 0});
  }
  if (commit) records.push_back({SQLF_COMMIT_TOKEN, const_cast<char*>(""), 0});
  return records;
}

void RunSqlfvald(benchmark::State& state, bool commit) {
  qz7::testkit::TempMachine machine;
  machine.MakeDirectory("C:\\INST");
  qz7::testkit::RecordingHost host;
  qz7::testkit::ScopedHost scoped(&host);
  qz7::testkit::DbmBlockBuilder()
      .NodeType(1)
      .U32(0x4C, 100)
      .U32(0xC0C, 0xFFFFFFFF)
      .U32(0x58, 1000)
      .WriteTo(kConfig);
  std::vector<sqlf_cfg_parameter> records = MakeRecords(commit);
  const int expected = 0;
  for (auto _ : state) {
    int result = sqlfvald(records.data(), const_cast<char*>(kConfig), kRecords);
    if (result != expected) {
      state.SkipWithError("sqlfvald did not accept every record");
      break;
    }
    benchmark::DoNotOptimize(result);
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}

void BM_SqlfvaldCheck200(benchmark::State& state) { RunSqlfvald(state, false); }
void BM_SqlfvaldCommit200(benchmark::State& state) { RunSqlfvald(state, true); }

BENCHMARK(BM_SqlfvaldCheck200);
BENCHMARK(BM_SqlfvaldCommit200);

}  // namespace

BENCHMARK_MAIN();
