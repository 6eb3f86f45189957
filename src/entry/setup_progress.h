// Where a caller of the set-up driver can follow a long run: an observer called as each
// instance's step starts and ends. Null by default, so the library itself reports nothing;
// the qz7inst tool sets one to print where a run is. Not part of the exported interface.
#ifndef QZ7_ENTRY_SETUP_PROGRESS_H_
#define QZ7_ENTRY_SETUP_PROGRESS_H_

#include <cstdint>

namespace qz7::entry {

enum class SetupStage {
  kCreateOrUpdate,  // the instance is created or updated (host or instance tool)
  kUpgrade,         // its configuration and directory files are brought to this release
};

struct SetupProgressEvent {
  SetupStage stage;
  const char* instance;  // the instance's name
  bool starting;         // true as the step starts, false as it ends
  int32_t result;        // when it ends: 0 the step succeeded, else it failed
  // When it ends with 0: the step's defined result is 0, yet it left the instance as it was
  // (its configuration could not be saved first). The run goes on; the instance is not done.
  bool untouched = false;
};

using SetupProgressObserver = void (*)(void* userData, const SetupProgressEvent& event);

// Puts an observer in place for this process (null removes it) and returns the previous one.
SetupProgressObserver SetSetupProgressObserver(SetupProgressObserver observer, void* userData);

// Calls the observer, when there is one.
void ReportSetupProgress(SetupStage stage, const char* instance, bool starting, int32_t result = 0,
                         bool untouched = false);

}  // namespace qz7::entry

#endif  // QZ7_ENTRY_SETUP_PROGRESS_H_
