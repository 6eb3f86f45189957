// What the node directory tests share: the paths of one instance on a throw-away machine,
// file helpers, and the error records of the last run read back as texts.
#ifndef QZ7_TESTS_MIGRATE_NODE_DIRECTORY_TEST_SUPPORT_H_
#define QZ7_TESTS_MIGRATE_NODE_DIRECTORY_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "migrate/work_buffer.h"
#include "platform/fault_injection.h"
#include "testkit/node_directory_builder.h"
#include "testkit/temp_machine.h"
#include "tests/migrate/error_records.h"

namespace qz7::migrate::node_test {

using testkit::ByteVector;

inline constexpr const char* kInstance = "C:\\QZ7\\INST1";
inline constexpr const char* kFile = "C:\\QZ7\\INST1\\SQLNODIR\\SQLNODIR";
inline constexpr const char* kCopy = "C:\\QZ7\\INST1\\SQLNODIR\\SQLNOBAK";
inline constexpr const char* kTmp = "C:\\QZ7\\INST1\\SQLNODIR\\SQLNDDIR.TMP";
inline constexpr const char* kBak = "C:\\QZ7\\INST1\\SQLNODIR\\SQLNDDIR.BAK";
inline constexpr const char* kStaging = "C:\\QZ7\\INST1\\SQLNODIR\\SQLNDDIR.NEW";
inline constexpr const char* kErrorFile = "C:\\QZ7\\INST1\\QZ7MGNDD.ERR";
inline constexpr const char* kDatabaseDir = "C:\\QZ7\\INST1\\SQLDBDIR\\SQLDBDIR";
inline constexpr const char* kDcsDir = "C:\\QZ7\\INST1\\SQLGWDIR\\SQLGWDIR";

class NodeDirectoryTest : public ::testing::Test {
 public:
  void SetUp() override {
    platform::ClearFaultPlan();
    FailWorkBufferAllocationAt(0);
    machine_.MakeDirectory("C:\\QZ7\\INST1\\SQLNODIR");
  }
  void TearDown() override {
    platform::ClearFaultPlan();
    FailWorkBufferAllocationAt(0);
  }

  void Write(const char* path, const ByteVector& bytes) const { machine_.WriteFile(path, bytes); }
  ByteVector Read(const char* path) const { return machine_.ReadFile(path); }
  bool Exists(const char* path) const { return machine_.Exists(path); }
  void Remove(const char* path) const {
    std::error_code ignored;
    std::filesystem::remove_all(machine_.HostPath(path), ignored);
  }
  // A folder where a file is expected: it can be neither opened nor removed as a file.
  void MakeFolder(const char* path) const {
    Remove(path);
    machine_.MakeDirectory(path);
  }
  // Empties the instance: no node directory files, no error file, no database directories.
  void ClearInstance() const {
    std::error_code ignored;
    std::filesystem::remove_all(machine_.HostPath(kInstance), ignored);
    machine_.MakeDirectory("C:\\QZ7\\INST1\\SQLNODIR");
  }

  // The records of the error file: each record's lines joined, in file order.
  std::vector<std::string> ErrorRecords() const {
    return testing::ErrorRecordsOf(Read(kErrorFile));
  }

  // The data that a backup file holds after its 85-byte header.
  static ByteVector BackupData(const ByteVector& backup) {
    return backup.size() < 85 ? ByteVector() : ByteVector(backup.begin() + 85, backup.end());
  }

  testkit::TempMachine machine_;
};

// Names the rows of a table in the test output.
inline constexpr auto kNodeRowName = [](const auto& info) { return std::string(info.param.name); };

}  // namespace qz7::migrate::node_test

#endif  // QZ7_TESTS_MIGRATE_NODE_DIRECTORY_TEST_SUPPORT_H_
