#pragma once
#include "framework/write_region.h"

namespace veltrane {

// Store the engine's matte in the host's sample format: 8-bit, 16-bit
// (0..32768) or 32-bit linear floats. The matte replaces the destination
// completely: neither the source nor the mask is read. A one-plane
// destination receives channel 2. Nothing is written when the engine buffer
// holds no memory, and only the part of the rectangle that its inner area
// covers is written.
void writeMatte8(const WriteRegion& r);
void writeMatte16(const WriteRegion& r);
// Needs the look-up tables of this host call (buildLUTs).
void writeMatte32(const WriteRegion& r);

}  // namespace veltrane
