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

// The module's own parameter resource (Windows resource type 'VPAR', id
// 16000; the .vpar section of a Linux module): what a host needs beyond the
// terminology to drive the plug-in by field name, read settings files and
// show the parameter block. Little-endian throughout; a string is a length
// byte and its characters.
//
//   "VPAR"                    four bytes
//   u16  format version       1
//   str  short name           "halvane"
//   str  settings signature   written with a zero byte after it ("" = none)
//   str  settings extension   "hlv"
//   u32  parameter block size in bytes
//   u16  field count, then per field:
//     u8   kind               1 = real (a double), 2 = flag (one byte)
//     u8   marks              bit 0: a main level or switch (GIMP's arguments)
//     u32  byte offset in the parameter block
//     u32  scripting key      0 = none
//     str  field name         "overallNoiseLevel"
//     f64  lowest, highest    reals only, as the bits of a double
//
// The reals come first, then the flags, each in slot order: a settings file
// holds the reals and flags in the order listed.
std::vector<std::uint8_t> buildParameterResource(const Deliverable& d);

inline constexpr std::uint16_t parameterResourceVersion = 1;

}  // namespace veltrane
