#include "util/setup_messages.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "base/multibyte.h"
#include "platform/messages.h"
#include "util/setup_log.h"

namespace qz7::util {
namespace {

// Turns %s, %S, %d and %D into %1, %2, ... in order of appearance; from the tenth on, the
// first digit of the counter's decimal text is used.
void RenumberPlaceholders(char* text) {
  int counter = 1;
  for (char* p = base::FindCharMB(text, '%'); p != nullptr; p = base::FindCharMB(p + 1, '%')) {
    char next = p[1];
    if (next == 's' || next == 'S' || next == 'd' || next == 'D') {
      p[1] = std::to_string(counter)[0];
      ++counter;
      ++p;  // the digit just written is not a '%'
    }
  }
}

}  // namespace

int InsertMessageParams(const char* const* params, int paramCount, const char* text, char* output,
                        int outputSize, int* outputLength) {
  if (paramCount > kMaxMessageParams) return kInsertTooManyParams;
  if (text == nullptr) text = "";
  int length = static_cast<int>(std::strlen(text));
  if (length >= outputSize) {
    *outputLength = 0;
    if (outputSize > 0) output[0] = '\0';
    return kInsertTooLong;
  }
  std::memcpy(output, text, static_cast<size_t>(length) + 1);
  *outputLength = length;
  if (paramCount <= 0 || params == nullptr) return kInsertOk;

  char* p = base::FindCharMB(output, '%');
  while (p != nullptr) {
    int d = p[1] - '1';
    if (d >= 0 && d < paramCount && params[d] != nullptr) {
      const int paramLength = static_cast<int>(std::strlen(params[d]));
      const int newLength = *outputLength + paramLength - 2;
      if (newLength >= outputSize) {
        *outputLength = 0;
        output[0] = '\0';
        return kInsertTooLong;
      }
      // Move the rest of the text (with its terminator) to make room, then insert.
      char* rest = p + 2;
      std::memmove(p + paramLength, rest, std::strlen(rest) + 1);
      std::memcpy(p, params[d], static_cast<size_t>(paramLength));
      *outputLength = newLength;
      p = base::FindCharMB(p + paramLength, '%');
    } else {
      p = base::FindCharMB(p + 1, '%');
    }
  }
  return kInsertOk;
}

int ShowSetupMessage(unsigned messageId, int paramCount, const char* const* params,
                     unsigned boxStyle, QZ7_LOG_FILE logFile, QZ7_MODULE messageModule,
                     QZ7_OWNER ownerWindow) {
  if (messageModule == nullptr) return 0;

  char loaded[kMessageBufferSize] = {};
  char message[kMessageBufferSize] = {};
  int result = kInsertOk;
  if (platform::LoadStringA(messageModule, messageId, loaded, kMessageBufferSize) > 0) {
    if (paramCount > 0) {
      RenumberPlaceholders(loaded);
      int length = 0;
      result =
          InsertMessageParams(params, paramCount, loaded, message, kMessageOutputSize, &length);
      if (result == kInsertTooManyParams) {
        std::snprintf(message, sizeof message, kBadParamCountText, paramCount);
      } else if (result == kInsertTooLong) {
        message[0] = '\0';
      }
    } else {
      std::memcpy(message, loaded, sizeof message);
    }
  } else {
    std::snprintf(message, sizeof message, kMissingMessageText, messageId);
    boxStyle = kBoxStop;
  }

  char title[kMessageTitleSize] = {};
  if (platform::LoadStringA(messageModule, kTitleMessageId, title, kMessageTitleSize) <= 0) {
    std::snprintf(title, sizeof title, "%s", kFallbackTitle);
  }
  if (logFile != nullptr) AppendLogLine(*logFile, message);
  if (ownerWindow != nullptr) return platform::MessageBoxA(ownerWindow, message, title, boxStyle);
  return result;
}

}  // namespace qz7::util
