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
// line is broken; each such line is named as file:line in the machine root's damage report
// (posix::StoreDamageReport). The next rewrite keeps the line's text as a comment (";? ...") in its
// key, read back as the same damage, so a hand-made mistake is never silently lost. A file
// that is there but holds nothing this format can read (empty, a NUL byte, or not one readable
// key or value among lines that are not comments) is a damaged registry, not an empty one:
// every operation then fails with kErrorRegistryCorrupt. Only a missing file is an empty
// registry.
//
// The file is read and parsed only when it changed since this process last read or wrote it
// (its stamp: identity, size and times; text_store.h), so a change made by another process is
// seen at the next call and an unchanged file costs one status query. Every change takes the
// current image under the store lock, changes it and replaces the whole file once, durably.
// A handle names its key by path and keeps the access it was opened with.
#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
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

std::string FoldedKey(std::string_view path) {
  std::string folded(path);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

// Windows hands subkeys out sorted by their upper-cased names, whatever order they were made
// in ('_' after the letters); the text file keeps creation order.
bool SubkeyOrder(std::string_view x, std::string_view y) {
  const size_t common = std::min(x.size(), y.size());
  for (size_t i = 0; i < common; ++i) {
    const auto cx = static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(x[i])));
    const auto cy = static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(y[i])));
    if (cx != cy) return cx < cy;
  }
  return x.size() < y.size();
}

// The whole registry in memory. keys[0] is HKEY_LOCAL_MACHINE itself. Keys are found through
// an index by case-folded path; the sorted subkey names of a key are worked out once per
// image state and kept until the next change of the key tree.
class RegistryImage {
 public:
  RegistryImage() { Append({"", {}, {}, {}}); }
  RegistryImage(const RegistryImage& other)
      : keys_(other.keys_), index_(other.index_), damagedKeys_(other.damagedKeys_) {}

  RegistryKeyRecord* Find(std::string_view path) {
    auto found = index_.find(FoldedKey(path));
    return found == index_.end() ? nullptr : &keys_[found->second];
  }
  const RegistryKeyRecord* Find(std::string_view path) const {
    auto found = index_.find(FoldedKey(path));
    return found == index_.end() ? nullptr : &keys_[found->second];
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
    Append({parentStored.empty() ? name : parentStored + "\\" + name, {}, {}, {}});
    *stored = keys_.back().path;
    return true;
  }

  // The names of the key's subkeys in the order RegEnumKeyExA hands them out.
  const std::vector<std::string>& SortedChildNames(std::string_view path) const {
    std::lock_guard<std::mutex> guard(childrenMutex_);
    if (!childrenValid_) {
      children_.clear();
      for (size_t i = 1; i < keys_.size(); ++i) {
        children_[FoldedKey(ParentOf(keys_[i].path))].emplace_back(LastNameOf(keys_[i].path));
      }
      for (auto& [parent, names] : children_) {
        std::stable_sort(names.begin(), names.end(), SubkeyOrder);
      }
      childrenValid_ = true;
    }
    static const std::vector<std::string> kNone;
    auto found = children_.find(FoldedKey(path));
    return found == children_.end() ? kNone : found->second;
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
    keys_.clear();
    index_.clear();
    for (auto& key : kept) Append(std::move(key));
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
  void Append(RegistryKeyRecord key) {
    index_[FoldedKey(key.path)] = keys_.size();
    keys_.push_back(std::move(key));
    childrenValid_ = false;
  }

  std::vector<RegistryKeyRecord> keys_;
  std::unordered_map<std::string, size_t> index_;
  std::vector<std::string> damagedKeys_;
  // Worked out on first use by readers that share the image; changes (which own it) only
  // mark it stale.
  mutable std::mutex childrenMutex_;
  mutable bool childrenValid_ = false;
  mutable std::unordered_map<std::string, std::vector<std::string>> children_;
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

// Builds the image from the content of the file at hostPath. Lines that cannot be read are
// kept and named in the damage report; a file with nothing readable in it is a damaged
// registry (kErrorRegistryCorrupt).
uint32_t LoadRegistry(const std::string& hostPath, const std::string& content,
                      RegistryImage* image) {
  std::vector<std::string> damage;
  auto report = [&](int number, std::string_view reason) {
    damage.push_back(hostPath + ":" + std::to_string(number) + ": " + std::string(reason));
  };
  int readable = 0;
  bool anyText = false;
  std::string current;  // stored path of the key being read
  bool inKey = false;
  // An unreadable line is kept (written back as a ";?" comment) and marks what it names as
  // damaged: the key of a broken header, the value of a broken value line.
  auto skip = [&](int number, std::string_view text, std::string_view reason) {
    report(number, reason);
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
  if (uint32_t refused = posix::RefuseBinaryStore(hostPath, content); refused != 0) return refused;
  for (const auto& line : posix::SplitStoreLines(content)) {
    std::string_view text = posix::TrimBlanks(line.text);
    if (!text.empty()) anyText = true;
    if (text.size() > 2 && text.substr(0, 2) == ";?") {
      // Unreadable when the file was last rewritten.
      skip(line.number, posix::TrimBlanks(text.substr(2)), "kept unreadable line");
      continue;
    }
    if (text.empty() || text.front() == ';' || text.front() == '#') continue;
    if (text.front() == '[') {
      std::string_view path = text.substr(1, text.size() - 2);
      if (text.back() != ']') {
        skip(line.number, text, "']' expected at the end of a key line");
        continue;
      }
      if (!IsValidKeyPath(path)) {
        skip(line.number, text, "not a key path");
        continue;
      }
      image->Ensure(path, &current);
      inKey = true;
      ++readable;
      continue;
    }
    RegistryValue value;
    if (!inKey) {
      skip(line.number, text, "value outside of a readable key");
      continue;
    }
    if (std::string reason = ParseValueLine(text, &value); !reason.empty()) {
      skip(line.number, text, reason);
      continue;
    }
    ++readable;
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
  static constexpr posix::StoreDamageTexts kTexts = {
      .emptyFile = "empty file: a registry file is never written empty",
      .nothingReadable = "not one key or value could be read"};
  return posix::FinishStoreLoad(hostPath, kTexts, anyText, readable, std::move(damage));
}

posix::StoreCache<RegistryImage>& Cache() {
  static posix::StoreCache<RegistryImage> cache(LoadRegistry);
  return cache;
}

// The registry as its file holds it now. 0 or the Windows error.
uint32_t CurrentRegistry(std::shared_ptr<const RegistryImage>* image) {
  return Cache().Current(RegistryFile(), image);
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

// Writes the image over the registry file; written receives the new file's stamp, replaced is
// the stamp of the file it replaces (ReplaceTextStore).
uint32_t SaveRegistry(const RegistryImage& image, posix::StoreStamp* written,
                      const posix::StoreStamp* replaced) {
  std::string text =
      "; HKEY_LOCAL_MACHINE of this machine. Keys in creation order, each with its values:\n"
      ";   \"Name\"=sz:\"text\"   \"Name\"=dword:0000002a   \"Name\"=hex:01,ff   "
      "\"Name\"=hex(7):..   @=... (default value)\n"
      "; Lines marked \";?\" could not be read and are kept as they were found.\n";
  for (const auto& key : image.keys()) {
    if (key.path.empty() && key.values.empty() && key.unreadableLines.empty()) continue;
    text += "\n[";
    text += key.path;
    text += "]\n";
    for (const auto& value : key.values) {
      text += EncodeValue(value);
      text += '\n';
    }
    for (const auto& line : key.unreadableLines) {
      text += ";? ";
      text += line;
      text += '\n';
    }
  }
  // Made durable by RegFlushKey (or SyncFileSystem), as Windows writes its hives lazily.
  return posix::ReplaceTextStore(RegistryFile(), text, written, replaced);
}

// Runs change on the current image under the store lock and writes the image back when the
// change succeeded and reported that it changed something.
template <typename Change>
long ChangeRegistry(Change change) {
  const std::string file = RegistryFile();
  posix::TextStoreLock lock(file);
  if (lock.error() != kErrorSuccess) return static_cast<long>(lock.error());
  std::shared_ptr<RegistryImage> image;
  posix::StoreStamp stamp;
  if (uint32_t error = Cache().Take(file, &image, &stamp); error != kErrorSuccess)
    return static_cast<long>(error);
  bool changed = false;
  long result = change(*image, changed);
  if (result != 0 || !changed) {
    // Every change checks before it changes anything: the image is still the file's.
    Cache().Put(file, std::move(image), stamp, /*written=*/false);
    return result;
  }
  posix::StoreStamp written;
  if (uint32_t error = SaveRegistry(*image, &written, &stamp); error != kErrorSuccess) {
    // Not kept: the next call reads whatever the file holds now.
    return static_cast<long>(error);
  }
  Cache().Put(file, std::move(image), written, /*written=*/true);
  return kErrorSuccess;
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
const RegistryValue* FindValue(const RegistryKeyRecord* key, const char* valueName) {
  return FindValue(const_cast<RegistryKeyRecord*>(key), valueName);
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
  std::shared_ptr<const RegistryImage> image;
  if (uint32_t error = CurrentRegistry(&image); error != kErrorSuccess)
    return static_cast<long>(error);
  if (image->Find(parent->path) == nullptr) return kErrorKeyDeleted;
  const RegistryKeyRecord* key = image->Find(path);
  if (key == nullptr) return image->IsDamagedKey(path) ? kErrorRegistryCorrupt : kErrorFileNotFound;
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
  std::shared_ptr<const RegistryImage> image;
  if (uint32_t error = CurrentRegistry(&image); error != kErrorSuccess)
    return static_cast<long>(error);
  if (image->Find(key->path) == nullptr) return kErrorKeyDeleted;
  const std::vector<std::string>& names = image->SortedChildNames(key->path);
  if (index >= names.size()) return kErrorNoMoreItems;
  return CopyName(names[index], name, nameLength);
}

long RegEnumValueA(RegKey key, uint32_t index, char* name, uint32_t* nameLength) {
  if (key == nullptr) return kErrorInvalidHandle;
  if (name == nullptr || nameLength == nullptr) return kErrorInvalidParameter;
  if (!Allows(key, kKeyQueryValue)) return kErrorAccessDenied;
  std::shared_ptr<const RegistryImage> image;
  if (uint32_t error = CurrentRegistry(&image); error != kErrorSuccess)
    return static_cast<long>(error);
  const RegistryKeyRecord* record = image->Find(key->path);
  if (record == nullptr) return kErrorKeyDeleted;
  if (index >= record->values.size()) return kErrorNoMoreItems;
  return CopyName(record->values[index].name, name, nameLength);
}

long RegQueryValueExA(RegKey key, const char* valueName, uint32_t* type, unsigned char* data,
                      uint32_t* dataSize) {
  if (key == nullptr) return kErrorInvalidHandle;
  if (data != nullptr && dataSize == nullptr) return kErrorInvalidParameter;
  if (!Allows(key, kKeyQueryValue)) return kErrorAccessDenied;
  std::shared_ptr<const RegistryImage> image;
  if (uint32_t error = CurrentRegistry(&image); error != kErrorSuccess)
    return static_cast<long>(error);
  const RegistryKeyRecord* record = image->Find(key->path);
  if (record == nullptr) return kErrorKeyDeleted;
  const RegistryValue* value = FindValue(record, valueName);
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
      for (const auto& child : image.SortedChildNames(kept))
        children.push_back(kept + "\\" + child);
      for (const auto& child : children) image.RemoveTree(child);
    } else {
      image.RemoveTree(path);
    }
    changed = true;
    return kErrorSuccess;
  });
}

long RegFlushKey(RegKey key) {
  if (key == nullptr) return kErrorInvalidHandle;
  std::shared_ptr<const RegistryImage> image;
  if (uint32_t error = CurrentRegistry(&image); error != kErrorSuccess)
    return static_cast<long>(error);
  if (image->Find(key->path) == nullptr) return kErrorKeyDeleted;
  // Every change has put its registry.txt in place with its data synced (ChangeRegistry); the
  // renames become durable here, with those of the service table in the same folder.
  return static_cast<long>(posix::SyncStoreFolder(RegistryFile()));
}

}  // namespace qz7::platform::backend
