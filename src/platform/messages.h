// Message modules (numbered string tables) and message boxes.
//
// A message module is loaded from a text file: one string per line, "NUMBER TEXT" (the number,
// one blank, the text to the end of the line; "\n" in the text stands for a line break).
// Blank lines and lines starting with '#' are skipped. The public header's qz7_message_module
// and qz7_owner_window are the handle types.
#ifndef QZ7_PLATFORM_MESSAGES_H_
#define QZ7_PLATFORM_MESSAGES_H_

#include <cstdint>
#include <string>

#include "qz7instm.h"

namespace qz7::platform {

// Loads a module from a host file; null (last error set) when it cannot be read.
QZ7_MODULE LoadMessageModule(const std::string& hostPath);
void FreeMessageModule(QZ7_MODULE module);

// LoadStringA: copies string id into buffer (cut to bufferMax - 1, always terminated) and
// returns its length; 0 when the module has no such string or the module is null.
int LoadStringA(QZ7_MODULE module, uint32_t id, char* buffer, int bufferMax);

constexpr uint32_t kMbOk = 0x0;
constexpr uint32_t kMbIconStop = 0x10;
constexpr uint32_t kMbIconInformation = 0x40;
constexpr int kIdOk = 1;

// MessageBoxA: calls the owner's callback and returns its answer; kIdOk when the owner has no
// callback; 0 for a null owner.
int MessageBoxA(QZ7_OWNER owner, const char* text, const char* caption, uint32_t style);

}  // namespace qz7::platform

#endif  // QZ7_PLATFORM_MESSAGES_H_
