#include "testkit/message_recorder.h"

#if defined(_WIN32)
#include <windows.h>

#include <cstring>
#include <mutex>
#include <set>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <stdexcept>

#include "platform/messages.h"
#include "tools/sample/sample_machine.h"

namespace qz7::testkit {
namespace {

// Matches text against a message with %1..%9 markers; on a match the parameters in order.
bool MatchMessage(const std::string& message, const std::string& text,
                  std::vector<std::string>* params) {
  std::string pattern = "^";
  std::vector<int> order;
  for (size_t i = 0; i < message.size(); ++i) {
    if (message[i] == '%' && i + 1 < message.size() && message[i + 1] >= '1' &&
        message[i + 1] <= '9') {
      pattern += "(.*)";
      order.push_back(message[i + 1] - '0');
      ++i;
      continue;
    }
    if (std::string("\\^$.|?*+()[]{}").find(message[i]) != std::string::npos) pattern += '\\';
    pattern += message[i];
  }
  std::smatch match;
  if (!std::regex_match(text, match, std::regex(pattern + "$"))) return false;
  int highest = 0;
  for (int n : order) highest = std::max(highest, n);
  params->assign(static_cast<size_t>(highest), std::string());
  for (size_t i = 0; i < order.size(); ++i) (*params)[order[i] - 1] = match[i + 1].str();
  return true;
}

#if defined(_WIN32)
using MessageBoxFunction = int(WINAPI*)(HWND, LPCSTR, LPCSTR, UINT);

std::mutex recordersLock;
std::set<MessageRecorder*> recorders;  // the live recorders: their addresses are the owners
MessageBoxFunction systemMessageBox = nullptr;

int (*recordBox)(void*, const char*, const char*, unsigned) = nullptr;

int WINAPI RecordingMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
  {
    std::lock_guard<std::mutex> hold(recordersLock);
    auto* recorder = reinterpret_cast<MessageRecorder*>(owner);
    if (recorders.count(recorder) != 0) return recordBox(recorder, text, caption, style);
  }
  return systemMessageBox(owner, text, caption, style);
}

// Points this program's import of USER32.DLL!MessageBoxA at RecordingMessageBox, once: the
// library's calls go through that import (this program links the library's code in).
void RedirectMessageBoxes() {
  static const bool redirected = [] {
    auto* base = reinterpret_cast<unsigned char*>(GetModuleHandleA(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return false;
    bool found = false;
    for (auto* module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         module->Name != 0; ++module) {
      if (_stricmp(reinterpret_cast<const char*>(base + module->Name), "user32.dll") != 0 ||
          module->OriginalFirstThunk == 0) {
        continue;
      }
      auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->OriginalFirstThunk);
      auto* addresses = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
      for (; names->u1.AddressOfData != 0; ++names, ++addresses) {
        if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
        const auto* byName =
            reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
        if (std::strcmp(reinterpret_cast<const char*>(byName->Name), "MessageBoxA") != 0) continue;
        DWORD protection = 0;
        if (!VirtualProtect(&addresses->u1.Function, sizeof addresses->u1.Function, PAGE_READWRITE,
                            &protection)) {
          return false;
        }
        systemMessageBox = reinterpret_cast<MessageBoxFunction>(addresses->u1.Function);
        addresses->u1.Function = reinterpret_cast<ULONG_PTR>(&RecordingMessageBox);
        static_cast<void>(VirtualProtect(&addresses->u1.Function, sizeof addresses->u1.Function,
                                         protection, &protection));  // written already
        found = true;
      }
    }
    return found;
  }();
  if (!redirected) throw std::runtime_error("this program imports no MessageBoxA to record");
}
#endif

}  // namespace

MessageRecorder::MessageRecorder() {
  directory_ = sample::MakeTempDirectory("qz7-messages-");
#if defined(_WIN32)
  // The resource library of the English texts, built beside the test programs.
  const std::string modulePath = (std::filesystem::path(sample::OwnProgramPath()).parent_path() /
                                  sample::kMessageLibraryFileName)
                                     .string();
  RedirectMessageBoxes();
#else
  const std::string modulePath = directory_ + "/QZ7SETUP.MSG";
  {
    std::ofstream out(modulePath, std::ios::binary);
    for (const auto& [number, text] : sample::SetupMessageTexts())
      out << number << " " << text << "\n";
  }
  owner_ = {&MessageRecorder::OnBox, this};
#endif
  module_ = platform::LoadMessageModule(modulePath);
  log_ = std::make_unique<sample::CallerLogFile>();
  if (module_ == nullptr || !log_->Open(directory_ + "/setup.log", true)) {
    platform::FreeMessageModule(module_);
    log_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
    throw std::runtime_error("message recorder set-up: " + modulePath);
  }
#if defined(_WIN32)
  std::lock_guard<std::mutex> hold(recordersLock);
  recordBox = &MessageRecorder::OnBox;
  recorders.insert(this);
#endif
}

MessageRecorder::~MessageRecorder() {
#if defined(_WIN32)
  {
    std::lock_guard<std::mutex> hold(recordersLock);
    recorders.erase(this);
  }
#endif
  platform::FreeMessageModule(module_);
  log_.reset();  // closed first: Windows removes no open file
  std::error_code ignored;
  std::filesystem::remove_all(directory_, ignored);
}

int MessageRecorder::OnBox(void* self, const char* text, const char* /*title*/, unsigned style) {
  Box box;
  box.text = text;
  box.style = style;
  for (const auto& [number, message] : sample::SetupMessageTexts()) {
    if (MatchMessage(message, box.text, &box.params)) {
      box.id = number;
      break;
    }
  }
  if (box.id == 0) box.params.clear();
  static_cast<MessageRecorder*>(self)->boxes_.push_back(std::move(box));
  return platform::kIdOk;
}

#if defined(_WIN32)
QZ7_OWNER MessageRecorder::owner() {
  // Window handles are small numbers, never the address of an object on the heap.
  return reinterpret_cast<QZ7_OWNER>(this);
}
#else
QZ7_OWNER MessageRecorder::owner() { return &owner_; }
#endif

std::vector<std::string> MessageRecorder::LogLines() const {
  std::ifstream in(directory_ + "/setup.log", std::ios::binary);
  std::string all{std::istreambuf_iterator<char>(in), {}};
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = all.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(all.substr(start, end - start));
  if (start < all.size()) lines.push_back(all.substr(start));
  return lines;
}

void PrintTo(const MessageRecorder::Box& box, std::ostream* out) {
  *out << "{" << box.id << ", {";
  for (size_t i = 0; i < box.params.size(); ++i)
    *out << (i ? ", " : "") << '"' << box.params[i] << '"';
  *out << "}, 0x" << std::hex << box.style << std::dec << ", \"" << box.text << "\"}";
}

}  // namespace qz7::testkit
