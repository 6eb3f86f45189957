// A child program for tests of processes, pipes and log locking. Each option does one thing,
// in the order given; other words are passed over (they are there for --args to show):
//   --stdout N      write N bytes ('o') to standard output
//   --stderr N      write N bytes ('e') to standard error
//   --args          write each argument it received (argv[1..]) on a line of its own
//   --cwd           write the host current directory and a newline
//   --fds           write each open descriptor above 2 on a line of its own
//   --exit N        end with exit code N at once
//   --say-error TEXT  write TEXT and a newline to standard error
//   --overwrite FILE  replace the contents of FILE, when it exists, with "garbage" and a newline
// Under another program's name (standing in for an instance tool, whose command line is the
// caller's), it takes its options from $QZ7_HELPER_OPTIONS instead, one a line.
#if defined(_WIN32)
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#else
#include <dirent.h>
#include <unistd.h>
#endif

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace {

void WriteRepeated(FILE* stream, char c, long count) {
  std::string chunk(4096, c);
  while (count > 0) {
    long piece = count < 4096 ? count : 4096;
    std::fwrite(chunk.data(), 1, static_cast<size_t>(piece), stream);
    count -= piece;
  }
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
#endif
}

// The options: the command line's, or under another name than its own the environment's.
std::vector<std::string> Options(int argc, char** argv) {
  std::string name = argc > 0 ? argv[0] : "";
  name = name.substr(name.find_last_of("/\\") + 1);
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const char* given = std::getenv("QZ7_HELPER_OPTIONS");
  if (name.rfind("qz7_test_helper", 0) == 0 || given == nullptr) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
  }
  std::vector<std::string> options;
  std::istringstream lines(given);
  for (std::string line; std::getline(lines, line);) options.push_back(line);
  return options;
}

}  // namespace

int main(int argc, char** argv) {
#if defined(_WIN32)
  // The same bytes as on POSIX: no CR before each line end.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
#endif
  // Unbuffered: what each option writes is out before the next one runs, in the order given.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  const std::vector<std::string> options = Options(argc, argv);
  for (size_t i = 0; i < options.size(); ++i) {
    const std::string& option = options[i];
    const bool hasValue = i + 1 < options.size();
    const auto value = [&] { return options[++i].c_str(); };
    if (option == "--stdout" && hasValue) {
      WriteRepeated(stdout, 'o', std::atol(value()));
    } else if (option == "--stderr" && hasValue) {
      WriteRepeated(stderr, 'e', std::atol(value()));
    } else if (option == "--args") {
      for (int j = 1; j < argc; ++j) std::printf("%s\n", argv[j]);
    } else if (option == "--cwd") {
      char buffer[4096];
      if (getcwd(buffer, sizeof buffer) != nullptr) std::printf("%s\n", buffer);
    } else if (option == "--fds") {
      WriteOpenDescriptors();
    } else if (option == "--say-error" && hasValue) {
      std::fprintf(stderr, "%s\n", value());
    } else if (option == "--overwrite" && hasValue) {
      const char* file = value();
      if (FILE* existing = std::fopen(file, "rb")) {
        std::fclose(existing);
        if (FILE* out = std::fopen(file, "wb")) {
          std::fputs("garbage\n", out);
          std::fclose(out);
        }
      }
    } else if (option == "--exit" && hasValue) {
      return std::atoi(value());
    }
  }
  return 0;
}
