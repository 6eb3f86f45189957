#include "testkit/migration_message_file.h"

#include "host/host_files.h"
#include "platform/file_system.h"
#include "platform/win_error.h"
#include "tools/sample/sample_machine.h"

namespace qz7::testkit {

std::vector<std::string> MigrationMessageFileLines() { return sample::MigrationMessageLines(); }

uint32_t WriteMigrationMessageFile(const std::string& installDir,
                                   const std::vector<std::string>& lines, bool finalLineFeed) {
  if (uint32_t error = host::MakeDirectories(installDir + "\\msg\\prime", nullptr); error != 0)
    return error;
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) {
    text += lines[i];
    if (finalLineFeed || i + 1 < lines.size()) text += "\n";
  }
  platform::FileHandle file = platform::OpenFile(MigrationMessageFilePath(installDir).c_str(), "w");
  if (!file) return platform::GetLastError();
  const bool written = file->Write(text.data(), text.size()) == text.size();
  const uint32_t writeError = written ? 0 : platform::GetLastError();
  if (file->Close() != 0) return written ? platform::GetLastError() : writeError;
  return written ? 0 : (writeError != 0 ? writeError : platform::kErrorWriteFault);
}

}  // namespace qz7::testkit
