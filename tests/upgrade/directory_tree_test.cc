// Copying, moving and clearing directory trees on a machine, including what a failing copy
// leaves behind in move mode.
#include "upgrade/directory_tree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/win_error.h"
#include "testkit/temp_machine.h"

namespace qz7::upgrade {
namespace {

using Paths = std::vector<std::string>;

// C:\P\I with two files and a nested directory, and a neighbour that keeps C:\P busy.
void MakeTree(const testkit::TempMachine& machine) {
  machine.WriteText("C:\\P\\I\\qz7systm", "config");
  machine.WriteText("C:\\P\\I\\SQLDBDIR\\SQLDBDIR", "dir");
  machine.WriteText("C:\\P\\I\\SQLDBDIR\\DEEP\\F", "deep");
  machine.WriteText("C:\\P\\OTHER", "busy");
}

TEST(DirectoryTreeTest, CopyAndMove) {
  const std::string tooLong = "C:\\" + std::string(300, 'x');
  struct Row {
    const char *name, *source, *destination;
    bool move;
    int want;
    Paths present, absent;
    bool leftover = false;  // C:\P\I.MOVED, what an interrupted move left, is there too
  } rows[] = {
      // clang-format off
      {"copy_keeps_source", "C:\\P\\I", "\"c:\\new\\i\"", false, 0,
       {"C:\\NEW\\I\\SQLDBDIR\\DEEP\\F", "C:\\P\\I\\SQLDBDIR\\DEEP\\F"}, {}},
      {"move_removes_emptied_source", "\"C:\\P\\I\"", "C:\\NEW\\I", true, 0,
       {"C:\\NEW\\I\\qz7systm", "C:\\NEW\\I\\SQLDBDIR\\DEEP\\F", "C:\\P\\OTHER"}, {"C:\\P\\I"}},
      {"empty_destination_deletes", "C:\\P\\I", "", false, 0, {"C:\\P\\OTHER"}, {"C:\\P\\I"}},
      {"onto_itself", "C:\\P\\I", "\"c:\\p\\i\\\"", true, 0, {"C:\\P\\I\\qz7systm"}, {}},
      {"into_itself", "C:\\P\\I", "C:\\P\\I\\SUB", true, kTreeDestinationInside,
       {"C:\\P\\I\\qz7systm"}, {"C:\\P\\I\\SUB"}},
      {"sibling_with_common_prefix", "C:\\P\\I", "C:\\P\\IX", true, 0, {"C:\\P\\IX\\qz7systm"},
       {"C:\\P\\I"}},
      {"bad_source", tooLong.c_str(), "C:\\NEW", true, kTreeBadSource, {"C:\\P\\I\\qz7systm"},
       {"C:\\NEW"}},
      {"finishes_a_moved_aside_leftover", "C:\\P\\I", "C:\\NEW\\I", true, 0,
       {"C:\\NEW\\I\\qz7systm", "C:\\P\\OTHER"}, {"C:\\P\\I.MOVED", "C:\\P\\I"}, true},
      {"copy_leaves_it", "C:\\P\\I", "C:\\NEW\\I", false, 0, {"C:\\P\\I.MOVED\\SQLDBDIR\\X"},
       {}, true},
      // clang-format on
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    testkit::TempMachine machine;
    MakeTree(machine);
    if (row.leftover) machine.WriteText("C:\\P\\I.MOVED\\SQLDBDIR\\X", "moved");
    EXPECT_EQ(CopyDirectoryTree(row.source, row.destination, row.move), row.want);
    for (const std::string& path : row.present) EXPECT_TRUE(machine.Exists(path)) << path;
    for (const std::string& path : row.absent) EXPECT_FALSE(machine.Exists(path)) << path;
  }
}

// Whatever file operation fails, a move never loses a file nor splits the tree: a move that
// reports itself complete has every file at the destination; one that does not has left the
// source whole, for a later move to copy over again. Both ways of moving are covered: the
// rename when the destination is new, and copy-then-delete when it exists already.
TEST(DirectoryTreeTest, FailingOperationDuringAMoveNeverSplitsTheTree) {
  const Paths files = {"qz7systm", "SQLDBDIR\\SQLDBDIR", "SQLDBDIR\\DEEP\\F"};
  for (const bool destinationExists : {false, true}) {
    SCOPED_TRACE(destinationExists ? "destination exists" : "new destination");
    auto prepare = [&](const testkit::TempMachine& machine) {
      MakeTree(machine);
      if (destinationExists) machine.WriteText("C:\\NEW\\I\\qz7systm", "older");
    };
    uint64_t operations = 0;
    {
      testkit::TempMachine machine;
      prepare(machine);
      platform::ResetFileOperationCount();
      int failure = -1;
      CopyDirectoryTree("C:\\P\\I", "C:\\NEW\\I", true, &failure);
      operations = platform::FileOperationCount();
      EXPECT_EQ(failure, 0);
      EXPECT_FALSE(machine.Exists("C:\\P\\I"));
      EXPECT_EQ(machine.ReadFile("C:\\NEW\\I\\qz7systm").size(), 6u) << "the source's copy wins";
    }
    ASSERT_GT(operations, destinationExists ? 20u : 3u);
    for (uint64_t n = 1; n <= operations; ++n) {
      SCOPED_TRACE("failing operation " + std::to_string(n));
      testkit::TempMachine machine;
      prepare(machine);
      platform::SetFaultPlan({.triggerAt = n, .error = platform::kErrorDiskFull});
      int failure = -1;
      CopyDirectoryTree("C:\\P\\I", "C:\\NEW\\I", true, &failure);
      platform::ClearFaultPlan();
      const bool complete = failure == 0;
      for (const std::string& file : files) {
        const std::string whole = complete ? "C:\\NEW\\I\\" + file : "C:\\P\\I\\" + file;
        EXPECT_FALSE(machine.ReadFile(whole).empty()) << whole;
      }
      EXPECT_TRUE(machine.Exists("C:\\P\\OTHER"));
    }
  }
}

TEST(DirectoryTreeTest, DeleteMatchingFiles) {
  struct Row {
    const char *name, *pattern, *directory;
    Paths present, absent;
  } rows[] = {
      // clang-format off
      {"index_file_only", "qz7idir", "\"C:\\P\"", {"C:\\P\\I\\qz7systm"}, {"C:\\P\\QZ7IDIR"}},
      {"every_file", "*", "C:\\P\\I\\SQLDBDIR\\", {"C:\\P\\I\\SQLDBDIR\\DEEP\\F"},
       {"C:\\P\\I\\SQLDBDIR\\SQLDBDIR", "C:\\P\\I\\SQLDBDIR\\SQLDBINS"}},
      {"question_marks", "SQLDB???", "C:\\P\\I\\SQLDBDIR", {"C:\\P\\I\\SQLDBDIR\\DEEP"},
       {"C:\\P\\I\\SQLDBDIR\\SQLDBINS"}},
      {"null_pattern", nullptr, "C:\\P", {"C:\\P\\QZ7IDIR"}, {}},
      // clang-format on
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    testkit::TempMachine machine;
    MakeTree(machine);
    machine.WriteText("C:\\P\\QZ7IDIR", "index");
    machine.WriteText("C:\\P\\I\\SQLDBDIR\\SQLDBINS", "intention");
    DeleteMatchingFiles(row.pattern, row.directory);
    for (const std::string& path : row.present) EXPECT_TRUE(machine.Exists(path)) << path;
    for (const std::string& path : row.absent) EXPECT_FALSE(machine.Exists(path)) << path;
  }
}

}  // namespace
}  // namespace qz7::upgrade
