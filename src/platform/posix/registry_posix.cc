// HKEY_LOCAL_MACHINE, kept in <machine root>/registry.txt.
//
// The file is text a person can read and edit:
//
//   ; comment lines start with ';' or '#'; blank lines are ignored
//   [SOFTWARE\ZAV\QZ7\PROFILES\QZ7]      a key, by its full path below HKEY_LOCAL_MACHINE
//   "QZ7PATH"=sz:"C:\\SQLLIB"            REG_SZ (the stored terminating NUL is implied)
//   "QZ7NODE"=dword:0000002a             REG_DWORD, eight hex digits
//   "Blob"=hex:01,02,ff                  REG_BINARY, bytes in hex
//   "Other"=hex(7):41,00,00              any other type (number in hex), or REG_SZ data that
//                                        does not end in exactly one NUL
//   @=sz:"text"                          the key's default (unnamed) value
//   []                                   HKEY_LOCAL_MACHINE itself, when it holds values
//
// Quoted texts use \\ \" \n \r \t and \xHH. Keys appear in the order they were created, each
// followed by its values in the order they were created; a key is written with every one of
// its ancestors before it, and a key whose ancestors are missing from a hand-edited file gets
// them implied. A line that cannot be read is skipped and the rest of the file still counts;
// nothing is written to the terminal. The damage shows in the results instead: opening a key
// whose header line is broken gives kErrorRegistryCorrupt, and so does querying a value whose
// line is broken. The next rewrite keeps the line's text as a comment (";? ...") in its key,
// read back as the same damage, so a hand-made mistake is never silently lost.
//
// Every operation reads the file afresh, so a change made by another process is seen at the
// next call; every change re-reads, changes and replaces the whole file under the store lock.
// A handle names its key by path and keeps the access it was opened with.
#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/backend.h"
#include "platform/machine_root.h"
#include "platform/posix/text_store.h"
#include "platform/registry.h"
#include "platform/win_error.h"

namespace qz7::platform {

struct RegistryKey {
  std::string path;  // below HKEY_LOCAL_MACHINE, "" for the root
  uint32_t access;
  bool predefined;
};

}  // namespace qz7::platform

namespace qz7::platform::backend {
namespace {

using posix::EqualNoCase;

constexpr long kErrorKeyDeleted = 1018;  // the key behind a handle has been deleted

struct RegistryValue {
  std::string name;
  uint32_t type;
  std::string data;
};

struct RegistryKeyRecord {
  std::string path;
  std::vector<RegistryValue> values;
  std::vector<std::string> unreadableLines;  // kept as comments on the next rewrite
  std::vector<std::string> damagedValues;    // names of values whose line could not be read
};

std::string_view ParentOf(std::string_view path) {
  size_t slash = path.rfind('\\');
  return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

std::string_view LastNameOf(std::string_view path) {
  size_t slash = path.rfind('\\');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// True when path is "" or names below a key: names separated by single backslashes, none
// empty, none holding a control character (it could not be written to the file).
bool IsValidKeyPath(std::string_view path) {
  if (path.empty()) return true;
  size_t start = 0;
  for (;;) {
    size_t slash = path.find('\\', start);
    std::string_view name =
        path.substr(start, slash == std::string_view::npos ? slash : slash - start);
    if (name.empty()) return false;
    for (char c : name) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    }
    if (slash == std::string_view::npos) return true;
    start = slash + 1;
  }
}

// The whole registry in memory. keys[0] is HKEY_LOCAL_MACHINE itself.
class RegistryImage {
 public:
  RegistryImage() { keys_.push_back({"", {}, {}}); }

  RegistryKeyRecord* Find(std::string_view path) {
    for (auto& key : keys_) {
      if (EqualNoCase(key.path, path)) return &key;
    }
    return nullptr;
  }

  // Creates path and any missing ancestor, in that order at the end. Returns whether
  // something was created; *created is the key's stored path.
  bool Ensure(std::string_view path, std::string* stored) {
    if (RegistryKeyRecord* key = Find(path)) {
      *stored = key->path;
      return false;
    }
    std::string parentStored;
    Ensure(ParentOf(path), &parentStored);
    std::string name(LastNameOf(path));
    keys_.push_back({parentStored.empty() ? name : parentStored + "\\" + name, {}, {}});
    *stored = keys_.back().path;
    return true;
  }

  std::vector<std::string_view> ChildNames(std::string_view path) const {
    std::vector<std::string_view> names;
    for (size_t i = 1; i < keys_.size(); ++i) {
      if (EqualNoCase(ParentOf(keys_[i].path), path)) names.push_back(LastNameOf(keys_[i].path));
    }
    return names;
  }

  // Removes the key at path and everything below it (the root keeps itself, loses the rest).
  void RemoveTree(std::string_view path) {
    std::string prefix = std::string(path) + "\\";
    std::vector<RegistryKeyRecord> kept;
    for (auto& key : keys_) {
      bool below =
          path.empty()
              ? !key.path.empty()
              : EqualNoCase(key.path, path) ||
                    (key.path.size() > prefix.size() &&
                     EqualNoCase(std::string_view(key.path).substr(0, prefix.size()), prefix));
      if (!below) kept.push_back(std::move(key));
    }
    keys_ = std::move(kept);
    if (path.empty()) keys_.front().values.clear();
  }

  const std::vector<RegistryKeyRecord>& keys() const { return keys_; }

  // Paths of key headers that could not be read: opening such a key reports the damage.
  void AddDamagedKey(std::string_view path) { damagedKeys_.emplace_back(path); }
  bool IsDamagedKey(std::string_view path) const {
    for (const auto& damaged : damagedKeys_) {
      if (EqualNoCase(damaged, path)) return true;
    }
    return false;
  }

 private:
  std::vector<RegistryKeyRecord> keys_;
  std::vector<std::string> damagedKeys_;
};

std::string RegistryFile() { return MachineRoot() + "/registry.txt"; }

// --- Reading -------------------------------------------------------------------------------

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHexBytes(std::string_view text, std::string* bytes) {
  bytes->clear();
  text = posix::TrimBlanks(text);
  if (text.empty()) return true;
  for (;;) {
    std::string_view rest = posix::TrimBlanks(text);
    unsigned value = 0;
    int digits = 0;
    while (digits < 2 && !rest.empty() && HexDigit(rest[0]) >= 0) {
      value = value * 16 + static_cast<unsigned>(HexDigit(rest[0]));
      rest.remove_prefix(1);
      ++digits;
    }
    if (digits == 0) return false;
    bytes->push_back(static_cast<char>(value));
    rest = posix::TrimBlanks(rest);
    if (rest.empty()) return true;
    if (rest.front() != ',') return false;
    text = rest.substr(1);
  }
}

bool ParseHexNumber(std::string_view text, uint32_t* number) {
  if (text.empty() || text.size() > 8) return false;
  uint32_t value = 0;
  for (char c : text) {
    if (HexDigit(c) < 0) return false;
    value = value * 16 + static_cast<uint32_t>(HexDigit(c));
  }
  *number = value;
  return true;
}

// Reads `"name"=type:data` (or `@=...`). Returns an empty reason on success.
std::string ParseValueLine(std::string_view line, RegistryValue* value) {
  std::string_view rest = line;
  if (rest.front() == '@') {
    value->name.clear();
    rest.remove_prefix(1);
  } else if (!posix::ParseStoreText(&rest, &value->name)) {
    return "value name is not a quoted text";
  }
  rest = posix::TrimBlanks(rest);
  if (rest.empty() || rest.front() != '=') return "'=' expected after the value name";
  rest = posix::TrimBlanks(rest.substr(1));
  size_t colon = rest.find(':');
  if (colon == std::string_view::npos) return "value type expected (sz:, dword:, hex:)";
  std::string_view type = posix::TrimBlanks(rest.substr(0, colon));
  std::string_view data = posix::TrimBlanks(rest.substr(colon + 1));
  if (EqualNoCase(type, "sz")) {
    std::string text;
    std::string_view cursor = data;
    if (!posix::ParseStoreText(&cursor, &text)) return "sz: wants a quoted text";
    if (!posix::TrimBlanks(cursor).empty()) return "text after the closing quote";
    value->type = kRegSz;
    value->data = text + '\0';
    return "";
  }
  if (EqualNoCase(type, "dword")) {
    uint32_t number = 0;
    if (!ParseHexNumber(data, &number)) return "dword: wants up to eight hex digits";
    value->type = kRegDword;
    value->data.clear();
    for (int i = 0; i < 4; ++i)
      value->data.push_back(static_cast<char>((number >> (8 * i)) & 0xFF));
    return "";
  }
  uint32_t typeNumber = kRegBinary;
  if (!EqualNoCase(type, "hex")) {
    if (type.size() < 6 || !EqualNoCase(type.substr(0, 4), "hex(") || type.back() != ')' ||
        !ParseHexNumber(type.substr(4, type.size() - 5), &typeNumber)) {
      return "unknown value type '" + std::string(type) + "'";
    }
  }
  if (!ParseHexBytes(data, &value->data)) return "hex: wants bytes like 01,ff";
  value->type = typeNumber;
  return "";
}

// Builds the image from the file. A missing file (or machine root) is an empty registry.
uint32_t LoadRegistry(RegistryImage* image) {
  std::string file = RegistryFile();
  std::string content;
  uint32_t error = posix::ReadTextStore(file, &content);
  if (error == kErrorFileNotFound || error == kErrorPathNotFound) return kErrorSuccess;
  if (error != kErrorSuccess) return error;
  std::string current;  // stored path of the key being read
  bool inKey = false;
  // An unreadable line is kept (written back as a ";?" comment) and marks what it names as
  // damaged: the key of a broken header, the value of a broken value line.
  auto skip = [&](std::string_view text) {
    if (text.front() == '[') {
      std::string_view path = text.substr(1);
      if (!path.empty() && path.back() == ']') path.remove_suffix(1);
      image->AddDamagedKey(posix::TrimBlanks(path));
      inKey = false;
    }
    RegistryKeyRecord* key = image->Find(inKey ? current : "");
    key->unreadableLines.emplace_back(text);
    std::string_view cursor = text;
    std::string name;
    if (inKey && posix::ParseStoreText(&cursor, &name)) key->damagedValues.push_back(name);
  };
  for (const auto& line : posix::SplitStoreLines(content)) {
    std::string_view text = posix::TrimBlanks(line.text);
    if (text.size() > 2 && text.substr(0, 2) == ";?") {
      skip(posix::TrimBlanks(text.substr(2)));  // unreadable when it was last rewritten
      continue;
    }
    if (text.empty() || text.front() == ';' || text.front() == '#') continue;
    if (text.front() == '[') {
      std::string_view path = text.substr(1, text.size() - 2);
      if (text.back() != ']' || !IsValidKeyPath(path)) {
        skip(text);
        continue;
      }
      image->Ensure(path, &current);
      inKey = true;
      continue;
    }
    RegistryValue value;
    if (!inKey || !ParseValueLine(text, &value).empty()) {
      skip(text);
      continue;
    }
    RegistryKeyRecord* key = image->Find(current);
    bool replaced = false;
    for (auto& existing : key->values) {
      if (EqualNoCase(existing.name, value.name)) {
        existing = std::move(value);
        replaced = true;
        break;
      }
    }
    if (!replaced) key->values.push_back(std::move(value));
  }
  return kErrorSuccess;
}

// --- Writing -------------------------------------------------------------------------------

std::string HexBytes(const std::string& data) {
  std::string text;
  char piece[4];
  for (size_t i = 0; i < data.size(); ++i) {
    std::snprintf(piece, sizeof piece, i == 0 ? "%02x" : ",%02x",
                  static_cast<unsigned char>(data[i]));
    text += piece;
  }
  return text;
}

std::string EncodeValue(const RegistryValue& value) {
  std::string line = value.name.empty() ? "@" : posix::QuoteStoreText(value.name);
  line += '=';
  if (value.type == kRegSz && !value.data.empty() &&
      value.data.find('\0') == value.data.size() - 1) {
    return line + "sz:" +
           posix::QuoteStoreText(std::string_view(value.data).substr(0, value.data.size() - 1));
  }
  if (value.type == kRegDword && value.data.size() == 4) {
    uint32_t number = 0;
    for (int i = 3; i >= 0; --i) number = (number << 8) | static_cast<unsigned char>(value.data[i]);
    char digits[16];
    std::snprintf(digits, sizeof digits, "%08" PRIx32, number);
    return line + "dword:" + digits;
  }
  if (value.type == kRegBinary) return line + "hex:" + HexBytes(value.data);
  char type[24];
  std::snprintf(type, sizeof type, "hex(%" PRIx32 "):", value.type);
  return line + type + HexBytes(value.data);
}

uint32_t SaveRegistry(const RegistryImage& image) {
  std::string text =
      "; HKEY_LOCAL_MACHINE of this machine. Keys in creation order, each with its values:\n"
      ";   \"Name\"=sz:\"text\"   \"Name\"=dword:0000002a   \"Name\"=hex:01,ff   "
      "\"Name\"=hex(7):..   @=... (default value)\n"
      "; Lines marked \";?\" could not be read and are kept as they were found.\n";
  for (const auto& key : image.keys()) {
    if (key.path.empty() && key.values.empty() && key.unreadableLines.empty()) continue;
    text += "\n[" + key.path + "]\n";
    for (const auto& value : key.values) text += EncodeValue(value) + "\n";
    for (const auto& line : key.unreadableLines) text += ";? " + line + "\n";
  }
  return posix::ReplaceTextStore(RegistryFile(), text);
}

// Runs change on a fresh image under the store lock and writes the image back when the
// change succeeded and reported that it changed something.
template <typename Change>
long ChangeRegistry(Change change) {
  posix::TextStoreLock lock(RegistryFile());
  if (lock.error() != kErrorSuccess) return static_cast<long>(lock.error());
  RegistryImage image;
  if (uint32_t error = LoadRegistry(&image); error != kErrorSuccess)
    return static_cast<long>(error);
  bool changed = false;
  long result = change(image, changed);
  if (result != 0 || !changed) return result;
  return static_cast<long>(SaveRegistry(image));
}

// The full path of subKey below parent; false when subKey is malformed. A trailing backslash
// is allowed, a leading one is not.
bool JoinKeyPath(const RegistryKey* parent, const char* subKey, std::string* path) {
  std::string_view sub = subKey == nullptr ? std::string_view() : std::string_view(subKey);
  while (!sub.empty() && sub.back() == '\\') sub.remove_suffix(1);
  if (!IsValidKeyPath(sub)) return false;
  if (sub.empty()) {
    *path = parent->path;
  } else {
    *path = parent->path.empty() ? std::string(sub) : parent->path + "\\" + std::string(sub);
  }
  return true;
}

bool Allows(const RegistryKey* key, uint32_t right) { return (key->access & right) == right; }

RegistryValue* FindValue(RegistryKeyRecord* key, const char* valueName) {
  std::string_view name = valueName == nullptr ? std::string_view() : valueName;
  for (auto& value : key->values) {
    if (EqualNoCase(value.name, name)) return &value;
  }
  return nullptr;
}

long CopyName(std::string_view name, char* buffer, uint32_t* length) {
  if (name.size() + 1 > *length) return kErrorMoreData;
  std::memcpy(buffer, name.data(), name.size());
  buffer[name.size()] = '\0';
  *length = static_cast<uint32_t>(name.size());
  return kErrorSuccess;
}

}  // namespace

RegKey LocalMachineKey() {
  static RegistryKey root{"", kKeyAllAccess, true};
  return &root;
}

long RegOpenKeyExA(RegKey parent, const char* subKey, uint32_t /*options*/, uint32_t access,
                   RegKey* result) {
  if (result == nullptr) return kErrorInvalidParameter;
  *result = nullptr;
  if (parent == nullptr) return kErrorInvalidHandle;
  std::string path;
  if (!JoinKeyPath(parent, subKey, &path)) return kErrorBadPathname;
  RegistryImage image;
  if (uint32_t error = LoadRegistry(&image); error != kErrorSuccess)
    return static_cast<long>(error);
  if (image.Find(parent->path) == nullptr) return kErrorKeyDeleted;
  RegistryKeyRecord* key = image.Find(path);
  if (key == nullptr) return image.IsDamagedKey(path) ? kErrorRegistryCorrupt : kErrorFileNotFound;
  *result = new RegistryKey{key->path, access, false};
  return kErrorSuccess;
}

long RegCreateKeyExA(RegKey parent, const char* subKey, RegKey* result) {
  if (result == nullptr) return kErrorInvalidParameter;
  *result = nullptr;
  if (parent == nullptr) return kErrorInvalidHandle;
  std::string path;
  if (!JoinKeyPath(parent, subKey, &path)) return kErrorBadPathname;
  if (path != parent->path && !Allows(parent, kKeyCreateSubKey)) return kErrorAccessDenied;
  std::string stored;
  long error = ChangeRegistry([&](RegistryImage& image, bool& changed) -> long {
    if (image.Find(parent->path) == nullptr) return kErrorKeyDeleted;
    changed = image.Ensure(path, &stored);
    return kErrorSuccess;
  });
  if (error != kErrorSuccess) return error;
  *result = new RegistryKey{stored, kKeyAllAccess, false};
  return kErrorSuccess;
}

long RegCloseKey(RegKey key) {
  if (key == nullptr) return kErrorInvalidHandle;
  if (!key->predefined) delete key;
  return kErrorSuccess;
}

long RegEnumKeyExA(RegKey key, uint32_t index, char* name, uint32_t* nameLength) {
  if (key == nullptr) return kErrorInvalidHandle;
  if (name == nullptr || nameLength == nullptr) return kErrorInvalidParameter;
  if (!Allows(key, kKeyEnumerateSubKeys)) return kErrorAccessDenied;
  RegistryImage image;
  if (uint32_t error = LoadRegistry(&image); error != kErrorSuccess)
    return static_cast<long>(error);
  if (image.Find(key->path) == nullptr) return kErrorKeyDeleted;
  auto names = image.ChildNames(key->path);
  // Windows hands subkeys out sorted by their upper-cased names, whatever order they were
  // made in ('_' after the letters); the text file keeps creation order.
  std::stable_sort(names.begin(), names.end(), [](std::string_view x, std::string_view y) {
    const size_t common = std::min(x.size(), y.size());
    for (size_t i = 0; i < common; ++i) {
      const auto cx = static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(x[i])));
      const auto cy = static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(y[i])));
      if (cx != cy) return cx < cy;
    }
    return x.size() < y.size();
  });
  if (index >= names.size()) return kErrorNoMoreItems;
  return CopyName(names[index], name, nameLength);
}

long RegEnumValueA(RegKey key, uint32_t index, char* name, uint32_t* nameLength) {
  if (key == nullptr) return kErrorInvalidHandle;
  if (name == nullptr || nameLength == nullptr) return kErrorInvalidParameter;
  if (!Allows(key, kKeyQueryValue)) return kErrorAccessDenied;
  RegistryImage image;
  if (uint32_t error = LoadRegistry(&image); error != kErrorSuccess)
    return static_cast<long>(error);
  RegistryKeyRecord* record = image.Find(key->path);
  if (record == nullptr) return kErrorKeyDeleted;
  if (index >= record->values.size()) return kErrorNoMoreItems;
  return CopyName(record->values[index].name, name, nameLength);
}

long RegQueryValueExA(RegKey key, const char* valueName, uint32_t* type, unsigned char* data,
                      uint32_t* dataSize) {
  if (key == nullptr) return kErrorInvalidHandle;
  if (data != nullptr && dataSize == nullptr) return kErrorInvalidParameter;
  if (!Allows(key, kKeyQueryValue)) return kErrorAccessDenied;
  RegistryImage image;
  if (uint32_t error = LoadRegistry(&image); error != kErrorSuccess)
    return static_cast<long>(error);
  RegistryKeyRecord* record = image.Find(key->path);
  if (record == nullptr) return kErrorKeyDeleted;
  RegistryValue* value = FindValue(record, valueName);
  if (value == nullptr) {
    for (const auto& damaged : record->damagedValues) {
      if (EqualNoCase(damaged, valueName == nullptr ? "" : valueName)) return kErrorRegistryCorrupt;
    }
    return kErrorFileNotFound;
  }
  if (type != nullptr) *type = value->type;
  if (dataSize == nullptr) return kErrorSuccess;
  auto size = static_cast<uint32_t>(value->data.size());
  if (data != nullptr) {
    if (*dataSize < size) {
      *dataSize = size;
      return kErrorMoreData;
    }
    std::memcpy(data, value->data.data(), size);
  }
  *dataSize = size;
  return kErrorSuccess;
}

long RegSetValueExA(RegKey key, const char* valueName, uint32_t type, const unsigned char* data,
                    uint32_t dataSize) {
  if (key == nullptr) return kErrorInvalidHandle;
  if (data == nullptr && dataSize != 0) return kErrorInvalidParameter;
  if (!Allows(key, kKeySetValue)) return kErrorAccessDenied;
  RegistryValue value{
      valueName == nullptr ? "" : valueName, type,
      std::string(reinterpret_cast<const char*>(data), data == nullptr ? 0 : dataSize)};
  return ChangeRegistry([&](RegistryImage& image, bool& changed) -> long {
    RegistryKeyRecord* record = image.Find(key->path);
    if (record == nullptr) return kErrorKeyDeleted;
    if (RegistryValue* existing = FindValue(record, valueName)) {
      existing->type = value.type;
      existing->data = value.data;
    } else {
      record->values.push_back(value);
    }
    changed = true;
    return kErrorSuccess;
  });
}

long RegDeleteValueA(RegKey key, const char* valueName) {
  if (key == nullptr) return kErrorInvalidHandle;
  if (!Allows(key, kKeySetValue)) return kErrorAccessDenied;
  return ChangeRegistry([&](RegistryImage& image, bool& changed) -> long {
    RegistryKeyRecord* record = image.Find(key->path);
    if (record == nullptr) return kErrorKeyDeleted;
    RegistryValue* value = FindValue(record, valueName);
    if (value == nullptr) return kErrorFileNotFound;
    record->values.erase(record->values.begin() + (value - record->values.data()));
    changed = true;
    return kErrorSuccess;
  });
}

long RegDeleteTreeA(RegKey parent, const char* subKey) {
  if (parent == nullptr) return kErrorInvalidHandle;
  std::string path;
  if (!JoinKeyPath(parent, subKey, &path)) return kErrorBadPathname;
  return ChangeRegistry([&](RegistryImage& image, bool& changed) -> long {
    if (image.Find(parent->path) == nullptr) return kErrorKeyDeleted;
    if (image.Find(path) == nullptr) return kErrorFileNotFound;
    if (path == parent->path && !path.empty()) {
      // No subkey named: everything below the key goes, the key itself stays.
      RegistryKeyRecord* record = image.Find(path);
      record->values.clear();
      std::string kept = record->path;
      std::vector<std::string> children;
      for (auto child : image.ChildNames(kept))
        children.push_back(kept + "\\" + std::string(child));
      for (const auto& child : children) image.RemoveTree(child);
    } else {
      image.RemoveTree(path);
    }
    changed = true;
    return kErrorSuccess;
  });
}

}  // namespace qz7::platform::backend
