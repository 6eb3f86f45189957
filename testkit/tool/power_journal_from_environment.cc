// Linked into the instance tools' test builds only: before main runs, the fault wrapper is put
// in force and tracks this process's changes for the power cut of the process that started it,
// when that process named its journal in QZ7_POWER_JOURNAL (fault_injection.h). Without it the
// tool runs as the shipped one does.
#include "testkit/fault_injection.h"

namespace {

[[maybe_unused]] const bool tracked = [] {
  static_cast<void>(qz7::platform::TrackForParentFromEnvironment());
  return true;
}();

}  // namespace
