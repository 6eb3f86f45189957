// The body of the exported sqlfvald, shared by its plain and its decorated export. This header
// does not include the public header, so that the decorated export (sqlfvald_mangled_export.cc)
// can define a C++ function of the same name without meeting the extern "C" declaration.
#ifndef QZ7_CONFIG_SQLFVALD_H_
#define QZ7_CONFIG_SQLFVALD_H_

struct sqlf_cfg_parameter;

namespace qz7::config {

// Result codes of sqlfvald.
constexpr int kValidateOk = 0;
constexpr int kValidateFileError = -100;
constexpr int kValidateRejected = -104;

// Reads the configuration file at configPath (a Windows path), applies the count records in
// parameters to its image, checks them, and when a record carries the commit token and every
// record was accepted writes the image back with a fresh checksum.
//
// Results: 0 - no commit token (whatever the verdicts; the file is untouched), or committed;
// -100 - the file could not be read (no record touched), or could not be written (the records
// carry their verdicts; the old file stays in place, see CommitConfigFile); -104 - commit
// token given and some record rejected (the file is untouched).
//
// Each record's valid byte ends 1 (accepted) or 0 (rejected). A null parameters pointer or a
// count of 0 or less means no records. A null value pointer rejects its record unless the
// token ignores its value (the commit token does).
// Throws nothing: an unexpected failure inside gives kValidateFileError.
[[nodiscard]] int ValidateConfigParameters(sqlf_cfg_parameter* parameters, const char* configPath,
                                           int count) noexcept;

}  // namespace qz7::config

#endif  // QZ7_CONFIG_SQLFVALD_H_
