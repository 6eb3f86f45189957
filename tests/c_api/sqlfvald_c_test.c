// A C caller of the shared library: includes the public header, opens the library named by
// argv[1] (dlopen, or LoadLibrary on Windows), checks its exported names, and calls sqlfvald
// under its plain and its decorated name on a real 4096-byte configuration file in a throw-away
// folder. Exits non-zero on any mismatch.
#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#define _POSIX_C_SOURCE 200809L
#include <dlfcn.h>
#include <stdlib.h>
#endif
#include <stdio.h>
#include <string.h>

#include "qz7instm.h"

typedef int(QZ7_CALL* SqlfvaldFunction)(sqlf_cfg_parameter*, char*, int);

// On 32-bit targets the record is the 12-byte layout the interface documents.
typedef char RecordLayoutCheck[(sizeof(void*) != 4 || sizeof(sqlf_cfg_parameter) == 12) ? 1 : -1];

#define FILE_SIZE 4096
#define UNTOUCHED 7
#define CHECK(condition) \
  ((condition) ? (void)0 : (void)(++failures, fprintf(stderr, "FAILED: %s\n", #condition)))

static int failures = 0;
// The configuration file and a missing one as the library takes them (Windows paths), and the
// file as this program opens it.
static char config[512], missing[512], hostPath[512];
static unsigned char original[FILE_SIZE], now[FILE_SIZE + 1];

#if defined(_WIN32)
// The Microsoft compilers' name of int __cdecl sqlfvald(struct sqlf_cfg_parameter *, char *, int):
// 32-bit pointers are plain (PA, PAD), 64-bit ones carry the __ptr64 mark E (PEA, PEAD).
#if defined(_WIN64)
static const char kDecoratedSqlfvald[] = "?sqlfvald@@YAHPEAUsqlf_cfg_parameter@@PEADH@Z";
#else
static const char kDecoratedSqlfvald[] = "?sqlfvald@@YAHPAUsqlf_cfg_parameter@@PADH@Z";
#endif
#define OpenLibrary(path) ((void*)LoadLibraryA(path))
#define FindSymbol(library, name) ((void*)GetProcAddress((HMODULE)(library), name))
#define CloseLibrary(library) FreeLibrary((HMODULE)(library))

static char folder[MAX_PATH];

// A scratch folder in the temporary folder; zero on success.
static int MakeScratchFolder(void) {
  if (GetTempPathA(sizeof folder - 40, folder) == 0) return 1;
  snprintf(folder + strlen(folder), 40, "qz7-capi-%lu", (unsigned long)GetCurrentProcessId());
  if (!CreateDirectoryA(folder, NULL)) return 1;
  snprintf(config, sizeof config, "%s\\qz7systm", folder);
  snprintf(hostPath, sizeof hostPath, "%s", config);
  snprintf(missing, sizeof missing, "%s\\missing", folder);
  return 0;
}

static int RemoveScratchFolder(void) {
  return !(DeleteFileA(hostPath) && RemoveDirectoryA(folder));
}
#else
// The name the system's C++ compiler gives int sqlfvald(sqlf_cfg_parameter*, char*, int).
static const char kDecoratedSqlfvald[] = "_Z8sqlfvaldP18sqlf_cfg_parameterPci";
#define OpenLibrary(path) dlopen(path, RTLD_NOW | RTLD_LOCAL)
#define FindSymbol dlsym
#define CloseLibrary dlclose

static char root[] = "/tmp/qz7-capi-XXXXXX", command[600];

// A throw-away machine root whose drive C: holds the configuration file; zero on success.
static int MakeScratchFolder(void) {
  if (mkdtemp(root) == NULL) return 1;
  snprintf(command, sizeof command, "mkdir -p '%s/drives/c/INST'", root);
  if (system(command) != 0) return 1;
  snprintf(hostPath, sizeof hostPath, "%s/drives/c/INST/qz7systm", root);
  snprintf(config, sizeof config, "C:\\INST\\qz7systm");
  snprintf(missing, sizeof missing, "C:\\INST\\missing");
  return setenv("QZ7_MACHINE", root, 1);
}

static int RemoveScratchFolder(void) {
  snprintf(command, sizeof command, "rm -rf '%s'", root);
  return system(command);
}
#endif

static unsigned long Load32(const unsigned char* block, size_t offset) {
  return (unsigned long)block[offset] | ((unsigned long)block[offset + 1] << 8) |
         ((unsigned long)block[offset + 2] << 16) | ((unsigned long)block[offset + 3] << 24);
}

// Reads the file into now; true when it holds exactly FILE_SIZE bytes.
static int ReadConfig(void) {
  FILE* file = fopen(hostPath, "rb");
  size_t length = file == NULL ? 0 : fread(now, 1, FILE_SIZE + 1, file);
  if (file != NULL) fclose(file);
  return length == FILE_SIZE;
}

// Calls function on records of (token, value) pairs; verdicts start UNTOUCHED.
static int Call(SqlfvaldFunction function, char* path, sqlf_cfg_parameter* records, int count,
                const unsigned short* tokens, char** values) {
  int i;
  for (i = 0; i < count; ++i) {
    memset(&records[i], 0, sizeof records[i]);
    records[i].token = tokens[i];
    records[i].value = values[i];
    records[i].valid = UNTOUCHED;
  }
  return function(records, path, count);
}

int main(int argc, char** argv) {
  static char v200[] = "200", v300[] = "300", vOne[] = "1", vEmpty[] = "";
  static const unsigned short check[] = {12, 4711}, commit[] = {12, SQLF_COMMIT_TOKEN};
  char* checkValues[] = {v200, vOne};
  char* commitValues[] = {v300, vEmpty};
  sqlf_cfg_parameter records[2];
  SqlfvaldFunction plain = NULL, decorated = NULL;
  void* library;
  FILE* file;

  (void)sizeof(RecordLayoutCheck);
  (void)sizeof(sqlfvald(NULL, NULL, 0));  // the header declares the function
  if (argc != 2 || MakeScratchFolder() != 0) return 2;
  // Node kind 1, field 12 at 100, field 501 at -1; the checksum is left stale on purpose.
  original[0x28] = 1;
  original[0x4C] = 100;
  memset(original + 0xC0C, 0xFF, 4);
  original[0] = 57;
  file = fopen(hostPath, "wb");
  CHECK(file != NULL && fwrite(original, 1, FILE_SIZE, file) == FILE_SIZE && fclose(file) == 0);

  library = OpenLibrary(argv[1]);
  if (library == NULL) return fprintf(stderr, "cannot open %s\n", argv[1]), 1;
  // The entry points are exported by their names (on POSIX the version script keeps the
  // library's names to the header's; the .def file gives both names of sqlfvald to the one
  // function, and dll_exports_test.sh reads the whole export table).
  CHECK(FindSymbol(library, "createInstances") != NULL);
  CHECK(FindSymbol(library, "deleteInstances") != NULL);
  plain = (SqlfvaldFunction)FindSymbol(library, "sqlfvald");
  decorated = (SqlfvaldFunction)FindSymbol(library, kDecoratedSqlfvald);
  CHECK(plain != NULL && decorated != NULL);
#if defined(_WIN32)
  CHECK(plain == decorated);
#endif
  if (plain != NULL && decorated != NULL) {
    // Check only: the verdicts land in the records, the file is untouched. The rules, the
    // refused commit and the checksum are the library suites'; here the C caller's records,
    // both names and a negative result cross the interface.
    CHECK(Call(plain, config, records, 2, check, checkValues) == 0);
    CHECK(records[0].valid == 1 && records[1].valid == 0);
    CHECK(ReadConfig() && memcmp(now, original, FILE_SIZE) == 0);
    // A commit through the other name rewrites the file with the new value.
    CHECK(Call(decorated, config, records, 2, commit, commitValues) == 0);
    CHECK(ReadConfig() && Load32(now, 0x4C) == 300);
    // A missing file: -100 and no record touched.
    CHECK(Call(plain, missing, records, 1, check, checkValues) == -100);
    CHECK(records[0].valid == UNTOUCHED);
  }
  CloseLibrary(library);
  CHECK(RemoveScratchFolder() == 0);
  if (failures != 0) return fprintf(stderr, "%d check(s) failed\n", failures), 1;
  printf("sqlfvald: both names behave alike\n");
  return 0;
}
