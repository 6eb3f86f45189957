// The C test's system part on Windows: LoadLibrary, GetProcAddress, and a
// throw-away folder in the temporary folder.
#define WIN32_LEAN_AND_MEAN
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "tests/c_api/library_loader.h"

// The Microsoft compilers' name of int __cdecl sqlfvald(struct sqlf_cfg_parameter *, char *, int):
// 32-bit pointers are plain (PA, PAD), 64-bit ones carry the __ptr64 mark E (PEA, PEAD).
#if defined(_WIN64)
const char kDecoratedSqlfvald[] = "?sqlfvald@@YAHPEAUsqlf_cfg_parameter@@PEADH@Z";
#else
const char kDecoratedSqlfvald[] = "?sqlfvald@@YAHPAUsqlf_cfg_parameter@@PADH@Z";
#endif

static char folder[MAX_PATH], file[MAX_PATH];

int MakeScratchFolder(char* config, char* missing, char* configHost, size_t size) {
  if (GetTempPathA(sizeof folder - 40, folder) == 0) return 1;
  snprintf(folder + strlen(folder), 40, "qz7-capi-%lu", (unsigned long)GetCurrentProcessId());
  if (!CreateDirectoryA(folder, NULL)) return 1;
  snprintf(file, sizeof file, "%s\\qz7systm", folder);
  snprintf(config, size, "%s", file);
  snprintf(configHost, size, "%s", file);
  snprintf(missing, size, "%s\\missing", folder);
  return 0;
}

int RemoveScratchFolder(void) { return !(DeleteFileA(file) && RemoveDirectoryA(folder)); }

void* OpenLibrary(const char* path) {
  HMODULE library = LoadLibraryA(path);
  if (library == NULL) fprintf(stderr, "LoadLibrary: %lu\n", GetLastError());
  return library;
}

SqlfvaldFunction FindFunction(void* library, const char* name) {
  SqlfvaldFunction function = NULL;
  FARPROC symbol = GetProcAddress((HMODULE)library, name);
  memcpy(&function, &symbol, sizeof function);
  return function;
}

int CheckExportedNames(void* library) {
  // The export table holds exactly the four names (dll_exports_test.sh reads it with the
  // toolchain's objdump); the .def file gives both names of sqlfvald to the one function.
  if (GetProcAddress((HMODULE)library, "sqlfvald") ==
      GetProcAddress((HMODULE)library, kDecoratedSqlfvald)) {
    return 0;
  }
  fprintf(stderr, "the two names of sqlfvald lead to different functions\n");
  return 1;
}

void CloseLibrary(void* library) { FreeLibrary((HMODULE)library); }
