#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/process.h"
#include "tests/platform/machine_fixture.h"

namespace qz7::platform {
namespace {

struct SplitCase {
  const char* name;
  const char* commandLine;
  std::vector<std::string> expected;
};

const SplitCase kSplitCases[] = {
    {"NullLine", nullptr, {}},
    {"QuotedArgumentKeepsBlanks", "prog \"a b\"\tc", {"prog", "a b", "c"}},
    {"QuotedProgramWithBlank",
     "\"C:\\Program Files\\X.EXE\" -n",
     {"C:\\Program Files\\X.EXE", "-n"}},
    {"ProgramBackslashesAreLiteral", "C:\\DIR\\\\X.EXE a", {"C:\\DIR\\\\X.EXE", "a"}},
    {"QuotedProgramEndsAtSecondQuote", "\"C:\\DIR\\\" a", {"C:\\DIR\\", "a"}},
    {"BackslashQuoteIsLiteralQuote", "prog a\\\"b", {"prog", "a\"b"}},
    {"TwoBackslashesThenQuote", "prog a\\\\\"b c\"", {"prog", "a\\b c"}},
    {"ThreeBackslashesThenQuote", "prog a\\\\\\\"b", {"prog", "a\\\"b"}},
    {"BackslashesNotBeforeQuote", "prog C:\\DIR\\\\SUB\\ x", {"prog", "C:\\DIR\\\\SUB\\", "x"}},
    {"EmptyQuotedArgument", "prog \"\" x", {"prog", "", "x"}},
    {"QuotesJoinPieces", "prog a\"b c\"d", {"prog", "ab cd"}},
};

class SplitCommandLineTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLineTest, GivesTheWindowsArgumentVector) {
  const SplitCase& row = GetParam();
  EXPECT_EQ(SplitCommandLine(row.commandLine), row.expected)
      << "command line: " << (row.commandLine ? row.commandLine : "(null)");
}

INSTANTIATE_TEST_SUITE_P(CommandLine, SplitCommandLineTest, ::testing::ValuesIn(kSplitCases),
                         kRowName);

}  // namespace
}  // namespace qz7::platform
