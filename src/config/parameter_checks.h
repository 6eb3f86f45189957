// The check step of sqlfvald: judges every parameter record on the value the apply step left
// in the image, against the rule tables of check_rules.h and the cross-field rules.
#ifndef QZ7_CONFIG_PARAMETER_CHECKS_H_
#define QZ7_CONFIG_PARAMETER_CHECKS_H_

#include "config/config_image.h"
#include "qz7instm.h"

namespace qz7::config {

// For each of count records in array order (none when count <= 0): a record already rejected
// is left alone; otherwise its token's rule is evaluated on image and a failing rule, or a
// token no rule names, sets its valid byte to 0. Clears *allValid when any record ends
// rejected; never sets it. Reads a record's value string only for token 92. The image is a copy
// so that nothing done here can reach the image that may be written.
void CheckConfigParameters(ConfigFileImage image, sqlf_cfg_parameter* parameters, int count,
                           unsigned char* allValid);

}  // namespace qz7::config

#endif  // QZ7_CONFIG_PARAMETER_CHECKS_H_
