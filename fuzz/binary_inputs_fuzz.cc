// libFuzzer target for every reader of outside bytes: the qz7systm conversion, the old
// instance index file, sqlfvald's records and configuration file, and the registry file.
// The first input byte chooses the reader; the rest is the file (and records) it reads.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "entry/existing_instance_scan.h"
#include "fuzz/memory_machine.h"
#include "platform/registry.h"
#include "qz7instm.h"
#include "testkit/recording_host.h"
#include "testkit/temp_machine.h"
#include "upgrade/dbm_configuration_conversion.h"

namespace {

using Bytes = std::vector<unsigned char>;

qz7::testkit::TempMachine& Machine() { return qz7::fuzz::MemoryMachine(); }

void ConvertPair(const Bytes& input) {
  const size_t half = input.size() / 2;
  Machine().WriteFile("C:\\FUZZ\\OLD", Bytes(input.begin(), input.begin() + half));
  Machine().WriteFile("C:\\FUZZ\\NEW", Bytes(input.begin() + half, input.end()));
  // Any result is fine here; the target looks for crashes and sanitizer reports only.
  static_cast<void>(qz7::upgrade::ConvertDbmConfiguration("C:\\FUZZ\\NEW", "C:\\FUZZ\\OLD"));
}

void ScanIndexFile(const Bytes& input) {
  qz7::testkit::RecordingHost host;
  qz7::testkit::ScopedHost scoped(&host);
  Machine().WriteFile("C:\\FUZZ\\QZ7IDIR", input);
  qz7::entry::ScanExistingInstances("\"C:\\FUZZ\"");
}

// The first 4096 bytes are the configuration file; the rest are records, each a 16-bit token
// and a value up to the next zero byte.
void Validate(const Bytes& input) {
  const size_t fileSize = input.size() < 4096 ? input.size() : 4096;
  Machine().WriteFile("C:\\FUZZ\\qz7systm", Bytes(input.begin(), input.begin() + fileSize));
  std::vector<std::string> values;
  std::vector<unsigned short> tokens;
  for (size_t i = fileSize; i + 2 <= input.size() && tokens.size() < 64;) {
    tokens.push_back(static_cast<unsigned short>(input[i] | (input[i + 1] << 8)));
    i += 2;
    size_t end = i;
    while (end < input.size() && input[end] != 0) ++end;
    values.emplace_back(reinterpret_cast<const char*>(input.data()) + i, end - i);
    i = end + 1;
  }
  std::vector<sqlf_cfg_parameter> records(tokens.size());
  for (size_t i = 0; i < tokens.size(); ++i) {
    records[i].token = tokens[i];
    records[i].value = values[i].data();
    records[i].valid = 0;
  }
  qz7::testkit::RecordingHost host;
  qz7::testkit::ScopedHost scoped(&host);
  char path[] = "C:\\FUZZ\\qz7systm";
  sqlfvald(records.data(), path, static_cast<int>(records.size()));
}

void ReadRegistry(const Bytes& input) {
  std::ofstream(Machine().root() + "/registry.txt", std::ios::binary)
      .write(reinterpret_cast<const char*>(input.data()),
             static_cast<std::streamsize>(input.size()));
  qz7::platform::RegKey key = nullptr;
  if (qz7::platform::RegOpenKeyExA(qz7::platform::LocalMachineKey(), "SOFTWARE", 0,
                                   qz7::platform::kKeyRead, &key) != 0) {
    return;
  }
  char name[256];
  for (uint32_t index = 0; index < 16; ++index) {
    uint32_t length = sizeof name;
    if (qz7::platform::RegEnumKeyExA(key, index, name, &length) != 0) break;
    unsigned char data[64];
    uint32_t size = sizeof data;
    uint32_t type = 0;
    // Any answer is right for a damaged store; only a crash or a sanitizer report is a finding.
    static_cast<void>(qz7::platform::RegQueryValueExA(key, name, &type, data, &size));
  }
  qz7::platform::RegCloseKey(key);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const Bytes input(data + 1, data + size);
  switch (data[0] % 4) {
    case 0:
      ConvertPair(input);
      break;
    case 1:
      ScanIndexFile(input);
      break;
    case 2:
      Validate(input);
      break;
    default:
      ReadRegistry(input);
      break;
  }
  return 0;
}
