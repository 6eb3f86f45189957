#include "host/instance_lifecycle.h"

#include <cstring>
#include <functional>
#include <utility>
#include <vector>

#include "base/multibyte.h"
#include "base/quoted_path.h"
#include "host/host_files.h"
#include "host/host_services.h"
#include "host/machine_facts.h"
#include "host/profile_registry.h"
#include "host/registry_access.h"
#include "host/service_table.h"
#include "host/undo_log.h"
#include "platform/file_system.h"
#include "platform/win_error.h"
#include "platform/windows_path.h"

namespace qz7::host {

namespace p = qz7::platform;

namespace {

// Best effort: used on cleanup paths, where a file that stays is only a leftover.
void RemoveFileForced(const std::string& path) {
  static_cast<void>(p::SetFileWritable(path.c_str(), true));
  static_cast<void>(p::RemoveFile(path.c_str()));
}

// The template for the request, or kTemplateMissing / kBadArgument.
int FindTemplate(const InstanceCreateRequest& request, std::string* path) {
  std::string cfg = base::JoinPath(request.installDir, "CFG");
  if (request.adminServer) {
    for (const char* name : kAdminServerTemplates) {
      if (IsRegularFile(base::JoinPath(cfg, name))) {
        *path = base::JoinPath(cfg, name);
        return 0;
      }
    }
    return kTemplateMissing;
  }
  for (const InstanceTemplate& entry : kInstanceTemplates) {
    if (entry.kindCode != request.kindCode) continue;
    *path = base::JoinPath(cfg, entry.fileName);
    return IsRegularFile(*path) ? 0 : kTemplateMissing;
  }
  return kBadArgument;
}

// Puts a copy of the template in place as the instance's qz7systm, unless keepExisting and a
// qz7systm is there already (an updated instance keeps its configuration). A qz7systm that is
// replaced is moved aside to qz7systm.old first and kept until the create commits, so that
// undoing puts it back; oldPath receives its name ("" when there was none). The file is
// probed once: the final rename never overwrites, so a qz7systm that a failed probe missed
// fails the call instead of being lost.
int InstallConfigFile(const std::string& templatePath, const std::string& instanceDir,
                      bool keepExisting, UndoLog* undo, std::string* oldPath) {
  std::string target = base::JoinPath(instanceDir, kConfigFileName);
  std::string fresh = target + ".new";
  std::string old = target + ".old";
  oldPath->clear();
  bool hadConfig = IsRegularFile(target);
  if (hadConfig && keepExisting) return 0;
  // A qz7systm.old beside a qz7systm may be the only copy of a configuration from an
  // interrupted run; it is never overwritten.
  if (hadConfig && IsRegularFile(old)) return kSystemError;
  if (IsRegularFile(fresh)) RemoveFileForced(fresh);
  if (!p::CopyFileA(templatePath.c_str(), fresh.c_str(), false)) {
    RemoveFileForced(fresh);
    return kSystemError;
  }
  static_cast<void>(p::SetFileWritable(fresh.c_str(), true));
  // On the disk before it takes qz7systm's name, and that name before the call returns.
  if (p::SyncFile(fresh.c_str()) != 0) {
    RemoveFileForced(fresh);
    return kSystemError;
  }
  if (hadConfig) {
    if (p::RenameFile(target.c_str(), old.c_str()) != 0) {
      RemoveFileForced(fresh);
      return kSystemError;
    }
    undo->Add([target, old] {
      if (IsRegularFile(target)) RemoveFileForced(target);
      static_cast<void>(p::RenameFile(old.c_str(), target.c_str()));
    });
    *oldPath = old;
  }
  if (p::RenameFile(fresh.c_str(), target.c_str()) != 0) {
    RemoveFileForced(fresh);
    return kSystemError;
  }
  if (!hadConfig) undo->Add([target] { RemoveFileForced(target); });
  return p::SyncDirectory(instanceDir.c_str()) == 0 ? 0 : kSystemError;
}

// Defines a new instance in the profile registry, or updates the entry of a defined one: its
// variables and nodes stay, QZ7INSTPROF is set to the new profile directory, and a
// partitioned instance gets node "0" when it lacks it. The undo steps restore the old
// QZ7INSTPROF (or remove it when there was none) and remove only what was added.
int DefineOrUpdateProfile(const InstanceCreateRequest& request, bool update, UndoLog* undo) {
  const std::string name = request.name;
  if (!update) {
    if (int result = DefineInstance(name); result != 0) return result;
    undo->Add([name] { static_cast<void>(UndefineInstance(name)); });  // best effort
  } else {
    std::string previous;
    int read = ReadVariableAt(ProfileLevel::kInstance, name, kVarNameInstanceProfile, &previous);
    // A value that cannot be read cannot be restored; leave the instance untouched.
    if (read != 0 && read != kNotFound) return read;
    bool hadProfile = read == 0;
    // Registered before the write: restoring what is there already is harmless.
    // Undo is best effort: the failure that set it off is what the caller is told.
    undo->Add([name, hadProfile, previous] {
      if (hadProfile) {
        static_cast<void>(
            WriteVariableAt(ProfileLevel::kInstance, name, kVarNameInstanceProfile, previous));
      } else {
        static_cast<void>(RemoveVariableAt(ProfileLevel::kInstance, name, kVarNameInstanceProfile));
      }
    });
  }
  if (WriteVariableAt(ProfileLevel::kInstance, name, kVarNameInstanceProfile, request.profileDir) !=
      0) {
    return kRegistryUnreachable;
  }
  if (request.kindCode != 4 || request.adminServer) return 0;
  std::vector<std::string> nodes;
  if (int result = ListInstanceNodes(name, &nodes); result != 0) return result;
  for (const std::string& node : nodes) {
    if (platform::NamesEqualIgnoreCase(node, kPartitionedFirstNode)) return 0;
  }
  if (update) {
    // Remove the NODES key too when this call brings it into being.
    std::string added = InstanceNodesKey(name);
    if (KeyExists(added)) added += std::string("\\") + kPartitionedFirstNode;
    undo->Add([added] { static_cast<void>(DeleteKeyTree(added)); });
  }
  return AddInstanceNode(name, kPartitionedFirstNode) == 0 ? 0 : kRegistryUnreachable;
}

int RegisterInstanceService(const InstanceCreateRequest& request, UndoLog* undo) {
  std::string serviceName = request.name;
  if (request.kindCode == 4 && !request.adminServer) {
    serviceName += std::string("-") + kPartitionedFirstNode;
  }
  // Quoted when it holds a blank ("C:\Program Files\..."): unquoted, the service manager
  // would take the text up to the first blank for the program.
  std::string program = base::JoinPath(request.installDir, kServiceProgram);
  if (program.find(' ') != std::string::npos) program = "\"" + program + "\"";
  ServiceConfig previous;
  if (QueryServiceNamed(serviceName, &previous) == 0) {
    if (ChangeServiceNamed(serviceName, program.c_str(), request.account, request.password) != 0) {
      return kSystemError;
    }
    // Best effort, as every undo step: the failure that set it off is what the caller is told.
    undo->Add([serviceName, previous] {
      static_cast<void>(ChangeServiceNamed(
          serviceName, previous.program.c_str(),
          previous.account.empty() ? nullptr : previous.account.c_str(), nullptr));
    });
    return 0;
  }
  if (RegisterService(serviceName, "QZ7 - " + serviceName, program, request.account,
                      request.password) != 0) {
    return kSystemError;
  }
  undo->Add([serviceName] { static_cast<void>(DeleteServiceNamed(serviceName)); });  // best effort
  return 0;
}

// Names that can safely end a directory path handed to DropInstance.
bool IsDroppableName(const std::string& name) {
  return IsValidProfileName(name) && name != "." && name != ".." &&
         name.find_first_of(":/") == std::string::npos;
}

}  // namespace

bool IsValidInstanceName(const std::string& name) {
  if (name.empty() || name.size() > 8) return false;
  for (char c : name) {
    if (c == '\0' || std::strchr(kPermittedCharset, c) == nullptr) return false;
  }
  return true;
}

int CreateInstance(const InstanceCreateRequest& request) {
  if (!IsValidInstanceName(request.name) || request.profileDir.empty() ||
      request.installDir.empty()) {
    return kBadArgument;
  }
  std::string templatePath;
  if (int result = FindTemplate(request, &templatePath); result != 0) return result;
  bool update = IsInstanceDefined(request.name);

  UndoLog undo;
  std::string instanceDir = base::JoinPath(request.profileDir, request.name);
  std::vector<std::string> created;
  uint32_t error = MakeDirectories(instanceDir, &created);
  if (!created.empty()) {
    std::string outermost = created.front();
    undo.Add([outermost] { static_cast<void>(RemoveTree(outermost)); });  // best effort
  }
  if (error != 0) return kSystemError;

  if (int result = DefineOrUpdateProfile(request, update, &undo); result != 0) return result;
  if (int result = RegisterInstanceService(request, &undo); result != 0) return result;

  std::string oldConfig;
  if (int result = InstallConfigFile(templatePath, instanceDir, update, &undo, &oldConfig);
      result != 0) {
    return result;
  }
  undo.Commit();
  if (!oldConfig.empty()) RemoveFileForced(oldConfig);
  return 0;
}

int DropInstance(const std::string& name, const char* instanceDir) {
  if (!IsDroppableName(name)) return kBadArgument;
  std::string dir;
  if (instanceDir != nullptr) {
    dir = base::StripQuotes(instanceDir);
    if (dir.empty()) return kBadArgument;
  } else {
    std::string profileDir;
    if (ReadVariableAt(ProfileLevel::kInstance, name, kVarNameInstanceProfile, &profileDir) == 0 &&
        !profileDir.empty()) {
      dir = base::JoinPath(profileDir, name);
    }
  }
  // A trailing backslash still names the same directory.
  std::string named = dir;
  while (!named.empty() && base::FindLastCharMB(named.c_str(), '\\') == &named.back()) {
    named.pop_back();
  }
  if (!dir.empty() && !platform::NamesEqualIgnoreCase(base::LastComponent(named), name)) {
    return kBadArgument;
  }

  bool found = false;
  bool failed = false;
  std::vector<std::string> services{name};
  std::vector<std::string> nodes;
  // An instance whose nodes cannot be listed still has its own service removed.
  static_cast<void>(ListInstanceNodes(name, &nodes));
  for (const std::string& node : nodes) services.push_back(name + "-" + node);
  for (const std::string& service : services) {
    uint32_t error = DeleteServiceNamed(service);
    if (error == 0) {
      found = true;
    } else if (error != p::kErrorServiceDoesNotExist) {
      failed = true;
    }
  }

  int result = UndefineInstance(name);
  if (result == 0) {
    found = true;
  } else if (result != kNotFound) {
    failed = true;
  }

  if (!dir.empty() && IsDirectory(dir)) {
    found = true;
    if (RemoveTree(dir) != 0) failed = true;
  }
  if (failed) return kSystemError;
  return found ? 0 : kNotFound;
}

}  // namespace qz7::host
