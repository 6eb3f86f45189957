#include "tools/qz7inst/instance_table.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include "base/dbm_block.h"
#include "platform/file_system.h"
#include "platform/services.h"
#include "upgrade/dbm_configuration_conversion.h"

namespace qz7::cli {
namespace {

constexpr uint16_t kCurrentConfigLayout = 0x900;

const char* ReleaseName(int32_t priorRelease) {
  switch (priorRelease) {
    case entry::kPriorReleaseIndexFile:
      return "index file or layout 0x700";
    case entry::kPriorRelease800:
      return "layout 0x800";
    case entry::kPriorRelease900:
      return "layout 0x900";
    default:
      return "unknown";
  }
}

// The service an instance of this node type is registered as (the names the set-up driver
// de-registers and the host registers): "NAME-0" for node 0 of a partitioned instance, none
// for a client.
std::string ServiceNameOf(const entry::InstanceRecord& record) {
  if (record.nodeType == entry::kNodeTypeClient) return "";
  if (record.nodeType == entry::kNodeTypePartitioned)
    return std::string(record.name.c_str()) + "-0";
  return record.name.c_str();
}

// The words list shows for a service's state, by SERVICE_STATUS.dwCurrentState - 1.
constexpr const char* kServiceStateWords[] = {"stopped", "start-pending",    "stop-pending",
                                              "running", "continue-pending", "pause-pending",
                                              "paused"};

std::string ServiceState(const std::string& service) {
  if (service.empty()) return "absent";
  platform::ScHandle manager =
      platform::OpenSCManagerA(nullptr, nullptr, platform::kScManagerConnect);
  if (manager == nullptr) return "absent";
  platform::ScHandle handle =
      platform::OpenServiceA(manager, service.c_str(), platform::kServiceQueryStatus);
  std::string state = "absent";
  if (handle != nullptr) {
    uint32_t current = 0;
    const bool known = platform::QueryServiceStatus(handle, &current) && current >= 1 &&
                       current <= std::size(kServiceStateWords);
    state = known ? kServiceStateWords[current - 1] : "unknown";
    // Closing a handle only read from cannot lose anything.
    static_cast<void>(platform::CloseServiceHandle(handle));
  }
  static_cast<void>(platform::CloseServiceHandle(manager));
  return state;
}

uint16_t ConfigLayout(const std::string& directory) {
  const std::string path = directory + "\\" + entry::kConfigFileName;
  platform::FileHandle file = platform::OpenFile(path.c_str(), "rb");
  if (!file) return 0;
  std::vector<unsigned char> block(base::kDbmBlockSize, 0);
  const size_t got = file->Read(block.data(), block.size());
  file->Close();
  return got >= base::kDbmVersionOffset + 2 ? upgrade::DbmLayoutVersion(block.data()) : 0;
}

std::string Role(const entry::ExistingInstanceScan& scan, int32_t index) {
  if (index == scan.adminIndex) return "administration server";
  if (index == scan.defaultIndex) return "default";
  return "";
}

}  // namespace

std::string LayoutText(uint16_t layout) {
  if (layout == 0) return "-";
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", layout);
  return text;
}

InstanceFacts FactsOf(const entry::ExistingInstanceScan& scan, int32_t index) {
  const entry::InstanceRecord& record = scan.records[index];
  InstanceFacts facts;
  const std::string base =
      record.profileDir.empty() ? scan.profileDir.c_str() : record.profileDir.c_str();
  facts.directory = base + "\\" + record.name.c_str();
  facts.service = ServiceNameOf(record);
  facts.serviceState = ServiceState(facts.service);
  facts.configLayout = record.ownedElsewhere ? 0 : ConfigLayout(facts.directory);
  facts.configCurrent = facts.configLayout == kCurrentConfigLayout;
  return facts;
}

void PrintInstanceTable(FILE* out, const entry::ExistingInstanceScan& scan) {
  std::fprintf(out, "profile directory: %s\nprior release: %d (%s)\n\n", scan.profileDir.c_str(),
               scan.priorRelease, ReleaseName(scan.priorRelease));
  std::vector<InstanceFacts> facts;
  size_t directoryWidth = std::string("DIRECTORY").size();
  for (int32_t i = 0; i < scan.records.count(); ++i) {
    facts.push_back(FactsOf(scan, i));
    directoryWidth = std::max(directoryWidth, facts.back().directory.size());
  }
  const int width = static_cast<int>(directoryWidth);
  std::fprintf(out, "%-8s  %-*s  %-7s  %-7s  %-4s  %s\n", "NAME", width, "DIRECTORY", "SERVICE",
               "RELEASE", "NODE", "ROLE");
  for (int32_t i = 0; i < scan.records.count(); ++i) {
    const entry::InstanceRecord& record = scan.records[i];
    const InstanceFacts& fact = facts[static_cast<size_t>(i)];
    std::string role = Role(scan, i);
    if (record.ownedElsewhere) role += role.empty() ? "node of another computer" : ", node";
    std::fprintf(out, "%-8s  %-*s  %-7s  %-7s  %-4d  %s\n", record.name.c_str(), width,
                 fact.directory.c_str(), fact.serviceState.c_str(),
                 LayoutText(fact.configLayout).c_str(), record.nodeType, role.c_str());
  }
  if (scan.records.count() == 0) std::fprintf(out, "(no instances found)\n");
}

JsonValue InstanceJson(const entry::ExistingInstanceScan& scan) {
  JsonValue instances = JsonValue::Array();
  for (int32_t i = 0; i < scan.records.count(); ++i) {
    const entry::InstanceRecord& record = scan.records[i];
    const InstanceFacts facts = FactsOf(scan, i);
    JsonValue instance = JsonValue::Object();
    instance.Set("name", JsonValue::Text(record.name.c_str()))
        .Set("directory", JsonValue::Text(facts.directory))
        .Set("service", facts.service.empty() ? JsonValue::Null() : JsonValue::Text(facts.service))
        .Set("serviceState", JsonValue::Text(facts.serviceState))
        .Set("configLayout", facts.configLayout == 0
                                 ? JsonValue::Null()
                                 : JsonValue::Text(LayoutText(facts.configLayout)))
        .Set("configCurrent", JsonValue::Bool(facts.configCurrent))
        .Set("nodeType", JsonValue::Signed(record.nodeType))
        .Set("ownedElsewhere", JsonValue::Bool(record.ownedElsewhere != 0))
        .Set("configText", JsonValue::Text(record.configText.c_str()))
        .Set("profileDir", JsonValue::Text(record.profileDir.c_str()))
        .Set("adminServer", JsonValue::Bool(i == scan.adminIndex))
        .Set("default", JsonValue::Bool(i == scan.defaultIndex));
    instances.Push(std::move(instance));
  }
  JsonValue document = JsonValue::Object();
  document.Set("profileDir", JsonValue::Text(scan.profileDir.c_str()))
      .Set("priorRelease", JsonValue::Signed(scan.priorRelease))
      .Set("adminIndex", JsonValue::Signed(scan.adminIndex))
      .Set("defaultIndex", JsonValue::Signed(scan.defaultIndex))
      .Set("instances", std::move(instances));
  return document;
}

}  // namespace qz7::cli
