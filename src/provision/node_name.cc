#include "provision/node_name.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "host/host_services.h"
#include "platform/codepage.h"
#include "platform/windows_path.h"

namespace qz7::provision {
namespace {

constexpr size_t kProfileNameSize = 260;
constexpr unsigned char kProductQueryCode = 3;
constexpr size_t kMaxNodeNameLength = kNodeNameSize - 1;

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The instance profiles other than the administration server's (all of them when that
// server's name cannot be read).
[[nodiscard]] int CountInstanceProfiles() {
  host::HostServices& host = host::Host();
  std::array<char, kProfileNameSize> adminServer{};
  const bool haveAdminServer =
      host.PRegValue(host::kValueRead, host::kVarAdminServer, 0, adminServer.data(),
                     adminServer.size(), host::kGlobalProfile) == 0;
  int count = 0;
  std::array<char, kProfileNameSize> name{};
  // Any result other than 0 means no name came back; -5 is the normal end of the list.
  for (int op = host::kProfileFirst; host.PRegProfile(op, name.data()) == 0;
       op = host::kProfileNext) {
    name.back() = '\0';
    if (!haveAdminServer || NamesDifferNoCase(name.data(), adminServer.data())) ++count;
  }
  return count;
}

// The computer's name at its place in the query block, cut at its first point.
std::string ComputerNameFromQuery(const unsigned char* block) {
  const char* text = reinterpret_cast<const char*>(block + host::kProductNameOffset);
  std::string name(text, strnlen(text, host::kProductBlockSize - host::kProductNameOffset));
  const size_t point = name.find('.');
  if (point != std::string::npos) name.resize(point);
  return name;
}

}  // namespace

int NamesDifferNoCase(const char* a, const char* b) {
  // The platform's compare folds single-byte letters only and never a double-byte character.
  return platform::NamesEqualIgnoreCase(a != nullptr ? a : "", b != nullptr ? b : "") ? 0 : 1;
}

[[nodiscard]] int MakeDefaultNodeName(char* out) {
  const int count = CountInstanceProfiles();
  const std::string suffix = count >= 2 ? std::to_string(count - 1) : std::string();

  host::HostServices& host = host::Host();
  std::array<unsigned char, host::kProductBlockSize> block{};
  std::array<unsigned char, host::kProductContextSize> context{};
  block[0] = kProductQueryCode;
  int result = host.ProIfInit(block.data(), context.data());
  if (result != 0) return result;
  result = host.ProIfQuery(block.data(), context.data());
  if (result != 0) {
    host.ProIfTerm(block.data(), context.data());
    return result;
  }

  std::string name = ComputerNameFromQuery(block.data());
  // Upper case character by character: the second byte of a double-byte character is kept
  // as it is, even where it has the value of a lower-case letter.
  for (size_t i = 0; i < name.size(); ++i) {
    if (platform::IsLeadByte(static_cast<unsigned char>(name[i])) && i + 1 < name.size()) {
      ++i;
    } else {
      name[i] = UpperAscii(name[i]);
    }
  }
  if (name.empty()) name.push_back('d');
  if (!IsAsciiLetter(name[0])) name[0] = 'd';
  const size_t keep = suffix.size() < kMaxNodeNameLength ? kMaxNodeNameLength - suffix.size() : 0;
  if (name.size() > keep) name.resize(keep);
  name += suffix;
  name.resize(std::min(name.size(), kMaxNodeNameLength));

  const char* permitted = host.PermittedCharset();
  if (permitted == nullptr) permitted = "";
  for (size_t i = 1; i < name.size(); ++i) {
    if (std::strchr(permitted, name[i]) == nullptr) name[i] = '_';
  }

  std::memcpy(out, name.c_str(), name.size() + 1);
  host.ProIfTerm(block.data(), context.data());
  return 0;
}

}  // namespace qz7::provision
