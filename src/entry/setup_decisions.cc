#include "entry/setup_decisions.h"

#include "entry/existing_instance_scan.h"
#include "host/host_services.h"
#include "platform/windows_path.h"

namespace qz7::entry {
namespace {

constexpr size_t kProfileNameSize = 256;

}  // namespace

int32_t DefaultRecordIndex(int32_t count, int32_t adminIndex) {
  if (count == 1 && adminIndex == -1) return 0;
  if (count == 2 && adminIndex >= 0) return adminIndex == 0 ? 1 : 0;
  return -1;
}

bool DiscoveryUnreadable(const SetupContext& context) {
  return (context.existingScan != nullptr && context.existingScan->unreadable) ||
         context.markerUnknown;
}

bool ChooseDefaultInstance(SetupContext& context) {
  const int32_t count = context.records.count();
  if (count == 0 || (count == 1 && context.adminIndex == 0)) {
    InstanceRecord record;
    FillPlainRecord(record, kDefaultInstanceName, nullptr, nullptr);
    return AddInstanceRecord(context, record, /*isDefault=*/true) >= 0;
  }
  const int32_t index = DefaultRecordIndex(count, context.adminIndex);
  if (index >= 0) context.defaultIndex = index;
  return true;
}

std::string UpgradeAdminServerName(const SetupContext& context, CreateStep step) {
  if (context.adminMarkerFile.empty()) return "";
  if (step == CreateStep::kCreatePending) {
    if (context.adminIndex >= 0) return context.records[context.adminIndex].name.c_str();
    if (context.existingScan != nullptr && context.existingScan->adminIndex >= 0) return "";
  }
  char name[kProfileNameSize] = {};
  if (host::Host().PRegValuePE(host::kValueRead, host::kVarAdminServer, nullptr, name, sizeof name,
                               nullptr, host::kAnyNode) != 0) {
    return "";
  }
  if (host::Host().PRegProfilePE(host::kProfileIsDefined, name, host::kAnyNode) != 0) return "";
  return name;
}

OwnerVariable UpgradeOwnerVariable(const SetupContext& context, const char* name, CreateStep step) {
  char owner[kProfileNameSize] = {};
  OwnerVariable result;
  result.readCode = host::Host().PRegValuePE(host::kValueRead, host::kVarInstanceOwner, nullptr,
                                             owner, sizeof owner, name, host::kAnyNode);
  result.set = result.readCode == 0 && owner[0] != '\0';
  if (result.set || step != CreateStep::kCreatePending) return result;
  const int32_t index = context.records.FindByName(name);
  if (index < 0 || context.records[index].nodeType != kNodeTypePartitioned) return result;
  const ExistingInstanceScan* scan = context.existingScan.get();
  const int32_t found = scan == nullptr ? -1 : scan->records.FindByName(name);
  if (found < 0 || scan->records[found].nodeType != kNodeTypePartitioned) {
    result = {.readCode = 0, .set = true};
  }
  return result;
}

const char* UpgradeTemplateFor(const SetupContext& context, const char* name,
                               const std::string& adminServerName, CreateStep step,
                               int* unreadable) {
  *unreadable = 0;
  if (!adminServerName.empty() && platform::NamesEqualIgnoreCase(name, adminServerName.c_str())) {
    return context.adminMarkerFile.c_str();
  }
  if (context.partitionedMarkerFile.empty()) return context.serverMarkerFile.c_str();
  const OwnerVariable owner = UpgradeOwnerVariable(context, name, step);
  if (owner.set) return context.partitionedMarkerFile.c_str();
  if (owner.readCode != 0 && owner.readCode != host::kNotFound) {
    *unreadable = owner.readCode;
    return nullptr;
  }
  return context.serverMarkerFile.c_str();
}

}  // namespace qz7::entry
