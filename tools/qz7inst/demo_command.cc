// qz7inst demo [DIR]: builds a sample machine with instances of an earlier release and runs
// the setup on it, printing what the machine holds before and what the run did.
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/coding.h"
#include "base/dbm_block.h"
#include "entry/existing_instance_scan.h"
#include "entry/setup_context.h"
#include "platform/file_system.h"
#include "platform/messages.h"
#include "qz7instm.h"
#include "tools/qz7inst/command.h"
#include "tools/qz7inst/instance_table.h"
#include "tools/sample/caller_host.h"
#include "tools/sample/database_directory_builder.h"
#include "tools/sample/instance_tools.h"
#include "tools/sample/node_directory_builder.h"
#include "tools/sample/sample_machine.h"

namespace qz7::cli {
namespace {

// The old system database directory (with its copy and intention file) and node directory
// (with its copy) that an instance of the earlier release keeps below its directory.
void AddOldDirectories(sample::SampleMachine& spec, const std::string& instance, int layout) {
  const std::string dir = spec.profileDir + "\\" + instance;
  const auto database = sample::DatabaseDirectoryBuilder::Layout(layout)
                            .Slots(2)
                            .AddEntry({.name = "SAMPLE", .databaseName = "SAMPLE", .path = "D:"})
                            .AddEntry({.name = "PAYROLL", .databaseName = "PAYROLL", .path = "E:"})
                            .Bytes();
  spec.files.push_back({dir + "\\SQLDBDIR\\SQLDBDIR", database});
  spec.files.push_back({dir + "\\SQLDBDIR\\SQLDBBAK", database});
  spec.files.push_back(
      {dir + "\\SQLDBDIR\\SQLDBINS", sample::IntentionFileBuilder(layout).Bytes()});
  const auto nodes = sample::NodeDirectoryBuilder(1)
                         .Add(sample::NodeEntryBuilder(1).NodeName("HQ").Text(27, 9, "TCPIP"))
                         .Add(sample::NodeEntryBuilder(1).NodeName("BRANCH").Text(27, 9, "TCPIP"))
                         .Bytes();
  spec.files.push_back({dir + "\\SQLNODIR\\SQLNODIR", nodes});
  spec.files.push_back({dir + "\\SQLNODIR\\SQLNOBAK", nodes});
}

sample::SampleMachine DemoMachine() {
  sample::SampleMachine spec;
  spec.drives = {'C', 'D'};
  spec.driveTypes['D'] = "removable";
  spec.templates = {"qz7syssv", "qz7syssv.das", "qz7sysmp"};
  spec.instances.push_back({.name = "QZ7", .version = 0x800, .nodeType = 1});
  spec.instances.push_back({.name = "SALES", .version = 0x800, .nodeType = 1});
  spec.instances.push_back({.name = "QZ7DAS00", .version = 0x800, .nodeType = 1});
  spec.adminServer = "QZ7DAS00";
  spec.defaultInstance = "QZ7";
  AddOldDirectories(spec, "QZ7", 2);
  AddOldDirectories(spec, "SALES", 3);
  // The product's instance tools, built beside this program.
  const std::string self = sample::OwnProgramPath();
  if (!self.empty()) {
    spec.binPrograms = sample::InstanceToolPrograms(sample::InstanceToolDirectoryBeside(self));
  }
  return spec;
}

// The layout of an instance's database and node directory files, and what migration left.
void PrintDirectoryFiles(FILE* out, const std::string& profileDir,
                         const entry::ExistingInstanceScan& scan) {
  std::fprintf(out, "\ndirectory files:\n");
  for (int32_t i = 0; i < scan.records.count(); ++i) {
    const std::string dir = profileDir + "\\" + scan.records[i].name.c_str();
    struct Kind {
      const char* label;
      const char* path;
      size_t markerOffset, countOffset;
      uint16_t current;
    } kinds[] = {{"database directory", "\\SQLDBDIR\\SQLDBDIR", 18, 20, 0x0400},
                 {"node directory", "\\SQLNODIR\\SQLNODIR", 24, 16, 0x0300}};
    for (const Kind& kind : kinds) {
      const std::string path = dir + kind.path;
      std::vector<unsigned char> head(32, 0);
      size_t size = 0, got = 0;
      platform::FileHandle file = platform::OpenFile(path.c_str(), "rb");
      if (!file) continue;
      got = file->Read(head.data(), head.size());
      if (file->Seek(0, platform::kSeekEnd) == 0) size = static_cast<size_t>(file->Tell());
      file->Close();
      const uint16_t marker = got >= 32 ? base::LoadLE16(head.data() + kind.markerOffset) : 0;
      std::fprintf(out, "  %-36s %-18s %5zu bytes, %u entries, %s\n", path.c_str(), kind.label,
                   size, got >= 32 ? base::LoadLE16(head.data() + kind.countOffset) : 0,
                   marker == kind.current ? "current layout" : "earlier layout");
    }
    for (const char* backup : {"\\SQLDBDIR\\SQLDDDIR.BAK", "\\SQLNODIR\\SQLNDDIR.BAK",
                               "\\QZ7MGDBD.ERR", "\\QZ7MGNDD.ERR"}) {
      platform::FileStatus status;
      const std::string path = dir + backup;
      if (platform::GetFileStatus(path.c_str(), &status) == 0 && status.isRegular) {
        std::fprintf(out, "  %-36s %zu bytes\n", path.c_str(), static_cast<size_t>(status.size));
      }
    }
  }
}

// Message boxes of the run go to the terminal.
int PrintBox(void* out, const char* text, const char* title, unsigned style) {
  std::fprintf(static_cast<FILE*>(out), "  [message 0x%02X] %s: %s\n", style, title, text);
  return 1;
}

// Each instance's configuration file: release, node type and whether its checksum holds.
void PrintConfigFiles(FILE* out, const std::string& profileDir,
                      const entry::ExistingInstanceScan& scan) {
  std::fprintf(out, "\nconfiguration files:\n");
  for (int32_t i = 0; i < scan.records.count(); ++i) {
    std::string path = profileDir + "\\" + scan.records[i].name.c_str() + "\\qz7systm";
    std::vector<unsigned char> block(base::kDbmBlockSize, 0);
    size_t size = 0;
    if (platform::FileHandle file = platform::OpenFile(path.c_str(), "rb")) {
      size = file->Read(block.data(), block.size());
      file->Close();
    }
    if (size == 0) {
      std::fprintf(out, "  %-30s (missing)\n", path.c_str());
      continue;
    }
    const bool checksumHolds = size == base::kDbmBlockSize &&
                               base::LoadLE32(block.data()) == base::DbmBlockChecksum(block.data());
    std::fprintf(out, "  %-30s %zu bytes, layout 0x%03X, node type %u, checksum %s\n", path.c_str(),
                 size, base::LoadLE16(block.data() + 16) & base::kDbmVersionMask,
                 base::LoadLE16(block.data() + 40), checksumHolds ? "holds" : "WRONG");
  }
}

// Builds the demo's sample machine below root; says why on the error stream when it cannot.
bool BuildDemoMachine(Invocation& invocation, const std::string& root,
                      const sample::SampleMachine& spec, sample::BuiltMachine* built) {
  try {
    *built = sample::BuildSampleMachine(root, spec);
    return true;
  } catch (const std::exception& error) {
    std::fprintf(invocation.err, "qz7inst: cannot build the sample machine: %s\n", error.what());
    return false;
  }
}

// On Windows there is no machine root: the sample machine is made of this computer's own drive
// C:, registry and services. The demo goes there only when told so.
#if defined(_WIN32)
constexpr bool kDemoNeedsThisComputer = true;
#else
constexpr bool kDemoNeedsThisComputer = false;
#endif

// demo --sample-only DIR: the sample machine alone, for a person to try create --check and
// create on it by hand; prints the create command line that sets it up.
int RunSampleOnly(Invocation& invocation, const std::string& root) {
  const sample::SampleMachine spec = DemoMachine();
  sample::BuiltMachine built;
  if (!BuildDemoMachine(invocation, root, spec, &built)) return 1;
  if (kDemoNeedsThisComputer) {
    std::fprintf(invocation.out,
                 "sample machine: this computer\n"
                 "instances of the earlier release in %s; the new release installed in %s\n"
                 "to set it up:\n"
                 "  qz7inst create --install \"%s\" --current \"%s\" --requested \"%s\"\n",
                 spec.profileDir.c_str(), spec.installDir.c_str(), spec.installDir.c_str(),
                 spec.profileDir.c_str(), spec.profileDir.c_str());
    return 0;
  }
  std::fprintf(invocation.out,
               "sample machine: %s\n"
               "instances of the earlier release in %s; the new release installed in %s\n"
               "to set it up:\n"
               "  qz7inst --machine '%s' create --install '%s' --current '%s' --requested '%s'\n",
               built.root.c_str(), spec.profileDir.c_str(), spec.installDir.c_str(),
               built.root.c_str(), spec.installDir.c_str(), spec.profileDir.c_str(),
               spec.profileDir.c_str());
  return 0;
}

int RunDemo(Invocation& invocation) {
  const Command& self = *FindCommand("demo");
  std::vector<std::string> args;
  bool thisComputer = false;
  for (const std::string& arg : invocation.args) {
    if (arg == "--this-computer") {
      thisComputer = true;
    } else {
      args.push_back(arg);
    }
  }
  if (kDemoNeedsThisComputer && !thisComputer) {
    std::fprintf(invocation.err,
                 "qz7inst: on Windows the demo builds its sample machine on this computer "
                 "itself (instances in C:\\QZ7PROF, an installation in C:\\QZ7, their "
                 "registry entries and services); give --this-computer to let it\n");
    return 2;
  }
  if (!kDemoNeedsThisComputer && thisComputer) {
    return UsageError(invocation, self,
                      "--this-computer is for Windows; here the demo builds a machine root");
  }
  if (!args.empty() && args[0] == "--sample-only") {
    // On Windows the sample machine is this computer: there is no folder to name.
    if (kDemoNeedsThisComputer && args.size() == 1) {
      try {
        return RunSampleOnly(invocation, sample::MakeTempDirectory("qz7-sample-"));
      } catch (const std::exception&) {
        std::fprintf(invocation.err, "qz7inst: cannot make a folder for the sample's files\n");
        return 1;
      }
    }
    if (args.size() != 2) return UsageError(invocation, self, "--sample-only needs one directory");
    return RunSampleOnly(invocation, args[1]);
  }
  if (args.size() > 1) return UsageError(invocation, self, "too many arguments");
  std::string root;
  if (!args.empty()) {
    root = args[0];
  } else {
    try {
      root = sample::MakeTempDirectory("qz7-demo-");
    } catch (const std::exception&) {
      std::fprintf(invocation.err, "qz7inst: cannot make a directory for the demo machine\n");
      return 1;
    }
  }

  const sample::SampleMachine spec = DemoMachine();
  sample::BuiltMachine built;
  if (!BuildDemoMachine(invocation, root, spec, &built)) return 1;
  FILE* out = invocation.out;
  std::fprintf(out, "sample machine: %s\n", built.root.c_str());
  std::fprintf(out, "installation of the new release: %s\n", spec.installDir.c_str());
  std::fprintf(out, "instances of the earlier release in %s:\n\n", spec.profileDir.c_str());

  auto before = entry::ScanExistingInstances(("\"" + spec.profileDir + "\"").c_str());
  if (!before) return 1;
  PrintInstanceTable(out, *before);
  PrintConfigFiles(out, spec.profileDir, *before);

  PrintDirectoryFiles(out, spec.profileDir, *before);

  // The setup program's call: carry the instances over into the new installation, with a
  // log file and message boxes shown here.
  QZ7_MODULE module = platform::LoadMessageModule(built.setupMessagesHostPath);
  const std::string logPath = (std::filesystem::path(built.root) / "setup.log").string();
  sample::CallerLogFile log;
  if (!log.Open(logPath, true)) {
    std::fprintf(invocation.err, "qz7inst: cannot open the log file %s\n", logPath.c_str());
  }
  sample::TerminalOwner owner(&PrintBox, out);
  std::fprintf(out, "\ncreateInstances(\"%s\", \"%s\", \"%s\", no requests)\n",
               spec.profileDir.c_str(), spec.profileDir.c_str(), spec.installDir.c_str());
  std::fflush(out);
  const int result =
      createInstances(spec.profileDir.c_str(), spec.profileDir.c_str(), spec.installDir.c_str(),
                      nullptr, log.handle(), module, owner.owner());
  platform::FreeMessageModule(module);
  std::fprintf(out, "createInstances returned %d\n", result);

  // Where the instances are now: moved into the installation's profile directory, converted
  // to the new release, their directories migrated with the old files kept as backups.
  const std::string target = spec.installDir;
  std::fprintf(out, "\ninstances of the new release in %s:\n\n", target.c_str());
  auto after = entry::ScanExistingInstances(("\"" + target + "\"").c_str());
  if (!after) return 1;
  PrintInstanceTable(out, *after);
  PrintConfigFiles(out, target, *after);
  PrintDirectoryFiles(out, target, *after);
  std::ifstream logFile(logPath, std::ios::binary);
  const std::string logText{std::istreambuf_iterator<char>(logFile), {}};
  std::fprintf(out, "\nsetup log %s: %s\n", logPath.c_str(),
               logText.empty() ? "(empty)" : ("\n" + logText).c_str());
  return FinishWithResult(invocation, result);
}

}  // namespace

QZ7_COMMAND("demo", "demo [--this-computer] [DIR] | demo [--this-computer] --sample-only DIR",
            "build a sample machine with an earlier release in DIR (default: a new temporary "
            "directory) and set it up; --sample-only: build it and print the create command; "
            "on Windows the machine is this computer, and --this-computer is required",
            &RunDemo);

}  // namespace qz7::cli
