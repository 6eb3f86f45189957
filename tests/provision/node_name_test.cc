// The default node name derived from the computer's name and the number of instances.
#include "provision/node_name.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "host/host_services.h"
#include "testkit/recording_host.h"

namespace qz7::provision {
namespace {

TEST(NamesDifferNoCase, Table) {
  struct Case {
    const char* a;
    const char* b;
    int expected;
  } cases[] = {
      {"QZ7", "qz7", 0},  {"QZ7", "QZ7", 0}, {"QZ7", "QZ8", 1}, {"QZ7", "QZ71", 1},
      {"QZ71", "QZ7", 1}, {"", "", 0},       {"", "A", 1},      {nullptr, "", 0},
      {"a_b", "A_B", 0},  {"a-b", "A_B", 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NamesDifferNoCase(c.a, c.b), c.expected)
        << (c.a ? c.a : "null") << " / " << (c.b ? c.b : "null");
  }
}

struct NodeNameCase {
  const char* name;
  std::vector<std::string> instances;
  std::optional<std::string> adminServer;
  std::string computerName;
  std::optional<std::string> charset;
  std::string expected;
};

TEST(MakeDefaultNodeName, Table) {
  const std::string noDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_";
  const std::string noLowerD = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_";
  // clang-format off
  const NodeNameCase cases[] = {
      {"one instance: no suffix", {"QZ7"}, std::nullopt, "WORKSTATION1", std::nullopt, "WORKSTAT"},
      {"no instances", {}, std::nullopt, "HOST", std::nullopt, "HOST"},
      {"two instances: suffix 1", {"A", "B"}, std::nullopt, "WORKSTATION1", std::nullopt,
       "WORKSTA1"},
      {"three besides the admin server: suffix 2", {"A", "DAS", "B", "C"}, "DAS", "WORKSTATION1",
       std::nullopt, "WORKSTA2"},
      {"admin server compared without case", {"A", "das", "B", "C"}, "DAS", "WORKSTATION1",
       std::nullopt, "WORKSTA2"},
      {"one besides the admin server", {"DAS", "QZ7"}, "DAS", "WORKSTATION1", std::nullopt,
       "WORKSTAT"},
      {"admin server unreadable: all count", {"A", "DAS", "B", "C"}, std::nullopt,
       "WORKSTATION1", std::nullopt, "WORKSTA3"},
      {"eleven instances: two-digit suffix",
       {"I1", "I2", "I3", "I4", "I5", "I6", "I7", "I8", "I9", "I10", "I11"}, std::nullopt,
       "WORKSTATION1", std::nullopt, "WORKST10"},
      {"short name keeps its length", {"A", "B"}, std::nullopt, "pc", std::nullopt, "PC1"},
      {"dotted host keeps its first label", {}, std::nullopt, "myhost.example.com",
       std::nullopt, "MYHOST"},
      {"leading digit", {}, std::nullopt, "1server", std::nullopt, "dSERVER"},
      {"leading digit with suffix", {"A", "B", "C"}, std::nullopt, "9lives", std::nullopt,
       "dLIVES2"},
      {"leading hyphen", {}, std::nullopt, "-x", std::nullopt, "dX"},
      {"characters outside the set", {}, std::nullopt, "ab-c+d", std::nullopt, "AB_C_D"},
      {"first character is never replaced", {}, std::nullopt, "1x", noLowerD, "dX"},
      {"suffix digit outside the set", {"A", "B"}, std::nullopt, "HOST", noDigits, "HOST_"},
      {"empty computer name", {}, std::nullopt, "", std::nullopt, "d"},
      {"name that is only a point", {}, std::nullopt, ".lan", std::nullopt, "d"},
  };
  // clang-format on
  for (const NodeNameCase& c : cases) {
    SCOPED_TRACE(c.name);
    testkit::RecordingHost host;
    testkit::ScopedHost scoped(&host);
    for (const std::string& instance : c.instances) host.DefineInstance(instance);
    if (c.adminServer) host.SetVariable(host::kGlobalProfile, "QZ7ADMINSERVER", *c.adminServer);
    host.productComputerName = c.computerName;
    if (c.charset) host.permittedCharset = *c.charset;
    char out[kNodeNameSize] = "unset";
    ASSERT_EQ(MakeDefaultNodeName(out), 0);
    EXPECT_EQ(std::string(out), c.expected);
    EXPECT_EQ(host.CountOf("ProIfTerm"), 1);
  }
}

TEST(MakeDefaultNodeName, FailedProductQueryLeavesTheNameAlone) {
  struct Case {
    const char* name;
    const char* failing;
    int termCalls;  // the query is ended whenever it was begun
  } cases[] = {{"init fails", "ProIfInit", 0}, {"query fails", "ProIfQuery", 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testkit::RecordingHost host;
    testkit::ScopedHost scoped(&host);
    host.ScriptResult(c.failing, -77);
    char out[kNodeNameSize] = "KEEPME";
    EXPECT_EQ(MakeDefaultNodeName(out), -77);
    EXPECT_STREQ(out, "KEEPME");
    EXPECT_EQ(host.CountOf("ProIfTerm"), c.termCalls);
  }
}

TEST(MakeDefaultNodeName, AsksTheProductQueryWithCode3) {
  testkit::RecordingHost host;
  testkit::ScopedHost scoped(&host);
  char out[kNodeNameSize];
  ASSERT_EQ(MakeDefaultNodeName(out), 0);
  EXPECT_EQ(host.CallsTo("ProIfInit"), std::vector<std::string>{"ProIfInit(3)"});
  EXPECT_EQ(host.CallsTo("PRegValue"),
            std::vector<std::string>{"PRegValue(3, 32, 0, <out:260>, \"QZ7GLOBALPF\")"});
}

}  // namespace
}  // namespace qz7::provision
