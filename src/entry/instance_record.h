// The fixed-size record of one instance, and the growable array that holds records by value.
#ifndef QZ7_ENTRY_INSTANCE_RECORD_H_
#define QZ7_ENTRY_INSTANCE_RECORD_H_

#include <cstdint>
#include <memory>

#include "base/fixed_text.h"

namespace qz7::entry {

constexpr int32_t kNodeTypeUnknown = -1;
constexpr int32_t kNodeTypeClient = 2;
constexpr int32_t kNodeTypePartitioned = 4;

struct InstanceRecord {
  base::FixedText<9> name;
  base::FixedText<46> account;
  base::FixedText<15> password;
  int32_t nodeType = kNodeTypeUnknown;
  int32_t ownedElsewhere = 0;
  base::FixedText<15> configText;
  base::FixedText<261> profileDir;  // quoted; empty means the common profile directory
  base::FixedText<10> portRangeStart;
  base::FixedText<10> portRangeEnd;
  base::FixedText<256> hostName;
  base::FixedText<16> spareName;
  base::FixedText<10> nodeNumber;
  base::FixedText<16> ownerComputer;
};

// Null gives an empty profileDir; a text starting with a double quote is stored as it
// stands; any other text is stored enclosed in double quotes ("" for an empty text).
void SetProfileDir(InstanceRecord& record, const char* text);
// Stores the code; any code other than 4 also clears ownedElsewhere.
void SetNodeType(InstanceRecord& record, int32_t code);
// Stores the flag; a non-zero flag on a partitioned record turns nodeType into -1.
void SetOwnedElsewhere(InstanceRecord& record, int32_t flag);

// nodeType -1, ownedElsewhere 0, the three texts, every other text empty.
void FillPlainRecord(InstanceRecord& record, const char* name, const char* account,
                     const char* password);
// The plain form with nodeType 4 and the four partitioned fields.
void FillPartitionedRecord(InstanceRecord& record, const char* name, const char* account,
                           const char* password, const char* portRangeStart,
                           const char* portRangeEnd, const char* hostName, const char* spareName);
// nodeType 4, ownedElsewhere 1 and the two node fields; others as the plain form.
void FillAddedNodeRecord(InstanceRecord& record, const char* name, const char* account,
                         const char* password, const char* nodeNumber, const char* ownerComputer);

// Records by value in one heap array that grows by ten slots at a time; new slots hold empty
// plain records. Indexes stay valid: records are never removed.
class InstanceArray {
 public:
  static constexpr int32_t kGrowth = 10;

  int32_t count() const { return count_; }
  int32_t capacity() const { return capacity_; }
  InstanceRecord& operator[](int32_t index) { return records_[index]; }
  const InstanceRecord& operator[](int32_t index) const { return records_[index]; }

  // Appends a copy; returns its index, or -1 when the array could not grow.
  [[nodiscard]] int32_t Append(const InstanceRecord& record);
  // Index of the first record whose name equals name without regard to case, or -1.
  [[nodiscard]] int32_t FindByName(const char* name) const;

 private:
  std::unique_ptr<InstanceRecord[]> records_;
  int32_t count_ = 0;
  int32_t capacity_ = 0;
};

}  // namespace qz7::entry

#endif  // QZ7_ENTRY_INSTANCE_RECORD_H_
