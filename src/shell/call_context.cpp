#include "call_context.h"

namespace veltrane {

CallContext& callContext() {
  static CallContext context;
  return context;
}

void setResult(ResultCode code) {
  if (std::int16_t* cell = callContext().result) *cell = code;
}

ResultCode currentResult() {
  const std::int16_t* cell = callContext().result;
  return cell ? *cell : noErr;
}

}  // namespace veltrane
