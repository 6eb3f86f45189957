// The fault seam: a crash at an operation, a plan from QZ7_FAULT, what a power cut right after a
// sequence of steps loses, the folder syncs, and failures of the system calls below the backend.
// That a planned crash or power cut stops a run at its point, the product's fault loops check at
// every point; their failure loops check the key and code of each failed step.
#include "testkit/fault_injection.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/environment.h"
#include "platform/file_system.h"
#include "platform/posix/syscalls.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "platform/win_error.h"
#include "testkit/tool_runner.h"
#include "tests/platform/machine_fixture.h"

namespace qz7::platform {
namespace {

namespace fs = std::filesystem;

class FaultInjectionTest : public MachineFixture {
 protected:
  void FreshDataFolder() {
    fs::remove_all(OnC("data"));
    fs::create_directories(OnC("data"));
  }
  // Runs steps in a child whose power is cut right after them: only the environment read at
  // the end is numbered. The child's exit code: 87 once the cut came.
  int CutPowerAfter(bool namesKept, const std::function<bool()>& steps) {
    return RunInChild([&] {
      SetFaultPlan({.triggerAt = 1,
                    .crashExitCode = 87,
                    .powerLoss = true,
                    .namesKept = namesKept,
                    .kinds = KindBit(OperationKind::kEnvironment)});
      if (!steps()) return false;
      char value[8];
      static_cast<void>(GetEnvironmentVariableA("PATH", value, sizeof value));
      return false;
    });
  }
};

// The test build of the tool takes its plan from QZ7_FAULT; the shipped tool has no fault
// wrapper and ignores it.
TEST_F(FaultInjectionTest, OnlyTheTestBuildOfTheToolReadsAFaultPlan) {
  for (const char* tool : {QZ7_TEST_CLI_PATH, QZ7_CLI_PATH}) {
    SCOPED_TRACE(tool);
    const testkit::ToolRun run =
        testkit::RunTool(tool, {"--machine", root_, "list", "C:\\QZ7"}, {{"QZ7_FAULT", "1:crash"}});
    const bool testBuild = tool == std::string(QZ7_TEST_CLI_PATH);
    EXPECT_EQ(run.exitCode, testBuild ? 86 : 0) << run.err;
    EXPECT_EQ(testBuild ? run.out : run.LastLine(), testBuild ? "" : "(no instances found)")
        << run.out;
  }
}

// ---- Power cuts ----

// What a step sequence leaves after a power cut right behind it, in a forked child.
TEST_F(FaultInjectionTest, PowerCutKeepsOnlyWhatWasSynced) {
  auto writeFile = [](const char* path, const char* text, bool sync) {
    FileHandle file = OpenFile(path, "wb");
    if (file == nullptr || file->PutText(text) != 0) return false;
    if (sync && file->Sync() != 0) return false;
    return file->Close() == 0;
  };
  const char *kOld = "C:\\DATA\\old.dat", *kNew = "C:\\DATA\\new.dat";  // kOld holds "old"
  const auto folder = [] { return SyncDirectory("C:\\DATA") == 0; };
  const auto copy = [&] { return CopyFileA(kOld, kNew, true); };
  const auto replace = [&] {
    return writeFile(kNew, "replacement", true) && ReplaceFile(kNew, kOld) == 0;
  };
  // The folder DIR (f.dat holding "f", SUB\s.dat holding "s") moves into the folder TO.
  const char *kDir = "C:\\DATA\\DIR", *kMoved = "C:\\DATA\\TO\\DIR";
  const auto moveDir = [&] { return RenameFile(kDir, kMoved) == 0; };
  // A child started under the plan, as a set-up run starts an instance tool's test build,
  // hands what it changed and synced to the cut.
  const auto inTrackedChild = [](const std::function<bool()>& body) {
    const pid_t child = fork();
    if (child == 0) std::exit(TrackForParentFromEnvironment() && body() ? 0 : 1);
    return WaitChild(child) == 0;
  };
  // Renamed aside and emptied, as a move over an existing destination deletes its source.
  const auto renamedAsideAndEmptied = [&] {
    return RenameFile(kDir, "C:\\DATA\\DIR.X") == 0 && RemoveFile("C:\\DATA\\DIR.X\\f.dat") == 0 &&
           RemoveFile("C:\\DATA\\DIR.X\\SUB\\s.dat") == 0 &&
           RemoveDirectory("C:\\DATA\\DIR.X\\SUB") == 0 && RemoveDirectory("C:\\DATA\\DIR.X") == 0;
  };
  // SUB emptied, synced and removed, its parent DIR not synced after.
  const auto removeSub = [&] {
    return RemoveFile("C:\\DATA\\DIR\\SUB\\s.dat") == 0 &&
           SyncDirectory("C:\\DATA\\DIR\\SUB") == 0 && RemoveDirectory("C:\\DATA\\DIR\\SUB") == 0;
  };
  // What two files hold after the cut (old.dat and new.dat unless the row names others), as
  // "FIRST,SECOND" ("-": missing), for the cut that undoes every unsynced change, then after
  // "|" for the one that keeps every name change but loses the data written since the last sync.
  // Only losses are rows here: what a sync keeps, the power-cut loops of the product's suites
  // rely on, and they fail when the cut loses it.
  const struct {
    const char* name;
    std::function<bool()> steps;
    const char* expected;
    const char *first = "old.dat", *second = "new.dat";
  } rows[] = {
      // clang-format off
      {"UnsyncedOverwrite", [&] { return writeFile(kOld, "changed", false); }, "old,-|old,-"},
      {"UnsyncedNewFile", [&] { return writeFile(kNew, "n", false); }, "old,-|old,"},
      {"NewFileWithoutFolderSync", [&] { return writeFile(kNew, "n", true); }, "old,-|old,n"},
      {"RenameWithoutFolderSync", [&] { return RenameFile(kOld, kNew) == 0; }, "old,-|-,old"},
      {"ReplaceWithoutFolderSync", replace, "old,-|replacement,-"},
      {"RemoveWithoutFolderSync", [&] { return RemoveFile(kOld) == 0; }, "old,-|-,-"},
      {"UnsyncedCopy", copy, "old,-|old,"},
      {"FolderRenameWithOnlyTheOldParentSynced", [&] { return moveDir() && folder(); }, "f,-|-,f",
       "DIR/f.dat", "TO/DIR/f.dat"},
      {"FolderRenamedAsideAndEmptied", renamedAsideAndEmptied, "f,s|-,-", "DIR/f.dat",
       "DIR/SUB/s.dat"},
      {"FolderRemovedWithoutParentSync", removeSub, "f,<folder>|f,-",
       "DIR/f.dat", "DIR/SUB"},
      {"ChildsNewFileWithoutFolderSync",
       [&] { return inTrackedChild([&] { return writeFile(kNew, "n", true); }); }, "old,-|old,n"},
      {"ChildsUnsyncedOverwrite",
       [&] { return inTrackedChild([&] { return writeFile(kOld, "changed", false); }); },
       "old,-|old,-"},
      // clang-format on
  };
  auto contents = [&](const char* name) -> std::string {
    std::string host = OnC(std::string("data/") + name);
    if (fs::is_directory(host)) return "<folder>";
    return fs::exists(host) ? ReadHostFile(host) : "-";
  };
  for (const auto& row : rows) {
    std::string seen;
    for (bool namesKept : {false, true}) {
      FreshDataFolder();
      WriteHostFile(OnC("data/old.dat"), "old");
      WriteHostFile(OnC("data/DIR/f.dat"), "f");
      WriteHostFile(OnC("data/DIR/SUB/s.dat"), "s");
      fs::create_directories(OnC("data/TO"));
      EXPECT_EQ(CutPowerAfter(namesKept, row.steps), 87) << row.name << " " << namesKept;
      seen += (namesKept ? "|" : "") + contents(row.first) + "," + contents(row.second);
    }
    EXPECT_EQ(seen, row.expected) << row.name;
  }
  // A folder made without a sync of its parent disappears with what was written in it.
  FreshDataFolder();
  EXPECT_EQ(RunInChild([&] {
              SetFaultPlan({.triggerAt = 4, .crashExitCode = 87, .powerLoss = true});
              static_cast<void>(MakeDirectory("C:\\DATA\\SUB"));
              writeFile("C:\\DATA\\SUB\\f.dat", "f", true);  // open, write, sync, close
              return false;
            }),
            87);
  EXPECT_TRUE(fs::exists(OnC("data")));
  EXPECT_FALSE(fs::exists(OnC("data/SUB")));
}

// The registry and the service table are durable at their flush (RegFlushKey, SyncFileSystem):
// a power cut that undoes what was not synced gives them back as they were at the last one;
// one that keeps every name keeps their last version, whose data was synced before its rename.
TEST_F(FaultInjectionTest, PowerCutGivesTheStoresBackAsOfTheirLastFlush) {
  const auto setValue = [](const char* text) {
    RegKey key = nullptr;
    if (RegCreateKeyExA(LocalMachineKey(), "SOFTWARE\\CUT", &key) != 0) return false;
    const long error =
        RegSetValueExA(key, "V", kRegSz, reinterpret_cast<const unsigned char*>(text),
                       static_cast<uint32_t>(std::strlen(text) + 1));
    RegCloseKey(key);
    return error == 0;
  };
  const auto makeService = [] { return MakeService("CUT", "C:\\BIN\\CUT.EXE"); };
  const auto flush = [] { return RegFlushKey(LocalMachineKey()) == 0; };
  // The value V and whether the service is there after the cut, as "V,service" ("-": no value;
  // "yes" or "no"), for the cut that undoes every unsynced change, then after "|" for the one
  // that keeps every name change.
  const struct {
    const char* name;
    std::function<bool()> steps;
    const char* expected;
  } rows[] = {
      {"ValueChangedAfterTheFlush", [&] { return setValue("1") && flush() && setValue("2"); },
       "1,no|2,no"},
      {"ServiceNotFlushed", makeService, "-,no|-,yes"},
  };
  const auto state = [] {
    char value[16] = "-";
    uint32_t size = sizeof value - 1;
    RegKey key = nullptr;
    if (RegOpenKeyExA(LocalMachineKey(), "SOFTWARE\\CUT", 0, kKeyRead, &key) == 0 &&
        RegQueryValueExA(key, "V", nullptr, reinterpret_cast<unsigned char*>(value), &size) != 0) {
      std::strcpy(value, "-");
    }
    if (key != nullptr) RegCloseKey(key);
    ScHandle manager = OpenSCManagerA(nullptr, nullptr, kScManagerConnect);
    ScHandle service = OpenServiceA(manager, "CUT", kServiceQueryConfig);
    if (service != nullptr) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return value + std::string(service != nullptr ? ",yes" : ",no");
  };
  for (const auto& row : rows) {
    std::string seen;
    for (bool namesKept : {false, true}) {
      fs::remove(root_ + "/registry.txt");
      fs::remove(root_ + "/services.txt");
      ASSERT_EQ(state(), "-,no") << row.name;
      EXPECT_EQ(CutPowerAfter(namesKept, row.steps), 87) << row.name << " " << namesKept;
      seen += (namesKept ? "|" : "") + state();
    }
    EXPECT_EQ(seen, row.expected) << row.name;
  }
}

// ---- The syscall table ----

TEST_F(FaultInjectionTest, SyscallFailuresArriveAsWindowsErrors) {
  WriteHostFile(OnC("source.dat"), "abc");
  {
    posix::ScopedSyscallOverride scope;
    scope.table().write = [](int, const void*, size_t) -> ssize_t { return errno = ENOSPC, -1; };
    scope.table().copyFileRange = [](int, int, size_t) -> ssize_t { return errno = ENOSPC, -1; };
    FileHandle file = OpenFile("C:\\full.dat", "wb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Write("abc", 3), 3u);  // buffered: the disk is not touched yet
    EXPECT_EQ(ErrorIf(file->Close() == -1), kErrorDiskFull);
    EXPECT_EQ(ReadHostFile(OnC("full.dat")), "");  // nothing half-written
    EXPECT_EQ(ErrorIf(!CopyFileA("C:\\source.dat", "C:\\copy.dat", false)), kErrorDiskFull);
    EXPECT_FALSE(fs::exists(OnC("copy.dat")));  // no half-written copy
  }
  {
    posix::ScopedSyscallOverride scope;
    scope.table().fsync = [](int) { return errno = EIO, -1; };
    FileHandle file = OpenFile("C:\\synced.dat", "wb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Write("abc", 3), 3u);
    EXPECT_EQ(file->Sync(), -1);
    EXPECT_TRUE(file->HasError());
    EXPECT_EQ(ReadHostFile(OnC("synced.dat")), "abc");  // flushed before the sync failed
    EXPECT_EQ(SyncDirectory("C:\\"), -1);
  }
}

}  // namespace
}  // namespace qz7::platform
