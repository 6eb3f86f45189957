/* The child program of the process contract. Its words, in order:
 *   args          write each following argument on a line of its own, then end with 0
 *   write N       write N bytes ('o') to standard output
 *   sleep MS      wait MS milliseconds
 *   exit N        end with exit code N at once */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#define SLEEP_MS(ms) Sleep((DWORD)(ms))
#else
#include <time.h>
static void SleepMs(long ms) {
  struct timespec wait;
  wait.tv_sec = ms / 1000;
  wait.tv_nsec = (ms % 1000) * 1000000L;
  nanosleep(&wait, NULL);
}
#define SLEEP_MS(ms) SleepMs(ms)
#endif

int main(int argc, char** argv) {
  int i;
#if defined(_WIN32)
  /* The same bytes as on POSIX: no CR before each line end. */
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  for (i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "args") == 0) {
      for (++i; i < argc; ++i) printf("%s\n", argv[i]);
      return 0;
    }
    if (i + 1 >= argc) return 100;
    if (strcmp(argv[i], "write") == 0) {
      long n = atol(argv[++i]);
      for (; n > 0; --n) putchar('o');
      fflush(stdout);
    } else if (strcmp(argv[i], "sleep") == 0) {
      SLEEP_MS(atol(argv[++i]));
    } else if (strcmp(argv[i], "exit") == 0) {
      fflush(stdout);
      return atoi(argv[++i]);
    } else {
      return 101;
    }
  }
  return 0;
}
