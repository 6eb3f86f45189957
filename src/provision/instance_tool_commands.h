// The command lines of the product's instance tools, and hiding a password in one before it
// goes to the setup log. Pure text work.
//
//   QZ7NCRT.EXE   "TOOL" /i:NAME /n:NODE "/u:ACCOUNT,PASSWORD" "/O:OWNER"
//   QZ7ICRT.EXE   "TOOL" NAME /mpp "/u:ACCOUNT,PASSWORD" /r:FIRST,LAST [/h:HOST]
//   QZ7IUPDT.EXE  "TOOL" NAME  "/u:ACCOUNT,PASSWORD" /r:FIRST,LAST [/h:HOST]
//
// An empty password is written as "," so the option reads /u:ACCOUNT,, and the tool can tell
// it from a missing one. Every quoted option is written by the Windows command-line rules (a
// quote as \", backslashes doubled before a quote), so the tool receives the account, the
// password and the owner exactly as given, whatever quotes and backslashes they hold. QZ7IUPDT.EXE
// gets an empty text where QZ7ICRT.EXE gets /mpp, which leaves two blanks after the name.
#ifndef QZ7_PROVISION_INSTANCE_TOOL_COMMANDS_H_
#define QZ7_PROVISION_INSTANCE_TOOL_COMMANDS_H_

#include <cstddef>
#include <string>

namespace qz7::provision {

// Size of a tool command line buffer; a command line holds at most one byte less.
constexpr size_t kToolCommandLineSize = 1024;

constexpr const char* kNodeCreateTool = "\\BIN\\QZ7NCRT.EXE";
constexpr const char* kInstanceCreateTool = "\\BIN\\QZ7ICRT.EXE";
constexpr const char* kInstanceUpdateTool = "\\BIN\\QZ7IUPDT.EXE";
constexpr const char* kPartitionedOption = "/mpp";
constexpr const char* kEmptyPasswordText = ",";

// Command lines, cut to kToolCommandLineSize - 1 bytes. toolPath is written in double quotes
// and must be given without them; null texts count as empty.
std::string NodeCreateCommandLine(const char* toolPath, const char* name, const char* nodeNumber,
                                  const char* account, const char* password,
                                  const char* ownerComputer);
// modeOption is kPartitionedOption for QZ7ICRT.EXE and "" for QZ7IUPDT.EXE; " /h:" and the
// host name are appended when hostName is not empty.
std::string PartitionedCommandLine(const char* toolPath, const char* name, const char* modeOption,
                                   const char* account, const char* password,
                                   const char* portRangeStart, const char* portRangeEnd,
                                   const char* hostName);

// False when the account holds a comma: the tool takes the account up to the first comma of
// its logon option, so such an account cannot be carried to it.
[[nodiscard]] bool CanCarryAccount(const char* account);

// Overwrites with '*' every place in commandLine where password stands, as it was given and
// as a command line writes it (escaped), one '*' for each character. An empty or null
// password changes nothing.
void MaskPassword(std::string& commandLine, const char* password);

}  // namespace qz7::provision

#endif  // QZ7_PROVISION_INSTANCE_TOOL_COMMANDS_H_
