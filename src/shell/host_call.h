#pragma once
#include <cstdint>

#include "hostapi/filter_record.h"

namespace veltrane {

// Points the call context at the host's arguments of one entry-point call:
// the record (a filter record, or the about record for selector 0), the data
// cell and the result cell; the buffer, progress and abort services are
// served from the filter record's suites (the buffers from the C heap when the
// host has no usable buffer suite), and the image mode is taken from it.
void bindHostCall(std::int16_t selector, void* record, std::intptr_t* data, std::int16_t* result);

// The filter record of the current call (null during the about selector or
// without a host).
hostapi::FilterRecord* filterRecord();

// The host's handle suite when it is usable (version 1, at least 6 routines,
// the ones the plug-ins call present), else null.
const hostapi::HandleProcs* handleSuite();

// The host's basic suite of the current call (either record), or null.
hostapi::SPBasicSuite* basicSuite();

}  // namespace veltrane
