// qz7inst show on every binary file kind of an instance, built with the test kit, run as a
// child process: the kind it recognises and the values it decodes, the same in text and in
// JSON; and damaged files, which must end in a clear message and exit 1, never a crash.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>
#include <vector>

#include "testkit/database_directory_builder.h"
#include "testkit/instance_index_builder.h"
#include "testkit/local_database_builder.h"
#include "testkit/node_directory_builder.h"
#include "testkit/temp_machine.h"

namespace {

using Bytes = std::vector<unsigned char>;
using qz7::testkit::DatabaseDirectoryBuilder;
using qz7::testkit::DirectoryBackupBuilder;
using qz7::testkit::DirectoryHeaderForm;
using qz7::testkit::NodeDirectoryBuilder;
using qz7::testkit::NodeEntryBuilder;

struct CliRun {
  bool exited = false;
  int exitCode = -1;
  std::string out;
  std::string err;
};

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<size_t>(n));
  return text;
}

// Runs qz7inst; standard error is small and read after standard output.
CliRun RunCli(std::vector<std::string> args) {
  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    close(outPipe[0]);
    close(errPipe[0]);
    std::string program = QZ7_CLI_PATH;
    std::vector<char*> argv = {program.data()};
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  CliRun run;
  run.out = ReadAll(outPipe[0]);
  run.err = ReadAll(errPipe[0]);
  close(outPipe[0]);
  close(errPipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  run.exited = WIFEXITED(status);
  run.exitCode = run.exited ? WEXITSTATUS(status) : -1;
  return run;
}

// ---- A small JSON reader, enough to hold the output to the grammar and look values up ----

struct Json {
  bool container = false;
  std::string scalar;  // a string's contents, or a number or literal as written
  std::vector<std::pair<std::string, Json>> members;  // object members, or array items
                                                      // under their index

  // The value at a path like "entries/0/name"; null when there is none.
  const Json* Find(const std::string& path) const {
    const Json* at = this;
    size_t start = 0;
    while (at != nullptr && start <= path.size()) {
      const size_t slash = std::min(path.find('/', start), path.size());
      const std::string key = path.substr(start, slash - start);
      const Json* next = nullptr;
      for (const auto& [name, value] : at->members) {
        if (name == key) next = &value;
      }
      at = next;
      start = slash + 1;
    }
    return at;
  }
};

class JsonReader {
 public:
  explicit JsonReader(const std::string& text) : text_(text) {}
  bool Read(Json* out) { return Value(out) && (Space(), at_ == text_.size()); }

 private:
  void Space() {
    while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_]))) ++at_;
  }
  bool Eat(char c) {
    Space();
    if (at_ >= text_.size() || text_[at_] != c) return false;
    ++at_;
    return true;
  }
  bool String(std::string* out) {
    if (!Eat('"')) return false;
    while (at_ < text_.size()) {
      const unsigned char c = static_cast<unsigned char>(text_[at_++]);
      if (c == '"') return true;
      if (c < 0x20 || c >= 0x80) return false;  // show writes plain ASCII only
      if (c != '\\') {
        out->push_back(static_cast<char>(c));
        continue;
      }
      if (at_ >= text_.size()) return false;
      const char escape = text_[at_++];
      if (escape == 'u') {
        if (at_ + 4 > text_.size()) return false;
        out->push_back(static_cast<char>(std::stoi(text_.substr(at_, 4), nullptr, 16)));
        at_ += 4;
      } else if (std::string("\"\\/").find(escape) != std::string::npos) {
        out->push_back(escape);
      } else if (std::string("bfnrt").find(escape) != std::string::npos) {
        out->push_back(' ');
      } else {
        return false;
      }
    }
    return false;
  }
  bool Members(Json* out, char close, bool named) {
    out->container = true;
    if (Eat(close)) return true;
    do {
      std::string name;
      if (!named) name = std::to_string(out->members.size());
      if (named && (!String(&name) || !Eat(':'))) return false;
      Json value;
      if (!Value(&value)) return false;
      out->members.emplace_back(name, std::move(value));
    } while (Eat(','));
    return Eat(close);
  }
  bool Value(Json* out) {
    if (Eat('{')) return Members(out, '}', true);
    if (Eat('[')) return Members(out, ']', false);
    Space();
    if (at_ < text_.size() && text_[at_] == '"') return String(&out->scalar);
    const size_t start = at_;
    while (at_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[at_])) ||
                                  text_[at_] == '-' || text_[at_] == '.')) {
      ++at_;
    }
    out->scalar = text_.substr(start, at_ - start);
    return out->scalar == "true" || out->scalar == "false" || out->scalar == "null" ||
           (!out->scalar.empty() &&
            out->scalar.find_first_not_of("-0123456789") == std::string::npos);
  }

  const std::string& text_;
  size_t at_ = 0;
};

// ---- Checks ----

// A decoded value: its path in the JSON document and how the text output writes it (texts
// from the file in quotes). Both outputs must hold it.
struct Value {
  std::string path;
  std::string text;
};

std::string Trim(std::string line) {
  const size_t first = line.find_first_not_of(" -");
  line.erase(0, first == std::string::npos ? line.size() : first);
  return line;
}

// True when a text line reads "KEY: VALUE" for the path's last name.
bool TextHolds(const std::string& out, const Value& value) {
  const std::string key = value.path.substr(value.path.rfind('/') + 1);
  size_t start = 0;
  for (size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = Trim(out.substr(start, end - start));
    if (line.rfind(key + ":", 0) != 0) continue;
    if (Trim(line.substr(key.size() + 1)) == value.text) return true;
  }
  return false;
}

// The scalar at path, "<missing>" when the document has no such value.
std::string ScalarAt(const Json& document, const std::string& path) {
  const Json* found = document.Find(path);
  return found != nullptr ? found->scalar : "<missing>";
}

// The number of members or items at path; -1 when there is nothing there.
int CountAt(const Json& document, const std::string& path) {
  const Json* found = document.Find(path);
  return found != nullptr ? static_cast<int>(found->members.size()) : -1;
}

std::string Unquoted(const std::string& text) {
  return text.size() >= 2 && text.front() == '"' ? text.substr(1, text.size() - 2) : text;
}

Bytes Layout2Short() {
  return DatabaseDirectoryBuilder::Layout(2, DirectoryHeaderForm::kShort)
      .AddEntry({.name = "PAYROLL", .databaseName = "PAY", .type = '0', .path = "E:"})
      .AddEntry({.name = "SALES", .type = '1', .path = "F:"})
      .Slots(2)
      .HeaderValue(9)
      .Bytes();
}

Bytes NodeLayout1() {
  return NodeDirectoryBuilder(1)
      .HeaderValue(7)
      .Add(NodeEntryBuilder(1).NodeName("HQ").Text(27, 9, "TCPIP").Text(36, 65, "host.hq"))
      .Bytes();
}

struct KindRow {
  const char* name;
  const char* fileName;
  Bytes bytes;
  const char* kind;
  std::vector<Value> values;
};

std::vector<KindRow> KindRows() {
  using namespace qz7::testkit;
  return {
      {"instance_index",
       "QZ7IDIR",
       BuildInstanceIndex({.names = {"QZ7"}}),
       "instance-index",
       {{"entryCount", "1"}, {"defaultInstance", "\"QZ7\""}, {"usedByDiscovery", "true"}}},
      {"current_directory",
       "SQLDBDIR",
       DatabaseDirectoryBuilder::Current()
           .AddEntry({.name = "SAMPLE", .type = '2', .subdirectory = "SQL00001", .path = "D:\\DB"})
           .HeaderValue(5)
           .Bytes(),
       "database-directory",
       {{"layoutType", "97"},
        {"entries/0/name", "\"SAMPLE\""},
        {"entries/0/type", "\"2\""},
        {"entries/0/subdirectory", "\"SQL00001\""},
        {"entries/0/path", "\"D:\\\\DB\""},
        {"entries/0/product", "\"QZ7\""},
        {"closingValue", "5"}}},
      {"layout2_short_header",
       "SQLDBBAK",
       Layout2Short(),
       "database-directory",
       {{"layoutType", "2"},
        {"layoutName", "TYPE2_DECB"},
        {"header/headerValue", "9"},
        {"entries/0/databaseName", "\"PAY\""},
        {"entries/1/path", "\"F:\""},
        {"entries/1/offset", "296"},
        {"intentionFile", "optional"}}},
      {"layout4_long_header",
       "SQLDBDIR",
       DatabaseDirectoryBuilder::Layout(4)
           .AddEntry({.name = "OWN", .type = '2', .path = "C:\\DATA"})
           .Bytes(),
       "database-directory",
       {{"layoutName", "TYPE4_DECB"},
        {"entries/0/path", "\"C:\\\\DATA\""},
        {"intentionFile", "required"}}},
      {"empty_old_directory",
       "SQLDBDIR",
       DatabaseDirectoryBuilder::Layout(1).Slots(3).Bytes(),
       "database-directory",
       {{"layoutType", "98"}, {"layoutName", "EMPTY DIRECTORY"}, {"header/slotCount", "3"}}},
      {"local_database_directory",
       "SQLDBDIR",
       LocalDatabaseDirectoryBytes({{"LOCAL", DatabaseInfoPattern(3)}}),
       "database-directory",
       {{"layoutName", "current"}, {"entries/0/name", "\"LOCAL\""}}},
      {"intention_layout3",
       "SQLDBINS",
       IntentionFileBuilder(3).Value(4).Name("SAMPLE").SecondPath("C:\\T").Bytes(),
       "intention-file",
       {{"layoutType", "3"},
        {"value", "4"},
        {"name", "\"SAMPLE\""},
        {"secondPath", "\"C:\\\\T\""}}},
      {"directory_backup",
       "SQLDDDIR.TMP",
       DirectoryBackupBuilder()
           .LayoutName("TYPE2_DECB")
           .Status('I')
           .DirectoryCopy(Layout2Short())
           .IntentionCopy(IntentionFileBuilder(2).Name("PAY").Bytes())
           .Bytes(),
       "database-directory-backup",
       {{"status", "\"I\""},
        {"statusMeaning", "unfinished"},
        {"layoutType", "2"},
        {"directoryLength", std::to_string(Layout2Short().size())},
        {"intentionLength", "37"},
        {"directory/entries/1/name", "\"SALES\""},
        {"intention/name", "\"PAY\""}}},
      {"current_node_directory",
       "SQLNODIR",
       NodeDirectoryBuilder(qz7::testkit::kCurrentNodeLayout)
           .Add(NodeEntryBuilder(97).NodeName("BRANCH").U16(612, 8))
           .Bytes(),
       "node-directory",
       {{"layoutName", "current"},
        {"entries/0/nodeName", "\"BRANCH\""},
        {"entries/0/field612", "8"}}},
      {"node_layout3",
       "SQLNOBAK",
       NodeDirectoryBuilder(3).Add(NodeEntryBuilder(3).NodeName("N3").Text(45, 31, "RMT")).Bytes(),
       "node-directory",
       {{"layoutType", "3"}, {"layoutName", "TYPE3_DECB"}, {"entries/0/field123", "\"RMT\""}}},
      {"node_backup",
       "SQLNDDIR.BAK",
       NodeBackupBuilder().Status('C').Data(NodeLayout1()).Bytes(),
       "node-directory-backup",
       {{"status", "\"C\""},
        {"statusMeaning", "completed"},
        {"layoutName", "\"TYPE1_DECB PACKED\""},
        {"directoryLength", std::to_string(NodeLayout1().size())},
        {"directory/entries/0/field49", "\"TCPIP\""},
        {"directory/entries/0/field58", "\"host.hq\""},
        {"directory/closingValue", "7"}}},
      {"dcs_directory",
       "SQLGWDIR",
       DcsDirectoryBuilder().Add("GWDB").Add("OTHER").Bytes(),
       "dcs-directory",
       {{"entryCount", "2"}, {"entries/1/databaseName", "\"OTHER\""}}},
      {"database_configuration",
       "SQLDBCON",
       DatabaseConfigurationBuilder()
           .Release(0x0600)
           .CodePage(943)
           .Territory(81)
           .Field1164(77)
           .Bytes(),
       "database-configuration",
       {{"checksum/matches", "true"},
        {"codeSetName", "SJIS"},
        {"territoryName", "JP"},
        {"entryField656", "77"}}},
  };
}

TEST(ShowCommandTest, DecodesEveryFileKindInTextAndJson) {
  qz7::testkit::TempMachine machine;
  int folder = 0;
  for (const KindRow& row : KindRows()) {
    const std::string path = "C:\\F" + std::to_string(folder++) + "\\" + row.fileName;
    machine.WriteFile(path, row.bytes);
    const CliRun text = RunCli({"--machine", machine.root(), "show", path});
    ASSERT_EQ(text.exitCode, 0) << row.name << "\n" << text.err << text.out;
    EXPECT_TRUE(TextHolds(text.out, {"kind", row.kind})) << row.name << "\n" << text.out;

    const CliRun json = RunCli({"--machine", machine.root(), "--json", "show", path});
    ASSERT_EQ(json.exitCode, 0) << row.name << "\n" << json.err;
    Json document;
    ASSERT_TRUE(JsonReader(json.out).Read(&document)) << row.name << "\n" << json.out;
    EXPECT_EQ(ScalarAt(document, "kind"), row.kind) << row.name;
    EXPECT_EQ(ScalarAt(document, "size"), std::to_string(row.bytes.size())) << row.name;
    EXPECT_EQ(CountAt(document, "problems"), 0) << row.name;
    for (const Value& value : row.values) {
      EXPECT_TRUE(TextHolds(text.out, value))
          << row.name << ": " << value.path << " " << value.text << "\n"
          << text.out;
      std::string expected = Unquoted(value.text);
      for (size_t at; (at = expected.find("\\\\")) != std::string::npos;) expected.erase(at, 1);
      EXPECT_EQ(ScalarAt(document, value.path), expected) << row.name << ": " << value.path;
    }
  }
}

// A node directory of two layout-1 entries whose release marker (offset 24) reads, as a
// database directory's slot count, so that its 900 bytes are also an empty old database
// directory: the signature, then the file name, decides.
TEST(ShowCommandTest, SignatureAndThenNameBreakTies) {
  qz7::testkit::TempMachine machine;
  const auto twoWay = [](const std::string& signature) {
    return NodeDirectoryBuilder(1)
        .Signature(signature)
        .ReleaseMarker(344)
        .Add(NodeEntryBuilder(1).NodeName("A"))
        .Add(NodeEntryBuilder(1).NodeName("B"))
        .Bytes();
  };
  struct Row {
    const char* name;
    const char* fileName;
    std::string signature;
    const char* kind;
  } rows[] = {
      {"node_name", "SQLNOBAK", "", "node-directory"},
      {"database_name", "SQLDBBAK", "", "database-directory"},
      {"no_name_takes_the_first", "TWOWAY", "", "database-directory"},
      {"signature_beats_name", "SQLDBDIR", "NODE DIRECTORY", "node-directory"},
  };
  int folder = 0;
  for (const Row& row : rows) {
    const std::string path = "C:\\T" + std::to_string(folder++) + "\\" + row.fileName;
    machine.WriteFile(path, twoWay(row.signature));
    const CliRun run = RunCli({"--machine", machine.root(), "show", path});
    EXPECT_EQ(run.exitCode, 0) << row.name << "\n" << run.err;
    EXPECT_TRUE(TextHolds(run.out, {"kind", row.kind})) << row.name << "\n" << run.out;
  }
}

Bytes Truncated(Bytes bytes, size_t size) {
  bytes.resize(size);
  return bytes;
}

TEST(ShowCommandTest, DamagedFilesExitOneWithAClearMessage) {
  using namespace qz7::testkit;
  qz7::testkit::TempMachine machine;
  Bytes garbage(300);
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<unsigned char>(i * 37 + 11);
  const Bytes current = DatabaseDirectoryBuilder::Current().AddEntry({.name = "A"}).Bytes();
  struct Row {
    const char* name;
    const char* fileName;
    Bytes bytes;
    const char* kind;     // "" when show must not recognise the file
    const char* message;  // on standard error
  } rows[] = {
      {"garbage", "SQLDBDIR", garbage, "", "not a file that show recognises"},
      {"empty_file", "SQLNODIR", {}, "", "not a file that show recognises"},
      {"old_directory_cut", "SQLDBDIR", Truncated(Layout2Short(), 250), "",
       "not a file that show recognises"},
      {"current_directory_cut", "SQLDBDIR", Truncated(current, 500), "database-directory",
       "only 0 of 1 entries"},
      {"current_directory_extra_bytes", "SQLDBDIR",
       DatabaseDirectoryBuilder::Current().AddEntry({.name = "A"}).AppendZeros(5).Bytes(),
       "database-directory", "differs from the 932 bytes"},
      {"node_directory_cut", "SQLNODIR", Truncated(NodeLayout1(), 100), "node-directory",
       "no layout fits 100 bytes"},
      {"node_directory_header_cut", "SQLNODIR", Truncated(NodeLayout1(), 20), "", "not a file"},
      {"index_short_entries", "QZ7IDIR", BuildInstanceIndex({.entryCount = 3, .names = {"A"}}),
       "instance-index", "only 1 of 3 entries"},
      {"index_header_cut", "QZ7IDIR", BuildInstanceIndex({.names = {"A"}, .truncateTo = 26}),
       "instance-index", "truncated: 26 bytes"},
      {"backup_signature_damaged", "SQLDDDIR.TMP",
       DirectoryBackupBuilder()
           .Signature("QZ7 DATABASE DIRECTORY FILE BACKUq")
           .DirectoryCopy(current)
           .Bytes(),
       "database-directory-backup", "signature damaged"},
      {"backup_copy_cut", "SQLDDDIR.BAK",
       DirectoryBackupBuilder().DirectoryCopy(current).TruncateTo(400).Bytes(),
       "database-directory-backup", "does not lie within the 400 bytes"},
      {"backup_header_cut", "SQLDDDIR.TMP", DirectoryBackupBuilder().TruncateTo(60).Bytes(),
       "database-directory-backup", "truncated: 60 bytes"},
      {"backup_unknown_status", "SQLDDDIR.BAK",
       DirectoryBackupBuilder().Status('X').DirectoryCopy(current).Bytes(),
       "database-directory-backup", "neither \"I\" nor \"C\""},
      {"backup_intention_copy_odd", "SQLDDDIR.BAK",
       DirectoryBackupBuilder().DirectoryCopy(current).IntentionCopy(Bytes(12)).Bytes(),
       "database-directory-backup", "intention copy: no intention file layout has 12 bytes"},
      {"node_backup_without_data", "SQLNDDIR.TMP", NodeBackupBuilder().Bytes(),
       "node-directory-backup", "holds no directory"},
      {"node_backup_copy_cut", "SQLNDDIR.TMP",
       NodeBackupBuilder().Data(Truncated(NodeLayout1(), 300)).Bytes(), "node-directory-backup",
       "directory copy: "},
      {"configuration_cut", "SQLDBCON",
       DatabaseConfigurationBuilder().Release(0x0600).TruncateTo(1000).Bytes(),
       "database-configuration", "truncated: 1000 bytes"},
  };
  int folder = 0;
  for (const Row& row : rows) {
    const std::string path = "C:\\D" + std::to_string(folder++) + "\\" + row.fileName;
    machine.WriteFile(path, row.bytes);
    const CliRun text = RunCli({"--machine", machine.root(), "show", path});
    EXPECT_EQ(text.exitCode, 1) << row.name << "\n" << text.out;
    EXPECT_NE(text.err.find(row.message), std::string::npos) << row.name << "\n" << text.err;
    const CliRun json = RunCli({"--machine", machine.root(), "show", "--json", path});
    EXPECT_EQ(json.exitCode, 1) << row.name;
    if (row.kind[0] == '\0') {
      EXPECT_TRUE(json.out.empty()) << row.name << "\n" << json.out;
      continue;
    }
    // What could be decoded is still shown, as valid JSON that lists the problems.
    Json document;
    ASSERT_TRUE(JsonReader(json.out).Read(&document)) << row.name << "\n" << json.out;
    EXPECT_EQ(ScalarAt(document, "kind"), row.kind) << row.name;
    EXPECT_GT(CountAt(document, "problems"), 0) << row.name;
  }
}

// Every file kind cut at many lengths and with a byte flipped: show ends normally with 0 or 1,
// writes valid JSON whenever it writes any, and explains every exit 1.
TEST(ShowCommandTest, CutAndFlippedFilesNeverCrash) {
  qz7::testkit::TempMachine machine;
  int folder = 0;
  for (const KindRow& row : KindRows()) {
    const size_t step = std::max<size_t>(1, row.bytes.size() / 9);
    for (size_t size = 0; size <= row.bytes.size(); size += step) {
      for (bool flip : {false, true}) {
        Bytes bytes = Truncated(row.bytes, size);
        if (flip && size > 0) bytes[size / 2] ^= 0x5A;
        const std::string path = "C:\\X" + std::to_string(folder++) + "\\" + row.fileName;
        machine.WriteFile(path, bytes);
        const CliRun run = RunCli({"--machine", machine.root(), "--json", "show", path});
        const std::string label = std::string(row.name) + " cut to " + std::to_string(size) +
                                  (flip ? " and flipped" : "");
        ASSERT_TRUE(run.exited) << label;
        EXPECT_TRUE(run.exitCode == 0 || run.exitCode == 1) << label << ": " << run.exitCode;
        EXPECT_EQ(run.err.find("Sanitizer"), std::string::npos) << label << "\n" << run.err;
        EXPECT_EQ(run.err.find("runtime error"), std::string::npos) << label << "\n" << run.err;
        if (run.exitCode == 1) {
          EXPECT_FALSE(run.err.empty()) << label;
        }
        Json document;
        if (!run.out.empty()) {
          EXPECT_TRUE(JsonReader(run.out).Read(&document)) << label;
        }
      }
    }
  }
}

}  // namespace
