// The machine root's services as the platform layer offers them: the registry (values, errors,
// changes of other processes, damaged lines), the service table, drives, the computer name and
// the code page, and the message modules. What both backends share is the contract suite's.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/codepage.h"
#include "platform/computer.h"
#include "platform/drives.h"
#include "platform/file_system.h"
#include "platform/machine_root.h"
#include "platform/messages.h"
#include "platform/posix/syscalls.h"
#include "platform/posix/text_store.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "platform/win_error.h"
#include "testkit/service_config.h"
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
};

TEST_F(RegistryTest, ValuesSurviveReopenWithTypeAndBytes) {
  const struct {
    const char* name;
    uint32_t type;
    std::vector<unsigned char> data;
  } rows[] = {{"TextWithQuotesAndLineBreak", kRegSz, Bytes(std::string("a \"b\"\r\n\tc\\\0", 12))},
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
}

// A missing key is the contract's row.
TEST_F(RegistryTest, OpenAndAccessErrors) {
  RegCloseKey(Create(kProfileKey));
  const std::pair<const char*, long> rows[] = {
      {"SOFTWARE\\ZAV\\", 0}, {"SOFTWARE\\\\ZAV", 161}, {"SOFTWARE\\A\nB", 161}};
  for (const auto& [path, result] : rows) {
    RegKey opened = nullptr;
    EXPECT_EQ(RegOpenKeyExA(LocalMachineKey(), path, 0, kKeyRead, &opened), result) << path;
    RegCloseKey(opened);
  }
  RegKey key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(LocalMachineKey(), kProfileKey, 0, kKeyRead, &key), 0);
  EXPECT_EQ(Set(key, "X", kRegBinary, {1}), 5);  // opened for reading only
  RegCloseKey(key);
  EXPECT_EQ(Query(kProfileKey, "X").first, 2);
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
    const std::tuple<const char*, const char*, long> rows[] = {
        {kProfileKey, "GOOD", 0},
        {kProfileKey, "BROKEN", kErrorRegistryCorrupt},
        {kProfileKey, "AFTER", 0},
        {kProfileKey, "ABSENT", kErrorFileNotFound},
        {"SOFTWARE\\BAD", "LOST", kErrorRegistryCorrupt},
        {"SOFTWARE\\NONE", "X", kErrorFileNotFound}};
    for (const auto& [path, value, code] : rows)
      EXPECT_EQ(Query(path, value).first, code) << path << " " << value;
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

// A registry file that is there but holds nothing the format can read is a damaged
// registry: every operation reports it, and the report names the file and line. Only a
// missing file is an empty registry.
TEST_F(RegistryTest, DamagedFileIsAFailureNotAnEmptyRegistry) {
  const struct {
    const char* what;
    std::string content;
    const char* reported;  // in the damage report, after the file's path
  } rows[] = {
      {"empty", "", ":1: empty file"},
      {"blank lines only", "\n  \r\n\t\n", ":1: empty file"},
      {"binary", std::string("[SOFTWARE]\n\x8f\x00\x13zz", 16), ":2: a NUL byte"},
      {"random text", "Lorem ipsum dolor\nsit amet=42\n", ":1: value outside of a readable key"},
      {"only broken keys", "[SOFTWARE\\ZAV\n[\\\\]\n", ":2: not a key path"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    WriteHostFile(RegistryFile(), row.content);
    EXPECT_EQ(Query(kProfileKey, "X").first, kErrorRegistryCorrupt);
    RegKey key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(LocalMachineKey(), kProfileKey, &key), kErrorRegistryCorrupt);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(ReadHostFile(RegistryFile()), row.content);  // never written over
    const std::string report = posix::StoreDamageReport();
    EXPECT_NE(report.find(RegistryFile() + row.reported), std::string::npos) << report;
  }
  // Removed, it is a fresh machine's empty registry again, and the report forgets it.
  std::filesystem::remove(RegistryFile());
  EXPECT_EQ(Query(kProfileKey, "X").first, kErrorFileNotFound);
  RegCloseKey(Create(kProfileKey));
  EXPECT_EQ(posix::StoreDamageReport().find(RegistryFile()), std::string::npos);
  // A file with something readable beside its damage is read, as before.
  WriteHostFile(RegistryFile(), "[SOFTWARE\\ZAV]\n\"A\"=dword:1\nnonsense\n");
  EXPECT_EQ(Query("SOFTWARE\\ZAV", "A").first, 0);
  EXPECT_NE(posix::StoreDamageReport().find(RegistryFile() + ":3: value name is not a quoted"),
            std::string::npos);
}

// A change of the file, even one written in place with the same size within the same tick of
// the clock, is seen at the next call.
TEST_F(RegistryTest, FileIsReadAgainWhenItChanged) {
  RegKey key = Create(kProfileKey);
  ASSERT_EQ(Set(key, "V", kRegSz, Bytes(std::string("one\0", 4))), 0);
  ASSERT_EQ(Query(kProfileKey, "V").first, 0);
  for (const char* text : {"two", "six", "ten"}) {
    // Written in place (same inode, same size) right after the last read.
    WriteHostFile(RegistryFile(),
                  std::string("[") + kProfileKey + "]\n\"V\"=sz:\"" + text + "\"\n");
    EXPECT_EQ(Query(kProfileKey, "V").second, Bytes(std::string(text) + '\0')) << text;
  }
  RegCloseKey(key);
}

class ServiceTableTest : public MachineFixture {
 protected:
  void SetUp() override {
    MachineFixture::SetUp();
    manager_ = OpenSCManagerA(nullptr, nullptr, kScManagerAllAccess);
    ASSERT_NE(manager_, nullptr);
  }
  void TearDown() override {
    CloseServiceHandle(manager_);
    MachineFixture::TearDown();
  }
  std::string ServicesFile() const { return root_ + "/services.txt"; }

  bool Create(const char* name, const char* program, const char* account = ".\\qz7admin",
              const char* password = "Secret#1") {
    ScHandle service = CreateServiceA(manager_, name, nullptr, program, account, password);
    return service != nullptr && CloseServiceHandle(service);
  }
  // Opens name afresh and queries it with the two-call protocol: "program|account|display name",
  // or "<none>".
  std::string Query(const char* name) {
    ScHandle service = OpenServiceA(manager_, name, kServiceQueryConfig);
    if (service == nullptr) return "<none>";
    const testkit::ServiceConfigTexts config = testkit::QueryServiceConfigTexts(service);
    EXPECT_EQ(config.failedSteps, "") << name;
    // A call a byte short fails too and reports the same size.
    std::vector<char> buffer(config.sizeNeeded);
    uint32_t smaller = 0;
    EXPECT_FALSE(QueryServiceConfigA(service, reinterpret_cast<QueryServiceConfig*>(buffer.data()),
                                     config.sizeNeeded - 1, &smaller));
    EXPECT_EQ(smaller, config.sizeNeeded);
    CloseServiceHandle(service);
    return config.program + "|" + config.account + "|" + config.displayName;
  }

  ScHandle manager_ = nullptr;
};

TEST_F(ServiceTableTest, RegisteredServiceSurvivesReopenWithoutItsPassword) {
  ASSERT_TRUE(Create("QZ7", "C:\\SQLLIB\\BIN\\QZ7SYSCS.EXE"));
  ASSERT_TRUE(Create("QZ7CTL", "\"C:\\Program Files\\QZ7\\ctl.exe\" -s", nullptr, nullptr));
  EXPECT_EQ(Query("qz7"), "C:\\SQLLIB\\BIN\\QZ7SYSCS.EXE|.\\qz7admin|QZ7");
  EXPECT_EQ(Query("QZ7CTL"), "\"C:\\Program Files\\QZ7\\ctl.exe\" -s|LocalSystem|QZ7CTL");
  EXPECT_EQ(ReadHostFile(ServicesFile()).find("Secret#1"), std::string::npos);
}

// A store's change is durable only once its folder is synced, which the flushes do (RegFlushKey,
// for the registry and the service table beside it, and SyncFileSystem), as Windows writes its
// registry lazily: with a folder that cannot be synced the change itself succeeds but either
// flush fails, as a failed sync fails a committed configuration file; then the flush succeeds.
TEST_F(MachineFixture, FailedFolderSyncFailsTheFlushOfEitherStore) {
  const struct {
    const char* store;
    bool (*change)(const std::string& name);
  } rows[] = {
      {"registry",
       [](const std::string& name) {
         const unsigned char data[] = {1};
         return RegSetValueExA(LocalMachineKey(), name.c_str(), kRegBinary, data, 1) == 0;
       }},
      {"service table",
       [](const std::string& name) { return MakeService(name, "C:\\QZ7\\BIN\\QZ7SYSCS.EXE"); }},
  };
  const struct {
    const char* name;
    bool (*flush)();
  } flushes[] = {{"RegFlushKey", [] { return RegFlushKey(LocalMachineKey()) == 0; }},
                 {"SyncFileSystem", [] { return SyncFileSystem() == 0; }}};
  for (const auto& row : rows) {
    for (const auto& flush : flushes) {
      SCOPED_TRACE(std::string(row.store) + ", " + flush.name);
      {
        posix::ScopedSyscallOverride scope;
        scope.table().fsync = [](int fd) {
          struct stat status;
          if (fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
            errno = EIO;
            return -1;
          }
          return posix::DefaultSyscalls().fsync(fd);
        };
        EXPECT_TRUE(row.change(std::string("QZ7") + flush.name));
        EXPECT_FALSE(flush.flush());
      }
      EXPECT_TRUE(flush.flush());
    }
  }
}

namespace fs = std::filesystem;

class DrivesTest : public MachineFixture {};

TEST_F(DrivesTest, LogicalDriveStringsInLetterOrder) {
  fs::create_directories(root_ + "/drives/e");
  fs::create_directory_symlink(root_ + "/drives/e", root_ + "/drives/d");
  WriteHostFile(root_ + "/drives/f", "a file is no drive");
  fs::create_directories(root_ + "/drives/notes");
  char buffer[32];
  ASSERT_EQ(GetLogicalDriveStringsA(sizeof buffer, buffer), 12u);
  EXPECT_EQ(std::string(buffer, 13), std::string("C:\\\0D:\\\0E:\\\0", 13));
  EXPECT_EQ(GetLogicalDriveStringsA(12, buffer), 13u);  // the size needed, with the last NUL
}

TEST_F(DrivesTest, ComputerNameInUpperCase) {
  WriteHostFile(root_ + "/computer.txt", "  dbHost7 \r\nsecond line\n");
  char name[16];
  uint32_t size = sizeof name;
  ASSERT_TRUE(GetComputerNameA(name, &size));
  EXPECT_STREQ(name, "DBHOST7");
  EXPECT_EQ(size, 7u);
  size = 7;  // no room for the NUL
  EXPECT_EQ(ErrorIf(!GetComputerNameA(name, &size)), kErrorBufferOverflow);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(ActiveCodePage(), 1252u);  // without a codepage.txt
}

class MessageModuleTest : public MachineFixture {
 protected:
  QZ7_MODULE Load(const std::string& text) {
    WriteHostFile(root_ + "/messages.txt", text);
    return LoadMessageModule(root_ + "/messages.txt");
  }
  static std::string String(QZ7_MODULE module, uint32_t id, int bufferMax = 1024) {
    std::vector<char> buffer(static_cast<size_t>(bufferMax) + 1, '#');
    int length = LoadStringA(module, id, buffer.data(), bufferMax);
    EXPECT_EQ(static_cast<size_t>(length), std::strlen(buffer.data())) << "id " << id;
    return buffer.data();
  }
};

TEST_F(MessageModuleTest, ReadsNumberedLinesSkipsTheRestSilentlyAndCutsToTheBuffer) {
  QZ7_MODULE module = nullptr;
  std::string report = StderrOf([&] {
    module = Load(
        "# setup messages\n"
        "3612 ZAV QZ7 Setup\n"
        "\n"
        "3608 Setup ended with code %1.\\nSee the log.\r\n"
        "not a message\n"
        "99999999999 too big\n"
        "42\n");
  });
  ASSERT_NE(module, nullptr);
  const std::pair<uint32_t, const char*> rows[] = {
      {3612, "ZAV QZ7 Setup"}, {3608, "Setup ended with code %1.\nSee the log."}, {42, ""}};
  for (auto [id, text] : rows) EXPECT_EQ(String(module, id), text) << "id " << id;
  EXPECT_EQ(report, "");  // a library never speaks on its caller's terminal
  FreeMessageModule(module);
  SetLastError(0);
  EXPECT_EQ(ErrorIf(!LoadMessageModule(root_ + "/none.txt")), kErrorFileNotFound);

  // LoadStringA cuts to the buffer.
  module = Load("1 abcdefgh\n2 ab\x82\xa0z\n");
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(String(module, 1, 1), "");
  char untouched = '#';
  EXPECT_EQ(LoadStringA(module, 1, &untouched, 0) + LoadStringA(nullptr, 1, &untouched, 0), 0);
  EXPECT_EQ(untouched, '#');
  // A double-byte character is never cut in half.
  SetActiveCodePage(932);
  EXPECT_EQ(String(module, 2, 4), "ab");
  EXPECT_EQ(String(module, 2, 5), "ab\x82\xa0");
  SetActiveCodePage(1252);
  EXPECT_EQ(String(module, 2, 4), "ab\x82");
  FreeMessageModule(module);
}

// The rules both backends share are the process contract's. Here: no line, and a quoted
// program name that ends at its second quote whatever backslash stands before it, as Windows
// reads it (Wine's C runtime reads it by the argument rules, so the contract cannot hold it).
TEST(SplitCommandLineTest, NoLineAndAProgramNameEndingInABackslash) {
  EXPECT_TRUE(SplitCommandLine(nullptr).empty());
  EXPECT_EQ(SplitCommandLine("\"C:\\DIR\\\" a"), (std::vector<std::string>{"C:\\DIR\\", "a"}));
}

}  // namespace
}  // namespace qz7::platform
