#include "entry/instance_removal.h"

#include <string>

#include "host/host_services.h"
#include "platform/file_system.h"
#include "util/multibyte.h"
#include "util/quoted_path.h"

namespace qz7::entry {
namespace {

constexpr int kRemoveProfileRegistry = 6;
constexpr int kAnyNode = -1;

bool IsQuoted(const std::string& path) { return !path.empty() && path.front() == '"'; }

// The text without its closing quote, when it is quoted and has one.
std::string WithoutClosingQuote(const std::string& path) {
  if (IsQuoted(path) && path.size() > 1 && path.back() == '"') {
    return path.substr(0, path.size() - 1);
  }
  return path;
}

// Closes the quote again when the text was opened by one.
std::string Requoted(std::string path) {
  if (IsQuoted(path)) path += '"';
  return path;
}

}  // namespace

void RemoveAllInstances(const SetupContext& context) {
  const std::string target = context.targetProfileDir.c_str();

  if (context.existingScan != nullptr) {
    const InstanceArray& records = context.existingScan->records;
    for (int32_t i = 0; i < records.count(); ++i) {
      const std::string instanceDir =
          Requoted(WithoutClosingQuote(target) + "\\" + records[i].name.c_str());
      host::Host().InstanceDrop(records[i].name.c_str(), instanceDir.c_str());
    }
  }

  host::Host().PRegProfilePE(kRemoveProfileRegistry, nullptr, kAnyNode);

  std::string path = target;
  while (util::FindCharMB(path.c_str(), '\\') != nullptr) {
    if (platform::RemoveDirectory(util::StripQuotes(path.c_str()).c_str()) != 0) return;
    std::string cut = WithoutClosingQuote(path);
    // The last backslash is found by walking the multibyte text, so a trail byte equal to a
    // backslash is never taken for one.
    const char* last = nullptr;
    for (const char* at = util::FindCharMB(cut.c_str(), '\\'); at != nullptr;
         at = util::FindCharMB(at + 1, '\\')) {
      last = at;
    }
    if (last == nullptr) return;
    path = Requoted(cut.substr(0, static_cast<size_t>(last - cut.c_str())));
  }
}

}  // namespace qz7::entry
