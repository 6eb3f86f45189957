// The C test's system part on POSIX: dlopen, and a throw-away machine root whose drive C:
// holds the configuration file.
#define _POSIX_C_SOURCE 200809L

#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tests/c_api/library_loader.h"

const char kDecoratedSqlfvald[] = "_Z8sqlfvaldP18sqlf_cfg_parameterPci";

static char root[] = "/tmp/qz7-capi-XXXXXX";

int MakeScratchFolder(char* config, char* missing, char* configHost, size_t size) {
  char command[600];
  if (mkdtemp(root) == NULL) return 1;
  snprintf(configHost, size, "%s/drives/c/INST", root);
  snprintf(command, sizeof command, "mkdir -p '%s'", configHost);
  if (system(command) != 0) return 1;
  strncat(configHost, "/qz7systm", size - strlen(configHost) - 1);
  snprintf(config, size, "C:\\INST\\qz7systm");
  snprintf(missing, size, "C:\\INST\\missing");
  return setenv("QZ7_MACHINE", root, 1);
}

int RemoveScratchFolder(void) {
  char command[600];
  snprintf(command, sizeof command, "rm -rf '%s'", root);
  return system(command);
}

void* OpenLibrary(const char* path) {
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (library == NULL) fprintf(stderr, "dlopen: %s\n", dlerror());
  return library;
}

SqlfvaldFunction FindFunction(void* library, const char* name) {
  SqlfvaldFunction function = NULL;
  void* symbol = dlsym(library, name);
  memcpy(&function, &symbol, sizeof function);
  return function;
}

int CheckExportedNames(void* library) {
  // dlsym cannot list a library's names; the version script keeps them to the header's.
  return (dlsym(library, "createInstances") == NULL) + (dlsym(library, "deleteInstances") == NULL);
}

void CloseLibrary(void* library) { dlclose(library); }
