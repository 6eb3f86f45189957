// Printing the instances that discovery found, shared by list and demo: per instance its
// directory, its service's state, the release of its qz7systm (its layout version) and
// whether it is the default instance or the administration server.
#ifndef QZ7_TOOLS_QZ7INST_INSTANCE_TABLE_H_
#define QZ7_TOOLS_QZ7INST_INSTANCE_TABLE_H_

#include <cstdint>
#include <cstdio>
#include <string>

#include "entry/existing_instance_scan.h"
#include "tools/qz7inst/json_value.h"

namespace qz7::cli {

// What a person wants to know of one instance found.
struct InstanceFacts {
  std::string directory;  // Windows path of the instance directory
  std::string service;    // the service's name; "" for a client instance, which has none
  // "running", "stopped" or "absent" (not registered); a service on its way between states
  // shows that state ("start-pending", "paused", ...), and "unknown" when it cannot be asked.
  std::string serviceState;
  uint16_t configLayout = 0;  // layout version of qz7systm; 0 when it is missing or too short
  bool configCurrent = false;
};

// Looks at the instance's service and qz7systm; reads only.
InstanceFacts FactsOf(const entry::ExistingInstanceScan& scan, int32_t index);

// "0x900", or "-" for layout 0.
std::string LayoutText(uint16_t layout);

void PrintInstanceTable(FILE* out, const entry::ExistingInstanceScan& scan);
JsonValue InstanceJson(const entry::ExistingInstanceScan& scan);

}  // namespace qz7::cli

#endif  // QZ7_TOOLS_QZ7INST_INSTANCE_TABLE_H_
