// What the C test of the shared library needs of its system, one small source per system
// (library_loader_posix.c: dlopen; library_loader_win32.c: LoadLibrary).
#ifndef QZ7_TESTS_C_API_LIBRARY_LOADER_H_
#define QZ7_TESTS_C_API_LIBRARY_LOADER_H_

#include <stddef.h>

#include "qz7instm.h"

typedef int(QZ7_CALL* SqlfvaldFunction)(sqlf_cfg_parameter*, char*, int);

// The name the system's C++ compiler gives int sqlfvald(sqlf_cfg_parameter*, char*, int).
extern const char kDecoratedSqlfvald[];

// Makes a scratch folder for the configuration file and fills in its paths: config and
// missing as the library takes them (Windows paths), configHost as this program opens the
// file. Zero on success.
int MakeScratchFolder(char* config, char* missing, char* configHost, size_t size);
// Removes the scratch folder with what it holds; zero on success.
int RemoveScratchFolder(void);

// Opens the library; NULL (with a message on standard error) when it cannot.
void* OpenLibrary(const char* path);
// The function exported under name, or NULL.
SqlfvaldFunction FindFunction(void* library, const char* name);
// The number of failed checks of the library's exported names that a program can make: the
// functions are found, and both names of sqlfvald are one function.
int CheckExportedNames(void* library);
void CloseLibrary(void* library);

#endif  // QZ7_TESTS_C_API_LIBRARY_LOADER_H_
