// A setup program as the product's installer is one: plain C, no C++ runtime, nothing of ours
// linked in. It loads qz7instm.dll, takes every export by GetProcAddress, opens its own setup
// log and message module, lays out the instance descriptors and the sqlfvald records byte by byte
// at the offsets of the published interface, and checks what each call leaves on the computer.
// It runs on a computer where `qz7inst.exe demo --this-computer --sample-only` made instances of
// the earlier release in C:\QZ7PROF and installed the new release in C:\QZ7, and reads the
// computer back through `qz7inst.exe list --json`, the registry and the service manager.
// Exits 0 when every check holds; prints each failed check.
#define WIN32_LEAN_AND_MEAN
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

// The exports, declared as a setup program declares them: cdecl, the handles by their types.
typedef int(__cdecl* CreateInstancesFunction)(const char*, const char*, const char*, void**,
                                              HANDLE*, HMODULE, HWND);
typedef void(__cdecl* DeleteInstancesFunction)(const char*, const char*, HANDLE*, HMODULE, HWND);
typedef int(__cdecl* SqlfvaldFunction)(void*, char*, int);

#if defined(_WIN64)
static const char kDecoratedSqlfvald[] = "?sqlfvald@@YAHPEAUsqlf_cfg_parameter@@PEADH@Z";
#else
static const char kDecoratedSqlfvald[] = "?sqlfvald@@YAHPAUsqlf_cfg_parameter@@PADH@Z";
#endif

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

// The sqlfvald record: token (16 bits) at 0, the value pointer at the pointer's width, the
// verdict byte at twice that: 12 bytes on x86, 24 on x86-64.
#define RECORD_SIZE (3 * sizeof(void*))
#define VALUE_OFFSET (sizeof(void*))
#define VALID_OFFSET (2 * sizeof(void*))

static const char kProfileDir[] = "C:\\QZ7PROF";
static const char kInstallDir[] = "C:\\QZ7";
static int failures = 0;

#define CHECK(condition) \
  ((condition)           \
       ? (void)0         \
       : (void)(++failures, fprintf(stderr, "FAILED line %d: %s\n", __LINE__, #condition)))

static void PutText(unsigned char* descriptor, size_t offset, const char* text) {
  memcpy(descriptor + offset, text, strlen(text) + 1);
}

static void PutInt32(unsigned char* descriptor, size_t offset, long value) {
  unsigned long bits = (unsigned long)value;
  descriptor[offset] = (unsigned char)(bits & 0xFF);
  descriptor[offset + 1] = (unsigned char)((bits >> 8) & 0xFF);
  descriptor[offset + 2] = (unsigned char)((bits >> 16) & 0xFF);
  descriptor[offset + 3] = (unsigned char)((bits >> 24) & 0xFF);
}

static unsigned long Load32(const unsigned char* bytes, size_t offset) {
  return (unsigned long)bytes[offset] | ((unsigned long)bytes[offset + 1] << 8) |
         ((unsigned long)bytes[offset + 2] << 16) | ((unsigned long)bytes[offset + 3] << 24);
}

// This program's folder, where the DLL, its message library and qz7inst.exe lie.
static char ownFolder[MAX_PATH];

static void FindOwnFolder(void) {
  char* slash;
  GetModuleFileNameA(NULL, ownFolder, sizeof ownFolder);
  slash = strrchr(ownFolder, '\\');
  if (slash != NULL) *slash = '\0';
}

// Runs qz7inst.exe with arguments, its standard output into output (cut to size); returns its
// exit code, or -1 when it could not be run.
static int RunTool(const char* arguments, char* output, size_t size) {
  char commandLine[1024];
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
  HANDLE readEnd = NULL, writeEnd = NULL;
  STARTUPINFOA startup;
  PROCESS_INFORMATION process;
  DWORD got = 0, exitCode = 0;
  size_t used = 0;
  char chunk[4096];
  snprintf(commandLine, sizeof commandLine, "\"%s\\qz7inst.exe\" %s", ownFolder, arguments);
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return -1;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  if (!CreateProcessA(NULL, commandLine, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) {
    CloseHandle(readEnd);
    CloseHandle(writeEnd);
    return -1;
  }
  CloseHandle(writeEnd);
  while (ReadFile(readEnd, chunk, sizeof chunk, &got, NULL) && got > 0) {
    size_t take = got < size - 1 - used ? got : size - 1 - used;
    memcpy(output + used, chunk, take);
    used += take;
  }
  output[used] = '\0';
  CloseHandle(readEnd);
  WaitForSingleObject(process.hProcess, INFINITE);
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return (int)exitCode;
}

// The value that follows "key": in a JSON text, from where, as a pointer to its first byte.
static const char* JsonValueAfter(const char* where, const char* key) {
  char quoted[64];
  const char* found;
  snprintf(quoted, sizeof quoted, "\"%s\"", key);
  found = strstr(where, quoted);
  if (found == NULL) return NULL;
  found += strlen(quoted);
  while (*found == ' ' || *found == ':' || *found == '\r' || *found == '\n') ++found;
  return found;
}

// The instances of `list --json`: each name, whether its configuration is current, its node
// type. Returns the count found (at most max).
typedef struct Listed {
  char name[16];
  int current;
  long nodeType;
} Listed;

static int ListInstances(const char* profileDir, Listed* listed, int max) {
  static char output[65536];
  char arguments[512];
  const char* at;
  int count = 0;
  snprintf(arguments, sizeof arguments, "list %s --json", profileDir);
  if (RunTool(arguments, output, sizeof output) != 0) {
    fprintf(stderr, "qz7inst.exe %s failed:\n%s\n", arguments, output);
    return -1;
  }
  at = JsonValueAfter(output, "instances");
  while (at != NULL && count < max) {
    const char* name = JsonValueAfter(at, "name");
    const char* current;
    const char* nodeType;
    size_t length;
    if (name == NULL || *name != '"') break;
    ++name;
    length = strcspn(name, "\"");
    if (length >= sizeof listed[count].name) length = sizeof listed[count].name - 1;
    memcpy(listed[count].name, name, length);
    listed[count].name[length] = '\0';
    current = JsonValueAfter(name, "configCurrent");
    nodeType = JsonValueAfter(name, "nodeType");
    listed[count].current = current != NULL && strncmp(current, "true", 4) == 0;
    listed[count].nodeType = nodeType != NULL ? strtol(nodeType, NULL, 10) : -99;
    ++count;
    at = name + length;
  }
  return count;
}

static const Listed* FindListed(const Listed* listed, int count, const char* name) {
  int i;
  for (i = 0; i < count; ++i) {
    if (_stricmp(listed[i].name, name) == 0) return &listed[i];
  }
  return NULL;
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

// Lays out count sqlfvald records (token, value) with the verdict byte set to 7 and every byte
// between the fields to 0xAB, so that a write at a wrong offset shows.
static void LayRecords(unsigned char* records, int count, const unsigned short* tokens,
                       char** values) {
  int i;
  memset(records, 0xAB, RECORD_SIZE * (size_t)count);
  for (i = 0; i < count; ++i) {
    unsigned char* record = records + RECORD_SIZE * (size_t)i;
    record[0] = (unsigned char)(tokens[i] & 0xFF);
    record[1] = (unsigned char)(tokens[i] >> 8);
    memcpy(record + VALUE_OFFSET, &values[i], sizeof values[i]);
    record[VALID_OFFSET] = 7;
  }
}

// Every byte of the records but the verdict bytes is as LayRecords left it.
static int OnlyVerdictsWritten(const unsigned char* records, int count,
                               const unsigned short* tokens, char** values) {
  unsigned char expected[8 * 24];
  int i;
  LayRecords(expected, count, tokens, values);
  for (i = 0; i < count; ++i) {
    expected[RECORD_SIZE * (size_t)i + VALID_OFFSET] =
        records[RECORD_SIZE * (size_t)i + VALID_OFFSET];
  }
  return memcmp(expected, records, RECORD_SIZE * (size_t)count) == 0;
}

static void CheckSqlfvald(SqlfvaldFunction plain, SqlfvaldFunction decorated) {
  static char config[] = "C:\\QZ7\\QZ7\\qz7systm";
  static char v250[] = "250", v300[] = "300", vOne[] = "1", vEmpty[] = "";
  static const unsigned short checkTokens[] = {12, 4711}, commitTokens[] = {12, 9999};
  char* checkValues[] = {v250, vOne};
  char* commitValues[] = {v300, vEmpty};
  unsigned char records[8 * 24];
  unsigned char block[4097];
  unsigned long sum = 0;
  DWORD got = 0;
  HANDLE file;
  size_t i;

  // Check only, through the decorated name: a verdict for each record, nothing else written.
  LayRecords(records, 2, checkTokens, checkValues);
  CHECK(decorated(records, config, 2) == 0);
  CHECK(records[VALID_OFFSET] == 1 && records[RECORD_SIZE + VALID_OFFSET] == 0);
  CHECK(OnlyVerdictsWritten(records, 2, checkTokens, checkValues));
  // A commit through the plain name: the file holds the value and a checksum that holds.
  LayRecords(records, 2, commitTokens, commitValues);
  CHECK(plain(records, config, 2) == 0);
  CHECK(records[VALID_OFFSET] == 1 && OnlyVerdictsWritten(records, 2, commitTokens, commitValues));
  file = CreateFileA(config, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  CHECK(file != INVALID_HANDLE_VALUE);
  if (file == INVALID_HANDLE_VALUE) return;
  CHECK(ReadFile(file, block, sizeof block, &got, NULL) && got == 4096);
  CloseHandle(file);
  for (i = 4; i < 4096; ++i) sum += block[i];
  CHECK(Load32(block, 0x4C) == 300);
  CHECK(Load32(block, 0) == (sum & 0xFFFFFFFFul));
}

int main(void) {
  static const char* const kUpgraded[] = {"QZ7", "SALES", "QZ7DAS00", "PART"};
  static const char* const kServices[] = {"QZ7", "SALES", "QZ7DAS00", "PART", "PART-0", "REMOTE"};
  static unsigned char partitioned[kDescriptorSize], addedNode[kDescriptorSize];
  static char logText[65536];
  char logPath[MAX_PATH], messagePath[MAX_PATH], template5202[256], expected5202[300];
  char value[256], toolPath[MAX_PATH];
  void* requests[2];
  Listed listed[16];
  HMODULE library, messages;
  HANDLE log;
  CreateInstancesFunction createInstances;
  DeleteInstancesFunction deleteInstances;
  SqlfvaldFunction plain, decorated;
  int count, i, result;
  char* percent;

  FindOwnFolder();
  library = LoadLibraryA("qz7instm.dll");
  if (library == NULL) return fprintf(stderr, "LoadLibrary: %lu\n", GetLastError()), 1;
  createInstances = (CreateInstancesFunction)(void*)GetProcAddress(library, "createInstances");
  deleteInstances = (DeleteInstancesFunction)(void*)GetProcAddress(library, "deleteInstances");
  plain = (SqlfvaldFunction)(void*)GetProcAddress(library, "sqlfvald");
  decorated = (SqlfvaldFunction)(void*)GetProcAddress(library, kDecoratedSqlfvald);
  if (createInstances == NULL || deleteInstances == NULL || plain == NULL || decorated == NULL) {
    return fprintf(stderr, "an export is missing\n"), 1;
  }
  CHECK(plain == decorated);

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
  PutInt32(partitioned, kKind, 4);
  PutText(partitioned, kPortRangeStart, "60100");
  PutText(partitioned, kPortRangeEnd, "60103");
  requests[0] = partitioned;
  requests[1] = NULL;
  result = createInstances(kProfileDir, kProfileDir, kInstallDir, requests, &log, messages, NULL);
  CHECK(result == 0);
  count = ListInstances(kInstallDir, listed, 16);
  CHECK(count == 4);
  for (i = 0; i < 4; ++i) {
    const Listed* found = FindListed(listed, count, kUpgraded[i]);
    if (found == NULL || !found->current) {
      ++failures;
      fprintf(stderr, "FAILED: %s is not listed at the current release\n", kUpgraded[i]);
    }
  }
  CHECK(FindListed(listed, count, "PART") != NULL &&
        FindListed(listed, count, "PART")->nodeType == 4);
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
  PutInt32(addedNode, kIsAddedNode, 1);
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

  CheckSqlfvald(plain, decorated);

  // Removal: no instance is left, and no service.
  deleteInstances(kInstallDir, kInstallDir, &log, messages, NULL);
  count = ListInstances(kInstallDir, listed, 16);
  CHECK(count == 0);
  for (i = 0; i < (int)(sizeof kServices / sizeof kServices[0]); ++i) {
    DWORD state = ServiceState(kServices[i]);
    if (state != ERROR_SERVICE_DOES_NOT_EXIST) {
      ++failures;
      fprintf(stderr, "FAILED: service %s is still there (%lu)\n", kServices[i], state);
    }
  }

  CloseHandle(log);
  DeleteFileA(logPath);
  FreeLibrary(messages);
  FreeLibrary(library);
  if (failures != 0) return fprintf(stderr, "%d check(s) failed\n", failures), 1;
  printf("setup program: upgrade, partitioned instance, failed tool, sqlfvald and removal hold\n");
  return 0;
}
