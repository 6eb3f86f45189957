#include "tools/instance/instance_tool_actions.h"

#include <array>
#include <functional>
#include <utility>
#include <vector>

#include "base/coding.h"
#include "base/dbm_block.h"
#include "base/quoted_path.h"
#include "config/config_file.h"
#include "host/host_files.h"
#include "host/host_services.h"
#include "host/instance_lifecycle.h"
#include "host/profile_registry.h"
#include "host/registry_access.h"
#include "host/service_table.h"
#include "host/stand_in_host.h"
#include "host/undo_log.h"
#include "platform/file_system.h"
#include "platform/windows_path.h"
#include "util/setup_files.h"

namespace qz7::instance_tools {
namespace {

namespace h = qz7::host;
using Block = std::array<unsigned char, base::kDbmBlockSize>;

constexpr uint16_t kPartitionedNodeType = 4;

using UndoLog = qz7::host::UndoLog;

const char* OrNull(const std::string& text) { return text.empty() ? nullptr : text.c_str(); }

ToolOutcome Conflict(std::string message) { return {kExitConflict, std::move(message)}; }
ToolOutcome Failed(std::string message) { return {kExitFailed, std::move(message)}; }

std::string HostResult(int result) { return " (host result " + std::to_string(result) + ")"; }

// The profile entries that make a defined instance partitioned: the port range, this computer
// as the owner, and node 0 with its host name.
int RecordPartitioning(const std::string& name, const PartitionedArguments& arguments,
                       const std::string& computer) {
  const std::string range =
      std::to_string(arguments.firstPort) + ":" + std::to_string(arguments.lastPort);
  if (int result =
          h::WriteVariableAt(h::ProfileLevel::kInstance, name, h::kVarNamePortRange, range)) {
    return result;
  }
  if (int result = h::WriteVariableAt(h::ProfileLevel::kInstance, name, h::kVarNameInstanceOwner,
                                      computer)) {
    return result;
  }
  h::ScopedKey node;
  if (h::CreateKey(h::InstanceNodesKey(name) + "\\" + h::kPartitionedFirstNode, &node) != 0 ||
      h::WriteText(node.get(), kNodeHostNameValue,
                   arguments.hostName.empty() ? computer : arguments.hostName) != 0) {
    return h::kRegistryUnreachable;
  }
  return 0;
}

bool ReadBlock(const std::string& path, Block* block) {
  platform::FileHandle file = platform::OpenFile(path.c_str(), "rb");
  if (!file) return false;
  const bool read = file->Read(block->data(), block->size()) == block->size();
  return file->Close() == 0 && read;
}

// Puts block in place as the file at path, durably: written in full to a staging file beside
// it, synced, renamed over the file, and the folder synced, so that a crash or a power cut
// leaves either the old block or the new one, never a torn or empty file. A staging file left
// by an interrupted tool is written over.
bool ReplaceBlock(const std::string& path, const Block& block) {
  // Windows replaces no read-only file, and the configuration file may be one.
  static_cast<void>(platform::SetFileWritable(path.c_str(), true));
  return config::ReplaceThroughNewFile(path, path + ".ptn", block) == config::Staging::kReplaced;
}

// Gives an existing qz7systm the partitioned node type. The undo step puts the old block back.
// True when there is no qz7systm (the instance update copies the partitioned template then).
bool MarkConfigurationPartitioned(const std::string& configPath, UndoLog* undo) {
  if (!h::IsRegularFile(configPath)) return true;
  Block old{};
  if (!ReadBlock(configPath, &old)) return false;
  Block block = old;
  base::StoreLE16(block.data() + base::kDbmNodeTypeOffset, kPartitionedNodeType);
  base::StampDbmChecksum(block.data());
  // A failed replacement leaves the old block in place (or, when only the folder's sync
  // failed, the new one on its way to the disk: put the old one back the same way).
  if (!ReplaceBlock(configPath, block)) {
    static_cast<void>(ReplaceBlock(configPath, old));
    return false;
  }
  undo->Add([configPath, old] { static_cast<void>(ReplaceBlock(configPath, old)); });
  return true;
}

}  // namespace

ToolOutcome CreatePartitionedInstance(const Installation& installation,
                                      const PartitionedArguments& arguments) {
  const std::string& name = arguments.name;
  if (!arguments.partitionedOption) {
    return {kExitUsage, "this tool creates partitioned instances only: /mpp is missing"};
  }
  if (h::IsInstanceDefined(name)) return Conflict("instance " + name + " exists already");
  const std::string computer = ThisComputer();
  if (computer.empty()) return Failed("this computer's name cannot be had");

  const std::string instanceDir = base::JoinPath(installation.profileDir, name);
  const bool directoryExisted = h::IsDirectory(instanceDir);
  h::StandInHost host;
  const int created = host.InstanceCreateExtended(
      name.c_str(), installation.profileDir.c_str(), installation.installDir.c_str(), 0,
      OrNull(arguments.logon.account), OrNull(arguments.logon.password), 0, 4, nullptr);
  if (created != 0)
    return Failed("instance " + name + " could not be created" + HostResult(created));

  // The new instance folder's name is durable only once the profile folder is synced (the
  // profile registry entries that point at it are durable as soon as they are written).
  if (!directoryExisted && !util::SyncFolderOf(instanceDir.c_str())) {
    host.InstanceDrop(name.c_str(), instanceDir.c_str());
    return Failed("instance " + name + " could not be created: the folder " +
                  installation.profileDir + " could not be synced");
  }
  if (int result = RecordPartitioning(name, arguments, computer); result != 0) {
    if (directoryExisted) {
      // The directory was there before this tool: keep it, take back the rest. Taking back is
      // best effort; the failure reported is the one that set it off.
      static_cast<void>(h::DeleteServiceNamed(name + "-" + h::kPartitionedFirstNode));
      static_cast<void>(h::UndefineInstance(name));
    } else {
      host.InstanceDrop(name.c_str(), instanceDir.c_str());
    }
    return Failed("instance " + name + " could not be made partitioned" + HostResult(result));
  }
  return {kExitSuccess, "partitioned instance " + name + " created in " + instanceDir +
                            " with node " + h::kPartitionedFirstNode};
}

ToolOutcome MakeInstancePartitioned(const Installation& installation,
                                    const PartitionedArguments& arguments) {
  const std::string& name = arguments.name;
  if (!h::IsInstanceDefined(name)) return Conflict("instance " + name + " is not defined");
  std::string value;
  if (h::ReadVariableAt(h::ProfileLevel::kInstance, name, h::kVarNamePortRange, &value) == 0) {
    return Conflict("instance " + name + " is partitioned already");
  }
  const std::string computer = ThisComputer();
  if (computer.empty()) return Failed("this computer's name cannot be had");
  // The instance stays where it is.
  std::string profileDir;
  if (h::ReadVariableAt(h::ProfileLevel::kInstance, name, h::kVarNameInstanceProfile,
                        &profileDir) != 0 ||
      profileDir.empty()) {
    profileDir = installation.profileDir;
  }

  UndoLog undo;
  const std::string configPath =
      base::JoinPath(base::JoinPath(profileDir, name), h::kConfigFileName);
  if (!MarkConfigurationPartitioned(configPath, &undo)) {
    return Failed("the configuration file " + configPath + " cannot be converted");
  }
  // Updating a defined instance as partitioned adds node 0 and its service; on failure the
  // update takes back its own steps.
  h::StandInHost host;
  const int updated = host.InstanceCreateExtended(
      name.c_str(), profileDir.c_str(), installation.installDir.c_str(), 0,
      OrNull(arguments.logon.account), OrNull(arguments.logon.password), 0, 4, nullptr);
  if (updated != 0)
    return Failed("instance " + name + " could not be updated" + HostResult(updated));
  // Undo steps are best effort: the failure that set them off is what the tool reports.
  undo.Add([name] {
    static_cast<void>(h::DeleteServiceNamed(name + "-" + h::kPartitionedFirstNode));
    static_cast<void>(h::DeleteKeyTree(h::InstanceNodesKey(name)));
  });
  undo.Add([name] {
    static_cast<void>(h::RemoveVariableAt(h::ProfileLevel::kInstance, name, h::kVarNamePortRange));
    static_cast<void>(
        h::RemoveVariableAt(h::ProfileLevel::kInstance, name, h::kVarNameInstanceOwner));
  });
  if (int result = RecordPartitioning(name, arguments, computer); result != 0) {
    return Failed("instance " + name + " could not be made partitioned" + HostResult(result));
  }
  undo.Commit();
  // Node 0's service takes the place of the ordinary instance's service; an old service that
  // cannot be removed does not undo the partitioning, which is complete.
  static_cast<void>(h::DeleteServiceNamed(name));
  return {kExitSuccess,
          "instance " + name + " is now partitioned, with node " + h::kPartitionedFirstNode};
}

ToolOutcome AddNodeOfRemoteInstance(const Installation& installation,
                                    const NodeArguments& arguments) {
  const std::string& name = arguments.name;
  const std::string computer = ThisComputer();
  if (platform::NamesEqualIgnoreCase(arguments.owner, computer)) {
    return Conflict("the owner " + arguments.owner +
                    " is this computer; its partitioned instances are made by QZ7ICRT.EXE");
  }
  const bool defined = h::IsInstanceDefined(name);
  if (defined) {
    std::string owner;
    if (h::ReadVariableAt(h::ProfileLevel::kInstance, name, h::kVarNameInstanceOwner, &owner) !=
            0 ||
        !platform::NamesEqualIgnoreCase(owner, arguments.owner)) {
      return Conflict("instance " + name + " is defined here and is not owned by " +
                      arguments.owner);
    }
    std::vector<std::string> nodes;
    // An instance whose nodes cannot be listed is taken to have none.
    static_cast<void>(h::ListInstanceNodes(name, &nodes));
    for (const std::string& node : nodes) {
      if (platform::NamesEqualIgnoreCase(node, arguments.node)) {
        return Conflict("node " + arguments.node + " of instance " + name + " exists already");
      }
    }
  }

  UndoLog undo;
  if (!defined) {
    if (int result = h::DefineInstance(name); result != 0) {
      return Failed("instance " + name + " could not be defined" + HostResult(result));
    }
    undo.Add([name] { static_cast<void>(h::UndefineInstance(name)); });  // best effort
    const std::pair<const char*, std::string> variables[] = {
        {h::kVarNameInstanceProfile, installation.profileDir},
        {h::kVarNameInstanceOwner, arguments.owner},
        {h::kVarNamePortRange, kDefaultPortRange},
    };
    for (const auto& [variable, value] : variables) {
      if (int result = h::WriteVariableAt(h::ProfileLevel::kInstance, name, variable, value)) {
        return Failed("instance " + name + " could not be defined" + HostResult(result));
      }
    }
  }
  if (int result = h::AddInstanceNode(name, arguments.node); result != 0) {
    return Failed("node " + arguments.node + " could not be added" + HostResult(result));
  }
  const std::string nodeKey = h::InstanceNodesKey(name) + "\\" + arguments.node;
  undo.Add([nodeKey] { static_cast<void>(h::DeleteKeyTree(nodeKey)); });

  const std::string service = name + "-" + arguments.node;
  const std::string program = base::JoinPath(installation.installDir, h::kServiceProgram);
  if (uint32_t error =
          h::RegisterService(service, "QZ7 - " + service, program, OrNull(arguments.logon.account),
                             OrNull(arguments.logon.password))) {
    return Failed("the service " + service + " could not be registered (Windows error " +
                  std::to_string(error) + ")");
  }
  undo.Commit();
  return {kExitSuccess, "node " + arguments.node + " of instance " + name + " (owner " +
                            arguments.owner + ") added"};
}

}  // namespace qz7::instance_tools
