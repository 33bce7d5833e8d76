#pragma once
#include <cstddef>
#include <cstdint>

#include "denoise/engine_settings.h"
#include "framework/write_region.h"
#include "image/cspace_buffer.h"

namespace veltrane {

// Mixes one filtered pixel F (the engine's result) with the unfiltered source
// pixel U, both on the 0..255 working scale, separately for luminance and
// chroma: keepBW and the protection ramp (taken at the filtered luminance)
// weight the filtered luminance, keepColor the filtered chroma. With a host
// selection mask, e (0..1) scales both weights, so that e = 0 gives U.
// labImage: channels are L, a, b and pass through without a conversion.
void blendWithSource(const float F[3], const float U[3], float e, bool hostHasMask,
                     const EngineSettings& s, float out[3]);

// Blend with engineSettings() and store in the host's sample format: 8-bit,
// 16-bit (0..32768) or 32-bit linear floats. Each writer does nothing when the
// engine buffer holds no memory, and polls for cancel once (progressStep(0))
// before writing anything; a cancelled run writes nothing. Only the part of
// the rectangle that the engine buffer's inner area covers is written.
void writeResult8(const WriteRegion& r);
void writeResult16(const WriteRegion& r);
// Needs the look-up tables of this host call (buildLUTs).
void writeResult32(const WriteRegion& r);

}  // namespace veltrane
