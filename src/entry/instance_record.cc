#include "entry/instance_record.h"

#include <cstring>
#include <string>

#include "migrate/work_buffer.h"
#include "platform/windows_path.h"

namespace qz7::entry {

void SetProfileDir(InstanceRecord& record, const char* text) {
  if (text == nullptr) {
    record.profileDir.clear();
  } else if (text[0] == '"') {
    record.profileDir = text;
  } else {
    std::string quoted = std::string("\"") + text + "\"";
    record.profileDir = quoted.c_str();
  }
}

void SetNodeType(InstanceRecord& record, int32_t code) {
  record.nodeType = code;
  if (code != kNodeTypePartitioned) record.ownedElsewhere = 0;
}

void SetOwnedElsewhere(InstanceRecord& record, int32_t flag) {
  record.ownedElsewhere = flag;
  if (flag != 0 && record.nodeType == kNodeTypePartitioned) record.nodeType = kNodeTypeUnknown;
}

void FillPlainRecord(InstanceRecord& record, const char* name, const char* account,
                     const char* password) {
  record = InstanceRecord();
  record.name = name;
  record.account = account;
  record.password = password;
}

void FillPartitionedRecord(InstanceRecord& record, const char* name, const char* account,
                           const char* password, const char* portRangeStart,
                           const char* portRangeEnd, const char* hostName, const char* spareName) {
  FillPlainRecord(record, name, account, password);
  record.nodeType = kNodeTypePartitioned;
  record.portRangeStart = portRangeStart;
  record.portRangeEnd = portRangeEnd;
  record.hostName = hostName;
  record.spareName = spareName;
}

void FillAddedNodeRecord(InstanceRecord& record, const char* name, const char* account,
                         const char* password, const char* nodeNumber, const char* ownerComputer) {
  FillPlainRecord(record, name, account, password);
  record.nodeType = kNodeTypePartitioned;
  record.ownedElsewhere = 1;
  record.nodeNumber = nodeNumber;
  record.ownerComputer = ownerComputer;
}

int32_t InstanceArray::Append(const InstanceRecord& record) {
  if (count_ + 1 > capacity_) {
    const int32_t grown = capacity_ + kGrowth;
    // Every new slot starts as an empty plain record (the default-constructed record). The
    // allocation goes through the counted work-buffer seam so that a test can make it fail.
    std::unique_ptr<InstanceRecord[]> larger =
        migrate::AllocateWorkBuffer<InstanceRecord>(static_cast<size_t>(grown));
    if (!larger) return -1;
    for (int32_t i = 0; i < count_; ++i) larger[i] = records_[i];
    records_ = std::move(larger);
    capacity_ = grown;
  }
  records_[count_] = record;
  return count_++;
}

int32_t InstanceArray::FindByName(const char* name) const {
  if (name == nullptr) return -1;
  for (int32_t i = 0; i < count_; ++i) {
    if (platform::NamesEqualIgnoreCase(records_[i].name.c_str(), name)) return i;
  }
  return -1;
}

}  // namespace qz7::entry
