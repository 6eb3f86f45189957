// qz7inst validate CONFIG TOKEN=VALUE...: runs sqlfvald on the configuration file CONFIG (a
// Windows path) with one parameter record per TOKEN=VALUE, in the order given, and prints each
// record's verdict. The commit token with an empty value, 9999=, asks for the file to be written.
#include <cstdio>
#include <string>
#include <vector>

#include "qz7instm.h"
#include "tools/qz7inst/command.h"

namespace qz7::cli {
namespace {

int RunValidate(Invocation& invocation);

const Command kValidate = {
    "validate", "validate CONFIG TOKEN=VALUE...",
    "check configuration parameters against CONFIG; 9999= writes them when all pass", RunValidate};

// The valid byte of a record that sqlfvald did not get to (the file could not be read).
constexpr unsigned char kNotJudged = 2;

int RunValidate(Invocation& invocation) {
  if (invocation.args.empty()) return UsageError(invocation, kValidate, "validate needs CONFIG");
  std::string configPath = invocation.args[0];

  // The value strings stay in place while the records point into them.
  std::vector<std::string> values;
  std::vector<unsigned short> tokens;
  for (size_t i = 1; i < invocation.args.size(); ++i) {
    const std::string& word = invocation.args[i];
    size_t equals = word.find('=');
    long long token = 0;
    if (equals == std::string::npos || !ParseInteger(word.substr(0, equals), &token) || token < 0 ||
        token > 65535) {
      return UsageError(invocation, kValidate,
                        "'" + word + "' is not TOKEN=VALUE with a token from 0 to 65535");
    }
    tokens.push_back(static_cast<unsigned short>(token));
    values.push_back(word.substr(equals + 1));
  }
  std::vector<sqlf_cfg_parameter> records;
  for (size_t i = 0; i < tokens.size(); ++i) {
    records.push_back({tokens[i], values[i].data(), kNotJudged});
  }

  const int result = sqlfvald(records.data(), configPath.data(), static_cast<int>(records.size()));

  for (size_t i = 0; i < records.size(); ++i) {
    if (records[i].valid == kNotJudged) continue;
    std::fprintf(invocation.out, "%zu %u %s\n", i, static_cast<unsigned>(records[i].token),
                 records[i].valid == 1 ? "accepted" : "rejected");
  }
  if (result == -100) {
    // A failed read leaves every record unjudged; a failed write comes after the verdicts.
    bool judged = !records.empty() && records[0].valid != kNotJudged;
    std::fprintf(invocation.err, "qz7inst: cannot %s %s\n", judged ? "write" : "read",
                 configPath.c_str());
  }
  return FinishWithResult(invocation, result);
}

QZ7_COMMAND(kValidate);

}  // namespace
}  // namespace qz7::cli
