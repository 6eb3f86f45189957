// Images for the check-step tests, built from fields named by the token that sets them.
#ifndef QZ7_TESTS_CONFIG_CHECK_TEST_SUPPORT_H_
#define QZ7_TESTS_CONFIG_CHECK_TEST_SUPPORT_H_

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "config/config_image.h"
#include "config/config_tokens.h"
#include "config/parameter_checks.h"
#include "testkit/dbm_block_builder.h"

namespace qz7::config {

// One field of the image: an integer, float or text field, named by its token.
struct FieldValue {
  enum class Kind { kInteger, kFloat, kText } kind;
  uint16_t token;
  uint32_t number = 0;
  float real = 0;
  std::string text;
};

inline FieldValue Int(uint16_t token, int64_t value) {
  return {FieldValue::Kind::kInteger, token, static_cast<uint32_t>(value)};
}
inline FieldValue Real(uint16_t token, float value) {
  return {FieldValue::Kind::kFloat, token, 0, value};
}
inline FieldValue Text(uint16_t token, std::string text) {
  return {FieldValue::Kind::kText, token, 0, 0, std::move(text)};
}

// A zeroed image of node kind kind with the given fields set.
inline ConfigFileImage ImageOf(uint16_t kind, const std::vector<FieldValue>& fields = {}) {
  testkit::DbmBlockBuilder builder;
  builder.NodeType(kind);
  for (const FieldValue& field : fields) {
    switch (field.kind) {
      case FieldValue::Kind::kInteger: {
        uint16_t offset = 0;
        Width width = Width::k16;
        if (!IntegerFieldOf(field.token, &offset, &width)) throw std::logic_error("no field");
        if (width == Width::k16) {
          builder.U16(offset, static_cast<uint16_t>(field.number));
        } else {
          builder.U32(offset, field.number);
        }
        break;
      }
      case FieldValue::Kind::kFloat:
        builder.Float(FindSpecialToken(field.token)->offset, field.real);
        break;
      case FieldValue::Kind::kText: {
        const TextToken* row = FindTextToken(field.token);
        builder.Text(row->offset, row->limit + 1u, field.text);
        break;
      }
    }
  }
  return builder.Block();
}

// The verdict of the check step on one record of token (value only matters for token 92).
inline bool Judge(const ConfigFileImage& image, uint16_t token, const char* value = "") {
  sqlf_cfg_parameter record{token, const_cast<char*>(value), 1};
  unsigned char allValid = 1;
  CheckConfigParameters(image, &record, 1, &allValid);
  if ((record.valid == 1) != (allValid == 1)) throw std::logic_error("allValid disagrees");
  return record.valid == 1;
}

}  // namespace qz7::config

#endif  // QZ7_TESTS_CONFIG_CHECK_TEST_SUPPORT_H_
