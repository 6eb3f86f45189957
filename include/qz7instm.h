/*
 * QZ7INSTM: the instance-management library of the QZ7 database server's setup program.
 *
 * Three operations are exported:
 *   createInstances  bring the computer's database-manager instances to the requested state
 *   deleteInstances  remove every instance when the product is uninstalled
 *   sqlfvald         validate (and optionally commit) configuration parameters
 *
 * On Windows the caller's handles are the system's own: the setup log is a HANDLE, the message
 * module an HMODULE whose string table holds the messages, the owner window an HWND. On POSIX
 * they take a form of their own: the setup log is a pointer to an open file descriptor, the
 * message module is a string table loaded by qz7LoadMessageModule, and the owner window is a
 * small struct holding the callback that shows a message box.
 */
#ifndef QZ7INSTM_H_
#define QZ7INSTM_H_

#include <stddef.h>

#if defined(_WIN32)
/* The DLL's exports are listed in its module-definition file (src/qz7instm_x86.def for 32-bit
 * Windows, src/qz7instm_x64.def for x86-64). */
#define QZ7_API
/* The calling convention of the three operations: the caller removes the arguments from the
 * stack (cdecl). Stated here rather than left to the compiler's default, so that a caller built
 * with another default (a 32-bit setup program compiled with /Gz, say) still calls them right.
 * On x86-64 there is one convention and the keyword changes nothing. */
#define QZ7_CALL __cdecl
#else
#define QZ7_API __attribute__((visibility("default")))
#define QZ7_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* One requested instance, read by offsets; the library reads at most the first 0x196 bytes. */
typedef struct InstanceDescriptor {
  char name[9];            /* 0x000 instance name, at most 8 characters used */
  char account[46];        /* 0x009 service logon account */
  char password[15];       /* 0x037 password of that account */
  char reserved[2];        /* 0x046 not read */
  int kind;                /* 0x048 4: partitioned instance */
  int makeDefault;         /* 0x04C non-zero: becomes the default instance */
  int isAdminServer;       /* 0x050 non-zero: the administration server */
  int isAddedNode;         /* 0x054 non-zero: a further node of a remote partitioned instance */
  char portRangeStart[10]; /* 0x058 */
  char portRangeEnd[10];   /* 0x062 */
  char hostName[256];      /* 0x06C */
  char spareName[16];      /* 0x16C */
  char nodeNumber[10];     /* 0x17C */
  char ownerComputer[16];  /* 0x186 */
} InstanceDescriptor;

#if defined(_WIN32)
/* The same types as windows.h gives HANDLE, HMODULE and HWND, without including it here. */
typedef void** QZ7_LOG_FILE;            /* points to the HANDLE of the open setup log */
typedef struct HINSTANCE__* QZ7_MODULE; /* HMODULE whose string table holds the messages */
typedef struct HWND__* QZ7_OWNER;       /* HWND owning the message boxes */
#else
/* The caller's setup log: a pointer to an open, writable file descriptor. */
typedef int* QZ7_LOG_FILE;

/* A message module: a numbered string table (one "NUMBER text" per line in a text file). */
typedef struct qz7_message_module* QZ7_MODULE;

/* The owner of message boxes. messageBox returns the button the user chose (1 = OK). */
typedef struct qz7_owner_window {
  int (*messageBox)(void* userData, const char* text, const char* title, unsigned int style);
  void* userData;
} qz7_owner_window;
typedef qz7_owner_window* QZ7_OWNER;

/* Loads a message module from a host file; null when it cannot be read. */
QZ7_API QZ7_MODULE qz7LoadMessageModule(const char* hostPath);
QZ7_API void qz7FreeMessageModule(QZ7_MODULE module);
#endif

/* Result: 0 every step succeeded, 1 some step failed, -9 the profile registry was unreachable. */
QZ7_API int QZ7_CALL createInstances(const char* currentProfilePath,
                                     const char* requestedProfilePath, const char* installPath,
                                     InstanceDescriptor** descriptors, QZ7_LOG_FILE logFile,
                                     QZ7_MODULE messageModule, QZ7_OWNER ownerWindow);

QZ7_API void QZ7_CALL deleteInstances(const char* profilePath, const char* installPath,
                                      QZ7_LOG_FILE logFile, QZ7_MODULE messageModule,
                                      QZ7_OWNER ownerWindow);

/* One configuration parameter: token, value text, and the verdict (1 accepted, 0 rejected).
 * The natural layout of the three fields, which is the record's ABI on each target:
 *   32-bit Windows (x86) and other 32-bit targets: 12 bytes; token at 0, value at 4, valid at 8.
 *   x86-64 (Windows and POSIX):                    24 bytes; token at 0, value at 8, valid at 16.
 * A caller passes an array of these records; the library writes only the valid bytes. */
typedef struct sqlf_cfg_parameter {
  unsigned short token;
  char* value;
  unsigned char valid;
} sqlf_cfg_parameter;

/* The record's layout held at compile time, in C and C++ alike (a negative array size stops the
 * build): a compiler that packs or aligns the record otherwise cannot build against this header. */
#if defined(_M_IX86) || defined(__i386__)
typedef char qz7_sqlf_record_size_check[sizeof(sqlf_cfg_parameter) == 12 ? 1 : -1];
typedef char qz7_sqlf_value_offset_check[offsetof(sqlf_cfg_parameter, value) == 4 ? 1 : -1];
typedef char qz7_sqlf_valid_offset_check[offsetof(sqlf_cfg_parameter, valid) == 8 ? 1 : -1];
#elif defined(_M_X64) || defined(__x86_64__)
typedef char qz7_sqlf_record_size_check[sizeof(sqlf_cfg_parameter) == 24 ? 1 : -1];
typedef char qz7_sqlf_value_offset_check[offsetof(sqlf_cfg_parameter, value) == 8 ? 1 : -1];
typedef char qz7_sqlf_valid_offset_check[offsetof(sqlf_cfg_parameter, valid) == 16 ? 1 : -1];
#endif

/* Token of a record that asks for the file to be written when every record passes. */
#define SQLF_COMMIT_TOKEN 9999

/* Sets each record's valid byte. Result: 0 (no commit token, whatever the verdicts; or committed),
 * -100 the file could not be read (no record touched) or written, -104 commit token given and
 * some record rejected (file untouched). */
QZ7_API int QZ7_CALL sqlfvald(sqlf_cfg_parameter* parameters, char* configPath, int count);

#ifdef __cplusplus
}
#endif

#if defined(__cplusplus) && __cplusplus >= 201103L
static_assert(offsetof(InstanceDescriptor, account) == 0x009, "descriptor layout");
static_assert(offsetof(InstanceDescriptor, password) == 0x037, "descriptor layout");
static_assert(offsetof(InstanceDescriptor, kind) == 0x048, "descriptor layout");
static_assert(offsetof(InstanceDescriptor, makeDefault) == 0x04C, "descriptor layout");
static_assert(offsetof(InstanceDescriptor, isAdminServer) == 0x050, "descriptor layout");
static_assert(offsetof(InstanceDescriptor, isAddedNode) == 0x054, "descriptor layout");
static_assert(offsetof(InstanceDescriptor, portRangeStart) == 0x058, "descriptor layout");
static_assert(offsetof(InstanceDescriptor, portRangeEnd) == 0x062, "descriptor layout");
static_assert(offsetof(InstanceDescriptor, hostName) == 0x06C, "descriptor layout");
static_assert(offsetof(InstanceDescriptor, spareName) == 0x16C, "descriptor layout");
static_assert(offsetof(InstanceDescriptor, nodeNumber) == 0x17C, "descriptor layout");
static_assert(offsetof(InstanceDescriptor, ownerComputer) == 0x186, "descriptor layout");
#endif

#endif /* QZ7INSTM_H_ */
