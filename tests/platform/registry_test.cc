#include "platform/registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "platform/win_error.h"
#include "tests/platform/machine_fixture.h"

namespace qz7::platform {
namespace {

constexpr const char* kProfileKey = "SOFTWARE\\ZAV\\QZ7\\PROFILES\\QZ7";

std::vector<unsigned char> Bytes(const std::string& text) {
  return std::vector<unsigned char>(text.begin(), text.end());
}

class RegistryTest : public MachineFixture {
 protected:
  std::string RegistryFile() const { return root_ + "/registry.txt"; }

  RegKey Create(const char* path) {
    RegKey key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(LocalMachineKey(), path, &key), 0) << path;
    return key;
  }
  long Set(RegKey key, const char* name, uint32_t type, const std::vector<unsigned char>& data) {
    return RegSetValueExA(key, name, type, data.data(), static_cast<uint32_t>(data.size()));
  }
  // The value's type and bytes through a fresh handle, or the error code as type.
  std::pair<long, std::vector<unsigned char>> Query(const char* path, const char* name,
                                                    uint32_t* type = nullptr) {
    RegKey key = nullptr;
    long error = RegOpenKeyExA(LocalMachineKey(), path, 0, kKeyRead, &key);
    if (error != 0) return {error, {}};
    uint32_t size = 0;
    error = RegQueryValueExA(key, name, type, nullptr, &size);
    std::vector<unsigned char> data(size);
    if (error == 0) error = RegQueryValueExA(key, name, type, data.data(), &size);
    RegCloseKey(key);
    return {error, data};
  }
  std::vector<std::string> SubKeys(const char* path) {
    std::vector<std::string> names;
    RegKey key = nullptr;
    if (RegOpenKeyExA(LocalMachineKey(), path, 0, kKeyRead, &key) != 0) return names;
    char name[256];
    uint32_t length = sizeof name;
    long error = 0;
    for (uint32_t i = 0; (error = RegEnumKeyExA(key, i, name, &length)) == 0; ++i) {
      names.emplace_back(name, length);
      length = sizeof name;
    }
    EXPECT_EQ(error, 259);  // no more items
    RegCloseKey(key);
    return names;
  }
};

TEST_F(RegistryTest, ValuesSurviveReopenWithTypeAndBytes) {
  struct Row {
    const char* name;
    uint32_t type;
    std::vector<unsigned char> data;
  };
  const Row rows[] = {
      {"TextWithQuotesAndLineBreak", kRegSz, Bytes(std::string("a \"b\"\r\n\tc\\\0", 12))},
      {"TextWithHighBytes", kRegSz, Bytes(std::string("\x82\xa0\xe9\0", 4))},
      {"Dword", kRegDword, {0x2a, 0x00, 0x00, 0x80}},
      {"EmptyBinary", kRegBinary, {}},
      {"MultiText", 7, Bytes(std::string("a\0b\0\0", 5))},
      {"", kRegSz, Bytes(std::string("default\0", 8))}};
  RegKey key = Create(kProfileKey);
  for (const auto& row : rows) ASSERT_EQ(Set(key, row.name, row.type, row.data), 0) << row.name;
  ASSERT_EQ(RegCloseKey(key), 0);
  for (const auto& row : rows) {
    uint32_t type = 0;
    auto [error, data] = Query("software\\zav\\qz7\\profiles\\qz7", row.name, &type);
    EXPECT_EQ(std::tuple(error, type, data), std::tuple(0L, row.type, row.data)) << row.name;
  }
  // Query above asks for the size, then passes exactly that; one byte too few copies nothing.
  ASSERT_EQ(RegOpenKeyExA(LocalMachineKey(), kProfileKey, 0, kKeyRead, &key), 0);
  unsigned char buffer[4] = {};
  uint32_t size = 3;
  EXPECT_EQ(RegQueryValueExA(key, "dword", nullptr, buffer, &size), 234);
  EXPECT_EQ(size, 4u);
  RegCloseKey(key);
}

TEST_F(RegistryTest, KeysEnumerateInCreationOrderWithoutRegardToCase) {
  for (const char* name : {"QZ7", "ABC", "qz7\\NODES\\0", "Zeta"}) {
    RegKey key = Create((std::string("SOFTWARE\\ZAV\\QZ7\\PROFILES\\") + name).c_str());
    RegCloseKey(key);
  }
  EXPECT_EQ(SubKeys("software\\ZAV\\qz7\\profiles"),
            (std::vector<std::string>{"QZ7", "ABC", "Zeta"}));
  EXPECT_EQ(SubKeys(kProfileKey), (std::vector<std::string>{"NODES"}));

  RegKey key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(LocalMachineKey(), "SOFTWARE\\ZAV\\QZ7\\PROFILES", 0, kKeyRead, &key), 0);
  char small[4];
  uint32_t length = sizeof small;  // "QZ7" and its NUL fit exactly, "Zeta" does not
  EXPECT_EQ(RegEnumKeyExA(key, 0, small, &length), 0);
  length = sizeof small;
  EXPECT_EQ(RegEnumKeyExA(key, 2, small, &length), 234);
  RegCloseKey(key);
}

TEST_F(RegistryTest, OpenAndAccessErrors) {
  RegKey key = Create(kProfileKey);
  RegCloseKey(key);
  struct Row {
    const char* name;
    const char* path;
    long result;
  };
  const Row rows[] = {{"MissingKey", "SOFTWARE\\ZAV\\QZ7\\PROFILES\\NONE", 2},
                      {"TrailingBackslash", "SOFTWARE\\ZAV\\", 0},
                      {"EmptyName", "SOFTWARE\\\\ZAV", 161},
                      {"ControlCharacter", "SOFTWARE\\A\nB", 161}};
  for (const auto& row : rows) {
    RegKey opened = nullptr;
    EXPECT_EQ(RegOpenKeyExA(LocalMachineKey(), row.path, 0, kKeyRead, &opened), row.result)
        << row.name;
    RegCloseKey(opened);
  }
  ASSERT_EQ(RegOpenKeyExA(LocalMachineKey(), kProfileKey, 0, kKeyRead, &key), 0);
  EXPECT_EQ(Set(key, "X", kRegBinary, {1}), 5);  // opened for reading only
  RegCloseKey(key);
  EXPECT_EQ(Query(kProfileKey, "X").first, 2);
}

TEST_F(RegistryTest, DeleteTreeAndValue) {
  for (const char* path : {"SOFTWARE\\A\\B\\C", "SOFTWARE\\A\\B2", "SOFTWARE\\AB"}) {
    RegKey key = Create(path);
    ASSERT_EQ(Set(key, "V", kRegBinary, {1}), 0);
    RegCloseKey(key);
  }
  RegKey software = nullptr;
  ASSERT_EQ(RegOpenKeyExA(LocalMachineKey(), "SOFTWARE", 0, kKeyAllAccess, &software), 0);
  EXPECT_EQ(RegDeleteTreeA(software, "a\\b"), 0);
  EXPECT_EQ(RegDeleteTreeA(software, "A\\B"), 2);
  EXPECT_EQ(SubKeys("SOFTWARE\\A"), (std::vector<std::string>{"B2"}));
  EXPECT_EQ(SubKeys("SOFTWARE"), (std::vector<std::string>{"A", "AB"}));  // "AB" is no child of A

  RegKey ab = nullptr;
  ASSERT_EQ(RegOpenKeyExA(software, "AB", 0, kKeyAllAccess, &ab), 0);
  EXPECT_EQ(RegDeleteValueA(ab, "v"), 0);
  EXPECT_EQ(RegDeleteValueA(ab, "v"), 2);
  ASSERT_EQ(RegDeleteTreeA(software, "AB"), 0);
  // A handle whose key is gone reports that, it does not crash or resurrect the key.
  EXPECT_EQ(Set(ab, "W", kRegBinary, {1}), 1018);
  EXPECT_EQ(SubKeys("SOFTWARE"), (std::vector<std::string>{"A"}));
  RegCloseKey(ab);
  RegCloseKey(software);
}

// Two processes write into a new subkey while this one holds a handle opened before.
TEST_F(RegistryTest, ChangesOfOtherProcessesAreSeenAndNotLost) {
  constexpr const char* kNodes = "SOFTWARE\\ZAV\\QZ7\\PROFILES\\QZ7\\NODES";
  constexpr int kPerProcess = 25;
  auto name = [](int c, int i) { return "P" + std::to_string(c) + "_" + std::to_string(i); };
  RegKey key = Create(kProfileKey);
  ASSERT_EQ(Set(key, "BEFORE", kRegBinary, {1}), 0);
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = StartChild([&, c] {
      RegKey own = nullptr;
      if (RegCreateKeyExA(LocalMachineKey(), kNodes, &own) != 0) return false;
      for (int i = 0; i < kPerProcess; ++i) {
        unsigned char byte = static_cast<unsigned char>(i);
        if (RegSetValueExA(own, name(c, i).c_str(), kRegBinary, &byte, 1) != 0) return false;
      }
      return true;
    });
  }
  for (pid_t child : children) EXPECT_EQ(WaitChild(child), 0);
  char subkey[32];
  uint32_t length = sizeof subkey;
  EXPECT_EQ(RegEnumKeyExA(key, 0, subkey, &length), 0);
  EXPECT_STREQ(subkey, "NODES");
  ASSERT_EQ(Set(key, "AFTER", kRegBinary, {2}), 0);  // through the old handle
  RegCloseKey(key);
  EXPECT_EQ(Query(kProfileKey, "BEFORE").second, (std::vector<unsigned char>{1}));
  EXPECT_EQ(Query(kProfileKey, "AFTER").second, (std::vector<unsigned char>{2}));
  for (int c = 0; c < 2; ++c) {
    for (int i = 0; i < kPerProcess; ++i) {
      EXPECT_EQ(Query(kNodes, name(c, i).c_str()).second,
                (std::vector<unsigned char>{static_cast<unsigned char>(i)}))
          << name(c, i);
    }
  }
}

TEST_F(RegistryTest, DamagedLinesAreReportedThroughResultsSkippedAndKept) {
  WriteHostFile(RegistryFile(),
                "; written by hand\n"
                "[SOFTWARE\\ZAV\\QZ7\\PROFILES\\QZ7]\n"
                "\"GOOD\"=dword:0000002a\n"
                "\"BROKEN\"=dword:xyz\n"
                "\"NOQUOTE=sz:\"x\"\n"
                "[SOFTWARE\\BAD\n"
                "\"LOST\"=hex:01\n"
                "[SOFTWARE\\ZAV\\QZ7\\PROFILES\\QZ7]\r\n"
                "\"AFTER\"=sz:\"still read\"\r\n");
  // Nothing reaches the terminal; the damage shows in the results, the rest is read.
  auto expectResults = [&](const char* when) {
    SCOPED_TRACE(when);
    const struct {
      const char* key;
      const char* value;
      long code;
    } rows[] = {{kProfileKey, "GOOD", 0},
                {kProfileKey, "BROKEN", kErrorRegistryCorrupt},
                {kProfileKey, "AFTER", 0},
                {kProfileKey, "ABSENT", kErrorFileNotFound},
                {"SOFTWARE\\BAD", "LOST", kErrorRegistryCorrupt},
                {"SOFTWARE\\NONE", "X", kErrorFileNotFound}};
    for (const auto& row : rows) {
      EXPECT_EQ(Query(row.key, row.value).first, row.code) << row.key << " " << row.value;
    }
  };
  EXPECT_EQ(StderrOf([&] { expectResults("as written by hand"); }), "");
  EXPECT_EQ(Query(kProfileKey, "GOOD").second, (std::vector<unsigned char>{0x2a, 0, 0, 0}));
  EXPECT_EQ(Query(kProfileKey, "AFTER").second, Bytes(std::string("still read\0", 11)));

  // A change rewrites the file; the unreadable lines stay in it as comments, read back as the
  // same damage.
  RegKey key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(LocalMachineKey(), kProfileKey, 0, kKeyAllAccess, &key), 0);
  ASSERT_EQ(Set(key, "NEW", kRegBinary, {7}), 0);
  RegCloseKey(key);
  std::string rewritten = ReadHostFile(RegistryFile());
  EXPECT_NE(rewritten.find("\"BROKEN\"=dword:xyz"), std::string::npos) << rewritten;
  EXPECT_NE(rewritten.find("[SOFTWARE\\BAD"), std::string::npos) << rewritten;
  EXPECT_EQ(StderrOf([&] { expectResults("after a rewrite"); }), "");
}

}  // namespace
}  // namespace qz7::platform
