// Numbered setup messages: loaded from the caller's message module, filled with up to nine
// parameters, appended to the caller's setup log and shown in a message box.
#ifndef QZ7_UTIL_SETUP_MESSAGES_H_
#define QZ7_UTIL_SETUP_MESSAGES_H_

#include <cstddef>

#include "qz7instm.h"

namespace qz7::util {

constexpr int kMessageBufferSize = 1024;
constexpr int kMessageOutputSize = 1023;  // the filled text holds at most 1022 characters
constexpr int kMessageTitleSize = 256;
constexpr int kMaxMessageParams = 9;

constexpr unsigned kBoxNone = 0x00;
constexpr unsigned kBoxStop = 0x10;
constexpr unsigned kBoxInformation = 0x40;

constexpr unsigned kTitleMessageId = 3612;
constexpr const char* kFallbackTitle = "ZAV QZ7 Setup";
constexpr const char* kMissingMessageText = "Unable to load message %d";
constexpr const char* kBadParamCountText = "InsertMessage: Invalid number of parameters %d";

constexpr int kInsertOk = 0;
constexpr int kInsertTooManyParams = 1;
constexpr int kInsertTooLong = 2;

// Fills %1..%9 in text with params into output (outputSize bytes). Returns 0, 1 for more than
// nine parameters, or 2 when the result would not fit (outputLength is then 0). A '%' that
// a parameter brings in is never expanded; a marker whose parameter is null stays in place.
int InsertMessageParams(const char* const* params, int paramCount, const char* text, char* output,
                        int outputSize, int* outputLength);

// Shows message messageId. Returns the box answer when a box is shown (ownerWindow not null),
// otherwise the insertion result (0, 1 or 2). A null module does nothing and returns 0.
int ShowSetupMessage(unsigned messageId, int paramCount, const char* const* params,
                     unsigned boxStyle, QZ7_LOG_FILE logFile, QZ7_MODULE messageModule,
                     QZ7_OWNER ownerWindow);

}  // namespace qz7::util

#endif  // QZ7_UTIL_SETUP_MESSAGES_H_
