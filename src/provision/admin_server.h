// Creating the administration server: an instance made through the host services and named
// in the profile registry as the computer's administration server.
#ifndef QZ7_PROVISION_ADMIN_SERVER_H_
#define QZ7_PROVISION_ADMIN_SERVER_H_

namespace qz7::provision {

// The administration-server instance was created but could not be recorded as such.
constexpr int kAdminServerNotRecorded = -1974;

// Creates the instance name in targetProfileDir from the installation installDir (both passed
// to the host as given, quoted or not) with the administration-server flags, then writes its
// name into the profile registry's QZ7ADMINSERVER. account and password may be null.
// Returns 0; the host's result when the creation fails (nothing was made); or
// kAdminServerNotRecorded when the registry write fails, after an instance that this call
// made (targetProfileDir\name was neither defined nor a directory before) has been dropped
// again; one that existed before is left as the creation updated it.
[[nodiscard]] int CreateAdminServer(const char* name, const char* installDir,
                                    const char* targetProfileDir, const char* account,
                                    const char* password);

}  // namespace qz7::provision

#endif  // QZ7_PROVISION_ADMIN_SERVER_H_
