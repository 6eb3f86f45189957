#include "entry/setup_context.h"

#include <cstring>
#include <string>

#include "base/coding.h"
#include "base/quoted_path.h"
#include "entry/setup_decisions.h"
#include "host/host_services.h"
#include "util/path_normalization.h"
#include "util/setup_files.h"

namespace qz7::entry {
namespace {

struct MarkerRow {
  const char* fileName;
  int32_t value;
};

constexpr MarkerRow kServerMarkers[] = {
    {"qz7syssv", 1},
    {"qz7syssr", 3},
    {"qz7sysst", 5},
    {"qz7sysrq", 2},
};

constexpr MarkerRow kAdminMarkers[] = {
    {"qz7syssv.das", 1},
    {"qz7syssr.das", 3},
};

constexpr const char* kPartitionedMarker = "qz7sysmp";

bool hostInitialised = false;

// installDir + "\CFG\" + fileName, quoted when installDir is.
std::string MarkerPath(const SetupContext& context, const char* fileName) {
  return base::ExtendPath(context.installDir.c_str(), std::string("\\CFG\\") + fileName);
}

// The first marker of the table that exists as a regular file, as a full path, and its value.
// A marker whose status cannot be read marks the context.
bool IsMarker(SetupContext& context, const std::string& path) {
  const int state = util::PathKindState(path.c_str(), false);
  if (state < 0) context.markerUnknown = true;
  return state == 1;
}

template <size_t N>
int32_t FindMarker(SetupContext& context, const MarkerRow (&table)[N],
                   base::FixedText<kContextPathSize>& found) {
  found.clear();
  for (const MarkerRow& row : table) {
    std::string path = MarkerPath(context, row.fileName);
    if (IsMarker(context, path)) {
      found = path.c_str();
      return row.value;
    }
  }
  return -1;
}

void MergeExistingInstances(SetupContext& context) {
  ExistingInstanceScan& scan = *context.existingScan;
  if (scan.listGrowthFailed) context.listGrowthFailed = true;
  for (int32_t i = scan.records.count() - 1; i >= 0; --i) {
    const InstanceRecord& found = scan.records[i];
    if (i == scan.adminIndex) {
      if (context.adminMarkerFile.empty()) continue;
      AddAdminServerRecord(context, found.name.c_str(), found.account.c_str(),
                           found.password.c_str());
      if (context.adminIndex >= 0)
        SetNodeType(context.records[context.adminIndex], context.serverType);
      continue;
    }
    if (found.ownedElsewhere != 0 && context.partitionedMarkerFile.empty()) continue;
    const int32_t index = AddInstanceRecord(context, found, i == scan.defaultIndex);
    if (index < 0) continue;
    InstanceRecord& added = context.records[index];
    if (!(added.nodeType == kNodeTypePartitioned && !context.partitionedMarkerFile.empty())) {
      SetNodeType(added, context.serverType);
    }
  }
}

void ApplyDefaultRule(SetupContext& context) {
  const int32_t index = DefaultRecordIndex(context.records.count(), context.adminIndex);
  if (index >= 0) context.defaultIndex = index;
}

void InitialiseHostOnce() {
  if (hostInitialised) return;
  host::HostServices& host = host::Host();
  // The host libraries' initialisation has no failure the set-up could act on.
  static_cast<void>(host.CreateInitAppData(kInitAppDataFlags));
  if (unsigned char* block = host.ControlBlock(); block != nullptr) {
    base::StoreLE16(block + host::kControlBlockInitOffset, 1);
  }
  hostInitialised = true;
}

// A text field of the descriptor, read at its offset and never past its width.
std::string DescriptorText(const unsigned char* bytes, size_t offset, size_t width) {
  const char* text = reinterpret_cast<const char*>(bytes + offset);
  return std::string(text, strnlen(text, width));
}

int32_t DescriptorInt(const unsigned char* bytes, size_t offset) {
  return static_cast<int32_t>(base::LoadLE32(bytes + offset));
}

}  // namespace

bool HostInitialised() { return hostInitialised; }

int32_t AddInstanceRecord(SetupContext& context, const InstanceRecord& record, bool isDefault) {
  if (record.name.empty()) return -1;
  const int32_t existing = context.records.FindByName(record.name.c_str());
  if (existing >= 0) {
    base::FixedText<kContextPathSize> oldProfile = context.records[existing].profileDir;
    context.records[existing] = record;
    SetProfileDir(context.records[existing], oldProfile.c_str());
    context.defaultIndex = isDefault ? existing : -1;
    return existing;
  }
  const int32_t index = context.records.Append(record);
  if (index < 0) {
    context.listGrowthFailed = true;
    return -1;
  }
  if (isDefault) context.defaultIndex = index;
  return index;
}

void AddAdminServerRecord(SetupContext& context, const char* name, const char* account,
                          const char* password) {
  InstanceRecord record;
  FillPlainRecord(record, name, account, password);
  if (record.name.empty()) {
    if (context.adminIndex >= 0) {
      record.name = context.records[context.adminIndex].name.c_str();
    } else if (context.existingScan && context.existingScan->adminIndex >= 0) {
      record.name = context.existingScan->records[context.existingScan->adminIndex].name.c_str();
    } else if (const char* free = util::FindFreeNumberedName(context.targetProfileDir.c_str(),
                                                             kAdminServerNamePattern)) {
      record.name = base::LastComponent(free).c_str();
    } else {
      record.name = kAdminServerFallbackName;
    }
  }
  if (context.adminIndex >= 0) {
    context.records[context.adminIndex] = record;
  } else {
    context.adminIndex = AddInstanceRecord(context, record, false);
  }
}

void AddDescriptor(SetupContext& context, const InstanceDescriptor* descriptor) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(descriptor);
  const std::string name = DescriptorText(bytes, 0x000, 9);
  const std::string account = DescriptorText(bytes, 0x009, 46);
  const std::string password = DescriptorText(bytes, 0x037, 15);
  const bool makeDefault = DescriptorInt(bytes, 0x04C) != 0;

  if (DescriptorInt(bytes, 0x050) != 0) {
    AddAdminServerRecord(context, name.c_str(), account.c_str(), password.c_str());
    return;
  }
  InstanceRecord record;
  if (DescriptorInt(bytes, 0x054) != 0) {
    FillAddedNodeRecord(record, name.c_str(), account.c_str(), password.c_str(),
                        DescriptorText(bytes, 0x17C, 10).c_str(),
                        DescriptorText(bytes, 0x186, 16).c_str());
  } else if (DescriptorInt(bytes, 0x048) == kDescriptorKindPartitioned) {
    FillPartitionedRecord(
        record, name.c_str(), account.c_str(), password.c_str(),
        DescriptorText(bytes, 0x058, 10).c_str(), DescriptorText(bytes, 0x062, 10).c_str(),
        DescriptorText(bytes, 0x06C, 256).c_str(), DescriptorText(bytes, 0x16C, 16).c_str());
  } else {
    FillPlainRecord(record, name.c_str(), account.c_str(), password.c_str());
  }
  // A refused record (empty name) is skipped; a lost one is flagged in the context.
  static_cast<void>(AddInstanceRecord(context, record, makeDefault));
}

void BuildSetupContext(SetupContext& context, const char* currentProfilePath,
                       const char* requestedProfilePath, const char* installPath,
                       QZ7_LOG_FILE logFile, QZ7_MODULE messageModule, QZ7_OWNER ownerWindow) {
  context.logFile = logFile;
  context.messageModule = messageModule;
  context.ownerWindow = ownerWindow;

  // A path that cannot be normalised ends construction; the fields normalised before it keep
  // their values, the failed one and all later ones stay empty.
  const struct {
    const char* source;
    base::FixedText<kContextPathSize>& field;
  } paths[] = {{currentProfilePath, context.currentProfileDir},
               {requestedProfilePath, context.requestedProfileDir},
               {installPath, context.installDir}};
  for (const auto& path : paths) {
    if (util::NormalizeSetupPath(path.source, path.field.data(), kContextPathSize) != 0) {
      path.field.clear();
      return;
    }
  }
  if (context.installDir.empty()) return;

  if (context.requestedProfileDir.empty()) context.requestedProfileDir = context.installDir.c_str();
  if (context.currentProfileDir.empty()) {
    context.currentProfileDir = context.requestedProfileDir.c_str();
  }
  context.targetProfileDir =
      std::strcmp(context.currentProfileDir.c_str(), context.requestedProfileDir.c_str()) == 0
          ? context.installDir.c_str()
          : context.currentProfileDir.c_str();

  context.existingScan =
      ScanExistingInstances(context.currentProfileDir.c_str(), context.targetProfileDir.c_str());

  context.serverType = FindMarker(context, kServerMarkers, context.serverMarkerFile);
  FindMarker(context, kAdminMarkers, context.adminMarkerFile);
  const std::string partitioned = MarkerPath(context, kPartitionedMarker);
  if (context.serverType == 1 && IsMarker(context, partitioned)) {
    context.partitionedMarkerFile = partitioned.c_str();
  }

  if (context.existingScan) MergeExistingInstances(context);
  ApplyDefaultRule(context);
  InitialiseHostOnce();
}

}  // namespace qz7::entry
