#include "config/sqlfvald.h"

#include <cstddef>
#include <cstdint>

#include "config/config_file.h"
#include "config/parameter_apply.h"
#include "config/parameter_checks.h"
#include "qz7instm.h"

// The record crosses the library boundary: on 32-bit targets it is the documented 12-byte
// layout (token at 0, value pointer at 4, valid byte at 8); on 64-bit targets the natural
// layout with the 8-byte pointer.
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(sqlf_cfg_parameter) == 12, "parameter record is 12 bytes");
static_assert(offsetof(sqlf_cfg_parameter, token) == 0, "token at offset 0");
static_assert(offsetof(sqlf_cfg_parameter, value) == 4, "value pointer at offset 4");
static_assert(offsetof(sqlf_cfg_parameter, valid) == 8, "valid byte at offset 8");
#else
static_assert(sizeof(sqlf_cfg_parameter) == 24, "parameter record is 24 bytes");
static_assert(offsetof(sqlf_cfg_parameter, token) == 0, "token at offset 0");
static_assert(offsetof(sqlf_cfg_parameter, value) == 8, "value pointer at offset 8");
static_assert(offsetof(sqlf_cfg_parameter, valid) == 16, "valid byte at offset 16");
#endif

namespace qz7::config {

namespace {

int Validate(sqlf_cfg_parameter* parameters, const char* configPath, int count) {
  unsigned char commitRequested = 0;
  unsigned char allValid = 1;

  ConfigFileImage image;
  if (!ReadConfigFile(configPath, image)) return kValidateFileError;

  ApplyConfigParameters(image, parameters, count, &commitRequested);
  // The check works on its own copy, so nothing it does reaches the image written below.
  CheckConfigParameters(image, parameters, count, &allValid);

  if (commitRequested == 0) return kValidateOk;
  if (allValid == 0) return kValidateRejected;
  return CommitConfigFile(configPath, image) ? kValidateOk : kValidateFileError;
}

}  // namespace

// No exception leaves the library through either export (the plain and the decorated name both
// come here): an unexpected failure (memory that could not be had, say) is the read/write
// failure.
[[nodiscard]] int ValidateConfigParameters(sqlf_cfg_parameter* parameters, const char* configPath,
                                           int count) noexcept {
  try {
    return Validate(parameters, configPath, count);
  } catch (...) {
    return kValidateFileError;
  }
}

}  // namespace qz7::config

extern "C" QZ7_API int QZ7_CALL sqlfvald(sqlf_cfg_parameter* parameters, char* configPath,
                                         int count) {
  return qz7::config::ValidateConfigParameters(parameters, configPath, count);
}
