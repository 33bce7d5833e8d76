#pragma once
#include <cstdint>
#include <vector>

#include "hostapi/resources.h"
#include "parameter_tables.h"

namespace veltrane {

// The plug-in property list of a deliverable as the bytes of a Windows 'PIPL'
// resource. with64BitEntry adds the 64-bit entry-point property after the
// 32-bit one.
std::vector<std::uint8_t> buildPIPL(const Deliverable& d, bool with64BitEntry = false);

// The scripting terminology of a deliverable as the bytes of a Windows 'AETE'
// resource: one suite, one event, the deliverable's terminology parameters.
std::vector<std::uint8_t> buildAETE(const Deliverable& d);

}  // namespace veltrane
