// ConvertDbmConfiguration on files of a machine: the result codes for damaged input, the new
// file written only on success and the old file never changed.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "testkit/dbm_block_builder.h"
#include "testkit/temp_machine.h"
#include "upgrade/dbm_configuration_conversion.h"

namespace qz7::upgrade {
namespace {

using testkit::DbmBlockBuilder;
using Bytes = std::vector<unsigned char>;

constexpr const char* kNew = "C:\\QZ7\\INST1\\qz7systm";
constexpr const char* kOld = "C:\\QZ7\\INST1\\00000001.000";

DbmBlockBuilder OldConfig() {
  return std::move(DbmBlockBuilder().Version(0x800).U32(76, 300).Text(1130, 256, "C:\\DIAG"));
}
DbmBlockBuilder Template() { return std::move(DbmBlockBuilder().U32(76, 200)); }

class DbmConversionFileTest : public ::testing::Test {
 protected:
  // Writes both files; the result of the conversion.
  int Run(const Bytes& old, const Bytes& templ) {
    machine_.WriteFile(kOld, old);
    machine_.WriteFile(kNew, templ);
    return ConvertDbmConfiguration(kNew, kOld);
  }
  Bytes Read(const char* path) { return machine_.ReadFile(path); }
  testkit::TempMachine machine_;
};

TEST_F(DbmConversionFileTest, BadInputIsRefusedAndNothingIsWritten) {
  using Damage = std::function<void(DbmBlockBuilder & old, DbmBlockBuilder & templ)>;
  const struct {
    const char* name;
    Damage damage;
    int expected;
  } cases[] = {
      {"old version bits 0x700", [](auto& o, auto&) { o.Version(0x700); }, kDbmVersionError},
      {"new version bits 0xA00", [](auto&, auto& t) { t.Version(0xA00); }, kDbmVersionError},
      {"old checksum wrong", [](auto& o, auto&) { o.WrongChecksum(); }, kDbmChecksumError},
      {"new checksum wrong", [](auto&, auto& t) { t.WrongChecksum(256); }, kDbmChecksumError},
      {"old truncated by one byte", [](auto& o, auto&) { o.TruncateTo(4095); }, kDbmFileError},
      {"new truncated", [](auto&, auto& t) { t.TruncateTo(100); }, kDbmFileError},
      {"partitioned into client", [](auto& o, auto& t) { o.NodeType(4), t.NodeType(2); },
       kDbmNodeTypesError},
      // the version check comes before the checksum check
      {"bad version and checksum", [](auto& o, auto&) { o.Version(0x700).WrongChecksum(); },
       kDbmVersionError},
  };
  for (const auto& c : cases) {
    DbmBlockBuilder old = OldConfig();
    DbmBlockBuilder templ = Template();
    c.damage(old, templ);
    EXPECT_EQ(Run(old.Bytes(), templ.Bytes()), c.expected) << c.name;
    EXPECT_EQ(Read(kOld), old.Bytes()) << c.name;
    EXPECT_EQ(Read(kNew), templ.Bytes()) << c.name;
  }
}

}  // namespace
}  // namespace qz7::upgrade
