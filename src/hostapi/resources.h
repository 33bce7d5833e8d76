#pragma once
#include <cstdint>
#include <vector>

#include "shell/parameter_tables.h"

namespace veltrane::hostapi {

// Both resources carry this id; the property list's terminology property
// names the terminology resource by it.
inline constexpr std::int16_t pluginResourceId = 16000;

// The plug-in property list of a deliverable as the bytes of a Windows 'PIPL'
// resource. with64BitEntry adds the 64-bit entry-point property after the
// 32-bit one.
std::vector<std::uint8_t> buildPIPL(const Deliverable& d, bool with64BitEntry = false);

// The scripting terminology of a deliverable as the bytes of a Windows 'AETE'
// resource: one suite, one event, the deliverable's terminology parameters.
std::vector<std::uint8_t> buildAETE(const Deliverable& d);

}  // namespace veltrane::hostapi
