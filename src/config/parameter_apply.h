// The apply step of sqlfvald: converts each parameter record's value and stores it in its field
// of the configuration file image, as the token tables (config_tokens.h) say.
#ifndef QZ7_CONFIG_PARAMETER_APPLY_H_
#define QZ7_CONFIG_PARAMETER_APPLY_H_

#include <cstdint>

#include "config/config_image.h"
#include "qz7instm.h"

namespace qz7::config {

// 0 when value equals keyword ignoring the case of value (each value character goes through
// toupper; keyword is not converted, so keywords must be upper case). Otherwise the first
// differing value character, unconverted, minus the keyword character (nonzero). Blanks are
// significant: " ON" and "ON " do not equal "ON".
int KeywordEquals(const char* value, const char* keyword);

// atoi: skips leading white space, takes an optional sign and the digits up to the first other
// character; no digits give 0. A number beyond the 32-bit range gives INT32_MAX or INT32_MIN.
int32_t ConvertInteger(const char* value);

// atof, narrowed to a float: a magnitude beyond the float range becomes an infinity.
float ConvertFloat(const char* value, double* converted);

// Applies count records (none when count <= 0) in array order to image: sets each record's
// valid byte to 1, then to 0 when the value is rejected (the field concerned then keeps what it
// held, except that token 42's converted value and token 605's integer stay stored). Sets
// *commitRequested to 1 on meeting the commit token; never clears it. A later record for a
// token overwrites an earlier one. A record whose value pointer is null is rejected when its
// token would read the value; tokens that ignore their value (507, 9998, 9999 and tokens
// without a field) keep their usual verdict. Tokens 42 and 306 may call the host services.
void ApplyConfigParameters(ConfigFileImage& image, sqlf_cfg_parameter* parameters, int count,
                           unsigned char* commitRequested);

}  // namespace qz7::config

#endif  // QZ7_CONFIG_PARAMETER_APPLY_H_
