// The syntax of names and protocol lists in configuration parameters.
#ifndef QZ7_CONFIG_NAME_SYNTAX_H_
#define QZ7_CONFIG_NAME_SYNTAX_H_

#include <cstddef>
#include <span>

namespace qz7::config {

// Characters of a name; a name may not begin with the underscore or a digit, so the set for
// the first character is the tail of the full set behind those 11 characters.
inline constexpr char kNameCharacters[] =
    "_0123456789#@$ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
inline constexpr const char* kNameFirstCharacters = kNameCharacters + 11;

// The protocols a node may list (with case), and those a server may list (upper-cased first).
inline constexpr const char* kNodeProtocols[] = {"TCPIP", "APPC", "IPXSPX", "NETBIOS"};
inline constexpr const char* kServerProtocols[] = {"TCPIP", "NETBIOS", "IPXSPX"};

// 1 when name[0] is in the first-character set and name[1..length-1] are all in allowed; else 0.
// For length <= 1 only the first character is tested. Membership is a search of the character
// in the set string, so a zero byte counts as a member.
int IsValidName(const char* name, int length, const char* allowed);

// Upper-cases text with toupper up to its terminating zero, at most 500 characters.
void UppercaseInPlace(char* text);

// A list of items separated by runs of blanks, tabs and commas (leading and trailing
// separators allowed), each item equal to the beginning of one of names ("TCP" abbreviates
// "TCPIP"; "TCPIPX" matches nothing). Compared with case. Scans at most length characters, or
// up to a zero byte. An empty list is accepted.
bool IsProtocolList(const char* text, size_t length, std::span<const char* const> names);

// A name of 1 to 8 characters after trailing blanks are removed, or only blanks (accepted). The
// text is at most size bytes and need not be terminated inside them; a text of more than 8
// characters is rejected.
bool IsBlankOrShortName(const char* text, size_t size);

// A name of at most 8 characters up to its terminating zero, every character significant
// (a blank anywhere rejects it).
bool IsExactShortName(const char* value);

}  // namespace qz7::config

#endif  // QZ7_CONFIG_NAME_SYNTAX_H_
