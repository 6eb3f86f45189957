// The default node name of a new instance: at most eight characters derived from this
// computer's name, with a number when several instances share the computer.
#ifndef QZ7_PROVISION_NODE_NAME_H_
#define QZ7_PROVISION_NODE_NAME_H_

#include <cstddef>

#include "base/dbm_fields.h"

namespace qz7::provision {

// Size of a node-name text with its terminator: the node-name field of qz7systm.
constexpr size_t kNodeNameSize = base::dbm::kNodeName.width;

// Fills out (at least kNodeNameSize bytes) with the default node name and returns 0, or
// returns the error of the installed-product query and leaves out unchanged.
//
// The name is the computer's name as the product query reports it, cut at its first point,
// in upper case, with a first character that is not a letter replaced by 'd'; when two or
// more instance profiles (not counting the administration server) exist, it is cut to leave
// room for the decimal suffix count - 1. Every character after the first that is not in the
// product's permitted character set becomes '_'.
[[nodiscard]] int MakeDefaultNodeName(char* out);

// 1 when the texts differ in length or in any character compared in upper case, else 0.
// A null text counts as empty.
int NamesDifferNoCase(const char* a, const char* b);

}  // namespace qz7::provision

#endif  // QZ7_PROVISION_NODE_NAME_H_
