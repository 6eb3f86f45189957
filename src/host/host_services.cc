#include "host/host_services.h"

#include "host/stand_in_host.h"

namespace qz7::host {

namespace {

HostServices* installed_host = nullptr;

HostServices& StandIn() {
  static StandInHost stand_in;
  return stand_in;
}

struct VariableName {
  int number;
  const char* name;
};
constexpr VariableName kVariableNames[] = {
    {kVarAdminServer, "QZ7ADMINSERVER"}, {kVarInstance, "QZ7INSTANCE"},
    {kVarDefaultInstance, "QZ7INSTDEF"}, {kVarInstanceProfile, "QZ7INSTPROF"},
    {kVarInstanceOwner, "QZ7INSTOWNER"},
};

}  // namespace

const char* ProfileVariableName(int number) {
  for (const VariableName& entry : kVariableNames) {
    if (entry.number == number) return entry.name;
  }
  return nullptr;
}

HostServices& Host() { return installed_host != nullptr ? *installed_host : StandIn(); }

void SetHost(HostServices* services) { installed_host = services; }

}  // namespace qz7::host
