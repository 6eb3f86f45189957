#include "testkit/scenario_machines.h"

#include <algorithm>
#include <cstring>

#include "base/coding.h"
#include "tools/sample/database_directory_builder.h"
#include "tools/sample/dbm_block_builder.h"
#include "tools/sample/instance_tools.h"
#include "tools/sample/node_directory_builder.h"

namespace qz7::testkit {
namespace {

constexpr size_t kDatabaseEntriesStart = 32 + 176;
constexpr size_t kDatabaseEntrySize = 720;
constexpr size_t kNodeEntriesStart = 28;
constexpr size_t kNodeEntrySize = 616;
constexpr size_t kNodeBackupHeaderSize = 85;
constexpr char kNodeBackupSignature[] = "QZ7 NODE DIRECTORY FILE BACKUP";

template <size_t N>
void Put(char (&field)[N], const std::string& text) {
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

}  // namespace

CarriedValues CarriedValuesOf(const FileBytes& config) {
  if (config.size() < sample::kDbmFileSize) return {};
  return {sample::DbmU16(config, 36), sample::DbmU32(config, 64),
          sample::DbmText(config, 1130, 256), sample::DbmText(config, 1968, 9)};
}

OldInstance MakeOldInstance(const std::string& name, const OldInstanceShape& shape) {
  OldInstance instance;
  instance.name = name;
  const int seed = shape.seed;
  instance.values = {static_cast<uint16_t>(8192 + seed), static_cast<uint32_t>(10000 + seed),
                     "D:\\DATA\\" + name, "NODE" + std::to_string(seed)};
  instance.config = sample::DbmBlockBuilder()
                        .Version(shape.version)
                        .NodeType(1)
                        .U16(36, instance.values.field36)
                        .U32(64, instance.values.field64)
                        .Text(1130, 256, instance.values.text1130)
                        .Text(1968, 9, instance.values.text1968)
                        // In range, so that a 0x600 conversion keeps the text at 1968.
                        .S32(1932, 256)
                        .S32(1936, 20)
                        .Bytes();
  if (shape.databaseLayout != 0) {
    instance.databases = {"DB" + std::to_string(seed) + "A", "DB" + std::to_string(seed) + "B"};
    const sample::DirectoryHeaderForm form = shape.databaseLayout <= 2
                                                 ? sample::DirectoryHeaderForm::kShort
                                                 : sample::DirectoryHeaderForm::kLong;
    auto builder = sample::DatabaseDirectoryBuilder::Layout(shape.databaseLayout, form).Slots(2);
    for (const std::string& database : instance.databases)
      builder.AddEntry({.name = database, .databaseName = database, .path = "E:"});
    instance.databaseDirectory = builder.Bytes();
    instance.intention = sample::IntentionFileBuilder(shape.databaseLayout).Name(name).Bytes();
  }
  if (shape.nodeLayout != 0) {
    instance.nodes = {"HQ" + std::to_string(seed), "BRANCH" + std::to_string(seed)};
    sample::NodeDirectoryBuilder builder(shape.nodeLayout);
    builder.HeaderValue(static_cast<uint32_t>(seed));
    for (const std::string& node : instance.nodes)
      builder.Add(sample::NodeEntryBuilder(shape.nodeLayout).NodeName(node).Text(27, 9, "TCPIP"));
    instance.nodeDirectory = builder.Bytes();
  }
  return instance;
}

void AddOldDatabaseDirectory(sample::SampleMachine& plan, const OldInstance& instance,
                             const std::string& directory) {
  if (instance.databaseDirectory.empty()) return;
  const std::string folder = directory + "\\" + instance.name + "\\SQLDBDIR\\";
  plan.files.push_back({folder + "SQLDBDIR", instance.databaseDirectory});
  plan.files.push_back({folder + "SQLDBBAK", instance.databaseDirectory});
  plan.files.push_back({folder + "SQLDBINS", instance.intention});
}

void AddOldInstance(sample::SampleMachine& plan, const OldInstance& instance,
                    const std::string& directory, bool inRegistry) {
  plan.instances.push_back({.name = instance.name,
                            .version = sample::DbmU16(instance.config, 16),
                            .nodeType = 1,
                            .inRegistry = inRegistry});
  const std::string instanceDir = directory + "\\" + instance.name;
  plan.files.push_back({instanceDir + "\\qz7systm", instance.config});
  AddOldDatabaseDirectory(plan, instance, directory);
  if (!instance.nodeDirectory.empty()) {
    plan.files.push_back({instanceDir + "\\SQLNODIR\\SQLNODIR", instance.nodeDirectory});
    plan.files.push_back({instanceDir + "\\SQLNODIR\\SQLNOBAK", instance.nodeDirectory});
  }
}

sample::SampleMachine CurrentInstallation(const std::string& toolProgram) {
  sample::SampleMachine plan;
  plan.templates = {"qz7syssv", "qz7syssv.das", "qz7sysmp"};
  if (!toolProgram.empty()) {
#if defined(_WIN32)
    const char* builds = "";
#else
    // Their test builds, whose changes a power cut of the set-up run sees.
    const char* builds = "_test";
#endif
    plan.binPrograms =
        sample::InstanceToolPrograms(sample::InstanceToolDirectoryBeside(toolProgram), builds);
  }
  return plan;
}

InstanceDescriptor PlainDescriptor(const std::string& name, bool makeDefault,
                                   const std::string& account, const std::string& password) {
  InstanceDescriptor descriptor{};
  Put(descriptor.name, name);
  Put(descriptor.account, account);
  Put(descriptor.password, password);
  descriptor.makeDefault = makeDefault ? 1 : 0;
  return descriptor;
}

InstanceDescriptor AdminServerDescriptor(const std::string& name) {
  InstanceDescriptor descriptor = PlainDescriptor(name);
  descriptor.isAdminServer = 1;
  return descriptor;
}

InstanceDescriptor AddedNodeDescriptor(const std::string& name, const std::string& nodeNumber,
                                       const std::string& ownerComputer) {
  InstanceDescriptor descriptor = PlainDescriptor(name);
  descriptor.isAddedNode = 1;
  Put(descriptor.nodeNumber, nodeNumber);
  Put(descriptor.ownerComputer, ownerComputer);
  return descriptor;
}

InstanceDescriptor PartitionedDescriptor(const std::string& name, const std::string& firstPort,
                                         const std::string& lastPort, const std::string& account,
                                         const std::string& password) {
  InstanceDescriptor descriptor = PlainDescriptor(name, false, account, password);
  descriptor.kind = 4;
  Put(descriptor.portRangeStart, firstPort);
  Put(descriptor.portRangeEnd, lastPort);
  return descriptor;
}

std::vector<std::string> CurrentDatabaseNames(const FileBytes& directory) {
  std::vector<std::string> names;
  if (directory.size() < kDatabaseEntriesStart ||
      base::LoadLE16(directory.data() + 18) != sample::kCurrentDirectoryMarker) {
    return names;
  }
  const uint16_t count = base::LoadLE16(directory.data() + 20);
  for (size_t i = 0; i < count; ++i) {
    const size_t at = kDatabaseEntriesStart + i * kDatabaseEntrySize;
    if (at + kDatabaseEntrySize > directory.size()) break;
    names.push_back(sample::DirectoryText(directory, at, 9));
  }
  return names;
}

std::vector<std::string> CurrentNodeNames(const FileBytes& directory) {
  std::vector<std::string> names;
  if (directory.size() < 32 || sample::DirectoryText(directory, 0, 16) != "NODE DIRECTORY" ||
      base::LoadLE16(directory.data() + 24) != 0x0300) {
    return names;
  }
  const uint16_t count = base::LoadLE16(directory.data() + 16);
  if (directory.size() != 32 + size_t{count} * kNodeEntrySize) return names;
  for (size_t i = 0; i < count; ++i)
    names.push_back(sample::DirectoryText(directory, kNodeEntriesStart + i * kNodeEntrySize, 9));
  return names;
}

FileBytes NodeBackupData(const FileBytes& backup) {
  if (backup.size() <= kNodeBackupHeaderSize ||
      std::memcmp(backup.data(), kNodeBackupSignature, sizeof kNodeBackupSignature) != 0) {
    return {};
  }
  return FileBytes(backup.begin() + kNodeBackupHeaderSize, backup.end());
}

}  // namespace qz7::testkit
