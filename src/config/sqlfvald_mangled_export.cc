// sqlfvald under its decorated (C++) name, int sqlfvald(sqlf_cfg_parameter*, char*, int), for
// callers that declared it without C linkage. It must not see the public header's extern "C"
// declaration of the same name, so the record type is only declared here (config/sqlfvald.h).
// On Windows the decorated name is the Microsoft compilers' one, an alias of the plain export
// in the DLL's module-definition file (src/qz7instm_x86.def, src/qz7instm_x64.def), so there
// is nothing to define.
#if !defined(_WIN32)
#include "config/sqlfvald.h"

__attribute__((visibility("default"))) int sqlfvald(sqlf_cfg_parameter* parameters,
                                                    char* configPath, int count) {
  return qz7::config::ValidateConfigParameters(parameters, configPath, count);
}
#endif  // !defined(_WIN32)
