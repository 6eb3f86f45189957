// qz7inst convert-config NEW OLD: converts an instance's old qz7systm into the new release's
// template, as the instance upgrade does.
#include "tools/qz7inst/command.h"
#include "upgrade/dbm_configuration_conversion.h"

namespace qz7::cli {
namespace {

int RunConvertConfig(Invocation& invocation);

const Command kConvertConfig = {
    "convert-config", "convert-config NEW OLD",
    "convert the qz7systm file OLD into the template NEW (Windows paths)", RunConvertConfig};

int RunConvertConfig(Invocation& invocation) {
  if (invocation.args.size() != 2) {
    return UsageError(invocation, kConvertConfig, "convert-config needs NEW and OLD");
  }
  const int result =
      upgrade::ConvertDbmConfiguration(invocation.args[0].c_str(), invocation.args[1].c_str());
  return FinishWithResult(invocation, result);
}

QZ7_COMMAND(kConvertConfig);

}  // namespace
}  // namespace qz7::cli
