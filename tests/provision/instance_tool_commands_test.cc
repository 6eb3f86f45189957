// The instance tools' command lines and the password hidden in the logged copy.
#include "provision/instance_tool_commands.h"

#include <gtest/gtest.h>

#include <string>

namespace qz7::provision {
namespace {

constexpr const char* kTool = "C:\\QZ7\\BIN\\QZ7ICRT.EXE";

TEST(InstanceToolCommandsTest, CommandLines) {
  const std::string longHost(300, 'h');
  struct Case {
    const char* name;
    std::string line;
    std::string expected;
  };
  const Case cases[] = {
      {"node", NodeCreateCommandLine(kTool, "MPP", "3", "svc", "pw", "OWNERPC"),
       "\"C:\\QZ7\\BIN\\QZ7ICRT.EXE\" /i:MPP /n:3 \"/u:svc,pw\" \"/O:OWNERPC\""},
      {"node, empty password", NodeCreateCommandLine(kTool, "MPP", "3", "svc", "", "OWNERPC"),
       "\"C:\\QZ7\\BIN\\QZ7ICRT.EXE\" /i:MPP /n:3 \"/u:svc,,\" \"/O:OWNERPC\""},
      {"create", PartitionedCommandLine(kTool, "MPP", "/mpp", "svc", "pw", "60000", "60003", ""),
       "\"C:\\QZ7\\BIN\\QZ7ICRT.EXE\" MPP /mpp \"/u:svc,pw\" /r:60000,60003"},
      {"create with host",
       PartitionedCommandLine(kTool, "MPP", "/mpp", "svc", "pw", "1", "2", "node1.example"),
       "\"C:\\QZ7\\BIN\\QZ7ICRT.EXE\" MPP /mpp \"/u:svc,pw\" /r:1,2 /h:node1.example"},
      {"update: two blanks", PartitionedCommandLine(kTool, "MPP", "", "svc", "", "1", "2", ""),
       "\"C:\\QZ7\\BIN\\QZ7ICRT.EXE\" MPP  \"/u:svc,,\" /r:1,2"},
      {"null texts are empty",
       PartitionedCommandLine(kTool, "MPP", "", nullptr, nullptr, nullptr, nullptr, nullptr),
       "\"C:\\QZ7\\BIN\\QZ7ICRT.EXE\" MPP  \"/u:,,\" /r:,"},
      {"cut to the buffer",
       PartitionedCommandLine(kTool, "MPP", "/mpp", "svc", "pw", "1", "2",
                              (longHost + longHost + longHost + longHost).c_str()),
       ("\"C:\\QZ7\\BIN\\QZ7ICRT.EXE\" MPP /mpp \"/u:svc,pw\" /r:1,2 /h:" + longHost + longHost +
        longHost + longHost)
           .substr(0, kToolCommandLineSize - 1)},
  };
  for (const Case& c : cases) EXPECT_EQ(c.line, c.expected) << c.name;
}

TEST(InstanceToolCommandsTest, MaskPassword) {
  struct Case {
    const char* name;
    std::string line;
    const char* password;
    std::string expected;
  };
  const Case cases[] = {
      {"masked", "\"T\" MPP /mpp \"/u:svc,secret\" /r:1,2", "secret",
       "\"T\" MPP /mpp \"/u:svc,******\" /r:1,2"},
      {"empty password: nothing", "\"T\" MPP /mpp \"/u:svc,,\" /r:1,2", "",
       "\"T\" MPP /mpp \"/u:svc,,\" /r:1,2"},
      {"null password: nothing", "\"T\" /u:a,b", nullptr, "\"T\" /u:a,b"},
      // The first comma followed by the password is taken, even before the /u option.
      {"first place wins", "\"T\" MPP /mpp \"/u:a,12\" /r:12,12", "12",
       "\"T\" MPP /mpp \"/u:a,**\" /r:12,12"},
      {"earlier place", "\"T\" /r:1,6000 \"/u:a,6000\"", "6000", "\"T\" /r:1,**** \"/u:a,6000\""},
      {"a prefix is enough", "\"T\" /u:a,pwd\" /r:1,2", "pw", "\"T\" /u:a,**d\" /r:1,2"},
      {"longer than what follows", "\"T\" /u:a,pw", "pwd", "\"T\" /u:a,pw"},
      {"no comma", "\"T\" pw", "pw", "\"T\" pw"},
  };
  for (const Case& c : cases) {
    std::string line = c.line;
    MaskPassword(line, c.password);
    EXPECT_EQ(line, c.expected) << c.name;
  }
}

}  // namespace
}  // namespace qz7::provision
