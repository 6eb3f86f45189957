/* A program built against an installed QZ7INSTM the way a user of the package builds one:
 * it includes <qz7instm.h>, links the shared library (found by find_package or pkg-config)
 * and checks documented results of sqlfvald and the message-module loader in a throw-away
 * machine root. Exits non-zero on any mismatch. */
#define _POSIX_C_SOURCE 200809L

#include <qz7instm.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

static int failures = 0;

static void Check(int condition, const char* what) {
  if (!condition) {
    ++failures;
    fprintf(stderr, "FAILED: %s\n", what);
  }
}

/* Writes size bytes of text (or zeros when text is null) to path; true on success. */
static int WriteFile(const char* path, const char* text, size_t size) {
  static const char zeros[4096];
  FILE* file = fopen(path, "wb");
  int ok = file != NULL && fwrite(text != NULL ? text : zeros, 1, size, file) == size;
  if (file != NULL && fclose(file) != 0) ok = 0;
  return ok;
}

int main(void) {
  static const char messages[] = "3594 Instance %2 could not be created (%1).\n";
  static char config[] = "C:\\INST\\qz7systm", missing[] = "C:\\INST\\missing";
  static char root[] = "/tmp/qz7-consumer-XXXXXX";
  char command[80], file[72], messageFile[48]; /* each fits what it holds */
  QZ7_MODULE module;

  if (mkdtemp(root) == NULL) return 2;
  snprintf(command, sizeof command, "mkdir -p '%s/drives/c/INST'", root);
  snprintf(file, sizeof file, "%s/drives/c/INST/qz7systm", root);
  snprintf(messageFile, sizeof messageFile, "%s/messages.txt", root);
  if (system(command) != 0 || !WriteFile(file, NULL, 4096) ||
      !WriteFile(messageFile, messages, sizeof messages - 1)) {
    return 2;
  }
  setenv("QZ7_MACHINE", root, 1);

  /* No records: a file that cannot be read is -100; a readable one with nothing to commit is 0. */
  Check(sqlfvald(NULL, missing, 0) == -100, "sqlfvald on a missing file returns -100");
  Check(sqlfvald(NULL, config, 0) == 0, "sqlfvald without records returns 0");

  module = qz7LoadMessageModule(messageFile);
  Check(module != NULL, "qz7LoadMessageModule loads a message file");
  qz7FreeMessageModule(module);
  unlink(messageFile);
  Check(qz7LoadMessageModule(messageFile) == NULL,
        "qz7LoadMessageModule on a missing file is null");

  snprintf(command, sizeof command, "rm -rf '%s'", root);
  Check(system(command) == 0, "the scratch machine root is removed");
  if (failures == 0) printf("consumer: sqlfvald and the message module behave as documented\n");
  return failures == 0 ? 0 : 1;
}
