#include "tools/qz7inst/create_check.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>

#include "base/dbm_block.h"
#include "base/directory_layout.h"
#include "base/node_directory_layout.h"
#include "base/quoted_path.h"
#include "entry/existing_instance_scan.h"
#include "entry/instance_record.h"
#include "entry/setup_context.h"
#include "entry/setup_decisions.h"
#include "host/host_services.h"
#include "host/instance_lifecycle.h"
#include "migrate/database_directory_migration.h"
#include "migrate/directory_recognition.h"
#include "migrate/node_directory_migration.h"
#include "platform/drives.h"
#include "platform/file_system.h"
#include "platform/windows_path.h"
#include "tools/qz7inst/instance_table.h"
#include "tools/qz7inst/json_value.h"
#include "tools/qz7inst/read_only_host.h"
#include "upgrade/dbm_configuration_conversion.h"
#include "util/setup_files.h"

namespace qz7::cli {
namespace {

// What the run would do with one directory file (database or node directory).
struct DirectoryStep {
  std::string path;           // Windows path of the directory file
  std::string action;         // "migrate", "current", "rebuild empty" (or "" when there is none)
  std::string layout;         // the layout it is migrated from ("2", "2 (short header)", ...)
  std::string backup;         // an unfinished migration backup found ("" none)
  bool backupUsable = false;  // the backup's header is one the migration can restore from
};

struct InstancePlan {
  std::string name;
  std::string role;    // "default", "administration server" or ""
  std::string action;  // "create", "update", "keep" (a node another computer owns), "drop"
  std::string moveFrom, moveTo;  // both empty when the directory stays where it is
  std::string directory;         // where the instance lives after the run
  std::string configFrom;        // layout the configuration is converted from; "" none
  std::string configTemplate;    // the template it is converted into
  std::vector<DirectoryStep> databaseDirectories;  // its own, then any at drive roots
  std::optional<DirectoryStep> nodeDirectory;
  std::vector<std::string> blockers;
};

struct Plan {
  std::string installDir, currentProfileDir, targetProfileDir;
  std::vector<std::string> blockers;  // of the run as a whole
  std::vector<InstancePlan> instances;
  size_t BlockerCount() const {
    size_t count = blockers.size();
    for (const InstancePlan& instance : instances) count += instance.blockers.size();
    return count;
  }
};

std::string Bare(const base::FixedText<entry::kContextPathSize>& path) {
  return base::StripQuotes(path.c_str());
}

bool IsFile(const std::string& path) {
  platform::FileStatus status;
  return platform::GetFileStatus(path.c_str(), &status) == 0 && status.isRegular;
}

bool IsFolder(const std::string& path) {
  platform::FileStatus status;
  return platform::GetFileStatus(path.c_str(), &status) == 0 && status.isDirectory;
}

// An unfinished migration backup (".TMP") in folder: "" when there is none; else its path,
// with *usable telling whether its header is one the migration can restore from (a blocker
// is added when it is not).
template <size_t HeaderSize>
std::string UnfinishedBackup(const std::string& folder, const char* name,
                             bool (*headerValid)(const unsigned char (&)[HeaderSize]),
                             const char* what, bool* usable, std::vector<std::string>* blockers) {
  const std::string path = folder + "\\" + name;
  if (!IsFile(path)) return "";
  unsigned char header[HeaderSize] = {};
  bool valid = false;
  if (platform::FileHandle file = platform::OpenFile(path.c_str(), "rb")) {
    valid = file->Read(header, HeaderSize) == HeaderSize && headerValid(header);
    file->Close();
  }
  if (!valid) blockers->push_back(std::string("damaged ") + what + " migration backup " + path);
  *usable = valid;
  return path;
}

bool DatabaseBackupValid(const unsigned char (&header)[base::kBackupHeaderSize]) {
  const base::DirectoryBackupHeader decoded = base::DecodeBackupHeader(header);
  return decoded.signatureMatches && (decoded.status == base::kBackupStatusIncomplete ||
                                      decoded.status == base::kBackupStatusComplete);
}

bool NodeBackupValid(const unsigned char (&header)[base::kNodeBackupHeaderSize]) {
  return base::NodeBackupSignatureMatches(header);
}

// The start both directory steps share: the file below folder and an unfinished backup of it.
// kNone: nothing to plan; kDecided: the backup decides the step (a usable one is restored and
// converted again; a damaged one stops the run, with no action and a blocker saying why);
// kRecognise: the file itself is to be compared with its copy and recognised.
enum class StepStart { kNone, kDecided, kRecognise };

template <size_t HeaderSize>
StepStart StartDirectoryStep(const std::string& folder, const char* fileName,
                             const char* backupName,
                             bool (*headerValid)(const unsigned char (&)[HeaderSize]),
                             const char* what, DirectoryStep* step,
                             std::vector<std::string>* blockers) {
  step->path = folder + "\\" + fileName;
  step->backup = UnfinishedBackup<HeaderSize>(folder, backupName, headerValid, what,
                                              &step->backupUsable, blockers);
  if (step->backup.empty()) return IsFile(step->path) ? StepStart::kRecognise : StepStart::kNone;
  if (step->backupUsable) {
    step->action = "migrate";
    step->layout = "as saved in the backup";
  }
  return StepStart::kDecided;
}

// The system database directory below instanceDir, told by the migration's own recognition.
std::optional<DirectoryStep> PlanDatabaseDirectory(const std::string& instanceDir,
                                                   std::vector<std::string>* blockers) {
  const std::string folder = instanceDir + "\\" + migrate::kDirectoryFolderName;
  DirectoryStep step;
  const StepStart start = StartDirectoryStep<base::kBackupHeaderSize>(
      folder, migrate::kDirectoryFileName, migrate::kMigrationBackupName, DatabaseBackupValid,
      "database directory", &step, blockers);
  if (start == StepStart::kNone) return std::nullopt;
  if (start == StepStart::kDecided) return step;
  migrate::DirectoryCopiesComparison copies;
  const std::string copy = folder + "\\" + migrate::kDirectoryCopyName;
  if (migrate::CompareDirectoryCopies(step.path.c_str(), copy.c_str(), &copies) ==
      migrate::MigrationResult{-101}) {
    blockers->push_back("database directory " + step.path + " and its copy " + copy + " differ");
  }
  migrate::DirectoryRecognition recognition;
  const migrate::MigrationResult code =
      migrate::RecogniseDirectoryFile(step.path.c_str(), &recognition);
  if (code != 0) {
    blockers->push_back("database directory " + step.path + " cannot be read (code " +
                        std::to_string(code) + ")");
    return step;
  }
  switch (recognition.type) {
    case base::DirectoryLayoutType::kCurrent:
      step.action = "current";
      break;
    case base::DirectoryLayoutType::kEmpty:
      step.action = "rebuild empty";
      break;
    case base::DirectoryLayoutType::kUnrecognised:
      blockers->push_back("database directory " + step.path + ": layout not recognised");
      break;
    default:
      step.action = "migrate";
      step.layout = std::to_string(static_cast<int>(recognition.type)) +
                    (recognition.shortHeader ? " (short header)" : "");
  }
  return step;
}

std::optional<DirectoryStep> PlanNodeDirectory(const std::string& instanceDir,
                                               std::vector<std::string>* blockers) {
  const std::string folder = instanceDir + "\\" + base::kNodeDirectoryFolderName;
  DirectoryStep step;
  const StepStart start = StartDirectoryStep<base::kNodeBackupHeaderSize>(
      folder, base::kNodeDirectoryFileName, base::kNodeMigrationBackupName, NodeBackupValid,
      "node directory", &step, blockers);
  if (start == StepStart::kNone) return std::nullopt;
  if (start == StepStart::kDecided) return step;
  migrate::NodeDirectoryComparison copies;
  const std::string copy = folder + "\\" + base::kNodeDirectoryCopyName;
  if (migrate::CompareNodeDirectoryCopies(step.path.c_str(), copy.c_str(), &copies) ==
      migrate::MigrationResult{-101}) {
    blockers->push_back("node directory " + step.path + " and its copy " + copy + " differ");
  }
  base::NodeDirectoryLayoutType type = base::NodeDirectoryLayoutType::kUnrecognised;
  if (migrate::RecogniseNodeDirectoryFile(step.path.c_str(), &type) != 0) {
    blockers->push_back("node directory " + step.path + " cannot be read");
    return step;
  }
  switch (type) {
    case base::NodeDirectoryLayoutType::kCurrent:
      step.action = "current";
      break;
    case base::NodeDirectoryLayoutType::kEmpty:
      step.action = "rebuild empty";
      break;
    case base::NodeDirectoryLayoutType::kUnrecognised:
      blockers->push_back("node directory " + step.path + ": layout not recognised");
      break;
    default:
      step.action = "migrate";
      step.layout = std::to_string(static_cast<int>(type));
  }
  return step;
}

// Reads a configuration block with the conversion's own reader; the conversion's code.
int ReadConfiguration(const std::string& path, std::vector<unsigned char>* block,
                      uint16_t* version) {
  block->assign(base::kDbmBlockSize, 0);
  platform::FileHandle file = platform::OpenFile(path.c_str(), "rb");
  if (!file) return upgrade::kDbmFileError;
  const int code = upgrade::ReadDbmConfiguration(*file, block->data(), version);
  file->Close();
  return code;
}

// The configuration step: the template the driver's own choice gives the instance, and
// whether its qz7systm (read where it is now) can be converted into it.
void PlanConfiguration(const entry::SetupContext& context, const char* templateChoice,
                       const std::string& sourceDir, InstancePlan* plan) {
  const std::string templateFile = base::StripQuotes(templateChoice);
  plan->configTemplate = templateFile;
  if (templateFile.empty() || !IsFile(templateFile)) {
    plan->blockers.push_back("no template configuration for this kind of instance in " +
                             Bare(context.installDir) + "\\CFG");
    return;
  }
  const std::string config = sourceDir + "\\" + entry::kConfigFileName;
  if (!IsFile(config)) return;  // the instance gets the template as it is
  std::vector<unsigned char> oldBlock, newBlock;
  uint16_t version = 0;
  const int code = ReadConfiguration(config, &oldBlock, &version);
  plan->configFrom = LayoutText(version);
  if (code == upgrade::kDbmVersionError) {
    plan->blockers.push_back("configuration " + config + ": layout " + LayoutText(version) +
                             " not recognised");
  } else if (code == upgrade::kDbmChecksumError) {
    plan->blockers.push_back("configuration " + config + " is damaged (checksum)");
  } else if (code != 0) {
    plan->blockers.push_back("configuration " + config + " cannot be read whole");
  } else if (ReadConfiguration(templateFile, &newBlock, &version) != 0) {
    plan->blockers.push_back("template configuration " + templateFile + " is damaged");
  } else if (upgrade::ConvertDbmFields(newBlock.data(), oldBlock.data()) != 0) {
    plan->blockers.push_back("configuration " + config +
                             ": its node type cannot be converted into the template's");
  }
}

// Old database directories that an index-file release kept at the roots of fixed drives.
void PlanDriveDatabaseDirectories(InstancePlan* plan) {
  char drives[128] = {};
  const uint32_t length = platform::GetLogicalDriveStringsA(sizeof drives, drives);
  if (length == 0 || length >= sizeof drives) return;
  for (const char* root = drives; *root != '\0'; root += std::strlen(root) + 1) {
    if (platform::GetDriveTypeA(root) != platform::kDriveFixed) continue;
    if (auto step = PlanDatabaseDirectory(std::string(root) + plan->name, &plan->blockers)) {
      plan->databaseDirectories.push_back(std::move(*step));
    }
  }
}

Plan BuildPlan(entry::SetupContext& context) {
  Plan plan;
  plan.installDir = Bare(context.installDir);
  plan.currentProfileDir = Bare(context.currentProfileDir);
  plan.targetProfileDir = Bare(context.targetProfileDir);
  if (context.installDir.empty()) {
    plan.blockers.push_back("the installation directory cannot be used");
    return plan;
  }
  if (!entry::ChooseDefaultInstance(context)) {
    plan.blockers.push_back("the instance list cannot grow");
    return plan;
  }
  host::HostServices& host = host::Host();
  for (const auto* directory : {&context.installDir, &context.targetProfileDir}) {
    std::vector<char> text(directory->c_str(), directory->c_str() + directory->size() + 1);
    if (host.PRegProfilePE(directory == &context.installDir ? host::kProfileSetInstall
                                                            : host::kProfileSetInstanceDir,
                           text.data(), -1) != 0) {
      plan.blockers.push_back("the profile registry cannot be pointed at " + Bare(*directory));
    }
  }
  if (entry::DiscoveryUnreadable(context)) {
    plan.blockers.push_back(
        "what is installed could not be read (the profile registry, the old instance index "
        "file, a qz7systm or a marker file): the run changes nothing and ends with -9");
  }
  const entry::ExistingInstanceScan* scan = context.existingScan.get();
  const bool moving = scan != nullptr && std::strcmp(context.currentProfileDir.c_str(),
                                                     context.targetProfileDir.c_str()) != 0;
  auto scanIndexOf = [&](const char* name) -> int32_t {
    return scan == nullptr ? -1 : scan->records.FindByName(name);
  };

  if (scan != nullptr && scan->adminIndex >= 0 && context.adminIndex == -1) {
    InstancePlan dropped;
    dropped.name = scan->records[scan->adminIndex].name.c_str();
    dropped.role = "administration server";
    dropped.action = "drop";
    plan.instances.push_back(std::move(dropped));
  }
  // The template each instance is upgraded into, chosen as the driver chooses it once the
  // instances are created or updated.
  const std::string upgradeAdmin =
      entry::UpgradeAdminServerName(context, entry::CreateStep::kCreatePending);
  for (int32_t i = 0; i < context.records.count(); ++i) {
    const entry::InstanceRecord& record = context.records[i];
    InstancePlan instance;
    instance.name = record.name.c_str();
    const bool isAdmin = i == context.adminIndex;
    instance.role = isAdmin ? "administration server" : i == context.defaultIndex ? "default" : "";
    const int32_t found = scanIndexOf(record.name.c_str());
    const bool exists = found >= 0;
    instance.action = !exists ? "create" : record.ownedElsewhere ? "keep" : "update";
    instance.directory = Bare(context.targetProfileDir) + "\\" + instance.name;
    std::string sourceDir = instance.directory;
    if (exists && moving && !scan->records[found].ownedElsewhere) {
      instance.moveFrom = Bare(context.currentProfileDir) + "\\" + instance.name;
      if (IsFolder(instance.moveFrom)) {
        instance.moveTo = instance.directory;
        sourceDir = instance.moveFrom;
      } else {
        instance.moveFrom.clear();
      }
    }
    // The host refuses a name outside its character set, and Windows a device's name for
    // the instance's directory: the instance would fail to be created.
    if (!host::IsValidInstanceName(instance.name)) {
      instance.blockers.push_back("name " + instance.name +
                                  " cannot be an instance's: 1 to 8 characters, each a letter, "
                                  "a digit or one of @ # $ _");
    } else if (platform::IsReservedDeviceName(instance.name)) {
      instance.blockers.push_back("name " + instance.name +
                                  " is reserved for a device: no instance directory can have it");
    }
    platform::FileStatus status;
    if (platform::GetFileStatus(instance.directory.c_str(), &status) == 0 && !status.isDirectory) {
      instance.blockers.push_back("name clash: " + instance.directory +
                                  " is a file, where the instance directory must be");
    }
    // The upgrade converts every defined instance whose directory is in the target directory
    // by then: each one the run creates or moves there, and a node another computer owns
    // only when its directory is there already (the run neither creates nor moves it).
    const bool upgraded = record.ownedElsewhere == 0 || IsFolder(instance.directory);
    if (upgraded) {
      int unreadable = 0;
      const char* templateFile =
          entry::UpgradeTemplateFor(context, record.name.c_str(), upgradeAdmin,
                                    entry::CreateStep::kCreatePending, &unreadable);
      if (templateFile == nullptr) {
        instance.blockers.push_back(
            "whether " + instance.name +
            " is partitioned cannot be read from the profile registry (code " +
            std::to_string(unreadable) + ")");
      } else {
        PlanConfiguration(context, templateFile, sourceDir, &instance);
      }
      if (auto step = PlanDatabaseDirectory(sourceDir, &instance.blockers)) {
        instance.databaseDirectories.push_back(std::move(*step));
      }
      instance.nodeDirectory = PlanNodeDirectory(sourceDir, &instance.blockers);
    }
    if (exists && scan->priorRelease == entry::kPriorReleaseIndexFile) {
      PlanDriveDatabaseDirectories(&instance);
    }
    plan.instances.push_back(std::move(instance));
  }
  return plan;
}

JsonValue StepJson(const DirectoryStep& step) {
  JsonValue json = JsonValue::Object();
  json.Set("path", JsonValue::Text(step.path))
      .Set("action", step.action.empty() ? JsonValue::Null() : JsonValue::Text(step.action))
      .Set("fromLayout", step.layout.empty() ? JsonValue::Null() : JsonValue::Text(step.layout))
      .Set("unfinishedBackup",
           step.backup.empty() ? JsonValue::Null() : JsonValue::Text(step.backup))
      .Set("backupUsable",
           step.backup.empty() ? JsonValue::Null() : JsonValue::Bool(step.backupUsable));
  return json;
}

JsonValue Texts(const std::vector<std::string>& texts) {
  JsonValue json = JsonValue::Array();
  for (const std::string& text : texts) json.Push(JsonValue::Text(text));
  return json;
}

JsonValue OrNull(const std::string& text) {
  return text.empty() ? JsonValue::Null() : JsonValue::Text(text);
}

JsonValue PlanJson(const Plan& plan) {
  JsonValue instances = JsonValue::Array();
  for (const InstancePlan& instance : plan.instances) {
    JsonValue move = JsonValue::Null();
    if (!instance.moveFrom.empty()) {
      move = JsonValue::Object();
      move.Set("from", JsonValue::Text(instance.moveFrom))
          .Set("to", JsonValue::Text(instance.moveTo));
    }
    JsonValue databases = JsonValue::Array();
    for (const DirectoryStep& step : instance.databaseDirectories) databases.Push(StepJson(step));
    JsonValue json = JsonValue::Object();
    json.Set("name", JsonValue::Text(instance.name))
        .Set("role", OrNull(instance.role))
        .Set("action", JsonValue::Text(instance.action))
        .Set("directory", OrNull(instance.action == "drop" ? "" : instance.directory))
        .Set("move", std::move(move))
        .Set("configFromLayout", OrNull(instance.configFrom))
        .Set("configTemplate", OrNull(instance.configTemplate))
        .Set("databaseDirectories", std::move(databases))
        .Set("nodeDirectory",
             instance.nodeDirectory ? StepJson(*instance.nodeDirectory) : JsonValue::Null())
        .Set("blockers", Texts(instance.blockers));
    instances.Push(std::move(json));
  }
  JsonValue document = JsonValue::Object();
  document.Set("installDir", JsonValue::Text(plan.installDir))
      .Set("currentProfileDir", JsonValue::Text(plan.currentProfileDir))
      .Set("targetProfileDir", JsonValue::Text(plan.targetProfileDir))
      .Set("instances", std::move(instances))
      .Set("blockers", Texts(plan.blockers))
      .Set("wouldRun", JsonValue::Bool(plan.BlockerCount() == 0));
  return document;
}

void PrintStep(FILE* out, const char* label, const DirectoryStep& step) {
  std::string what = step.action;
  if (step.action == "migrate") what = "migrated from layout " + step.layout;
  if (step.action == "current") what = "current layout, kept";
  if (step.action == "rebuild empty") what = "empty, rebuilt in the current layout";
  if (step.action.empty()) what = "cannot be migrated";
  std::fprintf(out, "  %-15s %s: %s\n", label, step.path.c_str(), what.c_str());
  if (!step.backup.empty()) {
    std::fprintf(out, "  %-15s %s (%s)\n", "backup found", step.backup.c_str(),
                 step.backupUsable ? "an unfinished migration; restored and done again"
                                   : "damaged: the run stops here, nothing is restored");
  }
}

void PrintPlan(FILE* out, const Plan& plan) {
  std::fprintf(out, "installation %s; instances from %s, set up in %s\n", plan.installDir.c_str(),
               plan.currentProfileDir.c_str(), plan.targetProfileDir.c_str());
  for (const std::string& blocker : plan.blockers)
    std::fprintf(out, "STOPS: %s\n", blocker.c_str());
  for (const InstancePlan& instance : plan.instances) {
    std::fprintf(out, "\n%s%s%s: %s\n", instance.name.c_str(), instance.role.empty() ? "" : ", ",
                 instance.role.c_str(), instance.action.c_str());
    if (instance.action == "drop") continue;
    if (!instance.moveFrom.empty()) {
      std::fprintf(out, "  %-15s %s -> %s\n", "move", instance.moveFrom.c_str(),
                   instance.moveTo.c_str());
    } else {
      std::fprintf(out, "  %-15s %s\n", "directory", instance.directory.c_str());
    }
    if (!instance.configTemplate.empty()) {
      std::fprintf(out, "  %-15s %s\n", "configuration",
                   instance.configFrom.empty() ? ("new from " + instance.configTemplate).c_str()
                                               : ("converted from layout " + instance.configFrom +
                                                  " into " + instance.configTemplate)
                                                     .c_str());
    }
    for (const DirectoryStep& step : instance.databaseDirectories) {
      PrintStep(out, "database dir", step);
    }
    if (instance.nodeDirectory) PrintStep(out, "node dir", *instance.nodeDirectory);
    for (const std::string& blocker : instance.blockers) {
      std::fprintf(out, "  %-15s %s\n", "STOPS:", blocker.c_str());
    }
  }
  const size_t blockers = plan.BlockerCount();
  if (blockers == 0) {
    std::fprintf(out, "\ncheck: nothing would stop the run\n");
  } else {
    std::fprintf(out, "\ncheck: %zu problem%s would stop the run\n", blockers,
                 blockers == 1 ? "" : "s");
  }
}

}  // namespace

int RunCreateCheck(Invocation& invocation, const std::string& current, const std::string& requested,
                   const std::string& install,
                   const std::vector<InstanceDescriptor*>& descriptors) {
  ReadOnlyHost readOnly;
  entry::SetupContext context;
  entry::BuildSetupContext(context, current.c_str(), requested.c_str(), install.c_str(), nullptr,
                           nullptr, nullptr);
  for (InstanceDescriptor* descriptor : descriptors) {
    if (descriptor != nullptr) entry::AddDescriptor(context, descriptor);
  }
  const Plan plan = BuildPlan(context);
  if (invocation.json) {
    PrintJson(invocation.out, PlanJson(plan));
  } else {
    PrintPlan(invocation.out, plan);
  }
  return plan.BlockerCount() == 0 ? 0 : 1;
}

}  // namespace qz7::cli
