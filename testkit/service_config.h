// The configuration of an open service as QueryServiceConfigA gives it through its two-call
// protocol: the size it needs first (a call without a buffer fails with
// ERROR_INSUFFICIENT_BUFFER and reports it), then the call with that size, whose texts all lie
// inside the caller's buffer and which writes nothing past the size it asked for.
//
//   ServiceConfigTexts config = QueryServiceConfigTexts(service);
//   EXPECT_EQ(config.failedSteps, "");
//   EXPECT_EQ(config.program, "C:\\QZ7\\bin\\qz7syscs.exe");
#ifndef QZ7_TESTKIT_SERVICE_CONFIG_H_
#define QZ7_TESTKIT_SERVICE_CONFIG_H_

#include <cstdint>
#include <string>

#include "platform/services.h"

namespace qz7::testkit {

struct ServiceConfigTexts {
  std::string program, account, displayName;
  uint32_t sizeNeeded = 0;
  // The rules of the protocol that the calls broke, one a line: a test expects "".
  std::string failedSteps;
};

ServiceConfigTexts QueryServiceConfigTexts(platform::ScHandle service);

}  // namespace qz7::testkit

#endif  // QZ7_TESTKIT_SERVICE_CONFIG_H_
