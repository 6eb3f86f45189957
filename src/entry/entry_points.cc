// The exported entry points createInstances and deleteInstances.
#include "entry/instance_removal.h"
#include "entry/instance_setup.h"
#include "entry/setup_context.h"
#include "qz7instm.h"

extern "C" {

QZ7_API int QZ7_CALL createInstances(const char* currentProfilePath,
                                     const char* requestedProfilePath, const char* installPath,
                                     InstanceDescriptor** descriptors, QZ7_LOG_FILE logFile,
                                     QZ7_MODULE messageModule, QZ7_OWNER ownerWindow) {
  // No exception crosses the C interface: an unexpected failure (memory that could not be
  // had, say) is a failed step, 1.
  try {
    qz7::entry::SetupContext context;
    qz7::entry::BuildSetupContext(context, currentProfilePath, requestedProfilePath, installPath,
                                  logFile, messageModule, ownerWindow);
    if (descriptors != nullptr) {
      for (InstanceDescriptor** next = descriptors; *next != nullptr; ++next) {
        qz7::entry::AddDescriptor(context, *next);
      }
    }
    return qz7::entry::RunInstanceSetup(context);
  } catch (...) {
    return 1;
  }
}

QZ7_API void QZ7_CALL deleteInstances(const char* profilePath, const char* installPath,
                                      QZ7_LOG_FILE logFile, QZ7_MODULE messageModule,
                                      QZ7_OWNER ownerWindow) {
  // No exception crosses the C interface: an unexpected failure ends the removal there.
  try {
    qz7::entry::SetupContext context;
    qz7::entry::BuildSetupContext(context, profilePath, installPath, installPath, logFile,
                                  messageModule, ownerWindow);
    // Removal wipes the whole profile registry. When the arguments could not even give an
    // installation directory (null, empty or over-long paths) nothing is known to belong to
    // this installation, so nothing is removed rather than every instance's definitions.
    if (context.installDir.empty()) return;
    qz7::entry::RemoveAllInstances(context);
  } catch (...) {
  }
}

}  // extern "C"
