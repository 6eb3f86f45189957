// What the qz7inst suites share: the tool run as a child process the way an operator runs it,
// and its --json output read back with nlohmann-json.
#ifndef QZ7_TESTS_CLI_CLI_RUN_H_
#define QZ7_TESTS_CLI_CLI_RUN_H_

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "testkit/tool_runner.h"

namespace qz7::cli {

using Json = nlohmann::json;
using testkit::ToolRun;

inline ToolRun RunCli(const std::vector<std::string>& args) {
  return testkit::RunTool(QZ7_CLI_PATH, args);
}

// The document an output holds; a discarded value (is_discarded()) when it is no JSON, which
// fails any test that then reads a member of it.
inline Json ParseJson(const std::string& text) { return Json::parse(text, nullptr, false); }

}  // namespace qz7::cli

#endif  // QZ7_TESTS_CLI_CLI_RUN_H_
