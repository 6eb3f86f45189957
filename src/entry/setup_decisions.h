// The choices the set-up driver makes, written once: RunInstanceSetup acts on them and
// `qz7inst create --check` reports them, so that the check cannot plan one thing while the
// run does another.
#ifndef QZ7_ENTRY_SETUP_DECISIONS_H_
#define QZ7_ENTRY_SETUP_DECISIONS_H_

#include <cstdint>
#include <string>

#include "entry/setup_context.h"

namespace qz7::entry {

// The name of the plain instance the run adds when nothing else would be set up.
constexpr const char* kDefaultInstanceName = "QZ7";

// The default rule over a list of count records with the administration server at adminIndex
// (-1 none): the record that is not the administration server when there is exactly one such
// record; -1 when the rule names none. Applied to discovery's list, the context's list and
// the driver's list alike.
[[nodiscard]] int32_t DefaultRecordIndex(int32_t count, int32_t adminIndex);

// The driver's first step on the context: when nothing but an administration server at index
// 0 is listed, a plain record "QZ7" is added as the default instance; else the default rule
// sets defaultIndex when it names a record. False when "QZ7" had to be added and the list
// could not grow (the context then says so in listGrowthFailed).
bool ChooseDefaultInstance(SetupContext& context);

// Whether the discovery could not read what it reads (the profile registry, the old index
// file, an instance's configuration file, a marker file): the run then changes nothing and
// ends as when the profile registry cannot be reached (-9), since it would set up instances
// it does not know, or knows wrongly.
[[nodiscard]] bool DiscoveryUnreadable(const SetupContext& context);

// Where the run stands when the upgrade's choices below are asked for. The driver asks once
// every record is created or updated (kCreateDone): the profile registry then holds what
// the upgrade reads. `qz7inst create --check` asks before anything is done (kCreatePending):
// the answer is then what the registry will hold once the run has dropped, created and
// updated the instances, so that the check plans the template the run will choose.
enum class CreateStep { kCreateDone, kCreatePending };

// The administration server the upgrade converts into the administration-server template:
// variable 32 read at the default level, kept when the profile registry defines that
// instance; "" when no administration-server template is installed, or the variable is not
// set or names no defined instance. With the create step pending: the context's
// administration-server record (its creation records it in variable 32); none when the run
// drops the one the scan found (the drop removes the variable); else what is read now.
[[nodiscard]] std::string UpgradeAdminServerName(const SetupContext& context, CreateStep step);

// What is known of an instance's owner computer (variable 169) when its template is chosen.
struct OwnerVariable {
  int readCode = 0;  // the read's code: 0 read, host::kNotFound not set, else unreadable
  bool set = false;  // read with a value that is not empty
};

// Variable 169 of the instance name as read from the profile registry. With the create step
// pending, a partitioned record of the context that the scan did not find partitioned (the
// run creates it, or makes it partitioned) counts as set when the read finds no value: the
// instance tool that makes it partitioned records its owner.
[[nodiscard]] OwnerVariable UpgradeOwnerVariable(const SetupContext& context, const char* name,
                                                 CreateStep step);

// The template configuration file (a quoted marker path of the context) that the instance
// name is upgraded into, adminServerName being UpgradeAdminServerName's answer for the same
// step: the administration server's template when name equals it (without regard to case);
// the partitioned template when one is installed and the instance has an owner computer
// (UpgradeOwnerVariable, read only when a partitioned template is installed); else the server
// template. Null, with *unreadable set to the read's code, when a partitioned template is
// installed and the owner variable could not be read: converted into the wrong template, a
// partitioned instance would lose its kind and values, so it is not upgraded.
[[nodiscard]] const char* UpgradeTemplateFor(const SetupContext& context, const char* name,
                                             const std::string& adminServerName, CreateStep step,
                                             int* unreadable);

}  // namespace qz7::entry

#endif  // QZ7_ENTRY_SETUP_DECISIONS_H_
