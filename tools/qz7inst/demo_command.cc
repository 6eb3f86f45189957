// qz7inst demo [DIR]: builds a sample machine with instances of an earlier release and runs
// the setup on it, printing what the machine holds before and what the run did.
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "entry/existing_instance_scan.h"
#include "entry/setup_context.h"
#include "platform/file_system.h"
#include "platform/messages.h"
#include "qz7instm.h"
#include "testkit/sample_machine.h"
#include "tools/qz7inst/command.h"
#include "tools/qz7inst/instance_table.h"
#include "util/coding.h"
#include "util/dbm_block.h"

namespace qz7::cli {
namespace {

testkit::SampleMachine DemoMachine() {
  testkit::SampleMachine spec;
  spec.drives = {'C', 'D'};
  spec.driveTypes['D'] = "removable";
  spec.templates = {"qz7syssv", "qz7syssv.das", "qz7sysmp"};
  spec.instances.push_back({.name = "QZ7", .version = 0x800, .nodeType = 1});
  spec.instances.push_back({.name = "SALES", .version = 0x800, .nodeType = 1});
  spec.instances.push_back({.name = "QZ7DAS00", .version = 0x800, .nodeType = 1});
  spec.adminServer = "QZ7DAS00";
  spec.defaultInstance = "QZ7";
  return spec;
}

// Each instance's configuration file: release, node type and whether its checksum holds.
void PrintConfigFiles(FILE* out, const std::string& profileDir,
                      const entry::ExistingInstanceScan& scan) {
  std::fprintf(out, "\nconfiguration files:\n");
  for (int32_t i = 0; i < scan.records.count(); ++i) {
    std::string path = profileDir + "\\" + scan.records[i].name.c_str() + "\\qz7systm";
    std::vector<unsigned char> block(util::kDbmBlockSize, 0);
    size_t size = 0;
    if (platform::FileHandle file = platform::OpenFile(path.c_str(), "rb")) {
      size = file->Read(block.data(), block.size());
      file->Close();
    }
    if (size == 0) {
      std::fprintf(out, "  %-30s (missing)\n", path.c_str());
      continue;
    }
    const bool checksumHolds = size == util::kDbmBlockSize &&
                               util::LoadLE32(block.data()) == util::DbmBlockChecksum(block.data());
    std::fprintf(out, "  %-30s %zu bytes, layout 0x%03X, node type %u, checksum %s\n", path.c_str(),
                 size, util::LoadLE16(block.data() + 16) & util::kDbmVersionMask,
                 util::LoadLE16(block.data() + 40), checksumHolds ? "holds" : "WRONG");
  }
}

int RunDemo(Invocation& invocation) {
  const Command& self = *FindCommand("demo");
  if (invocation.args.size() > 1) return UsageError(invocation, self, "too many arguments");
  std::string root;
  if (!invocation.args.empty()) {
    root = invocation.args[0];
  } else {
    std::string pattern = (std::filesystem::temp_directory_path() / "qz7-demo-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      std::fprintf(invocation.err, "qz7inst: cannot make a directory for the demo machine\n");
      return 1;
    }
    root = pattern;
  }

  const testkit::SampleMachine spec = DemoMachine();
  testkit::BuiltMachine built;
  try {
    built = testkit::BuildSampleMachine(root, spec);
  } catch (const std::exception& error) {
    std::fprintf(invocation.err, "qz7inst: cannot build the sample machine: %s\n", error.what());
    return 1;
  }
  FILE* out = invocation.out;
  std::fprintf(out, "sample machine: %s\n", built.root.c_str());
  std::fprintf(out, "installation of the new release: %s\n", spec.installDir.c_str());
  std::fprintf(out, "instances of the earlier release in %s:\n\n", spec.profileDir.c_str());

  auto before = entry::ScanExistingInstances(("\"" + spec.profileDir + "\"").c_str());
  if (!before) return 1;
  PrintInstanceTable(out, *before);
  PrintConfigFiles(out, spec.profileDir, *before);

  // The setup program's call: carry the instances over into the new installation.
  QZ7_MODULE module = platform::LoadMessageModule(built.setupMessagesHostPath);
  std::fprintf(out, "\ncreateInstances(\"%s\", \"%s\", \"%s\", no requests)\n",
               spec.profileDir.c_str(), spec.profileDir.c_str(), spec.installDir.c_str());
  std::fflush(out);
  int result = createInstances(spec.profileDir.c_str(), spec.profileDir.c_str(),
                               spec.installDir.c_str(), nullptr, nullptr, module, nullptr);
  platform::FreeMessageModule(module);
  // What the call worked from: the same context, built again to show it.
  entry::SetupContext context;
  entry::BuildSetupContext(context, spec.profileDir.c_str(), spec.profileDir.c_str(),
                           spec.installDir.c_str(), nullptr, nullptr, nullptr);
  std::fprintf(out, "setup context: install %s, target profile %s, server type %d\n",
               context.installDir.c_str(), context.targetProfileDir.c_str(), context.serverType);
  std::fprintf(
      out, "  markers: server %s, admin %s, partitioned %s\n", context.serverMarkerFile.c_str(),
      context.adminMarkerFile.c_str(),
      context.partitionedMarkerFile.empty() ? "(none)" : context.partitionedMarkerFile.c_str());
  for (int32_t i = 0; i < context.records.count(); ++i) {
    std::fprintf(out, "  record %d: %-8s node type %d%s%s\n", i, context.records[i].name.c_str(),
                 context.records[i].nodeType,
                 i == context.adminIndex ? ", administration server" : "",
                 i == context.defaultIndex ? ", default" : "");
  }
  std::fprintf(out,
               "the set-up driver that moves, creates and upgrades these instances is not in "
               "place yet; the call ends after building the context\n");
  return FinishWithResult(invocation, result);
}

}  // namespace

QZ7_COMMAND("demo", "demo [DIR]",
            "build a sample machine with an earlier release in DIR (default: a new temporary "
            "directory) and set it up",
            &RunDemo);

}  // namespace qz7::cli
