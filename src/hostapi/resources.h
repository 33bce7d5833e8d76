#pragma once
#include <cstdint>

namespace veltrane::hostapi {

// The property list ('PIPL') and terminology ('AETE') resources of a module
// both carry this id; the property list's terminology property names the
// terminology resource by it.
inline constexpr std::int16_t pluginResourceId = 16000;

}  // namespace veltrane::hostapi
