// Every benchmark of the library in one run, printed as one table. Each row is set against a
// reference measured in the same run on the same machine, so that the ratio means something
// on a loaded machine: one durable copy (read, write, fsync) of the same directory file for a
// migration, the same migration without its lookups for the lookup rows, `cp -r` for a tree.
// A migration row also has one durable copy of a file of the size of its output (the converted
// directory file, larger than the input where the conversion widens the entries).
// A size series also gives its growth: the time per entry of a step over that of the step
// before (1.00 is linear). Peak memory is the resident memory a migration adds while it runs.
//
//   cmake --build build/default --target bench_table
#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/node_directory_layout.h"
#include "migrate/database_directory_migration.h"
#include "migrate/node_directory_migration.h"
#include "platform/file_system.h"
#include "platform/machine_root.h"
#include "qz7instm.h"
#include "testkit/local_database_builder.h"
#include "testkit/message_recorder.h"
#include "testkit/migration_message_file.h"
#include "testkit/recording_host.h"
#include "testkit/scenario_machines.h"
#include "testkit/temp_machine.h"
#include "tools/sample/database_directory_builder.h"
#include "tools/sample/dbm_block_builder.h"
#include "tools/sample/node_directory_builder.h"
#include "tools/sample/sample_machine.h"
#include "upgrade/dbm_configuration_conversion.h"
#include "upgrade/folder_tree.h"

namespace qz7 {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;

constexpr const char* kInstance = "C:\\PROF\\QZ7";
constexpr const char* kInstall = "C:\\INST";

// ---------------------------------------------------------------------------------------------
// Measuring

double Seconds(const std::function<void()>& work) {
  const auto start = Clock::now();
  work();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The best of reps runs of work, each after an untimed setup.
double Best(int reps, const std::function<void()>& setup, const std::function<void()>& work) {
  double best = 1e300;
  for (int i = 0; i < reps; ++i) {
    if (setup) setup();
    best = std::min(best, Seconds(work));
  }
  return best;
}

// The processor time (user and system) this process and the children it has waited for have
// used so far.
double ProcessorSeconds() {
  double total = 0;
  for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
    struct rusage usage;
    if (getrusage(who, &usage) != 0) continue;
    for (const struct timeval& time : {usage.ru_utime, usage.ru_stime}) {
      total += static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
    }
  }
  return total;
}

// The least processor time of reps runs of work, each after an untimed setup: on a machine
// that others share, the time a run waits for a processor does not count.
double LeastProcessor(int reps, const std::function<void()>& setup,
                      const std::function<void()>& work) {
  double least = 1e300;
  for (int i = 0; i < reps; ++i) {
    if (setup) setup();
    const double start = ProcessorSeconds();
    work();
    least = std::min(least, ProcessorSeconds() - start);
  }
  return least;
}

long StatusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(field) + ":";
  while (std::getline(status, line)) {
    if (line.rfind(prefix, 0) == 0) return std::atol(line.c_str() + prefix.size());
  }
  return -1;
}

// The resident memory work adds at its peak, in KiB (the peak mark is reset first). The
// memory that earlier runs freed but the allocator kept is handed back first: work would
// otherwise reuse those resident pages and seem to add nothing.
long PeakAddedKb(const std::function<void()>& work) {
  malloc_trim(0);
  {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
  }
  const long before = StatusKb("VmRSS");
  work();
  const long peak = StatusKb("VmHWM");
  return before < 0 || peak < 0 ? -1 : std::max(0L, peak - before);
}

// One durable copy of a host file: read it whole, write it to a new file, fsync, close.
void DurableCopy(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const int fd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote <= 0) break;
    done += static_cast<size_t>(wrote);
  }
  ::fsync(fd);
  ::close(fd);
}

double DurableCopySeconds(const std::string& hostFile, int reps) {
  const std::string to = hostFile + ".refcopy";
  const double best = Best(reps, nullptr, [&] { DurableCopy(hostFile, to); });
  ::unlink(to.c_str());
  return best;
}

double DurableCopyProcessorSeconds(const std::string& hostFile, int reps) {
  const std::string to = hostFile + ".refcopy";
  const double least = LeastProcessor(reps, nullptr, [&] { DurableCopy(hostFile, to); });
  ::unlink(to.c_str());
  return least;
}

// The note of a row's processor times: the least of its runs against that of its reference's,
// which the waits for a processor shared with other work do not move.
std::string ProcessorNote(double seconds, double referenceSeconds, const char* reference) {
  return "processor time " + std::to_string(seconds / referenceSeconds).substr(0, 5) + "x " +
         reference + " (" + std::to_string(static_cast<int>(seconds * 1000)) + " / " +
         std::to_string(static_cast<int>(referenceSeconds * 1000)) + " ms)";
}

bool Shell(const std::string& command) { return std::system(command.c_str()) == 0; }

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// ---------------------------------------------------------------------------------------------
// The table

struct Row {
  std::string what;
  std::string size;
  double seconds = NAN;
  std::string reference;
  double referenceSeconds = NAN;
  double growth = NAN;
  long peakKb = -1;
  long fileKb = -1;
  std::string note;
  // For a migration: one durable copy of a file of the size of what it wrote (its converted
  // directory file), which for a directory that grows in conversion is the larger reference.
  double outputCopySeconds = NAN;
};

std::vector<Row> rows;

std::string Ratio(double seconds, double reference) {
  if (std::isnan(seconds) || std::isnan(reference)) return "";
  return std::to_string(seconds / reference).substr(0, 5) + "x";
}

void Print(const Row& row) {
  std::printf(
      "| %-44s | %13s | %9s | %-28s | %9s | %6s | %9s | %6s | %6s | %17s | %s\n", row.what.c_str(),
      row.size.c_str(),
      std::isnan(row.seconds) ? "-" : (std::to_string(row.seconds * 1000).substr(0, 8)).c_str(),
      row.reference.c_str(),
      std::isnan(row.referenceSeconds)
          ? "-"
          : std::to_string(row.referenceSeconds * 1000).substr(0, 8).c_str(),
      std::isnan(row.seconds) || std::isnan(row.referenceSeconds)
          ? "-"
          : (std::to_string(row.seconds / row.referenceSeconds).substr(0, 5) + "x").c_str(),
      std::isnan(row.outputCopySeconds)
          ? ""
          : std::to_string(row.outputCopySeconds * 1000).substr(0, 8).c_str(),
      Ratio(row.seconds, row.outputCopySeconds).c_str(),
      std::isnan(row.growth) ? "" : std::to_string(row.growth).substr(0, 4).c_str(),
      row.peakKb < 0 ? ""
                     : (std::to_string(row.peakKb / 1024) + " MB / " +
                        std::to_string(row.fileKb / 1024) + " MB")
                           .c_str(),
      row.note.c_str());
  std::fflush(stdout);
}

void Add(Row row) {
  rows.push_back(row);
  Print(row);
}

// The time per item of this step over that of the step before: 1.00 is linear.
double Growth(double seconds, int items, double previousSeconds, int previousItems) {
  if (previousItems <= 0 || std::isnan(previousSeconds)) return NAN;
  return (seconds / items) / (previousSeconds / previousItems);
}

int RepsFor(int entries) { return entries >= 60000 ? 2 : entries >= 10000 ? 3 : 5; }

// ---------------------------------------------------------------------------------------------
// Database directory migration

struct DatabaseInput {
  Bytes directory;
  Bytes intention;
};

DatabaseInput DatabaseDirectory(int layout, int entries, char type, const std::string& path) {
  const bool shortHeader = layout <= 2;
  auto builder = sample::DatabaseDirectoryBuilder::Layout(
      layout,
      shortHeader ? sample::DirectoryHeaderForm::kShort : sample::DirectoryHeaderForm::kLong);
  builder.Slots(43);
  for (int i = 0; i < entries; ++i) {
    builder.AddEntry({.name = "DB" + std::to_string(i),
                      .databaseName = "LDB" + std::to_string(i),
                      .type = type,
                      .path = path});
  }
  return {builder.Bytes(), sample::IntentionFileBuilder(layout).Bytes()};
}

class DatabaseMigration {
 public:
  DatabaseMigration(const testkit::TempMachine& machine, DatabaseInput input)
      : machine_(machine), input_(std::move(input)) {}

  void Reset() const {
    const std::string folder = std::string(kInstance) + "\\SQLDBDIR\\";
    for (const char* name : {"SQLDDDIR.BAK", "SQLDDDIR.TMP", "SQLDDDIR.NEW", "SQLDDDIR.RPT"}) {
      static_cast<void>(platform::RemoveFile((folder + name).c_str()));  // absent ones too
    }
    machine_.WriteFile(folder + "SQLDBDIR", input_.directory);
    machine_.WriteFile(folder + "SQLDBBAK", input_.directory);
    machine_.WriteFile(folder + "SQLDBINS", input_.intention);
  }
  void Run() const {
    if (migrate::MigrateDatabaseDirectory(kInstance, kInstall) != 0) {
      std::fprintf(stderr, "a database directory migration failed\n");
      std::exit(1);
    }
  }
  std::string DirectoryHostPath() const {
    return machine_.HostPath(std::string(kInstance) + "\\SQLDBDIR\\SQLDBDIR");
  }
  size_t DirectorySize() const { return input_.directory.size(); }

 private:
  const testkit::TempMachine& machine_;
  DatabaseInput input_;
};

void DatabaseDirectoryRows() {
  testkit::TempMachine machine;
  testkit::WriteMigrationMessageFile(kInstall, testkit::MigrationMessageFileLines());
  for (int layout = 1; layout <= 4; ++layout) {
    double previous = NAN;
    int previousEntries = 0;
    for (int entries : {1000, 10000, 60000}) {
      DatabaseMigration migration(machine, DatabaseDirectory(layout, entries, '1', "C:"));
      const int reps = RepsFor(entries);
      Row row;
      row.what = "database directory, layout " + std::to_string(layout) +
                 (layout <= 2 ? " (short header)" : " (long header)");
      row.size = std::to_string(entries) + " entries";
      row.seconds = Best(
          reps, [&] { migration.Reset(); }, [&] { migration.Run(); });
      row.outputCopySeconds = DurableCopySeconds(migration.DirectoryHostPath(), reps);
      migration.Reset();
      row.reference = "durable copy of SQLDBDIR";
      row.referenceSeconds = DurableCopySeconds(migration.DirectoryHostPath(), reps);
      row.growth = Growth(row.seconds, entries, previous, previousEntries);
      if (entries == 60000) {
        migration.Reset();
        row.peakKb = PeakAddedKb([&] { migration.Run(); });
        row.fileKb = static_cast<long>(migration.DirectorySize() / 1024);
        const double processor = LeastProcessor(
            reps, [&] { migration.Reset(); }, [&] { migration.Run(); });
        migration.Reset();
        row.note = ProcessorNote(
            processor, DurableCopyProcessorSeconds(migration.DirectoryHostPath(), reps), "copy");
      }
      previous = row.seconds;
      previousEntries = entries;
      Add(row);
    }
  }
}

// Layout-3 entries of type "0", every one found in the local database directory of drive D:,
// which holds as many databases; against the same directory with entries of type "1".
void LocalLookupRows() {
  testkit::TempMachine machine;
  machine.AddDrive('D');
  testkit::WriteMigrationMessageFile(kInstall, testkit::MigrationMessageFileLines());
  double previous = NAN;
  int previousEntries = 0;
  for (int entries : {1000, 2000, 20000}) {
    std::vector<testkit::LocalDatabaseEntry> locals;
    for (int i = 0; i < entries; ++i) {
      locals.push_back({"LDB" + std::to_string(i), testkit::DatabaseInfoPattern(i & 0xFF)});
    }
    const Bytes local = testkit::LocalDatabaseDirectoryBytes(locals);
    machine.WriteFile("D:\\SQLDBDIR\\SQLDBDIR", local);
    machine.WriteFile("D:\\SQLDBDIR\\SQLDBBAK", local);
    Row row;
    row.what = "local lookups, layout 3, type \"0\"";
    row.size = std::to_string(entries) + " x " + std::to_string(entries);
    // Today's lookups grow with the square of the size: a size whose projection from the step
    // before is past a minute is not run.
    const double projected = std::isnan(previous) ? 0
                                                  : previous * (entries / double(previousEntries)) *
                                                        (entries / double(previousEntries));
    DatabaseMigration plain(machine, DatabaseDirectory(3, entries, '1', "D:"));
    const int reps = entries >= 20000 ? 2 : 3;
    row.reference = "same without lookups";
    row.referenceSeconds = Best(
        reps, [&] { plain.Reset(); }, [&] { plain.Run(); });
    if (projected > 60) {
      row.note = "not run: about " + std::to_string(static_cast<int>(projected)) +
                 " s projected from the step before";
      Add(row);
      continue;
    }
    DatabaseMigration lookups(machine, DatabaseDirectory(3, entries, '0', "D:"));
    row.seconds = Best(
        projected > 5 ? 1 : reps, [&] { lookups.Reset(); }, [&] { lookups.Run(); });
    row.outputCopySeconds = DurableCopySeconds(lookups.DirectoryHostPath(), reps);
    if (machine.Exists(std::string(kInstance) + "\\SQLDBDIR\\SQLDDDIR.RPT")) {
      row.note = "some lookups failed";
    }
    row.growth = Growth(row.seconds, entries, previous, previousEntries);
    if (entries == 20000) {
      lookups.Reset();
      row.peakKb = PeakAddedKb([&] { lookups.Run(); });
      row.fileKb = static_cast<long>((lookups.DirectorySize() + 2 * local.size()) / 1024);
      row.note += "peak against the directory and both local copies";
      lookups.Reset();
      const double copy = DurableCopySeconds(lookups.DirectoryHostPath(), reps);
      row.note += "; " + std::to_string(row.seconds / copy).substr(0, 5) + "x durable copy";
    }
    previous = row.seconds;
    previousEntries = entries;
    Add(row);
  }
}

// ---------------------------------------------------------------------------------------------
// Node directory migration

class NodeMigration {
 public:
  NodeMigration(const testkit::TempMachine& machine, int layout, int entries) : machine_(machine) {
    sample::NodeDirectoryBuilder builder(layout);
    for (int i = 0; i < entries; ++i) {
      builder.Add(sample::NodeEntryBuilder(layout).NodeName("N" + std::to_string(i)));
    }
    nodes_ = builder.Bytes();
  }
  void Reset() const {
    const std::string folder = std::string(kInstance) + "\\SQLNODIR\\";
    for (const char* name : {"SQLNDDIR.BAK", "SQLNDDIR.TMP", "SQLNDDIR.NEW"}) {
      static_cast<void>(platform::RemoveFile((folder + name).c_str()));  // absent ones too
    }
    machine_.WriteFile(folder + "SQLNODIR", nodes_);
    machine_.WriteFile(folder + "SQLNOBAK", nodes_);
  }
  void Run() const {
    if (migrate::MigrateNodeDirectory(kInstance) != 0) {
      std::fprintf(stderr, "a node directory migration failed\n");
      std::exit(1);
    }
  }
  std::string FileHostPath() const {
    return machine_.HostPath(std::string(kInstance) + "\\SQLNODIR\\SQLNODIR");
  }
  size_t FileSize() const { return nodes_.size(); }

 private:
  const testkit::TempMachine& machine_;
  Bytes nodes_;
};

void NodeDirectoryRows() {
  for (int layout : {1, 5}) {
    testkit::TempMachine machine;
    double previous = NAN;
    int previousEntries = 0;
    for (int entries : {1000, 10000, 60000}) {
      NodeMigration migration(machine, layout, entries);
      const int reps = RepsFor(entries);
      Row row;
      row.what = "node directory, layout " + std::to_string(layout);
      row.size = std::to_string(entries) + " nodes";
      row.seconds = Best(
          reps, [&] { migration.Reset(); }, [&] { migration.Run(); });
      row.outputCopySeconds = DurableCopySeconds(migration.FileHostPath(), reps);
      migration.Reset();
      row.reference = "durable copy of SQLNODIR";
      row.referenceSeconds = DurableCopySeconds(migration.FileHostPath(), reps);
      row.growth = Growth(row.seconds, entries, previous, previousEntries);
      if (entries == 60000) {
        migration.Reset();
        row.peakKb = PeakAddedKb([&] { migration.Run(); });
        row.fileKb = static_cast<long>(migration.FileSize() / 1024);
      }
      previous = row.seconds;
      previousEntries = entries;
      Add(row);
    }
  }

  // The DCS rule: every node named by one catalogued database, half of those databases in
  // the DCS directory, which holds as many names as there are nodes.
  testkit::TempMachine machine;
  const int entries = 60000;
  NodeMigration migration(machine, 5, entries);
  sample::CurrentDatabaseDirectoryBuilder databases;
  sample::DcsDirectoryBuilder dcs;
  for (int i = 0; i < entries; ++i) {
    databases.Add("C" + std::to_string(i), "DB" + std::to_string(i), '1', "N" + std::to_string(i));
    dcs.Add((i % 2 == 0 ? "DB" : "GW") + std::to_string(i));
  }
  const std::string prefix = std::string(kInstance) + "\\";
  const std::string dcsPath = prefix + base::kNodeDcsDirectorySubpath;
  machine.WriteFile(prefix + base::kNodeSystemDirectorySubpath, databases.Bytes());
  Row row;
  row.what = "node directory, layout 5, DCS rule";
  row.size = "60000 x 60000 x 60000";
  row.reference = "same without a DCS directory";
  const auto reset = [&] { migration.Reset(); };
  const auto run = [&] { migration.Run(); };
  row.referenceSeconds = Best(3, reset, run);
  const double referenceProcessor = LeastProcessor(3, reset, run);
  machine.WriteFile(dcsPath, dcs.Bytes());
  row.seconds = Best(3, reset, run);
  const double processor = LeastProcessor(3, reset, run);
  row.outputCopySeconds = DurableCopySeconds(migration.FileHostPath(), 2);
  migration.Reset();
  const double copy = DurableCopySeconds(migration.FileHostPath(), 2);
  row.note = std::to_string(row.seconds / copy).substr(0, 5) + "x durable copy; " +
             ProcessorNote(processor, referenceProcessor, "without");
  Add(row);
}

// ---------------------------------------------------------------------------------------------
// Configuration files

void ConfigurationRows() {
  testkit::TempMachine machine;
  machine.MakeDirectory("C:\\INST");
  testkit::RecordingHost host;
  testkit::ScopedHost scoped(&host);
  const Bytes old = sample::DbmBlockBuilder().Version(0x800).U32(76, 300).Bytes();
  const Bytes templ = sample::DbmBlockBuilder().U32(76, 200).Bytes();
  constexpr const char* kNew = "C:\\INST\\qz7systm";
  constexpr const char* kOld = "C:\\INST\\00000001.000";
  constexpr int kRounds = 200;
  machine.WriteFile(kOld, old);
  const double reference = DurableCopySeconds(machine.HostPath(kOld), kRounds);
  {
    double total = 0;
    for (int i = 0; i < kRounds; ++i) {
      machine.WriteFile(kNew, templ);
      total += Seconds([&] {
        if (upgrade::ConvertDbmConfiguration(kNew, kOld) != 0) std::exit(1);
      });
    }
    Add({.what = "qz7systm conversion",
         .size = "4096 bytes",
         .seconds = total / kRounds,
         .reference = "durable copy of qz7systm",
         .referenceSeconds = reference,
         .note = "mean of 200"});
  }

  struct Setting {
    uint16_t token;
    const char* value;
  };
  static constexpr Setting kSettings[] = {
      {12, "200"},    {13, "-1"},     {15, "1000"},
      {18, "64"},     {19, "64"},     {20, "restart"},
      {21, "1000"},   {26, "SYSTEM"}, {30, "ON"},
      {40, "YES"},    {41, "60"},     {43, "256"},
      {44, "-1"},     {45, "1000"},   {49, "2000"},
      {61, "100"},    {7, "NODE1  "}, {77, "TCPIP, NETBIOS"},
      {305, "tcpip"}, {304, "KNOWN"}, {71, "ABCD"},
      {92, "MYDB"},   {303, "-1"},    {502, "-1"},
  };
  for (bool commit : {false, true}) {
    sample::DbmBlockBuilder()
        .NodeType(1)
        .U32(0x4C, 100)
        .U32(0xC0C, 0xFFFFFFFF)
        .U32(0x58, 1000)
        .WriteTo(kNew);
    std::vector<sqlf_cfg_parameter> records;
    for (int i = 0; records.size() < (commit ? 199u : 200u); ++i) {
      const Setting& setting = kSettings[i % std::size(kSettings)];
      records.push_back({setting.token, const_cast<char*>(setting.value), 0});
    }
    if (commit) records.push_back({SQLF_COMMIT_TOKEN, const_cast<char*>(""), 0});
    double total = 0;
    for (int i = 0; i < kRounds; ++i) {
      total += Seconds([&] {
        if (sqlfvald(records.data(), const_cast<char*>(kNew), 200) != 0) std::exit(1);
      });
    }
    Add({.what = commit ? "sqlfvald, 200 records, committing" : "sqlfvald, 200 records, checking",
         .size = "200 records",
         .seconds = total / kRounds,
         .reference = "durable copy of qz7systm",
         .referenceSeconds = reference,
         .note = "mean of 200"});
  }
}

// ---------------------------------------------------------------------------------------------
// Trees

void TreeRow(const std::string& what, int folders, int filesPerFolder, size_t fileSize) {
  testkit::TempMachine machine;
  const std::string source = "C:\\TREE";
  const std::string destination = "C:\\COPY";
  const Bytes content(fileSize, 0x5A);
  for (int f = 0; f < folders; ++f) {
    const std::string folder = folders == 1 ? source : source + "\\DIR" + std::to_string(f);
    machine.MakeDirectory(folder);
    for (int i = 0; i < filesPerFolder; ++i) {
      const std::string path = folder + "\\FILE" + std::to_string(i) + ".DAT";
      std::ofstream(machine.HostPath(path), std::ios::binary)
          .write(reinterpret_cast<const char*>(content.data()), content.size());
    }
  }
  const std::string hostDestination = machine.HostPath(destination);
  const auto clear = [&] { fs::remove_all(hostDestination); };
  Row row;
  row.what = what;
  row.size = std::to_string(folders * filesPerFolder) + " files";
  row.seconds = Best(3, clear, [&] {
    if (upgrade::CopyDirectoryTree(source.c_str(), destination.c_str(), false) != 0) {
      std::fprintf(stderr, "CopyDirectoryTree failed\n");
      std::exit(1);
    }
  });
  row.reference = "cp -r";
  const std::string command =
      "cp -r " + Quoted(machine.HostPath(source)) + " " + Quoted(hostDestination);
  row.referenceSeconds = Best(3, clear, [&] { Shell(command); });
  const double processor = LeastProcessor(3, clear, [&] {
    static_cast<void>(upgrade::CopyDirectoryTree(source.c_str(), destination.c_str(), false));
  });
  const double referenceProcessor = LeastProcessor(3, clear, [&] { Shell(command); });
  row.note = "processor time " + Ratio(processor, referenceProcessor) + " (" +
             std::to_string(static_cast<int>(processor * 1000)) + " / " +
             std::to_string(static_cast<int>(referenceProcessor * 1000)) + " ms)";
  Add(row);
}

// ---------------------------------------------------------------------------------------------
// A whole upgrade

// The qz7inst program the upgrade rows run: $QZ7_BENCH_QZ7INST when set (to measure another
// build against this one's table), else the one built with this program.
std::string UpgradeProgram() {
  const char* other = std::getenv("QZ7_BENCH_QZ7INST");
  return other != nullptr && *other != '\0' ? other : QZ7_CLI_PATH;
}

// The machine of an operator's upgrade: the current release installed in C:\QZ7 (with the
// instance tools in its BIN), and instances instances of the earlier release in C:\QZ7PROF,
// each defined in the profile registry with its service, its qz7systm and 512 KiB of other
// files (four files of 128 KiB in a folder of its own). Built into root, which is emptied
// first.
sample::SampleMachine UpgradeMachinePlan(int instances) {
  sample::SampleMachine plan = testkit::CurrentInstallation(UpgradeProgram());
  const std::vector<unsigned char> data(128 * 1024, 0x5A);
  for (int i = 0; i < instances; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "I%05d", i);
    plan.instances.push_back({.name = name, .version = 0x800, .nodeType = 1});
    for (int f = 0; f < 4; ++f) {
      plan.files.push_back(
          {plan.profileDir + "\\" + name + "\\SQL00001\\DATA" + std::to_string(f) + ".DAT", data});
    }
  }
  return plan;
}

void BuildUpgradeMachine(const std::string& root, int instances) {
  fs::remove_all(root);
  fs::create_directories(root);
  sample::BuildSampleMachine(root, UpgradeMachinePlan(instances));
}

// The operator's command: qz7inst create, carrying the instances from C:\QZ7PROF into the
// installation. False when it did not end "result: 0".
bool RunUpgrade(const std::string& root) {
  return Shell(UpgradeProgram() + " --machine " + Quoted(root) +
               " create --quiet --install 'C:\\QZ7' --current 'C:\\QZ7PROF' --requested "
               "'C:\\QZ7PROF' > /dev/null");
}

// The whole upgrade at 10, 80 and 320 instances against cp -r of the old profile folder and
// sync, each measured in this run; the growth is the time per instance against the size before.
void UpgradeRows() {
  testkit::TempMachine scratch;  // a folder below $TMPDIR, removed at the end
  const std::string root = scratch.root() + "/upgrade";
  const std::string copy = scratch.root() + "/profile-copy";
  double previous = NAN;
  int previousInstances = 0;
  double firstPerInstance = NAN;
  for (const int instances : {10, 80, 320}) {
    const int reps = instances >= 320 ? 2 : 3;
    BuildUpgradeMachine(root, instances);
    const std::string oldProfile = root + "/drives/c/QZ7PROF";
    Row row;
    row.what = "qz7inst create, whole upgrade";
    row.size = std::to_string(instances) + " instances";
    row.reference = "cp -r of QZ7PROF + sync";
    Shell("sync");
    row.referenceSeconds = Best(
        reps,
        [&] {
          fs::remove_all(copy);
          Shell("sync");
        },
        [&] { Shell("cp -r " + Quoted(oldProfile) + " " + Quoted(copy) + " && sync"); });
    fs::remove_all(copy);
    bool failed = false;
    row.seconds = Best(
        reps,
        [&] {
          BuildUpgradeMachine(root, instances);
          Shell("sync");
        },
        [&] { failed = !RunUpgrade(root) || failed; });
    row.growth = Growth(row.seconds, instances, previous, previousInstances);
    if (std::isnan(firstPerInstance)) firstPerInstance = row.seconds / instances;
    row.note = "per instance " + std::to_string(row.seconds / instances * 1000).substr(0, 6) +
               " ms, " + std::to_string(row.seconds / instances / firstPerInstance).substr(0, 4) +
               "x that at 10";
    if (failed) row.note += "; a run did not end result: 0";
    previous = row.seconds;
    previousInstances = instances;
    Add(row);
  }
  fs::remove_all(root);
}

// Leaves a machine in the host folder root with one instance's database directory of the
// given layout and size and the message file, for measuring a migration from outside:
//   QZ7_MACHINE=ROOT /usr/bin/time -v qz7inst migrate-dbdir 'C:\PROF\QZ7' 'C:\INST'
int WriteDatabaseMachine(const std::string& root, int layout, int entries) {
  if (layout < 1 || layout > 4 || entries < 0 || entries > 65535) {
    std::fprintf(stderr, "write-database needs a layout of 1 to 4 and 0 to 65535 entries\n");
    return 2;
  }
  std::error_code failed;
  fs::create_directories(fs::path(root) / "drives" / "c", failed);
  if (failed) {
    std::fprintf(stderr, "cannot create %s: %s\n", root.c_str(), failed.message().c_str());
    return 1;
  }
  platform::SetMachineRoot(fs::absolute(root).string());
  testkit::WriteMigrationMessageFile(kInstall, testkit::MigrationMessageFileLines());
  const DatabaseInput input = DatabaseDirectory(layout, entries, '1', "C:");
  const fs::path folder = fs::path(root) / "drives" / "c" / "PROF" / "QZ7" / "SQLDBDIR";
  fs::create_directories(folder, failed);
  for (const auto& [name, bytes] :
       {std::pair{"SQLDBDIR", &input.directory}, std::pair{"SQLDBBAK", &input.directory},
        std::pair{"SQLDBINS", &input.intention}}) {
    std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes->data()),
              static_cast<std::streamsize>(bytes->size()));
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", (folder / name).c_str());
      return 1;
    }
  }
  std::printf("%s: layout %d, %d entries, SQLDBDIR of %zu bytes\n", root.c_str(), layout, entries,
              input.directory.size());
  return 0;
}

// Leaves a machine in the host folder root with one instance's node directory of the given
// layout and size; with dcs, also the system database directory and the DCS directory of the
// DCS row of the table (every node named by one database, half of them in the DCS directory):
//   QZ7_MACHINE=ROOT qz7inst migrate-nodedir 'C:\PROF\QZ7'
int WriteNodeMachine(const std::string& root, int layout, int entries, bool dcs) {
  if (layout < 1 || layout > 5 || entries < 0 || entries > 65535) {
    std::fprintf(stderr, "write-node needs a layout of 1 to 5 and 0 to 65535 nodes\n");
    return 2;
  }
  const fs::path instance = fs::path(root) / "drives" / "c" / "PROF" / "QZ7";
  sample::NodeDirectoryBuilder nodes(layout);
  sample::CurrentDatabaseDirectoryBuilder databases;
  sample::DcsDirectoryBuilder gateways;
  for (int i = 0; i < entries; ++i) {
    nodes.Add(sample::NodeEntryBuilder(layout).NodeName("N" + std::to_string(i)));
    databases.Add("C" + std::to_string(i), "DB" + std::to_string(i), '1', "N" + std::to_string(i));
    gateways.Add((i % 2 == 0 ? "DB" : "GW") + std::to_string(i));
  }
  std::vector<std::pair<fs::path, Bytes>> files = {
      {instance / "SQLNODIR" / "SQLNODIR", nodes.Bytes()},
      {instance / "SQLNODIR" / "SQLNOBAK", nodes.Bytes()}};
  if (dcs) {
    files.push_back({instance / "SQLDBDIR" / "SQLDBDIR", databases.Bytes()});
    files.push_back({instance / "SQLGWDIR" / "SQLGWDIR", gateways.Bytes()});
  }
  for (const auto& [path, bytes] : files) {
    std::error_code failed;
    fs::create_directories(path.parent_path(), failed);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
  }
  std::printf("%s: node layout %d, %d nodes%s\n", root.c_str(), layout, entries,
              dcs ? ", with the database and DCS directories" : "");
  return 0;
}

// Leaves a machine in the host folder root with the tree C:\TREE of folders x files of kib KiB
// (folders 1: the files lie in C:\TREE itself), for counting the system calls of one copy:
//   strace -c bench_table_runner copy-tree ROOT
int WriteTreeMachine(const std::string& root, int folders, int files, int kib) {
  if (folders < 1 || files < 0 || kib < 0 || folders > 10000 || files > 100000 || kib > 65536) {
    std::fprintf(stderr,
                 "write-tree needs 1 to 10000 folders, up to 100000 files of up to "
                 "65536 KiB\n");
    return 2;
  }
  std::error_code failed;
  const fs::path tree = fs::path(root) / "drives" / "c" / "TREE";
  fs::remove_all(fs::path(root) / "drives" / "c" / "COPY", failed);
  fs::create_directories(tree, failed);
  if (failed) {
    std::fprintf(stderr, "cannot create %s: %s\n", tree.c_str(), failed.message().c_str());
    return 1;
  }
  const std::string content(static_cast<size_t>(kib) * 1024, 'Z');
  for (int f = 0; f < folders; ++f) {
    const fs::path folder = folders == 1 ? tree : tree / ("DIR" + std::to_string(f));
    fs::create_directories(folder, failed);
    for (int i = 0; i < files; ++i) {
      std::ofstream out(folder / ("FILE" + std::to_string(i) + ".DAT"), std::ios::binary);
      out.write(content.data(), static_cast<std::streamsize>(content.size()));
      if (!out) {
        std::fprintf(stderr, "cannot write below %s\n", folder.c_str());
        return 1;
      }
    }
  }
  std::printf("%s: C:\\TREE of %d x %d files of %d KiB\n", root.c_str(), folders, files, kib);
  return 0;
}

// Copies C:\TREE to C:\COPY (removed first) in the machine that write-tree left in root.
int CopyTreeMachine(const std::string& root) {
  std::error_code failed;
  fs::remove_all(fs::path(root) / "drives" / "c" / "COPY", failed);
  platform::SetMachineRoot(fs::absolute(root).string());
  int failure = 0;
  const int result = upgrade::CopyDirectoryTree("C:\\TREE", "C:\\COPY", false, &failure);
  if (result != 0 || failure != 0) {
    std::fprintf(stderr, "CopyDirectoryTree: %d, first failed copy %d\n", result, failure);
    return 1;
  }
  return 0;
}

}  // namespace
}  // namespace qz7

int main(int argc, char** argv) {
  using namespace qz7;
  const std::string only = argc > 1 ? argv[1] : "";
  if (only == "write-database") {
    if (argc != 5) {
      std::fprintf(stderr, "usage: bench_table_runner write-database ROOT LAYOUT ENTRIES\n");
      return 2;
    }
    return WriteDatabaseMachine(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
  }
  if (only == "write-node") {
    if (argc != 5 && !(argc == 6 && std::string(argv[5]) == "dcs")) {
      std::fprintf(stderr, "usage: bench_table_runner write-node ROOT LAYOUT NODES [dcs]\n");
      return 2;
    }
    return WriteNodeMachine(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), argc == 6);
  }
  if (only == "write-tree") {
    if (argc != 6) {
      std::fprintf(stderr, "usage: bench_table_runner write-tree ROOT FOLDERS FILES KIB\n");
      return 2;
    }
    return WriteTreeMachine(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
  }
  if (only == "write-upgrade") {
    if (argc != 4 || std::atoi(argv[3]) < 1 || std::atoi(argv[3]) > 9999) {
      std::fprintf(stderr, "usage: bench_table_runner write-upgrade ROOT INSTANCES (1 to 9999)\n");
      return 2;
    }
    BuildUpgradeMachine(fs::absolute(argv[2]).string(), std::atoi(argv[3]));
    std::printf("%s: %s instances of the earlier release in C:\\QZ7PROF\n", argv[2], argv[3]);
    return 0;
  }
  if (only == "copy-tree") {
    if (argc != 3) {
      std::fprintf(stderr, "usage: bench_table_runner copy-tree ROOT\n");
      return 2;
    }
    return CopyTreeMachine(argv[2]);
  }
  std::printf("| %-44s | %13s | %9s | %-28s | %9s | %6s | %9s | %6s | %6s | %17s | %s\n", "case",
              "size", "ms", "reference", "ref ms", "ratio", "out ms", "ratio", "growth",
              "peak / file", "note");
  std::printf("|%s|\n", std::string(189, '-').c_str());
  const auto wants = [&](const char* part) { return only.empty() || only == part; };
  const double total = Seconds([&] {
    if (wants("database")) DatabaseDirectoryRows();
    if (wants("lookups")) LocalLookupRows();
    if (wants("node")) NodeDirectoryRows();
    if (wants("config")) ConfigurationRows();
    if (wants("trees")) {
      TreeRow("CopyDirectoryTree, 40 folders x 25 x 48 KiB", 40, 25, 48 * 1024);
      TreeRow("CopyDirectoryTree, one folder, 4 KiB files", 1, 4000, 4 * 1024);
    }
    if (wants("upgrade")) UpgradeRows();
  });
  std::printf(
      "\nout ms: one durable copy of a file of the size the migration wrote, and the ratio "
      "against it.\ngrowth: time per entry of a size step over that of the step before (1.00 is "
      "linear).\npeak / file: resident memory the run added at its peak, against the "
      "directory file.\nwhole table: %.1f s\n",
      total);
  return 0;
}
