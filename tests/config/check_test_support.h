// Images for the config tests, built from fields named by the token that sets them.
#ifndef QZ7_TESTS_CONFIG_CHECK_TEST_SUPPORT_H_
#define QZ7_TESTS_CONFIG_CHECK_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <string>

#include "config/config_image.h"
#include "config/config_tokens.h"
#include "config/parameter_checks.h"
#include "testkit/dbm_block_builder.h"

namespace qz7::config {

// A zeroed image of node kind kind with the fields of list set: "token=value" pairs split by
// '|'. Text tokens take the value as it stands, tokens 42 and 307 as a float, others as an
// integer stored in the field's width (so -1 fills a 16-bit field too).
inline ConfigFileImage ImageOf(uint16_t kind, const std::string& list = "") {
  testkit::DbmBlockBuilder builder;
  builder.NodeType(kind);
  std::istringstream fields(list);
  for (std::string field; std::getline(fields, field, '|');) {
    size_t equals = field.find('=');
    uint16_t token = static_cast<uint16_t>(std::stoi(field.substr(0, equals)));
    std::string value = field.substr(equals + 1);
    uint16_t offset = 0;
    Width width = Width::k16;
    if (const TextToken* text = FindTextToken(token)) {
      builder.Text(text->offset, text->limit + 1u, value);
    } else if (!IntegerFieldOf(token, &offset, &width)) {
      builder.Float(FindSpecialToken(token)->offset, std::strtof(value.c_str(), nullptr));
    } else if (width == Width::k16) {
      builder.U16(offset, static_cast<uint16_t>(std::stoll(value)));
    } else {
      builder.U32(offset, static_cast<uint32_t>(std::stoll(value)));
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

// Names a parameterized test after its row.
template <typename Row>
std::string RowName(const testing::TestParamInfo<Row>& info) {
  return info.param.name;
}

}  // namespace qz7::config

#endif  // QZ7_TESTS_CONFIG_CHECK_TEST_SUPPORT_H_
