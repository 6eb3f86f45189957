// The rules of the parameters whose limits come from other fields of the configuration image:
// the agent and pool sizes that must fit inside each other (tokens 13, 80, 500, 501, 601, 701).
#ifndef QZ7_CONFIG_CROSS_FIELD_CHECKS_H_
#define QZ7_CONFIG_CROSS_FIELD_CHECKS_H_

#include <cstdint>

#include "config/config_image.h"

namespace qz7::config {

using CrossFieldCheck = bool (*)(const ConfigFileImage& image);

struct CrossFieldRule {
  uint16_t token;
  CrossFieldCheck passes;
};

// The rule of a token, or null when its rule reads only its own field.
const CrossFieldRule* FindCrossFieldRule(uint16_t token);

}  // namespace qz7::config

#endif  // QZ7_CONFIG_CROSS_FIELD_CHECKS_H_
