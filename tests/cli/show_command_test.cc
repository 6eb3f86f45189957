// qz7inst show on every binary file kind of an instance, built with the test kit, run as a
// child process: the kind it recognises and the values it decodes, the same in text and in
// JSON; and damaged files, which must end in a clear message and exit 1, never a crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "testkit/local_database_builder.h"
#include "testkit/temp_machine.h"
#include "tests/cli/cli_run.h"
#include "tools/sample/database_directory_builder.h"
#include "tools/sample/instance_index_builder.h"
#include "tools/sample/node_directory_builder.h"

namespace qz7::cli {
namespace {

using namespace ::qz7::sample;   // the builders of every file kind
using namespace ::qz7::testkit;  // and of the local database files
using Bytes = std::vector<unsigned char>;

// Writes bytes as C:\<n>\<fileName> and runs qz7inst show on it.
ToolRun Show(const TempMachine& machine, const char* fileName, const Bytes& bytes, bool json) {
  static int folder = 0;
  const std::string path = "C:\\" + std::to_string(++folder) + "\\" + fileName;
  machine.WriteFile(path, bytes);
  std::vector<std::string> args = {"--machine", machine.root(), "show", path};
  if (json) args.insert(args.begin() + 2, "--json");
  return RunCli(args);
}

// A scalar as the rows state it: a string's text, anything else as JSON writes it.
std::string At(const Json& document, const std::string& path) {
  const Json::json_pointer pointer("/" + path);
  if (!document.contains(pointer)) return "<missing>";
  const Json& value = document.at(pointer);
  return value.is_string() ? value.get<std::string>() : value.dump();
}

// A decoded value: its JSON path and how the text output writes it (file texts quoted).
using Value = struct { std::string path, text; };

Bytes Resized(Bytes bytes, size_t size) {
  bytes.resize(size);
  return bytes;
}

struct KindRow {
  const char *name, *fileName;
  Bytes bytes;
  const char* kind;
  std::vector<Value> values;
};

// clang-format off
const std::vector<KindRow>& KindRows() {
  const Bytes layout2 = DatabaseDirectoryBuilder::Layout(2, DirectoryHeaderForm::kShort).Slots(2)
      .AddEntry({.name = "PAYROLL", .databaseName = "PAY", .path = "E:"})
      .AddEntry({.name = "SALES", .type = '1', .path = "F:"}).HeaderValue(9).Bytes();
  const Bytes nodes1 = NodeDirectoryBuilder(1).HeaderValue(7).Add(NodeEntryBuilder(1)
      .NodeName("HQ").Text(27, 9, "TCPIP").Text(36, 65, "host.hq")).Bytes();
  // 900 bytes that are both a node directory (two layout-1 entries) and an empty old database
  // directory (its release marker read as a slot count): the signature, then the name, decide.
  const auto twoWay = [](const std::string& signature) {
    return NodeDirectoryBuilder(1).Signature(signature).ReleaseMarker(344)
        .Add(NodeEntryBuilder(1).NodeName("A")).Add(NodeEntryBuilder(1).NodeName("B")).Bytes();
  };
  static const std::vector<KindRow> rows = {
    {"instance_index", "QZ7IDIR", BuildInstanceIndex({.names = {"QZ7"}}), "instance-index",
     {{"entryCount", "1"}, {"defaultInstance", "\"QZ7\""}, {"usedByDiscovery", "true"}}},
    {"current_directory", "SQLDBDIR", DatabaseDirectoryBuilder::Current().HeaderValue(5)
     .AddEntry({.name = "SAMPLE", .type = '2', .subdirectory = "SQL1", .path = "D:\\DB"})
     .Bytes(), "database-directory", {{"layoutType", "97"}, {"closingValue", "5"},
     {"entries/0/path", "\"D:\\\\DB\""}, {"entries/0/subdirectory", "\"SQL1\""},
     {"entries/0/product", "\"QZ7\""}}},
    {"layout2_short_header", "SQLDBBAK", layout2, "database-directory", {{"layoutName",
     "TYPE2_DECB"}, {"header/headerValue", "9"}, {"entries/0/databaseName", "\"PAY\""},
     {"entries/1/offset", "296"}, {"intentionFile", "optional"}}},
    {"layout4_long_header", "SQLDBDIR", DatabaseDirectoryBuilder::Layout(4).AddEntry({.name = "OWN",
     .type = '2', .path = "C:\\DATA"}).Bytes(), "database-directory", {{"layoutName", "TYPE4_DECB"},
     {"entries/0/path", "\"C:\\\\DATA\""}, {"intentionFile", "required"}}},
    {"empty_old_directory", "SQLDBDIR", DatabaseDirectoryBuilder::Layout(1).Slots(3).Bytes(),
     "database-directory", {{"layoutName", "EMPTY DIRECTORY"}, {"header/slotCount", "3"}}},
    {"intention_layout3", "SQLDBINS", IntentionFileBuilder(3).Value(4).Name("SAMPLE")
     .SecondPath("C:\\T").Bytes(), "intention-file", {{"layoutType", "3"}, {"value", "4"},
     {"name", "\"SAMPLE\""}, {"secondPath", "\"C:\\\\T\""}}},
    {"directory_backup", "SQLDDDIR.TMP", DirectoryBackupBuilder().LayoutName("TYPE2_DECB")
     .Status('I').DirectoryCopy(layout2).IntentionCopy(IntentionFileBuilder(2).Name("PAY").Bytes())
     .Bytes(), "database-directory-backup", {{"statusMeaning", "unfinished"}, {"layoutType", "2"},
     {"directoryLength", std::to_string(layout2.size())}, {"intentionLength", "37"},
     {"directory/entries/1/name", "\"SALES\""}, {"intention/name", "\"PAY\""}}},
    {"current_node_directory", "SQLNODIR", NodeDirectoryBuilder(kCurrentNodeLayout)
     .Add(NodeEntryBuilder(97).NodeName("BRANCH").U16(612, 8)).Bytes(), "node-directory",
     {{"layoutName", "current"}, {"entries/0/nodeName", "\"BRANCH\""},
      {"entries/0/field612", "8"}}},
    {"node_layout3", "SQLNOBAK", NodeDirectoryBuilder(3).Add(NodeEntryBuilder(3).NodeName("N3")
     .Text(45, 31, "RMT")).Bytes(), "node-directory", {{"layoutName", "TYPE3_DECB"},
     {"entries/0/field123", "\"RMT\""}}},
    {"node_backup", "SQLNDDIR.BAK", NodeBackupBuilder().Status('C').Data(nodes1).Bytes(),
     "node-directory-backup", {{"statusMeaning", "completed"}, {"layoutName",
     "\"TYPE1_DECB PACKED\""}, {"directoryLength", std::to_string(nodes1.size())},
     {"directory/entries/0/field49", "\"TCPIP\""}, {"directory/entries/0/field58", "\"host.hq\""},
     {"directory/closingValue", "7"}}},
    {"dcs_directory", "SQLGWDIR", DcsDirectoryBuilder().Add("GWDB").Add("OTHER").Bytes(),
     "dcs-directory", {{"entryCount", "2"}, {"entries/1/databaseName", "\"OTHER\""}}},
    {"database_configuration", "SQLDBCON", DatabaseConfigurationBuilder().Release(0x0600)
     .CodePage(943).Territory(81).Field1164(77).Bytes(), "database-configuration",
     {{"checksum/matches", "true"}, {"codeSetName", "SJIS"}, {"territoryName", "JP"},
     {"entryField656", "77"}}},
    {"two_way_by_its_node_name", "SQLNOBAK", twoWay(""), "node-directory", {}},
    {"two_way_by_its_database_name", "SQLDBBAK", twoWay(""), "database-directory", {}},
    {"two_way_signature_beats_name", "SQLDBDIR", twoWay("NODE DIRECTORY"), "node-directory", {}},
  };
  return rows;
}
// clang-format on

TEST(ShowCommandTest, DecodesEveryFileKindInTextAndJson) {
  TempMachine machine;
  for (const KindRow& row : KindRows()) {
    SCOPED_TRACE(row.name);
    const ToolRun text = Show(machine, row.fileName, row.bytes, false);
    ASSERT_EQ(text.exitCode, 0) << text.err << text.out;
    const ToolRun json = Show(machine, row.fileName, row.bytes, true);
    const Json document = ParseJson(json.out);
    ASSERT_TRUE(json.exitCode == 0 && document.is_object()) << json.out;
    EXPECT_EQ(document.value("problems", Json()), Json::array());
    std::vector<Value> values = row.values;
    values.push_back({"kind", row.kind});
    values.push_back({"size", std::to_string(row.bytes.size())});
    for (Value& value : values) {
      // The text output holds each value in its text form (the key's place is the renderer's,
      // which the JSON output shares).
      EXPECT_NE(text.out.find(value.text), std::string::npos) << value.path << text.out;
      std::string& expected = value.text;
      if (expected.front() == '"') expected = expected.substr(1, expected.size() - 2);
      for (size_t at; (at = expected.find("\\\\")) != std::string::npos;) expected.erase(at, 1);
      EXPECT_EQ(At(document, value.path), expected) << value.path;
    }
  }
}

TEST(ShowCommandTest, DamagedFilesExitOneWithAClearMessage) {
  TempMachine machine;
  const Bytes& current = KindRows()[1].bytes;  // current_directory: 932 bytes, one entry
  const struct {
    const char *name, *fileName;
    Bytes bytes;
    const char *kind, *message;  // kind "" when show must not recognise the file
  } rows[] = {
      // clang-format off
      {"garbage", "SQLDBDIR", Bytes(300, 0xA5), "", "not a file that show recognises"},
      {"current_directory_cut", "SQLDBDIR", Resized(current, 500), "database-directory",
       "only 0 of 1 entries"},
      {"current_directory_extra_bytes", "SQLDBDIR", Resized(current, 937), "database-directory",
       "differs from the 932 bytes"},
      {"index_short_entries", "QZ7IDIR", BuildInstanceIndex({.entryCount = 3, .names = {"A"}}),
       "instance-index", "only 1 of 3 entries"},
      {"backup_signature_damaged", "SQLDDDIR.TMP", DirectoryBackupBuilder()
       .Signature("QZ7 DATABASE DIRECTORY FILE BACKUq").DirectoryCopy(current).Bytes(),
       "database-directory-backup", "signature damaged"},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    // What could be decoded is still shown, as valid JSON that lists the problems.
    const ToolRun json = Show(machine, row.fileName, row.bytes, true);
    EXPECT_EQ(json.exitCode, 1);
    EXPECT_NE(json.err.find(row.message), std::string::npos) << json.err;
    const Json document = ParseJson(json.out);
    EXPECT_TRUE(*row.kind ? document.is_object() : json.out.empty()) << json.out;
    if (!*row.kind) continue;
    EXPECT_EQ(At(document, "kind"), row.kind);
    EXPECT_FALSE(document.value("problems", Json::array()).empty()) << json.out;
  }
}

// Every file kind cut at many lengths and with a byte flipped: show ends normally with 0 or 1,
// writes valid JSON whenever it writes any, and explains every exit 1.
TEST(ShowCommandTest, CutAndFlippedFilesNeverCrash) {
  TempMachine machine;
  for (const KindRow& row : KindRows()) {
    const size_t step = std::max<size_t>(1, row.bytes.size() / 9);
    for (size_t size = 0; size <= row.bytes.size(); size += step) {
      for (bool flip : {false, true}) {
        SCOPED_TRACE(std::string(row.name) + " cut to " + std::to_string(size) +
                     (flip ? " and flipped" : ""));
        Bytes bytes = Resized(row.bytes, size);
        if (flip && size > 0) bytes[size / 2] ^= 0x5A;
        const ToolRun run = Show(machine, row.fileName, bytes, true);
        EXPECT_TRUE(run.exitCode == 0 || (run.exitCode == 1 && !run.err.empty())) << run.exitCode;
        EXPECT_TRUE(run.err.find("Sanitizer") == std::string::npos &&
                    run.err.find("runtime error") == std::string::npos)
            << run.err;
        EXPECT_TRUE(run.out.empty() || !ParseJson(run.out).is_discarded()) << run.out;
      }
    }
  }
}

}  // namespace
}  // namespace qz7::cli
