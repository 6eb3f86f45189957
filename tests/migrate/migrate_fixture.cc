#include "tests/migrate/migrate_fixture.h"

#include <algorithm>
#include <filesystem>

#include "migrate/directory_entry_conversion.h"
#include "migrate/work_buffer.h"
#include "platform/file_system.h"
#include "testkit/migration_message_file.h"

namespace qz7::migrate::testing {

Texts ErrorRecordsOf(const Bytes& errorFileBytes) {
  std::string text(errorFileBytes.begin(), errorFileBytes.end());
  for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
  Texts records;
  size_t start = 0;
  for (size_t end; (end = text.find("\n\n", start)) != std::string::npos; start = end + 2) {
    std::string record = text.substr(start, end - start);
    std::erase(record, '\n');
    records.push_back(record);
  }
  if (start < text.size()) records.push_back(text.substr(start) + "<unterminated>");
  return records;
}

void StepWalk::Check(MigrationResult result, const Texts& records) {
  if (result == 0) return;
  const auto endsAs = [&](size_t index) {
    if (index >= steps_.size()) return false;
    const FailingStep& step = steps_[index];
    const Texts want =
        step.key == nullptr
            ? Texts()
            : Texts{std::string(step.key) + ": " + step.object + MigrationFragmentOf(step.code)};
    if (step.runCode != 0 && !want.empty() && !records.empty()) {
      return result == step.runCode && records.front() == want.front();
    }
    return result == (step.runCode != 0 ? step.runCode : step.code) && records == want;
  };
  if (endsAs(reached_)) {
    ++reached_;
    return;
  }
  if (reached_ > 0 && endsAs(reached_ - 1)) return;
  const FailingStep& due = steps_[std::min(reached_, steps_.size() - 1)];
  ADD_FAILURE() << "the run ended with " << result << " and " << ::testing::PrintToString(records)
                << " where the step \"" << due.operation << "\" ("
                << (due.key ? due.key : "no record") << ", " << due.code
                << ") or the one before it was due";
}

::testing::AssertionResult StepWalk::Done() const {
  if (reached_ == steps_.size()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "no failing run ended as the step \"" << steps_[reached_].operation << "\"";
}

Bytes Slice(const Bytes& bytes, size_t offset, size_t size) {
  if (offset >= bytes.size()) return {};
  const auto from = bytes.begin() + static_cast<std::ptrdiff_t>(offset);
  return Bytes(from, from + static_cast<std::ptrdiff_t>(std::min(size, bytes.size() - offset)));
}

::testing::AssertionResult SameBytes(const Bytes& got, const Bytes& want) {
  size_t at = 0;
  while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
  if (got == want) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << got.size() << " bytes where " << want.size()
                                       << " were wanted, the first difference at " << at;
}

void MachineTest::SetUp() {
  platform::ClearFaultPlan();
  FailWorkBufferAllocationAt(0);
}

void MachineTest::TearDown() { MachineTest::SetUp(); }  // no fault left for the next test

void MachineTest::Remove(const std::string& path) const {
  std::error_code ignored;
  std::filesystem::remove_all(machine_.HostPath(path), ignored);
}

void DirectoryFolderTest::SetUp() {
  MachineTest::SetUp();
  ASSERT_EQ(testkit::WriteMigrationMessageFile(kInstall, testkit::MigrationMessageFileLines()), 0u);
  ASSERT_EQ(LoadMigrationMessages(testkit::MigrationMessageFilePath(kInstall).c_str()), 0);
  machine_.MakeDirectory(kFolder);
  machine_.AddDrive('D');
}

void DirectoryFolderTest::ClearDirectoryFolder() const {
  Remove(kFolder);
  Remove(kErrorFile);
  machine_.MakeDirectory(kFolder);
}

DirectoryFolderTest::Outcome DirectoryFolderTest::Convert(int layout, int shortHeader,
                                                          bool directoryExists) {
  static constexpr ShortHeaderDirectoryConverter kShortConverters[] = {
      ConvertDirectoryType1, ConvertDirectoryType2, ConvertDirectoryType3};
  Outcome out;
  char key[kMigrationKeySize] = {};
  char object[kMigrationObjectSize] = {};
  {
    platform::FileHandle errorFile = platform::OpenFile(kErrorFile, "w+");
    out.code = layout == 4
                   ? ConvertDirectoryType4(directoryExists, true, kDirectory, kCopy, kIntention,
                                           key, object, errorFile.get())
                   : kShortConverters[layout - 1](directoryExists, true, shortHeader, kDirectory,
                                                  kCopy, kIntention, key, object, errorFile.get());
  }
  out.key = key;
  out.object = object;
  out.records = ErrorRecords();
  return out;
}

}  // namespace qz7::migrate::testing
