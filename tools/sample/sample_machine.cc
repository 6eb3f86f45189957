#include "tools/sample/sample_machine.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "base/quoted_path.h"
#include "host/host_files.h"
#include "host/instance_lifecycle.h"
#include "host/profile_registry.h"
#include "host/service_table.h"
#include "platform/file_system.h"
#include "platform/machine_root.h"
#include "platform/windows_path.h"
#include "tools/sample/caller_host.h"
#include "tools/sample/dbm_block_builder.h"
#include "tools/sample/instance_index_builder.h"

namespace qz7::sample {

namespace fs = std::filesystem;
namespace h = qz7::host;

namespace {

constexpr uint16_t kCurrentVersion = 0x900;
constexpr uint16_t kCurrentLevel = 7100;
constexpr int kMigrationMessageCount = 68;

[[noreturn]] void Fail(const std::string& step) {
  throw std::runtime_error("sample machine: " + step);
}

#if !defined(_WIN32)
void WriteHostText(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) Fail("cannot write " + path.string());
}
#endif

void MakeMachineDirectory(const std::string& windowsPath) {
  if (h::MakeDirectories(windowsPath, nullptr) != 0) Fail("cannot create " + windowsPath);
}

// Writes text through the platform layer; mode "w" gives the CR LF line ends of Windows.
void WriteMachineText(const std::string& windowsPath, const std::string& text, const char* mode) {
  platform::FileHandle file = platform::OpenFile(windowsPath.c_str(), mode);
  if (!file || file->Write(text.data(), text.size()) != text.size() || file->Close() != 0) {
    Fail("cannot write " + windowsPath);
  }
}

void WriteMachineBytes(const std::string& windowsPath, const std::vector<unsigned char>& bytes) {
  platform::FileHandle file = platform::OpenFile(windowsPath.c_str(), "wb");
  if (!file || file->Write(bytes.data(), bytes.size()) != bytes.size() || file->Close() != 0) {
    Fail("cannot write " + windowsPath);
  }
}

void WriteTemplates(const SampleMachine& plan) {
  std::string cfg = base::JoinPath(plan.installDir, "CFG");
  MakeMachineDirectory(cfg);
  for (const std::string& name : plan.templates) {
    std::string path = base::JoinPath(cfg, name);
    if (DbmBlockBuilder()
            .Version(kCurrentVersion)
            .Level(kCurrentLevel)
            .NodeType(TemplateNodeType(name))
            .WriteTo(path.c_str()) != 0) {
      Fail("cannot write template " + path);
    }
  }
}

void CopyBinPrograms(const SampleMachine& plan) {
  std::string bin = base::JoinPath(plan.installDir, "BIN");
  MakeMachineDirectory(bin);
  for (const auto& [name, hostProgram] : plan.binPrograms) {
    std::optional<std::string> target = platform::HostPathOf(base::JoinPath(bin, name).c_str());
    std::error_code error;
    if (!target ||
        !fs::copy_file(hostProgram, *target, fs::copy_options::overwrite_existing, error)) {
      Fail("cannot copy " + hostProgram + " into " + bin);
    }
  }
}

std::string MessageDirectory(const SampleMachine& plan) {
  return base::JoinPath(plan.installDir, "msg\\prime");
}

void WriteMessageFiles(const SampleMachine& plan, BuiltMachine* built) {
  if (!plan.migrationMessages && !plan.setupMessages) return;
  std::string directory = MessageDirectory(plan);
  MakeMachineDirectory(directory);
  if (plan.migrationMessages) {
    std::string text;
    for (const std::string& line : MigrationMessageLines()) text += line + "\n";
    built->migrationMessagesPath = base::JoinPath(directory, "QZ7DBMIG.TXT");
    WriteMachineText(built->migrationMessagesPath, text, "w");
  }
  if (plan.setupMessages) {
    std::string text = "# Messages of the QZ7 instance set-up, one \"NUMBER TEXT\" per line.\n";
    for (const auto& [number, message] : SetupMessageTexts()) {
      text += std::to_string(number) + " " + message + "\n";
    }
    std::string path = base::JoinPath(directory, "QZ7SETUP.MSG");
    WriteMachineText(path, text, "wb");
#if defined(_WIN32)
    // A Windows caller passes a module whose string table holds the texts: the build's
    // resource library of them, which lies beside the program.
    const std::string library = base::JoinPath(directory, "QZ7SETUP.DLL");
    const fs::path builtLibrary =
        fs::path(OwnProgramPath()).parent_path() / kMessageLibraryFileName;
    std::error_code error;
    if (!fs::copy_file(builtLibrary, library, fs::copy_options::overwrite_existing, error)) {
      Fail("cannot copy " + builtLibrary.string() + " into " + directory);
    }
    path = library;
#endif
    built->setupMessagesHostPath = platform::HostPathOf(path.c_str()).value_or("");
  }
}

void WriteInstances(const SampleMachine& plan) {
  if (plan.instances.empty() && !plan.indexFile) return;
  MakeMachineDirectory(plan.profileDir);
  ProfileRegistryContents registry;
  std::vector<std::string> names;
  for (const SampleInstance& instance : plan.instances) {
    names.push_back(instance.name);
    std::string directory = base::JoinPath(plan.profileDir, instance.name);
    MakeMachineDirectory(directory);
    if (instance.version != 0) {
      std::string config = base::JoinPath(directory, "qz7systm");
      if (DbmBlockBuilder()
              .Version(instance.version)
              .Level(instance.level)
              .NodeType(instance.nodeType)
              .WriteTo(config.c_str()) != 0) {
        Fail("cannot write " + config);
      }
    }
    if (instance.inRegistry) {
      ProfileInstance entry{instance.name, {{"QZ7INSTPROF", plan.profileDir}}, instance.nodes};
      if (!instance.portRange.empty())
        entry.variables.push_back({"QZ7PORTRANGE", instance.portRange});
      if (!instance.owner.empty()) entry.variables.push_back({"QZ7INSTOWNER", instance.owner});
      for (const ProfileVariable& variable : instance.variables)
        entry.variables.push_back(variable);
      registry.instances.push_back(entry);
    }
    if (instance.service) {
      std::vector<std::string> services;
      if (instance.nodes.empty()) services.push_back(instance.name);
      for (const std::string& node : instance.nodes) services.push_back(instance.name + "-" + node);
      std::string program = base::JoinPath(plan.oldInstallDir, h::kServiceProgram);
      for (const std::string& service : services) {
        if (h::RegisterService(service, "QZ7 - " + service, program,
                               instance.account.empty() ? nullptr : instance.account.c_str(),
                               nullptr) != 0) {
          Fail("cannot register service " + service);
        }
      }
    }
  }
  if (!plan.adminServer.empty())
    registry.globalProfile.push_back({"QZ7ADMINSERVER", plan.adminServer});
  if (!plan.defaultInstance.empty()) {
    registry.globalProfile.push_back({"QZ7INSTDEF", plan.defaultInstance});
  }
  if (int result = WriteProfileRegistry(registry); result != 0) {
    Fail("cannot write the profile registry (" + std::to_string(result) + ")");
  }
  if (plan.indexFile) {
    InstanceIndex index;
    index.names = names;
    WriteMachineBytes(base::JoinPath(plan.profileDir, "QZ7IDIR"), BuildInstanceIndex(index));
  }
}

}  // namespace

uint16_t TemplateNodeType(const std::string& templateName) {
  std::string base = templateName.substr(0, templateName.find('.'));
  for (const h::InstanceTemplate& entry : h::kInstanceTemplates) {
    if (platform::NamesEqualIgnoreCase(base, entry.fileName))
      return static_cast<uint16_t>(entry.kindCode);
  }
  return 1;
}

const std::map<uint32_t, std::string>& SetupMessageTexts() {
  static const std::map<uint32_t, std::string> texts = {
#include "setup_message_texts.inc"
  };
  return texts;
}

std::vector<std::string> MigrationMessageLines() {
  std::vector<std::string> lines;
  for (int n = 0; n < kMigrationMessageCount; ++n) {
    lines.push_back("QZ7DBMIG" + std::to_string(n) + ": database directory migration message " +
                    std::to_string(n) + ".");
  }
  lines[47] = "Database %1 was not found in its local database directory; it was not migrated.";
  lines[48] = "The local database directory of database %1 is not at the current level.";
  lines[49] =
      "The configuration file of database %1 is damaged or names an unknown code page "
      "or territory.";
  lines[50] = "The configuration file of database %1 cannot be accessed.";
  lines[51] = "The local database directory of database %1 cannot be read.";
  return lines;
}

BuiltMachine BuildSampleMachine(const std::string& hostRoot, const SampleMachine& plan) {
  BuiltMachine built;
  built.root = hostRoot;
  std::error_code error;
#if defined(_WIN32)
  // Windows has no machine root: the drives, the computer's name and the drive types are the
  // computer's own, and only the folder for the caller's files is made.
  fs::create_directories(hostRoot, error);
  if (error) Fail("cannot create " + hostRoot);
#else
  for (char drive : plan.drives) {
    fs::create_directories(
        fs::path(hostRoot) / "drives" / std::string(1, static_cast<char>(std::tolower(drive))),
        error);
    if (error) Fail("cannot create drive " + std::string(1, drive));
  }
  if (!plan.computerName.empty()) {
    WriteHostText(fs::path(hostRoot) / "computer.txt", plan.computerName + "\n");
  }
  if (!plan.driveTypes.empty()) {
    std::string text;
    for (const auto& [drive, type] : plan.driveTypes) {
      text += std::string(1, static_cast<char>(std::toupper(drive))) + ": " + type + "\n";
    }
    WriteHostText(fs::path(hostRoot) / "drivetypes.txt", text);
  }
#endif
  platform::SetMachineRoot(hostRoot);

  WriteTemplates(plan);
  CopyBinPrograms(plan);
  WriteMessageFiles(plan, &built);
  WriteInstances(plan);
  for (const auto& [path, bytes] : plan.files) {
    const size_t cut = path.find_last_of('\\');
    if (cut != std::string::npos && cut > 2) MakeMachineDirectory(path.substr(0, cut));
    WriteMachineBytes(path, bytes);
  }
  return built;
}

}  // namespace qz7::sample
