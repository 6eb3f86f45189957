// The copies of an instance's qz7systm that a step keeps while it works, and how the next run
// recognises and finishes what an interrupted or failed step left.
//
//   instanceDir\qz7systm.NNN   the configuration as it was before an instance was created or
//                              updated, put back over qz7systm when that work is done; or
//                              the configuration that an upgrade could not convert, with the
//                              template in qz7systm, put back by the next creation or upgrade
//   instanceDir\qz7systm.upg   the new release's template being filled by the upgrade; it
//                              takes qz7systm's place in one rename once it is complete
//   instanceDir\qz7systm.old   the host's: qz7systm as it was before the host put a
//                              template in its place, kept until the creation commits
//   instanceDir\qz7systm.new   the host's: the template being copied in before it takes
//                              qz7systm's place by a rename
//
// A saved copy is made by copying qz7systm from its first byte on while qz7systm itself is
// left alone, so a copy that an interruption cut short is a prefix of qz7systm. A saved copy
// that is not a prefix of qz7systm therefore means that qz7systm was changed after the copy
// was complete and that the step which was to put the copy back did not finish: the copy is
// the instance's configuration.
#ifndef QZ7_UPGRADE_SAVED_CONFIGURATION_H_
#define QZ7_UPGRADE_SAVED_CONFIGURATION_H_

#include <string>

namespace qz7::upgrade {

constexpr const char* kConfigurationFileName = "qz7systm";
// The numbered names a saved configuration takes: qz7systm.000, qz7systm.001, ...
constexpr const char* kSavedConfigurationPattern = "qz7systm.???";
constexpr const char* kStagedConfigurationName = "qz7systm.upg";
constexpr const char* kReplacedConfigurationName = "qz7systm.old";
constexpr const char* kFreshConfigurationName = "qz7systm.new";

// Finishes what an earlier run left in instanceDir (quoted or not): a saved copy that is a
// prefix of qz7systm (or equal to it) is deleted; any other saved copy is put back in place of
// qz7systm in one step; a staged template (ours or the host's) is deleted. The host's replaced
// copy is treated as a saved copy, after the numbered ones; what is put back is synced. Returns
// true when no saved copy remains
// that holds more than qz7systm (what could not be deleted is only a duplicate); false when a
// copy could not be read or put back, and qz7systm must then not be changed.
[[nodiscard]] bool FinishSavedConfiguration(const char* instanceDir);

// Saves instanceDir\qz7systm under the first free name qz7systm.NNN beside it and returns that
// name (quoted when instanceDir is), or "" when it could not be saved (a partial copy is
// removed). The copy and its name are synced to the disk before the name is returned, so that
// qz7systm may be overwritten next. The caller must know that qz7systm exists.
[[nodiscard]] std::string SaveConfiguration(const char* instanceDir);

// Puts the saved copy back over qz7systm in one step (the copy's name is gone afterwards) and
// syncs the folder. False when the put-back failed; the copy then stays for the next run's
// FinishSavedConfiguration (as it comes back when a power cut undoes the put-back).
[[nodiscard]] bool PutBackConfiguration(const char* instanceDir, const std::string& savedPath);

}  // namespace qz7::upgrade

#endif  // QZ7_UPGRADE_SAVED_CONFIGURATION_H_
