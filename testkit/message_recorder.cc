#include "testkit/message_recorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <stdexcept>

#include "platform/messages.h"
#include "testkit/sample_machine.h"

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

}  // namespace

MessageRecorder::MessageRecorder() {
  namespace fs = std::filesystem;
  std::string pattern = (fs::temp_directory_path() / "qz7-messages-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  directory_ = pattern;
  const std::string modulePath = directory_ + "/QZ7SETUP.MSG";
  {
    std::ofstream out(modulePath, std::ios::binary);
    for (const auto& [number, text] : SetupMessageTexts()) out << number << " " << text << "\n";
  }
  module_ = platform::LoadMessageModule(modulePath);
  logFd_ = open((directory_ + "/setup.log").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (module_ == nullptr || logFd_ < 0) throw std::runtime_error("message recorder set-up");
  owner_ = {&MessageRecorder::OnBox, this};
}

MessageRecorder::~MessageRecorder() {
  platform::FreeMessageModule(module_);
  if (logFd_ >= 0) close(logFd_);
  std::error_code ignored;
  std::filesystem::remove_all(directory_, ignored);
}

int MessageRecorder::OnBox(void* self, const char* text, const char* /*title*/, unsigned style) {
  auto* recorder = static_cast<MessageRecorder*>(self);
  Box box;
  box.text = text;
  box.style = style;
  for (const auto& [number, message] : SetupMessageTexts()) {
    if (MatchMessage(message, box.text, &box.params)) {
      box.id = number;
      break;
    }
  }
  if (box.id == 0) box.params.clear();
  recorder->boxes_.push_back(box);
  return 1;
}

std::vector<std::string> MessageRecorder::LogLines() const {
  std::ifstream in(directory_ + "/setup.log", std::ios::binary);
  std::string all{std::istreambuf_iterator<char>(in), {}};
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = all.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(all.substr(start, end - start));
  }
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
