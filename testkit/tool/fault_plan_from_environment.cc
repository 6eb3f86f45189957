// Linked into the test build of the tool (qz7inst_test) only: before main runs, the fault
// wrapper is put in force with the plan QZ7_FAULT names, and QZ7_OPERATION_COUNTS is honoured
// (fault_injection.h). Without QZ7_FAULT the wrapper only counts.
#include "testkit/fault_injection.h"

namespace {

// No QZ7_FAULT, or a malformed one, leaves the run without a plan: the run itself shows it.
[[maybe_unused]] const bool planRead = [] {
  static_cast<void>(qz7::platform::InstallFaultPlanFromEnvironment());
  return true;
}();

}  // namespace
