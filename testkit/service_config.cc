#include "testkit/service_config.h"

#include <cstring>
#include <vector>

#include "platform/win_error.h"

namespace qz7::testkit {

ServiceConfigTexts QueryServiceConfigTexts(platform::ScHandle service) {
  using namespace platform;
  ServiceConfigTexts texts;
  const auto rule = [&texts](bool kept, const char* name) {
    if (!kept) texts.failedSteps += std::string(name) + "\n";
    return kept;
  };
  uint32_t needed = 0;
  rule(!QueryServiceConfigA(service, nullptr, 0, &needed) &&
           GetLastError() == kErrorInsufficientBuffer,
       "a call without a buffer reports the size it needs");
  texts.sizeNeeded = needed;
  if (!rule(needed > sizeof(QueryServiceConfig), "the size needed holds the texts")) return texts;
  std::vector<char> buffer(needed + 16, '\x7f');
  auto* config = reinterpret_cast<QueryServiceConfig*>(buffer.data());
  if (!rule(QueryServiceConfigA(service, config, needed, &needed), "the call with that size"))
    return texts;
  for (const char* text : {config->binaryPathName, config->serviceStartName, config->displayName,
                           config->loadOrderGroup, config->dependencies}) {
    rule(text >= buffer.data() + sizeof(QueryServiceConfig) &&
             text + std::strlen(text) < buffer.data() + needed,
         "every text lies inside the buffer");
  }
  rule(buffer[needed] == '\x7f', "nothing written past the size asked for");
  texts.program = config->binaryPathName;
  texts.account = config->serviceStartName;
  texts.displayName = config->displayName;
  return texts;
}

}  // namespace qz7::testkit
