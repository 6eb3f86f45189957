// The removal driver behind deleteInstances: drops every instance the scan found, removes
// the installation's profile registry, and removes the instance-profile directory together
// with those of its parents that are left empty.
#ifndef QZ7_ENTRY_INSTANCE_REMOVAL_H_
#define QZ7_ENTRY_INSTANCE_REMOVAL_H_

#include "entry/setup_context.h"

namespace qz7::entry {

// Uses the context's targetProfileDir (quoted or not) and its scan. Reports nothing: drops
// and the registry removal are not checked, and the directory removal stops quietly at the
// first directory that cannot be removed (one still holding files, say). A drive root is
// never removed, because once the path is cut down to "C:" no backslash remains.
void RemoveAllInstances(const SetupContext& context);

}  // namespace qz7::entry

#endif  // QZ7_ENTRY_INSTANCE_REMOVAL_H_
