// sqlfvald under its decorated (C++) name, int sqlfvald(sqlf_cfg_parameter*, char*, int), for
// callers that declared it without C linkage. It must not see the public header's extern "C"
// declaration of the same name, so the record type is only declared here (config/sqlfvald.h).
#include "config/sqlfvald.h"

__attribute__((visibility("default"))) int sqlfvald(sqlf_cfg_parameter* parameters,
                                                    char* configPath, int count) {
  return qz7::config::ValidateConfigParameters(parameters, configPath, count);
}
