// A setup program as the product's installer is one: plain C, no C++ runtime, nothing of ours
// linked in. It loads qz7instm.dll, takes every export by GetProcAddress, opens its own setup
// log and message module, lays out the instance descriptors byte by byte at the offsets of the
// published interface, and checks what each call leaves on the computer. sqlfvald, called from C
// under both its names, is c_api_test's.
// It runs on a computer where `qz7inst.exe demo --this-computer --sample-only` made instances of
// the earlier release in C:\QZ7PROF and installed the new release in C:\QZ7, and reads the
// computer back itself: the registry, the instances' files and the service manager.
// Exits 0 when every check holds; prints each failed check.
#define WIN32_LEAN_AND_MEAN
#include <stdio.h>
#include <string.h>
#include <windows.h>

// The exports, declared as a setup program declares them: cdecl, the handles by their types.
typedef int(__cdecl* CreateInstancesFunction)(const char*, const char*, const char*, void**,
                                              HANDLE*, HMODULE, HWND);
typedef void(__cdecl* DeleteInstancesFunction)(const char*, const char*, HANDLE*, HMODULE, HWND);

// The instance descriptor: 0x196 bytes read by offset.
enum {
  kDescriptorSize = 0x196,
  kName = 0x000,
  kAccount = 0x009,
  kPassword = 0x037,
  kKind = 0x048,
  kIsAddedNode = 0x054,
  kPortRangeStart = 0x058,
  kPortRangeEnd = 0x062,
  kNodeNumber = 0x17C,
  kOwnerComputer = 0x186,
};

static const char kProfileDir[] = "C:\\QZ7PROF";
static const char kInstallDir[] = "C:\\QZ7";
static int failures = 0;

#define CHECK(condition) \
  ((condition)           \
       ? (void)0         \
       : (void)(++failures, fprintf(stderr, "FAILED line %d: %s\n", __LINE__, #condition)))

// A check about one of several names: the failure names it.
static void CheckName(int ok, const char* name, const char* what) {
  if (!ok) ++failures, fprintf(stderr, "FAILED: %s %s\n", name, what);
}

static void PutText(unsigned char* descriptor, size_t offset, const char* text) {
  memcpy(descriptor + offset, text, strlen(text) + 1);
}

// A 32-bit field below 256, little-endian, in a zeroed descriptor.
static void PutSmallInt32(unsigned char* descriptor, size_t offset, unsigned char value) {
  descriptor[offset] = value;
}

// This program's folder, where the DLL and its message library lie.
static char ownFolder[MAX_PATH];

static void FindOwnFolder(void) {
  char* slash;
  GetModuleFileNameA(NULL, ownFolder, sizeof ownFolder);
  slash = strrchr(ownFolder, '\\');
  if (slash != NULL) *slash = '\0';
}

// A value of the product's registry as a 32-bit program sees it.
static int ReadProductValue(const char* key, const char* name, char* value, DWORD size) {
  HKEY opened;
  DWORD type = 0;
  LONG code = RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | KEY_WOW64_32KEY, &opened);
  if (code != ERROR_SUCCESS) return (int)code;
  code = RegQueryValueExA(opened, name, NULL, &type, (BYTE*)value, &size);
  RegCloseKey(opened);
  return (int)code;
}

static const char kProfiles[] = "SOFTWARE\\ZAV\\QZ7\\PROFILES";

// The number of instances the profile registry defines (the subkeys of its PROFILES key), as a
// 32-bit program sees it; 0 when there is no profile registry.
static DWORD CountInstances(void) {
  HKEY key;
  DWORD count = 0;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProfiles, 0, KEY_READ | KEY_WOW64_32KEY, &key) != 0) {
    return 0;
  }
  if (RegQueryInfoKeyA(key, NULL, NULL, NULL, &count, NULL, NULL, NULL, NULL, NULL, NULL, NULL)) {
    count = 99;
  }
  RegCloseKey(key);
  return count;
}

// The instance is defined and its configuration file in the installation holds the current
// layout (0x900 in the 16-bit field at 16); its node type (at 40) goes to nodeType.
static int UpgradedInInstallation(const char* name, long* nodeType) {
  char key[128], path[MAX_PATH];
  unsigned char block[64];
  DWORD got = 0;
  HKEY opened;
  HANDLE file;
  snprintf(key, sizeof key, "%s\\%s", kProfiles, name);
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | KEY_WOW64_32KEY, &opened) != 0) return 0;
  RegCloseKey(opened);
  snprintf(path, sizeof path, "%s\\%s\\qz7systm", kInstallDir, name);
  file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return 0;
  if (!ReadFile(file, block, sizeof block, &got, NULL)) got = 0;
  CloseHandle(file);
  *nodeType = block[40] | (block[41] << 8);
  return got == sizeof block && (block[17] & 0x0F) == 0x09;
}

// ERROR_SUCCESS when the service exists, else the service manager's code.
static DWORD ServiceState(const char* name) {
  SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
  SC_HANDLE service;
  DWORD code;
  if (manager == NULL) return GetLastError();
  service = OpenServiceA(manager, name, SERVICE_QUERY_CONFIG);
  code = service != NULL ? ERROR_SUCCESS : GetLastError();
  if (service != NULL) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return code;
}

// The whole log as the caller's file holds it.
static size_t ReadLog(const char* path, char* text, size_t size) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_EXISTING, 0, NULL);
  DWORD got = 0;
  if (file == INVALID_HANDLE_VALUE) return 0;
  if (!ReadFile(file, text, (DWORD)(size - 1), &got, NULL)) got = 0;
  text[got] = '\0';
  CloseHandle(file);
  return got;
}

int main(void) {
  static const char* const kUpgraded[] = {"QZ7", "SALES", "QZ7DAS00", "PART"};
  static const char* const kServices[] = {"QZ7", "SALES", "QZ7DAS00", "PART", "PART-0", "REMOTE"};
  static unsigned char partitioned[kDescriptorSize], addedNode[kDescriptorSize];
  static char logText[65536];
  char logPath[MAX_PATH], messagePath[MAX_PATH], template5202[256], expected5202[300];
  char value[256], toolPath[MAX_PATH];
  void* requests[2];
  HMODULE library, messages;
  HANDLE log;
  CreateInstancesFunction createInstances;
  DeleteInstancesFunction deleteInstances;
  long nodeType = 0;
  int i, result;
  char* percent;

  FindOwnFolder();
  library = LoadLibraryA("qz7instm.dll");
  if (library == NULL) return fprintf(stderr, "LoadLibrary: %lu\n", GetLastError()), 1;
  createInstances = (CreateInstancesFunction)(void*)GetProcAddress(library, "createInstances");
  deleteInstances = (DeleteInstancesFunction)(void*)GetProcAddress(library, "deleteInstances");
  if (createInstances == NULL || deleteInstances == NULL) {
    return fprintf(stderr, "an export is missing\n"), 1;
  }

  snprintf(messagePath, sizeof messagePath, "%s\\qz7setup.dll", ownFolder);
  messages = LoadLibraryExA(messagePath, NULL, LOAD_LIBRARY_AS_DATAFILE);
  if (messages == NULL) return fprintf(stderr, "message module: %lu\n", GetLastError()), 1;
  GetTempPathA(sizeof logPath - 32, logPath);
  strcat(logPath, "qz7-setup-program.log");
  log = CreateFileA(logPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (log == INVALID_HANDLE_VALUE) return fprintf(stderr, "log: %lu\n", GetLastError()), 1;

  // The upgrade of the earlier release, with a new partitioned instance.
  PutText(partitioned, kName, "PART");
  PutText(partitioned, kAccount, "LocalSystem");
  PutSmallInt32(partitioned, kKind, 4);
  PutText(partitioned, kPortRangeStart, "60100");
  PutText(partitioned, kPortRangeEnd, "60103");
  requests[0] = partitioned;
  requests[1] = NULL;
  result = createInstances(kProfileDir, kProfileDir, kInstallDir, requests, &log, messages, NULL);
  CHECK(result == 0);
  CHECK(CountInstances() == 4);
  for (i = 0; i < 4; ++i) {
    CheckName(UpgradedInInstallation(kUpgraded[i], &nodeType), kUpgraded[i],
              "is not defined at the current release");
  }
  CHECK(UpgradedInInstallation("PART", &nodeType) && nodeType == 4);
  // Only the instance tool QZ7ICRT.EXE records a partitioned instance's port range.
  CHECK(ReadProductValue("SOFTWARE\\ZAV\\QZ7\\PROFILES\\PART", "QZ7PORTRANGE", value,
                         sizeof value) == 0 &&
        strcmp(value, "60100:60103") == 0);
  CHECK(ServiceState("QZ7") == ERROR_SUCCESS);

  // A node of another computer's instance needs QZ7NCRT.EXE, which is gone: result 1, and the
  // log holds message 5202 with system error 2, as the message module words it.
  snprintf(toolPath, sizeof toolPath, "%s\\BIN\\QZ7NCRT.EXE", kInstallDir);
  CHECK(DeleteFileA(toolPath));
  PutText(addedNode, kName, "REMOTE");
  PutText(addedNode, kAccount, "LocalSystem");
  PutSmallInt32(addedNode, kIsAddedNode, 1);
  PutText(addedNode, kNodeNumber, "2");
  PutText(addedNode, kOwnerComputer, "OWNERPC");
  requests[0] = addedNode;
  CHECK(createInstances(kInstallDir, kInstallDir, kInstallDir, requests, &log, messages, NULL) ==
        1);
  CHECK(LoadStringA(messages, 5202, template5202, sizeof template5202) > 0);
  percent = strstr(template5202, "%1");
  CHECK(percent != NULL);
  if (percent != NULL) {
    snprintf(expected5202, sizeof expected5202, "%.*s2%s", (int)(percent - template5202),
             template5202, percent + 2);
    ReadLog(logPath, logText, sizeof logText);
    CHECK(strstr(logText, expected5202) != NULL);
    if (strstr(logText, expected5202) == NULL) fprintf(stderr, "the log holds:\n%s\n", logText);
  }
  for (i = 0; logText[i] != '\0'; ++i) {
    if (logText[i] == '\n' && (i == 0 || logText[i - 1] != '\r')) {
      ++failures;
      fprintf(stderr, "FAILED: a log line ends without CR LF at byte %d\n", i);
      break;
    }
  }
  CHECK(i > 0 && logText[i - 1] == '\n');

  // Removal: no instance is left, and no service.
  deleteInstances(kInstallDir, kInstallDir, &log, messages, NULL);
  CHECK(CountInstances() == 0);
  for (i = 0; i < (int)(sizeof kServices / sizeof kServices[0]); ++i) {
    CheckName(ServiceState(kServices[i]) == ERROR_SERVICE_DOES_NOT_EXIST, kServices[i],
              "is still there as a service");
  }

  CloseHandle(log);
  DeleteFileA(logPath);
  FreeLibrary(messages);
  FreeLibrary(library);
  if (failures != 0) return fprintf(stderr, "%d check(s) failed\n", failures), 1;
  printf("setup program: upgrade, partitioned instance, failed tool and removal hold\n");
  return 0;
}
