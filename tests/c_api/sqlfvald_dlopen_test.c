/*
 * A C caller of the shared library: includes the public header, opens the library named by
 * argv[1] with dlopen, and calls sqlfvald under its plain and its decorated name on a real
 * 4096-byte configuration file in a throw-away machine root. Exits non-zero on any mismatch.
 */
#define _POSIX_C_SOURCE 200809L

#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "qz7instm.h"

typedef int (*SqlfvaldFunction)(sqlf_cfg_parameter*, char*, int);

/* On 32-bit targets the record is the 12-byte layout the interface documents. */
typedef char RecordLayoutCheck[(sizeof(void*) != 4 || sizeof(sqlf_cfg_parameter) == 12) ? 1 : -1];

#define FILE_SIZE 4096
#define UNTOUCHED 7

static int failures = 0;
static char configHostPath[512];

static void Check(int condition, const char* what) {
  if (!condition) {
    fprintf(stderr, "FAILED: %s\n", what);
    ++failures;
  }
}

static void Store32(unsigned char* block, size_t offset, unsigned long value) {
  block[offset] = (unsigned char)value;
  block[offset + 1] = (unsigned char)(value >> 8);
  block[offset + 2] = (unsigned char)(value >> 16);
  block[offset + 3] = (unsigned char)(value >> 24);
}

static unsigned long Load32(const unsigned char* block, size_t offset) {
  return (unsigned long)block[offset] | ((unsigned long)block[offset + 1] << 8) |
         ((unsigned long)block[offset + 2] << 16) | ((unsigned long)block[offset + 3] << 24);
}

static int WriteConfig(const unsigned char* block) {
  FILE* file = fopen(configHostPath, "wb");
  if (file == NULL) return 0;
  size_t written = fwrite(block, 1, FILE_SIZE, file);
  return fclose(file) == 0 && written == FILE_SIZE;
}

/* Reads the file; returns its length (at most FILE_SIZE + 1), or -1. */
static long ReadConfig(unsigned char* block) {
  FILE* file = fopen(configHostPath, "rb");
  if (file == NULL) return -1;
  size_t length = fread(block, 1, FILE_SIZE + 1, file);
  fclose(file);
  return (long)length;
}

static void SetRecord(sqlf_cfg_parameter* record, unsigned short token, char* value) {
  memset(record, 0, sizeof *record);
  record->token = token;
  record->value = value;
  record->valid = UNTOUCHED;
}

static void RunCalls(SqlfvaldFunction plain, SqlfvaldFunction decorated,
                     const unsigned char* original) {
  static char config[] = "C:\\INST\\qz7systm";
  static char missing[] = "C:\\INST\\missing";
  static char v200[] = "200", v300[] = "300", vYes[] = "yes", vOne[] = "1", vEmpty[] = "";
  unsigned char now[FILE_SIZE + 1];
  sqlf_cfg_parameter records[3];
  unsigned long sum = 0;
  size_t i;

  /* Check only: verdicts, result 0, file untouched. */
  SetRecord(&records[0], 12, v200);
  SetRecord(&records[1], 40, vYes);
  Check(plain(records, config, 2) == 0, "plain name: check-only call returns 0");
  Check(records[0].valid == 1 && records[1].valid == 1, "plain name: both records accepted");
  Check(ReadConfig(now) == FILE_SIZE && memcmp(now, original, FILE_SIZE) == 0,
        "plain name: file untouched without the commit token");

  /* Commit with a rejected record: -104, file untouched. */
  SetRecord(&records[0], 12, v200);
  SetRecord(&records[1], 4711, vOne);
  SetRecord(&records[2], SQLF_COMMIT_TOKEN, vEmpty);
  Check(decorated(records, config, 3) == -104, "decorated name: rejected commit returns -104");
  Check(records[0].valid == 1 && records[1].valid == 0 && records[2].valid == 1,
        "decorated name: verdicts 1 0 1");
  Check(ReadConfig(now) == FILE_SIZE && memcmp(now, original, FILE_SIZE) == 0,
        "decorated name: file untouched after -104");

  /* Commit: the file is rewritten with the new value and a fresh checksum. */
  SetRecord(&records[0], 12, v300);
  SetRecord(&records[1], SQLF_COMMIT_TOKEN, vEmpty);
  Check(decorated(records, config, 2) == 0, "decorated name: commit returns 0");
  Check(ReadConfig(now) == FILE_SIZE, "commit leaves a 4096-byte file");
  Check(Load32(now, 0x4C) == 300, "commit stored the new value");
  for (i = 4; i < FILE_SIZE; ++i) sum += now[i];
  Check(Load32(now, 0) == (sum & 0xFFFFFFFFul), "commit stamped a fresh checksum");
  Check(memcmp(now + 4, original + 4, 0x4C - 4) == 0 &&
            memcmp(now + 0x50, original + 0x50, FILE_SIZE - 0x50) == 0,
        "commit changed nothing else");

  /* A missing file: -100 and no record touched. */
  SetRecord(&records[0], 12, v200);
  Check(plain(records, missing, 1) == -100, "plain name: missing file returns -100");
  Check(records[0].valid == UNTOUCHED, "plain name: missing file touches no record");
}

int main(int argc, char** argv) {
  char root[] = "/tmp/qz7-capi-XXXXXX";
  char path[512];
  unsigned char original[FILE_SIZE];
  void* library;
  void* symbol;
  SqlfvaldFunction plain = NULL;
  SqlfvaldFunction decorated = NULL;

  (void)sizeof(RecordLayoutCheck);
  (void)sizeof(sqlfvald(NULL, NULL, 0)); /* the header declares the function */
  if (argc != 2) {
    fprintf(stderr, "usage: %s SHARED_LIBRARY\n", argv[0]);
    return 2;
  }
  if (mkdtemp(root) == NULL) return 2;
  snprintf(path, sizeof path, "%s/drives", root);
  mkdir(path, 0700);
  snprintf(path, sizeof path, "%s/drives/c", root);
  mkdir(path, 0700);
  snprintf(path, sizeof path, "%s/drives/c/INST", root);
  mkdir(path, 0700);
  snprintf(configHostPath, sizeof configHostPath, "%s/drives/c/INST/qz7systm", root);
  setenv("QZ7_MACHINE", root, 1);

  /* Node kind 1, field 12 at 100, field 501 at -1; the checksum is left stale on purpose. */
  memset(original, 0, sizeof original);
  original[0x28] = 1;
  Store32(original, 0x4C, 100);
  Store32(original, 0xC0C, 0xFFFFFFFFul);
  Store32(original, 0, 12345);
  Check(WriteConfig(original), "writing the configuration file");

  library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (library == NULL) {
    fprintf(stderr, "dlopen: %s\n", dlerror());
    return 1;
  }
  symbol = dlsym(library, "sqlfvald");
  Check(symbol != NULL, "plain name exported");
  memcpy(&plain, &symbol, sizeof plain);
  symbol = dlsym(library, "_Z8sqlfvaldP18sqlf_cfg_parameterPci");
  Check(symbol != NULL, "decorated name exported");
  memcpy(&decorated, &symbol, sizeof decorated);

  if (plain != NULL && decorated != NULL) RunCalls(plain, decorated, original);
  dlclose(library);

  unlink(configHostPath);
  snprintf(path, sizeof path, "%s/drives/c/INST", root);
  rmdir(path);
  snprintf(path, sizeof path, "%s/drives/c", root);
  rmdir(path);
  snprintf(path, sizeof path, "%s/drives", root);
  rmdir(path);
  rmdir(root);

  if (failures != 0) {
    fprintf(stderr, "%d check(s) failed\n", failures);
    return 1;
  }
  printf("sqlfvald: both names behave alike\n");
  return 0;
}
