// The command lines of the stand-in instance tools, as the set-up library writes them:
//
//   QZ7ICRT.EXE   NAME /mpp "/u:ACCOUNT,PASSWORD" /r:FIRST,LAST [/h:HOST]
//   QZ7IUPDT.EXE  NAME "/u:ACCOUNT,PASSWORD" /r:FIRST,LAST [/h:HOST]
//   QZ7NCRT.EXE   /i:NAME /n:NODE "/u:ACCOUNT,PASSWORD" "/O:OWNER"
//
// Option letters are taken without regard to case. In /u: the account ends at the first
// comma; the password "," stands for an empty one (the library writes /u:ACCOUNT,, then).
#ifndef QZ7_TOOLS_INSTANCE_TOOL_ARGUMENTS_H_
#define QZ7_TOOLS_INSTANCE_TOOL_ARGUMENTS_H_

#include <string>

namespace qz7::instance_tools {

struct ServiceLogon {
  std::string account;   // "" = the service table's default logon
  std::string password;  // "" = none
};

// QZ7ICRT.EXE and QZ7IUPDT.EXE.
struct PartitionedArguments {
  std::string name;
  bool partitionedOption = false;  // /mpp was given
  ServiceLogon logon;
  int firstPort = 0;
  int lastPort = 0;
  std::string hostName;  // "" when /h: was not given
};

// QZ7NCRT.EXE.
struct NodeArguments {
  std::string name;
  std::string node;
  ServiceLogon logon;
  std::string owner;
};

// Parse argv[1..argc-1]. Return "" on success, else what is wrong, for a person to read.
std::string ParsePartitionedArguments(int argc, const char* const* argv,
                                      PartitionedArguments* arguments);
std::string ParseNodeArguments(int argc, const char* const* argv, NodeArguments* arguments);

}  // namespace qz7::instance_tools

#endif  // QZ7_TOOLS_INSTANCE_TOOL_ARGUMENTS_H_
