// The two directory migrations of one instance on real files, by directory size: a database
// directory of layout 3 (long header, entries of catalogued remote databases) and a node
// directory of layout 5. Each iteration puts the old files back and runs the whole migration:
// comparison, recognition, backup, conversion, completion.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "migrate/database_directory_migration.h"
#include "migrate/node_directory_migration.h"
#include "platform/file_system.h"
#include "testkit/migration_message_file.h"
#include "testkit/temp_machine.h"
#include "tools/sample/database_directory_builder.h"
#include "tools/sample/node_directory_builder.h"

namespace {

using Bytes = std::vector<unsigned char>;
constexpr const char* kInstance = "C:\\PROF\\QZ7";
constexpr const char* kInstall = "C:\\INST";

void PutBack(const qz7::testkit::TempMachine& machine, const std::string& folder,
             const std::vector<std::pair<const char*, const Bytes*>>& files,
             const std::vector<const char*>& leftovers) {
  for (const char* name : leftovers)
    static_cast<void>(qz7::platform::RemoveFile((folder + name).c_str()));  // absent ones too
  for (const auto& [name, bytes] : files) machine.WriteFile(folder + name, *bytes);
}

void BM_MigrateDatabaseDirectory(benchmark::State& state) {
  qz7::testkit::TempMachine machine;
  qz7::testkit::WriteMigrationMessageFile(kInstall, qz7::testkit::MigrationMessageFileLines());
  auto builder = qz7::sample::DatabaseDirectoryBuilder::Layout(3).Slots(43);
  for (int i = 0; i < state.range(0); ++i) {
    builder.AddEntry({.name = "DB" + std::to_string(i),
                      .databaseName = "DB" + std::to_string(i),
                      .type = '1',
                      .path = "C:"});
  }
  const Bytes directory = builder.Bytes();
  const Bytes intention = qz7::sample::IntentionFileBuilder(3).Bytes();
  const std::string folder = std::string(kInstance) + "\\SQLDBDIR\\";
  for (auto _ : state) {
    state.PauseTiming();
    PutBack(machine, folder,
            {{"SQLDBDIR", &directory}, {"SQLDBBAK", &directory}, {"SQLDBINS", &intention}},
            {"SQLDDDIR.BAK"});
    state.ResumeTiming();
    if (qz7::migrate::MigrateDatabaseDirectory(kInstance, kInstall) != 0) {
      state.SkipWithError("the migration failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_MigrateDatabaseDirectory)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

void BM_MigrateNodeDirectory(benchmark::State& state) {
  qz7::testkit::TempMachine machine;
  qz7::sample::NodeDirectoryBuilder builder(5);
  for (int i = 0; i < state.range(0); ++i) {
    builder.Add(
        qz7::sample::NodeEntryBuilder(5).NodeName("N" + std::to_string(i)).Text(27, 9, "TCPIP"));
  }
  const Bytes nodes = builder.Bytes();
  const std::string folder = std::string(kInstance) + "\\SQLNODIR\\";
  for (auto _ : state) {
    state.PauseTiming();
    PutBack(machine, folder, {{"SQLNODIR", &nodes}, {"SQLNOBAK", &nodes}}, {"SQLNDDIR.BAK"});
    state.ResumeTiming();
    if (qz7::migrate::MigrateNodeDirectory(kInstance) != 0) {
      state.SkipWithError("the migration failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_MigrateNodeDirectory)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
