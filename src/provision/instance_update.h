// Bringing one instance of the set-up run into being on this computer, or updating one that
// exists, in the way its kind asks for, with its configuration file kept safe around the work.
#ifndef QZ7_PROVISION_INSTANCE_UPDATE_H_
#define QZ7_PROVISION_INSTANCE_UPDATE_H_

#include <cstddef>
#include <cstdint>

#include "provision/provision_request.h"

namespace qz7::provision {

// Message numbers in the caller's message module.
constexpr unsigned kMsgAdminServerFailed = 3598;     // result
constexpr unsigned kMsgNodeToolNotRun = 5202;        // system error code
constexpr unsigned kMsgNodeToolFailed = 5206;        // exit code
constexpr unsigned kMsgInstanceToolNotRun = 5178;    // system error code
constexpr unsigned kMsgInstanceCreateFailed = 5182;  // exit code of QZ7ICRT.EXE
constexpr unsigned kMsgInstanceUpdateFailed = 5294;  // exit code of QZ7IUPDT.EXE
constexpr unsigned kMsgCreateInstanceFailed = 3594;  // result, instance name
constexpr unsigned kMsgShareFailed = 3914;           // share name, result

// Sizes of the buffers the work uses.
constexpr size_t kToolOutputSize = 1024;

// Creates or updates record, one of four ways:
//   - isAdminServer: CreateAdminServer;
//   - a node of an instance another computer owns (ownedElsewhere): QZ7NCRT.EXE, unless the
//     instance exists already, in which case it is left as it is;
//   - a partitioned record that is new, or exists but is not partitioned: QZ7ICRT.EXE or
//     QZ7IUPDT.EXE, run from installDir with the command lines of instance_tool_commands.h;
//   - any other record: CreateInstance, and for a partitioned instance whose profile directory
//     moved, targetProfileDir shared as "QZ7-<name>".
// A record exists when an entry of context.existingInstances has its name (without regard to
// case; the first match's node type counts).
//
// Around the work, targetProfileDir\<name>\qz7systm, when it exists, is copied to a free
// numbered name beside it (qz7systm.NNN) and put back in one step at the end, so the
// instance's configuration comes out as it went in whatever the tools or the host wrote. A
// saved copy that an earlier run did not put back is put back first. When that, or the copy,
// cannot be done, nothing is done and the result is 0. A qz7systm whose status cannot be read
// is copied all the same; only when that copy fails too is the record left alone. An
// existing instance made partitioned that is not defined, or that the profile registry still
// places in another profile directory (it moved), is first set up through the host, so that
// QZ7IUPDT.EXE finds it where it now lives. After the work, the services of an
// existing partitioned instance's nodes are pointed at this installation when the requested
// profile directory is not the installation directory.
//
// Every failure is shown once as a stop message (numbers above) through the context's log,
// module and owner; a tool that ended with a non-zero exit code also gets its command line
// (password hidden) and its output (password hidden the same way) appended to the log.
// Returns 0, the result of
// CreateAdminServer or CreateInstance, the Windows error of a tool that could not be run, a
// tool's exit code, or the host's result from sharing the directory. *untouched (when given)
// tells the one result 0 that is no success: the configuration could not be saved first, and
// the record was left as it was.
[[nodiscard]] int32_t CreateOrUpdateInstance(const ProvisionContext& context,
                                             const InstanceRequest& record, bool isAdminServer,
                                             bool* untouched = nullptr);

}  // namespace qz7::provision

#endif  // QZ7_PROVISION_INSTANCE_UPDATE_H_
