#include "tools/qz7inst/instance_table.h"

#include "tools/qz7inst/command.h"

namespace qz7::cli {
namespace {

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

}  // namespace

void PrintInstanceTable(FILE* out, const entry::ExistingInstanceScan& scan) {
  std::fprintf(out, "profile directory: %s\nprior release: %d (%s)\n\n", scan.profileDir.c_str(),
               scan.priorRelease, ReleaseName(scan.priorRelease));
  std::fprintf(out, "%-3s %-8s %-5s %-5s %-14s %-5s %-7s %s\n", "#", "NAME", "TYPE", "ELSE",
               "CONFIG", "ADMIN", "DEFAULT", "PROFILE");
  for (int32_t i = 0; i < scan.records.count(); ++i) {
    const entry::InstanceRecord& record = scan.records[i];
    std::fprintf(out, "%-3d %-8s %-5d %-5s %-14s %-5s %-7s %s\n", i, record.name.c_str(),
                 record.nodeType, record.ownedElsewhere ? "yes" : "no", record.configText.c_str(),
                 i == scan.adminIndex ? "yes" : "", i == scan.defaultIndex ? "yes" : "",
                 record.profileDir.empty() ? "(common)" : record.profileDir.c_str());
  }
  if (scan.records.count() == 0) std::fprintf(out, "(no instances found)\n");
}

void PrintInstanceJson(FILE* out, const entry::ExistingInstanceScan& scan) {
  std::fprintf(out, "{\"profileDir\": %s, \"priorRelease\": %d, \"adminIndex\": %d, ",
               JsonString(scan.profileDir.c_str()).c_str(), scan.priorRelease, scan.adminIndex);
  std::fprintf(out, "\"defaultIndex\": %d, \"instances\": [", scan.defaultIndex);
  for (int32_t i = 0; i < scan.records.count(); ++i) {
    const entry::InstanceRecord& record = scan.records[i];
    std::fprintf(
        out,
        "%s\n  {\"name\": %s, \"nodeType\": %d, \"ownedElsewhere\": %s, "
        "\"configText\": %s, \"profileDir\": %s, \"adminServer\": %s, \"default\": %s}",
        i == 0 ? "" : ",", JsonString(record.name.c_str()).c_str(), record.nodeType,
        record.ownedElsewhere ? "true" : "false", JsonString(record.configText.c_str()).c_str(),
        JsonString(record.profileDir.c_str()).c_str(), i == scan.adminIndex ? "true" : "false",
        i == scan.defaultIndex ? "true" : "false");
  }
  std::fprintf(out, "\n]}\n");
}

}  // namespace qz7::cli
