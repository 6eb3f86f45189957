// sqlfvald: the apply step (how each token family converts and stores a value and what a
// rejected value leaves in the image), the check step (representative tokens of each rule family
// under node kinds 0 to 5 and a kind beyond them, with the boundaries each has), and the whole
// call on real files of a throw-away machine: reading, the three results, the commit write and
// what a failure or a crash at every file operation of a commit leaves behind.
#include "config/sqlfvald.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "config/config_image.h"
#include "config/config_tokens.h"
#include "config/parameter_apply.h"
#include "config/parameter_checks.h"
#include "platform/file_system.h"
#include "platform/win_error.h"
#include "qz7instm.h"
#include "testkit/fault_injection.h"
#include "testkit/fault_points.h"
#include "testkit/recording_host.h"
#include "testkit/temp_machine.h"
#include "tools/sample/dbm_block_builder.h"

namespace qz7::config {
namespace {

// One record applied to an image whose every byte is 0xAA, so that a store shows in every byte.
// The host measures 0.25 and counts the given processors, or fails when told to.
struct StoreCase {
  const char* name;
  uint16_t token;
  const char* value;
  bool valid;
  const char* changed;  // the bytes that differ from 0xAA afterwards, then "commit" if asked
  int hostCalls = 0;
  uint32_t processors = 4;
  bool hostFails = false;
};

class ApplyStoreTest : public testing::TestWithParam<StoreCase> {};

TEST_P(ApplyStoreTest, StoresExactlyTheseBytes) {
  const StoreCase& c = GetParam();
  testkit::RecordingHost host;
  testkit::ScopedHost scoped(&host);
  host.processorSpeed = 0.25f;
  host.processorCount = c.processors;
  if (c.hostFails) host.ScriptResult(c.token == 42 ? "Cpum" : "GetCPUInfo", -1042);
  ConfigFileImage image;
  image.fill(0xAA);
  sqlf_cfg_parameter record{c.token, const_cast<char*>(c.value), 7};
  unsigned char commit = 0;
  ApplyConfigParameters(image, &record, 1, &commit);
  std::string changed;
  for (size_t i = 0; i < image.size(); ++i) {
    char entry[24];
    std::snprintf(entry, sizeof entry, " %zx=%02x", i, image[i]);
    if (image[i] != 0xAA) changed += entry;
  }
  changed += commit != 0 ? " commit" : "";
  EXPECT_EQ(std::make_pair(int{record.valid}, changed),
            std::make_pair(c.valid ? 1 : 0, c.changed[0] ? std::string(" ") + c.changed : ""));
  EXPECT_EQ(host.CountOf("Cpum") + host.CountOf("GetCPUInfo"), c.hostCalls);
}

const StoreCase kStores[] = {
    // Integers: atoi conversion, saturating, low bits into the field's width.
    {"Int16LowBits", 1, "70000", true, "24=70 25=11"},
    {"Int32Negative", 12, "-5", true, "4c=fb 4d=ff 4e=ff 4f=ff"},
    {"WhiteSpacePlusAndTrailingText", 12, " \t+42abc", true, "4c=2a 4d=00 4e=00 4f=00"},
    {"OverflowSaturatesHigh", 12, "99999999999", true, "4c=ff 4d=ff 4e=ff 4f=7f"},
    {"OverflowSaturatesLow", 12, "-99999999999", true, "4c=00 4d=00 4e=00 4f=80"},
    // Texts: value and its zero copied; bytes behind the zero keep what they held.
    {"TextAtLimit", 7, "ABCDEFGH", true, "34=41 35=42 36=43 37=44 38=45 39=46 3a=47 3b=48 3c=00"},
    {"TextOverLimitRejectedKeepsField", 7, "ABCDEFGHI", false, ""},
    {"TextOfRejectedTokenStored", 313, "X", true, "7b9=58 7ba=00"},
    // Keywords: whole string, value case ignored, first match in table order.
    {"KeywordLowerCase", 20, "restart", true, "3e=02 3f=00"},
    {"KeywordPrefixOfLonger", 78, "SERVER", true, "78a=00 78b=00"},
    {"KeywordLeadingBlank", 40, " YES", false, ""},
    // Bits: only the named bits of the word change.
    {"BitOnSets", 30, "on", true, "31e=ab"},
    {"BitOffClears", 31, "OFF", true, "31e=a8"},
    // Special tokens.
    {"T26System", 26, "system", true, "62=00 63=00"},
    {"T307OverflowIsInfinite", 307, "1e300", true, "c30=00 c31=00 c32=80 c33=7f"},
    {"T71ZeroFilled", 71, "AB", true, "454=41 455=42 456=00 457=00 458=00"},
    {"T605StoredAndRejected", 605, "7", false, "54=07 55=00"},
    {"T605WrapsIntoRange", 605, "65538", true, "54=02 55=00"},
    {"UnknownToken", 4711, "1", true, ""},
    {"CommitNeedsNoValue", kCommitToken, nullptr, true, "commit"},
    {"NullValue", 1, nullptr, false, ""},
    // Token 42 about -1 asks the host for the processor speed; other values are stored. Token
    // 306 "SYSTEM" stores 1 with more than one processor, 0 with one. A failing host rejects.
    {"T42NearMinusOneMeasured", 42, "-1.00005", true, "328=00 329=00 32a=80 32b=3e", 1},
    {"T42HostFails", 42, "-1", false, "328=00 329=00 32a=80 32b=bf", 1, 4, true},
    {"T42NotAboutMinusOne", 42, "-1.0001", true, "328=47 329=03 32a=80 32b=bf"},
    {"T306Several", 306, "System", true, "26=01 27=00", 1},
    {"T306One", 306, "System", true, "26=00 27=00", 1, 1},
    {"T306HostFails", 306, "System", false, "", 1, 4, true},
};
INSTANTIATE_TEST_SUITE_P(Tokens, ApplyStoreTest, testing::ValuesIn(kStores),
                         [](const auto& info) { return std::string(info.param.name); });

// A zeroed image of node kind kind with the fields of list set: "token=value" pairs split by
// '|'. Text tokens take the value as it stands, tokens 42 and 307 as a float, others as an
// integer stored in the field's width (so -1 fills a 16-bit field too).
ConfigFileImage ImageOf(uint16_t kind, const std::string& list) {
  sample::DbmBlockBuilder builder;
  builder.NodeType(kind);
  std::istringstream fields(list);
  for (std::string field; std::getline(fields, field, '|');) {
    const uint16_t token = static_cast<uint16_t>(std::stoi(field));
    const std::string value = field.substr(field.find('=') + 1);
    DbmField integer = kNoField;
    if (const TextToken* text = FindTextToken(token)) {
      builder.Set(text->field, value);
    } else if (!IntegerFieldOf(token, &integer)) {
      builder.Set(FindSpecialToken(token)->field, std::strtof(value.c_str(), nullptr));
    } else {
      builder.Set(integer, static_cast<double>(std::stoll(value)));
    }
  }
  return builder.Block();
}

// The verdict on one record of token (value only matters for token 92); allValid must agree.
bool Judge(const ConfigFileImage& image, uint16_t token, const char* value = "") {
  sqlf_cfg_parameter record{token, const_cast<char*>(value), 1};
  unsigned char allValid = 1;
  CheckConfigParameters(image, &record, 1, &allValid);
  EXPECT_EQ(record.valid, allValid) << "token " << token;
  return record.valid == 1;
}

struct RuleCase {
  const char* name;
  uint16_t kind, token;
  const char* fields;  // as ImageOf takes them
  bool accepted;
  const char* value = "";  // the record's own value (read by token 92 only)
};

class RuleTest : public testing::TestWithParam<RuleCase> {};

TEST_P(RuleTest, Verdict) {
  const RuleCase& c = GetParam();
  EXPECT_EQ(Judge(ImageOf(c.kind, c.fields), c.token, c.value), c.accepted)
      << "token " << c.token << " under kind " << c.kind << " with " << c.fields;
}

std::string RowName(const testing::TestParamInfo<RuleCase>& info) { return info.param.name; }

// Ranges of 16 and 32 bits, unsigned (where -1 is huge) or signed, with or without -1, bounded
// by another field, and what each node kind decides before the range is looked at.
const RuleCase kRules[] = {
    {"T12ZeroUnderKind2", 2, 12, "12=0", true},
    {"T12SetUnderKind2", 2, 12, "12=100", false},
    {"T12AboveTop", 3, 12, "12=64001", false},
    {"T1ZeroUnderKind0", 0, 1, "1=0", true},
    {"T1SetUnderKind0", 0, 1, "1=4096", false},
    {"T1BelowBottom", 5, 1, "1=4095", false},
    {"T20OneUnderKind2", 2, 20, "20=1", true},
    {"T20TwoUnderKind2", 2, 20, "20=2", false},
    {"T308OneUnderKind0", 0, 308, "308=1", false},  // 0 under kinds 0 and 2
    {"T508TopUnderKind4", 4, 508, "508=100", true},
    {"T508AboveTopUnderKind4", 4, 508, "508=101", false},
    {"T508SetUnderKind3", 3, 508, "508=1", false},  // set only under kind 4
    {"T45Top", 1, 45, "45=32768", true},            // the top of a 16-bit range need not be signed
    {"T45AboveTop", 1, 45, "45=32769", false},
    {"T26MinusOne", 1, 26, "26=-1", true},
    {"T26MinusTwo", 1, 26, "26=-2", false},
    {"T306SignedMinusOne", 1, 306, "306=-1", false},
    {"T35WordHighBit", 1, 35, "30=64", false},  // the word the bit tokens 29 to 35 share
    {"T49BelowField15", 1, 49, "49=299|15=300", false},
    {"T49Field15MinusOneIsHuge", 1, 49, "49=2|15=-1", false},
    {"T502MinusOne", 3, 502, "502=-1|12=100", true},
    {"T502AboveField12", 3, 502, "502=101|12=100", false},
    {"T604Kind0", 0, 604, "604=1", false},  // by kind alone
    {"T604Kind2", 2, 604, "604=1", true},
    // Floats: about -1 or a range; 0.0 under kind 2 (42) or unless kind 4 (307).
    {"T42MinusOne", 1, 42, "42=-1", true},
    {"T42Bottom", 0, 42, "42=1e-10", true},  // the float lies just above
    {"T42BelowBottom", 0, 42, "42=9.9e-11", false},
    {"T307Kind4BelowBottom", 4, 307, "307=0.05", false},
    {"T307Kind1MinusOne", 1, 307, "307=-1", false},
    // The agent limits: E is field 501 when set, else the remainder of field 12 after field 500.
    {"T13MinusOne", 3, 13, "13=-1", true},
    {"T13AnythingUnderKind2", 2, 13, "13=-7", true},
    {"T13Zero", 3, 13, "13=0|12=100|501=-1", false},
    {"T13AboveField501", 3, 13, "13=51|501=50|12=1000", false},
    {"T13AtRemainder", 3, 13, "13=70|501=-1|12=100|500=30", true},
    {"T13AboveRemainder", 3, 13, "13=71|501=-1|12=100|500=30", false},
    {"T13RemainderWraps", 3, 13, "13=5000|501=-1|12=10|500=30", true},
    {"T80Zero", 1, 80, "80=0|501=10", true},
    {"T80MinusTwo", 1, 80, "80=-2|501=10", false},
    {"T500AtField502", 3, 500, "500=700|502=700|12=10", true},
    {"T500AboveField502", 3, 500, "500=701|502=700|12=5000", false},
    {"T500Kind3AboveLimit", 3, 500, "500=21|502=-1|12=1000|303=5", false},
    {"T500AboveField12", 3, 500, "500=60|502=-1|12=50|303=100", false},
    {"T500Kind4ByProduct", 4, 500, "500=800|502=-1|12=1000|501=900|303=8", true},
    {"T500Kind4AboveProduct", 4, 500, "500=801|502=-1|12=1000|501=900|303=8", false},
    {"T500Kind4NoField501", 4, 500, "500=900|502=-1|12=1000|501=-1|303=0", true},
    {"T500Kind1Without306", 1, 500, "500=21|502=-1|12=1000|501=-1|303=1", false},
    {"T500Kind1With306", 1, 500, "500=300|502=-1|12=1000|501=-1|306=1|303=1", true},
    {"T501MinusOne", 3, 501, "501=-1|12=100", true},
    {"T501Part", 3, 501, "501=50|12=100", false},
    {"T501PartKind4", 4, 501, "501=50|12=100|500=50", true},
    {"T501PartKind4TooMuch", 4, 501, "501=50|12=100|500=51", false},
    {"T501PartWith306", 1, 501, "501=50|12=100|306=1", true},
    {"T601AboveField80", 1, 601, "601=41|80=40", false},
    {"T601ByField501", 1, 601, "601=11|80=-1|501=10", false},
    {"T601ByRemainder", 1, 601, "601=70|80=-1|501=-1|12=100|500=30", true},
    {"T601Negative", 1, 601, "601=-1|80=5", false},
    {"T701AboveTop", 3, 701, "701=64001|501=100", false},
    {"T701BelowField501", 3, 701, "701=99|501=100", false},
    {"T701BelowRemainder", 3, 701, "701=69|501=-1|12=100|500=30", false},
    {"T701AtRemainder", 3, 701, "701=70|501=-1|12=100|500=30", true},
    // Names, the kinds that may hold a text, DCE texts, protocol lists.
    {"T7TrailingBlanks", 1, 7, "7=AB#1  ", true},
    {"T7DigitFirst", 1, 7, "7=1ABC", false},
    {"T24KindAboveFive", 6, 24, "24=X", false},
    {"T27Kind2", 2, 27, "27=X", false},
    {"T25Allowed", 1, 25, "25=node.name$#@9", true},
    {"T25Hyphen", 1, 25, "25=a-b", false},
    {"T74LocalPrefix", 1, 74, "73=1|74=/.:/cell", true},
    {"T74CellAlone", 1, 74, "73=1|74=cell", false},
    {"T74Field73Two", 1, 74, "73=2|74=cell", true},
    {"T75BothSet", 1, 75, "73=1|74=/.:/c|75=p", true},
    {"T75PrincipalMissing", 1, 75, "73=2|74=/.:/c", false},
    {"T77CommaBlank", 1, 77, "77=TCPIP, NETBIOS", true},
    {"T77LowerCase", 1, 77, "77=tcpip", false},
    {"T77LongerThanName", 1, 77, "77=TCPIPX", false},
    {"T305Kind0Set", 0, 305, "305=TCPIP", false},
    {"T305BadSearch", 1, 305, "304=3", false},
    {"T305Appc", 1, 305, "305=APPC", false},
    {"T305MixedCase", 3, 305, "305=netbios,Ipx  tcp", true},
    {"T92SetUnderKind2", 2, 92, "92=ABC", false, "ABC"},
    {"T92EmptyFieldAnyValue", 1, 92, "", true, "1 BAD"},
    {"T92NineCharacters", 1, 92, "92=X", false, "ABCDEFGHI"},
    {"T92ValueNotField", 1, 92, "92=1BAD", true, "GOOD"},
};
INSTANTIATE_TEST_SUITE_P(Rules, RuleTest, testing::ValuesIn(kRules), RowName);

// Lengths count to the zero or, for a file that carries a text without its zero, the whole
// field width.
TEST(TextRuleTest, LengthsCountToTheZeroOrTheWholeWidth) {
  const std::string cell = "74=" + std::string(200, 'c');
  EXPECT_TRUE(Judge(ImageOf(1, cell + "|75=" + std::string(55, 'p')), 75));
  EXPECT_FALSE(Judge(ImageOf(1, cell + "|75=" + std::string(56, 'p')), 75));
  EXPECT_TRUE(Judge(ImageOf(2, "65=" + std::string(215, 'x')), 65));
  auto unterminated = [](const DbmField& field) {
    return sample::DbmBlockBuilder()
        .Bytes(field.offset, std::vector<unsigned char>(field.width, 'A'))
        .Block();
  };
  EXPECT_FALSE(Judge(unterminated(FindTextToken(65)->field), 65));
}

using Bytes = std::vector<unsigned char>;
using sample::DbmBlockBuilder;

constexpr char kFolder[] = "C:\\INST";
constexpr char kConfig[] = "C:\\INST\\qz7systm";

// sqlfvald on records "TOKEN=VALUE ..." (9999 is the commit token; no count: all of them):
// its result and each record's verdict ('7' where none was written) as "RESULT VERDICTS".
std::string Validate(const std::string& list, const char* path = kConfig,
                     std::optional<int> count = {}) {
  std::istringstream items(list);
  std::deque<std::string> values;  // stays in place while the records point into it
  std::vector<sqlf_cfg_parameter> records;
  for (std::string item; items >> item;) {
    values.push_back(item.substr(item.find('=') + 1));
    records.push_back({static_cast<uint16_t>(std::stoi(item)), values.back().data(), 7});
  }
  const int result = sqlfvald(records.data(), const_cast<char*>(path),
                              count.value_or(static_cast<int>(records.size())));
  std::string text = std::to_string(result) + " ";
  for (const sqlf_cfg_parameter& record : records) text += std::to_string(record.valid);
  return text;
}

// A valid kind-1 configuration: field 12 is 100, field 501 is -1.
DbmBlockBuilder Kind1() {
  return DbmBlockBuilder().NodeType(1).Set(base::dbm::kParam12, 100).Set(base::dbm::kParam501, -1);
}

class SqlfvaldTest : public testing::Test {
 protected:
  void SetUp() override { Reset(original_); }
  void TearDown() override {
    platform::ClearFaultPlan();
    EXPECT_EQ(platform::SetCurrentDirectoryText("C:\\"), 0);
  }

  // A fresh folder holding only the configuration file. The folder itself stays: it may be the
  // current one, and Windows removes no folder that is a process's current folder.
  void Reset(const Bytes& file) {
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator(machine_.HostPath(kFolder), error)) {
      std::filesystem::remove_all(entry.path());
    }
    machine_.WriteFile(kConfig, file);
  }
  // The contents of the files in the folder beside the configuration file.
  std::vector<Bytes> Others() const {
    std::vector<Bytes> others;
    for (const std::string& name : machine_.Entries(kFolder))
      if (name != "qz7systm") others.push_back(machine_.ReadFile("C:\\INST\\" + name));
    return others;
  }
  // The file holds the old or the committed content in full; if it is absent (between the two
  // renames), the old content waits complete under a numbered name beside it.
  bool AbsentWithOldContentBeside(const Bytes& committed) {
    if (!machine_.Exists(kConfig)) {
      EXPECT_GE(std::ranges::count(Others(), original_), 1);
      return true;
    }
    const Bytes atPath = machine_.ReadFile(kConfig);
    EXPECT_TRUE(atPath == original_ || atPath == committed);
    return false;
  }

  testkit::TempMachine machine_;
  const Bytes original_ = Kind1().WrongChecksum(5).Bytes();  // its checksum stale
};

// A missing file, and an unknown token refusing a commit, are the C caller's checks: bad
// input touches no record and no file.
TEST_F(SqlfvaldTest, BadInputTouchesNothingAndResultsVerdictsAndTheFileLeft) {
  const std::string records = "12=100 9999=";
  EXPECT_EQ(Validate(records, nullptr), "-100 77");
  EXPECT_EQ(Validate(records, kConfig, 0), "0 77");  // the file is only read
  EXPECT_EQ(Validate(records, kConfig, -5), "0 77");
  EXPECT_EQ(sqlfvald(nullptr, const_cast<char*>(kConfig), 3), 0);
  for (uint64_t n = 1; n <= 2; ++n) {  // a failing open or read of an existing file
    platform::SetFaultPlan({n, platform::kErrorReadFault});
    EXPECT_EQ(Validate(records), "-100 77") << n;
    platform::ClearFaultPlan();
  }
  EXPECT_EQ(machine_.ReadFile(kConfig), original_);
  EXPECT_TRUE(Others().empty());

  // Every record is judged on the final image, so a later record of a token decides for the
  // earlier ones; a rejected record refuses the commit (-104) and leaves the file untouched.
  // A commit writes the whole 4096-byte image with a fresh checksum, whatever size the file
  // had.
  const DbmBlockBuilder kind3 = DbmBlockBuilder().NodeType(3).Set(base::dbm::kParam12, 100);
  const Bytes kind3Committed =
      DbmBlockBuilder(kind3).Set(base::dbm::kParam40, 1).Bytes();  // 40=YES
  const struct {
    const char* name;
    Bytes before;
    size_t size;  // of the file before, cut or extended with 0x77
    const char *records, *outcome;
    Bytes after;
  } rows[] = {
      {"no_commit_later_record_decides", original_, 4096, "12=200 12=x 4711=1 40=maybe", "0 0000",
       original_},
      {"commit_first_later_record_decides", original_, 4096,
       "9999= 12=70000 12=200 40=yes 7=NEWNODE", "0 11111",
       Kind1()
           .Set(base::dbm::kParam12, 200)
           .Set(base::dbm::kParam7, "NEWNODE")
           .Set(base::dbm::kParam40, 1)
           .Bytes()},
      {"later_record_refuses_commit", original_, 4096, "12=200 12=70000 9999=", "-104 001",
       original_},
      // 313 and 507 are always rejected, 39 and 71 untested; a record the apply step rejected
      // (a name too long to store) stays rejected.
      {"check_after_apply", original_, 4096,
       "313=X 507= 39=1 71=AB 7=TOOLONGNAME 9999=", "-104 001101", original_},
      {"file_of_100_bytes", kind3.Bytes(), 100, "40=YES 9999=", "0 11", kind3Committed},
      {"file_of_5000_bytes", kind3.Bytes(), 5000, "40=YES 9999=", "0 11", kind3Committed},
  };
  for (const auto& row : rows) {
    Bytes before = row.before;
    before.resize(row.size, 0x77);
    Reset(before);
    EXPECT_EQ(Validate(row.records, "c:\\inst\\QZ7SYSTM"), row.outcome) << row.name;
    EXPECT_EQ(machine_.ReadFile(kConfig), row.after) << row.name;  // its spelling kept
    EXPECT_TRUE(Others().empty()) << row.name;
  }
}

// Fails every file operation of a committing call in turn (once, then from there on), then ends
// the process at each: the file at its path is never partly written, and a result of 0 means
// the committed content is there and on the disk. The same whether the path is full, relative
// to the current directory, or relative to the current directory of its drive ("C:qz7systm"):
// the new content is always staged beside the file and moved over it. A staging file that a
// stopped commit left behind is taken over by the next commit, which leaves nothing beside.
TEST_F(SqlfvaldTest, FailureOrCrashAtAnyOperationLeavesOldOrNewFile) {
  Reset(original_);
  ASSERT_EQ(platform::SetCurrentDirectoryText(kFolder), 0);
  for (const char* path : {kConfig, "C:qz7systm", "qz7systm"}) {
    SCOPED_TRACE(path);
    // From a fresh folder holding the original, a committing call on the file named by path
    // (C:\INST\qz7systm in any form, the current directory being C:\INST).
    const auto prepare = [&] { Reset(original_); };
    int result = 0;
    const auto run = [&] { result = std::stoi(Validate("12=200 9999=", path)); };
    const uint64_t operations = testkit::CountOperations(prepare, run);
    ASSERT_EQ(result, 0);
    const Bytes committed = machine_.ReadFile(kConfig);
    EXPECT_TRUE(Others().empty());
    ASSERT_GE(operations, 6u);
    for (bool repeat : {false, true}) {
      testkit::FaultAtEveryPoint(
          operations,
          testkit::Failing(platform::kErrorDiskFull, platform::kAllOperationKinds, repeat),
          {prepare, run, [&](uint64_t n) {
             ASSERT_TRUE(result == 0 || result == -100) << result;
             if (AbsentWithOldContentBeside(committed)) {
               EXPECT_TRUE(repeat && result == -100);  // the rename and the rename back failed
             } else if (n == operations) {
               // The sync of the folder after the replacement: the new content is in place but
               // not known to survive a power cut, so the commit is not reported done.
               EXPECT_EQ(result, -100);
               EXPECT_EQ(machine_.ReadFile(kConfig), committed);
             } else {
               EXPECT_EQ(machine_.ReadFile(kConfig), result == 0 ? committed : original_);
             }
           }});
    }
    GTEST_FLAG_SET(death_test_style, "fast");
    int absentWindows = 0;
    testkit::FaultAtEveryPoint(operations, testkit::Killed(),
                               {prepare, run, [&](uint64_t) {
                                  absentWindows += AbsentWithOldContentBeside(committed);
                                  // The next commit finds whatever the stopped one left and
                                  // leaves only its file.
                                  EXPECT_EQ(Validate("12=200 9999=", path), "0 11");
                                  EXPECT_EQ(machine_.ReadFile(kConfig), committed);
                                  EXPECT_TRUE(Others().empty());
                                }});
    EXPECT_LE(absentWindows, 1);
  }
}

}  // namespace
}  // namespace qz7::config
