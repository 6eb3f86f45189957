#include "entry/setup_progress.h"

namespace qz7::entry {
namespace {

SetupProgressObserver observerInForce = nullptr;
void* observerData = nullptr;

}  // namespace

SetupProgressObserver SetSetupProgressObserver(SetupProgressObserver observer, void* userData) {
  const SetupProgressObserver previous = observerInForce;
  observerInForce = observer;
  observerData = userData;
  return previous;
}

void ReportSetupProgress(SetupStage stage, const char* instance, bool starting, int32_t result,
                         bool untouched) {
  if (observerInForce == nullptr) return;
  observerInForce(observerData, SetupProgressEvent{stage, instance, starting, result, untouched});
}

}  // namespace qz7::entry
