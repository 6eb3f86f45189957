// A child program for tests of processes, pipes and log locking. Each option does one thing,
// in the order given; other words are passed over (they are there for --args to show):
//   --stdout N      write N bytes ('o') to standard output
//   --stderr N      write N bytes ('e') to standard error
//   --args          write each argument it received (argv[1..]) on a line of its own
//   --cwd           write the host current directory and a newline
//   --stdin         copy standard input to standard output until its end
//   --fds           write each open descriptor above 2 on a line of its own
//   --env NAME      write the value of environment variable NAME and a newline
//   --sleep MS      wait MS milliseconds
//   --exit N        end with exit code N at once
#if defined(_WIN32)
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <dirent.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void WriteRepeated(FILE* stream, char c, long count) {
  std::string chunk(4096, c);
  while (count > 0) {
    long piece = count < 4096 ? count : 4096;
    std::fwrite(chunk.data(), 1, static_cast<size_t>(piece), stream);
    count -= piece;
  }
  std::fflush(stream);
}

// Lists the descriptors this program inherited above the standard three (the listing's own
// descriptor left out).
void WriteOpenDescriptors() {
#if !defined(_WIN32)  // Windows children inherit handles, not numbered descriptors
  DIR* directory = opendir("/proc/self/fd");
  if (directory == nullptr) return;
  int own = dirfd(directory);
  while (struct dirent* entry = readdir(directory)) {
    if (entry->d_name[0] == '.') continue;
    int fd = std::atoi(entry->d_name);
    if (fd > 2 && fd != own) std::printf("%d\n", fd);
  }
  closedir(directory);
  std::fflush(stdout);
#endif
}

}  // namespace

int main(int argc, char** argv) {
#if defined(_WIN32)
  // The same bytes as on POSIX: no CR before each line end.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
#endif
  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    bool hasValue = i + 1 < argc;
    if (option == "--stdout" && hasValue) {
      WriteRepeated(stdout, 'o', std::atol(argv[++i]));
    } else if (option == "--stderr" && hasValue) {
      WriteRepeated(stderr, 'e', std::atol(argv[++i]));
    } else if (option == "--args") {
      for (int j = 1; j < argc; ++j) std::printf("%s\n", argv[j]);
      std::fflush(stdout);
    } else if (option == "--cwd") {
      char buffer[4096];
      if (getcwd(buffer, sizeof buffer) != nullptr) std::printf("%s\n", buffer);
      std::fflush(stdout);
    } else if (option == "--stdin") {
      char buffer[4096];
      size_t got;
      while ((got = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) {
        std::fwrite(buffer, 1, got, stdout);
      }
      std::fflush(stdout);
    } else if (option == "--fds") {
      WriteOpenDescriptors();
    } else if (option == "--env" && hasValue) {
      const char* value = std::getenv(argv[++i]);
      std::printf("%s\n", value != nullptr ? value : "(unset)");
      std::fflush(stdout);
    } else if (option == "--sleep" && hasValue) {
#if defined(_WIN32)
      Sleep(static_cast<DWORD>(std::atol(argv[++i])));
#else
      usleep(static_cast<useconds_t>(std::atol(argv[++i]) * 1000));
#endif
    } else if (option == "--exit" && hasValue) {
      return std::atoi(argv[++i]);
    }
  }
  return 0;
}
